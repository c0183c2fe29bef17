#include "storage/keypoints.h"

#include "storage/filebytes.h"
#include "storage/filestamp.h"

#include <QFileInfo>
#include <QHash>

#include <yaml-cpp/yaml.h>

#include <exception>
#include <string>

namespace {

// The same reach as the class names' search (classnames.cpp).
constexpr int kYamlLevels = 3;
constexpr qint64 kYamlFileLimit = 8ll * 1024 * 1024;
constexpr qsizetype kCacheLimit = 64;

bool positiveInt(const YAML::Node &node, int *value)
{
    if (!node.IsScalar())
        return false;
    bool ok = false;
    const int v = QString::fromStdString(node.Scalar()).trimmed().toInt(&ok, 10);
    if (!ok || v < 1)
        return false;
    *value = v;
    return true;
}

QStringList scalarList(const YAML::Node &node)
{
    QStringList names;
    if (!node.IsSequence())
        return names;
    for (const YAML::Node &entry : node)
        names.append(entry.IsScalar() ? QString::fromStdString(entry.Scalar()).trimmed() : QString());
    return names;
}

// `kpt_names` as a plain list, or per class (Ultralytics' own files) of which class 0's is taken.
QStringList keypointNames(const YAML::Node &node)
{
    if (node.IsSequence())
        return scalarList(node);
    if (node.IsMap()) {
        for (const auto &entry : node) {
            if (entry.first.IsScalar() && QString::fromStdString(entry.first.Scalar()).trimmed() == u"0")
                return scalarList(entry.second);
        }
    }
    return {};
}

// parsed: false when the file is no YAML mapping at all (the search goes on upwards).
KeypointLayout parseLayout(const QString &path, bool *parsed)
{
    KeypointLayout layout;
    *parsed = false;
    QByteArray bytes;
    if (readRegularFile(path, &bytes, kYamlFileLimit) != FileRead::Ok)
        return layout;
    try {
        const YAML::Node root = YAML::Load(std::string(bytes.constData(), size_t(bytes.size())));
        if (!root.IsMap())
            return layout;
        *parsed = true;
        const YAML::Node shape = root["kpt_shape"];
        int count = 0;
        int dims = 0;
        if (!shape.IsSequence() || shape.size() != 2 || !positiveInt(shape[0], &count)
            || !positiveInt(shape[1], &dims) || (dims != 2 && dims != 3) || count > kMaxKeypoints)
            return layout;
        layout.count = count;
        layout.dims = dims;
        layout.file = path;
        const YAML::Node names = root["kpt_names"];
        if (names.IsDefined())
            layout.names = keypointNames(names);
    } catch (const std::exception &) {
        *parsed = false;
        return KeypointLayout();
    }
    if (layout.names.size() != layout.count || layout.names.contains(QString()))
        layout.names.clear();
    for (int i = layout.names.size(); i < layout.count; ++i)
        layout.names.append(QStringLiteral("kp%1").arg(i));
    return layout;
}

struct CacheEntry
{
    FileStamp stamp;
    KeypointLayout layout;
    bool parsed = false;
};

KeypointLayout cachedLayout(const QString &path, bool *parsed)
{
    // One cache per thread: labels are read on the scanners' and the checker's threads too.
    thread_local QHash<QString, CacheEntry> cache;
    const FileStamp stamp = FileStamp::of(path);
    const auto it = cache.constFind(path);
    if (it != cache.cend() && it->stamp == stamp && stamp.settledAt(FileStamp::nowNs())) {
        *parsed = it->parsed;
        return it->layout;
    }
    const KeypointLayout layout = parseLayout(path, parsed);
    if (cache.size() >= kCacheLimit)
        cache.clear();
    cache.insert(path, CacheEntry{stamp, layout, *parsed});
    return layout;
}

} // namespace

KeypointLayout keypointLayoutFor(const QString &labelsDir)
{
    QString dir = labelsDir;
    for (int level = 0; level <= kYamlLevels; ++level) {
        for (const QLatin1String name : {QLatin1String("data.yaml"), QLatin1String("dataset.yaml")}) {
            const QString path = dir + QLatin1Char('/') + name;
            if (!QFileInfo(path).isFile())
                continue;
            bool parsed = false;
            const KeypointLayout layout = cachedLayout(path, &parsed);
            // The nearest dataset file that parses speaks for the dataset, pose or not.
            if (parsed)
                return layout;
        }
        const QString up = QFileInfo(dir).absolutePath();
        if (up == dir)
            break;
        dir = up;
    }
    return KeypointLayout();
}

Keypoints unlabelledKeypoints(const KeypointLayout &layout)
{
    Keypoints k;
    k.points = QList<QPointF>(layout.count, QPointF(0, 0));
    if (layout.dims == 3)
        k.visibility = QList<double>(layout.count, 0.0);
    return k;
}
