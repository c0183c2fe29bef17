#pragma once

// A dataset of four small images and the real main window opened on it, for the main window tests.

#include "ui/mainwindow.h"
#include "canvas/annotationscene.h"
#include "windowfixture.h"

#include <QSettings>
#include <QTemporaryDir>

#include <memory>

// An edit as the canvas makes it: the first shape moves by a few pixels and the scene reports the
// gesture, which the editor makes an undo step.
inline void editFirstShape(MainWindow &window)
{
    const QList<Annotation> shapes = window.scene()->annotations();
    QVERIFY(!shapes.isEmpty());
    Annotation moved = shapes.first();
    moved.rect.translate(5, 3);
    for (QPointF &p : moved.points)
        p += QPointF(5, 3);
    window.scene()->applyState(moved.id, moved);
    emit window.scene()->annotationEdited(moved.id, shapes.first(), moved);
}

class MainWindowFixture
{
protected:
    // Called by the test's init(): the Chinese interface, settings and trash emptied, a fresh dataset.
    void prepareDataset()
    {
        setLanguage(QStringLiteral("zh_CN"));
        QSettings(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark")).clear();
        QDir(qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Trash")).removeRecursively();
        m_tmp = std::make_unique<QTemporaryDir>();
        m_dir = m_tmp->path() + QStringLiteral("/ds");
        m_images = WindowFixture::makeImages(m_dir, 4);
        QCOMPARE(m_images.size(), 4);
    }

    std::unique_ptr<MainWindow> openWindow(const QString &path = QString())
    {
        auto window = std::make_unique<MainWindow>(path);
        window->show();
        window->activateWindow();
        if (!QTest::qWaitForWindowExposed(window.get()))
            return nullptr;
        // Without a folder, the launch ends once the window is painted (with one, waitForImage waits).
        if (path.isEmpty() && !QTest::qWaitFor([&] { return window->isLaunched(); }, 5000))
            return nullptr;
        return window;
    }

    bool waitForImage(MainWindow &window, const QString &path)
    {
        // Shown, and the window launched: its file list filled, a key's step taken at once.
        return QTest::qWaitFor([&] { return window.currentImagePath() == path && window.isLaunched(); }, 5000);
    }

    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_dir;
    QStringList m_images;
};
