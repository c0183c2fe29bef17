#pragma once

// The window edit tests' dataset (three 1200x900 images, the categories cat, dog and bird known)
// and the interpreter of their scripts of clicks, drags and keys on the real window.

#include "storage/annotation.h"
#include "ui/mainwindow.h"
#include "windowfixture.h"

#include <QTemporaryDir>

#include <memory>

class EditScript
{
protected:
    // Called by the test's init(): a fresh dataset, the Chinese interface, settings cleared.
    void prepareDataset();
    void writeFirstImage(const QList<Annotation> &confirmed, const QList<Annotation> &pending);
    // fit: the image stays fitted into the window instead of shown at 100%.
    std::unique_ptr<MainWindow> openWindow(const QString &imagePath, bool fit = false);
    // Runs the steps of a script separated by ';' (see step() for the verbs), stopping at the first failure.
    void run(MainWindow &window, const QString &script);
    void step(MainWindow &window, const QString &step);
    QPoint at(MainWindow &window, const QPointF &scenePos);
    QPointF centreOf(MainWindow &window, uint id);
    void drag(MainWindow &window, const QPointF &from, const QPointF &to);
    void waitUntilAnswered(MainWindow &window, const std::shared_ptr<WindowFixture::Answered> &answer);

    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_dir;
    QStringList m_images;
};
