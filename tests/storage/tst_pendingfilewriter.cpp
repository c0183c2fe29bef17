#include "storage/pendingfilewriter.h"

#include "support/annotationbuilders.h"
#include "testmain.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// n pending boxes on one image.
AnnotationCache snapshot(const QString &image, int n)
{
    QList<Annotation> records;
    for (int i = 0; i < n; ++i)
        records.append(box(QStringLiteral("car"), QRectF(10 * i, 10, 5, 5), 1));
    return {{image, records}};
}

} // namespace

class TestPendingFileWriter : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void lastSnapshotLands_data();
    void lastSnapshotLands();
    void failureReported();
    void destructionFinishesWrites();

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_image;
};

void TestPendingFileWriter::init()
{
    registerAnnotationMetaTypes();
    m_tmp = std::make_unique<QTemporaryDir>();
    m_image = m_tmp->filePath(QStringLiteral("a.jpg"));
}

void TestPendingFileWriter::lastSnapshotLands_data()
{
    QTest::addColumn<int>("writes");
    QTest::newRow("one write") << 1;
    QTest::newRow("fifty writes in a row") << 50;
}

// However many writes are asked for at once, they land in order: the file holds the last one.
void TestPendingFileWriter::lastSnapshotLands()
{
    QFETCH(int, writes);
    PendingFileWriter writer;
    QSignalSpy written(&writer, &PendingFileWriter::written);
    for (int i = 1; i <= writes; ++i)
        writer.write(m_tmp->path(), snapshot(m_image, i));
    writer.waitForIdle();
    QCOMPARE(readPendingFile(m_tmp->path()).value(m_image).size(), writes);
    QTRY_COMPARE(written.count(), writes);
    for (const QList<QVariant> &signal : std::as_const(written)) {
        QCOMPARE(signal.at(0).toString(), m_tmp->path());
        QVERIFY(signal.at(1).toBool());
    }
}

void TestPendingFileWriter::failureReported()
{
    PendingFileWriter writer;
    QSignalSpy written(&writer, &PendingFileWriter::written);
    const QString missing = m_tmp->filePath(QStringLiteral("gone"));
    writer.write(missing, snapshot(m_image, 1));
    QVERIFY(written.wait());
    QCOMPARE(written.first().at(0).toString(), missing);
    QVERIFY(!written.first().at(1).toBool());
}

void TestPendingFileWriter::destructionFinishesWrites()
{
    {
        PendingFileWriter writer;
        writer.write(m_tmp->path(), snapshot(m_image, 1));
        writer.write(m_tmp->path(), snapshot(m_image, 3));
    }
    QCOMPARE(readPendingFile(m_tmp->path()).value(m_image).size(), 3);
}

BRINDLE_TEST_MAIN(TestPendingFileWriter)
#include "tst_pendingfilewriter.moc"
