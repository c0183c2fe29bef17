#include "shared/language.h"
#include "shared/languagefont.h"
#include "testmain.h"

#include <QSettings>

class TestLanguage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Must run first: no language has been chosen yet in this process.
    void sourceTextsUntilALanguageIsChosen()
    {
        QCOMPARE(translateText("打开图片目录"), QStringLiteral("打开图片目录"));
        initLanguage();
        QCOMPARE(translateText("打开图片目录"), QStringLiteral("Open Image Folder"));
    }

    void init()
    {
        setSettingsScope(QString(), QString());
        QSettings().clear();
        QSettings(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark")).clear();
    }

    void storedCodeSelectsLanguage_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("expectedCode");
        QTest::addColumn<QString>("expectedFamily");
        QTest::newRow("nothing stored") << QVariant() << "en" << "Segoe UI";
        QTest::newRow("empty") << QVariant(QString()) << "en" << "Segoe UI";
        QTest::newRow("chinese") << QVariant(QStringLiteral("zh_CN")) << "zh_CN" << "Microsoft YaHei UI";
        QTest::newRow("japanese") << QVariant(QStringLiteral("ja")) << "ja" << "Meiryo";
        QTest::newRow("german") << QVariant(QStringLiteral("de")) << "de" << "Segoe UI";
        QTest::newRow("not in table") << QVariant(QStringLiteral("it")) << "en" << "Segoe UI";
        QTest::newRow("wrong case") << QVariant(QStringLiteral("zh_cn")) << "en" << "Segoe UI";
    }
    void storedCodeSelectsLanguage()
    {
        QFETCH(QVariant, stored);
        QFETCH(QString, expectedCode);
        QFETCH(QString, expectedFamily);
        if (stored.isValid())
            QSettings().setValue(QStringLiteral("language"), stored);
        initLanguage();
        QCOMPARE(currentLanguageCode(), expectedCode);
        QCOMPARE(QApplication::font().family(), expectedFamily);
        QCOMPARE(QApplication::font().pixelSize(), 13);
    }

    // With no setting the window starts in the language the locale names.
    void localeChoosesLanguageWithoutSetting_data()
    {
        QTest::addColumn<QByteArray>("lcAll");
        QTest::addColumn<QByteArray>("lang");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("expectedCode");
        QTest::newRow("German locale") << QByteArray() << QByteArray("de_DE.UTF-8") << QVariant() << "de";
        QTest::newRow("Brazilian Portuguese") << QByteArray() << QByteArray("pt_BR") << QVariant() << "pt";
        QTest::newRow("Chinese locale") << QByteArray() << QByteArray("zh_CN.UTF-8") << QVariant() << "zh_CN";
        QTest::newRow("Taiwanese locale still Chinese") << QByteArray() << QByteArray("zh_TW.UTF-8") << QVariant()
                                                       << "zh_CN";
        QTest::newRow("Italian falls back to English") << QByteArray() << QByteArray("it_IT.UTF-8") << QVariant()
                                                      << "en";
        QTest::newRow("C locale") << QByteArray() << QByteArray("C.UTF-8") << QVariant() << "en";
        QTest::newRow("unset") << QByteArray() << QByteArray() << QVariant() << "en";
        QTest::newRow("LC_ALL wins over LANG") << QByteArray("ja_JP.UTF-8") << QByteArray("de_DE.UTF-8")
                                               << QVariant() << "ja";
        QTest::newRow("setting wins over locale") << QByteArray() << QByteArray("de_DE.UTF-8")
                                                  << QVariant(QStringLiteral("fr")) << "fr";
    }
    void localeChoosesLanguageWithoutSetting()
    {
        QFETCH(QByteArray, lcAll);
        QFETCH(QByteArray, lang);
        QFETCH(QVariant, stored);
        QFETCH(QString, expectedCode);
        const QByteArray oldLang = qgetenv("LANG");
        const auto restore = qScopeGuard([&] {
            qputenv("LANG", oldLang);
            qunsetenv("LC_ALL");
        });
        qunsetenv("LC_MESSAGES");
        lcAll.isEmpty() ? qunsetenv("LC_ALL") : qputenv("LC_ALL", lcAll);
        lang.isEmpty() ? qunsetenv("LANG") : qputenv("LANG", lang);
        if (stored.isValid())
            QSettings().setValue(QStringLiteral("language"), stored);
        initLanguage();
        QCOMPARE(currentLanguageCode(), expectedCode);
        if (!stored.isValid()) {
            loadEnvironmentLanguage();   // the command line's choice: the locale alone
            QCOMPARE(currentLanguageCode(), expectedCode);
        }
    }

    void missingKeyReturnsSource_data()
    {
        QTest::addColumn<QString>("code");
        for (const auto &lang : languageList())
            QTest::newRow(qPrintable(lang.first)) << lang.first;
    }
    void missingKeyReturnsSource()
    {
        QFETCH(QString, code);
        setLanguage(code);
        QCOMPARE(translateText("这不是词典里的句子"), QStringLiteral("这不是词典里的句子"));
        QCOMPARE(translateText("缺少 %1 个"), QStringLiteral("缺少 %1 个"));
        QCOMPARE(translateText("缺少 %1 个").arg(7), QStringLiteral("缺少 7 个"));
    }

    void placeholdersAreFilledAfterTranslation_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("expected");
        QTest::newRow("en") << "en" << "Image decode failed: a.jpg";
        QTest::newRow("zh_CN") << "zh_CN" << QStringLiteral("图片解码失败：a.jpg");
    }
    void placeholdersAreFilledAfterTranslation()
    {
        QFETCH(QString, code);
        QFETCH(QString, expected);
        setLanguage(code);
        QCOMPARE(translateText("图片解码失败：%1").arg(QStringLiteral("a.jpg")), expected);
    }

    void chineseShowsSources()
    {
        setLanguage(QStringLiteral("zh_CN"));
        QCOMPARE(translateText("打开图片目录"), QStringLiteral("打开图片目录"));
        setLanguage(QStringLiteral("en"));
        QCOMPARE(translateText("打开图片目录"), QStringLiteral("Open Image Folder"));
    }

    void choiceStoresValidCode_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("stored");
        QTest::newRow("valid") << "fr" << "fr";
        QTest::newRow("chinese") << "zh_CN" << "zh_CN";
        QTest::newRow("outside table") << "it" << "en";
        QTest::newRow("empty") << "" << "en";
    }
    void choiceStoresValidCode()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, stored);
        QSettings().setValue(QStringLiteral("language"), QStringLiteral("it"));
        initLanguage();
        setLanguage(chosen);
        QCOMPARE(QSettings().value(QStringLiteral("language")).toString(), stored);
        QCOMPARE(currentLanguageCode(), stored);
    }

    void scopeSharesBrindlemarkSetting()
    {
        // Brindlehost runs under its own application name but follows Brindlemark's choice.
        QCoreApplication::setOrganizationName(QStringLiteral("Brindlemark"));
        QCoreApplication::setApplicationName(QStringLiteral("Brindlehost"));
        QSettings brindlemark(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark"));
        brindlemark.setValue(QStringLiteral("language"), QStringLiteral("ru"));
        brindlemark.sync();

        setSettingsScope(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark"));
        initLanguage();
        QCOMPARE(currentLanguageCode(), QStringLiteral("ru"));

        setLanguage(QStringLiteral("tr"));
        brindlemark.sync();
        QCOMPARE(brindlemark.value(QStringLiteral("language")).toString(), QStringLiteral("tr"));
        QVERIFY(!QSettings().contains(QStringLiteral("language")));
    }

    void languageTableInMenuOrder()
    {
        const auto list = languageList();
        QCOMPARE(list.size(), 10);
        QCOMPARE(list.first(), qMakePair(QStringLiteral("en"), QStringLiteral("English")));
        QCOMPARE(list.at(5), qMakePair(QStringLiteral("ja"), QStringLiteral("日本語")));
        QCOMPARE(list.last(), qMakePair(QStringLiteral("zh_CN"), QStringLiteral("简体中文")));
    }
};

BRINDLE_TEST_MAIN(TestLanguage)
#include "tst_language.moc"
