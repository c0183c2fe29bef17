#include "tools/cli/parsecommand.h"

#include "inference/detectionparser.h"
#include "shared/language.h"
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

    QString error;
    const QList<Cli::Argument> arguments = Cli::splitArguments(
        args,
        {QStringLiteral("--source"), QStringLiteral("--sent"), QStringLiteral("--min-score"), QStringLiteral("--classes")},
        {QStringLiteral("--restrict"), QStringLiteral("--pending")}, &error);
    if (!error.isEmpty())
        return usageError(error);
    for (const Cli::Argument &a : arguments) {
        const QString &value = a.value;
        if (a.isWord()) {
            return usageError(translateText("未知参数：%1").arg(value));
        } else if (a.name == u"--source") {
            if (!parseSize(value, source))
                return usageError(translateText("尺寸无效：%1").arg(value));
        } else if (a.name == u"--sent") {
            if (!parseSize(value, sent))
                return usageError(translateText("尺寸无效：%1").arg(value));
        } else if (a.name == u"--min-score") {
            bool ok = false;
            minScore = value.toDouble(&ok);
            if (!ok || !std::isfinite(minScore))
                return usageError(translateText("置信度无效：%1").arg(value));
        } else if (a.name == u"--classes") {
            classes = Cli::classList(value);
        } else if (a.name == u"--restrict") {
            restrict = true;
        } else {
            pending = true;
        }
    }
    if (!source.isValid())
        return usageError(translateText("必须给出 --source"));
    if (!sent.isValid())
        sent = source;

    QByteArray input;
    if (!Cli::readStandardInput(&input)) {
        Cli::printError(translateText("无法读取标准输入"));
        return Cli::ItemFailed;
    }
    const QString answer = QString::fromUtf8(input);

    // No detection is a normal outcome of a model answer, not a failure.
    const QList<Annotation> anns = parseDetections(answer, source, sent, minScore, classes, restrict, pending);
    for (const Annotation &a : anns)
        Cli::printJson(annotationToJson(a));
    return Cli::Ok;
}
