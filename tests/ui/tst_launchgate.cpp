#include "ui/launchgate.h"

#include "testmain.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QWidget>

class TestLaunchGate : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void endsAfterTheFirstPaint_data();
    void endsAfterTheFirstPaint();
    void endsLatestWithoutAPaint();
    void laterTasksRunAtOnce();
};

void TestLaunchGate::endsAfterTheFirstPaint_data()
{
    QTest::addColumn<bool>("shown");     // the widget is on screen when the gate is told to watch it
    QTest::addColumn<bool>("watched");   // else: nothing to paint, it ends when idle
    QTest::newRow("a shown widget's paint") << true << true;
    QTest::newRow("a hidden widget: at the next idle moment") << false << true;
    QTest::newRow("nothing to wait for") << false << false;
}

void TestLaunchGate::endsAfterTheFirstPaint()
{
    QFETCH(bool, shown);
    QFETCH(bool, watched);
    QWidget widget;
    widget.resize(200, 100);
    if (shown) {
        widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&widget));
    }
    LaunchGate gate;
    QSignalSpy done(&gate, &LaunchGate::done);
    QStringList ran;
    gate.whenDone([&] { ran.append(QStringLiteral("first")); });
    gate.whenDone([&] { ran.append(QStringLiteral("second")); });
    QVERIFY(ran.isEmpty());   // nothing runs before the launch ends

    QElapsedTimer sinceWatch;
    sinceWatch.start();
    if (watched)
        gate.endAfterPaintOf(&widget);
    else
        gate.endWhenIdle();
    QVERIFY(ran.isEmpty());
    QVERIFY(done.wait(LaunchGate::kLatestMs / 2));
    // Well before the latest moment: the paint (or the idle loop) ended it.
    QVERIFY2(sinceWatch.elapsed() < LaunchGate::kLatestMs, qPrintable(QString::number(sinceWatch.elapsed())));
    QCOMPARE(ran, (QStringList{QStringLiteral("first"), QStringLiteral("second")}));
    QVERIFY(gate.isDone());
    QCOMPARE(done.size(), 1);
}

void TestLaunchGate::endsLatestWithoutAPaint()
{
    // A shown widget that is never repainted (it is deleted first): the tasks still run.
    auto *widget = new QWidget;
    widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(widget));
    LaunchGate gate;
    bool ran = false;
    gate.whenDone([&] { ran = true; });
    gate.endAfterPaintOf(widget);
    delete widget;
    QSignalSpy done(&gate, &LaunchGate::done);
    QElapsedTimer waited;
    waited.start();
    QVERIFY(done.wait(LaunchGate::kLatestMs * 2));
    QVERIFY(ran);
    QVERIFY(waited.elapsed() >= LaunchGate::kLatestMs / 2);
}

void TestLaunchGate::laterTasksRunAtOnce()
{
    LaunchGate gate;
    gate.endWhenIdle();
    QTRY_VERIFY(gate.isDone());
    bool ran = false;
    gate.whenDone([&] { ran = true; });
    QVERIFY(ran);
}

BRINDLE_TEST_MAIN(TestLaunchGate)
#include "tst_launchgate.moc"
