#include "storage/annotationgeometry.h"
#include "storage/annotationjson.h"
#include "storage/annotationstore.h"
#include "storage/cocoexport.h"
#include "storage/pendingfile.h"
#include "storage/rotatedbox.h"
#include "storage/shapekinds.h"
#include "storagefixtures.h"
#include "support/annotationbuilders.h"
#include "testmain.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

// Every shape kind through every file that stores it and every document that shows it: a kind
// whose row one format misreads, or a new kind without a sample here, fails.
class TestShapeKinds : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void everyKindHasASample();
    void roundTrip_data();
    void roundTrip();
    void documents_data();
    void documents();

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_image;   // 200 x 100
};

namespace {

double polygonArea(const Annotation &a)
{
    return shapeKindRules(Annotation::Polygon).area(a);
}

struct Sample
{
    const char *name;
    Annotation shape;
    // What COCO and the JSON lines show of it.
    QJsonArray bbox;
    double area;
    QJsonArray segmentation;
    QString jsonKind;
    double rotation = -1;   // COCO's attributes.rotation; -1: none
};

const QList<Sample> &samples()
{
    static const QList<Sample> all{
        {"box", box("cat", QRectF(20, 10, 100, 50)), QJsonArray{20, 10, 100, 50}, 5000,
         QJsonArray{20, 10, 120, 10, 120, 60, 20, 60}, "rect"},
        {"polygon", polygon("dog", {{10, 20}, {190, 30}, {100, 90}}), QJsonArray{10, 20, 180, 70}, 5850,
         QJsonArray{10, 20, 190, 30, 100, 90}, "polygon"},
        {"polygon of four corners, no rectangle", polygon("owl", {{20, 10}, {20, 60}, {120, 60}, {110, 10}}),
         QJsonArray{20, 10, 100, 50}, 4750, QJsonArray{20, 10, 20, 60, 120, 60, 110, 10}, "polygon"},
        // Sides of 56.57 and 28.28 turned by 45 degrees; bbox and segmentation as trainers read them.
        {"rotated box", rotated("car", {{50, 20}, {90, 60}, {70, 80}, {30, 40}}), QJsonArray{30, 20, 60, 60}, 1600,
         QJsonArray{50, 20, 90, 60, 70, 80, 30, 40}, "rotated", 45},
        // A box's corners in another order turn it: the first corner is kept where it was.
        {"rotated box on a box's corners, anticlockwise", rotated("owl", {{20, 10}, {20, 60}, {120, 60}, {120, 10}}),
         QJsonArray{20, 10, 100, 50}, 5000, QJsonArray{20, 10, 20, 60, 120, 60, 120, 10}, "rotated", 90},
    };
    return all;
}

} // namespace

void TestShapeKinds::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    m_image = m_tmp->path() + "/pic.png";
    QVERIFY(Fixtures::makeImage(m_image, 200, 100));
}

void TestShapeKinds::everyKindHasASample()
{
    for (const ShapeKindRules &rules : shapeKinds()) {
        const bool sampled = std::any_of(samples().cbegin(), samples().cend(),
                                         [&rules](const Sample &s) { return s.shape.kind == rules.kind; });
        QVERIFY2(sampled, qPrintable(QString(rules.name)));
        // Two kinds with one tag or element would read back as one of them.
        QCOMPARE(shapeKindWithPendingTag(QString(rules.pendingTag)), &rules);
        if (rules.hasOutline())
            QCOMPARE(shapeKindWithVocElement(QString(rules.vocElement)), &rules);
    }
}

void TestShapeKinds::roundTrip_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<Annotation>("shape");
    for (const char *format : {"yolo", "voc", "pending"}) {
        for (const Sample &s : samples())
            QTest::addRow("%s, %s", s.name, format) << QString(format) << s.shape;
    }
}

// The kind, the label and the geometry come back as written.
void TestShapeKinds::roundTrip()
{
    QFETCH(QString, format);
    QFETCH(Annotation, shape);
    QList<Annotation> got;
    if (format == "pending") {
        shape.pending = 1;
        QVERIFY(writePendingFile(m_tmp->path(), {{m_image, {shape}}}));
        got = readPendingFile(m_tmp->path()).value(m_image);
    } else {
        QVERIFY(saveAnnotations(m_image, {shape}, format == "yolo", {}));
        const StoredAnnotations stored = readStoredAnnotations(m_image);
        QVERIFY(stored.complete());
        got = stored.annotations;
    }
    QCOMPARE(got.size(), 1);
    QCOMPARE(got[0].kind, shape.kind);
    QCOMPARE(got[0].label, shape.label);
    QCOMPARE(got[0].pending, shape.pending);
    // VOC keeps a rotated box as centre, sides and turn, which gives no winding back: clockwise.
    const bool unwound = format == "voc" && shape.kind == Annotation::Rotated
        && RotatedFrame::fromCorners(shape.points).mirrored;
    if (unwound) {
        QCOMPARE(got[0].points.first(), shape.points.first());
        QCOMPARE(RotatedFrame::fromCorners(got[0].points).mirrored, false);
        QCOMPARE(polygonArea(got[0]), polygonArea(shape));
    } else {
        QVERIFY2(nearPoints(got[0].points, shape.points), qPrintable(format));
    }
    const QRectF gotBox = annotationBox(got[0]);
    const QRectF wantBox = annotationBox(shape);
    QVERIFY(nearPoints({gotBox.topLeft(), gotBox.bottomRight()}, {wantBox.topLeft(), wantBox.bottomRight()}));
}

void TestShapeKinds::documents_data()
{
    QTest::addColumn<Annotation>("shape");
    QTest::addColumn<QJsonArray>("bbox");
    QTest::addColumn<double>("area");
    QTest::addColumn<QJsonArray>("segmentation");
    QTest::addColumn<QString>("jsonKind");
    QTest::addColumn<double>("rotation");
    for (const Sample &s : samples())
        QTest::newRow(s.name) << s.shape << s.bbox << s.area << s.segmentation << s.jsonKind << s.rotation;
}

// COCO's box, area and mask of a stored shape, and the kind the command line's JSON names.
void TestShapeKinds::documents()
{
    QFETCH(Annotation, shape);
    QFETCH(QJsonArray, bbox);
    QFETCH(double, area);
    QFETCH(QJsonArray, segmentation);
    QFETCH(QString, jsonKind);
    QFETCH(double, rotation);
    const QJsonObject json = annotationToJson(shape);
    QCOMPARE(json.value("kind").toString(), jsonKind);
    QCOMPARE(json.contains("angle"), rotation >= 0);
    if (rotation >= 0)
        QCOMPARE(wrappedDegrees(json.value("angle").toDouble()), rotation);

    QVERIFY(saveAnnotations(m_image, {shape}, true, {}));
    const CocoExport coco = exportCoco(m_tmp->path(), {m_image});
    QVERIFY(coco.leftOut.isEmpty());
    const QJsonArray annotations = coco.document.value("annotations").toArray();
    QCOMPARE(annotations.size(), 1);
    const QJsonObject a = annotations.at(0).toObject();
    QCOMPARE(a.value("bbox").toArray(), bbox);
    QCOMPARE(a.value("area").toDouble(), area);
    QJsonArray masks;
    masks.append(segmentation);
    QCOMPARE(a.value("segmentation").toArray(), masks);
    if (rotation >= 0)
        QCOMPARE(a.value("attributes").toObject().value("rotation").toDouble(), rotation);
    else
        QVERIFY(!a.contains("attributes"));
}

BRINDLE_TEST_MAIN(TestShapeKinds)
#include "tst_shapekinds.moc"
