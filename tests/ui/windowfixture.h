#pragma once

#include "session/categoryhistory.h"
#include "session/foldersession.h"
#include "shared/language.h"
#include "ui/annotationeditor.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

// Small datasets and helpers for driving the real main window in tests.
namespace WindowFixture {

// The first widget of type T under root showing the translation of source.
template <typename T>
T *withText(QWidget *root, const char *source)
{
    const auto widgets = root->findChildren<T *>();
    for (T *w : widgets) {
        if (w->text() == translateText(source))
            return w;
    }
    return nullptr;
}

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

// What a helper saw of the dialog or menu it answered.
struct Answered
{
    bool done = false;
    QString title;        // the dialog's window title
    QString offered;      // the text in the label dialog's field when it came up
    QStringList entries;  // the menu's entries, separators left out
    QStringList disabled; // the menu's disabled entries, each with its tooltip: "entry: tip"
};

// Polls every 10 ms for up to five seconds until `found` returns true.
inline void whenShown(const std::function<bool()> &found)
{
    auto *timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, tries, found] {
        if (found() || ++*tries > 500) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(10);
}

enum class LabelFinish { Return, Escape };

// Answers the next label dialog as a user does: Backspace first when clearField (the offered
// text comes up selected, so this empties the field), then the typed text, then Return or Escape.
inline std::shared_ptr<Answered> answerLabelDialog(const QString &typed, LabelFinish finish = LabelFinish::Return,
                                                   bool clearField = false)
{
    auto seen = std::make_shared<Answered>();
    whenShown([seen, typed, finish, clearField] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        auto *combo = dialog ? dialog->findChild<QComboBox *>() : nullptr;
        if (!combo || !combo->lineEdit())
            return false;
        seen->title = dialog->windowTitle();
        seen->offered = combo->currentText();
        QLineEdit *edit = combo->lineEdit();
        if (clearField)
            QTest::keyClick(edit, Qt::Key_Backspace);
        if (!typed.isEmpty())
            QTest::keyClicks(edit, typed);
        QTest::keyClick(edit, finish == LabelFinish::Return ? Qt::Key_Return : Qt::Key_Escape);
        seen->done = true;
        return true;
    });
    return seen;
}

// Clicks the entry with the given text of the next popup menu (closes the menu when there is no
// such entry).
inline std::shared_ptr<Answered> answerPopupMenu(const QString &entry)
{
    auto seen = std::make_shared<Answered>();
    whenShown([seen, entry] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu || !menu->isVisible())
            return false;
        QAction *chosen = nullptr;
        const auto actions = menu->actions();
        for (QAction *action : actions) {
            if (action->isSeparator())
                continue;
            seen->entries.append(action->text());
            if (!action->isEnabled())
                seen->disabled.append(action->text() + QStringLiteral(": ") + action->toolTip());
            if (action->text() == entry)
                chosen = action;
        }
        if (chosen && chosen->isEnabled())
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(chosen).center());
        else
            menu->close();
        seen->done = true;
        return true;
    });
    return seen;
}

inline QStringList trashedFiles()
{
    const QString trash = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Trash/files");
    return QDir(trash).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace WindowFixture
