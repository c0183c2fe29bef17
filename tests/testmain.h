#pragma once

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

// A fresh HOME and XDG tree for one test process, so that no test reads or writes the real
// user's settings, runtime sockets or trash. Child processes inherit it.
class TestEnvironment
{
public:
    // screen: the offscreen platform's one screen; invalid: its own (800x600).
    explicit TestEnvironment(const QSize &screen = QSize())
    {
        const QString root = m_dir.path();
        const struct { const char *var; const char *sub; } dirs[] = {
            {"HOME", "home"}, {"XDG_CONFIG_HOME", "home/.config"}, {"XDG_DATA_HOME", "home/.local/share"},
            {"XDG_CACHE_HOME", "home/.cache"}, {"XDG_RUNTIME_DIR", "runtime"},
        };
        for (const auto &d : dirs) {
            const QString path = root + QLatin1Char('/') + QLatin1String(d.sub);
            QDir().mkpath(path);
            qputenv(d.var, QFile::encodeName(path));
        }
        QFile::setPermissions(root + QStringLiteral("/runtime"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (!screen.isValid()) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            return;
        }
        QFile config(root + QStringLiteral("/screens.json"));
        if (config.open(QIODevice::WriteOnly)) {
            config.write(QStringLiteral(R"({"screens": [{"name": "test", "x": 0, "y": 0, "width": %1, "height": %2,
                                            "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})")
                             .arg(screen.width())
                             .arg(screen.height())
                             .toUtf8());
            config.close();
        }
        qputenv("QT_QPA_PLATFORM", QFile::encodeName(QStringLiteral("offscreen:configfile=") + config.fileName()));
    }
    QString root() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

// The main window's tests: a desktop's screen, where the window has its full size.
#define BRINDLE_WINDOW_TEST_MAIN(TestObject)           \
    int main(int argc, char *argv[])                   \
    {                                                  \
        TestEnvironment environment(QSize(1920, 1200)); \
        QApplication app(argc, argv);                  \
        TestObject tc;                                 \
        QTEST_SET_MAIN_SOURCE_PATH                     \
        return QTest::qExec(&tc, argc, argv);          \
    }

#define BRINDLE_TEST_MAIN(TestObject)                  \
    int main(int argc, char *argv[])                   \
    {                                                  \
        TestEnvironment environment;                   \
        QApplication app(argc, argv);                  \
        TestObject tc;                                 \
        QTEST_SET_MAIN_SOURCE_PATH                     \
        return QTest::qExec(&tc, argc, argv);          \
    }
