#include "ui/labeldialog.h"

#include "canvas/labelcolor.h"
#include "shared/language.h"

#include "stylesheet.h"
#include "testmain.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <functional>

namespace {

enum class Finish { ReturnKey, OkButton, EscapeKey, CancelButton };

QPushButton *buttonWithText(QWidget *dialog, const QString &text)
{
    const auto buttons = dialog->findChildren<QPushButton *>();
    for (QPushButton *b : buttons) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

} // namespace

class TestLabelDialog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void askLabel_data();
    void askLabel();
    void outFlagIsOptional();
    void dontAskBox_data();
    void dontAskBox();
    void dontAskBoxFitsEveryLanguage();
    void initialTextSelectedAndFocused();
    void swatchFollowsText_data();
    void swatchFollowsText();
    void rendersAsDarkDialog();
    void placedBesideTheShape_data();
    void placedBesideTheShape();

private:
    // Runs askLabel; `interact` gets the modal dialog once it is up and must close it.
    QString runAskLabel(const QStringList &labels, const QString &initial, bool *accepted,
                        const std::function<void(LabelDialog *)> &interact);
};

void TestLabelDialog::initTestCase()
{
    QVERIFY(installSourceStyleSheet());
    setLanguage(QStringLiteral("zh_CN"));
}

QString TestLabelDialog::runAskLabel(const QStringList &labels, const QString &initial, bool *accepted,
                                     const std::function<void(LabelDialog *)> &interact)
{
    bool reached = false;
    QTimer poll;
    poll.setInterval(10);
    connect(&poll, &QTimer::timeout, this, [&] {
        // Keys typed before the dialog is active would reach no widget.
        auto *dialog = qobject_cast<LabelDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isActiveWindow())
            return;
        poll.stop();
        reached = true;
        interact(dialog);
    });
    // Never hang the test on a dialog the interaction failed to close.
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, this, [] {
        if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
            dialog->done(-1);
    });
    poll.start();
    guard.start(10000);
    const QString result = LabelDialog::askLabel(nullptr, labels, initial, accepted, QStringLiteral("输入类别"));
    if (!reached)
        qWarning("the label dialog never came up");
    return reached ? result : QStringLiteral("<no dialog>");
}

void TestLabelDialog::askLabel_data()
{
    QTest::addColumn<QString>("initial");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("finish");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("expectAccepted");

    const int ret = int(Finish::ReturnKey);
    const int ok = int(Finish::OkButton);
    const int esc = int(Finish::EscapeKey);
    const int cancel = int(Finish::CancelButton);
    QTest::newRow("padded name, Return") << "" << "  dog  " << ret << "dog" << true;
    QTest::newRow("new name, OK button") << "" << "traffic light" << ok << "traffic light" << true;
    QTest::newRow("typing replaces the initial text") << "car" << "bus" << ret << "bus" << true;
    QTest::newRow("untouched initial text") << "car" << "" << ok << "car" << true;
    // The offered text comes up selected; Return takes it, not the list's first completion.
    QTest::newRow("untouched initial text, Return") << "truck" << "" << ret << "truck" << true;
    QTest::newRow("blank gives the initial text") << "car" << "   " << ret << "car" << true;
    QTest::newRow("blank without initial text") << "" << "  " << ok << "" << true;
    QTest::newRow("typed case is kept") << "" << "Person" << ret << "Person" << true;
    QTest::newRow("listed name, a longer one listed first") << "" << "person" << ret << "person" << true;
    QTest::newRow("a prefix takes the highlighted completion") << "" << "c" << ret << "car" << true;
    QTest::newRow("a prefix takes the completion with OK too") << "" << "tr" << ok << "truck" << true;
    QTest::newRow("a new name typed in full") << "" << "cab" << ret << "cab" << true;
    QTest::newRow("a new prefix: the completion deleted") << "" << "ca\x7f" << ret << "ca" << true;
    QTest::newRow("Escape") << "car" << "bus" << esc << "" << false;
    QTest::newRow("cancel button") << "" << "dog" << cancel << "" << false;
}

void TestLabelDialog::askLabel()
{
    QFETCH(QString, initial);
    QFETCH(QString, typed);
    QFETCH(int, finish);
    QFETCH(QString, expected);
    QFETCH(bool, expectAccepted);

    // "person_sitting" before "person": completion must not turn a typed name into a longer one.
    const QStringList labels = {QStringLiteral("car"), QStringLiteral("person_sitting"),
                                QStringLiteral("person"), QStringLiteral("truck")};
    int itemsAfter = -1;
    QStringList itemTexts;
    bool accepted = !expectAccepted;
    const QString result = runAskLabel(labels, initial, &accepted, [&](LabelDialog *dialog) {
        auto *combo = dialog->findChild<QComboBox *>();
        // Keys go where a user's keys go: to the widget with the focus (the combo, which hands
        // them to its line edit).
        QWidget *edit = QApplication::focusWidget();
        QVERIFY(edit == combo || edit == combo->lineEdit());
        // A DEL character in the row stands for the Delete key.
        const QStringList parts = typed.split(QLatin1Char('\x7f'));
        for (qsizetype i = 0; i < parts.size(); ++i) {
            if (i > 0)
                QTest::keyClick(edit, Qt::Key_Delete);
            if (!parts.at(i).isEmpty())
                QTest::keyClicks(edit, parts.at(i));
        }
        switch (Finish(finish)) {
        case Finish::ReturnKey:
            QTest::keyClick(edit, Qt::Key_Return);
            break;
        case Finish::OkButton:
            QTest::mouseClick(buttonWithText(dialog, translateText("确定")), Qt::LeftButton);
            break;
        case Finish::EscapeKey:
            QTest::keyClick(edit, Qt::Key_Escape);
            break;
        case Finish::CancelButton:
            QTest::mouseClick(buttonWithText(dialog, translateText("取消")), Qt::LeftButton);
            break;
        }
        itemsAfter = combo->count();
        for (int i = 0; i < combo->count(); ++i)
            itemTexts << combo->itemText(i);
    });

    QCOMPARE(result, expected);
    QCOMPARE(accepted, expectAccepted);
    // The dialog never adds the typed name to the list.
    QCOMPARE(itemsAfter, labels.size());
    QCOMPARE(itemTexts, labels);
}

void TestLabelDialog::outFlagIsOptional()
{
    const QString result = runAskLabel({}, QString(), nullptr, [](LabelDialog *dialog) {
        QTest::keyClicks(dialog->findChild<QComboBox *>()->lineEdit(), QStringLiteral("cat"));
        QTest::keyClick(dialog->findChild<QComboBox *>()->lineEdit(), Qt::Key_Enter);
    });
    QCOMPARE(result, QStringLiteral("cat"));
}

// The "don't ask for the category" box: shown only when asked for, written back when accepted.
void TestLabelDialog::dontAskBox_data()
{
    QTest::addColumn<int>("given");      // -1: not asked for; else the state handed in
    QTest::addColumn<bool>("click");
    QTest::addColumn<int>("finish");
    QTest::addColumn<bool>("expected");  // the state afterwards

    QTest::newRow("not asked for: no box") << -1 << false << int(Finish::ReturnKey) << false;
    QTest::newRow("ticked and accepted") << 0 << true << int(Finish::ReturnKey) << true;
    QTest::newRow("unticked and accepted") << 1 << true << int(Finish::OkButton) << false;
    QTest::newRow("left as it was") << 1 << false << int(Finish::ReturnKey) << true;
    QTest::newRow("ticked but cancelled: unchanged") << 0 << true << int(Finish::EscapeKey) << false;
}

void TestLabelDialog::dontAskBox()
{
    QFETCH(int, given);
    QFETCH(bool, click);
    QFETCH(int, finish);
    QFETCH(bool, expected);

    bool dontAsk = given == 1;
    bool shown = false;
    bool shownChecked = false;
    bool reached = false;
    QString boxText;
    QTimer poll;
    poll.setInterval(10);
    connect(&poll, &QTimer::timeout, this, [&] {
        auto *dialog = qobject_cast<LabelDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isActiveWindow())
            return;
        poll.stop();
        reached = true;
        auto *box = dialog->findChild<QCheckBox *>(QStringLiteral("dontAsk"));
        shown = box && box->isVisible();
        shownChecked = shown && box->isChecked();
        if (shown) {
            boxText = box->text();
            if (click)
                QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
        }
        // Typed where a user's keys go: a click on the box leaves them with the field.
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("cat"));
        if (Finish(finish) == Finish::OkButton)
            QTest::mouseClick(buttonWithText(dialog, translateText("确定")), Qt::LeftButton);
        else
            QTest::keyClick(dialog->findChild<QComboBox *>()->lineEdit(),
                            Finish(finish) == Finish::EscapeKey ? Qt::Key_Escape : Qt::Key_Return);
    });
    poll.start();
    const QString result = LabelDialog::askLabel(nullptr, {QStringLiteral("car")}, QString(), nullptr,
                                                 QStringLiteral("输入类别"), given < 0 ? nullptr : &dontAsk);
    QVERIFY(reached);
    QCOMPARE(shown, given >= 0);
    QCOMPARE(shownChecked, given == 1);
    if (shown)
        QCOMPARE(boxText, QStringLiteral("以后不再询问类别"));
    QCOMPARE(result, Finish(finish) == Finish::EscapeKey ? QString() : QStringLiteral("cat"));
    QCOMPARE(dontAsk, expected);
}

// The dialog keeps its width; the box's text is whole in every language.
void TestLabelDialog::dontAskBoxFitsEveryLanguage()
{
    QStringList cut;
    for (const auto &language : languageList()) {
        setLanguage(language.first);
        LabelDialog dialog({QStringLiteral("car")}, QString(), translateText("输入类别"));
        dialog.showDontAsk(false);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto *box = dialog.findChild<QCheckBox *>(QStringLiteral("dontAsk"));
        if (box->width() < box->sizeHint().width())
            cut << QStringLiteral("%1: %2").arg(language.first, box->text());
        QCOMPARE(dialog.width(), 360);
    }
    setLanguage(QStringLiteral("zh_CN"));
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1String("; "))));
}

void TestLabelDialog::initialTextSelectedAndFocused()
{
    LabelDialog dialog({QStringLiteral("car"), QStringLiteral("person")}, QStringLiteral("person"),
                       QStringLiteral("修改类别"));
    auto *combo = dialog.findChild<QComboBox *>();
    QCOMPARE(dialog.windowTitle(), QStringLiteral("修改类别"));
    QCOMPARE(dialog.width(), 360);
    QCOMPARE(combo->currentText(), QStringLiteral("person"));
    QCOMPARE(combo->lineEdit()->selectedText(), QStringLiteral("person"));
    QCOMPARE(combo->lineEdit()->placeholderText(), QStringLiteral("输入或选择类别"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QTRY_VERIFY(combo->hasFocus() || combo->lineEdit()->hasFocus());
    // Still selected once shown, so the first key press replaces it.
    QCOMPARE(combo->lineEdit()->selectedText(), QStringLiteral("person"));
}

void TestLabelDialog::swatchFollowsText_data()
{
    QTest::addColumn<QString>("initial");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QColor>("expected");
    const QColor line(0x3A, 0x41, 0x50);
    QTest::newRow("empty") << "" << "" << line;
    QTest::newRow("blank") << "" << "    " << line;
    QTest::newRow("initial text") << "person" << "" << labelColor(QStringLiteral("person"));
    QTest::newRow("typed name") << "" << "bicycle" << labelColor(QStringLiteral("bicycle"));
    QTest::newRow("padded name as the bare name") << "" << "  bicycle " << labelColor(QStringLiteral("bicycle"));
    QTest::newRow("typed over the initial text") << "person" << "dog" << labelColor(QStringLiteral("dog"));
}

void TestLabelDialog::swatchFollowsText()
{
    QFETCH(QString, initial);
    QFETCH(QString, typed);
    QFETCH(QColor, expected);

    LabelDialog dialog({QStringLiteral("car"), QStringLiteral("person")}, initial, QStringLiteral("输入类别"));
    dialog.show();
    QTest::keyClicks(dialog.findChild<QComboBox *>()->lineEdit(), typed);

    auto *swatch = dialog.findChild<QLabel *>(QStringLiteral("labelSwatch"));
    QVERIFY(swatch);
    QCOMPARE(swatch->size(), QSize(20, 20));
    const QImage pixels = swatch->grab().toImage();
    QCOMPARE(pixels.pixelColor(10, 10).name(), expected.name());
}

void TestLabelDialog::rendersAsDarkDialog()
{
    LabelDialog dialog({QStringLiteral("car"), QStringLiteral("person")}, QStringLiteral("person"),
                       QStringLiteral("输入类别"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QImage image = dialog.grab().toImage();
    saveRender(image, QStringLiteral("labeldialog.png"));

    QCOMPARE(image.pixelColor(3, 3).name(), QStringLiteral("#262a33"));
    QPushButton *ok = buttonWithText(&dialog, QStringLiteral("确定"));
    QVERIFY(ok && ok->isDefault());
    const QPoint okCorner = ok->mapTo(&dialog, QPoint(6, 3));
    QCOMPARE(image.pixelColor(okCorner).name(), QStringLiteral("#4c8dff"));
    auto *combo = dialog.findChild<QComboBox *>();
    const QPoint comboInside = combo->mapTo(&dialog, QPoint(combo->width() - 40, 3));
    QCOMPARE(image.pixelColor(comboInside).name(), QStringLiteral("#333947"));
}

// The dialog naming a new shape keeps off it: beside the cursor, away from the shape, on screen.
void TestLabelDialog::placedBesideTheShape_data()
{
    QTest::addColumn<QRect>("shape");
    QTest::addColumn<QPoint>("cursor");
    QTest::addColumn<QPoint>("expected");   // the dialog's top left; a 300x200 dialog, a 1280x800 screen

    QTest::newRow("dragged to the bottom right: right of the cursor")
        << QRect(400, 300, 200, 100) << QPoint(600, 400) << QPoint(616, 300);
    QTest::newRow("dragged to the top left: left of the cursor")
        << QRect(400, 300, 200, 100) << QPoint(400, 300) << QPoint(84, 200);
    QTest::newRow("near the right edge: to the left instead")
        << QRect(1000, 300, 200, 100) << QPoint(1199, 399) << QPoint(684, 299);
    QTest::newRow("near the top: kept inside the screen")
        << QRect(400, 0, 200, 60) << QPoint(599, 59) << QPoint(615, 0);
    QTest::newRow("a shape as wide as the screen: below it")
        << QRect(0, 100, 1280, 200) << QPoint(1279, 299) << QPoint(980, 315);
    QTest::newRow("a shape filling the screen: a corner away from the cursor")
        << QRect(0, 0, 1280, 800) << QPoint(1279, 799) << QPoint(0, 0);
}

void TestLabelDialog::placedBesideTheShape()
{
    QFETCH(QRect, shape);
    QFETCH(QPoint, cursor);
    QFETCH(QPoint, expected);
    const QRect screen(0, 0, 1280, 800);
    const QSize size(300, 200);
    const QPoint at = LabelDialog::placeBeside(shape, cursor, size, screen);
    QCOMPARE(at, expected);
    QVERIFY(screen.contains(QRect(at, size)));
    if (shape != screen)
        QVERIFY(!QRect(at, size).intersects(shape));
}

BRINDLE_TEST_MAIN(TestLabelDialog)
#include "tst_labeldialog.moc"
