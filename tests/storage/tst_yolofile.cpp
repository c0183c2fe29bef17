#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"
#include "storage/shapekinds.h"
#include "storage/yolofile.h"

#include "storagefixtures.h"
#include "support/annotationbuilders.h"
#include "testmain.h"

#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

class TestYoloFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void writeLines_data();
    void writeLines();
    void readLines_data();
    void readLines();
    void roundTrip_data();
    void roundTrip();
    void numberClassesRoundTrip_data();
    void numberClassesRoundTrip();
    void orientedSizeDrivesNormalisation();
    void obbSampleSavesBackAsShipped();
    void unreadableImageWritesNothing();
    void siblingFileUsesMappedClassList();
    void countLines_data();
    void countLines();
    void poseRows_data();
    void poseRows();

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_image;
    QString m_labelsDir;
};

void TestYoloFile::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    m_image = m_tmp->path() + "/ds/images/pic.png";
    m_labelsDir = m_tmp->path() + "/ds/labels";
    QVERIFY(Fixtures::makeImage(m_image, 200, 100));
}

void TestYoloFile::writeLines_data()
{
    QTest::addColumn<QList<Annotation>>("annotations");
    QTest::addColumn<QByteArray>("classesOnDisk"); // empty: no classes.txt
    QTest::addColumn<QStringList>("callerClasses");
    QTest::addColumn<QByteArray>("expectedLines");
    QTest::addColumn<QByteArray>("expectedClasses");

    const QRectF centre(50, 25, 100, 50);
    QTest::newRow("box at class 0") << QList<Annotation>{box("cat", centre)} << QByteArray() << QStringList{"cat"}
                                    << QByteArray("0 0.500000 0.500000 0.500000 0.500000\n") << QByteArray("cat\n");
    // Ultralytics drops or clips what lies past the edge; we write what lies inside.
    QTest::newRow("box past the edge is clipped")
        << QList<Annotation>{box("cat", QRectF(-5, 0, 255, 100))} << QByteArray() << QStringList{"cat"}
        << QByteArray("0 0.500000 0.500000 1.000000 1.000000\n") << QByteArray("cat\n");
    QTest::newRow("shapes wholly outside are left out")
        << QList<Annotation>{box("cat", QRectF(250, 0, 50, 50)), box("cat", centre),
                             polygon("cat", {{-50, -50}, {-10, -50}, {-10, -10}}), box("cat", QRectF(200, 0, 10, 10))}
        << QByteArray() << QStringList{"cat"} << QByteArray("0 0.500000 0.500000 0.500000 0.500000\n")
        << QByteArray("cat\n");
    QTest::newRow("polygon clamped to the image")
        << QList<Annotation>{polygon("cat", {{-5, 0}, {250, 50}, {100, 100}})} << QByteArray() << QStringList{"cat"}
        << QByteArray("0 0.000000 0.000000 1.000000 0.500000 0.500000 1.000000\n") << QByteArray("cat\n");
    QTest::newRow("two-point polygon written as its box")
        << QList<Annotation>{[&] { Annotation a = polygon("cat", {{0, 0}, {10, 10}}); a.rect = centre; return a; }()}
        << QByteArray() << QStringList{"cat"} << QByteArray("0 0.500000 0.500000 0.500000 0.500000\n")
        << QByteArray("cat\n");
    QTest::newRow("new label appended") << QList<Annotation>{box("dog", centre)} << QByteArray() << QStringList{"cat"}
                                        << QByteArray("1 0.500000 0.500000 0.500000 0.500000\n")
                                        << QByteArray("cat\ndog\n");
    // Only a number read from an unnamed row of the file stays a number (see numberClassesRoundTrip):
    // a model's "7" is a name, or the class added as 7 later would take its boxes.
    QTest::newRow("numeric label not yet a class is a name")
        << QList<Annotation>{box("7", centre)} << QByteArray() << QStringList{"cat"}
        << QByteArray("1 0.500000 0.500000 0.500000 0.500000\n") << QByteArray("cat\n7\n");
    // A number that names another class is a category name of its own: written as that index it
    // would become the other class.
    QTest::newRow("number naming another class becomes a name")
        << QList<Annotation>{box("2", centre)} << QByteArray("cat\ndog\nbird\n") << QStringList{}
        << QByteArray("3 0.500000 0.500000 0.500000 0.500000\n") << QByteArray("cat\ndog\nbird\n2\n");
    QTest::newRow("number past the list, no such row: names in order")
        << QList<Annotation>{box("fish", centre), box("3", centre)} << QByteArray("cat\ndog\nbird\n")
        << QStringList{}
        << QByteArray("3 0.500000 0.500000 0.500000 0.500000\n4 0.500000 0.500000 0.500000 0.500000\n")
        << QByteArray("cat\ndog\nbird\nfish\n3\n");
    QTest::newRow("number with a leading zero is a name")
        << QList<Annotation>{box("07", centre)} << QByteArray() << QStringList{"cat"}
        << QByteArray("1 0.500000 0.500000 0.500000 0.500000\n") << QByteArray("cat\n07\n");
    QTest::newRow("case-sensitive match") << QList<Annotation>{box("Cat", centre)} << QByteArray() << QStringList{"cat"}
                                          << QByteArray("1 0.500000 0.500000 0.500000 0.500000\n")
                                          << QByteArray("cat\nCat\n");
    QTest::newRow("empty label skipped") << QList<Annotation>{box("", centre)} << QByteArray() << QStringList{"cat"}
                                         << QByteArray() << QByteArray("cat\n");
    QTest::newRow("no list anywhere: order of first use")
        << QList<Annotation>{box("b", centre), box("a", centre), box("b", centre)} << QByteArray() << QStringList{}
        << QByteArray("0 0.500000 0.500000 0.500000 0.500000\n1 0.500000 0.500000 0.500000 0.500000\n"
                      "0 0.500000 0.500000 0.500000 0.500000\n")
        << QByteArray("b\na\n");
    QTest::newRow("list on disk wins over the caller's")
        << QList<Annotation>{box("y", centre)} << QByteArray(" x \n\ny\n") << QStringList{"y"}
        << QByteArray("1 0.500000 0.500000 0.500000 0.500000\n") << QByteArray("x\ny\n");
    QTest::newRow("list on disk without names: the caller's")
        << QList<Annotation>{box("dog", centre)} << QByteArray("\n \n") << QStringList{"cat", "dog"}
        << QByteArray("1 0.500000 0.500000 0.500000 0.500000\n") << QByteArray("cat\ndog\n");
    // "classes.txt" is read back as trimmed non-empty lines; a name that does not survive that
    // would shift the index of every later class, in every label file of the directory.
    QTest::newRow("line break in a label stays on one line")
        << QList<Annotation>{box("cat\ndog", centre), box("bird", centre)} << QByteArray() << QStringList{}
        << QByteArray("0 0.500000 0.500000 0.500000 0.500000\n1 0.500000 0.500000 0.500000 0.500000\n")
        << QByteArray("cat dog\nbird\n");
    QTest::newRow("blank label skipped") << QList<Annotation>{box("  ", centre), box("bird", centre)}
                                         << QByteArray() << QStringList{}
                                         << QByteArray("0 0.500000 0.500000 0.500000 0.500000\n")
                                         << QByteArray("bird\n");
    QTest::newRow("label with surrounding spaces matches the list")
        << QList<Annotation>{box(" cat ", centre)} << QByteArray("cat\n") << QStringList{}
        << QByteArray("0 0.500000 0.500000 0.500000 0.500000\n") << QByteArray("cat\n");
    QTest::newRow("caller's names kept one per line")
        << QList<Annotation>{box("bird", centre)} << QByteArray() << QStringList{"a\nb", " ", "bird"}
        << QByteArray("1 0.500000 0.500000 0.500000 0.500000\n") << QByteArray("a b\nbird\n");
    QTest::newRow("unicode label") << QList<Annotation>{box("猫", centre)} << QByteArray() << QStringList{}
                                   << QByteArray("0 0.500000 0.500000 0.500000 0.500000\n") << QByteArray("猫\n");
    QTest::newRow("confidence, difficult and pending not written")
        << QList<Annotation>{[&] { Annotation a = box("cat", centre); a.confidence = 0.9; a.difficult = true;
                                   a.pending = 1; return a; }()}
        << QByteArray() << QStringList{"cat"} << QByteArray("0 0.500000 0.500000 0.500000 0.500000\n")
        << QByteArray("cat\n");
    QTest::newRow("no objects: empty file") << QList<Annotation>{} << QByteArray() << QStringList{"cat"}
                                            << QByteArray() << QByteArray("cat\n");
    // Training tools read a file with one polygon row as segmentation, every row as points.
    QTest::newRow("box beside a polygon: its corners")
        << QList<Annotation>{box("cat", centre), polygon("dog", {{0, 0}, {100, 0}, {50, 50}})} << QByteArray()
        << QStringList{"cat", "dog"}
        << QByteArray("0 0.250000 0.250000 0.750000 0.250000 0.750000 0.750000 0.250000 0.750000\n"
                      "1 0.000000 0.000000 0.500000 0.000000 0.250000 0.500000\n")
        << QByteArray("cat\ndog\n");
    QTest::newRow("box beside a polygon: corners clamped, swapped corners in order")
        << QList<Annotation>{polygon("dog", {{0, 0}, {100, 0}, {50, 50}}), box("cat", QRectF(250, 120, -200, -100))}
        << QByteArray() << QStringList{"cat", "dog"}
        << QByteArray("1 0.000000 0.000000 0.500000 0.000000 0.250000 0.500000\n"
                      "0 0.250000 0.200000 1.000000 0.200000 1.000000 1.000000 0.250000 1.000000\n")
        << QByteArray("cat\ndog\n");
    QTest::newRow("two-point polygon beside a box: boxes only")
        << QList<Annotation>{box("cat", centre), [&] { Annotation a = polygon("cat", {{0, 0}, {10, 10}});
                                                       a.rect = centre; return a; }()}
        << QByteArray() << QStringList{"cat"}
        << QByteArray("0 0.500000 0.500000 0.500000 0.500000\n0 0.500000 0.500000 0.500000 0.500000\n")
        << QByteArray("cat\n");
    QTest::newRow("rotated box: its corners in order, unclamped; a box beside it as corners")
        << QList<Annotation>{rotated("car", {{-4, 20}, {36, 60}, {16, 80}, {-24, 40}}), box("cat", centre)}
        << QByteArray() << QStringList{"cat"}
        << QByteArray("1 -0.020000 0.200000 0.180000 0.600000 0.080000 0.800000 -0.120000 0.400000\n"
                      "0 0.250000 0.250000 0.750000 0.250000 0.750000 0.750000 0.250000 0.750000\n")
        << QByteArray("cat\ncar\n");
    QTest::newRow("polygon without a label does not make boxes polygons")
        << QList<Annotation>{box("cat", centre), polygon(" ", {{0, 0}, {100, 0}, {50, 50}})} << QByteArray()
        << QStringList{"cat"} << QByteArray("0 0.500000 0.500000 0.500000 0.500000\n") << QByteArray("cat\n");
}

void TestYoloFile::writeLines()
{
    QFETCH(QList<Annotation>, annotations);
    QFETCH(QByteArray, classesOnDisk);
    QFETCH(QStringList, callerClasses);
    QFETCH(QByteArray, expectedLines);
    QFETCH(QByteArray, expectedClasses);

    if (!classesOnDisk.isEmpty())
        QVERIFY(Fixtures::writeBytes(m_labelsDir + "/classes.txt", classesOnDisk));
    QVERIFY(saveAnnotations(m_image, annotations, true, callerClasses));
    QCOMPARE(Fixtures::readBytes(m_labelsDir + "/pic.txt"), expectedLines);
    QCOMPARE(Fixtures::readBytes(m_labelsDir + "/classes.txt"), expectedClasses);
}

void TestYoloFile::readLines_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QList<Annotation>>("expected");
    QTest::addColumn<QString>("problem");   // why the reading is incomplete, "name at"; empty: complete

    const QRectF centre(50, 25, 100, 50);
    auto withConfidence = [](Annotation a, double c) { a.confidence = c; return a; };
    auto withRect = [](Annotation a, const QRectF &r) { a.rect = r; return a; };
    const Annotation triangle = withRect(polygon("cat", {{20, 10}, {180, 10}, {100, 90}}), QRectF(20, 10, 160, 80));

    QTest::newRow("box") << QByteArray("0 0.5 0.5 0.5 0.5\n") << QList<Annotation>{box("cat", centre)} << QString();
    QTest::newRow("CRLF and no final newline")
        << QByteArray("0 0.5 0.5 0.5 0.5\r\n1 0.5 0.5 0.5 0.5") << QList<Annotation>{box("cat", centre), box("dog", centre)} << QString();
    QTest::newRow("extra spaces") << QByteArray("  0   0.5 0.5  0.5 0.5  \n") << QList<Annotation>{box("cat", centre)} << QString();
    QTest::newRow("confidence field") << QByteArray("2 0.5 0.5 0.2 0.2 0.87\n")
                                      << QList<Annotation>{withConfidence(box("bird", QRectF(80, 40, 40, 20)), 0.87)} << QString();
    QTest::newRow("zero confidence means none") << QByteArray("2 0.5 0.5 0.2 0.2 0\n")
                                                << QList<Annotation>{box("bird", QRectF(80, 40, 40, 20))} << QString();
    QTest::newRow("polygon") << QByteArray("0 0.1 0.1 0.9 0.1 0.5 0.9\n") << QList<Annotation>{triangle} << QString();
    QTest::newRow("polygon with confidence") << QByteArray("0 0.1 0.1 0.9 0.1 0.5 0.9 0.95\n")
                                             << QList<Annotation>{withConfidence(triangle, 0.95)} << QString();
    QTest::newRow("polygon clamped on reading")
        << QByteArray("0 -0.1 0.1 1.5 0.1 0.5 0.9\n")
        << QList<Annotation>{withRect(polygon("cat", {{0, 10}, {200, 10}, {100, 90}}), QRectF(0, 10, 200, 80))} << QString();
    QTest::newRow("class past the list") << QByteArray("7 0.5 0.5 0.5 0.5\n") << QList<Annotation>{box("7", centre)} << QString();
    // Training tools refuse a negative class; saved again, "-1" would become a name of its own.
    QTest::newRow("negative class: line left out") << QByteArray("-1 0.5 0.5 0.5 0.5\n1 0.5 0.5 0.5 0.5\n")
                                                   << QList<Annotation>{box("dog", centre)}
                                                   << QStringLiteral("unusable_line 1");
    QTest::newRow("tabs and runs of blanks separate fields")
        << QByteArray("0\t0.5 0.5 0.5 0.5\n0 0.5\t \t0.5  0.5 0.5\n")
        << QList<Annotation>{box("cat", QRectF(50, 25, 100, 50)), box("cat", QRectF(50, 25, 100, 50))} << QString();
    QTest::newRow("malformed lines skipped, rest read")
        << QByteArray("0 0.5 0.5 0.5\nx 0.5 0.5 0.5 0.5\n0.5 0.5 0.5 0.5 0.5\n\n1 0.5 0.5 0.5 0.5\n")
        << QList<Annotation>{box("dog", centre)} << QStringLiteral("unusable_line 1");
    QTest::newRow("bad number: line left out") << QByteArray("1 0.5 0.5 0.5 0.5\n0 abc 0.5 0.5 0.5\n")
                                               << QList<Annotation>{box("dog", centre)}
                                               << QStringLiteral("unusable_line 2");
    QTest::newRow("decimal commas: line left out") << QByteArray("\n0 0,5 0,5 0,5 0,5\n")
                                                   << QList<Annotation>{} << QStringLiteral("unusable_line 2");
    QTest::newRow("confidence that is no number: no confidence")
        << QByteArray("0 0.5 0.5 0.5 0.5 high\n") << QList<Annotation>{box("cat", centre)} << QString();
    QTest::newRow("infinite coordinate skips the line") << QByteArray("0 inf 0.5 0.5 0.5\n1 0.5 0.5 0.5 0.5\n")
                                                        << QList<Annotation>{box("dog", QRectF(50, 25, 100, 50))} << QStringLiteral("unusable_line 1");
    // Beyond plain ASCII the full number parser decides, as for any other field.
    QTest::newRow("no-break space after a number") << QByteArray("0 0.5\xc2\xa0 0.5 0.5 0.5\n")
                                                   << QList<Annotation>{box("cat", centre)} << QString();
    QTest::newRow("exponent and plus sign") << QByteArray("0 5e-1 +0.5 0.5E0 .5\n")
                                            << QList<Annotation>{box("cat", centre)} << QString();
    QTest::newRow("signs, leading dot, trailing dot") << QByteArray("0 -0.0 +0.5 .5 1.\n")
                                                      << QList<Annotation>{box("cat", QRectF(-50, 0, 100, 100))} << QString();
    QTest::newRow("digits past what a double holds") << QByteArray("0 0.500000000000000000000000000000000000001 0.5 0.5 0.5\n")
                                                     << QList<Annotation>{box("cat", centre)} << QString();
    QTest::newRow("overflowing coordinate skips the line") << QByteArray("0 1e400 0.5 0.5 0.5\n1 0.5 0.5 0.5 0.5\n")
                                                           << QList<Annotation>{box("dog", centre)} << QStringLiteral("unusable_line 1");
    QTest::newRow("hexadecimal is no coordinate") << QByteArray("0 0x1p-1 0.5 0.5 0.5\n")
                                                  << QList<Annotation>{} << QStringLiteral("unusable_line 1");
    QTest::newRow("nan is no coordinate") << QByteArray("0 0.5 nan 0.5 0.5\n")
                                          << QList<Annotation>{} << QStringLiteral("unusable_line 1");
    QTest::newRow("bad number deep in a polygon row")
        << QByteArray("0 0.1 0.1 0.9 0.1 0.5 0.9 0.5 0.5x 0.2 0.2\n1 0.5 0.5 0.5 0.5\n")
        << QList<Annotation>{box("dog", centre)} << QStringLiteral("unusable_line 1");
    QTest::newRow("zero-size box kept") << QByteArray("0 0.5 0.5 0 0\n")
                                        << QList<Annotation>{box("cat", QRectF(100, 50, 0, 0))} << QString();
    QTest::newRow("box corners read as a box") << QByteArray("0 0.25 0.25 0.75 0.25 0.75 0.75 0.25 0.75\n")
                                               << QList<Annotation>{box("cat", centre)} << QString();
    QTest::newRow("box corners with confidence")
        << QByteArray("2 0.25 0.25 0.75 0.25 0.75 0.75 0.25 0.75 0.6\n")
        << QList<Annotation>{withConfidence(box("bird", centre), 0.6)} << QString();
    QTest::newRow("zero-width box corners") << QByteArray("0 0.5 0.25 0.5 0.25 0.5 0.75 0.5 0.75\n")
                                            << QList<Annotation>{box("cat", QRectF(100, 25, 0, 50))} << QString();
    const QList<QPointF> ccw{{50, 25}, {50, 75}, {150, 75}, {150, 25}};
    // Ultralytics' oriented boxes: four corners at right angles, kept as written.
    QTest::newRow("rectangle in another order is a rotated box")
        << QByteArray("0 0.25 0.25 0.25 0.75 0.75 0.75 0.75 0.25\n")
        << QList<Annotation>{withRect(rotated("cat", ccw), centre)} << QString();
    const QList<QPointF> fromRight{{150, 25}, {150, 75}, {50, 75}, {50, 25}};
    QTest::newRow("rectangle from another corner is a rotated box")
        << QByteArray("0 0.75 0.25 0.75 0.75 0.25 0.75 0.25 0.25\n")
        << QList<Annotation>{withRect(rotated("cat", fromRight), centre)} << QString();
    const QList<QPointF> mirrored{{150, 25}, {50, 25}, {50, 75}, {150, 75}};
    QTest::newRow("rectangle mirrored is a rotated box") << QByteArray("0 0.75 0.25 0.25 0.25 0.25 0.75 0.75 0.75\n")
                                                         << QList<Annotation>{withRect(rotated("cat", mirrored), centre)} << QString();
    const QList<QPointF> turned{{50, 20}, {90, 60}, {70, 80}, {30, 40}};
    QTest::newRow("turned rectangle is a rotated box")
        << QByteArray("1 0.25 0.2 0.45 0.6 0.35 0.8 0.15 0.4\n")
        << QList<Annotation>{withRect(rotated("dog", turned), QRectF(30, 20, 60, 60))} << QString();
    // Six decimals of a normalised corner bend a small box's right angles a little.
    const QList<QPointF> small{{100.0002, 50}, {103, 53.0001}, {101, 55}, {98, 52}};
    QTest::newRow("rounded corners of a small turned box are still one")
        << QByteArray("1 0.500001 0.5 0.515 0.530001 0.505 0.55 0.49 0.52\n")
        << QList<Annotation>{withRect(rotated("dog", small), QRectF(QPointF(98, 50), QPointF(103, 55)))} << QString();
    const QList<QPointF> outside{{-4, 20}, {36, 60}, {16, 80}, {-24, 40}};
    QTest::newRow("rotated box's corner outside the image kept as written")
        << QByteArray("1 -0.02 0.2 0.18 0.6 0.08 0.8 -0.12 0.4 0.5\n")
        << QList<Annotation>{withConfidence(withRect(rotated("dog", outside), QRectF(-24, 20, 60, 60)), 0.5)}
        << QString();
    const QList<QPointF> quad{{50, 25}, {150, 25}, {150, 75}, {60, 75}};
    QTest::newRow("four points, not a rectangle") << QByteArray("0 0.25 0.25 0.75 0.25 0.75 0.75 0.3 0.75\n")
                                                  << QList<Annotation>{withRect(polygon("cat", quad), centre)} << QString();
    const QList<QPointF> diamond{{100, 25}, {150, 50}, {100, 75}, {50, 50}};
    QTest::newRow("square of normalised corners is a rhombus: a polygon") << QByteArray("0 0.5 0.25 0.75 0.5 0.5 0.75 0.25 0.5\n")
                                                      << QList<Annotation>{withRect(polygon("cat", diamond), centre)} << QString();
    const QList<QPointF> five{{50, 25}, {150, 25}, {150, 75}, {50, 75}, {50, 50}};
    QTest::newRow("five points on a rectangle stay a polygon")
        << QByteArray("0 0.25 0.25 0.75 0.25 0.75 0.75 0.25 0.75 0.25 0.5 0.95\n")
        << QList<Annotation>{withConfidence(withRect(polygon("cat", five), centre), 0.95)} << QString();
    // What we wrote before boxes became corners in such files still reads the same.
    QTest::newRow("earlier file with box and polygon rows")
        << QByteArray("0 0.5 0.5 0.5 0.5\n1 0.1 0.1 0.9 0.1 0.5 0.9\n")
        << QList<Annotation>{box("cat", centre), withRect(polygon("dog", {{20, 10}, {180, 10}, {100, 90}}),
                                                          QRectF(20, 10, 160, 80))} << QString();
}

void TestYoloFile::readLines()
{
    QFETCH(QByteArray, content);
    QFETCH(QList<Annotation>, expected);
    QFETCH(QString, problem);
    QVERIFY(Fixtures::writeBytes(m_labelsDir + "/classes.txt", "cat\ndog\nbird\n"));
    QVERIFY(Fixtures::writeBytes(m_labelsDir + "/pic.txt", content));
    const StoredAnnotations stored = readStoredAnnotations(m_image);
    const QList<Annotation> &got = stored.annotations;
    QCOMPARE(got.size(), expected.size());
    const QString why = stored.problem.isNone() ? QString() : stored.problem.name() + ' ' + QString::number(stored.problem.at);
    QCOMPARE(why, problem);
    QCOMPARE(stored.damagedFile, problem.isEmpty() ? QString() : m_labelsDir + "/pic.txt");
    for (qsizetype i = 0; i < got.size(); ++i) {
        QCOMPARE(got[i].label, expected[i].label);
        QCOMPARE(got[i].kind, expected[i].kind);
        QCOMPARE(got[i].rect, expected[i].rect);
        QCOMPARE(got[i].points, expected[i].points);
        QCOMPARE(got[i].confidence, expected[i].confidence);
        QCOMPARE(got[i], expected[i]); // id, pending and difficult stay default
    }
}

void TestYoloFile::roundTrip_data()
{
    QTest::addColumn<QList<Annotation>>("annotations");
    QTest::newRow("boxes") << QList<Annotation>{box("cat", QRectF(10, 10, 50, 40)), box("dog", QRectF(0, 0, 200, 100))};
    QTest::newRow("polygon") << QList<Annotation>{polygon("cat", {{10, 20}, {190, 30}, {100, 90}, {20, 80}})};
    QTest::newRow("unicode labels") << QList<Annotation>{box("猫", QRectF(10, 10, 50, 40)), box("Ñandú ü", QRectF(1, 2, 3, 4))};
    QTest::newRow("mixed") << QList<Annotation>{polygon("a", {{0, 0}, {200, 0}, {200, 100}}), box("b", QRectF(5, 5, 10, 10))};
    QTest::newRow("mixed, boxes first and last")
        << QList<Annotation>{box("猫", QRectF(0, 0, 200, 100)), box("b", QRectF(12.5, 7.25, 30, 40)),
                             polygon("a", {{10, 20}, {190, 30}, {100, 90}, {20, 80}}), box("b", QRectF(100, 50, 0, 0)),
                             rotated("c", {{50, 25}, {50, 75}, {150, 75}, {150, 25}}),
                             polygon("c", {{50, 25}, {150, 25}, {150, 75}, {60, 75}}), box("a", QRectF(1, 2, 3, 4))};
    QTest::newRow("rotated boxes and a box: every row four corners")
        << QList<Annotation>{rotated("car", {{50, 20}, {90, 60}, {70, 80}, {30, 40}}), box("b", QRectF(5, 5, 10, 10)),
                             rotated("car", {{190, 10}, {190, 90}, {170, 90}, {170, 10}})};
    QTest::newRow("no objects: an empty file, a background image") << QList<Annotation>{};
    // A traced mask outline of a million points, an 18 MB row: every point is written and read back.
    QTest::newRow("polygon of a million points")
        << QList<Annotation>{polygon("ring", wavyRing(1000000, {100, 50}, 40)), box("b", QRectF(5, 5, 10, 10))};
}

// Every row is read back, and a file with a polygon holds no row that a training tool would take
// for a two-point segment.
void TestYoloFile::roundTrip()
{
    QFETCH(QList<Annotation>, annotations);
    QVERIFY(saveAnnotations(m_image, annotations, true, {}));
    const bool segmentation = std::any_of(annotations.cbegin(), annotations.cend(),
                                          [](const Annotation &a) { return storedShapeKind(a).hasOutline(); });
    const QList<QByteArray> lines = Fixtures::readBytes(m_labelsDir + "/pic.txt").split('\n');
    QCOMPARE(lines.size(), annotations.size() + 1);
    for (qsizetype i = 0; i < annotations.size(); ++i) {
        const qsizetype fields = lines[i].split(' ').size();
        if (annotations[i].isPolygon())
            QCOMPARE(fields, 1 + 2 * annotations[i].points.size());
        else
            QCOMPARE(fields, segmentation ? 9 : 5);
    }
    const StoredAnnotations stored = readStoredAnnotations(m_image);
    QVERIFY(stored.complete());
    QCOMPARE(stored.file, m_labelsDir + "/pic.txt");
    QCOMPARE(countAnnotations(m_image), int(annotations.size()));
    const QList<Annotation> &got = stored.annotations;
    QCOMPARE(got.size(), annotations.size());
    for (qsizetype i = 0; i < got.size(); ++i) {
        QCOMPARE(got[i].label, annotations[i].label);
        QCOMPARE(got[i].kind, annotations[i].kind);
        if (annotations[i].kind != Annotation::Rect) {
            QCOMPARE(got[i].points, annotations[i].points);
            QCOMPARE(got[i].rect, QPolygonF(annotations[i].points).boundingRect());
        } else {
            QCOMPARE(got[i].rect, annotations[i].rect);
        }
    }
}

void TestYoloFile::numberClassesRoundTrip_data()
{
    QTest::addColumn<QByteArray>("classesOnDisk");
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<QStringList>("labels");    // as read
    QTest::addColumn<QString>("added");         // a category added before saving again; empty: none
    QTest::addColumn<QByteArray>("savedLines"); // empty: the reading is incomplete and not saved
    QTest::addColumn<QByteArray>("savedClasses");

    const QByteArray row = " 0.500000 0.500000 0.500000 0.500000\n";
    QTest::newRow("class past the list survives")
        << QByteArray("cat\n") << QByteArray("7 0.5 0.5 0.5 0.5\n0 0.5 0.5 0.5 0.5\n") << QStringList{"7", "cat"}
        << QString() << QByteArray("7" + row + "0" + row) << QByteArray("cat\n");
    QTest::newRow("names file lacks an entry: a new category steps over it")
        << QByteArray("cat\ndog\n") << QByteArray("2 0.5 0.5 0.5 0.5\n") << QStringList{"2"} << "bird"
        << QByteArray("2" + row + "3" + row) << QByteArray("cat\ndog\n2\nbird\n");
    QTest::newRow("a model's 5 added beside a class past the list: a name of its own")
        << QByteArray("cat\n") << QByteArray("7 0.5 0.5 0.5 0.5\n") << QStringList{"7"} << "5"
        << QByteArray("7" + row + "1" + row) << QByteArray("cat\n5\n");
    // Class 5 has no name while class 0 is called "5": read as "5", it would be saved as class 0.
    QTest::newRow("unnamed class whose number names another: line left out")
        << QByteArray("5\ncat\n") << QByteArray("0 0.5 0.5 0.5 0.5\n5 0.5 0.5 0.5 0.5\n") << QStringList{"5"}
        << QString() << QByteArray() << QByteArray();
}

void TestYoloFile::numberClassesRoundTrip()
{
    QFETCH(QByteArray, classesOnDisk);
    QFETCH(QByteArray, lines);
    QFETCH(QStringList, labels);
    QFETCH(QString, added);
    QFETCH(QByteArray, savedLines);
    QFETCH(QByteArray, savedClasses);
    QVERIFY(Fixtures::writeBytes(m_labelsDir + "/classes.txt", classesOnDisk));
    QVERIFY(Fixtures::writeBytes(m_labelsDir + "/pic.txt", lines));
    StoredAnnotations stored = readStoredAnnotations(m_image);
    QStringList read;
    for (const Annotation &a : std::as_const(stored.annotations))
        read.append(a.label);
    QCOMPARE(read, labels);
    QCOMPARE(stored.complete(), !savedLines.isEmpty());
    if (savedLines.isEmpty())
        return;
    if (!added.isEmpty())
        stored.annotations.append(box(added, QRectF(50, 25, 100, 50)));
    QVERIFY(saveAnnotations(m_image, stored.annotations, true, {"other"}));
    QCOMPARE(Fixtures::readBytes(m_labelsDir + "/pic.txt"), savedLines);
    QCOMPARE(Fixtures::readBytes(m_labelsDir + "/classes.txt"), savedClasses);
    // Read back, every category is what it was.
    read.clear();
    for (const Annotation &a : loadAnnotations(m_image))
        read.append(a.label);
    QCOMPARE(read, added.isEmpty() ? labels : labels + QStringList{added});
}

void TestYoloFile::orientedSizeDrivesNormalisation()
{
    // Stored 400x200, shown 200x400: coordinates are normalised to the shown size.
    const QString photo = m_tmp->path() + "/photos/turned.jpg";
    QVERIFY(Fixtures::makeOrientedJpeg(photo, 400, 200, 6));
    QVERIFY(saveAnnotations(photo, {box("cat", QRectF(50, 100, 100, 200))}, true, {}));
    QCOMPARE(Fixtures::readBytes(m_tmp->path() + "/photos/labels/turned.txt"),
             QByteArray("0 0.500000 0.500000 0.500000 0.500000\n"));
    const QList<Annotation> got = loadAnnotations(photo);
    QCOMPARE(got.size(), 1);
    QCOMPARE(got[0].rect, QRectF(50, 100, 100, 200));
}

// An Ultralytics oriented-box dataset (data.yaml, one row of four corners per object): saved
// after one relabel, every other row is the same bytes.
void TestYoloFile::obbSampleSavesBackAsShipped()
{
    QVERIFY(Fixtures::writeBytes(m_tmp->path() + "/ds/data.yaml",
                                 "path: .\ntrain: images\nval: images\nnames:\n  0: plane\n  1: ship\n  2: storage-tank\n"));
    const QByteArray first = "0 0.253125 0.195000 0.453125 0.595000 0.353125 0.795000 0.153125 0.395000\n";
    const QByteArray second = "1 0.700000 0.100000 0.950000 0.100000 0.950000 0.300000 0.700000 0.300000\n";
    const QByteArray third = "2 0.880000 0.700000 0.880000 0.900000 0.600000 0.900000 0.600000 0.700000\n";
    QVERIFY(Fixtures::writeBytes(m_labelsDir + "/pic.txt", first + second + third));

    QList<Annotation> got = loadAnnotations(m_image);
    QCOMPARE(got.size(), 3);
    QCOMPARE(got[0].kind, Annotation::Rotated);
    QCOMPARE(got[1].kind, Annotation::Rect);
    QCOMPARE(got[2].kind, Annotation::Rotated);
    QCOMPARE(got[2].label, QStringLiteral("storage-tank"));
    got[1].label = QStringLiteral("plane");
    QVERIFY(saveAnnotations(m_image, got, true, {}));
    QCOMPARE(Fixtures::readBytes(m_labelsDir + "/pic.txt"), first + "0" + second.mid(1) + third);
    QVERIFY(!QFile::exists(m_labelsDir + "/classes.txt"));
}

void TestYoloFile::unreadableImageWritesNothing()
{
    const QString broken = m_tmp->path() + "/ds/images/broken.png";
    QVERIFY(Fixtures::writeBytes(broken, "not a png"));
    QVERIFY(!writeYoloFile(broken, {box("cat", QRectF(1, 1, 5, 5))}, {"cat"}));
    QVERIFY(!QFile::exists(m_labelsDir + "/broken.txt"));
    QVERIFY(!QFile::exists(m_labelsDir + "/classes.txt"));

    QVERIFY(Fixtures::writeBytes(m_labelsDir + "/broken.txt", "0 0.5 0.5 0.5 0.5\n"));
    QVERIFY(loadAnnotations(broken).isEmpty());
}

void TestYoloFile::siblingFileUsesMappedClassList()
{
    // The sibling folder has no class list: the mapped labels directory's list names the classes.
    QVERIFY(Fixtures::writeBytes(m_labelsDir + "/classes.txt", "cat\ndog\n"));
    const QString sibling = m_tmp->path() + "/ds/images/labels/pic.txt";
    QVERIFY(Fixtures::writeBytes(sibling, "1 0.5 0.5 0.5 0.5\n"));
    QList<Annotation> got = readYoloFile(m_image, sibling);
    QCOMPARE(got.size(), 1);
    QCOMPARE(got[0].label, QString("dog"));

    // Its own class list comes first.
    QVERIFY(Fixtures::writeBytes(m_tmp->path() + "/ds/images/labels/classes.txt", "x\ny\n"));
    got = readYoloFile(m_image, sibling);
    QCOMPARE(got.size(), 1);
    QCOMPARE(got[0].label, QString("y"));
}

void TestYoloFile::countLines_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("expected");
    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("blank lines") << QByteArray("\n  \r\n\n") << 0;
    QTest::newRow("two lines, CRLF") << QByteArray("0 1 1 1 1\r\n\r\n1 1 1 1 1\r\n") << 2;
    QTest::newRow("no validation") << QByteArray("junk\nmore junk") << 2;
}

void TestYoloFile::countLines()
{
    QFETCH(QByteArray, content);
    QFETCH(int, expected);
    QVERIFY(Fixtures::writeBytes(m_labelsDir + "/pic.txt", content));
    QCOMPARE(countAnnotations(m_image), expected);
    QCOMPARE(countYoloLines(m_labelsDir + "/missing.txt"), -1);
}


namespace {

QList<QList<double>> rowValues(const QByteArray &text)
{
    QList<QList<double>> rows;
    for (const QByteArray &line : text.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        QList<double> values;
        for (const QByteArray &field : line.simplified().split(' '))
            values.append(field.toDouble());
        rows.append(values);
    }
    return rows;
}

QByteArray withBox(QByteArray row, const QByteArray &box)
{
    return row.replace("0.5 0.5 0.5 0.5", box);
}

} // namespace

void TestYoloFile::poseRows_data()
{
    QTest::addColumn<QByteArray>("kptShape");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("edit");          // what is done to the records read before saving
    QTest::addColumn<QByteArray>("written");    // the file after the save; empty: the save refuses
    QTest::addColumn<QString>("problem");       // why the reading is incomplete; empty: complete

    const QByteArray three = poseRow(0, 3, 3);
    QTest::newRow("3 keypoints saved as read") << QByteArray("[3, 3]") << three << "none" << three << QString();
    const QByteArray person = poseRow(0, 17, 3) + poseRow(1, 17, 3);
    QTest::newRow("17 keypoints of a person") << QByteArray("[17, 3]") << person << "none" << person << QString();
    QTest::newRow("keypoints of two values") << QByteArray("[4, 2]") << poseRow(1, 4, 2) << "none" << poseRow(1, 4, 2)
                                             << QString();
    QTest::newRow("moved box keeps its keypoints on the image")
        << QByteArray("[3, 3]") << three << "move" << withBox(three, "0.6 0.6 0.5 0.5") << QString();
    QTest::newRow("resized box keeps its keypoints on the image")
        << QByteArray("[3, 3]") << three << "resize" << withBox(three, "0.55 0.5 0.6 0.5") << QString();
    QTest::newRow("new box gets unlabelled keypoints")
        << QByteArray("[3, 3]") << three << "add box" << three + "1 0.25 0.25 0.5 0.5 0 0 0 0 0 0 0 0 0\n" << QString();
    QTest::newRow("box row without keypoints gets unlabelled ones")
        << QByteArray("[2, 2]") << QByteArray("1 0.5 0.5 0.5 0.5\n") << "none"
        << QByteArray("1 0.5 0.5 0.5 0.5 0 0 0 0\n") << QString();
    QTest::newRow("relabelled box keeps its keypoints")
        << QByteArray("[3, 3]") << three << "relabel" << QByteArray("1" + three.mid(1)) << QString();
    QTest::newRow("an outline has no row in a pose file")
        << QByteArray("[3, 3]") << three << "add polygon" << QByteArray() << QString();
    QTest::newRow("keypoints of another layout are not dropped")
        << QByteArray("[3, 3]") << three << "two keypoints" << QByteArray() << QString();
    QTest::newRow("row of neither layout is unusable, never a polygon")
        << QByteArray("[3, 3]") << QByteArray("0 0.5 0.5 0.5 0.5 0.1 0.1 2\n") + three << "read only" << QByteArray()
        << QStringLiteral("unusable_line 1");
    QTest::newRow("bad number among the keypoints")
        << QByteArray("[3, 3]") << three + withBox(three, "0.5 0.5 0.5 x") << "read only" << QByteArray()
        << QStringLiteral("unusable_line 2");
}

// Every row written to a pose file is a box with the dataset's keypoints, and what was read keeps
// its values.
void TestYoloFile::poseRows()
{
    QFETCH(QByteArray, kptShape);
    QFETCH(QByteArray, content);
    QFETCH(QString, edit);
    QFETCH(QByteArray, written);
    QFETCH(QString, problem);
    QVERIFY(Fixtures::writeBytes(m_tmp->path() + "/ds/data.yaml",
                                 "path: .\ntrain: images\nnames: [person, dog]\nkpt_shape: " + kptShape + "\n"));
    QVERIFY(Fixtures::writeBytes(m_labelsDir + "/pic.txt", content));

    const StoredAnnotations stored = readStoredAnnotations(m_image);
    const QString why = stored.problem.isNone() ? QString() : stored.problem.name() + ' ' + QString::number(stored.problem.at);
    QCOMPARE(why, problem);
    QList<Annotation> records = stored.annotations;
    const int count = kptShape.mid(1).split(',').first().toInt();
    for (const Annotation &a : std::as_const(records)) {
        QCOMPARE(a.kind, Annotation::Rect);
        QVERIFY(a.points.isEmpty());
        QCOMPARE(a.confidence, -1.0);
        QVERIFY(a.keypoints.isEmpty() || a.keypoints.points.size() == count);
    }
    if (edit == "read only")
        return;
    QVERIFY(!records.isEmpty());
    Annotation &first = records.first();
    if (edit == "move")
        first.rect.translate(20, 10);
    else if (edit == "resize")
        first.rect.setWidth(first.rect.width() + 20);
    else if (edit == "relabel")
        first.label = "dog";
    else if (edit == "add box")
        records.append(box("dog", QRectF(0, 0, 100, 50)));
    else if (edit == "add polygon")
        records.append(polygon("dog", {{10, 10}, {60, 10}, {30, 40}}));
    else if (edit == "two keypoints")
        first.keypoints = poseBox("person", {}, {{1, 1}, {2, 2}}, {2, 2}).keypoints;

    QCOMPARE(saveAnnotations(m_image, records, true, {}), !written.isEmpty());
    const QByteArray onDisk = Fixtures::readBytes(m_labelsDir + "/pic.txt");
    if (written.isEmpty()) {
        QCOMPARE(onDisk, content);
        return;
    }
    const QList<QList<double>> got = rowValues(onDisk);
    const QList<QList<double>> expected = rowValues(written);
    QCOMPARE(got.size(), expected.size());
    const int dims = kptShape.mid(1).split(',').last().trimmed().chopped(1).toInt();
    for (qsizetype row = 0; row < got.size(); ++row) {
        QCOMPARE(got[row].size(), 1 + 4 + count * dims);
        for (qsizetype i = 0; i < got[row].size(); ++i)
            QVERIFY2(qAbs(got[row][i] - expected[row][i]) < 1e-6,
                     qPrintable(QString("row %1 value %2: %3, expected %4").arg(row).arg(i).arg(got[row][i]).arg(expected[row][i])));
    }
    // Read again, the keypoints are those saved.
    const QList<Annotation> again = readStoredAnnotations(m_image).annotations;
    QCOMPARE(again.size(), records.size());
    if (edit != "add box")
        QCOMPARE(again.first().keypoints.visibility, records.first().keypoints.visibility);
}

BRINDLE_TEST_MAIN(TestYoloFile)
#include "tst_yolofile.moc"
