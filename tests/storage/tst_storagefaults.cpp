#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"
#include "storage/directoryloader.h"
#include "storage/filebytes.h"
#include "storage/pendingfile.h"

#include "storagefixtures.h"
#include "support/annotationbuilders.h"
#include "support/clirunner.h"
#include "testmain.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

// Faults that used to cost labels: a full disk, unreadable class lists, damaged or odd label
// files, overflowing numbers, FIFOs. Checked through the library and through brindlemark-cli.
namespace {

QByteArray vocObjects(int count, const QByteArray &tail = "</annotation>\n")
{
    QByteArray xml = "<?xml version=\"1.0\"?>\n<annotation>\n";
    for (int i = 0; i < count; ++i)
        xml += "<object><name>o" + QByteArray::number(i) + "</name><bndbox><xmin>10</xmin><ymin>10</ymin>"
               "<xmax>50</xmax><ymax>40</ymax></bndbox></object>\n";
    return xml + tail;
}

// Four objects; markup inside the third one's name is an XML error for the reader.
QByteArray brokenAfterSecondOfFour()
{
    QByteArray xml = vocObjects(4);
    const qsizetype third = xml.indexOf("<name>o2</name>");
    return xml.replace(third, 15, "<name>o<b/>2</name>");
}

// A file system that is full: a small tmpfs, mounted for the test's lifetime (root only).
class FullDisk
{
public:
    explicit FullDisk(const QString &dir)
        : m_dir(QFile::encodeName(dir))
    {
        QDir().mkpath(dir);
        m_mounted = ::mount("tmpfs", m_dir.constData(), "tmpfs", 0, "size=256k") == 0;
    }
    ~FullDisk()
    {
        if (m_mounted)
            ::umount2(m_dir.constData(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }
    // Takes every free byte that is left.
    bool fill() const
    {
        QFile filler(QFile::decodeName(m_dir) + QStringLiteral("/filler"));
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return false;
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size()) {
        }
        QByteArray one(1, 'x');
        while (filler.write(one) == 1) {
        }
        return true;
    }

private:
    QByteArray m_dir;
    bool m_mounted = false;
};

// Six objects of which only the first two can be used: a box, reversed corners (the box they
// mean), then a zero-width box, an empty name, a two-point polygon and a decimal comma.
QByteArray unusableObjects()
{
    const QByteArray box = "<bndbox><xmin>10</xmin><ymin>10</ymin><xmax>50</xmax><ymax>40</ymax></bndbox>";
    return "<annotation>\n<object><name>cat</name>" + box + "</object>\n"
           "<object><name>dog</name><bndbox><xmin>50</xmin><ymin>40</ymin><xmax>10</xmax><ymax>10</ymax></bndbox>"
           "</object>\n"
           "<object><name>zero</name><bndbox><xmin>10</xmin><ymin>10</ymin><xmax>10</xmax><ymax>40</ymax></bndbox>"
           "</object>\n"
           "<object><name></name>" + box + "</object>\n"
           "<object><name>line</name><polygon><points>1,1 5,5</points></polygon>" + box + "</object>\n"
           "<object><name>comma</name><bndbox><xmin>10,5</xmin><ymin>10</ymin><xmax>50,5</xmax><ymax>40</ymax>"
           "</bndbox></object>\n</annotation>\n";
}

// Stands for a label file one byte past the read limit (sparse: it takes no room).
const QByteArray kHuge = "huge";

} // namespace

class TestStorageFaults : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void fullDiskKeepsLabels_data();
    void fullDiskKeepsLabels();
    void fullDiskConvertAsProcess_data();
    void fullDiskConvertAsProcess();
    void unreadableClassList_data();
    void unreadableClassList();
    void incompleteReading_data();
    void incompleteReading();
    void incompleteReadingRefusedByConvert_data();
    void incompleteReadingRefusedByConvert();
    void overflowingNumbers();
    void linesSplitOnlyAtLineEnds_data();
    void linesSplitOnlyAtLineEnds();
    void utf16Voc_data();
    void utf16Voc();
    void specialFilesDoNotHang_data();
    void specialFilesDoNotHang();
    void specialFilesAsProcess_data();
    void specialFilesAsProcess();
    void listingSkipsSpecialFiles();
    void unreadableStandardInput();
    void readOnlyLabelsFolderFailsVocSave();
    void linksLeavingTheDataset_data();
    void linksLeavingTheDataset();
    void linksLeavingTheDatasetAsProcess_data();
    void linksLeavingTheDatasetAsProcess();

private:
    void writeYoloLabels(const QByteArray &lines = "0 0.5 0.5 0.5 0.5\n1 0.25 0.25 0.1 0.1\n");
    void writeVoc(const QByteArray &xml = vocObjects(2));
    // A VOC or YOLO label file ("voc", "yolo") with the given content, or kHuge.
    void writeLabels(const QString &format, const QByteArray &content);
    void moveDatasetTo(const QString &root);

    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_root;    // <tmp>/ds
    QString m_image;   // <root>/images/pic.png
    QString m_labels;  // <root>/labels
    QString m_yolo;    // <root>/labels/pic.txt
    QString m_xml;     // <root>/images/annotations/pic.xml
};

void TestStorageFaults::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    moveDatasetTo(m_tmp->path() + QStringLiteral("/ds"));
}

void TestStorageFaults::moveDatasetTo(const QString &root)
{
    m_root = root;
    m_image = root + QStringLiteral("/images/pic.png");
    m_labels = root + QStringLiteral("/labels");
    m_yolo = m_labels + QStringLiteral("/pic.txt");
    m_xml = root + QStringLiteral("/images/annotations/pic.xml");
    QVERIFY(Fixtures::makeImage(m_image, 200, 100));
}

void TestStorageFaults::writeYoloLabels(const QByteArray &lines)
{
    QVERIFY(Fixtures::writeBytes(m_labels + QStringLiteral("/classes.txt"), "cat\ndog\n"));
    QVERIFY(Fixtures::writeBytes(m_yolo, lines));
}

void TestStorageFaults::writeVoc(const QByteArray &xml)
{
    QVERIFY(Fixtures::writeBytes(m_xml, xml));
}

void TestStorageFaults::writeLabels(const QString &format, const QByteArray &content)
{
    const bool voc = format == u"voc";
    if (content != kHuge) {
        if (voc)
            writeVoc(content);
        else
            writeYoloLabels(content);
        return;
    }
    const QByteArray head = voc ? vocObjects(1, QByteArray()) : QByteArray("0 0.5 0.5 0.5 0.5\n");
    if (voc)
        writeVoc(head);
    else
        writeYoloLabels(head);
    QVERIFY(Fixtures::growFile(voc ? m_xml : m_yolo, kLabelFileLimit + 1));
}

void TestStorageFaults::fullDiskKeepsLabels_data()
{
    QTest::addColumn<QString>("from");
    QTest::newRow("voc to yolo") << "voc";
    QTest::newRow("yolo to voc") << "yolo";
    QTest::newRow("pending file") << "pending";
    QTest::newRow("class list") << "classes";
}

void TestStorageFaults::fullDiskKeepsLabels()
{
    QFETCH(QString, from);
    FullDisk disk(m_tmp->path() + QStringLiteral("/small"));
    if (!disk.mounted())
        QSKIP("mounting a small tmpfs needs root; run as root to test a full disk");
    moveDatasetTo(m_tmp->path() + QStringLiteral("/small/ds"));
    writeYoloLabels();
    const QString pendingDir = m_root + QStringLiteral("/images");
    if (from == u"voc") {
        QVERIFY(QFile::remove(m_yolo));
        writeVoc();
    } else if (from == u"pending") {
        AnnotationCache cache;
        Annotation a = box(QStringLiteral("cat"), QRectF(1, 2, 3, 4));
        a.pending = 1;
        cache.insert(m_image, {a});
        QVERIFY(writePendingFile(pendingDir, cache));
    }
    const QByteArray yoloBefore = Fixtures::readBytes(m_yolo);
    const QByteArray xmlBefore = Fixtures::readBytes(m_xml);
    const QByteArray pendingBefore = Fixtures::readBytes(pendingFilePath(pendingDir));
    const QByteArray classesBefore = Fixtures::readBytes(m_labels + QStringLiteral("/classes.txt"));
    QVERIFY(disk.fill());

    // Small content: it sits in a write buffer until the file is closed.
    QList<Annotation> many;
    for (int i = 0; i < 3; ++i) {
        Annotation a = box(QStringLiteral("label%1").arg(i), QRectF(i % 150, i % 80, 20, 10));
        a.pending = from == u"pending" ? 1 : 0;
        many.append(a);
    }
    if (from == u"voc") {
        QVERIFY(!saveAnnotations(m_image, many, true, {}));
    } else if (from == u"yolo") {
        QVERIFY(!saveAnnotations(m_image, many, false, {}));
    } else if (from == u"pending") {
        AnnotationCache cache;
        cache.insert(m_image, many);
        QVERIFY(!writePendingFile(pendingDir, cache));
    } else {
        QVERIFY(!writeClassList(m_image, {QStringLiteral("bird"), QStringLiteral("fish")}));
    }
    QCOMPARE(Fixtures::readBytes(m_yolo), yoloBefore);
    QCOMPARE(Fixtures::readBytes(m_xml), xmlBefore);
    QCOMPARE(Fixtures::readBytes(pendingFilePath(pendingDir)), pendingBefore);
    QCOMPARE(Fixtures::readBytes(m_labels + QStringLiteral("/classes.txt")), classesBefore);
}

void TestStorageFaults::fullDiskConvertAsProcess_data()
{
    QTest::addColumn<QString>("to");
    QTest::newRow("voc file converted to yolo") << "yolo";
    QTest::newRow("yolo file converted to voc") << "voc";
}

void TestStorageFaults::fullDiskConvertAsProcess()
{
    QFETCH(QString, to);
    FullDisk disk(m_tmp->path() + QStringLiteral("/small"));
    if (!disk.mounted())
        QSKIP("mounting a small tmpfs needs root; run as root to test a full disk");
    moveDatasetTo(m_tmp->path() + QStringLiteral("/small/ds"));
    QByteArray yolo;
    for (int i = 0; i < 3; ++i)
        yolo += "0 0.5 0.5 0.25 0.25\n";
    if (to == u"yolo")
        writeVoc(vocObjects(3));
    else
        writeYoloLabels(yolo);
    const QByteArray yoloBefore = Fixtures::readBytes(m_yolo);
    const QByteArray xmlBefore = Fixtures::readBytes(m_xml);
    QVERIFY(disk.fill());

    const CliResult result = runCli({QStringLiteral("convert"), QStringLiteral("--to"), to, m_image});
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(Fixtures::readBytes(m_yolo), yoloBefore);
    QCOMPARE(Fixtures::readBytes(m_xml), xmlBefore);
    QCOMPARE(countAnnotations(m_image), 3);
}

void TestStorageFaults::unreadableClassList_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("class list is a directory") << "directory";
    QTest::newRow("class list without read permission") << "mode000";
    QTest::newRow("class list is a FIFO") << "fifo";
}

void TestStorageFaults::unreadableClassList()
{
    QFETCH(QString, kind);
    QVERIFY(Fixtures::writeBytes(m_yolo, "0 0.5 0.5 0.5 0.5\n1 0.25 0.25 0.1 0.1\n"));
    const QString classes = m_labels + QStringLiteral("/classes.txt");
    const QByteArray native = QFile::encodeName(classes);
    if (kind == u"directory") {
        QVERIFY(QDir().mkpath(classes));
    } else if (kind == u"fifo") {
        QCOMPARE(::mkfifo(native.constData(), 0644), 0);
    } else {
        if (geteuid() == 0)
            QSKIP("root reads a file of mode 000; run as another user to test it");
        QVERIFY(Fixtures::writeBytes(classes, "cat\ndog\n"));
        QCOMPARE(::chmod(native.constData(), 0), 0);
    }

    bool ok = true;
    QVERIFY(readClassList(m_labels, &ok).isEmpty());
    QVERIFY(!ok);
    const StoredAnnotations stored = readStoredAnnotations(m_image);
    QCOMPARE(stored.annotations.size(), 2);
    QCOMPARE(stored.annotations.first().label, QStringLiteral("0"));
    QVERIFY(!stored.complete());
    QCOMPARE(stored.damagedFile, classes);

    // Nothing may be written from names that could not be read.
    const QByteArray before = Fixtures::readBytes(m_yolo);
    QVERIFY(!saveAnnotations(m_image, stored.annotations, false, {}));
    QVERIFY(!saveAnnotations(m_image, stored.annotations, true, {QStringLiteral("cat")}));
    QVERIFY(!QFile::exists(m_xml));
    QCOMPARE(Fixtures::readBytes(m_yolo), before);

    const CliResult result =
        runCli({QStringLiteral("convert"), QStringLiteral("--to"), QStringLiteral("voc"), m_image});
    QCOMPARE(result.exitCode, 1);
    QVERIFY(!QFile::exists(m_xml));
    QCOMPARE(Fixtures::readBytes(m_yolo), before);
    const CliResult shown = runCli({QStringLiteral("show"), m_image});
    QCOMPARE(shown.exitCode, 0);
    QVERIFY2(shown.out.contains("\"complete\":false"), shown.out);
    if (kind == u"mode000")
        ::chmod(native.constData(), 0644);
}

void TestStorageFaults::incompleteReading_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("content");   // kHuge: a file past the read limit
    QTest::addColumn<int>("read");
    QTest::addColumn<int>("counted");
    QTest::addColumn<QString>("problem");      // "name at"; empty: the reading is complete

    QTest::newRow("voc complete") << "voc" << vocObjects(4) << 4 << 4 << QString();
    QTest::newRow("voc broken after the second of four")
        << "voc" << brokenAfterSecondOfFour() << 2 << 4 << QStringLiteral("xml_error 5");
    QTest::newRow("voc without its closing tag") << "voc" << vocObjects(3, QByteArray()) << 3 << 3
                                                 << QStringLiteral("xml_error 6");
    QTest::newRow("empty voc file") << "voc" << QByteArray() << 0 << 0 << QString();
    QTest::newRow("voc with objects it cannot use") << "voc" << unusableObjects() << 2 << 6
                                                    << QStringLiteral("unusable_object 3");
    QTest::newRow("voc entity bomb") << "voc" << Fixtures::vocEntityBomb() << 1 << 2 << QStringLiteral("xml_error 12");
    QTest::newRow("voc past the read limit") << "voc" << kHuge << 0 << -1 << QStringLiteral("too_large 0");
    QTest::newRow("yolo complete") << "yolo" << QByteArray("0 0.5 0.5 0.5 0.5\n\n1 0.2 0.2 0.1 0.1\n") << 2 << 2
                                   << QString();
    QTest::newRow("yolo with a line the reader skips")
        << "yolo" << QByteArray("0 0.5 0.5 0.5 0.5\n0,0.5,0.5,0.1,0.1\n1 0.2 0.2 0.1 0.1\n") << 2 << 3
        << QStringLiteral("unusable_line 2");
    QTest::newRow("yolo with too few fields") << "yolo" << QByteArray("0 0.5 0.5 0.5\n") << 0 << 1
                                              << QStringLiteral("unusable_line 1");
    QTest::newRow("yolo with tab separated fields")
        << "yolo" << QByteArray("0\t0.5\t0.5\t0.5\t0.5\n1 0.2\t0.2 0.1 0.1\n") << 2 << 2 << QString();
    QTest::newRow("yolo with decimal commas")
        << "yolo" << QByteArray("0 0.5 0.5 0.5 0.5\n1 0,2 0,2 0,1 0,1\n") << 1 << 2 << QStringLiteral("unusable_line 2");
    QTest::newRow("yolo line of words") << "yolo" << QByteArray("a cat on the mat\n0 0.5 0.5 0.5 0.5\n") << 1 << 2
                                        << QStringLiteral("unusable_line 1");
    QTest::newRow("yolo past the read limit") << "yolo" << kHuge << 0 << -1 << QStringLiteral("too_large 0");
}

void TestStorageFaults::incompleteReading()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, content);
    QFETCH(int, read);
    QFETCH(int, counted);
    QFETCH(QString, problem);
    writeLabels(format, content);
    const StoredAnnotations stored = readStoredAnnotations(m_image);
    QCOMPARE(stored.annotations.size(), read);
    QCOMPARE(countAnnotations(m_image), counted);
    QCOMPARE(stored.complete(), problem.isEmpty());
    QCOMPARE(stored.file, format == u"voc" ? m_xml : m_yolo);
    const QString why = stored.problem.isNone() ? QString() : stored.problem.name() + ' ' + QString::number(stored.problem.at);
    QCOMPARE(why, problem);
    if (!problem.isEmpty())
        QCOMPARE(stored.damagedFile, stored.file);
}

void TestStorageFaults::incompleteReadingRefusedByConvert_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason");
    QTest::newRow("voc with an xml error") << "voc" << brokenAfterSecondOfFour() << "xml_error";
    QTest::newRow("yolo with a skipped line") << "yolo" << QByteArray("0 0.5 0.5 0.5 0.5\n0;0.5;0.5;0.1;0.1\n")
                                              << "unusable_line";
    QTest::newRow("yolo with an overflowing box") << "yolo" << QByteArray("0 1e307 0.5 1e307 0.2\n1 0.5 0.5 0.2 0.2\n")
                                                  << "unusable_line";
    QTest::newRow("voc with objects it cannot use") << "voc" << unusableObjects() << "unusable_object";
    QTest::newRow("voc entity bomb") << "voc" << Fixtures::vocEntityBomb() << "xml_error";
    QTest::newRow("voc past the read limit") << "voc" << kHuge << "too_large";
    QTest::newRow("yolo with decimal commas") << "yolo" << QByteArray("0 0,5 0,5 0,5 0,5\n") << "unusable_line";
    QTest::newRow("yolo past the read limit") << "yolo" << kHuge << "too_large";
}

void TestStorageFaults::incompleteReadingRefusedByConvert()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    writeLabels(format, content);
    const QString to = format == u"voc" ? QStringLiteral("yolo") : QStringLiteral("voc");
    const QString labelFile = format == u"voc" ? m_xml : m_yolo;
    const QByteArray head = Fixtures::readBytes(labelFile).left(4096);
    const qint64 size = QFileInfo(labelFile).size();
    const CliResult result = runCli({QStringLiteral("convert"), QStringLiteral("--to"), to, m_image});
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.contains(QFile::encodeName(labelFile)), result.err);
    QCOMPARE(QFileInfo(labelFile).size(), size);
    QCOMPARE(Fixtures::readBytes(labelFile).left(4096), head);
    QVERIFY(!QFile::exists(format == u"voc" ? m_yolo : m_xml));

    const CliResult shown = runCli({QStringLiteral("show"), m_image});
    QCOMPARE(shown.exitCode, 0);
    const QJsonObject line = QJsonDocument::fromJson(shown.out).object();
    QCOMPARE(line.value(QStringLiteral("complete")), QJsonValue(false));
    QCOMPARE(line.value(QStringLiteral("damaged")).toString(), labelFile);
    QCOMPARE(line.value(QStringLiteral("reason")).toString(), reason);
    QVERIFY2(!shown.out.contains("null"), shown.out);
}

void TestStorageFaults::overflowingNumbers()
{
    // A YOLO box that overflows is a damaged line, never a box with infinite edges.
    writeYoloLabels("0 1e307 0.5 1e307 0.2\n1 0.5 0.5 0.2 0.2\n");
    const StoredAnnotations stored = readStoredAnnotations(m_image);
    QCOMPARE(stored.annotations.size(), 1);
    QCOMPARE(stored.annotations.first().label, QStringLiteral("dog"));
    QVERIFY(!stored.complete());

    // VOC edges that overflow when subtracted.
    writeVoc("<annotation><object><name>a</name><bndbox><xmin>-1e308</xmin><ymin>0</ymin><xmax>1e308</xmax>"
             "<ymax>10</ymax></bndbox></object><object><name>b</name><bndbox><xmin>1</xmin><ymin>1</ymin>"
             "<xmax>5</xmax><ymax>5</ymax></bndbox></object></annotation>");
    const StoredAnnotations voc = readStoredAnnotations(m_image);
    QCOMPARE(voc.annotations.size(), 1);
    QCOMPARE(voc.annotations.first().label, QStringLiteral("b"));
    QVERIFY(!voc.complete());
    QVERIFY(QFile::remove(m_xml));

    // The pending file's box that overflows is dropped; the good record stays.
    const QString dir = m_root + QStringLiteral("/images");
    QVERIFY(Fixtures::writeBytes(pendingFilePath(dir),
                                 "{\"pending\":{\"" + m_image.toUtf8() + "\":[{\"b\":[-1e308,0,1e308,10],\"l\":\"a\",\"t\":\"r\"},"
                                 "{\"b\":[1,2,3,4],\"l\":\"b\",\"t\":\"r\"}]},\"version\":1}"));
    const AnnotationCache pending = readPendingFile(dir);
    QCOMPARE(pending.value(m_image).size(), 1);
    QCOMPARE(pending.value(m_image).first().label, QStringLiteral("b"));

    // No writer ever writes nan or inf.
    const double inf = std::numeric_limits<double>::infinity();
    Annotation bad = box(QStringLiteral("bad"), QRectF(0, 0, inf, 10));
    Annotation huge = box(QStringLiteral("huge"), QRectF(-1e308, 0, 1.5e308, 10));   // right edge overflows in YOLO
    Annotation good = box(QStringLiteral("good"), QRectF(10, 10, 20, 20));
    for (bool yolo : {true, false}) {
        QVERIFY(saveAnnotations(m_image, {bad, huge, good}, yolo, {}));
        const QByteArray written = Fixtures::readBytes(yolo ? m_yolo : m_xml).toLower();
        QVERIFY2(!written.contains("nan") && !written.contains("inf"), written);
        QVERIFY(loadAnnotations(m_image).size() >= 1);
    }
    Annotation pendingBad = bad;
    pendingBad.pending = 1;
    QVERIFY(writePendingFile(dir, {{m_image, {pendingBad}}}));
    QVERIFY(!Fixtures::readBytes(pendingFilePath(dir)).contains("null"));
}

void TestStorageFaults::linesSplitOnlyAtLineEnds_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("class list") << "classes";
    QTest::newRow("label file") << "labels";
}

void TestStorageFaults::linesSplitOnlyAtLineEnds()
{
    QFETCH(QString, file);
    // A file of 16,389 bytes whose byte 16,383 is a lone Latin-1 é ending a line.
    QByteArray bytes;
    const QByteArray line = file == u"classes" ? QByteArray("name\n") : QByteArray("0 0.5 0.5 0.2 0.2\n");
    int lines = 0;
    while (bytes.size() + line.size() < 16383 - 40) {
        bytes += line;
        ++lines;
    }
    QByteArray last = file == u"classes" ? QByteArray("caf") : QByteArray("1 0.5 0.5 0.2 0.2 ");
    while (bytes.size() + last.size() < 16383)
        last += ' ';
    bytes += last + '\xE9' + '\n';
    ++lines;
    // Four more bytes: a last class, or a label line too short to read.
    bytes += file == u"classes" ? QByteArray("dog\n") : QByteArray("1 5\n");
    QCOMPARE(bytes.size(), 16389);
    QCOMPARE(bytes.at(16383), '\xE9');
    if (file == u"classes") {
        // Not UTF-8 (nor UTF-16): no names at all, rather than names split or garbled; unreadable,
        // so that no save writes a list over it.
        QVERIFY(Fixtures::writeBytes(m_labels + QStringLiteral("/classes.txt"), bytes));
        bool ok = true;
        QVERIFY(readClassList(m_labels, &ok).isEmpty());
        QVERIFY(!ok);
        // The same file in UTF-8 splits at its line ends only.
        bytes.replace('\xE9', QByteArray("\xC3\xA9"));
        QVERIFY(Fixtures::writeBytes(m_labels + QStringLiteral("/classes.txt"), bytes));
        const QStringList names = readClassList(m_labels, &ok);
        QVERIFY(ok);
        QCOMPARE(names.size(), lines + 1);
        QCOMPARE(names.last(), QStringLiteral("dog"));
    } else {
        QVERIFY(Fixtures::writeBytes(m_labels + QStringLiteral("/classes.txt"), "cat\ndog\n"));
        QVERIFY(Fixtures::writeBytes(m_yolo, bytes));
        const QList<Annotation> read = loadAnnotations(m_image);
        QCOMPARE(read.size(), lines);
        // Merged with the next line it would have become a polygon.
        QCOMPARE(read.last().label, QStringLiteral("dog"));
        QCOMPARE(read.last().kind, int(Annotation::Rect));
        QCOMPARE(countAnnotations(m_image), lines + 1);
    }
}

void TestStorageFaults::utf16Voc_data()
{
    QTest::addColumn<QString>("lineEnd");
    QTest::newRow("CR LF") << "\r\n";
    QTest::newRow("LF") << "\n";
}

void TestStorageFaults::utf16Voc()
{
    QFETCH(QString, lineEnd);
    const QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?>%1<annotation>%1"
                                       "<object><name>čáp</name><bndbox><xmin>1</xmin><ymin>1</ymin>"
                                       "<xmax>9</xmax><ymax>9</ymax></bndbox></object>%1"
                                       "<object><name>dog</name><bndbox><xmin>2</xmin><ymin>2</ymin>"
                                       "<xmax>8</xmax><ymax>8</ymax></bndbox></object>%1</annotation>%1")
                            .arg(lineEnd);
    QStringEncoder encoder(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
    writeVoc(encoder.encode(xml));
    const StoredAnnotations stored = readStoredAnnotations(m_image);
    QVERIFY(stored.complete());
    QCOMPARE(stored.annotations.size(), 2);
    QCOMPARE(stored.annotations.at(0).label, QStringLiteral("čáp"));
    QCOMPARE(stored.annotations.at(1).label, QStringLiteral("dog"));
    QCOMPARE(countAnnotations(m_image), 2);
}

void TestStorageFaults::specialFilesDoNotHang_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("FIFO") << "fifo";
    QTest::newRow("link to /dev/zero") << "zero";
}

void TestStorageFaults::specialFilesDoNotHang()
{
    QFETCH(QString, kind);
    QVERIFY(QDir().mkpath(m_labels));
    QVERIFY(QDir().mkpath(QFileInfo(m_xml).absolutePath()));
    const QString dir = m_root + QStringLiteral("/images");
    for (const QString &path : {m_yolo, m_xml, pendingFilePath(dir), pendingLockPath(dir)}) {
        if (kind == u"fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
        else
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
    }
    QByteArray bytes;
    QCOMPARE(readRegularFile(m_yolo, &bytes), FileRead::Unreadable);
    const StoredAnnotations stored = readStoredAnnotations(m_image);
    QVERIFY(stored.annotations.isEmpty());
    QVERIFY(!stored.complete());
    QCOMPARE(countAnnotations(m_image), -1);
    QVERIFY(QFile::remove(m_xml));
    QVERIFY(readStoredAnnotations(m_image).annotations.isEmpty());
    QCOMPARE(countAnnotations(m_image), -1);
    bool readable = true;
    QVERIFY(readPendingFile(dir, &readable).isEmpty());
    QVERIFY(!readable);
    // Such a lock is refused at once, never waited on or read.
    Annotation cat = box(QStringLiteral("cat"), QRectF(10, 10, 50, 30));
    cat.pending = 1;
    QVERIFY(!writePendingFile(dir, {{m_image, {cat}}}));
    QVERIFY(!syncPendingFile(dir, PendingFileState(), {{m_image, {cat}}}, true).ok);
}

void TestStorageFaults::specialFilesAsProcess_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("FIFO") << "fifo";
    QTest::newRow("link to /dev/zero") << "zero";
}

void TestStorageFaults::specialFilesAsProcess()
{
    QFETCH(QString, kind);
    QVERIFY(QDir().mkpath(m_labels));
    const QString dir = m_root + QStringLiteral("/images");
    for (const QString &path : {m_yolo, pendingFilePath(dir)}) {
        if (kind == u"fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
        else
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
    }
    const CliResult shown = runCli({QStringLiteral("show"), m_image});
    QCOMPARE(shown.exitCode, 0);
    QVERIFY2(shown.out.contains("\"complete\":false") && shown.out.contains("\"count\":-1"), shown.out);
    const CliResult pending = runCli({QStringLiteral("pending"), dir});
    QCOMPARE(pending.exitCode, 1);
    QVERIFY2(pending.err.contains(".brindle_pending.json"), pending.err);
    const CliResult converted =
        runCli({QStringLiteral("convert"), QStringLiteral("--to"), QStringLiteral("voc"), m_image});
    QCOMPARE(converted.exitCode, 1);
    QVERIFY(!QFile::exists(m_xml));
}

void TestStorageFaults::listingSkipsSpecialFiles()
{
    // Named like images, but reading them would block or never end.
    const QString dir = m_root + QStringLiteral("/images");
    QCOMPARE(::mkfifo(QFile::encodeName(dir + QStringLiteral("/pipe.jpg")).constData(), 0644), 0);
    QVERIFY(QFile::link(dir + QStringLiteral("/pipe.jpg"), dir + QStringLiteral("/link-to-pipe.jpg")));
    QVERIFY(QFile::link(QStringLiteral("/dev/zero"), dir + QStringLiteral("/zero.png")));
    QVERIFY(QFile::link(m_image, dir + QStringLiteral("/link-to-pic.png")));
    QCOMPARE(DirectoryLoader::listImages(dir), QStringList({dir + QStringLiteral("/link-to-pic.png"), m_image}));
    QVERIFY(!imageSize(dir + QStringLiteral("/link-to-pipe.jpg")).isValid());
}

void TestStorageFaults::unreadableStandardInput()
{
    // A directory opens but cannot be read.
    CliOptions fromDirectory = inEnglish();
    fromDirectory.inputFile = m_tmp->path();
    const CliResult result = runCli({QStringLiteral("parse"), QStringLiteral("--source"), QStringLiteral("10x10")},
                                    fromDirectory);
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.contains("cannot read standard input"), result.err);
    QVERIFY(result.out.isEmpty());
}

void TestStorageFaults::readOnlyLabelsFolderFailsVocSave()
{
    writeYoloLabels();
    const QByteArray before = Fixtures::readBytes(m_yolo);
    Fixtures::ReadOnlyDirectory lock(m_labels);
    if (!lock.ok())
        QSKIP("cannot make a directory read-only here");
    // The stale YOLO file could not be removed: refused before the XML is written.
    QVERIFY(!saveAnnotations(m_image, {box(QStringLiteral("cat"), QRectF(1, 1, 5, 5))}, false, {}));
    QVERIFY(!QFile::exists(m_xml));
    QCOMPARE(Fixtures::readBytes(m_yolo), before);
    const CliResult result =
        runCli({QStringLiteral("convert"), QStringLiteral("--to"), QStringLiteral("voc"), m_image});
    QCOMPARE(result.exitCode, 1);
    QVERIFY(!result.err.isEmpty());
    QVERIFY(!QFile::exists(m_xml));
    QCOMPARE(Fixtures::readBytes(m_yolo), before);
}

void TestStorageFaults::linksLeavingTheDataset_data()
{
    // link: the path that is a link, relative to the dataset root; to: where it leads ("outside"
    // the dataset, "dangling", "inside" the folder the link is in, or "beside" that folder: to a
    // file of the folder that holds images/ and labels/, as the home folder an archive was
    // unpacked in); write: what is saved; refused: the file named.
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("write");
    QTest::addColumn<QString>("refused");   // empty: the write goes through

    QTest::newRow("pending file to a file outside") << "images/.brindle_pending.json" << "outside" << "pending"
                                                    << "images/.brindle_pending.json";
    QTest::newRow("pending file dangling") << "images/.brindle_pending.json" << "dangling" << "pending"
                                           << "images/.brindle_pending.json";
    QTest::newRow("pending file to a file inside") << "images/.brindle_pending.json" << "inside" << "pending"
                                                   << QString();
    QTest::newRow("class list to a file outside") << "labels/classes.txt" << "outside" << "yolo"
                                                  << "labels/classes.txt";
    QTest::newRow("class list to a file inside") << "labels/classes.txt" << "inside" << "yolo" << QString();
    QTest::newRow("yolo label file to a file outside") << "labels/pic.txt" << "outside" << "yolo"
                                                       << "labels/pic.txt";
    QTest::newRow("voc file dangling") << "images/annotations/pic.xml" << "dangling" << "voc"
                                       << "images/annotations/pic.xml";
    QTest::newRow("voc file to a file inside") << "images/annotations/pic.xml" << "inside" << "voc" << QString();
    QTest::newRow("labels folder to a folder outside") << "labels" << "outside folder" << "yolo" << "labels/pic.txt";
    QTest::newRow("annotations folder dangling") << "images/annotations" << "dangling" << "voc"
                                                 << "images/annotations/pic.xml";
    QTest::newRow("pending file to a file beside the image folder")
        << "images/.brindle_pending.json" << "beside" << "pending" << "images/.brindle_pending.json";
    QTest::newRow("class list to a file beside the labels folder") << "labels/classes.txt" << "beside" << "yolo"
                                                                   << "labels/classes.txt";
    QTest::newRow("yolo label file to the image folder") << "labels/pic.txt" << "image folder" << "yolo"
                                                         << "labels/pic.txt";
    QTest::newRow("yolo file to remove lies outside") << "labels" << "outside folder" << "voc" << "labels/pic.txt";
}

void TestStorageFaults::linksLeavingTheDataset()
{
    QFETCH(QString, link);
    QFETCH(QString, to);
    QFETCH(QString, write);
    QFETCH(QString, refused);
    const QString outside = m_tmp->path() + QStringLiteral("/home");
    const QString bashrc = outside + QStringLiteral("/.bashrc");
    QVERIFY(Fixtures::writeBytes(bashrc, "alias ls='ls -F'\n"));
    const QString linkPath = m_root + QLatin1Char('/') + link;
    QString target = outside + QStringLiteral("/.profile");   // dangling
    if (to == u"outside")
        target = bashrc;
    else if (to == u"outside folder")
        target = outside;
    else if (to == u"inside")
        target = m_root + QLatin1Char('/') + link.section(QLatin1Char('/'), 0, 0) + QStringLiteral("/shared/")
            + QFileInfo(link).fileName();
    else if (to == u"beside")
        target = m_root + QStringLiteral("/.bashrc");
    else if (to == u"image folder")
        target = m_root + QStringLiteral("/images/notes.txt");
    if (to == u"inside")
        QVERIFY(Fixtures::writeBytes(target, QByteArray()));
    const bool besideLink = to == u"beside" || to == u"image folder";
    if (besideLink)
        QVERIFY(Fixtures::writeBytes(target, "alias ls='ls -F'\n"));
    if (write == u"voc" && to == u"outside folder")
        QVERIFY(Fixtures::writeBytes(outside + QStringLiteral("/pic.txt"), "0 0.5 0.5 0.5 0.5\n"));
    QVERIFY(QDir().mkpath(QFileInfo(linkPath).absolutePath()));
    QVERIFY(QFile::link(target, linkPath));
    const QStringList outsideBefore = QDir(outside).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

    Annotation cat = box(QStringLiteral("cat"), QRectF(10, 10, 50, 30));
    bool written = false;
    SaveReport report;
    if (write == u"pending") {
        cat.pending = 1;
        written = writePendingFile(m_root + QStringLiteral("/images"), {{m_image, {cat}}});
    } else {
        written = saveAnnotations(m_image, {cat}, write == u"yolo", {}, &report);
    }

    QCOMPARE(written, refused.isEmpty());
    // Nothing outside the dataset changed: no file rewritten, none created.
    QCOMPARE(Fixtures::readBytes(bashrc), QByteArray("alias ls='ls -F'\n"));
    if (besideLink)
        QCOMPARE(Fixtures::readBytes(target), QByteArray("alias ls='ls -F'\n"));
    QCOMPARE(QDir(outside).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), outsideBefore);
    if (write == u"voc" && to == u"outside folder")
        QCOMPARE(Fixtures::readBytes(outside + QStringLiteral("/pic.txt")), QByteArray("0 0.5 0.5 0.5 0.5\n"));
    if (!refused.isEmpty()) {
        if (write != u"pending")
            QCOMPARE(report.refusedFile, m_root + QLatin1Char('/') + refused);
        QVERIFY(QFileInfo(linkPath).isSymLink());
        return;
    }
    // A link inside the dataset is written through and stays a link.
    QVERIFY(QFileInfo(linkPath).isSymLink());
    QVERIFY(!Fixtures::readBytes(target).isEmpty());
    QVERIFY(report.refusedFile.isEmpty());
}

void TestStorageFaults::linksLeavingTheDatasetAsProcess_data()
{
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("beside");   // the link leads to a file of the folder holding images/ and labels/
    QTest::newRow("class list to a file outside") << "yolo" << "labels/classes.txt" << false;
    QTest::newRow("voc file dangling") << "voc" << "images/annotations/pic.xml" << false;
    // As an archive unpacked in the home folder: labels/classes.txt -> ../.bashrc.
    QTest::newRow("class list to a file beside the labels folder") << "yolo" << "labels/classes.txt" << true;
}

void TestStorageFaults::linksLeavingTheDatasetAsProcess()
{
    QFETCH(QString, to);
    QFETCH(QString, link);
    QFETCH(bool, beside);
    const QString outside = beside ? m_root + QStringLiteral("/.bashrc") : m_tmp->path() + QStringLiteral("/home/.bashrc");
    QVERIFY(Fixtures::writeBytes(outside, "export PATH\n"));
    if (to == u"yolo") {
        writeVoc();
    } else {
        QVERIFY(Fixtures::writeBytes(m_yolo, "0 0.5 0.5 0.5 0.5\n"));
    }
    const QString linkPath = m_root + QLatin1Char('/') + link;
    QVERIFY(QDir().mkpath(QFileInfo(linkPath).absolutePath()));
    QVERIFY(QFile::link(to == u"yolo" ? outside : outside + QStringLiteral(".new"), linkPath));
    const QByteArray xmlBefore = Fixtures::readBytes(m_xml);

    const CliResult result = runCli({QStringLiteral("convert"), QStringLiteral("--to"), to, m_image});
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.contains(QFile::encodeName(linkPath)), result.err.constData());
    QCOMPARE(Fixtures::readBytes(outside), QByteArray("export PATH\n"));
    QVERIFY(!QFile::exists(outside + QStringLiteral(".new")));
    // The labels stay as they were, in their format.
    if (to == u"yolo")
        QCOMPARE(Fixtures::readBytes(m_xml), xmlBefore);
    else
        QCOMPARE(Fixtures::readBytes(m_yolo), QByteArray("0 0.5 0.5 0.5 0.5\n"));
}

BRINDLE_TEST_MAIN(TestStorageFaults)
#include "tst_storagefaults.moc"
