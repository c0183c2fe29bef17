#include "storage/pendingfile.h"

#include "storagefixtures.h"
#include "support/annotationbuilders.h"
#include "testmain.h"

#include <QTemporaryDir>
#include <QtTest>

class TestPendingFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void writeBytes_data();
    void writeBytes();
    void read_data();
    void read();
    void roundTrip();
    void unwritableDirectoryKeepsOldFile();

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
};

void TestPendingFile::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
}

void TestPendingFile::writeBytes_data()
{
    QTest::addColumn<AnnotationCache>("cache");
    QTest::addColumn<QByteArray>("expected");

    const Annotation confirmed = box("dog", QRectF(0, 0, 5, 5));
    QTest::newRow("only images with pending records")
        << AnnotationCache{{"/d/a.jpg", {box("cat", 10, 20, 110, 70, 1, 0.9), confirmed}},
                           {"/d/b.jpg", {confirmed}}}
        << QByteArray(R"({"pending":{"/d/a.jpg":[{"b":[10,20,110,70],"c":0.9,"d":0,"l":"cat","t":"r"}]},"version":1})");
    QTest::newRow("empty set") << AnnotationCache{} << QByteArray(R"({"pending":{},"version":1})");

    QTest::newRow("polygon, difficult, unicode")
        << AnnotationCache{{"/d/c.png", {polygon("猫", {{1, 2}, {3, 4}, {5, 6}}, 1, -1, true)}}}
        << QByteArray(R"({"pending":{"/d/c.png":[{"c":-1,"d":1,"l":"猫","p":[1,2,3,4,5,6],"t":"p"}]},"version":1})");
}

void TestPendingFile::writeBytes()
{
    QFETCH(AnnotationCache, cache);
    QFETCH(QByteArray, expected);
    QVERIFY(writePendingFile(m_tmp->path(), cache));
    QCOMPARE(Fixtures::readBytes(m_tmp->path() + "/.brindle_pending.json"), expected);
}

void TestPendingFile::read_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<AnnotationCache>("expected");

    auto record = [](int kind, const QString &label, const QRectF &rect, const QList<QPointF> &points,
                     double confidence, bool difficult) {
        Annotation a;
        a.kind = kind;
        a.label = label;
        a.rect = rect;
        a.points = points;
        a.confidence = confidence;
        a.difficult = difficult;
        a.pending = 1;
        return a;
    };

    QTest::newRow("box") << QByteArray(R"({"version":1,"pending":{"/d/a.jpg":[{"t":"r","l":"cat","c":0.9,"d":0,"b":[10,20,110,70]}]}})")
                         << AnnotationCache{{"/d/a.jpg", {record(0, "cat", QRectF(10, 20, 100, 50), {}, 0.9, false)}}};
    QTest::newRow("d 1 is difficult, true is not")
        << QByteArray(R"({"pending":{"/a":[{"l":"x","d":1,"b":[0,0,1,1]},{"l":"y","d":true,"b":[0,0,1,1]}]}})")
        << AnnotationCache{{"/a", {record(0, "x", QRectF(0, 0, 1, 1), {}, -1, true),
                                   record(0, "y", QRectF(0, 0, 1, 1), {}, -1, false)}}};
    QTest::newRow("two-point polygon becomes its box")
        << QByteArray(R"({"pending":{"/a":[{"t":"p","l":"x","p":[1,2,3,4],"b":[0,0,5,5]},{"t":"p","l":"y","p":[1,2,3,4]}]}})")
        << AnnotationCache{{"/a", {record(0, "x", QRectF(0, 0, 5, 5), {{1, 2}, {3, 4}}, -1, false),
                                   record(0, "y", QRectF(), {{1, 2}, {3, 4}}, -1, false)}}};
    QTest::newRow("polygon, odd trailing number and non-numbers")
        << QByteArray(R"({"pending":{"/a":[{"t":"p","l":"x","c":"high","p":[1,2,"a",4,5,6,7],"b":[0,0,5,5]}]}})")
        << AnnotationCache{{"/a", {record(1, "x", QRectF(), {{1, 2}, {0, 4}, {5, 6}}, -1, false)}}};
    QTest::newRow("box with a short b stays empty")
        << QByteArray(R"({"pending":{"/a":[{"l":"x","b":[1,2,3]}]}})")
        << AnnotationCache{{"/a", {record(0, "x", QRectF(), {}, -1, false)}}};
    QTest::newRow("members without records are absent")
        << QByteArray(R"({"pending":{"/a":[],"/b":"junk","/c":[{}]}})")
        << AnnotationCache{{"/c", {record(0, "", QRectF(), {}, -1, false)}}};
    QTest::newRow("corrupt file") << QByteArray(R"({"pending":{"/a":[{"l":"x")") << AnnotationCache{};
    QTest::newRow("top level array") << QByteArray(R"([{"pending":{}}])") << AnnotationCache{};
    QTest::newRow("pending not an object") << QByteArray(R"({"pending":[1,2]})") << AnnotationCache{};
    QTest::newRow("missing file") << QByteArray() << AnnotationCache{};
}

void TestPendingFile::read()
{
    QFETCH(QByteArray, content);
    QFETCH(AnnotationCache, expected);
    if (!content.isNull())
        QVERIFY(Fixtures::writeBytes(m_tmp->path() + "/.brindle_pending.json", content));
    const AnnotationCache got = readPendingFile(m_tmp->path());
    QCOMPARE(got.keys().size(), expected.keys().size());
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        QVERIFY2(got.contains(it.key()), qPrintable(it.key()));
        QCOMPARE(got.value(it.key()), it.value());
    }
}

void TestPendingFile::roundTrip()
{
    Annotation poly = polygon("Ñandú", {{1.5, 2.25}, {30, 4}, {5, 60}}, 1, 0.42);
    poly.id = 9;
    const Annotation cat = box("cat", QRectF(10, 20, 100, 50), 1, 0.9);
    QVERIFY(writePendingFile(m_tmp->path(), {{"/d/a.jpg", {cat, poly}}, {"/d/b.jpg", {}}}));

    const AnnotationCache got = readPendingFile(m_tmp->path());
    QCOMPARE(got.keys(), QStringList{"/d/a.jpg"});
    Annotation expectedPoly = poly;
    expectedPoly.id = 0;
    QCOMPARE(got.value("/d/a.jpg"), (QList<Annotation>{cat, expectedPoly}));
}

void TestPendingFile::unwritableDirectoryKeepsOldFile()
{
    const QByteArray old = R"({"pending":{},"version":1})";
    QVERIFY(Fixtures::writeBytes(m_tmp->path() + "/.brindle_pending.json", old));
    Fixtures::ReadOnlyDirectory lock(m_tmp->path());
    if (!lock.ok())
        QSKIP("cannot make a directory read-only here");
    QVERIFY(!writePendingFile(m_tmp->path(), {{"/a", {box("cat", QRectF(1, 1, 1, 1), 1, 1)}}}));
    QCOMPARE(Fixtures::readBytes(m_tmp->path() + "/.brindle_pending.json"), old);
}

BRINDLE_TEST_MAIN(TestPendingFile)
#include "tst_pendingfile.moc"
