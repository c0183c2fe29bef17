#include "storage/namesfileappend.h"

#include "storage/atomicfile.h"
#include "storage/classnames.h"
#include "storage/filebytes.h"
#include "storage/writeguard.h"
#include "storage/yamlnames.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <exception>
#include <string>

namespace {

constexpr qint64 kNamesFileLimit = 8ll * 1024 * 1024;

YAML::Node load(const QByteArray &bytes)
{
    return YAML::Load(std::string(bytes.constData(), size_t(bytes.size())));
}

// A name as a YAML scalar: plain when no reader could take it for anything else, else quoted.
QByteArray yamlScalar(const QString &name)
{
    static const QRegularExpression plain(QStringLiteral("^[\\p{L}_](?:[\\p{L}\\p{N}_ -]*[\\p{L}\\p{N}_])?$"));
    static const QStringList reserved{QStringLiteral("y"),     QStringLiteral("n"),   QStringLiteral("yes"),
                                      QStringLiteral("no"),    QStringLiteral("on"),  QStringLiteral("off"),
                                      QStringLiteral("true"),  QStringLiteral("false"), QStringLiteral("null")};
    if (plain.match(name).hasMatch() && !reserved.contains(name.toLower()))
        return name.toUtf8();
    QByteArray out = "\"";
    for (const char32_t c : name.toUcs4()) {
        if (c == U'"' || c == U'\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c == 0x7f) {
            out += QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0')).toLatin1();
        } else {
            out += QString::fromUcs4(&c, 1).toUtf8();
        }
    }
    return out + '"';
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

qsizetype lineStart(const QByteArray &bytes, qsizetype pos)
{
    const qsizetype nl = bytes.lastIndexOf('\n', pos - 1);
    return nl < 0 ? 0 : nl + 1;
}

qsizetype lineEnd(const QByteArray &bytes, qsizetype pos)
{
    qsizetype end = bytes.indexOf('\n', pos);
    if (end < 0)
        end = bytes.size();
    if (end > pos && bytes.at(end - 1) == '\r')
        --end;
    return end;
}

// The closing bracket of the flow collection that opens at pos, quotes and nesting respected.
qsizetype flowEnd(const QByteArray &bytes, qsizetype pos)
{
    int depth = 0;
    char quote = 0;
    for (qsizetype i = pos; i < bytes.size(); ++i) {
        const char c = bytes.at(i);
        if (quote) {
            if (c == '\\' && quote == '"')
                ++i;
            else if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '#' && i > 0 && (bytes.at(i - 1) == ' ' || bytes.at(i - 1) == '\t')) {
            i = lineEnd(bytes, i);
        } else if (c == '[' || c == '{') {
            ++depth;
        } else if (c == ']' || c == '}') {
            if (--depth == 0)
                return i;
        }
    }
    return -1;
}

// Everything but names and nc, to see that an edit changed nothing else.
std::string restOf(YAML::Node root)
{
    YAML::Node copy = YAML::Clone(root);
    copy.remove("names");
    copy.remove("nc");
    YAML::Emitter out;
    out << copy;
    return out.c_str();
}

bool editYaml(const QByteArray &yaml, const QStringList &names, QByteArray *out)
{
    const YAML::Node root = load(yaml);
    if (!root.IsMap())
        return false;
    const YAML::Node list = root["names"];
    if (!list.IsDefined() || list.IsNull() || list.IsScalar())
        return false;
    const QByteArray eol = yaml.contains("\r\n") ? QByteArray("\r\n") : QByteArray("\n");
    QStringList before;
    int nextIndex = 0;
    for (const auto &entry : list) {
        if (list.IsSequence()) {
            before.append(QString::fromStdString(entry.IsScalar() ? entry.Scalar() : std::string()));
            ++nextIndex;
        } else {
            bool ok = false;
            const int index = QString::fromStdString(entry.first.Scalar()).trimmed().toInt(&ok);
            if (!ok)
                return false;
            nextIndex = std::max(nextIndex, index + 1);
            before.append(QString::fromStdString(entry.second.IsScalar() ? entry.second.Scalar() : std::string()));
        }
    }
    QByteArray edited = yaml;
    const qsizetype start = list.Mark().pos;
    if (start < 0 || start >= yaml.size())
        return false;
    qsizetype insertAt = -1;
    QByteArray insert;
    const bool flow = yaml.at(start) == '[' || yaml.at(start) == '{';
    if (flow) {
        const qsizetype close = flowEnd(yaml, start);
        if (close < 0)
            return false;
        qsizetype last = close - 1;
        while (last > start && isBlank(yaml.at(last)))
            --last;
        insertAt = last + 1;
        bool first = last == start;
        const bool trailingComma = yaml.at(last) == ',';
        for (const QString &name : names) {
            insert += first ? "" : trailingComma && insert.isEmpty() ? " " : ", ";
            if (list.IsMap())
                insert += QByteArray::number(nextIndex++) + ": ";
            insert += yamlScalar(name);
            first = false;
        }
    } else {
        // Block style: a new line after the last entry's, indented like it.
        const YAML::Mark lastMark = list.IsSequence() ? list[list.size() - 1].Mark()
                                                      : [&] {
                                                            YAML::Mark mark;
                                                            for (const auto &entry : list)
                                                                mark = entry.first.Mark();
                                                            return mark;
                                                        }();
        if (list.size() == 0 || lastMark.pos < 0 || lastMark.pos >= yaml.size())
            return false;
        const qsizetype from = lineStart(yaml, lastMark.pos);
        QByteArray prefix = yaml.mid(from, lastMark.pos - from);
        static const QRegularExpression sequencePrefix(QStringLiteral("^[ \\t]*-[ \\t]+$"));
        static const QRegularExpression mapPrefix(QStringLiteral("^[ \\t]*$"));
        if (!(list.IsSequence() ? sequencePrefix : mapPrefix).match(QString::fromUtf8(prefix)).hasMatch())
            return false;
        insertAt = lineEnd(yaml, lastMark.pos);
        if (insertAt == yaml.size() && !yaml.endsWith('\n')) {
            insert += eol;
        } else {
            insertAt = yaml.indexOf('\n', insertAt) + 1;
        }
        for (const QString &name : names) {
            insert += prefix;
            if (list.IsMap())
                insert += QByteArray::number(nextIndex++) + ": ";
            insert += yamlScalar(name) + eol;
        }
        if (insertAt == yaml.size() && !yaml.endsWith('\n'))
            insert.chop(eol.size());
    }
    edited.insert(insertAt, insert);

    // nc: follows the names when it is a plain number.
    const YAML::Node nc = root["nc"];
    int expectedNc = -1;
    if (nc.IsDefined() && nc.IsScalar()) {
        bool ok = false;
        QString::fromStdString(nc.Scalar()).toInt(&ok);
        const qsizetype at = nc.Mark().pos;
        const QByteArray digits = QByteArray::fromStdString(nc.Scalar());
        if (!ok || at < 0 || yaml.mid(at, digits.size()) != digits)
            return false;
        expectedNc = list.IsMap() ? nextIndex : int(before.size() + names.size());
        const QByteArray count = QByteArray::number(expectedNc);
        const qsizetype shifted = at > insertAt ? at + insert.size() : at;
        edited.replace(shifted, digits.size(), count);
    }

    // Read back: the names are those before plus the new ones, nothing else changed.
    const YAML::Node after = load(edited);
    if (!after.IsMap() || restOf(after) != restOf(root))
        return false;
    QStringList got;
    const YAML::Node newList = after["names"];
    for (const auto &entry : newList) {
        const YAML::Node value = newList.IsSequence() ? YAML::Node(entry) : entry.second;
        got.append(QString::fromStdString(value.IsScalar() ? value.Scalar() : std::string()));
    }
    if (got != before + names)
        return false;
    if (expectedNc >= 0 && after["nc"].as<std::string>() != std::to_string(expectedNc))
        return false;
    *out = edited;
    return true;
}

} // namespace

bool appendYamlNames(const QByteArray &yaml, const QStringList &names, QByteArray *out)
{
    // Positions in the parsed document count from after a byte order mark.
    const QByteArray bom("\xef\xbb\xbf");
    const bool withBom = yaml.startsWith(bom);
    try {
        if (!editYaml(withBom ? yaml.mid(bom.size()) : yaml, names, out))
            return false;
        if (withBom)
            out->prepend(bom);
        return true;
    } catch (const std::exception &) {
        return false;   // yaml-cpp reports every fault by throwing
    }
}

NamesAppend appendClassNames(const QString &file, const QStringList &names)
{
    const QFileInfo info(file);
    const QString folder = info.absolutePath();
    if (info.isSymLink() || !writeStaysInside(info.absoluteFilePath(), folder))
        return NamesAppend::Refused;
    QByteArray bytes;
    if (readRegularFile(file, &bytes, kNamesFileLimit) != FileRead::Ok)
        return NamesAppend::Unreadable;
    const bool yaml = file.endsWith(QLatin1String(".yaml"), Qt::CaseInsensitive)
        || file.endsWith(QLatin1String(".yml"), Qt::CaseInsensitive);

    QStringList existing;
    if (yaml) {
        if (readYamlNames(file, &existing) != YamlNames::Found)
            return NamesAppend::Unreadable;
    } else {
        bool ok = true;
        existing = readNamesFile(file, &ok);
        if (!ok || bytes.startsWith("\xff\xfe") || bytes.startsWith("\xfe\xff"))
            return NamesAppend::Unreadable;
    }
    QStringList added;
    for (const QString &name : names) {
        const QString entry = classListEntry(name);
        if (!entry.isEmpty() && !existing.contains(entry) && !added.contains(entry))
            added.append(entry);
    }
    if (added.isEmpty())
        return NamesAppend::Appended;

    QByteArray edited;
    if (yaml) {
        if (!appendYamlNames(bytes, added, &edited))
            return NamesAppend::Unsupported;
    } else {
        const QByteArray eol = bytes.contains("\r\n") ? QByteArray("\r\n") : QByteArray("\n");
        edited = bytes;
        if (!edited.isEmpty() && !edited.endsWith('\n'))
            edited += eol;
        for (const QString &name : std::as_const(added))
            edited += name.toUtf8() + eol;
    }
    return writeFileAtomically(info.absoluteFilePath(), edited, folder) ? NamesAppend::Appended
                                                                        : NamesAppend::WriteFailed;
}
