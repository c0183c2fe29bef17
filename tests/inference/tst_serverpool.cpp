#include "inference/serverpool.h"
#include "testmain.h"

using Outcome = ServerPool::Outcome;

// Which replica takes the next request, and how long a failing one rests.
class TestServerPool : public QObject
{
    Q_OBJECT

private slots:
    void fewestInFlightFirst();
    void restGrowsAndEndsWithAnAnswer_data();
    void restGrowsAndEndsWithAnAnswer();
    void allDownOnlyWhenEachIsDownLongEnough();
};

void TestServerPool::fewestInFlightFirst()
{
    ServerPool pool;
    pool.reset({"http://a/v1", "http://b/v1", "http://c/v1"}, 2);
    QCOMPARE(pool.capacity(0), 6);
    QList<int> picked;
    for (int i = 0; i < 6; ++i) {
        const int server = pool.pick(0);
        QVERIFY(server >= 0);
        pool.sent(server);
        picked.append(server);
    }
    QCOMPARE(picked, (QList<int>{0, 1, 2, 0, 1, 2}));
    QCOMPARE(pool.pick(0), -1);   // each at its concurrency
    pool.finished(1, Outcome::Answered, 10);
    QCOMPARE(pool.pick(10), 1);
    const QList<ServerPool::Count> counts = pool.counts();
    QCOMPARE(counts.at(1).baseUrl, QStringLiteral("http://b/v1"));
    QCOMPARE(counts.at(1).requests, 2);
    QCOMPARE(counts.at(1).failed, 0);
}

void TestServerPool::restGrowsAndEndsWithAnAnswer_data()
{
    QTest::addColumn<int>("servers");
    QTest::addColumn<QList<qint64>>("rests");   // the rest after each of three outages in a row

    QTest::newRow("two servers: doubling rests") << 2 << QList<qint64>{500, 1000, 2000};
    QTest::newRow("a lone server never rests") << 1 << QList<qint64>{0, 0, 0};
}

void TestServerPool::restGrowsAndEndsWithAnAnswer()
{
    QFETCH(int, servers);
    QFETCH(QList<qint64>, rests);
    ServerPool pool;
    QStringList urls;
    for (int i = 0; i < servers; ++i)
        urls.append(QStringLiteral("http://s%1/v1").arg(i));
    pool.reset(urls, 4);
    qint64 now = 1000;
    for (qint64 rest : rests) {
        pool.sent(0);
        pool.sent(0);
        pool.finished(0, Outcome::Down, now);
        // A second reply failing in the same outage does not lengthen the rest.
        pool.finished(0, Outcome::Down, now);
        QCOMPARE(pool.nextWakeIn(now), rest ? rest : -1);
        QCOMPARE(pool.pick(now) == 0, rest == 0);
        QCOMPARE(pool.capacity(now), rest ? 4 * (servers - 1) : 4 * servers);
        now += rest;
        QCOMPARE(pool.pick(now), 0);
    }
    QCOMPARE(pool.counts().at(0).failed, 6);
    // An answer ends the outage: the next one starts from the first rest again.
    pool.sent(0);
    pool.finished(0, Outcome::Answered, now);
    pool.sent(0);
    pool.finished(0, Outcome::Down, now);
    QCOMPARE(pool.nextWakeIn(now), servers > 1 ? ServerPool::kFirstRestMs : -1);
}

void TestServerPool::allDownOnlyWhenEachIsDownLongEnough()
{
    ServerPool pool;
    pool.reset({"http://a/v1", "http://b/v1"}, 1);
    pool.sent(0);
    pool.finished(0, Outcome::Down, 0);
    QVERIFY(!pool.allDownFor(5000, 10000));   // b never failed
    pool.sent(1);
    pool.finished(1, Outcome::Down, 8000);
    QVERIFY(!pool.allDownFor(5000, 10000));   // b down for 2 s only
    QVERIFY(pool.allDownFor(5000, 13000));
    pool.sent(1);
    pool.finished(1, Outcome::Refused, 13000);   // an answer, if a useless one: b is up
    QVERIFY(!pool.allDownFor(5000, 20000));
}

BRINDLE_TEST_MAIN(TestServerPool)
#include "tst_serverpool.moc"
