#include "ui/progressoverlay.h"

#include "shared/language.h"

#include "stylesheet.h"
#include "testmain.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QWidget>

#include <cstdlib>

class TestProgressOverlay : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void formatDuration_data();
    void formatDuration();
    void timeText_data();
    void timeText();
    void singleImageRun();
    void titleShowsFileName_data();
    void titleShowsFileName();
    void pausedTimeNotCounted();
    void tickRefreshesTime();
    void cancelKeepsCard();
    void finishHidesAfterDelay();
    void startDuringDelayKeepsCard();
    void placement_data();
    void placement();
    void retranslate();
    void rendersAsDarkCard();

private:
    QPushButton *button(const char *name) const;

    QWidget *m_host = nullptr;
    ProgressOverlay *m_card = nullptr;
    qint64 m_now = 0;
};

void TestProgressOverlay::initTestCase()
{
    QVERIFY(installSourceStyleSheet());
    setLanguage(QStringLiteral("zh_CN"));
}

void TestProgressOverlay::init()
{
    m_host = new QWidget;
    m_host->resize(800, 600);
    m_host->show();
    m_card = new ProgressOverlay(m_host);
    m_now = 5000;   // an arbitrary monotonic reading; only differences matter
    m_card->setClock([this] { return m_now; });
}

void TestProgressOverlay::cleanup()
{
    delete m_host;
    m_host = nullptr;
    m_card = nullptr;
}

QPushButton *TestProgressOverlay::button(const char *name) const
{
    return m_card->findChild<QPushButton *>(QLatin1String(name));
}

void TestProgressOverlay::formatDuration_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("expected");
    QTest::newRow("zero") << qint64(0) << "0:00";
    QTest::newRow("single-digit seconds padded") << qint64(7) << "0:07";
    QTest::newRow("minutes not padded") << qint64(750) << "12:30";
    QTest::newRow("last second below an hour") << qint64(3599) << "59:59";
    QTest::newRow("one hour") << qint64(3600) << "1:00:00";
    QTest::newRow("minutes and seconds padded") << qint64(3909) << "1:05:09";
    QTest::newRow("many hours") << qint64(100 * 3600 + 59) << "100:00:59";
    QTest::newRow("negative counts as zero") << qint64(-42) << "0:00";
}

void TestProgressOverlay::formatDuration()
{
    QFETCH(qint64, seconds);
    QFETCH(QString, expected);
    QCOMPARE(ProgressOverlay::formatDuration(seconds), expected);
}

void TestProgressOverlay::timeText_data()
{
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("done");
    QTest::addColumn<qint64>("runMs");
    QTest::addColumn<QString>("expected");
    QTest::newRow("3 of 4 after 90 s") << 4 << 3 << qint64(90000) << "已用时 1:30 · 预计剩余 0:30";
    QTest::newRow("nothing done yet") << 4 << 0 << qint64(5000) << "已用时 0:05";
    QTest::newRow("all done") << 4 << 4 << qint64(120000) << "已用时 2:00 · 即将完成";
    QTest::newRow("more done than total") << 4 << 5 << qint64(1000) << "已用时 0:01 · 即将完成";
    QTest::newRow("over an hour") << 10 << 1 << qint64(3909000) << "已用时 1:05:09 · 预计剩余 9:46:21";
    QTest::newRow("whole seconds truncated") << 3 << 1 << qint64(1999) << "已用时 0:01 · 预计剩余 0:03";
    QTest::newRow("empty run") << 0 << 0 << qint64(1500) << "已用时 0:01";
}

void TestProgressOverlay::timeText()
{
    QFETCH(int, total);
    QFETCH(int, done);
    QFETCH(qint64, runMs);
    QFETCH(QString, expected);
    m_card->start(total, QStringLiteral("/data/set/first.jpg"));
    m_now += runMs;
    m_card->setProgress(done, total, QStringLiteral("/data/set/next.jpg"));
    QCOMPARE(m_card->timeText(), expected);
    QCOMPARE(m_card->countText(), QStringLiteral("%1 / %2").arg(done).arg(total));
}

void TestProgressOverlay::singleImageRun()
{
    m_card->start(1, QStringLiteral("/data/one.png"));
    auto *bar = m_card->findChild<QProgressBar *>();
    QVERIFY(bar);
    QVERIFY(m_card->isVisible());
    QVERIFY(m_card->isActive());
    QCOMPARE(m_card->countText(), QStringLiteral("0 / 1"));
    QCOMPARE(bar->maximum(), 1);
    QCOMPARE(bar->value(), 0);
    QVERIFY(!bar->isTextVisible());
    QVERIFY(!m_card->timeText().contains(QStringLiteral(" · ")));

    m_now += 3000;
    m_card->setProgress(1, 1, QStringLiteral("/data/one.png"));
    QCOMPARE(m_card->countText(), QStringLiteral("1 / 1"));
    QCOMPARE(bar->value(), 1);
    QCOMPARE(m_card->timeText(), QStringLiteral("已用时 0:03 · 即将完成"));
}

void TestProgressOverlay::titleShowsFileName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("elided");
    QTest::newRow("short name") << "/data/set/img_001.jpg" << false;
    QTest::newRow("long name") << QStringLiteral("/data/set/") + QString(120, QLatin1Char('x'))
                                      + QStringLiteral("_end.jpg")
                               << true;
}

void TestProgressOverlay::titleShowsFileName()
{
    QFETCH(QString, path);
    QFETCH(bool, elided);
    m_card->start(3, path);
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    auto *title = m_card->findChild<QLabel *>();
    QVERIFY(title);
    QCOMPARE(title->toolTip(), path);
    if (!elided) {
        QCOMPARE(m_card->titleText(), name);
        return;
    }
    QVERIFY(m_card->titleText() != name);
    QVERIFY(m_card->titleText().contains(QChar(0x2026)));
    QVERIFY(m_card->titleText().endsWith(QStringLiteral("_end.jpg")));   // elided in the middle
    QVERIFY(QFontMetrics(title->font()).horizontalAdvance(m_card->titleText()) <= 250);
}

void TestProgressOverlay::pausedTimeNotCounted()
{
    QSignalSpy toggled(m_card, &ProgressOverlay::pauseToggled);
    QPushButton *pause = button("pauseButton");
    QVERIFY(pause);
    m_card->start(4, QStringLiteral("a.jpg"));

    m_now += 30000;
    QTest::mouseClick(pause, Qt::LeftButton);
    QVERIFY(m_card->isPaused());
    QCOMPARE(pause->text(), QStringLiteral("继续"));
    QCOMPARE(toggled.count(), 1);
    QCOMPARE(toggled.at(0).at(0).toBool(), true);
    QCOMPARE(m_card->timeText(), QStringLiteral("已用时 0:30"));

    // Results still arriving while paused do not make the clock jump ahead.
    m_now += 60000;
    m_card->setProgress(1, 4, QStringLiteral("b.jpg"));
    QCOMPARE(m_card->timeText(), QStringLiteral("已用时 0:30 · 预计剩余 1:30"));

    QTest::mouseClick(pause, Qt::LeftButton);
    QVERIFY(!m_card->isPaused());
    QCOMPARE(pause->text(), QStringLiteral("暂停"));
    QCOMPARE(toggled.count(), 2);
    QCOMPARE(toggled.at(1).at(0).toBool(), false);
    QCOMPARE(m_card->timeText(), QStringLiteral("已用时 0:30 · 预计剩余 1:30"));

    // A second pause adds to the first.
    m_now += 10000;
    QTest::mouseClick(pause, Qt::LeftButton);
    m_now += 600000;
    QTest::mouseClick(pause, Qt::LeftButton);
    m_now += 20000;
    m_card->setProgress(2, 4, QStringLiteral("c.jpg"));
    QCOMPARE(m_card->timeText(), QStringLiteral("已用时 1:00 · 预计剩余 1:00"));

    // A new run forgets the old pauses.
    m_card->start(2, QStringLiteral("d.jpg"));
    m_now += 8000;
    m_card->setProgress(1, 2, QStringLiteral("d.jpg"));
    QCOMPARE(m_card->timeText(), QStringLiteral("已用时 0:08 · 预计剩余 0:08"));
}

void TestProgressOverlay::tickRefreshesTime()
{
    m_card->start(4, QStringLiteral("a.jpg"));
    QCOMPARE(m_card->timeText(), QStringLiteral("已用时 0:00"));
    m_now += 65000;
    QTRY_COMPARE(m_card->timeText(), QStringLiteral("已用时 1:05"));

    // Hidden and shown again with its window, the card keeps counting.
    m_host->hide();
    m_host->show();
    m_now += 2000;
    QTRY_COMPARE(m_card->timeText(), QStringLiteral("已用时 1:07"));
}

void TestProgressOverlay::cancelKeepsCard()
{
    QSignalSpy cancelled(m_card, &ProgressOverlay::cancelClicked);
    m_card->start(4, QStringLiteral("a.jpg"));
    QTest::mouseClick(button("cancelButton"), Qt::LeftButton);
    QCOMPARE(cancelled.count(), 1);
    QVERIFY(m_card->isVisible());
    QVERIFY(m_card->isActive());
}

void TestProgressOverlay::finishHidesAfterDelay()
{
    m_card->setHideDelay(150);
    m_card->start(4, QStringLiteral("a.jpg"));
    m_now += 4000;
    m_card->setProgress(4, 4, QStringLiteral("d.jpg"));
    const QString lastText = m_card->timeText();
    m_card->finish();
    QVERIFY(!m_card->isActive());
    QVERIFY(m_card->isVisible());
    // The texts stay as they were until the card goes.
    m_now += 60000;
    m_card->setProgress(4, 4, QStringLiteral("d.jpg"));
    QCOMPARE(m_card->timeText(), lastText);
    QTRY_VERIFY(!m_card->isVisible());
}

void TestProgressOverlay::startDuringDelayKeepsCard()
{
    m_card->setHideDelay(300);
    QElapsedTimer sinceFinish;
    m_card->start(4, QStringLiteral("a.jpg"));
    m_card->finish();
    sinceFinish.start();
    m_card->start(2, QStringLiteral("b.jpg"));
    QTRY_VERIFY(sinceFinish.elapsed() > 600);
    QVERIFY(m_card->isVisible());
    QVERIFY(m_card->isActive());
    QCOMPARE(m_card->countText(), QStringLiteral("0 / 2"));

    // finish, start, finish: the card goes one full delay after the last finish, not the first.
    m_card->finish();
    m_card->start(2, QStringLiteral("c.jpg"));
    m_card->finish();
    QVERIFY(m_card->isVisible());
    QTRY_VERIFY(!m_card->isVisible());
}

void TestProgressOverlay::placement_data()
{
    QTest::addColumn<QSize>("hostSize");
    QTest::newRow("wide canvas") << QSize(1000, 700);
    QTest::newRow("narrower than the card") << QSize(300, 40);
}

void TestProgressOverlay::placement()
{
    QFETCH(QSize, hostSize);
    m_card->start(4, QStringLiteral("a.jpg"));
    QCOMPARE(m_card->width(), 420);
    QCOMPARE(m_card->pos(), QPoint((800 - 420) / 2, 600 - m_card->height() - 24));

    m_host->resize(hostSize);
    QTRY_COMPARE(m_card->pos(), QPoint(std::max(0, (hostSize.width() - 420) / 2),
                                       std::max(0, hostSize.height() - m_card->height() - 24)));
}

void TestProgressOverlay::retranslate()
{
    m_card->start(4, QStringLiteral("a.jpg"));
    QTest::mouseClick(button("pauseButton"), Qt::LeftButton);
    m_now += 2000;
    setLanguage(QStringLiteral("en"));
    m_card->retranslate();
    const QString pauseText = button("pauseButton")->text();
    const QString cancelText = button("cancelButton")->text();
    const QString timeText = m_card->timeText();
    setLanguage(QStringLiteral("zh_CN"));

    QCOMPARE(pauseText, QStringLiteral("Resume"));
    QCOMPARE(cancelText, QStringLiteral("Cancel"));
    QCOMPARE(timeText, QStringLiteral("Elapsed 0:00"));
}

void TestProgressOverlay::rendersAsDarkCard()
{
    m_host->resize(640, 200);
    m_card->start(12, QStringLiteral("/data/street/IMG_20240611_083015_0042.jpg"));
    m_now += 95000;
    m_card->setProgress(5, 12, QStringLiteral("/data/street/IMG_20240611_083015_0047.jpg"));

    const QImage image = m_host->grab().toImage();
    saveRender(image, QStringLiteral("progress.png"));
    const QPoint origin = m_card->pos();
    QCOMPARE(image.pixelColor(origin + QPoint(m_card->width() / 2, 4)).name(), QStringLiteral("#2d323d"));
    auto *bar = m_card->findChild<QProgressBar *>();
    QCOMPARE(bar->height(), 6);
    // Start of the filled part: the accent colour; its unfilled end: the control background.
    const QPoint barOrigin = origin + bar->pos();
    const QColor chunkStart = image.pixelColor(barOrigin + QPoint(4, 3));
    QVERIFY2(std::abs(chunkStart.red() - 0x4C) <= 4 && std::abs(chunkStart.green() - 0x8D) <= 4
                 && chunkStart.blue() == 0xFF,
             qPrintable(chunkStart.name()));   // gradient towards #7FB2FF begins at the accent
    QCOMPARE(image.pixelColor(barOrigin + QPoint(bar->width() - 5, 3)).name(), QStringLiteral("#333947"));
}

BRINDLE_TEST_MAIN(TestProgressOverlay)
#include "tst_progressoverlay.moc"
