#include "testmain.h"

#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringDecoder>

// Every Chinese literal handed to translateText in the sources must be a key of every translated
// dictionary, with the same placeholders; the dictionaries must be valid UTF-8 JSON objects.
namespace {

const QStringList kTranslated = {"en", "es", "fr", "pt", "ru", "ja", "de", "tr", "pl"};
const QStringList kSourceDirs = {"shared", "app", "storage", "canvas", "inference", "checker", "session", "ui", "host", "tools"};

QString unescapeCppLiteral(const QString &body)
{
    QString out;
    for (int i = 0; i < body.size(); ++i) {
        const QChar c = body.at(i);
        if (c != QLatin1Char('\\') || i + 1 >= body.size()) {
            out.append(c);
            continue;
        }
        const QChar n = body.at(++i);
        switch (n.unicode()) {
        case 'n': out.append(QLatin1Char('\n')); break;
        case 't': out.append(QLatin1Char('\t')); break;
        case 'r': out.append(QLatin1Char('\r')); break;
        default: out.append(n); break;   // \" \\ \'
        }
    }
    return out;
}

QStringList placeholders(const QString &text)
{
    static const QRegularExpression re(QStringLiteral("%(\\d+)"));
    QStringList found;
    for (auto it = re.globalMatch(text); it.hasNext();)
        found.append(it.next().captured(0));
    found.sort();
    return found;
}

// Literal -> first place it is used, from every source file of the programs.
QMap<QString, QString> literalsInSources()
{
    // A literal directly passed, possibly split into adjacent pieces: translateText("a" "b"), or
    // translateTextIn(environmentLanguage(), "a") for a terminal's line.
    static const QRegularExpression call(QStringLiteral(
        R"re(translateText(?:In\(\s*[\w:]+\(\)\s*,|\()\s*((?:"(?:[^"\\]|\\.)*"\s*)+)\))re"));
    static const QRegularExpression piece(QStringLiteral(R"re("((?:[^"\\]|\\.)*)")re"));
    QMap<QString, QString> literals;
    const QString root = QStringLiteral(BRINDLE_SOURCE_DIR);
    for (const QString &dir : kSourceDirs) {
        QDirIterator it(root + QLatin1Char('/') + dir, {"*.cpp", "*.h"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QString text = QString::fromUtf8(file.readAll());
            for (auto m = call.globalMatch(text); m.hasNext();) {
                const auto match = m.next();
                QString literal;
                for (auto p = piece.globalMatch(match.captured(1)); p.hasNext();)
                    literal += unescapeCppLiteral(p.next().captured(1));
                const int line = text.left(match.capturedStart()).count(QLatin1Char('\n')) + 1;
                if (!literals.contains(literal))
                    literals.insert(literal, path.mid(root.size() + 1) + QLatin1Char(':') + QString::number(line));
            }
        }
    }
    return literals;
}

bool readDictionary(const QString &path, QJsonObject *object, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot open");
        return false;
    }
    const QByteArray bytes = file.readAll();
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(bytes);
    if (decoder.hasError()) {
        *error = QStringLiteral("not valid UTF-8");
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject()) {
        *error = QStringLiteral("not a JSON object: ") + parseError.errorString();
        return false;
    }
    *object = doc.object();
    return true;
}

QString dictionaryPath(const QString &code)
{
    return QStringLiteral(BRINDLE_SOURCE_DIR "/shared/i18n/%1.json").arg(code);
}

} // namespace

class TestDictionaries : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void scannerFindsLiterals()
    {
        // The scan itself must see the strings this project is known to use.
        const auto literals = literalsInSources();
        QVERIFY2(literals.contains(QStringLiteral("暂无图片 — 打开图片目录开始标注")), "scan found no literals");
        QVERIFY(!literals.contains(QString()));
        // and a terminal's line, translated into the locale's language whatever the window speaks.
        const auto places = literals.values();
        QVERIFY2(std::any_of(places.cbegin(), places.cend(),
                             [](const QString &at) { return at.startsWith(QLatin1String("shared/localinstance.cpp")); }),
                 "scan missed translateTextIn");
    }

    void literalUnescaping_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "确定" << "确定";
        QTest::newRow("newline") << "第一行\\n第二行" << "第一行\n第二行";
        QTest::newRow("quote") << "\\\"引号\\\"" << "\"引号\"";
        QTest::newRow("backslash") << "a\\\\b" << "a\\b";
    }
    void literalUnescaping()
    {
        QFETCH(QString, body);
        QFETCH(QString, expected);
        QCOMPARE(unescapeCppLiteral(body), expected);
    }

    void chineseDictionaryIsEmpty()
    {
        QJsonObject object;
        QString error;
        QVERIFY2(readDictionary(dictionaryPath(QStringLiteral("zh_CN")), &object, &error), qPrintable(error));
        QVERIFY(object.isEmpty());
    }

    void dictionaryCoversSources_data()
    {
        QTest::addColumn<QString>("code");
        for (const QString &code : kTranslated)
            QTest::newRow(qPrintable(code)) << code;
    }
    void dictionaryCoversSources()
    {
        QFETCH(QString, code);
        QJsonObject dict;
        QString error;
        QVERIFY2(readDictionary(dictionaryPath(code), &dict, &error), qPrintable(code + QLatin1String(": ") + error));

        QStringList problems;
        const auto literals = literalsInSources();
        for (auto it = literals.cbegin(); it != literals.cend(); ++it) {
            if (!dict.contains(it.key()))
                problems << QStringLiteral("missing \"%1\" (%2)").arg(it.key(), it.value());
        }
        for (auto it = dict.begin(); it != dict.end(); ++it) {
            if (!it.value().isString() || it.value().toString().trimmed().isEmpty())
                problems << QStringLiteral("empty translation of \"%1\"").arg(it.key());
            else if (placeholders(it.key()) != placeholders(it.value().toString()))
                problems << QStringLiteral("placeholders differ in \"%1\"").arg(it.key());
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    }

    void dictionariesShareOneKeySet()
    {
        QJsonObject english;
        QString error;
        QVERIFY(readDictionary(dictionaryPath(QStringLiteral("en")), &english, &error));
        for (const QString &code : kTranslated) {
            QJsonObject other;
            QVERIFY(readDictionary(dictionaryPath(code), &other, &error));
            QStringList a = english.keys(), b = other.keys();
            QVERIFY2(a == b, qPrintable(code + QLatin1String(" has a different key set than en")));
        }
    }

    void compiledDictionariesMatchSources()
    {
        for (const QString &code : kTranslated + QStringList{QStringLiteral("zh_CN")}) {
            QJsonObject compiled, source;
            QString error;
            QVERIFY2(readDictionary(QStringLiteral(":/i18n/%1.json").arg(code), &compiled, &error),
                     qPrintable(code + QLatin1String(": ") + error));
            QVERIFY(readDictionary(dictionaryPath(code), &source, &error));
            QCOMPARE(compiled, source);
        }
    }
};

BRINDLE_TEST_MAIN(TestDictionaries)
#include "tst_dictionaries.moc"
