#include "storage/annotationstore.h"
#include "storage/classnames.h"
#include "storage/folderlisting.h"
#include "storage/namesfileappend.h"

#include "layoutfixtures.h"
#include "storagefixtures.h"
#include "testmain.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

using Files = QMap<QString, QByteArray>;
Q_DECLARE_METATYPE(Files)

// Where the names of YOLO class numbers are found, how YAML files are read, and that a names
// file changed on disk is read again.
class TestClassNames : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void search_data();
    void search();
    void yaml_data();
    void yaml();
    void datasetRoot_data();
    void datasetRoot();
    void changedNamesAreReadAgain();
    void labelFileCreatedAfterAScanIsFound_data();
    void labelFileCreatedAfterAScanIsFound();
    void appendKeepsEveryOtherByte_data();
    void appendKeepsEveryOtherByte();
    void appendRefusesLinks();

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
};

void TestClassNames::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
}

void TestClassNames::search_data()
{
    QTest::addColumn<Files>("files");        // relative to the root
    QTest::addColumn<QString>("labelsDir");  // relative
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("file");       // relative; empty for none
    QTest::addColumn<int>("source");
    QTest::addColumn<bool>("ok");            // false: the file is there but cannot be read as text

    const int ours = int(NamesSource::ClassList);
    const int other = int(NamesSource::OtherTool);
    const int none = int(NamesSource::None);
    const QByteArray yaml = "names: [p, q]\n";
    QTest::newRow("our classes.txt first")
        << Files{{"ds/labels/classes.txt", "a\nb\n"}, {"ds/labels/obj.names", "x\n"}, {"ds/data.yaml", yaml}}
        << "ds/labels" << QStringList{"a", "b"} << "ds/labels/classes.txt" << ours << true;
    QTest::newRow("obj.names in the folder before the parent's")
        << Files{{"t/obj_train_data/obj.names", "x\n"}, {"t/obj.names", "y\n"}} << "t/obj_train_data"
        << QStringList{"x"} << "t/obj_train_data/obj.names" << other << true;
    QTest::newRow("obj.names in the parent")
        << Files{{"t/obj.names", "cat\n\n dog \n"}, {"t/classes.txt", "z\n"}} << "t/obj_train_data"
        << QStringList{"cat", "dog"} << "t/obj.names" << other << true;
    QTest::newRow("classes.txt of the dataset root")
        << Files{{"ls/classes.txt", "crack\nrust\n"}, {"ls/data.yaml", yaml}} << "ls/labels/train"
        << QStringList{"crack", "rust"} << "ls/classes.txt" << other << true;
    QTest::newRow("YAML in the dataset root") << Files{{"ul/data.yaml", yaml}} << "ul/labels/train"
                                              << QStringList{"p", "q"} << "ul/data.yaml" << other << true;
    QTest::newRow("nearest YAML wins")
        << Files{{"ul/data.yaml", yaml}, {"ul/labels/data.yaml", "names: [near]\n"}} << "ul/labels/train"
        << QStringList{"near"} << "ul/labels/data.yaml" << other << true;
    QTest::newRow("data.yaml before dataset.yaml before others")
        << Files{{"r/a.yaml", "names: [a]\n"}, {"r/dataset.yaml", "names: [d]\n"}, {"r/data.yaml", "names: [x]\n"}}
        << "r/labels" << QStringList{"x"} << "r/data.yaml" << other << true;
    QTest::newRow("YAML files without names are passed over")
        << Files{{"r/data.yaml", "train: images\n"}, {"r/dataset.yaml", "- a list\n"}, {"r/b.yaml", "names: [b]\n"},
                 {"r/c.yaml", "names: [c]\n"}}
        << "r/labels" << QStringList{"b"} << "r/b.yaml" << other << true;
    // Read by name alone: a hidden file is not the dataset's, the suffix's case does not matter.
    QTest::newRow("hidden YAML skipped, upper-case suffix taken")
        << Files{{"h/.a.yaml", "names: [hidden]\n"}, {"h/B.YAML", "names: [upper]\n"}, {"h/labels/x.txt", ""}}
        << "h/labels" << QStringList{"upper"} << "h/B.YAML" << other << true;
    QTest::newRow("YAML three folders up") << Files{{"a/data.yaml", yaml}} << "a/b/c/d" << QStringList{"p", "q"}
                                           << "a/data.yaml" << other << true;
    QTest::newRow("YAML four folders up is too far") << Files{{"a/data.yaml", yaml}} << "a/b/c/d/e" << QStringList()
                                                     << "" << none << true;
    // As some Windows tools write them: UTF-16 with a byte order mark.
    QTest::newRow("UTF-16 LE classes.txt")
        << Files{{"w/labels/classes.txt", QByteArray("\xff\xfe" "d\0o\0g\0\r\0\n\0\x2b\x73\n\0", 16)}} << "w/labels"
        << QStringList{"dog", u8"\u732b"} << "w/labels/classes.txt" << ours << true;
    QTest::newRow("UTF-16 BE obj.names")
        << Files{{"w/obj.names", QByteArray("\xfe\xff\0d\0o\0g\0\n\0c\0a\0t", 16)}} << "w/labels"
        << QStringList{"dog", "cat"} << "w/obj.names" << other << true;
    QTest::newRow("UTF-8 with a byte order mark") << Files{{"w/labels/classes.txt", "\xef\xbb\xbf" "dog\ncat\n"}}
                                                  << "w/labels" << QStringList{"dog", "cat"}
                                                  << "w/labels/classes.txt" << ours << true;
    QTest::newRow("UTF-16 without a byte order mark unreadable")
        << Files{{"w/labels/classes.txt", QByteArray("d\0o\0g\0\n\0", 8)}} << "w/labels" << QStringList()
        << "w/labels/classes.txt" << ours << false;
    QTest::newRow("invalid UTF-8 unreadable") << Files{{"w/labels/classes.txt", "caf\xe9\ndog\n"}} << "w/labels"
                                              << QStringList() << "w/labels/classes.txt" << ours << false;
    QTest::newRow("nothing") << Files{{"x/labels/a.txt", "0 1 1 1 1\n"}} << "x/labels" << QStringList() << ""
                             << none << true;
}

void TestClassNames::search()
{
    QFETCH(Files, files);
    QFETCH(QString, labelsDir);
    QFETCH(QStringList, names);
    QFETCH(QString, file);
    QFETCH(int, source);
    QFETCH(bool, ok);
    // Deep enough that "four folders up" still lies inside the temporary folder.
    const QString root = m_tmp->path() + "/1/2/3/4/5";
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        QVERIFY(Fixtures::writeBytes(root + "/" + it.key(), it.value()));
    QDir().mkpath(root + "/" + labelsDir);

    const ClassNames found = findClassNames(root + "/" + labelsDir);
    QCOMPARE(found.names, names);
    QCOMPARE(found.file, file.isEmpty() ? QString() : root + "/" + file);
    QCOMPARE(int(found.source), source);
    QCOMPARE(found.ok, ok);
}

void TestClassNames::yaml_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<bool>("ok");
    QTest::newRow("block list") << QByteArray("names:\n  - person\n  - traffic light\n") << QStringList{"person", "traffic light"} << true;
    QTest::newRow("flow list with quotes") << QByteArray("nc: 2\nnames: ['helmet', \"no helmet\"]\n")
                                           << QStringList{"helmet", "no helmet"} << true;
    QTest::newRow("map from index, out of order") << QByteArray("names:\n  1: car\n  0: person\n")
                                                  << QStringList{"person", "car"} << true;
    QTest::newRow("map with a gap and quoted keys") << QByteArray("names: {0: a, '3': d}\n")
                                                    << QStringList{"a", "", "", "d"} << true;
    QTest::newRow("map keys that are not indices ignored") << QByteArray("names: {0: a, x: b, -1: c}\n")
                                                           << QStringList{"a"} << true;
    QTest::newRow("huge index ignored") << QByteArray("names: {0: a, 123456789: b}\n") << QStringList{"a"} << true;
    QTest::newRow("names that are not text are gaps") << QByteArray("names: [a, [b], ~, {c: d}, e]\n")
                                                      << QStringList{"a", "", "", "", "e"} << true;
    QTest::newRow("line breaks in a name") << QByteArray("names: [\"two\\nlines \"]\n") << QStringList{"two lines"}
                                           << true;
    QTest::newRow("anchors") << QByteArray("base: &n [a, b]\nnames: *n\n") << QStringList{"a", "b"} << true;
    QTest::newRow("syntax error") << QByteArray("names: [a, b\ntrain: {\n") << QStringList() << false;
    QTest::newRow("tabs for indentation") << QByteArray("names:\n\t- a\n") << QStringList() << false;
    QTest::newRow("nested too deep") << QByteArray("names: ") + QByteArray(100000, '[') << QStringList() << false;
    QTest::newRow("not a mapping") << QByteArray("- a\n- b\n") << QStringList() << true;
    QTest::newRow("names is text") << QByteArray("names: obj.names\n") << QStringList() << true;
}

// data.yaml is the dataset's own file: when it cannot be parsed the names are unknown, and files
// read with them are incomplete.
void TestClassNames::yaml()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, names);
    QFETCH(bool, ok);
    const QString root = m_tmp->path() + "/ul";
    QVERIFY(Fixtures::writeBytes(root + "/data.yaml", content));
    QDir().mkpath(root + "/labels/train");
    const ClassNames found = findClassNames(root + "/labels/train");
    QCOMPARE(found.names, names);
    QCOMPARE(found.ok, ok);
    QCOMPARE(found.file.isEmpty(), ok && names.isEmpty());

    // Another YAML file that cannot be parsed is somebody else's and passed over.
    QVERIFY(QFile::rename(root + "/data.yaml", root + "/other.yaml"));
    QVERIFY(Fixtures::writeBytes(root + "/zz.yaml", "names: [z]\n"));
    const ClassNames other = findClassNames(root + "/labels/train");
    QVERIFY(other.ok);
    QCOMPARE(other.names, names.isEmpty() ? QStringList{"z"} : names);

    // Labels read with unknown names are incomplete, and nothing is written from them.
    if (!ok) {
        QVERIFY(QFile::rename(root + "/other.yaml", root + "/data.yaml"));
        const QString image = root + "/images/train/a.png";
        QVERIFY(Fixtures::makeImage(image, 200, 100));
        QVERIFY(Fixtures::writeBytes(root + "/labels/train/a.txt", "0 0.5 0.5 0.2 0.2\n"));
        const StoredAnnotations stored = readStoredAnnotations(image);
        QCOMPARE(stored.annotations.size(), 1);
        QCOMPARE(stored.damagedFile, root + "/data.yaml");
        Annotation a = stored.annotations.first();
        a.label = "new";
        QVERIFY(!saveAnnotations(image, {a}, true, {}));
        QVERIFY(!saveAnnotations(image, {a}, false, {}));
        QCOMPARE(Fixtures::readBytes(root + "/labels/train/a.txt"), QByteArray("0 0.5 0.5 0.2 0.2\n"));
        QVERIFY(!QFile::exists(root + "/labels/train/classes.txt"));
    }
}

void TestClassNames::datasetRoot_data()
{
    QTest::addColumn<QString>("labelsDir");
    QTest::addColumn<QString>("root");
    QTest::newRow("labels of a split") << "/ds/labels/train" << "/ds";
    QTest::newRow("labels directly") << "/ds/labels" << "/ds";
    QTest::newRow("labels twice, last counts") << "/a/labels/b/labels/c" << "/a/labels/b";
    QTest::newRow("upper case") << "/ds/Labels/val" << "/ds";
    QTest::newRow("top-level labels") << "/labels" << "/";
    QTest::newRow("labels beside the images") << "/task/obj_train_data" << "/task";
}

void TestClassNames::datasetRoot()
{
    QFETCH(QString, labelsDir);
    QFETCH(QString, root);
    QCOMPARE(datasetRootFor(labelsDir), root);
}

void TestClassNames::changedNamesAreReadAgain()
{
    const Layouts::Layout l = Layouts::build(m_tmp->path(), "ultralytics list");
    QVERIFY(!l.image.isEmpty());
    const QString ul = m_tmp->path() + "/ul";
    // Once the folders have settled the names are kept per thread; every change must still show.
    QTRY_VERIFY(FolderListing::of(ul).known() && FolderListing::of(ul + "/labels/train").known());
    QCOMPARE(loadAnnotations(l.image).first().label, QString("car"));

    QVERIFY(Fixtures::writeBytes(ul + "/data.yaml", "names: [person, truck]\n"));
    QCOMPARE(loadAnnotations(l.image).first().label, QString("truck"));
    QVERIFY(Fixtures::writeBytes(ul + "/data.yaml", "names: [person, lorry]\n")); // same size
    QCOMPARE(loadAnnotations(l.image).first().label, QString("lorry"));
    QVERIFY(Fixtures::writeBytes(ul + "/labels/obj.names", "a\nb\n")); // comes before the YAML file
    QCOMPARE(loadAnnotations(l.image).first().label, QString("b"));
    QVERIFY(QFile::remove(ul + "/labels/obj.names"));
    QCOMPARE(loadAnnotations(l.image).first().label, QString("lorry"));
}

void TestClassNames::labelFileCreatedAfterAScanIsFound_data()
{
    QTest::addColumn<bool>("listing");
    QTest::newRow("folder names kept (the state scanner)") << true;
    QTest::newRow("no folder listed (the window)") << false;
}

void TestClassNames::labelFileCreatedAfterAScanIsFound()
{
    QFETCH(bool, listing);
    const Layouts::Layout l = Layouts::build(m_tmp->path(), "yolo 1.1");
    QVERIFY(!l.image.isEmpty());
    const QString folder = QFileInfo(l.image).absolutePath();
    const QString next = folder + "/next.png";
    QVERIFY(Fixtures::makeImage(next, 200, 100));
    const auto restore = qScopeGuard([] { FolderListing::listOnThisThread(true); });
    FolderListing::listOnThisThread(listing);
    if (listing)
        QTRY_VERIFY(FolderListing::of(folder).known());
    else
        QVERIFY(!FolderListing::of(folder).known());
    QCOMPARE(countAnnotations(next), -1);
    QCOMPARE(countAnnotations(l.image), 1);

    QVERIFY(Fixtures::writeBytes(folder + "/next.txt", "0 0.5 0.5 0.1 0.1\n1 0.5 0.5 0.1 0.1\n"));
    QCOMPARE(countAnnotations(next), 2);
    QVERIFY(Fixtures::writeBytes(folder + "/next.xml", Layouts::vocXml({"owl"})));
    QCOMPARE(loadAnnotations(next).first().label, QString("owl"));
    QVERIFY(QFile::remove(l.labelFile));
    QCOMPARE(countAnnotations(l.image), -1);
}


void TestClassNames::appendKeepsEveryOtherByte_data()
{
    QTest::addColumn<QString>("name");          // the file, in the temporary folder
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QByteArray>("after");     // empty: refused, the file unchanged
    QTest::addColumn<int>("outcome");

    const int appended = int(NamesAppend::Appended);
    QTest::newRow("block list with nc and comments")
        << "data.yaml" << QByteArray("# my dataset\npath: ../ds  # keep\ntrain: images/train\nval: images/val\n"
                                     "nc: 3\nnames:\n  - car\n  - bus\n  - van\n# end\n")
        << QStringList{"truck"}
        << QByteArray("# my dataset\npath: ../ds  # keep\ntrain: images/train\nval: images/val\n"
                      "nc: 4\nnames:\n  - car\n  - bus\n  - van\n  - truck\n# end\n")
        << appended;
    QTest::newRow("block list at column 0, nc after, CRLF")
        << "data.yaml" << QByteArray("names:\r\n- car\r\n- bus\r\nnc: 2\r\n") << QStringList{"truck", "traffic light"}
        << QByteArray("names:\r\n- car\r\n- bus\r\n- truck\r\n- traffic light\r\nnc: 4\r\n") << appended;
    QTest::newRow("flow list") << "dataset.yaml" << QByteArray("train: a\nnames: ['car', \"bus, red\"] # two\nnc: 2\n")
                               << QStringList{"truck"}
                               << QByteArray("train: a\nnames: ['car', \"bus, red\", truck] # two\nnc: 3\n") << appended;
    QTest::newRow("empty flow list") << "data.yaml" << QByteArray("names: []\n") << QStringList{"truck"}
                                     << QByteArray("names: [truck]\n") << appended;
    QTest::newRow("map, no final newline") << "data.yaml" << QByteArray("names:\n  0: car\n  1: bus")
                                           << QStringList{"truck"}
                                           << QByteArray("names:\n  0: car\n  1: bus\n  2: truck") << appended;
    QTest::newRow("map with a gap continues after its last index")
        << "data.yaml" << QByteArray("names:\n  0: car\n  5: bus\nval: v\n") << QStringList{"truck"}
        << QByteArray("names:\n  0: car\n  5: bus\n  6: truck\nval: v\n") << appended;
    QTest::newRow("a name YAML would read as something else is quoted")
        << "data.yaml" << QByteArray("names: [car]\n") << QStringList{"yes", "a: b", "12"}
        << QByteArray("names: [car, \"yes\", \"a: b\", \"12\"]\n") << appended;
    QTest::newRow("a name already there is not added again")
        << "data.yaml" << QByteArray("names: [car]\n") << QStringList{"car"} << QByteArray("names: [car]\n")
        << appended;
    QTest::newRow("obj.names without a final newline")
        << "obj.names" << QByteArray("car\nbus") << QStringList{"truck"} << QByteArray("car\nbus\ntruck\n") << appended;
    QTest::newRow("names written as a block scalar: refused")
        << "data.yaml" << QByteArray("names: |\n  car\n") << QStringList{"truck"} << QByteArray()
        << int(NamesAppend::Unreadable);
    QTest::newRow("names that span lines in a block list: refused")
        << "data.yaml" << QByteArray("names:\n  - \"car\n    park\"\nnc: 1\n") << QStringList{"truck"} << QByteArray()
        << int(NamesAppend::Unsupported);
}

// What Ultralytics and other readers see changes by the new names only.
void TestClassNames::appendKeepsEveryOtherByte()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, before);
    QFETCH(QStringList, added);
    QFETCH(QByteArray, after);
    QFETCH(int, outcome);
    const QString path = m_tmp->path() + "/" + name;
    QVERIFY(Fixtures::writeBytes(path, before));
    QCOMPARE(int(appendClassNames(path, added)), outcome);
    QCOMPARE(Fixtures::readBytes(path), after.isEmpty() ? before : after);
    QCOMPARE(QDir(m_tmp->path()).entryList(QDir::Files | QDir::Hidden), QStringList{name});
}

void TestClassNames::appendRefusesLinks()
{
    // A data.yaml that is a link to a file outside the dataset is never written through.
    const QString outside = m_tmp->path() + "/elsewhere/data.yaml";
    QVERIFY(Fixtures::writeBytes(outside, "names: [car]\n"));
    QVERIFY(QDir().mkpath(m_tmp->path() + "/ds"));
    QVERIFY(QFile::link(outside, m_tmp->path() + "/ds/data.yaml"));
    QCOMPARE(appendClassNames(m_tmp->path() + "/ds/data.yaml", {"truck"}), NamesAppend::Refused);
    QCOMPARE(Fixtures::readBytes(outside), QByteArray("names: [car]\n"));
}

BRINDLE_TEST_MAIN(TestClassNames)
#include "tst_classnames.moc"
