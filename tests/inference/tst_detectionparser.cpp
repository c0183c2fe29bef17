#include "inference/detectionparser.h"
#include "support/annotationbuilders.h"
#include "testmain.h"

#include <QJsonArray>
#include <QRandomGenerator>

namespace {

// A polygon as the parser gives it: its rect is the box around the points.
Annotation parsedPolygon(const QString &label, const QList<QPointF> &points, double score)
{
    Annotation a = polygon(label, points, 0, score);
    a.rect = QPolygonF(points).boundingRect();
    return a;
}

QString describe(const QList<Annotation> &list)
{
    QStringList parts;
    for (const Annotation &a : list) {
        QStringList pts;
        for (const QPointF &p : a.points)
            pts << QStringLiteral("(%1,%2)").arg(p.x()).arg(p.y());
        parts << QStringLiteral("{kind %1 label '%2' rect %3,%4 %5x%6 score %7 pending %8 points %9}")
                     .arg(a.kind).arg(a.label).arg(a.rect.x()).arg(a.rect.y()).arg(a.rect.width())
                     .arg(a.rect.height()).arg(a.confidence).arg(a.pending).arg(pts.join(QLatin1Char(' ')));
    }
    return parts.join(QLatin1Char('\n'));
}

bool sameRecords(const QList<Annotation> &a, const QList<Annotation> &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        const Annotation &x = a.at(i);
        const Annotation &y = b.at(i);
        if (x.id != 0 || x.kind != y.kind || x.label != y.label || x.pending != y.pending || x.difficult
            || !qFuzzyCompare(1.0 + x.confidence, 1.0 + y.confidence) || x.points.size() != y.points.size())
            return false;
        const auto near = [](double p, double q) { return qAbs(p - q) < 1e-6; };
        if (!near(x.rect.left(), y.rect.left()) || !near(x.rect.top(), y.rect.top())
            || !near(x.rect.right(), y.rect.right()) || !near(x.rect.bottom(), y.rect.bottom()))
            return false;
        for (qsizetype k = 0; k < x.points.size(); ++k) {
            if (!near(x.points.at(k).x(), y.points.at(k).x()) || !near(x.points.at(k).y(), y.points.at(k).y()))
                return false;
        }
    }
    return true;
}

// What every record must satisfy whatever the answer was.
QString invalidRecord(const QList<Annotation> &list, QSize source)
{
    const QRectF image(0, 0, source.width(), source.height());
    for (const Annotation &a : list) {
        const QRectF r = a.rect;
        if (!std::isfinite(r.x()) || !std::isfinite(r.y()) || !std::isfinite(r.width()) || !std::isfinite(r.height()))
            return QStringLiteral("non-finite rect");
        if (r.width() < 2 || r.height() < 2)
            return QStringLiteral("rect under 2 px");
        if (r.left() < 0 || r.top() < 0 || r.right() > image.right() + 1e-9 || r.bottom() > image.bottom() + 1e-9)
            return QStringLiteral("rect outside image");
        if ((a.kind == Annotation::Polygon) != (a.points.size() >= 3))
            return QStringLiteral("kind and points disagree");
        for (const QPointF &p : a.points) {
            if (!(p.x() >= 0 && p.x() <= image.right() && p.y() >= 0 && p.y() <= image.bottom()))
                return QStringLiteral("point outside image");
        }
    }
    return QString();
}

QString detectionsJson(int count)
{
    QString text = QStringLiteral("[");
    for (int i = 0; i < count; ++i) {
        if (i)
            text += QLatin1Char(',');
        text += QStringLiteral("{\"label\":\"cat\",\"bbox_2d\":[%1,10,%2,20],\"score\":0.9}").arg(i % 900).arg(i % 900 + 50);
    }
    return text + QLatin1Char(']');
}

const QString kCat = QStringLiteral("{\"label\":\"cat\",\"bbox_2d\":[100,200,300,400],\"score\":0.9}");

} // namespace

class TestDetectionParser : public QObject
{
    Q_OBJECT

private slots:
    void messageText_data();
    void messageText();
    void stripCodeFences_data();
    void stripCodeFences();
    void bracketSpan_data();
    void bracketSpan();
    void repairJson_data();
    void repairJson();
    void parseDetections_data();
    void parseDetections();
    void blankLabelsCounted_data();
    void blankLabelsCounted();
    void recordCap();
    void hostileAnswers_data();
    void hostileAnswers();
    void everyTruncation();
};

void TestDetectionParser::messageText_data()
{
    QTest::addColumn<QJsonValue>("content");
    QTest::addColumn<QString>("expected");

    QTest::newRow("string") << QJsonValue(QStringLiteral("[1]")) << QStringLiteral("[1]");
    QTest::newRow("text parts joined")
        << QJsonValue(QJsonArray{QJsonObject{{"type", "text"}, {"text", "a"}},
                                 QJsonObject{{"type", "image_url"}, {"text", "skip"}},
                                 QJsonObject{{"type", "text"}, {"text", "b"}}})
        << QStringLiteral("a\nb");
    QTest::newRow("type must be exactly text")
        << QJsonValue(QJsonArray{QJsonObject{{"type", "Text"}, {"text", "a"}}, QJsonValue(3),
                                 QJsonObject{{"type", "text"}, {"text", 5}}})
        << QString();
    QTest::newRow("null") << QJsonValue() << QString();
    QTest::newRow("number") << QJsonValue(7) << QString();
    QTest::newRow("object") << QJsonValue(QJsonObject{{"text", "a"}}) << QString();
}

void TestDetectionParser::messageText()
{
    QFETCH(QJsonValue, content);
    QFETCH(QString, expected);
    QCOMPARE(::messageText(content), expected);
}

void TestDetectionParser::stripCodeFences_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << QStringLiteral("  [1] \n") << QStringLiteral("[1]");
    QTest::newRow("fence with tag") << QStringLiteral("```json\n[1]\n```") << QStringLiteral("[1]");
    QTest::newRow("fence without closing") << QStringLiteral("```json\n[1, 2") << QStringLiteral("[1, 2");
    QTest::newRow("text after closing fence") << QStringLiteral("```\n[1]\n```\nDone.") << QStringLiteral("[1]");
    QTest::newRow("fence on one line") << QStringLiteral("```[1]```") << QStringLiteral("```[1]");
    QTest::newRow("fence not at start kept") << QStringLiteral("x ```json\n[1]```") << QStringLiteral("x ```json\n[1]```");
}

void TestDetectionParser::stripCodeFences()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(::stripCodeFences(text), expected);
}

void TestDetectionParser::bracketSpan_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("span") << QStringLiteral("see [1,[2]] ok") << QStringLiteral("[1,[2]]");
    QTest::newRow("no opening") << QStringLiteral("1]") << QString();
    QTest::newRow("no closing") << QStringLiteral("[1") << QString();
    QTest::newRow("closing first") << QStringLiteral("] [") << QString();
    QTest::newRow("empty array") << QStringLiteral("[]") << QStringLiteral("[]");
}

void TestDetectionParser::bracketSpan()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(::bracketSpan(text), expected);
}

void TestDetectionParser::repairJson_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("missing colons") << QStringLiteral("{\"bbox_2d\" [1],\"BBOX\"[2],\"label\"\t[3],\"score\"[4]}")
                                    << QStringLiteral("{\"bbox_2d\":[1],\"BBOX\":[2],\"label\":[3],\"score\":[4]}");
    QTest::newRow("other keys untouched") << QStringLiteral("{\"polygon\"[1]}") << QStringLiteral("{\"polygon\"[1]}");
    QTest::newRow("trailing commas") << QStringLiteral("[{\"a\":[1,2, \n],},\n]") << QStringLiteral("[{\"a\":[1,2]}]");
}

void TestDetectionParser::repairJson()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(::repairJson(text), expected);
}

void TestDetectionParser::parseDetections_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QSize>("source");
    QTest::addColumn<QSize>("sent");
    QTest::addColumn<double>("minScore");
    QTest::addColumn<QStringList>("classes");
    QTest::addColumn<bool>("restrict");
    QTest::addColumn<bool>("pending");
    QTest::addColumn<QList<Annotation>>("expected");

    const QSize s2000(2000, 1000);
    const QSize s1000(1000, 1000);
    const QStringList none;
    const QStringList personCar{QStringLiteral("person"), QStringLiteral("car")};
    const auto cat = [](double l, double t, double r, double b) { return box("cat", l, t, r, b, 0, 0.9); };

    QTest::newRow("fenced, normalised") << QStringLiteral("```json\n[%1]\n```").arg(kCat) << s2000 << s2000 << 0.4
                                        << none << false << false << QList<Annotation>{cat(200, 200, 600, 400)};
    QTest::newRow("sent-image pixels")
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[1200,50,1500,300],\"score\":0.9}]") << QSize(3136, 1568)
        << QSize(1568, 784) << 0.4 << none << false << false << QList<Annotation>{cat(2400, 100, 3000, 600)};
    QTest::newRow("1000 is still normalised")
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[0,0,1000,1000],\"score\":0.9}]") << QSize(640, 480)
        << QSize(640, 480) << 0.4 << none << false << false << QList<Annotation>{cat(0, 0, 640, 480)};
    QTest::newRow("pixels with unknown sent size")
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[100,100,1500,1200],\"score\":0.9}]") << QSize(3000, 3000)
        << QSize(0, 0) << 0.4 << none << false << false << QList<Annotation>{cat(100, 100, 1500, 1200)};
    QTest::newRow("swapped corners") << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[300,400,100,200],\"score\":0.9}]")
                                     << s2000 << s2000 << 0.4 << none << false << false
                                     << QList<Annotation>{cat(200, 200, 600, 400)};
    QTest::newRow("trailing commas repaired")
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[100,200,300,400,],\"score\":0.9,},]") << s2000 << s2000
        << 0.4 << none << false << false << QList<Annotation>{cat(200, 200, 600, 400)};
    QTest::newRow("missing colon repaired")
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\" [100,200,300,400],\"score\":0.9}]") << s2000 << s2000 << 0.4
        << none << false << false << QList<Annotation>{cat(200, 200, 600, 400)};
    QTest::newRow("detections member") << QStringLiteral("{\"detections\": [%1]}").arg(kCat) << s2000 << s2000 << 0.4
                                       << none << false << false << QList<Annotation>{cat(200, 200, 600, 400)};
    QTest::newRow("detections member after other brackets")
        << QStringLiteral("{\"note\":\"[x]\",\"detections\":[%1]}").arg(kCat) << s2000 << s2000 << 0.4 << none << false
        << false << QList<Annotation>{cat(200, 200, 600, 400)};
    QTest::newRow("salvage flat objects one by one")
        << QStringLiteral("Here: [%1 {\"label\":\"dog\",\"bbox_2d\":[0,0,500,500],\"score\":0.8} oops").arg(kCat)
               + QStringLiteral("]")
        << s1000 << s1000 << 0.4 << none << false << false
        << QList<Annotation>{box("cat", 100, 200, 300, 400, 0, 0.9), box("dog", 0, 0, 500, 500, 0, 0.8)};
    QTest::newRow("salvage loses nested objects")
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[100,200,300,400],\"meta\":{\"a\":1}} "
                          "{\"label\":\"dog\",\"bbox_2d\":[0,0,500,500],\"score\":0.8}]")
        << s1000 << s1000 << 0.4 << none << false << false << QList<Annotation>{box("dog", 0, 0, 500, 500, 0, 0.8)};
    QTest::newRow("salvage after an array without records")
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[100,200,300,400],\"score\":0.1}]") << s1000 << s1000 << 0.4
        << none << false << false << QList<Annotation>{};
    QTest::newRow("single object outside an array") << kCat << s2000 << s2000 << 0.0 << none << false << false
                                                    << QList<Annotation>{};
    QTest::newRow("no brackets") << QStringLiteral("No objects.") << s2000 << s2000 << 0.0 << none << false << false
                                 << QList<Annotation>{};
    QTest::newRow("empty array") << QStringLiteral("[]") << s2000 << s2000 << 0.0 << none << false << false
                                 << QList<Annotation>{};
    QTest::newRow("non-object elements")
        << QStringLiteral("[1, \"x\", null, [2], %1]").arg(kCat) << s1000 << s1000 << 0.4 << none << false << false
        << QList<Annotation>{box("cat", 100, 200, 300, 400, 0, 0.9)};
    QTest::newRow("score as string is ignored")
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[100,200,300,400],\"score\":\"0.1\"}]") << s1000 << s1000
        << 1.0 << none << false << false << QList<Annotation>{box("cat", 100, 200, 300, 400, 0, 1.0)};
    QTest::newRow("confidence when score is no number")
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[100,200,300,400],\"score\":\"x\",\"confidence\":0.7}]")
        << s1000 << s1000 << 0.4 << none << false << false << QList<Annotation>{box("cat", 100, 200, 300, 400, 0, 0.7)};
    QTest::newRow("negative score counts as 1")
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[100,200,300,400],\"score\":-0.5}]") << s1000 << s1000
        << 0.4 << none << false << false << QList<Annotation>{box("cat", 100, 200, 300, 400, 0, 1.0)};
    QTest::newRow("score equal to minScore passes")
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[100,200,300,400],\"score\":0.5},"
                          "{\"label\":\"dog\",\"bbox_2d\":[100,200,300,400],\"score\":0.49}]")
        << s1000 << s1000 << 0.5 << none << false << false << QList<Annotation>{box("cat", 100, 200, 300, 400, 0, 0.5)};
    QTest::newRow("outside the image dropped")
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[2000,2000,3000,3000],\"score\":0.9}]") << QSize(640, 480)
        << QSize(640, 480) << 0.0 << none << false << false << QList<Annotation>{};
    QTest::newRow("narrower than 2 px dropped")
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[100,100,101,300],\"score\":0.9}]") << s1000 << s1000
        << 0.0 << none << false << false << QList<Annotation>{};
    QTest::newRow("clipped to the image")
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[-50,900,1000,1000],\"score\":0.9}]") << s1000 << s1000
        << 0.0 << none << false << false << QList<Annotation>{box("cat", 0, 900, 1000, 1000, 0, 0.9)};
    QTest::newRow("bbox when bbox_2d has 3 numbers")
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[1,2,3],\"bbox\":[100,200,300,400],\"score\":0.9}]")
        << s1000 << s1000 << 0.0 << none << false << false << QList<Annotation>{box("cat", 100, 200, 300, 400, 0, 0.9)};
    QTest::newRow("no box, no record")
        << QStringLiteral("[{\"label\":\"cat\",\"polygon\":[[1,1],[500,1],[500,500]],\"score\":0.9}]") << s1000 << s1000
        << 0.0 << none << false << false << QList<Annotation>{};
    QTest::newRow("non-numbers read as 0")
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[\"a\",null,300,400],\"score\":0.9}]") << s1000 << s1000
        << 0.0 << none << false << false << QList<Annotation>{box("cat", 0, 0, 300, 400, 0, 0.9)};
    QTest::newRow("huge numbers stay finite")
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[1e308,-1e308,1e300,1e300],\"score\":0.9}]") << s1000
        << QSize(10, 10) << 0.0 << none << false << false << QList<Annotation>{};
    QTest::newRow("category aliases")
        << QStringLiteral("[{\"label\":\"\",\"class\":5,\"name\":\"dog\",\"bbox_2d\":[100,200,300,400],\"score\":0.9}]")
        << s1000 << s1000 << 0.0 << none << false << true
        << QList<Annotation>{box("dog", 100, 200, 300, 400, 1, 0.9)};
    QTest::newRow("polygon of pairs")
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[100,100,200,200],\"polygon\":[[100,100],[600,100],[100,700]],"
                          "\"score\":0.9}]")
        << s1000 << s1000 << 0.0 << none << false << false
        << QList<Annotation>{parsedPolygon("cat", {{100, 100}, {600, 100}, {100, 700}}, 0.9)};
    QTest::newRow("flat polygon, odd element ignored")
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[100,100,200,200],\"polygon\":[100,100,600,100,100,700,9],"
                          "\"score\":0.9}]")
        << s1000 << s1000 << 0.0 << none << false << false
        << QList<Annotation>{parsedPolygon("cat", {{100, 100}, {600, 100}, {100, 700}}, 0.9)};
    QTest::newRow("points when polygon is empty")
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[100,100,200,200],\"polygon\":[],"
                          "\"points\":[[100,100],[600,100],[1],[100,700]],\"score\":0.9}]")
        << s1000 << s1000 << 0.0 << none << false << false
        << QList<Annotation>{parsedPolygon("cat", {{100, 100}, {600, 100}, {100, 700}}, 0.9)};
    QTest::newRow("two points give a box")
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[100,100,200,200],\"polygon\":[[100,100],[600,700]],"
                          "\"score\":0.9}]")
        << s1000 << s1000 << 0.0 << none << false << false << QList<Annotation>{box("cat", 100, 100, 200, 200, 0, 0.9)};
    QTest::newRow("polygon clamped to the image")
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[100,100,1500,1500],\"polygon\":[[100,100],[2500,100],[100,1500]],"
                          "\"score\":0.9}]")
        << QSize(2000, 2000) << QSize(2000, 2000) << 0.0 << none << false << false
        << QList<Annotation>{parsedPolygon("cat", {{100, 100}, {2000, 100}, {100, 1500}}, 0.9)};
    QTest::newRow("polygon flattened on an edge gives its box")
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[100,100,500,500],\"polygon\":[[1200,100],[1300,200],[1400,300]],"
                          "\"score\":0.9}]")
        << s1000 << s1000 << 0.0 << none << false << false << QList<Annotation>{box("cat", 100, 100, 500, 500, 0, 0.9)};
    QTest::newRow("polygon scaled from sent pixels")
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[10,10,20,20],\"polygon\":[[1100,100],[1200,100],[1100,300]],"
                          "\"score\":0.9}]")
        << QSize(4000, 2000) << QSize(2000, 1000) << 0.0 << none << false << false
        << QList<Annotation>{parsedPolygon("cat", {{2200, 200}, {2400, 200}, {2200, 600}}, 0.9)};
    // Oriented detectors: four corners, or a box and its turn, make a rotated box.
    const auto parsedRotated = [](const QList<QPointF> &corners) {
        Annotation a = rotated("cat", corners, 0, 0.9);
        a.rect = QPolygonF(corners).boundingRect();
        return a;
    };
    QTest::newRow("four corners give a rotated box")
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[100,100,300,300],"
                          "\"corners\":[[200,100],[300,200],[200,300],[100,200]],\"score\":0.9}]")
        << s1000 << s1000 << 0.0 << none << false << false
        << QList<Annotation>{parsedRotated({{200, 100}, {300, 200}, {200, 300}, {100, 200}})};
    QTest::newRow("a box and its angle give a rotated box")
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[100,100,300,200],\"angle\":90,\"score\":0.9}]")
        << s1000 << s1000 << 0.0 << none << false << false
        << QList<Annotation>{parsedRotated({{250, 50}, {250, 250}, {150, 250}, {150, 50}})};
    QTest::newRow("angle 0 stays a box")
        << QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[100,100,300,200],\"angle\":0,\"score\":0.9}]")
        << s1000 << s1000 << 0.0 << none << false << false << QList<Annotation>{box("cat", 100, 100, 300, 200, 0, 0.9)};

    const auto labelled = [](const char *label) {
        return QStringLiteral("[{\"label\":\"%1\",\"bbox_2d\":[100,200,300,400],\"score\":0.9}]").arg(QLatin1String(label));
    };
    QTest::newRow("class matched ignoring case") << labelled("Car") << s1000 << s1000 << 0.0 << personCar << true << false
                                                 << QList<Annotation>{box("car", 100, 200, 300, 400, 0, 0.9)};
    // Whole names only: a name inside another is another thing.
    QTest::newRow("class contained in label is no match") << labelled("sports car") << s1000 << s1000 << 0.0
                                                          << personCar << true << false << QList<Annotation>{};
    QTest::newRow("label contained in class is no match") << labelled("PERS") << s1000 << s1000 << 0.0 << personCar
                                                          << true << false << QList<Annotation>{};
    const QStringList coco{QStringLiteral("car"), QStringLiteral("dog"), QStringLiteral("bear"), QStringLiteral("bus")};
    QTest::newRow("hot dogs kept as they are, not dog") << labelled("hot dogs") << s1000 << s1000 << 0.0 << coco
                                                        << false << false
                                                        << QList<Annotation>{box("hot dogs", 100, 200, 300, 400, 0, 0.9)};
    QTest::newRow("teddy bears restricted away") << labelled("teddy bears") << s1000 << s1000 << 0.0 << coco << true
                                                 << false << QList<Annotation>{};
    QTest::newRow("carrots restricted away") << labelled("carrots") << s1000 << s1000 << 0.0 << coco << true << false
                                             << QList<Annotation>{};
    QTest::newRow("plural s and blanks forgiven") << labelled(" Dogs ") << s1000 << s1000 << 0.0 << coco << true
                                                  << false << QList<Annotation>{box("dog", 100, 200, 300, 400, 0, 0.9)};
    QTest::newRow("plural es forgiven") << labelled("buses") << s1000 << s1000 << 0.0 << coco << true << false
                                        << QList<Annotation>{box("bus", 100, 200, 300, 400, 0, 0.9)};
    QTest::newRow("unknown label kept") << labelled("dog") << s1000 << s1000 << 0.0 << personCar << false << false
                                        << QList<Annotation>{box("dog", 100, 200, 300, 400, 0, 0.9)};
    QTest::newRow("unknown label restricted") << labelled("dog") << s1000 << s1000 << 0.0 << personCar << true << false
                                              << QList<Annotation>{};
    // A blank or missing category is no class; the first of the list is no guess to make.
    QTest::newRow("no label dropped, not the first class")
        << QStringLiteral("[{\"bbox_2d\":[100,200,300,400],\"score\":0.9}]") << s1000 << s1000 << 0.0
        << QStringList{QStringLiteral("person"), QStringLiteral("car")} << true << false << QList<Annotation>{};
    QTest::newRow("no label without classes dropped") << QStringLiteral("[{\"bbox_2d\":[100,200,300,400]}]") << s1000
                                                      << s1000 << 0.0 << none << false << false << QList<Annotation>{};
    QTest::newRow("line break as label dropped") << labelled("\\n") << s1000 << s1000 << 0.0 << personCar << false
                                                 << false << QList<Annotation>{};
    QTest::newRow("blank label dropped under restrict") << labelled(" ") << s1000 << s1000 << 0.0 << personCar << true
                                                        << false << QList<Annotation>{};
    QTest::newRow("null label dropped")
        << QStringLiteral("[{\"label\":null,\"bbox_2d\":[100,200,300,400],\"score\":0.9},%1]").arg(kCat) << s1000
        << s1000 << 0.0 << none << false << false << QList<Annotation>{box("cat", 100, 200, 300, 400, 0, 0.9)};
}

void TestDetectionParser::parseDetections()
{
    QFETCH(QString, text);
    QFETCH(QSize, source);
    QFETCH(QSize, sent);
    QFETCH(double, minScore);
    QFETCH(QStringList, classes);
    QFETCH(bool, restrict);
    QFETCH(bool, pending);
    QFETCH(QList<Annotation>, expected);

    const QList<Annotation> got = ::parseDetections(text, source, sent, minScore, classes, restrict, pending);
    QVERIFY2(sameRecords(got, expected), qPrintable(QStringLiteral("got:\n%1\nexpected:\n%2")
                                                        .arg(describe(got), describe(expected))));
}

void TestDetectionParser::blankLabelsCounted_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("kept");
    QTest::addColumn<int>("unusable");
    QTest::newRow("none blank") << QStringLiteral("[%1]").arg(kCat) << 1 << 0;
    QTest::newRow("blank, missing and null labels beside a cat")
        << QStringLiteral("[{\"label\":\" \",\"bbox_2d\":[1,2,300,400]},{\"bbox_2d\":[1,2,300,400]},"
                          "{\"label\":null,\"bbox_2d\":[1,2,300,400]},%1]").arg(kCat) << 1 << 3;
    // The salvage reads the objects of a broken answer again: each is counted once.
    QTest::newRow("broken answer salvaged")
        << QStringLiteral("[{\"label\":\"\",\"bbox_2d\":[1,2,300,400]} {\"label\":\"\",\"bbox_2d\":[1,2,300,400]}]") << 0 << 2;
    QTest::newRow("only blank labels") << QStringLiteral("[{\"label\":\"\",\"bbox_2d\":[1,2,300,400]}]") << 0 << 1;
    QTest::newRow("no answer") << QStringLiteral("sorry") << 0 << 0;
}

void TestDetectionParser::blankLabelsCounted()
{
    QFETCH(QString, text);
    QFETCH(int, kept);
    QFETCH(int, unusable);
    int counted = -1;
    const QList<Annotation> got =
        ::parseDetections(text, QSize(1000, 1000), QSize(1000, 1000), 0.0, {}, false, false, &counted);
    QCOMPARE(got.size(), kept);
    QCOMPARE(counted, unusable);
}

void TestDetectionParser::recordCap()
{
    const QSize size(1000, 1000);
    QCOMPARE(::parseDetections(detectionsJson(10001), size, size, 0, {}, false, false).size(), 10001);
    QCOMPARE(::parseDetections(detectionsJson(12000), size, size, 0, {}, false, false).size(), 10001);

    // The salvage pass keeps the same cap.
    QString broken = detectionsJson(10500);
    broken.replace(QLatin1String("},{"), QLatin1String("} {"));
    QCOMPARE(::parseDetections(broken, size, size, 0, {}, false, false).size(), 10001);
}

void TestDetectionParser::hostileAnswers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("maxRecords");

    QTest::newRow("deeply nested arrays") << QString(200000, QLatin1Char('[')) + QString(200000, QLatin1Char(']')) << 0;
    QTest::newRow("deeply nested objects")
        << QStringLiteral("[") + QString(100000, QLatin1Char('{')) + QString(100000, QLatin1Char('}')) + QStringLiteral("]")
        << 0;
    QTest::newRow("open braces only") << QStringLiteral("[") + QString(300000, QLatin1Char('{')) + QStringLiteral("]") << 0;
    QTest::newRow("long run without a closing brace")
        << QStringLiteral("[{") + QString(1000000, QLatin1Char('a')) + QStringLiteral("]") << 0;
    QTest::newRow("many trailing commas") << QStringLiteral("[") + QString(500000, QLatin1Char(',')) + QStringLiteral("]")
                                          << 0;
    QTest::newRow("comma and white space runs")
        << QStringLiteral("[") + QStringLiteral(", \n\t").repeated(200000) + QStringLiteral("]") << 0;
    QTest::newRow("missing-colon keys repeated")
        << QStringLiteral("[") + QStringLiteral("\"bbox_2d\"   ").repeated(100000) + QStringLiteral("]") << 0;
    QTest::newRow("huge valid answer") << detectionsJson(50000) << 10001;
    QString nestedInside = QStringLiteral("[");
    for (int i = 0; i < 2000; ++i)
        nestedInside += QStringLiteral("{\"label\":\"a\",\"bbox_2d\":[1,1,900,900],\"x\":{\"y\":[[[]]]}},");
    QTest::newRow("nested members everywhere") << nestedInside << 0;

    QRandomGenerator random(20261207);
    QByteArray bytes(1 << 20, Qt::Uninitialized);
    for (char &b : bytes)
        b = char(random.bounded(256));
    QTest::newRow("binary") << QString::fromLatin1(bytes) << 1000;
    QTest::newRow("binary as UTF-8") << QString::fromUtf8(bytes) << 1000;
    QString mixed;
    const QString alphabet = QStringLiteral("[]{},:\"0123456789.- \nbbox_2dlabelscore");
    for (int i = 0; i < 300000; ++i)
        mixed += alphabet.at(random.bounded(int(alphabet.size())));
    QTest::newRow("random JSON punctuation") << mixed << 10001;
}

void TestDetectionParser::hostileAnswers()
{
    QFETCH(QString, text);
    QFETCH(int, maxRecords);
    const QSize size(800, 600);
    const QList<Annotation> got = ::parseDetections(text, size, QSize(400, 300), 0.0, {}, false, true);
    QVERIFY(got.size() <= maxRecords);
    const QString problem = invalidRecord(got, size);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void TestDetectionParser::everyTruncation()
{
    // A long answer cut by max_tokens, at every possible length.
    const QString full = QStringLiteral("```json\n[{\"label\":\"cat\",\"bbox_2d\":[100,200,300,400],\"score\":0.9},"
                                        "{\"label\":\"dog\",\"bbox_2d\":[10,20,900,800],\"polygon\":[[10,20],[900,20],[500,800]],"
                                        "\"score\":0.8},{\"label\":\"eel\",\"bbox_2d\":[0,0,50,50],\"score\":0.7}]\n```");
    const QSize size(1000, 1000);
    int previous = 0;
    for (int n = 0; n <= full.size(); ++n) {
        const QList<Annotation> got = ::parseDetections(full.left(n), size, size, 0.0, {}, false, false);
        QVERIFY2(got.size() <= 3, qPrintable(QString::number(n)));
        const QString problem = invalidRecord(got, size);
        QVERIFY2(problem.isEmpty(), qPrintable(QStringLiteral("%1 at length %2").arg(problem).arg(n)));
        previous = int(got.size());
    }
    QCOMPARE(previous, 3);
}

BRINDLE_TEST_MAIN(TestDetectionParser)
#include "tst_detectionparser.moc"
