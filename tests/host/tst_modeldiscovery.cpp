#include "host/autostart.h"
#include "host/servicesettings.h"
#include "testmain.h"

#include <QSettings>

namespace {

// Sparse files: the size is real for QFileInfo without using the disk.
void makeFile(const QString &path, qint64 size)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.resize(size));
}

QString native(const QString &path)
{
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

constexpr qint64 MB = 1024 * 1024;

} // namespace

class TestModelDiscovery : public QObject
{
    Q_OBJECT
private slots:
    void init() { QSettings(QStringLiteral("Brindlemark"), QStringLiteral("Brindlehost")).clear(); }

    void settingsDefaultsAndRoundTrip()
    {
        const ServiceSettings defaults = loadServiceSettings();
        QCOMPARE(defaults.port, 8000);
        QCOMPARE(defaults.gpuLayers, 99);
        QCOMPARE(defaults.threads, 0);
        QCOMPARE(defaults.contextSize, 8192);
        QVERIFY(defaults.modelDir.isEmpty() && defaults.llamaExe.isEmpty() && defaults.modelFile.isEmpty());

        ServiceSettings s;
        s.port = 9123;
        s.gpuLayers = 0;
        s.threads = 6;
        s.contextSize = 4096;
        s.modelDir = QStringLiteral("/opt/models");
        s.llamaExe = QStringLiteral("/opt/llama/llama-server");
        s.modelFile = QStringLiteral("/opt/models/a.gguf");
        saveServiceSettings(s);
        QCOMPARE(loadServiceSettings(), s);
        QSettings raw(QStringLiteral("Brindlemark"), QStringLiteral("Brindlehost"));
        QCOMPARE(raw.value(QStringLiteral("ngl")).toInt(), 0);
        QCOMPARE(raw.value(QStringLiteral("ctx")).toInt(), 4096);
        QCOMPARE(raw.value(QStringLiteral("llamaExe")).toString(), s.llamaExe);
    }

    void discoverPaths_data()
    {
        QTest::addColumn<QStringList>("files");     // relative to the installation root
        QTest::addColumn<QStringList>("dirs");
        QTest::addColumn<QString>("expectedExe");   // relative to root, empty = none
        QTest::addColumn<QString>("expectedModels");
        const QString exe = serverExecutableName();

        QTest::newRow("bin with ../tools and ../models")
            << QStringList{"tools/llama/" + exe} << QStringList{"models"}
            << "tools/llama/" + exe << "models";
        QTest::newRow("two levels up wins over one")
            << QStringList{"tools/llama/" + exe, "app/tools/llama/" + exe} << QStringList{"models", "app/models"}
            << "tools/llama/" + exe << "models";
        QTest::newRow("llama sub-directory and models beside the executable")
            << QStringList{"app/bin/llama/" + exe, "app/bin/" + exe} << QStringList{"app/bin/models"}
            << "app/bin/llama/" + exe << "app/bin/models";
        QTest::newRow("executable beside the program")
            << QStringList{"app/bin/" + exe} << QStringList{} << "app/bin/" + exe << QString();
        QTest::newRow("nothing found") << QStringList{} << QStringList{} << QString() << QString();
        QTest::newRow("a directory named like the server is not the server")
            << QStringList{} << QStringList{"app/bin/" + exe} << QString() << QString();
    }

    void discoverPaths()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, dirs);
        QFETCH(QString, expectedExe);
        QFETCH(QString, expectedModels);
        QTemporaryDir root;
        const QString appDir = root.path() + "/app/bin";
        QDir().mkpath(appDir);
        for (const QString &f : files)
            makeFile(root.path() + '/' + f, 10);
        for (const QString &d : dirs)
            QDir().mkpath(root.path() + '/' + d);

        ServiceSettings s;
        ::discoverPaths(s, appDir);
        QCOMPARE(s.llamaExe, expectedExe.isEmpty() ? QString() : native(root.path() + '/' + expectedExe));
        QCOMPARE(s.modelDir, expectedModels.isEmpty() ? QString() : native(root.path() + '/' + expectedModels));
    }

    void discoverKeepsConfiguredPaths()
    {
        QTemporaryDir root;
        makeFile(root.path() + "/tools/llama/" + serverExecutableName(), 10);
        QDir().mkpath(root.path() + "/models");
        ServiceSettings s;
        s.llamaExe = QStringLiteral("/configured/llama-server");
        s.modelDir = QStringLiteral("/configured/models");
        ::discoverPaths(s, root.path() + "/bin");
        QCOMPARE(s.llamaExe, QStringLiteral("/configured/llama-server"));
        QCOMPARE(s.modelDir, QStringLiteral("/configured/models"));
    }

    void scanModels_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QList<qint64>>("sizes");
        QTest::addColumn<QString>("modelFile");     // file name in the directory, or an absolute missing path
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("expectedModel");
        QTest::addColumn<QString>("expectedProjector");

        QTest::newRow("largest model, matching projector")
            << QStringList{"qwen-Q4_K_M.gguf", "qwen-Q5_K_S.gguf", "mmproj-qwen-F16.gguf"}
            << QList<qint64>{1100 * MB, 1400 * MB, 800 * MB} << QString() << true
            << "qwen-Q5_K_S.gguf" << "mmproj-qwen-F16.gguf";
        QTest::newRow("longer common prefix wins")
            << QStringList{"Qwen3.5-VL-2B-Q4_K_M.gguf", "mmproj_other.gguf", "mmproj-Qwen3.5-VL-2B-F16.gguf"}
            << QList<qint64>{1200 * MB, 600 * MB, 600 * MB} << QString() << true
            << "Qwen3.5-VL-2B-Q4_K_M.gguf" << "mmproj-Qwen3.5-VL-2B-F16.gguf";
        QTest::newRow("projector sharing no first character is not used")
            << QStringList{"qwen-Q4_K_M.gguf", "MMPROJ_llava-f16.gguf"}
            << QList<qint64>{1000 * MB, 2000 * MB} << QString() << true << "qwen-Q4_K_M.gguf" << QString();
        QTest::newRow("projector prefix compared case-sensitively after stripping")
            << QStringList{"Qwen-Q4.gguf", "mmproj-qwen.gguf"}
            << QList<qint64>{1000 * MB, 10 * MB} << QString() << true << "Qwen-Q4.gguf" << QString();
        QTest::newRow("projector files only")
            << QStringList{"mmproj-qwen-F16.gguf"} << QList<qint64>{800 * MB} << QString() << false
            << QString() << QString();
        QTest::newRow("other suffixes ignored")
            << QStringList{"big.bin", "small.gguf"} << QList<qint64>{5000 * MB, 1 * MB} << QString() << true
            << "small.gguf" << QString();
        QTest::newRow("explicit model file wins over the largest")
            << QStringList{"a-Q4.gguf", "b-Q8.gguf", "mmproj-b.gguf"} << QList<qint64>{100 * MB, 900 * MB, 5 * MB}
            << "a-Q4.gguf" << true << "a-Q4.gguf" << QString();
        QTest::newRow("missing explicit model falls back")
            << QStringList{"a-Q4.gguf", "b-Q8.gguf"} << QList<qint64>{100 * MB, 900 * MB}
            << "/nonexistent/gone.gguf" << true << "b-Q8.gguf" << QString();
        QTest::newRow("empty directory") << QStringList{} << QList<qint64>{} << QString() << false
                                         << QString() << QString();
    }

    void scanModels()
    {
        QFETCH(QStringList, names);
        QFETCH(QList<qint64>, sizes);
        QFETCH(QString, modelFile);
        QFETCH(bool, found);
        QFETCH(QString, expectedModel);
        QFETCH(QString, expectedProjector);
        QTemporaryDir dir;
        for (int i = 0; i < names.size(); ++i)
            makeFile(dir.path() + '/' + names.at(i), sizes.at(i));

        ServiceSettings s;
        s.modelDir = dir.path();
        s.modelFile = modelFile.startsWith('/') ? modelFile
                                                : (modelFile.isEmpty() ? QString() : dir.path() + '/' + modelFile);
        ModelFiles files;
        files.modelPath = QStringLiteral("stale");
        files.mmprojPath = QStringLiteral("stale");
        QCOMPARE(::scanModels(s, files), found);
        QCOMPARE(files.modelPath, expectedModel.isEmpty() ? QString() : native(dir.path() + '/' + expectedModel));
        QCOMPARE(files.mmprojPath,
                 expectedProjector.isEmpty() ? QString() : native(dir.path() + '/' + expectedProjector));
    }

    void scanWithoutModelDir()
    {
        ServiceSettings s;
        ModelFiles files{QStringLiteral("x"), QStringLiteral("y")};
        QVERIFY(!::scanModels(s, files));
        QVERIFY(files.modelPath.isEmpty() && files.mmprojPath.isEmpty());
    }

    void modelDisplayName_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("K quant") << "/m/Qwen3.5-VL-2B-Q4_K_M.gguf" << "Qwen3.5-VL-2B";
        QTest::newRow("F16") << "model-F16.gguf" << "model";
        QTest::newRow("Q8_0 stays") << "model-Q8_0.gguf" << "model-Q8_0";
        QTest::newRow("Q4_0 stays") << "model-Q4_0.gguf" << "model-Q4_0";
        QTest::newRow("whole name is a tag") << "Q4_K_M.gguf" << "Q4_K_M";
        QTest::newRow("dot Q8") << "model.Q8.gguf" << "model";
        QTest::newRow("IQ3_XXS") << "model-IQ3_XXS.gguf" << "model";
        QTest::newRow("UD K XL") << "model-UD-Q5_K_XL.gguf" << "model";
        QTest::newRow("UD K M XL") << "Qwen3-VL-UD-Q4_K_M_XL.gguf" << "Qwen3-VL";
        QTest::newRow("K and a letter that is no size") << "model-Q4_K_X.gguf" << "model-Q4_K_X";
        QTest::newRow("BF16") << "model-BF16.gguf" << "model";
        QTest::newRow("TQ1_0") << "model-TQ1_0.gguf" << "model";
        QTest::newRow("lower case is not a tag") << "model-q4_k_m.gguf" << "model-q4_k_m";
        QTest::newRow("issue example") << "qwen-Q5_K_S.gguf" << "qwen";
    }

    void modelDisplayName()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(::modelDisplayName(path), expected);
    }

    void logFilePath()
    {
        ServiceSettings s;
        QCOMPARE(::logFilePath(s, QStringLiteral("/opt/app")), QStringLiteral("/opt/app/server.log"));
        s.modelDir = QStringLiteral("/data/models");
        QCOMPARE(::logFilePath(s, QStringLiteral("/opt/app")), QStringLiteral("/data/models/server.log"));
    }

    void autostartOnAndOff()
    {
        const QString entry = autostartEntryPath();
        QVERIFY(entry.startsWith(qEnvironmentVariable("XDG_CONFIG_HOME") + "/autostart/"));
        QVERIFY(entry.endsWith("/Brindlehost.desktop"));
        QVERIFY(!autostartEnabled());

        QVERIFY(setAutostartFor(true, QStringLiteral("/opt/My Tools/Brindlehost")));
        QVERIFY(autostartEnabled());
        QFile file(entry);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY2(text.startsWith("[Desktop Entry]\n"), qPrintable(text));
        QVERIFY2(text.contains("\nExec=\"/opt/My Tools/Brindlehost\"\n"), qPrintable(text));
        QVERIFY(text.contains("\nType=Application\n"));
        QCOMPARE(QDir(QFileInfo(entry).absolutePath()).entryList(QDir::Files).size(), 1);

        QVERIFY(setAutostartFor(false, QString()));
        QVERIFY(!autostartEnabled());
        QVERIFY(setAutostartFor(false, QString()));   // removing twice is fine

        setAutostart(true);
        QVERIFY(autostartEnabled());
        setAutostart(false);
        QVERIFY(!autostartEnabled());
    }

    void autostartExecQuoting_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << "/usr/bin/Brindlehost" << "\"/usr/bin/Brindlehost\"";
        QTest::newRow("dollar and quote") << "/a$b\"c" << "\"/a\\\\$b\\\\\"c\"";
        QTest::newRow("backslash") << "/a\\b" << "\"/a\\\\\\\\b\"";
        QTest::newRow("percent") << "/100%/x" << "\"/100%%/x\"";
    }

    void autostartExecQuoting()
    {
        QFETCH(QString, path);
        QFETCH(QString, exec);
        QCOMPARE(autostartExecValue(path), exec);
    }

    void autostartRefusesLineBreaks()
    {
        QVERIFY(!setAutostartFor(true, QStringLiteral("/tmp/x\nExec=evil")));
        QVERIFY(!autostartEnabled());
    }
};

BRINDLE_TEST_MAIN(TestModelDiscovery)
#include "tst_modeldiscovery.moc"
