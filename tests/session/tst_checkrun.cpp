#include "session/checkrun.h"

#include "checker/checkerfixtures.h"
#include "inference/autolabeltask.h"
#include "inference/vllmclient.h"
#include "shared/language.h"
#include "support/fakeopenaiserver.h"
#include "testmain.h"

#include <QSignalSpy>
#include <QTemporaryDir>

Q_DECLARE_METATYPE(FakeOpenAiServer::Answer)

// One label check driven directly: the rule half on the checker's thread, the model half through a
// client talking to a fake server, and what each signal carries when both have ended.
class TestCheckRun : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void bothHalves_data();
    void bothHalves();

private:
    QTemporaryDir m_tmp;
    QString m_images;
};

void TestCheckRun::initTestCase()
{
    setLanguage(QStringLiteral("zh_CN"));
    // a: a car the model may see otherwise; b: a box 2 pixels wide; c: a category not in the list.
    const QString ds = m_tmp.path() + "/ds";
    m_images = ds + "/images";
    QVERIFY(Fixtures::writeBytes(ds + "/labels/classes.txt", "car\nbus\n"));
    for (const char *name : {"a", "b", "c"})
        QVERIFY(Fixtures::makeImage(m_images + "/" + name + ".png", 1000, 1000));
    QVERIFY(Fixtures::writeBytes(ds + "/labels/a.txt", "0 0.25 0.25 0.3 0.3\n"));
    QVERIFY(Fixtures::writeBytes(ds + "/labels/b.txt", "1 0.5 0.5 0.0015 0.2\n"));
    QVERIFY(Fixtures::writeBytes(m_images + "/annotations/c.xml", Fixtures::vocXml({{"truck", 10, 10, 200, 200}})));
}

void TestCheckRun::bothHalves_data()
{
    QTest::addColumn<bool>("withClient");
    QTest::addColumn<QStringList>("review");      // image names sent to the model
    QTest::addColumn<QList<FakeOpenAiServer::Answer>>("answers");
    QTest::addColumn<bool>("cancel");             // the client cancelled once the rules have finished
    QTest::addColumn<QStringList>("kinds");       // "image kind" of each finding, sorted
    QTest::addColumn<QList<int>>("summary");      // checked, reviewed, rule issues, model issues, issue images
    QTest::addColumn<bool>("reviewed");
    QTest::addColumn<bool>("cancelled");

    using S = FakeOpenAiServer;
    const QStringList rules{"b tiny_box", "c unknown_category"};
    QTest::newRow("rules only") << true << QStringList() << QList<S::Answer>() << false << rules
                                << QList<int>{3, 0, 2, 0, 2} << false << false;
    QTest::newRow("no client: the model half is never started")
        << false << QStringList{"a"} << QList<S::Answer>() << false << rules << QList<int>{3, 0, 2, 0, 2} << false
        << false;
    QTest::newRow("both halves")
        << true << QStringList{"a"}
        << QList<S::Answer>{S::chat(R"([{"label":"bus","bbox_2d":[100,100,400,400],"score":0.9}])")} << false
        << QStringList{"a model_mislabel"} + rules << QList<int>{3, 1, 2, 1, 3} << true << false;
    QTest::newRow("a failed request is a finding")
        << true << QStringList{"a"} << QList<S::Answer>{S::status(404, "{}")} << false
        << QStringList{"a inference_failed"} + rules << QList<int>{3, 1, 2, 1, 3} << true << false;
    QTest::newRow("cancelled: nothing reviewed, the rules' findings kept")
        << true << QStringList{"a", "b"} << QList<S::Answer>{S::neverAnswer()} << true << rules
        << QList<int>{3, 0, 2, 0, 2} << true << true;
}

void TestCheckRun::bothHalves()
{
    QFETCH(bool, withClient);
    QFETCH(QStringList, review);
    QFETCH(QList<FakeOpenAiServer::Answer>, answers);
    QFETCH(bool, cancel);
    QFETCH(QStringList, kinds);
    QFETCH(QList<int>, summary);
    QFETCH(bool, reviewed);
    QFETCH(bool, cancelled);

    FakeOpenAiServer server;
    QVERIFY(server.listen());
    for (const FakeOpenAiServer::Answer &answer : answers)
        server.enqueue(answer);
    ServerConfig config;
    config.baseUrl = server.baseUrl();
    config.concurrency = 1;
    VllmClient client;
    client.setServerConfig(config);

    CheckRun run(withClient ? &client : nullptr);
    QStringList found;
    connect(&run, &CheckRun::issueFound, this, [&](const LabelIssue &issue) {
        found << QFileInfo(issue.path).baseName() + ' ' + issue.kindName();
    });
    QSignalSpy rulesDone(&run, &CheckRun::rulesFinished);
    QSignalSpy reviewDone(&run, &CheckRun::reviewFinished);
    QSignalSpy done(&run, &CheckRun::finished);

    QStringList paths, sent;
    for (const char *name : {"a", "b", "c"})
        paths << m_images + "/" + name + ".png";
    for (const QString &name : std::as_const(review))
        sent << m_images + "/" + name + ".png";
    QVERIFY(run.start(paths, {"car", "bus"}, sent, config));
    QVERIFY(run.isRunning());
    QCOMPARE(run.isReviewing(), reviewed);
    // One check at a time: a second start changes nothing.
    QVERIFY(!run.start(paths, {}, {}, config));

    if (cancel) {
        QTRY_COMPARE(rulesDone.count(), 1);
        QTRY_VERIFY(server.openRequests() > 0);
        QVERIFY(run.isRunning());
        client.cancel();
    }
    QTRY_COMPARE(done.count(), 1);
    QVERIFY(!run.isRunning());
    QCOMPARE(rulesDone.count(), 1);
    QCOMPARE(reviewDone.count(), reviewed ? 1 : 0);

    const auto s = done.at(0).at(0).value<CheckSummary>();
    QCOMPARE((QList<int>{s.checkedImages, s.reviewedImages, s.ruleIssues, s.modelIssues, s.issueImages}), summary);
    QCOMPARE(s.issues(), summary.at(2) + summary.at(3));
    QCOMPARE(s.reviewed, reviewed);
    QCOMPARE(s.cancelled, cancelled);
    // The halves run side by side: their findings interleave in no fixed order.
    found.sort();
    QCOMPARE(found, kinds);
    if (reviewed)
        QCOMPARE(reviewDone.at(0).at(0).value<CheckSummary>().cancelled, cancelled);

    // The client is shared: once the check has ended, another task's images are none of its business.
    if (withClient) {
        server.setDefaultAnswer(FakeOpenAiServer::chat(R"([{"label":"bus","bbox_2d":[0,0,50,50]}])"));
        AutoLabelTask other;
        other.paths = {paths.at(2)};
        other.server = config;
        QSignalSpy otherDone(&client, &VllmClient::taskFinished);
        client.startTask(other);
        QTRY_COMPARE(otherDone.count(), 1);
        found.sort();
        QCOMPARE(found, kinds);
        QCOMPARE(done.count(), 1);
    }
}

BRINDLE_TEST_MAIN(TestCheckRun)
#include "tst_checkrun.moc"
