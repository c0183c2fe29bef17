#include "ui/windowsettings.h"

#include <QCryptographicHash>
#include <QDir>
#include <QSettings>

#include <algorithm>

namespace WindowSettings {

namespace {

QSettings store()
{
    return QSettings(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark"));
}

// A folder's path as a key: a hash, since "/" separates groups and the store may fold case.
QString folderKey(const QString &dir)
{
    const QByteArray hash = QCryptographicHash::hash(dir.toUtf8(), QCryptographicHash::Sha1).toHex();
    return QStringLiteral("folderFormat/") + QString::fromLatin1(hash);
}

} // namespace

Values load()
{
    const QSettings s = store();
    Values v;
    v.labels = s.value(QStringLiteral("labels")).toStringList();
    v.useYolo = s.value(QStringLiteral("format")).toString() == u"yolo";
    const QString base = s.value(QStringLiteral("model/base")).toString();
    if (!base.isEmpty())
        v.server.baseUrl = base;
    const QString name = s.value(QStringLiteral("model/name")).toString();
    if (!name.isEmpty())
        v.server.model = name;
    // 2 and 180 were the defaults of an older release: they read as today's defaults.
    bool ok = false;
    int concurrency = s.value(QStringLiteral("model/concurrency"), 1).toInt(&ok);
    if (!ok || concurrency == 2)
        concurrency = 1;
    v.server.concurrency = qMax(1, concurrency);
    int timeout = s.value(QStringLiteral("model/timeout"), 300).toInt(&ok);
    if (!ok || timeout == 180)
        timeout = 300;
    v.server.timeout = timeout;
    return v;
}

void save(const Values &v)
{
    QSettings s = store();
    s.setValue(QStringLiteral("labels"), v.labels);
    s.setValue(QStringLiteral("format"), v.useYolo ? QStringLiteral("yolo") : QStringLiteral("voc"));
    s.setValue(QStringLiteral("model/base"), v.server.baseUrl);
    s.setValue(QStringLiteral("model/name"), v.server.model);
    s.setValue(QStringLiteral("model/concurrency"), v.server.concurrency);
    s.setValue(QStringLiteral("model/timeout"), v.server.timeout);
}

QStringList deletedLabels()
{
    return store().value(QStringLiteral("deletedLabels")).toStringList();
}

void saveLabels(const QStringList &labels, const QStringList &deleted)
{
    QSettings s = store();
    s.setValue(QStringLiteral("labels"), labels);
    if (deleted.isEmpty())
        s.remove(QStringLiteral("deletedLabels"));
    else
        s.setValue(QStringLiteral("deletedLabels"), deleted);
}

int fileListWidth()
{
    bool ok = false;
    const int width = store().value(QStringLiteral("fileList/width"), 220).toInt(&ok);
    return ok ? std::clamp(width, 160, 800) : 220;
}

void saveFileListWidth(int width)
{
    store().setValue(QStringLiteral("fileList/width"), width);
}

bool dontAskCategory()
{
    return store().value(QStringLiteral("annotate/dontAskCategory"), false).toBool();
}

void saveDontAskCategory(bool dontAsk)
{
    store().setValue(QStringLiteral("annotate/dontAskCategory"), dontAsk);
}

QByteArray geometry()
{
    return store().value(QStringLiteral("geometry")).toByteArray();
}

void saveGeometry(const QByteArray &geometry)
{
    store().setValue(QStringLiteral("geometry"), geometry);
}

std::optional<LabelFormat> folderFormat(const QString &dir)
{
    const LabelFormat format = labelFormatNamed(store().value(folderKey(dir)).toString());
    if (format != LabelFormat::Voc && format != LabelFormat::Yolo && format != LabelFormat::Labelme)
        return std::nullopt;
    return format;
}

void saveFolderFormat(const QString &dir, LabelFormat format)
{
    if (format == LabelFormat::Voc || format == LabelFormat::Yolo || format == LabelFormat::Labelme)
        store().setValue(folderKey(dir), labelFormatName(format));
}

QString lastImageIn(const QString &dir)
{
    const QStringList places = store().value(QStringLiteral("lastImages")).toStringList();
    for (qsizetype i = 0; i + 1 < places.size(); i += 2) {
        if (places.at(i) == dir)
            return QDir::cleanPath(QDir(dir).filePath(places.at(i + 1)));
    }
    return QString();
}

void saveLastImage(const QString &dir, const QString &image)
{
    QSettings s = store();
    QStringList places = s.value(QStringLiteral("lastImages")).toStringList();
    // Pairs of strings rather than one joined string: a file name may hold any character.
    for (qsizetype i = 0; i + 1 < places.size();) {
        if (places.at(i) == dir)
            places.remove(i, 2);
        else
            i += 2;
    }
    const QString name = QDir(dir).relativeFilePath(image);
    if (name.isEmpty() || name.startsWith(QLatin1String("../")))
        return;
    places.prepend(name);
    places.prepend(dir);
    if (places.size() > 2 * kMaxFolderPlaces)
        places.resize(2 * kMaxFolderPlaces);
    s.setValue(QStringLiteral("lastImages"), places);
}

QString lastDirectory()
{
    return store().value(QStringLiteral("dir/last")).toString();
}

QStringList recentDirectories()
{
    return store().value(QStringLiteral("recentDirs")).toStringList();
}

QStringList rememberDirectory(const QString &dir)
{
    QSettings s = store();
    s.setValue(QStringLiteral("dir/last"), dir);
    QStringList recent = s.value(QStringLiteral("recentDirs")).toStringList();
    recent.removeAll(dir);
    recent.prepend(dir);
    while (recent.size() > kMaxRecentDirs)
        recent.removeLast();
    s.setValue(QStringLiteral("recentDirs"), recent);
    return recent;
}

} // namespace WindowSettings
