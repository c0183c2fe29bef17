#include "storage/yamlnames.h"

#include "storage/classnames.h"
#include "storage/filebytes.h"

#include <QMap>

#include <yaml-cpp/yaml.h>

#include <exception>
#include <string>

namespace {

// Dataset files are a few kilobytes; a names list of thousands of classes still fits easily.
constexpr qint64 kYamlFileLimit = 8ll * 1024 * 1024;

QString nameOf(const YAML::Node &node)
{
    if (!node.IsScalar())
        return QString();
    return classListEntry(QString::fromStdString(node.Scalar()));
}

bool indexOf(const YAML::Node &key, int *index)
{
    if (!key.IsScalar())
        return false;
    bool ok = false;
    const int value = QString::fromStdString(key.Scalar()).trimmed().toInt(&ok, 10);
    if (!ok || value < 0 || value > kMaxYamlClassIndex)
        return false;
    *index = value;
    return true;
}

YamlNames parse(const QByteArray &bytes, QStringList *names)
{
    const YAML::Node root = YAML::Load(std::string(bytes.constData(), size_t(bytes.size())));
    if (!root.IsMap())
        return YamlNames::NoNames;
    const YAML::Node list = root["names"];
    if (!list.IsDefined())
        return YamlNames::NoNames;
    if (list.IsSequence()) {
        for (const YAML::Node &entry : list)
            names->append(nameOf(entry));
        return YamlNames::Found;
    }
    if (list.IsMap()) {
        QMap<int, QString> byIndex;
        for (const auto &entry : list) {
            int index = 0;
            if (indexOf(entry.first, &index) && !byIndex.contains(index))
                byIndex.insert(index, nameOf(entry.second));
        }
        if (byIndex.isEmpty())
            return YamlNames::NoNames;
        for (int i = 0; i <= byIndex.lastKey(); ++i)
            names->append(byIndex.value(i));
        return YamlNames::Found;
    }
    return YamlNames::NoNames;
}

} // namespace

YamlNames readYamlNames(const QString &path, QStringList *names)
{
    names->clear();
    QByteArray bytes;
    if (readRegularFile(path, &bytes, kYamlFileLimit) != FileRead::Ok)
        return YamlNames::Unreadable;
    // yaml-cpp reports every syntax error (and too deep nesting) by throwing.
    try {
        return parse(bytes, names);
    } catch (const std::exception &) {
        names->clear();
        return YamlNames::Unreadable;
    }
}
