#include "tools/cli/parsecommand.h"

#include "inference/detectionparser.h"
#include "storage/annotationjson.h"
#include "tools/cli/cliio.h"

#include <QRegularExpression>
#include <QSize>

#include <cmath>
#include <cstdio>

namespace {

int usageError(const QString &problem)
{
    Cli::printError(QStringLiteral("parse: ") + problem);
    return Cli::usage(QStringLiteral("parse --source WxH [--sent WxH] [--min-score S] [--classes a,b,...] "
                                     "[--restrict] [--pending] < ANSWER"));
}

bool parseSize(const QString &text, QSize &size)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,9})[xX](\\d{1,9})$"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return false;
    size = QSize(m.captured(1).toInt(), m.captured(2).toInt());
    return size.width() > 0 && size.height() > 0;
}

} // namespace

int runParseCommand(const QStringList &args)
{
    QSize source;
    QSize sent;
    double minScore = 0.4;
    QStringList classes;
    bool restrict = false;
    bool pending = false;

    for (int i = 0; i < args.size(); ++i) {
        QString name = args.at(i);
        QString value;
        bool inlineValue = false;
        const qsizetype eq = name.indexOf(QLatin1Char('='));
        if (name.startsWith(QLatin1String("--")) && eq > 0) {
            value = name.mid(eq + 1);
            name.truncate(eq);
            inlineValue = true;
        }
        const bool takesValue = name == QLatin1String("--source") || name == QLatin1String("--sent")
            || name == QLatin1String("--min-score") || name == QLatin1String("--classes");
        if (takesValue && !inlineValue) {
            if (i + 1 >= args.size())
                return usageError(QStringLiteral("%1 needs a value").arg(name));
            value = args.at(++i);
        } else if (!takesValue && inlineValue) {
            return usageError(QStringLiteral("%1 takes no value").arg(name));
        }

        if (name == QLatin1String("--source")) {
            if (!parseSize(value, source))
                return usageError(QStringLiteral("bad size: %1").arg(value));
        } else if (name == QLatin1String("--sent")) {
            if (!parseSize(value, sent))
                return usageError(QStringLiteral("bad size: %1").arg(value));
        } else if (name == QLatin1String("--min-score")) {
            bool ok = false;
            minScore = value.toDouble(&ok);
            if (!ok || !std::isfinite(minScore))
                return usageError(QStringLiteral("bad score: %1").arg(value));
        } else if (name == QLatin1String("--classes")) {
            classes.clear();
            for (const QString &c : value.split(QLatin1Char(','))) {
                if (!c.trimmed().isEmpty())
                    classes << c.trimmed();
            }
        } else if (name == QLatin1String("--restrict")) {
            restrict = true;
        } else if (name == QLatin1String("--pending")) {
            pending = true;
        } else {
            return usageError(QStringLiteral("unknown argument: %1").arg(name));
        }
    }
    if (!source.isValid())
        return usageError(QStringLiteral("--source is required"));
    if (!sent.isValid())
        sent = source;

    QByteArray input;
    if (!Cli::readStandardInput(&input)) {
        Cli::printError(QStringLiteral("cannot read standard input"));
        return Cli::ItemFailed;
    }
    const QString answer = QString::fromUtf8(input);

    // No detection is a normal outcome of a model answer, not a failure.
    const QList<Annotation> anns = parseDetections(answer, source, sent, minScore, classes, restrict, pending);
    for (const Annotation &a : anns)
        Cli::printJson(annotationToJson(a));
    return Cli::Ok;
}
