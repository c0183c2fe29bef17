#include "session/foldersession.h"
#include "session/liveannotations.h"
#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"
#include "storage/pendingfile.h"
#include "storage/storagefixtures.h"
#include "support/annotationbuilders.h"
#include "testmain.h"

#include <QDateTime>
#include <QSignalSpy>

namespace {

// What the editor of the image on screen holds, without a scene.
struct Live : LiveAnnotations
{
    QList<Annotation> list;
    QList<Annotation> annotations() const override { return list; }
    int confirmedCount() const override { return int(list.size()) - pendingCount(); }
    int pendingCount() const override
    {
        return int(std::count_if(list.cbegin(), list.cend(), [](const Annotation &a) { return a.pending != 0; }));
    }
};

} // namespace

// The open folder without a window: what the window and the command line share.
class TestFolderSession : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void pendingResultsMerged();
    void pendingFileNotRewrittenWhenUnchanged();
    void namesThatAreNotUtf8AreTold_data();
    void namesThatAreNotUtf8AreTold();

private:
    QByteArray voc(const QStringList &labels) const;

    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_dir;
    QStringList m_images;
};

void TestFolderSession::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    m_dir = m_tmp->path() + QStringLiteral("/ds");
    m_images.clear();
    for (int i = 1; i <= 4; ++i) {
        m_images << QStringLiteral("%1/img%2.png").arg(m_dir).arg(i);
        QVERIFY(Fixtures::makeImage(m_images.last(), 200, 100));
    }
}

QByteArray TestFolderSession::voc(const QStringList &labels) const
{
    QByteArray xml = "<annotation>";
    for (const QString &label : labels) {
        xml += "<object><name>" + label.toUtf8()
            + "</name><bndbox><xmin>10</xmin><ymin>10</ymin><xmax>30</xmax><ymax>40</ymax></bndbox></object>";
    }
    return xml + "</annotation>";
}

void TestFolderSession::pendingResultsMerged()
{
    QVERIFY(Fixtures::writeBytes(vocXmlPath(m_images.at(0)), voc({QStringLiteral("cat")})));
    AnnotationCache pending;
    pending.insert(m_images.at(0), {box(QStringLiteral("dog"), QRectF(50, 20, 30, 30), 1)});
    pending.insert(m_images.at(2), {box(QStringLiteral("bird"), QRectF(5, 5, 10, 10), 1)});
    pending.insert(m_dir + QStringLiteral("/gone.png"), {box(QStringLiteral("old"), QRectF(1, 1, 5, 5), 1)});
    QVERIFY(writePendingFile(m_dir, pending));

    FolderSession session;
    Live live;
    session.setLiveAnnotations(&live);
    QSignalSpy wanted(&session, &FolderSession::imageWanted);
    session.open(m_dir);
    QVERIFY(wanted.wait());
    QCOMPARE(wanted.first().first().toString(), m_images.at(0));

    // The first image holds its label file and its pending result from the start.
    live.list = session.enterImage(m_images.at(0));
    QCOMPARE(live.list.size(), 2);
    QCOMPARE(live.pendingCount(), 1);
    QTRY_COMPARE(session.imageState(m_images.at(2)).pending, 1);
    // Until the listing is done, results of images not listed yet may still be listed.
    QTRY_VERIFY(!session.isListing());

    // Rejecting the pending result is a change: the next write drops the stale entry too.
    live.list.removeIf([](const Annotation &a) { return a.pending != 0; });
    session.flushPending();
    session.leaveImage();
    const AnnotationCache written = readPendingFile(m_dir);
    QCOMPARE(written.keys(), QStringList{m_images.at(2)});
    // Nothing pending reached the label file.
    QCOMPARE(loadAnnotations(m_images.at(0)).size(), 1);
}

void TestFolderSession::pendingFileNotRewrittenWhenUnchanged()
{
    AnnotationCache pending;
    for (const QString &image : std::as_const(m_images))
        pending.insert(image, {box(QStringLiteral("dog"), QRectF(50, 20, 30, 30), 1)});
    QVERIFY(writePendingFile(m_dir, pending));
    const QString file = pendingFilePath(m_dir);
    const QByteArray before = Fixtures::readBytes(file);
    const auto changed = [&file] { return QFileInfo(file).fileTime(QFileDevice::FileMetadataChangeTime); };
    const QDateTime stamp = changed();
    QTest::qWait(20);

    FolderSession session;
    Live live;
    session.setLiveAnnotations(&live);
    session.openNow(m_dir);
    for (const QString &image : std::as_const(m_images)) {
        live.list = session.enterImage(image);
        QCOMPARE(live.pendingCount(), 1);
        QVERIFY(session.flushPending());
    }
    QCOMPARE(changed(), stamp);
    QVERIFY(session.close());
    QCOMPARE(Fixtures::readBytes(file), before);
    QCOMPARE(changed(), stamp);
}

void TestFolderSession::namesThatAreNotUtf8AreTold_data()
{
    QTest::addColumn<bool>("inBackground");
    QTest::newRow("window: listed on a thread") << true;
    QTest::newRow("command line: listed at once") << false;
}

void TestFolderSession::namesThatAreNotUtf8AreTold()
{
    QFETCH(bool, inBackground);
    // As zip archives made on Windows name files: Latin-1 bytes, which no path can open.
    QVERIFY(Fixtures::writeBytesAtRawPath(QFile::encodeName(m_dir) + "/caf\xe9.png",
                                          Fixtures::readBytes(m_images.first())));
    FolderSession session;
    QSignalSpy notices(&session, &FolderSession::notice);
    if (inBackground) {
        QSignalSpy finished(&session, &FolderSession::listingFinished);
        session.open(m_dir);
        QVERIFY(finished.wait());
    } else {
        session.openNow(m_dir);
    }
    QCOMPARE(session.imagePaths(), m_images);
    QCOMPARE(session.unlistableImages(), QStringList{m_dir + QStringLiteral("/caf\\xE9.png")});
    QCOMPARE(notices.size(), 1);
    QVERIFY2(notices.first().first().toString().contains(QStringLiteral("caf\\xE9.png")),
             qPrintable(notices.first().first().toString()));
}

BRINDLE_TEST_MAIN(TestFolderSession)
#include "tst_foldersession.moc"
