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
    void sync_data();
    void sync();
    void staleLockTakenOver();

private:
    // The rows' "DIR" is the test's folder.
    AnnotationCache inDir(const AnnotationCache &cache) const;
    AnnotationCache cacheOf(const QString &text) const { return pendingOf(m_tmp->path(), text); }
    QString describe(const AnnotationCache &cache) const { return describePending(m_tmp->path(), cache); }

    std::unique_ptr<QTemporaryDir> m_tmp;
};

AnnotationCache TestPendingFile::inDir(const AnnotationCache &cache) const
{
    AnnotationCache out;
    for (auto it = cache.cbegin(); it != cache.cend(); ++it)
        out.insert(QString(it.key()).replace(QStringLiteral("DIR"), m_tmp->path()), it.value());
    return out;
}

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

    QTest::newRow("keys relative to the folder")
        << AnnotationCache{{"DIR/a.jpg", {box("cat", 10, 20, 110, 70, 1, 0.9)}}}
        << QByteArray(R"({"pending":{"a.jpg":[{"b":[10,20,110,70],"c":0.9,"d":0,"l":"cat","t":"r"}]},"version":1})");

    QTest::newRow("polygon, difficult, unicode")
        << AnnotationCache{{"/d/c.png", {polygon("猫", {{1, 2}, {3, 4}, {5, 6}}, 1, -1, true)}}}
        << QByteArray(R"({"pending":{"/d/c.png":[{"c":-1,"d":1,"l":"猫","p":[1,2,3,4,5,6],"t":"p"}]},"version":1})");
}

void TestPendingFile::writeBytes()
{
    QFETCH(AnnotationCache, cache);
    QFETCH(QByteArray, expected);
    cache = inDir(cache);
    QVERIFY(writePendingFile(m_tmp->path(), cache));
    QCOMPARE(Fixtures::readBytes(m_tmp->path() + "/.brindle_pending.json"), expected);
}

void TestPendingFile::read_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<AnnotationCache>("expected");
    QTest::addColumn<QStringList>("files");   // made in the folder (DIR) first

    auto record = [](int kind, const QString &label, const QRectF &rect, const QList<QPointF> &points,
                     double confidence, bool difficult) {
        Annotation a;
        a.kind = Annotation::Kind(kind);
        a.label = label;
        a.rect = rect;
        a.points = points;
        a.confidence = confidence;
        a.difficult = difficult;
        a.pending = 1;
        return a;
    };

    QTest::newRow("box") << QByteArray(R"({"version":1,"pending":{"/d/a.jpg":[{"t":"r","l":"cat","c":0.9,"d":0,"b":[10,20,110,70]}]}})")
                         << AnnotationCache{{"/d/a.jpg", {record(0, "cat", QRectF(10, 20, 100, 50), {}, 0.9, false)}}} << QStringList{};
    QTest::newRow("d 1 is difficult, true is not")
        << QByteArray(R"({"pending":{"/a":[{"l":"x","d":1,"b":[0,0,1,1]},{"l":"y","d":true,"b":[0,0,1,1]}]}})")
        << AnnotationCache{{"/a", {record(0, "x", QRectF(0, 0, 1, 1), {}, -1, true),
                                   record(0, "y", QRectF(0, 0, 1, 1), {}, -1, false)}}} << QStringList{};
    QTest::newRow("two-point polygon becomes its box")
        << QByteArray(R"({"pending":{"/a":[{"t":"p","l":"x","p":[1,2,3,4],"b":[0,0,5,5]},{"t":"p","l":"y","p":[1,2,3,4]}]}})")
        << AnnotationCache{{"/a", {record(0, "x", QRectF(0, 0, 5, 5), {{1, 2}, {3, 4}}, -1, false),
                                   record(0, "y", QRectF(), {{1, 2}, {3, 4}}, -1, false)}}} << QStringList{};
    QTest::newRow("polygon, odd trailing number and non-numbers")
        << QByteArray(R"({"pending":{"/a":[{"t":"p","l":"x","c":"high","p":[1,2,"a",4,5,6,7],"b":[0,0,5,5]}]}})")
        << AnnotationCache{{"/a", {record(1, "x", QRectF(), {{1, 2}, {0, 4}, {5, 6}}, -1, false)}}} << QStringList{};
    QTest::newRow("box with a short b stays empty")
        << QByteArray(R"({"pending":{"/a":[{"l":"x","b":[1,2,3]}]}})")
        << AnnotationCache{{"/a", {record(0, "x", QRectF(), {}, -1, false)}}} << QStringList{};
    QTest::newRow("members without records are absent")
        << QByteArray(R"({"pending":{"/a":[],"/b":"junk","/c":[{}]}})")
        << AnnotationCache{{"/c", {record(0, "", QRectF(), {}, -1, false)}}} << QStringList{};
    QTest::newRow("corrupt file") << QByteArray(R"({"pending":{"/a":[{"l":"x")") << AnnotationCache{} << QStringList{};
    QTest::newRow("top level array") << QByteArray(R"([{"pending":{}}])") << AnnotationCache{} << QStringList{};
    QTest::newRow("pending not an object") << QByteArray(R"({"pending":[1,2]})") << AnnotationCache{} << QStringList{};

    // Keys of the folder: relative, or absolute from where the folder was when they were written.
    const QByteArray cat = R"([{"l":"cat","b":[0,0,1,1]}])";
    const QByteArray dog = R"([{"l":"dog","b":[0,0,1,1]}])";
    const Annotation catRecord = record(0, "cat", QRectF(0, 0, 1, 1), {}, -1, false);
    const Annotation dogRecord = record(0, "dog", QRectF(0, 0, 1, 1), {}, -1, false);
    QTest::newRow("relative key") << QByteArray(R"({"pending":{"a.jpg":)" + cat + "}}")
                                  << AnnotationCache{{"DIR/a.jpg", {catRecord}}} << QStringList{};
    QTest::newRow("moved folder: old keys follow the image that is here")
        << QByteArray(R"({"pending":{"/old/place/ds/a.jpg":)" + cat + R"(,"/old/place/ds/gone.jpg":)" + dog + "}}")
        << AnnotationCache{{"DIR/a.jpg", {catRecord}}, {"DIR/gone.jpg", {dogRecord}}} << QStringList{"a.jpg"};
    QTest::newRow("moved folder: the longest tail that names a file here")
        << QByteArray(R"({"pending":{"/old/place/ds/sub/a.jpg":)" + cat + "}}")
        << AnnotationCache{{"DIR/sub/a.jpg", {catRecord}}} << QStringList{"a.jpg", "sub/a.jpg"};
    QTest::newRow("old and new key of one image: each result once")
        << QByteArray(R"({"pending":{"a.jpg":)" + cat + R"(,"/old/a.jpg":[{"l":"cat","b":[0,0,1,1]},{"l":"dog","b":[0,0,1,1]}]}})")
        << AnnotationCache{{"DIR/a.jpg", {catRecord, dogRecord}}} << QStringList{"a.jpg"};
    QTest::newRow("an absolute key of the folder itself") << QByteArray(R"({"pending":{"DIR/./a.jpg":)" + cat + "}}")
                                                          << AnnotationCache{{"DIR/a.jpg", {catRecord}}} << QStringList{};
    QTest::newRow("a relative key that leaves the folder is no image of it")
        << QByteArray(R"({"pending":{"../a.jpg":)" + cat + R"(,"x/../../b.jpg":)" + dog + "}}") << AnnotationCache{}
        << QStringList{};
    QTest::newRow("missing file") << QByteArray() << AnnotationCache{} << QStringList{};
}

void TestPendingFile::read()
{
    QFETCH(QByteArray, content);
    QFETCH(AnnotationCache, expected);
    QFETCH(QStringList, files);
    expected = inDir(expected);
    for (const QString &file : std::as_const(files))
        QVERIFY(Fixtures::writeBytes(m_tmp->filePath(file), "x"));
    if (!content.isNull())
        QVERIFY(Fixtures::writeBytes(m_tmp->path() + "/.brindle_pending.json", content.replace("DIR", m_tmp->path().toUtf8())));
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

void TestPendingFile::sync_data()
{
    // base: the file as this program last read it; theirs: what another program made of it since
    // ("-": untouched, "corrupt", "deleted"); ours: this program's results now.
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("theirs");
    QTest::addColumn<QString>("ours");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("added");
    QTest::addColumn<QString>("removed");
    QTest::newRow("another program's results survive")
        << "a: cat" << "a: cat; c: bird" << "a: cat; b: dog" << "a: cat; b: dog; c: bird" << "c: bird" << "";
    QTest::newRow("results this program decided stay decided")
        << "a: cat dog" << "a: cat dog; c: bird" << "a: dog" << "a: dog; c: bird" << "c: bird" << "";
    QTest::newRow("results another program decided leave this one's")
        << "a: cat dog" << "a: dog" << "a: cat dog; b: fox" << "a: dog; b: fox" << "" << "a: cat";
    QTest::newRow("a result both added is kept once") << "" << "a: cat" << "a: cat" << "a: cat" << "" << "";
    QTest::newRow("an untouched file is this program's") << "a: cat dog" << "-" << "a: dog" << "a: dog" << "" << "";
    QTest::newRow("a corrupt file tells nothing") << "a: cat" << "corrupt" << "a: cat; b: dog" << "a: cat; b: dog"
                                                  << "" << "";
    QTest::newRow("a deleted file tells nothing") << "a: cat" << "deleted" << "a: cat; b: dog" << "a: cat; b: dog"
                                                  << "" << "";
}

void TestPendingFile::sync()
{
    QFETCH(QString, base);
    QFETCH(QString, theirs);
    QFETCH(QString, ours);
    QFETCH(QString, file);
    QFETCH(QString, added);
    QFETCH(QString, removed);
    const QString dir = m_tmp->path();
    QVERIFY(writePendingFile(dir, cacheOf(base)));
    const PendingFileState state = readPendingFileState(dir);
    QCOMPARE(describe(state.records), describe(cacheOf(base)));
    if (theirs == u"corrupt")
        QVERIFY(Fixtures::writeBytes(pendingFilePath(dir), R"({"pending":{"a.jpg")"));
    else if (theirs == u"deleted")
        QVERIFY(QFile::remove(pendingFilePath(dir)));
    else if (theirs != u"-")
        QVERIFY(writePendingFile(dir, cacheOf(theirs)));

    const PendingSync sync = syncPendingFile(dir, state, cacheOf(ours));
    QVERIFY(sync.ok);
    QCOMPARE(describe(readPendingFile(dir)), file);
    QCOMPARE(describe(sync.state.records), file);
    QVERIFY(sync.state.stamp == FileStamp::of(pendingFilePath(dir)));
    QCOMPARE(describe(sync.added), added);
    QCOMPARE(describe(sync.removed), removed);
    QVERIFY(!QFileInfo::exists(pendingLockPath(dir)));

    // Only looking: the same merge, nothing written.
    const QByteArray before = Fixtures::readBytes(pendingFilePath(dir));
    const PendingSync look = syncPendingFile(dir, state, cacheOf(ours), false);
    QVERIFY(look.ok);
    QCOMPARE(Fixtures::readBytes(pendingFilePath(dir)), before);
    QCOMPARE(describe(look.state.records), describe(readPendingFile(dir)));
}

void TestPendingFile::staleLockTakenOver()
{
    const QString lockPath = pendingLockPath(m_tmp->path());
    QVERIFY(Fixtures::writeStaleLock(lockPath));
    QVERIFY(writePendingFile(m_tmp->path(), {{m_tmp->filePath("a.jpg"), {box("cat", QRectF(1, 1, 1, 1), 1)}}}));
    QCOMPARE(readPendingFile(m_tmp->path()).size(), 1);
    QVERIFY(!QFileInfo::exists(lockPath));
}

BRINDLE_TEST_MAIN(TestPendingFile)
#include "tst_pendingfile.moc"
