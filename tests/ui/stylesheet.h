#pragma once

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>

// The programs compile the dark style sheet in; the ui tests read it from the source tree so that
// renders look like the application.
inline bool installSourceStyleSheet()
{
    QFile file(QStringLiteral(BRINDLE_SOURCE_DIR "/shared/style.qss"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    qApp->setStyleSheet(QString::fromUtf8(file.readAll()));
    return true;
}

// Saves a render for a person to look at when BRINDLE_RENDER_DIR names a directory.
inline void saveRender(const QImage &image, const QString &name)
{
    const QString dir = qEnvironmentVariable("BRINDLE_RENDER_DIR");
    if (!dir.isEmpty())
        image.save(QDir(dir).filePath(name));
}
