#include "ui/toastwidget.h"

#include "stylesheet.h"
#include "testmain.h"

#include <QElapsedTimer>
#include <QWidget>

class TestToastWidget : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void startsHidden();
    void showsCentredAtBottom();
    void followsParentResize();
    void secondMessageGetsFullTime();
    void newMessageInterruptsFadeOut();
    void showMessageLater_data();
    void showMessageLater();
    void rendersAsDarkCard();

private:
    QWidget *m_host = nullptr;
    ToastWidget *m_toast = nullptr;
};

void TestToastWidget::initTestCase()
{
    QVERIFY(installSourceStyleSheet());
}

void TestToastWidget::init()
{
    m_host = new QWidget;
    m_host->resize(600, 400);
    m_host->show();
    m_toast = new ToastWidget(m_host);
}

void TestToastWidget::cleanup()
{
    delete m_host;
    m_host = nullptr;
    m_toast = nullptr;
}

void TestToastWidget::startsHidden()
{
    QVERIFY(!m_toast->isVisible());
    QCOMPARE(m_toast->opacity(), 0.0);
    QCOMPARE(m_toast->remainingDisplayTime(), -1);
}

void TestToastWidget::showsCentredAtBottom()
{
    m_toast->showMessage(QStringLiteral("已保存 12 个标注"));
    QVERIFY(m_toast->isVisible());
    QCOMPARE(m_toast->text(), QStringLiteral("已保存 12 个标注"));
    QVERIFY(m_toast->remainingDisplayTime() > 3500);

    const QPoint target((600 - m_toast->width()) / 2, 400 - m_toast->height() - 36);
    // Slides up 8 px into place while fading in.
    QCOMPARE(m_toast->pos(), target + QPoint(0, 8));
    QTRY_COMPARE(m_toast->pos(), target);
    QTRY_COMPARE(m_toast->opacity(), 1.0);
}

void TestToastWidget::followsParentResize()
{
    m_toast->showMessage(QStringLiteral("hello"));
    QTRY_COMPARE(m_toast->opacity(), 1.0);
    m_host->resize(900, 300);
    QTRY_COMPARE(m_toast->pos(), QPoint((900 - m_toast->width()) / 2, 300 - m_toast->height() - 36));
}

void TestToastWidget::secondMessageGetsFullTime()
{
    m_toast->setDisplayTime(1000);
    QElapsedTimer sinceFirst;
    sinceFirst.start();
    m_toast->showMessage(QStringLiteral("first"));
    QTRY_VERIFY(sinceFirst.elapsed() >= 800);

    m_toast->showMessage(QStringLiteral("second, a longer message"));
    QCOMPARE(m_toast->text(), QStringLiteral("second, a longer message"));
    QVERIFY(m_toast->remainingDisplayTime() > 900);

    // Past the first message's end (and well into what would have been its fade-out).
    QTRY_VERIFY(sinceFirst.elapsed() >= 1200);
    QVERIFY(m_toast->isVisible());
    QCOMPARE(m_toast->opacity(), 1.0);
    QVERIFY(m_toast->remainingDisplayTime() > 0);
    QTRY_VERIFY(!m_toast->isVisible());
    QCOMPARE(m_toast->opacity(), 0.0);
    QCOMPARE(m_toast->remainingDisplayTime(), -1);
}

void TestToastWidget::newMessageInterruptsFadeOut()
{
    m_toast->setDisplayTime(200);
    m_toast->showMessage(QStringLiteral("going"));
    QTRY_VERIFY(m_toast->remainingDisplayTime() == -1 && m_toast->opacity() < 1.0);
    QVERIFY(m_toast->isVisible());

    m_toast->setDisplayTime(4000);
    m_toast->showMessage(QStringLiteral("back"));
    QVERIFY(m_toast->remainingDisplayTime() > 3500);
    QTRY_COMPARE(m_toast->opacity(), 1.0);
    QVERIFY(m_toast->isVisible());
    QCOMPARE(m_toast->text(), QStringLiteral("back"));
}

void TestToastWidget::showMessageLater_data()
{
    QTest::addColumn<int>("delay");
    QTest::newRow("after 150 ms") << 150;
    QTest::newRow("zero") << 0;
    QTest::newRow("negative counts as zero") << -500;
}

void TestToastWidget::showMessageLater()
{
    QFETCH(int, delay);
    m_toast->showMessageLater(QStringLiteral("自动标注完成"), delay);
    // Never shown synchronously: the caller's own message may come first.
    QVERIFY(!m_toast->isVisible());
    QTRY_VERIFY(m_toast->isVisible());
    QCOMPARE(m_toast->text(), QStringLiteral("自动标注完成"));
}

void TestToastWidget::rendersAsDarkCard()
{
    m_toast->showMessage(QStringLiteral("已保存 · Saved 3 annotations"));
    QTRY_COMPARE(m_toast->opacity(), 1.0);
    QTRY_VERIFY(m_toast->y() == m_host->height() - m_toast->height() - 36);

    const QImage image = m_host->grab().toImage();
    saveRender(image, QStringLiteral("toast.png"));
    // Card background from the style sheet, inside the border, above the text.
    const QPoint inside = m_toast->pos() + QPoint(m_toast->width() / 2, 3);
    QCOMPARE(image.pixelColor(inside).name(), QStringLiteral("#2d323d"));
    // The host around it keeps the window background.
    QCOMPARE(image.pixelColor(5, 5).name(), QStringLiteral("#1e2128"));
}

BRINDLE_TEST_MAIN(TestToastWidget)
#include "tst_toastwidget.moc"
