#include "host/servicesettings.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

bool ServiceSettings::operator==(const ServiceSettings &other) const
{
    return port == other.port && gpuLayers == other.gpuLayers && threads == other.threads
        && contextSize == other.contextSize && modelDir == other.modelDir
        && llamaExe == other.llamaExe && modelFile == other.modelFile;
}

namespace {

QSettings hostSettings()
{
    return QSettings(QStringLiteral("Brindlemark"), QStringLiteral("Brindlehost"));
}

QString nativeAbsolute(const QString &path)
{
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

int commonPrefixLength(const QString &a, const QString &b)
{
    const int n = qMin(a.size(), b.size());
    int i = 0;
    while (i < n && a.at(i) == b.at(i))
        ++i;
    return i;
}

bool isProjectorName(const QString &fileName)
{
    return fileName.contains(QLatin1String("mmproj"), Qt::CaseInsensitive);
}

} // namespace

ServiceSettings loadServiceSettings()
{
    QSettings s = hostSettings();
    ServiceSettings out;
    out.port = s.value(QStringLiteral("port"), out.port).toInt();
    out.gpuLayers = s.value(QStringLiteral("ngl"), out.gpuLayers).toInt();
    out.threads = s.value(QStringLiteral("threads"), out.threads).toInt();
    out.contextSize = s.value(QStringLiteral("ctx"), out.contextSize).toInt();
    out.modelDir = s.value(QStringLiteral("modelDir")).toString();
    out.llamaExe = s.value(QStringLiteral("llamaExe")).toString();
    out.modelFile = s.value(QStringLiteral("modelFile")).toString();
    return out;
}

void saveServiceSettings(const ServiceSettings &settings)
{
    QSettings s = hostSettings();
    s.setValue(QStringLiteral("port"), settings.port);
    s.setValue(QStringLiteral("ngl"), settings.gpuLayers);
    s.setValue(QStringLiteral("threads"), settings.threads);
    s.setValue(QStringLiteral("ctx"), settings.contextSize);
    s.setValue(QStringLiteral("modelDir"), settings.modelDir);
    s.setValue(QStringLiteral("llamaExe"), settings.llamaExe);
    s.setValue(QStringLiteral("modelFile"), settings.modelFile);
    s.sync();
}

QString serverExecutableName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("llama-server.exe");
#else
    return QStringLiteral("llama-server");
#endif
}

void discoverPaths(ServiceSettings &settings, const QString &appDir)
{
    if (settings.llamaExe.isEmpty()) {
        const QString exe = serverExecutableName();
        const QString candidates[] = {
            appDir + QStringLiteral("/../../tools/llama/") + exe,
            appDir + QStringLiteral("/../tools/llama/") + exe,
            appDir + QStringLiteral("/llama/") + exe,
            appDir + QLatin1Char('/') + exe,
        };
        for (const QString &path : candidates) {
            if (QFileInfo(path).isFile()) {
                settings.llamaExe = nativeAbsolute(path);
                break;
            }
        }
    }
    if (settings.modelDir.isEmpty()) {
        const QString candidates[] = {
            appDir + QStringLiteral("/../../models"),
            appDir + QStringLiteral("/../models"),
            appDir + QStringLiteral("/models"),
        };
        for (const QString &path : candidates) {
            if (QFileInfo(path).isDir()) {
                settings.modelDir = nativeAbsolute(path);
                break;
            }
        }
    }
}

bool scanModels(const ServiceSettings &settings, ModelFiles &files)
{
    files = ModelFiles();
    if (settings.modelDir.isEmpty())
        return false;

    const QFileInfoList listed = QDir(settings.modelDir)
        .entryInfoList({QStringLiteral("*.gguf")}, QDir::Files, QDir::Unsorted);

    if (!settings.modelFile.isEmpty() && QFileInfo(settings.modelFile).isFile()) {
        files.modelPath = nativeAbsolute(settings.modelFile);
    } else {
        const QFileInfo *best = nullptr;
        for (const QFileInfo &info : listed) {
            if (isProjectorName(info.fileName()))
                continue;
            if (!best || info.size() > best->size())
                best = &info;
        }
        if (!best)
            return false;
        files.modelPath = nativeAbsolute(best->absoluteFilePath());
    }

    static const QRegularExpression prefix(QStringLiteral("^mmproj[-_]"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QString mainName = QFileInfo(files.modelPath).fileName();
    const QFileInfo *bestProjector = nullptr;
    int bestLength = 0;
    for (const QFileInfo &info : listed) {
        if (!isProjectorName(info.fileName()))
            continue;
        QString stripped = info.fileName();
        stripped.remove(prefix);
        const int length = commonPrefixLength(stripped, mainName);
        if (!bestProjector || length > bestLength) {
            bestProjector = &info;
            bestLength = length;
        }
    }
    if (bestProjector && bestLength >= 1)
        files.mmprojPath = nativeAbsolute(bestProjector->absoluteFilePath());
    return true;
}

QString modelDisplayName(const QString &modelPath)
{
    // "_K_XL" (as in -UD-Q5_K_XL) is a tag of its own, besides _K_S, _K_M, _K_L and their _XL.
    static const QRegularExpression tag(QStringLiteral(
        "[-.]?(UD-)?(IQ[0-9]_[A-Z0-9_]+|Q[2-8](_K(_[SML](_XL)?|_XL)?)?|BF16|F32|F16|TQ[0-9_]+)$"));
    const QString base = QFileInfo(modelPath).completeBaseName();
    QString name = base;
    name.remove(tag);
    return name.isEmpty() ? base : name;
}

QString logFilePath(const ServiceSettings &settings, const QString &appDir)
{
    const QString dir = settings.modelDir.isEmpty() ? appDir : settings.modelDir;
    return dir + QStringLiteral("/server.log");
}

QString withServerExecutableName(QString text)
{
#ifndef Q_OS_WIN
    text.replace(QLatin1String("llama-server.exe"), QLatin1String("llama-server"));
#endif
    return text;
}
