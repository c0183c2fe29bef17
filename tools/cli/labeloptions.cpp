#include "tools/cli/labeloptions.h"

#include "inference/requestbuilder.h"

#include <QUrl>

#include <cmath>

namespace {

const int kMaxTimeoutSeconds = 24 * 3600;

bool parseInt(const QString &text, int low, int high, int &value)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < low || v > high)
        return false;
    value = v;
    return true;
}

} // namespace

QString LabelOptions::usage()
{
    return QStringLiteral("label --server URL [--model NAME] [--concurrency N] [--timeout S] [--prompt TEXT] "
                          "[--classes a,b,...] [--min-score S] [--unlabelled] [--confirmed] [--format voc|yolo] DIR");
}

QString LabelOptions::parse(const QStringList &args)
{
    server.model.clear();
    bool haveServer = false;
    bool optionsEnded = false;
    QStringList dirs;
    for (int i = 0; i < args.size(); ++i) {
        QString name = args.at(i);
        if (optionsEnded || !name.startsWith(QLatin1Char('-')) || name == QLatin1String("-")) {
            dirs.append(name);
            continue;
        }
        if (name == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        QString value;
        bool inlineValue = false;
        const qsizetype eq = name.indexOf(QLatin1Char('='));
        if (name.startsWith(QLatin1String("--")) && eq > 0) {
            value = name.mid(eq + 1);
            name.truncate(eq);
            inlineValue = true;
        }
        if (name == QLatin1String("--unlabelled") || name == QLatin1String("--confirmed")) {
            if (inlineValue)
                return QStringLiteral("%1 takes no value").arg(name);
            if (name == QLatin1String("--confirmed"))
                confirmed = true;
            else
                unlabelledOnly = true;
            continue;
        }
        static const QStringList valued{"--server", "--model", "--concurrency", "--timeout", "--prompt",
                                        "--classes", "--min-score", "--format"};
        if (!valued.contains(name))
            return QStringLiteral("unknown option %1").arg(name);
        if (!inlineValue) {
            if (i + 1 >= args.size())
                return QStringLiteral("%1 needs a value").arg(name);
            value = args.at(++i);
        }

        if (name == QLatin1String("--server")) {
            while (value.endsWith(QLatin1Char('/')))
                value.chop(1);
            const QUrl url(value, QUrl::StrictMode);
            const QString scheme = url.scheme().toLower();
            if (!url.isValid() || (scheme != u"http" && scheme != u"https") || url.host().isEmpty())
                return QStringLiteral("bad server URL: %1").arg(value);
            server.baseUrl = value;
            haveServer = true;
        } else if (name == QLatin1String("--model")) {
            if (value.trimmed().isEmpty())
                return QStringLiteral("--model needs a name");
            server.model = value;
        } else if (name == QLatin1String("--concurrency")) {
            if (!parseInt(value, 1, kMaxConcurrency, server.concurrency))
                return QStringLiteral("bad concurrency: %1 (1 to %2)").arg(value).arg(kMaxConcurrency);
        } else if (name == QLatin1String("--timeout")) {
            if (!parseInt(value, 1, kMaxTimeoutSeconds, server.timeout))
                return QStringLiteral("bad timeout: %1 (seconds, 1 to %2)").arg(value).arg(kMaxTimeoutSeconds);
        } else if (name == QLatin1String("--prompt")) {
            prompt = value;
        } else if (name == QLatin1String("--classes")) {
            classes.clear();
            for (const QString &c : value.split(QLatin1Char(','))) {
                if (!c.trimmed().isEmpty())
                    classes << c.trimmed();
            }
        } else if (name == QLatin1String("--min-score")) {
            bool ok = false;
            minScore = value.toDouble(&ok);
            if (!ok || !std::isfinite(minScore) || minScore < 0.0 || minScore > 1.0)
                return QStringLiteral("bad score: %1 (0 to 1)").arg(value);
        } else if (name == QLatin1String("--format")) {
            if (value != u"voc" && value != u"yolo")
                return QStringLiteral("bad format: %1 (voc or yolo)").arg(value);
            useYolo = value == u"yolo";
        }
    }
    if (!haveServer)
        return QStringLiteral("--server is required");
    if (dirs.size() != 1)
        return dirs.isEmpty() ? QStringLiteral("no directory given") : QStringLiteral("one directory only");
    dir = dirs.first();
    return QString();
}
