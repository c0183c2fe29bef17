#pragma once

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <functional>

// Small datasets and helpers for driving the real main window in tests.
namespace WindowFixture {

inline bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool makeImage(const QString &path, int width = 200, int height = 100, const QColor &color = Qt::darkCyan)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    return image.save(path);
}

// <dir>/img1.png ... img<count>.png, each 200x100.
inline QStringList makeImages(const QString &dir, int count)
{
    QStringList paths;
    for (int i = 1; i <= count; ++i) {
        const QString path = QStringLiteral("%1/img%2.png").arg(dir).arg(i);
        if (!makeImage(path))
            return {};
        paths.append(path);
    }
    return paths;
}

// A VOC file in our layout with one box per label.
inline bool writeVoc(const QString &imagePath, const QStringList &labels)
{
    const QFileInfo info(imagePath);
    QByteArray xml = "<annotation>";
    int x = 10;
    for (const QString &label : labels) {
        xml += "<object><name>" + label.toUtf8() + "</name><bndbox><xmin>" + QByteArray::number(x)
            + "</xmin><ymin>10</ymin><xmax>" + QByteArray::number(x + 20) + "</xmax><ymax>40</ymax></bndbox></object>";
        x += 30;
    }
    xml += "</annotation>";
    return writeBytes(info.absolutePath() + QStringLiteral("/annotations/") + info.completeBaseName()
                          + QStringLiteral(".xml"),
                      xml);
}

inline QString vocPath(const QString &imagePath)
{
    const QFileInfo info(imagePath);
    return info.absolutePath() + QStringLiteral("/annotations/") + info.completeBaseName() + QStringLiteral(".xml");
}

// Clicks the button with the given text of the next message box that comes up (also when it is
// modal inside the call that follows). Gives up after five seconds.
inline void answerMessageBox(const QString &buttonText, QString *seenText = nullptr)
{
    auto *timer = new QTimer;
    auto *tries = new int(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, tries, buttonText, seenText] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            if (++*tries > 500) {
                timer->deleteLater();
                delete tries;
            }
            return;
        }
        if (seenText)
            *seenText = box->text();
        const auto buttons = box->buttons();
        for (QAbstractButton *button : buttons) {
            if (button->text() == buttonText) {
                button->click();
                break;
            }
        }
        timer->stop();
        timer->deleteLater();
        delete tries;
    });
    timer->start(10);
}

inline QStringList trashedFiles()
{
    const QString trash = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Trash/files");
    return QDir(trash).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace WindowFixture
