#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"
#include "storage/dotafile.h"
#include "storage/filestatescanner.h"
#include "storage/classnames.h"
#include "storage/namesfileappend.h"

#include "layoutfixtures.h"
#include "storagefixtures.h"
#include "support/annotationbuilders.h"
#include "testmain.h"

#include <QDirIterator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

// Datasets as other tools leave them: their labels are found, read, counted, saved back in place
// and deleted with the image; files that are not labels are never read or touched.
namespace {

// The format of a layout's label file; YOLO when it has none (our layout's).
LabelFormat formatOf(const Layouts::Layout &l)
{
    if (l.labelFile.endsWith(".xml"))
        return LabelFormat::Voc;
    if (l.labelFile.contains("/labelTxt/"))
        return LabelFormat::Dota;
    return l.labelFile.endsWith(".json") ? LabelFormat::Labelme : LabelFormat::Yolo;
}

// Every file under root with its content, to see what a save touched.
QMap<QString, QByteArray> snapshot(const QString &root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(path.mid(root.size() + 1), Fixtures::readBytes(path));
    }
    return files;
}

void addLayoutRows()
{
    QTest::addColumn<QString>("layout");
    for (const char *name : {"ours", "voc devkit", "voc devkit, lower-case folder", "xml beside", "yolo 1.1",
                             "yolo 1.1, names beside", "labelimg yolo", "ultralytics list",
                             "ultralytics map with a gap", "roboflow", "label studio", "captions",
                             "foreign xml beside", "foreign xml in a devkit", "labelme beside",
                             "x-anylabeling beside", "foreign json beside"})
        QTest::newRow(name) << QString(name);
}

} // namespace

class TestOtherLayouts : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void foundAndRead_data();
    void foundAndRead();
    void savedWhereFound_data();
    void savedWhereFound();
    void editKeepsFormatAndPlace_data();
    void editKeepsFormatAndPlace();
    void otherFormatRemovedWhereFound_data();
    void otherFormatRemovedWhereFound();
    void failedSaveTouchesNothing();
    void newCategoryKeepsTheirIndices_data();
    void newCategoryKeepsTheirIndices();
    void ourFilesComeFirst();
    void imageNamedClasses();
    void stateScannerCounts();

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
};

void TestOtherLayouts::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
}

void TestOtherLayouts::foundAndRead_data()
{
    addLayoutRows();
    QTest::newRow("dota") << QStringLiteral("dota");
}

void TestOtherLayouts::foundAndRead()
{
    QFETCH(QString, layout);
    const Layouts::Layout l = Layouts::build(m_tmp->path(), layout);
    QVERIFY(!l.image.isEmpty());

    const StoredAnnotations stored = readStoredAnnotations(l.image);
    QCOMPARE(stored.file, l.labelFile);
    QVERIFY(stored.complete());
    QCOMPARE(labelsOf(stored.annotations), l.labels);
    QCOMPARE(countAnnotations(l.image), l.labelFile.isEmpty() ? -1 : int(l.labels.size()));
    // What deleting the image removes: exactly the label file found.
    QCOMPARE(labelFilesOf(l.image), l.labelFile.isEmpty() ? QStringList() : QStringList{l.labelFile});

    const LabelFormat format = formatOf(l);
    QCOMPARE(findVocFile(l.image), format == LabelFormat::Voc ? l.labelFile : QString());
    QCOMPARE(findLabelmeFile(l.image), format == LabelFormat::Labelme ? l.labelFile : QString());
    QCOMPARE(findDotaFile(l.image), format == LabelFormat::Dota ? l.labelFile : QString());
    QCOMPARE(yoloLabelCandidates(l.image),
             format != LabelFormat::Yolo || l.labelFile.isEmpty() ? QStringList() : QStringList{l.labelFile});
}

void TestOtherLayouts::savedWhereFound_data()
{
    addLayoutRows();
}

// A save in the format found rewrites that file and creates nothing of our layout; files of
// other kinds stay as they are, also through saves in both formats.
void TestOtherLayouts::savedWhereFound()
{
    QFETCH(QString, layout);
    const QString root = m_tmp->path();
    const Layouts::Layout l = Layouts::build(root, layout);
    QVERIFY(!l.image.isEmpty());
    const QMap<QString, QByteArray> before = snapshot(root);
    const LabelFormat format = formatOf(l);
    const LabelFormat other = format == LabelFormat::Voc ? LabelFormat::Yolo : LabelFormat::Voc;
    const QList<Annotation> edited = {box(l.labels.value(0, "cat"), QRectF(20, 10, 40, 30))};

    SaveReport report;
    QVERIFY(saveAnnotations(l.image, edited, format, {}, &report));
    QVERIFY(report.namesNotice.isEmpty());
    const QMap<QString, QByteArray> after = snapshot(root);
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (root + "/" + it.key() != l.labelFile)
            QCOMPARE(after.value(it.key()), it.value());
    }
    if (l.labelFile.isEmpty()) {
        // Nothing found: our layout, beside whatever else is there.
        QCOMPARE(report.labelFile, yoloLabelPath(l.image));
        QCOMPARE(after.size(), before.size() + 2); // the label file and its class list
    } else {
        QCOMPARE(report.labelFile, l.labelFile);
        QCOMPARE(after.keys(), before.keys());
        QVERIFY(after.value(l.labelFile.mid(root.size() + 1)) != before.value(l.labelFile.mid(root.size() + 1)));
    }
    const StoredAnnotations stored = readStoredAnnotations(l.image);
    QCOMPARE(stored.file, report.labelFile);
    QCOMPARE(stored.annotations.size(), 1);
    QCOMPARE(stored.annotations[0].label, edited[0].label);
    QCOMPARE(stored.annotations[0].rect, edited[0].rect);

    // Saving in the other format, and back: other tools' files still untouched.
    QVERIFY(saveAnnotations(l.image, edited, other, {}, nullptr));
    QVERIFY(saveAnnotations(l.image, edited, format, {}, nullptr));
    for (const QString &file : l.untouchable)
        QCOMPARE(Fixtures::readBytes(file), before.value(file.mid(root.size() + 1)));
    QCOMPARE(loadAnnotations(l.image).size(), 1);
}

void TestOtherLayouts::editKeepsFormatAndPlace_data()
{
    addLayoutRows();
}

// An edit with new files set to the other format: the file found is rewritten in its own format,
// nothing is created, converted or removed.
void TestOtherLayouts::editKeepsFormatAndPlace()
{
    QFETCH(QString, layout);
    const QString root = m_tmp->path();
    const Layouts::Layout l = Layouts::build(root, layout);
    QVERIFY(!l.image.isEmpty());
    const QMap<QString, QByteArray> before = snapshot(root);
    const bool voc = l.labelFile.endsWith(".xml");
    QList<Annotation> edited = loadAnnotations(l.image);
    edited.append(box(l.labels.value(0, "cat"), QRectF(120, 50, 40, 30)));

    // New files would get the other format (YOLO where there is nothing).
    const bool newFileYolo = voc || l.labelFile.isEmpty();
    const SaveTarget target = editSaveTarget(l.image, newFileYolo);
    SaveReport report;
    QVERIFY(saveEdit(l.image, edited, target, {}, &report));
    const QMap<QString, QByteArray> after = snapshot(root);
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (root + "/" + it.key() != l.labelFile)
            QCOMPARE(after.value(it.key()), it.value());
    }
    if (l.labelFile.isEmpty()) {
        QCOMPARE(report.labelFile, yoloLabelPath(l.image));
    } else {
        QCOMPARE(report.labelFile, l.labelFile);
        QCOMPARE(after.keys(), before.keys());
    }
    QCOMPARE(loadAnnotations(l.image).size(), edited.size());
}

void TestOtherLayouts::otherFormatRemovedWhereFound_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("writtenRelative"); // to the image's folder
    QTest::newRow("devkit XML converted to YOLO") << "voc devkit" << "labels/000001.txt";
    QTest::newRow("XML beside converted to YOLO") << "xml beside" << "labels/b.txt";
    QTest::newRow("YOLO 1.1 converted to VOC") << "yolo 1.1" << "annotations/c.xml";
    QTest::newRow("Ultralytics converted to VOC") << "ultralytics list" << "annotations/e.xml";
}

void TestOtherLayouts::otherFormatRemovedWhereFound()
{
    QFETCH(QString, layout);
    QFETCH(QString, writtenRelative);
    const Layouts::Layout l = Layouts::build(m_tmp->path(), layout);
    QVERIFY(!l.image.isEmpty());
    const bool toYolo = l.labelFile.endsWith(".xml");
    const QList<Annotation> stored = loadAnnotations(l.image);
    QCOMPARE(labelsOf(stored), l.labels);

    QVERIFY(saveAnnotations(l.image, stored, toYolo, {}));
    const QString written = QFileInfo(l.image).absolutePath() + "/" + writtenRelative;
    QVERIFY(!QFile::exists(l.labelFile));
    QCOMPARE(labelFilesOf(l.image), QStringList{written});
    QCOMPARE(labelsOf(loadAnnotations(l.image)), l.labels);
    for (const QString &file : l.untouchable)
        QVERIFY(QFile::exists(file));
}

void TestOtherLayouts::failedSaveTouchesNothing()
{
    const Layouts::Layout l = Layouts::build(m_tmp->path(), "yolo 1.1");
    QVERIFY(!l.image.isEmpty());
    const QMap<QString, QByteArray> before = snapshot(m_tmp->path());
    {
        Fixtures::ReadOnlyDirectory lock(QFileInfo(l.image).absolutePath());
        if (!lock.ok())
            QSKIP("cannot make a directory read-only here");
        // The label file cannot be replaced, and for VOC it could not be removed afterwards.
        QVERIFY(!saveAnnotations(l.image, {box("bird", QRectF(1, 1, 20, 20))}, true, {}));
        QVERIFY(!saveAnnotations(l.image, {box("bird", QRectF(1, 1, 20, 20))}, false, {}));
    }
    QCOMPARE(snapshot(m_tmp->path()), before);
}

void TestOtherLayouts::newCategoryKeepsTheirIndices_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("namesFile");      // relative to the temporary root
    QTest::addColumn<QString>("classList");      // a second list that must not appear, relative
    QTest::addColumn<QByteArray>("listContent"); // the names read after adding "bird"
    QTest::addColumn<QByteArray>("labelLine");   // the first line written for "bird"
    QTest::addColumn<QStringList>("readBack");   // the labels then read
    QTest::newRow("obj.names") << "yolo 1.1" << "task/obj.names" << "task/obj_train_data/classes.txt"
                               << QByteArray("cat\ndog\nbird\n") << QByteArray("2 ") << QStringList{"bird", "dog"};
    QTest::newRow("YAML list") << "ultralytics list" << "ul/data.yaml" << "ul/labels/train/classes.txt"
                               << QByteArray("person\ncar\nbird\n") << QByteArray("2 ")
                               << QStringList{"bird", "car", "person"};
    // The number read from the gap stays a number: the gap keeps no name.
    QTest::newRow("YAML map with a gap") << "ultralytics map with a gap" << "ul/data.yaml"
                                         << "ul/labels/train/classes.txt"
                                         << QByteArray("person\nclass1\ncar\nbird\n") << QByteArray("3 ")
                                         << QStringList{"bird", "car", "1"};
    QTest::newRow("dataset root classes.txt") << "label studio" << "ls/classes.txt" << "ls/labels/classes.txt"
                                              << QByteArray("crack\nrust\nbird\n") << QByteArray("2 ")
                                              << QStringList{"bird", "rust"};
}

// Indices of another tool's names are kept; a category their file lacks refuses the save, naming
// the file, and once added there (appendClassNames) takes the next index. No second list is made.
void TestOtherLayouts::newCategoryKeepsTheirIndices()
{
    QFETCH(QString, layout);
    QFETCH(QString, namesFile);
    QFETCH(QString, classList);
    QFETCH(QByteArray, listContent);
    QFETCH(QByteArray, labelLine);
    QFETCH(QStringList, readBack);
    const QString root = m_tmp->path() + "/";
    const Layouts::Layout l = Layouts::build(m_tmp->path(), layout);
    QVERIFY(!l.image.isEmpty());
    const QByteArray names = Fixtures::readBytes(root + namesFile);
    QList<Annotation> annotations = loadAnnotations(l.image);
    const QByteArray keptLines = Fixtures::readBytes(l.labelFile);

    // Without a new category the other tool's file is all there is.
    SaveReport report;
    QVERIFY(saveAnnotations(l.image, annotations, true, {"zebra"}, &report));
    QVERIFY(report.namesNotice.isEmpty());
    QVERIFY(!QFile::exists(root + classList));
    QCOMPARE(Fixtures::readBytes(l.labelFile).split(' ').first(), keptLines.split(' ').first());

    annotations.prepend(box("bird", QRectF(10, 10, 20, 20)));
    const QByteArray before = Fixtures::readBytes(l.labelFile);
    QVERIFY(!saveAnnotations(l.image, annotations, true, {}, &report));
    QCOMPARE(report.namesNotice.namesFile, root + namesFile);
    QCOMPARE(report.namesNotice.missingNames, QStringList{"bird"});
    QCOMPARE(Fixtures::readBytes(l.labelFile), before);
    QCOMPARE(Fixtures::readBytes(root + namesFile), names);
    QVERIFY(!QFile::exists(root + classList));

    QCOMPARE(appendClassNames(root + namesFile, {"bird"}), NamesAppend::Appended);
    QVERIFY(saveAnnotations(l.image, annotations, true, {}, &report));
    QVERIFY(report.namesNotice.isEmpty());
    QVERIFY(Fixtures::readBytes(l.labelFile).startsWith(labelLine));
    QVERIFY(!QFile::exists(root + classList));
    QCOMPARE(classListLines(findClassNames(QFileInfo(l.labelFile).absolutePath()).names).join('\n') + '\n',
             QString::fromUtf8(listContent));
    QCOMPARE(labelsOf(loadAnnotations(l.image)), readBack);
}

void TestOtherLayouts::ourFilesComeFirst()
{
    // A folder that another tool and we both labelled: ours is read and written, theirs is the
    // stale copy a save removes, and both go when the image is deleted.
    const Layouts::Layout l = Layouts::build(m_tmp->path(), "labelimg yolo");
    QVERIFY(!l.image.isEmpty());
    const QString ours = yoloLabelPath(l.image);
    QVERIFY(Fixtures::writeBytes(ours, "0 0.5 0.5 0.5 0.5\n"));
    QCOMPARE(yoloLabelCandidates(l.image), QStringList({ours, l.labelFile}));
    QCOMPARE(labelFilesOf(l.image), QStringList({ours, l.labelFile}));
    QCOMPARE(countAnnotations(l.image), 1);
    QVERIFY(saveAnnotations(l.image, loadAnnotations(l.image), true, {}));
    QVERIFY(!QFile::exists(l.labelFile));
    QCOMPARE(labelFilesOf(l.image), QStringList{ours});
}

void TestOtherLayouts::imageNamedClasses()
{
    // Its label file would be the folder's class list: never read as labels, never written over.
    const Layouts::Layout l = Layouts::build(m_tmp->path(), "labelimg yolo");
    QVERIFY(!l.image.isEmpty());
    const QString image = QFileInfo(l.image).absolutePath() + "/classes.png";
    QVERIFY(Fixtures::makeImage(image, 200, 100));
    const QString list = QFileInfo(l.image).absolutePath() + "/classes.txt";
    QCOMPARE(countAnnotations(image), -1);
    QVERIFY(labelFilesOf(image).isEmpty());
    QVERIFY(!saveAnnotations(image, {box("cat", QRectF(1, 1, 10, 10))}, true, {}));
    QCOMPARE(Fixtures::readBytes(list), QByteArray("cat\ndog\n"));
    QVERIFY(saveAnnotations(image, {box("cat", QRectF(1, 1, 10, 10))}, false, {}));
    QCOMPARE(Fixtures::readBytes(list), QByteArray("cat\ndog\n"));
}

void TestOtherLayouts::stateScannerCounts()
{
    QMap<QString, int> expected;
    QStringList images;
    int n = 0;
    for (const char *name : {"ours", "voc devkit", "xml beside", "yolo 1.1", "labelimg yolo", "ultralytics list",
                             "ultralytics map with a gap", "roboflow", "label studio", "captions",
                             "foreign xml beside", "foreign xml in a devkit"}) {
        const Layouts::Layout l = Layouts::build(m_tmp->path() + "/" + QString::number(n++), name);
        QVERIFY2(!l.image.isEmpty(), name);
        images.append(l.image);
        expected.insert(l.image, int(l.labels.size()));
    }
    registerAnnotationMetaTypes();
    FileStateScanner scanner;
    QSignalSpy spy(&scanner, &FileStateScanner::stateReady);
    scanner.restart(images);
    QTRY_COMPARE(spy.size(), images.size());
    QMap<QString, int> got;
    for (const QList<QVariant> &args : std::as_const(spy))
        got.insert(args.at(0).toString(), args.at(1).toInt());
    QCOMPARE(got, expected);
}

BRINDLE_TEST_MAIN(TestOtherLayouts)
#include "tst_otherlayouts.moc"
