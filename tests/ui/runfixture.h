#pragma once

#include "shared/language.h"
#include "storage/pendingfile.h"
#include "ui/autolabeldialog.h"
#include "ui/filelistpanel.h"
#include "ui/mainwindow.h"
#include "ui/panelroles.h"
#include "ui/progressoverlay.h"

#include "support/fakeopenaiserver.h"
#include "windowfixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

// Model runs in the real window against the in-process fake server. Images are 1000x1000, so a
// detection's 0-1000 coordinates are its pixels.
namespace RunFixture {

using WindowFixture::withText;

constexpr int kSide = 1000;

struct Box
{
    QString label;
    QRectF rect;
    double score = 0.9;
};

inline QString detectionJson(const QList<Box> &boxes)
{
    QJsonArray array;
    for (const Box &b : boxes) {
        array.append(QJsonObject{
            {QStringLiteral("label"), b.label},
            {QStringLiteral("bbox_2d"), QJsonArray{b.rect.left(), b.rect.top(), b.rect.right(), b.rect.bottom()}},
            {QStringLiteral("score"), b.score}});
    }
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

inline FakeOpenAiServer::Answer detections(const QList<Box> &boxes, int delayMs = 0)
{
    return FakeOpenAiServer::chat(detectionJson(boxes), delayMs);
}

inline FakeOpenAiServer::Answer modelsAnswer(int delayMs = 0)
{
    return FakeOpenAiServer::status(200, R"({"object":"list","data":[{"id":"fake-vl"}]})", delayMs);
}

inline QStringList makeSquareImages(const QString &dir, int count)
{
    QStringList paths;
    for (int i = 1; i <= count; ++i) {
        const QString path = QStringLiteral("%1/img%2.png").arg(dir).arg(i);
        if (!WindowFixture::makeImage(path, kSide, kSide))
            return {};
        paths.append(path);
    }
    return paths;
}

// A VOC file in our layout with the given boxes.
inline bool writeVocBoxes(const QString &imagePath, const QList<Box> &boxes)
{
    QByteArray xml = "<annotation><size><width>1000</width><height>1000</height><depth>3</depth></size>";
    for (const Box &b : boxes) {
        xml += "<object><name>" + b.label.toUtf8() + "</name><bndbox><xmin>" + QByteArray::number(b.rect.left())
            + "</xmin><ymin>" + QByteArray::number(b.rect.top()) + "</ymin><xmax>"
            + QByteArray::number(b.rect.right()) + "</xmax><ymax>" + QByteArray::number(b.rect.bottom())
            + "</ymax></bndbox></object>";
    }
    xml += "</annotation>";
    return WindowFixture::writeBytes(WindowFixture::vocPath(imagePath), xml);
}

inline void storeServer(const QString &baseUrl)
{
    QSettings s(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark"));
    s.setValue(QStringLiteral("model/base"), baseUrl);
}

// Opens the window on dir and waits until the first image is shown and every image's counts are
// known, so that the run's results do not race the state scanner.
inline std::unique_ptr<MainWindow> openWindow(const QString &dir, const QStringList &images)
{
    auto window = std::make_unique<MainWindow>(dir);
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowExposed(window.get()))
        return nullptr;
    const bool ready = QTest::qWaitFor(
        [&] {
            if (window->currentImagePath() != images.value(0) || window->session()->isListing() || !window->isLaunched())
                return false;
            for (const QString &path : images) {
                if (!window->session()->imageState(path).known)
                    return false;
            }
            return true;
        },
        10000);
    return ready ? std::move(window) : nullptr;
}

enum Scope { CurrentImage = 0, AllImages = 1, UnlabelledImages = 2 };

struct DialogAnswer
{
    int scope = AllImages;
    bool pending = true;
    const char *button = "开始";   // on the run tab
    // Runs on the model-settings tab (clicked first) before the button; the button is then that
    // tab's "关闭", or, with thenStart, "开始" on the run tab clicked after going back to it.
    std::function<void(AutoLabelDialog *)> settings;
    bool thenStart = false;
};

inline void clickTab(QTabWidget *tabs, int index)
{
    QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tabs->tabBar()->tabRect(index).center());
}

// Waits for the next auto-label dialog; stops waiting when it goes out of scope, so that an answer
// meant for a dialog that never came cannot answer the next test's.
class DialogAnswerer
{
public:
    DialogAnswerer(QTimer *timer, std::shared_ptr<bool> seen, std::shared_ptr<int> tab)
        : m_timer(timer), m_seen(std::move(seen)), m_tab(std::move(tab)) {}
    DialogAnswerer(DialogAnswerer &&) = default;
    ~DialogAnswerer() { delete m_timer.data(); }
    bool seen() const { return *m_seen; }
    // The tab the dialog came up with: 0 the run, 1 the model settings; -1 before it came.
    int tabShown() const { return *m_tab; }

private:
    QPointer<QTimer> m_timer;
    std::shared_ptr<bool> m_seen;
    std::shared_ptr<int> m_tab;
};

// The auto-label dialog on screen: a part of the main window, not a window of its own.
inline AutoLabelDialog *shownAutoLabelDialog()
{
    for (QWidget *top : QApplication::topLevelWidgets()) {
        for (AutoLabelDialog *dialog : top->findChildren<AutoLabelDialog *>()) {
            if (dialog->isVisible())
                return dialog;
        }
    }
    return nullptr;
}

// Answers the next auto-label dialog with clicks, as a user would. Gives up after five seconds.
[[nodiscard]] inline DialogAnswerer answerAutoLabelDialog(const DialogAnswer &answer)
{
    auto seen = std::make_shared<bool>(false);
    auto tab = std::make_shared<int>(-1);
    auto *timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, tries, seen, tab, answer] {
        AutoLabelDialog *dialog = shownAutoLabelDialog();
        if (!dialog) {
            if (++*tries > 500)
                timer->deleteLater();
            return;
        }
        timer->stop();
        timer->deleteLater();
        *seen = true;
        auto *tabs = dialog->findChild<QTabWidget *>();
        *tab = tabs->currentIndex();
        if (answer.settings) {
            clickTab(tabs, 1);
            answer.settings(dialog);
            if (answer.thenStart) {
                clickTab(tabs, 0);
                if (auto *start = withText<QPushButton>(tabs->widget(0), "开始"))
                    QTest::mouseClick(start, Qt::LeftButton);
                return;
            }
            const auto buttons = tabs->widget(1)->findChildren<QPushButton *>();
            for (QPushButton *b : buttons) {
                if (b->text() == translateText("关闭"))
                    QTest::mouseClick(b, Qt::LeftButton);
            }
            return;
        }
        clickTab(tabs, 0);
        static const char *scopes[] = {"当前图片", "当前目录全部图片", "仅未标注图片"};
        if (auto *scope = withText<QRadioButton>(dialog, scopes[answer.scope]))
            QTest::mouseClick(scope, Qt::LeftButton);
        if (auto *mode = withText<QRadioButton>(dialog, answer.pending ? "插入为 ⚡ 待确认（推荐）" : "直接写入为已确认"))
            QTest::mouseClick(mode, Qt::LeftButton);
        if (auto *button = withText<QPushButton>(tabs->widget(0), answer.button))
            QTest::mouseClick(button, Qt::LeftButton);
    });
    timer->start(10);
    return DialogAnswerer(timer, seen, tab);
}

// Replaces the text of a line edit by typing.
inline void retype(QLineEdit *edit, const QString &text)
{
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

inline QListWidgetItem *fileRow(MainWindow &window, const QString &path)
{
    auto *list = window.fileList()->findChild<QListWidget *>();
    for (int i = 0; list && i < list->count(); ++i) {
        if (list->item(i)->data(FileRole::Path).toString() == path)
            return list->item(i);
    }
    return nullptr;
}

inline QPushButton *progressButton(MainWindow &window, const char *text)
{
    return withText<QPushButton>(window.progressCard(), text);
}

inline int pendingCount(const QList<Annotation> &annotations)
{
    int n = 0;
    for (const Annotation &a : annotations)
        n += a.pending ? 1 : 0;
    return n;
}

} // namespace RunFixture
