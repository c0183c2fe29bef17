#include "storage/datasetlayout.h"

#include "storagefixtures.h"
#include "testmain.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QtTest>

class TestDatasetLayout : public QObject
{
    Q_OBJECT

private slots:
    void labelsDir_data();
    void labelsDir();
    void filePaths_data();
    void filePaths();
    void candidates_data();
    void candidates();
    void readClassList_data();
    void readClassList();
    void writeClassList();
    void imageSize_data();
    void imageSize();
};

void TestDatasetLayout::labelsDir_data()
{
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("expected");
    QTest::newRow("images mapped, sub-directory kept") << "/ds/images/train/cat.jpg" << "/ds/labels/train";
    QTest::newRow("no images directory") << "/photos/cat.jpg" << "/photos/labels";
    QTest::newRow("images directly") << "/ds/images/x.png" << "/ds/labels";
    QTest::newRow("case-insensitive match, lower-case result") << "/ds/Images/x.png" << "/ds/labels";
    QTest::newRow("IMAGES upper case") << "/ds/IMAGES/val/x.png" << "/ds/labels/val";
    QTest::newRow("images twice, last counts") << "/a/images/b/images/c/x.jpg" << "/a/images/b/labels/c";
    QTest::newRow("images twice in a row") << "/a/images/images/x.jpg" << "/a/images/labels";
    QTest::newRow("name only contains images") << "/ds/myimages/x.jpg" << "/ds/myimages/labels";
    QTest::newRow("images with suffix") << "/ds/images2/x.jpg" << "/ds/images2/labels";
    QTest::newRow("top-level images") << "/images/x.jpg" << "/labels";
}

void TestDatasetLayout::labelsDir()
{
    QFETCH(QString, image);
    QFETCH(QString, expected);
    QCOMPARE(labelsDirFor(image), expected);
}

void TestDatasetLayout::filePaths_data()
{
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("yolo");
    QTest::addColumn<QString>("sibling");
    QTest::addColumn<QString>("annotationsDir");
    QTest::addColumn<QString>("xml");
    QTest::newRow("mapped") << "/ds/images/train/cat.jpg" << "/ds/labels/train/cat.txt"
                            << "/ds/images/train/labels/cat.txt" << "/ds/images/train/annotations"
                            << "/ds/images/train/annotations/cat.xml";
    QTest::newRow("plain directory") << "/photos/cat.jpg" << "/photos/labels/cat.txt" << "/photos/labels/cat.txt"
                                     << "/photos/annotations" << "/photos/annotations/cat.xml";
    QTest::newRow("several dots") << "/photos/a.b.jpg" << "/photos/labels/a.b.txt" << "/photos/labels/a.b.txt"
                                  << "/photos/annotations" << "/photos/annotations/a.b.xml";
    QTest::newRow("unicode names") << "/数据/images/猫 1.png" << "/数据/labels/猫 1.txt"
                                   << "/数据/images/labels/猫 1.txt" << "/数据/images/annotations"
                                   << "/数据/images/annotations/猫 1.xml";
}

void TestDatasetLayout::filePaths()
{
    QFETCH(QString, image);
    QFETCH(QString, yolo);
    QFETCH(QString, sibling);
    QFETCH(QString, annotationsDir);
    QFETCH(QString, xml);
    QCOMPARE(yoloLabelPath(image), yolo);
    QCOMPARE(siblingYoloLabelPath(image), sibling);
    QCOMPARE(annotationsDirFor(image), annotationsDir);
    QCOMPARE(vocXmlPath(image), xml);
}

void TestDatasetLayout::candidates_data()
{
    QTest::addColumn<bool>("mapped");
    QTest::addColumn<bool>("sibling");
    QTest::addColumn<int>("siblingAgeSeconds"); // negative: sibling newer than mapped
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("none") << false << false << 0 << QStringList{};
    QTest::newRow("mapped only") << true << false << 0 << QStringList{"M"};
    QTest::newRow("sibling only") << false << true << 0 << QStringList{"S"};
    QTest::newRow("sibling older") << true << true << 60 << QStringList{"M", "S"};
    QTest::newRow("same time, mapped first") << true << true << 0 << QStringList{"M", "S"};
    QTest::newRow("sibling newer") << true << true << -60 << QStringList{"S", "M"};
}

void TestDatasetLayout::candidates()
{
    QFETCH(bool, mapped);
    QFETCH(bool, sibling);
    QFETCH(int, siblingAgeSeconds);
    QFETCH(QStringList, expected);

    QTemporaryDir tmp;
    const QString image = tmp.path() + "/ds/images/x.jpg";
    const QString m = tmp.path() + "/ds/labels/x.txt";
    const QString s = tmp.path() + "/ds/images/labels/x.txt";
    const QDateTime base = QDateTime::currentDateTime().addDays(-1);
    auto place = [&](const QString &path, const QDateTime &time) {
        QVERIFY(Fixtures::writeBytes(path, "0 0.5 0.5 0.1 0.1\n"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(time, QFileDevice::FileModificationTime));
    };
    if (mapped)
        place(m, base);
    if (sibling)
        place(s, base.addSecs(-siblingAgeSeconds));

    QStringList want;
    for (const QString &which : expected)
        want.append(which == "M" ? m : s);
    QCOMPARE(yoloLabelCandidates(image), want);
}

void TestDatasetLayout::readClassList_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("plain") << QByteArray("cat\ndog\n") << QStringList{"cat", "dog"};
    QTest::newRow("blank lines and spaces") << QByteArray("\n  cat \n\n\tdog\t\n   \n") << QStringList{"cat", "dog"};
    QTest::newRow("CRLF") << QByteArray("cat\r\ndog\r\n") << QStringList{"cat", "dog"};
    QTest::newRow("no final newline") << QByteArray("cat\ndog") << QStringList{"cat", "dog"};
    QTest::newRow("duplicates stay") << QByteArray("cat\ncat\n") << QStringList{"cat", "cat"};
    QTest::newRow("UTF-8 with BOM") << QByteArray("\xef\xbb\xbf猫\n狗\n") << QStringList{"猫", "狗"};
    QTest::newRow("empty file") << QByteArray() << QStringList{};
}

void TestDatasetLayout::readClassList()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, expected);
    QTemporaryDir tmp;
    QVERIFY(Fixtures::writeBytes(tmp.path() + "/classes.txt", content));
    QCOMPARE(::readClassList(tmp.path()), expected);
    QCOMPARE(::readClassList(tmp.path() + "/missing"), QStringList{});
}

void TestDatasetLayout::writeClassList()
{
    QTemporaryDir tmp;
    const QString image = tmp.path() + "/ds/images/train/a.jpg";
    QVERIFY(::writeClassList(image, {"cat", "dog", "猫"}));
    const QString file = tmp.path() + "/ds/labels/train/classes.txt";
    QCOMPARE(Fixtures::readBytes(file), QByteArray("cat\ndog\n猫\n"));

    // Read back after trimming, then rewritten one name per line.
    QVERIFY(Fixtures::writeBytes(file, "\n cat \n\ndog\n"));
    QVERIFY(::writeClassList(image, ::readClassList(tmp.path() + "/ds/labels/train")));
    QCOMPARE(Fixtures::readBytes(file), QByteArray("cat\ndog\n"));

    QVERIFY(::writeClassList(image, {}));
    QCOMPARE(Fixtures::readBytes(file), QByteArray());
}

void TestDatasetLayout::imageSize_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("png") << "png" << 0 << QSize(200, 100);
    QTest::newRow("jpeg, orientation 1") << "exif" << 1 << QSize(400, 200);
    QTest::newRow("jpeg, orientation 3 (upside down)") << "exif" << 3 << QSize(400, 200);
    QTest::newRow("jpeg, orientation 6 (turned)") << "exif" << 6 << QSize(200, 400);
    QTest::newRow("jpeg, orientation 8 (turned)") << "exif" << 8 << QSize(200, 400);
    QTest::newRow("not an image") << "text" << 0 << QSize();
    QTest::newRow("missing") << "missing" << 0 << QSize();
}

void TestDatasetLayout::imageSize()
{
    QFETCH(QString, kind);
    QFETCH(int, orientation);
    QFETCH(QSize, expected);
    QTemporaryDir tmp;
    const QString path = tmp.path() + "/image." + (kind == "png" ? "png" : "jpg");
    if (kind == "png")
        QVERIFY(Fixtures::makeImage(path, 200, 100));
    else if (kind == "exif")
        QVERIFY(Fixtures::makeOrientedJpeg(path, 400, 200, quint16(orientation)));
    else if (kind == "text")
        QVERIFY(Fixtures::writeBytes(path, "not a jpeg"));
    QCOMPARE(::imageSize(path), expected);
}

BRINDLE_TEST_MAIN(TestDatasetLayout)
#include "tst_datasetlayout.moc"
