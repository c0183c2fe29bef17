#include "support/clirunner.h"
#include "testmain.h"

// The model answer goes in on standard input; the annotations come out as JSON Lines.
class TestParseCli : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parse_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("out");

        const QByteArray fenced = "```json\n[{\"label\":\"cat\",\"bbox_2d\":[100,200,300,400],\"score\":0.9}]\n```";
        QTest::newRow("fenced, normalised coordinates")
            << QStringList{"--source", "2000x1000"} << fenced << 0
            << QStringList{R"({"confidence":0.9,"difficult":false,"kind":"rect","label":"cat","pending":0,"points":[],"rect":[200,200,400,200]})"};
        QTest::newRow("pixels of a downscaled image, pending")
            << QStringList{"--source", "3136x1568", "--sent", "1568x784", "--pending"}
            << QByteArray(R"([{"label":"cat","bbox_2d":[1200,50,1500,300],"score":0.9}])") << 0
            << QStringList{R"({"confidence":0.9,"difficult":false,"kind":"rect","label":"cat","pending":1,"points":[],"rect":[2400,100,600,500]})"};
        QTest::newRow("class mapping and restriction")
            << QStringList{"--source", "1000x1000", "--classes", "person,car", "--restrict"}
            << QByteArray(R"([{"label":"Cars ","bbox":[0,0,500,500]},{"label":"Sports Car","bbox":[0,0,500,500]},)"
                          R"({"label":"dog","bbox":[0,0,500,500]}])") << 0
            << QStringList{R"({"confidence":1,"difficult":false,"kind":"rect","label":"car","pending":0,"points":[],"rect":[0,0,500,500]})"};
        QTest::newRow("below the minimum score")
            << QStringList{"--source", "1000x1000", "--min-score", "0.5"}
            << QByteArray(R"([{"label":"a","bbox":[0,0,500,500],"score":0.49}])") << 0 << QStringList{};
        QTest::newRow("polygon clamped to the image")
            << QStringList{"--source", "1000x1000"}
            << QByteArray(R"([{"label":"p","bbox_2d":[0,0,10,10],"polygon":[[0,0],[1200,0],[500,500]]}])") << 0
            << QStringList{R"({"confidence":1,"difficult":false,"kind":"polygon","label":"p","pending":0,"points":[[0,0],[1000,0],[500,500]],"rect":[0,0,1000,500]})"};
        QTest::newRow("binary garbage") << QStringList{"--source", "100x100"} << QByteArray("\x00\xff[[{{,,]", 9) << 0
                                        << QStringList{};
        QTest::newRow("no source size") << QStringList{} << QByteArray("[]") << 2 << QStringList{};
        QTest::newRow("malformed size") << QStringList{"--source", "12by5"} << QByteArray("[]") << 2 << QStringList{};
    }
    void parse()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, answer);
        QFETCH(int, exitCode);
        QFETCH(QStringList, out);

        CliOptions options = inEnglish();
        options.input = answer;
        const CliResult result = runCli(QStringList{"parse"} + args, options);
        QCOMPARE(result.exitCode, exitCode);   // -1 if it did not start, crashed or hung
        QCOMPARE(result.lines, out);
        if (exitCode == 2)
            QVERIFY(result.err.contains("usage: brindlemark-cli parse"));
    }
};

BRINDLE_TEST_MAIN(TestParseCli)
#include "tst_parsecli.moc"
