#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"
#include "storage/labelconversion.h"
#include "storage/labelmefile.h"

#include "storagefixtures.h"
#include "support/annotationbuilders.h"
#include "support/labelmesamples.h"
#include "testmain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QJsonObject jsonOf(const QByteArray &bytes)
{
    return QJsonDocument::fromJson(bytes).object();
}

QJsonArray shapesOf(const QJsonObject &file)
{
    return file.value("shapes").toArray();
}

// The shapes of a file that we keep as they are, in order.
QJsonArray keptShapes(const QJsonArray &shapes)
{
    QJsonArray kept;
    for (const QJsonValue &s : shapes) {
        const QString type = s.toObject().value("shape_type").toString();
        if (type != "rectangle" && type != "polygon")
            kept.append(s);
    }
    return kept;
}

} // namespace

class TestLabelmeFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void readsShapes_data();
    void readsShapes();
    void editKeepsEveryOtherKey_data();
    void editKeepsEveryOtherKey();
    void damagedFileIsNamedAndKept_data();
    void damagedFileIsNamedAndKept();
    void otherJsonBesideImageIsNotLabels();
    void newFileIsLabelmes();
    void categoryListBesideTheFolder_data();
    void categoryListBesideTheFolder();
    void conversion_data();
    void conversion();

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_image;  // <tmp>/ds/pic.png, 200x100
    QString m_json;   // <tmp>/ds/pic.json
};

void TestLabelmeFile::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    m_image = m_tmp->path() + "/ds/pic.png";
    m_json = m_tmp->path() + "/ds/pic.json";
    QVERIFY(Fixtures::makeImage(m_image, 200, 100));
}

void TestLabelmeFile::readsShapes_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QList<Annotation>>("expected");
    QTest::addColumn<QStringList>("kept");   // shown, not edited: "type label points"

    QTest::newRow("labelme: box, polygon; circle, line, point kept")
        << LabelmeSamples::labelme()
        << QList<Annotation>{box("person", QRectF(QPointF(10.5, 20), QPointF(60, 80.25))),
                             polygon("person", {{20, 30}, {40, 30}, {30, 60}})}
        << QStringList{"circle ball 120,70 125,70", "line wire 1,1 50,50", "point nose 33,44"};
    QTest::newRow("X-AnyLabeling: four-corner boxes, difficult, score; rotation kept")
        << LabelmeSamples::xAnyLabeling()
        << QList<Annotation>{box("car", QRectF(100, 10, 50, 30), 0, -1.0, true),
                             box("sign", QRectF(10, 10, 20, 20), 0, 0.87)}
        << QStringList{"rotation boat 60,60 80,62 78,80 58,78"};
    QTest::newRow("corners given the wrong way round")
        << QByteArray(R"({"shapes": [{"label": "a", "points": [[60, 80], [10, 20]], "shape_type": "rectangle"}]})")
        << QList<Annotation>{box("a", QRectF(10, 20, 50, 60))} << QStringList();
    QTest::newRow("shapes we cannot use are kept, not dropped")
        << QByteArray(R"({"shapes": [{"label": "", "points": [[1, 1], [5, 5]], "shape_type": "rectangle"},
                                     {"label": "a", "points": [[1, 1], [1, 9]], "shape_type": "rectangle"},
                                     {"label": "b", "points": [[1, 1], [2, 2]], "shape_type": "polygon"},
                                     {"label": "c", "points": [[1, "x"], [2, 2], [3, 3]], "shape_type": "polygon"},
                                     {"label": "d", "points": [[0, 0], [4, 0], [4, 4]], "shape_type": "mask"}]})")
        << QList<Annotation>{}
        << QStringList{"rectangle  1,1 5,5", "rectangle a 1,1 1,9", "polygon b 1,1 2,2", "polygon c",
                       "mask d 0,0 4,0 4,4"};
    QTest::newRow("no shapes") << QByteArray(R"({"shapes": [], "imagePath": "pic.png"})") << QList<Annotation>{}
                               << QStringList();
}

void TestLabelmeFile::readsShapes()
{
    QFETCH(QByteArray, file);
    QFETCH(QList<Annotation>, expected);
    QFETCH(QStringList, kept);
    QVERIFY(Fixtures::writeBytes(m_json, file));

    const StoredAnnotations stored = readStoredAnnotations(m_image);
    QCOMPARE(stored.file, m_json);
    QVERIFY(stored.complete());
    QCOMPARE(stored.kept, int(kept.size()));
    QStringList keptShapes;
    for (const KeptShape &shape : stored.keptShapes) {
        QStringList words{shape.type, shape.label};
        for (const QPointF &p : shape.points)
            words.append(QStringLiteral("%1,%2").arg(p.x()).arg(p.y()));
        keptShapes.append(words.join(QLatin1Char(' ')));
    }
    QCOMPARE(keptShapes, kept);
    QCOMPARE(stored.annotations.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        const Annotation &a = stored.annotations.at(i);
        QCOMPARE(a.kind, expected.at(i).kind);
        QCOMPARE(a.label, expected.at(i).label);
        QCOMPARE(a.difficult, expected.at(i).difficult);
        QCOMPARE(a.confidence, expected.at(i).confidence);
        if (a.kind == Annotation::Rect)
            QCOMPARE(a.rect, expected.at(i).rect);
        else
            QCOMPARE(a.points, expected.at(i).points);
    }
    QCOMPARE(labelFormatOf(m_image), LabelFormat::Labelme);
    QCOMPARE(countAnnotations(m_image), int(expected.size()));
    QCOMPARE(labelFilesOf(m_image), QStringList{m_json});
}

void TestLabelmeFile::editKeepsEveryOtherKey_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("cornersPerBox");
    QTest::newRow("labelme") << LabelmeSamples::labelme() << 2;
    QTest::newRow("X-AnyLabeling") << LabelmeSamples::xAnyLabeling() << 4;
}

void TestLabelmeFile::editKeepsEveryOtherKey()
{
    QFETCH(QByteArray, file);
    QFETCH(int, cornersPerBox);
    QVERIFY(Fixtures::writeBytes(m_json, file));
    const QJsonObject before = jsonOf(file);

    // Move the first shape, delete the last editable one, add a box (as a confirmed model result).
    QList<Annotation> edited = loadAnnotations(m_image);
    QVERIFY(edited.size() >= 2);
    const QJsonObject firstBefore = shapesOf(before).at(0).toObject();
    edited[0].rect.translate(5, 5);
    edited.removeLast();
    edited.append(box("dog", QRectF(150, 50, 20, 30), 0, 0.5));
    const SaveTarget target = editSaveTarget(m_image, LabelFormat::Yolo);
    QCOMPARE(target.file, m_json);
    QCOMPARE(target.format, LabelFormat::Labelme);
    SaveReport report;
    QVERIFY(saveEdit(m_image, edited, target, {}, &report));
    QCOMPARE(report.labelFile, m_json);
    QVERIFY(!QFileInfo::exists(yoloLabelPath(m_image)));

    const QJsonObject after = jsonOf(Fixtures::readBytes(m_json));
    // Every top-level key but the shapes is as it was, imageData to the byte.
    QCOMPARE(after.keys(), before.keys());
    for (const QString &key : before.keys()) {
        if (key != "shapes")
            QCOMPARE(after.value(key), before.value(key));
    }
    // The shapes we keep are all there, as they were and in their order.
    QCOMPARE(keptShapes(shapesOf(after)), keptShapes(shapesOf(before)));
    // The moved shape keeps its own fields.
    const QJsonObject firstAfter = shapesOf(after).at(0).toObject();
    for (const QString &key : firstBefore.keys()) {
        if (key != "points")
            QCOMPARE(firstAfter.value(key), firstBefore.value(key));
    }
    QCOMPARE(firstAfter.value("points").toArray().size(), cornersPerBox);

    const StoredAnnotations reread = readStoredAnnotations(m_image);
    QVERIFY(reread.complete());
    QCOMPARE(reread.kept, keptShapes(shapesOf(before)).size());
    QCOMPARE(reread.annotations.size(), edited.size());
    for (qsizetype i = 0; i < edited.size(); ++i) {
        QCOMPARE(reread.annotations.at(i).label, edited.at(i).label);
        QCOMPARE(reread.annotations.at(i).rect, edited.at(i).kind == Annotation::Rect
                                                     ? edited.at(i).rect
                                                     : reread.annotations.at(i).rect);
    }
    QCOMPARE(reread.annotations.last().confidence, 0.5);
}

void TestLabelmeFile::damagedFileIsNamedAndKept_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<qint64>("line");
    QTest::newRow("cut short") << LabelmeSamples::labelme().left(300) << qint64(7);
    QTest::newRow("shapes is no list") << QByteArray(R"({"shapes": {"label": "a"}})") << qint64(1);
    QTest::newRow("a shape is no object") << QByteArray(R"({"shapes": [3]})") << qint64(1);
}

void TestLabelmeFile::damagedFileIsNamedAndKept()
{
    QFETCH(QByteArray, file);
    QFETCH(qint64, line);
    QVERIFY(Fixtures::writeBytes(m_json, file));

    const StoredAnnotations stored = readStoredAnnotations(m_image);
    QCOMPARE(stored.file, m_json);
    QVERIFY(!stored.complete());
    QCOMPARE(stored.damagedFile, m_json);
    QCOMPARE(stored.problem.name(), QString("json_error"));
    QCOMPARE(stored.problem.at, line);
    QCOMPARE(countAnnotations(m_image), -1);
    // Nothing writes over what could not be read.
    QVERIFY(!saveEdit(m_image, {box("a", QRectF(1, 1, 5, 5))}, editSaveTarget(m_image, LabelFormat::Labelme), {}));
    QCOMPARE(convertLabelFile(m_image, LabelFormat::Yolo, {}).outcome, LabelConversion::Incomplete);
    QCOMPARE(Fixtures::readBytes(m_json), file);
}

void TestLabelmeFile::otherJsonBesideImageIsNotLabels()
{
    const QByteArray caption = R"({"caption": "a green square", "source": "camera 3"})";
    QVERIFY(Fixtures::writeBytes(m_json, caption));
    QCOMPARE(labelFormatOf(m_image), LabelFormat::None);
    QVERIFY(labelFilesOf(m_image).isEmpty());

    // A new labelme file would take its name: refused, the file stays.
    QVERIFY(!saveEdit(m_image, {box("a", QRectF(1, 1, 5, 5))}, editSaveTarget(m_image, LabelFormat::Labelme), {}));
    QCOMPARE(Fixtures::readBytes(m_json), caption);
    // Other formats go where they always go.
    QVERIFY(saveEdit(m_image, {box("a", QRectF(1, 1, 5, 5))}, editSaveTarget(m_image, LabelFormat::Voc), {}));
    QCOMPARE(Fixtures::readBytes(m_json), caption);
    QCOMPARE(labelFormatOf(m_image), LabelFormat::Voc);
}

void TestLabelmeFile::newFileIsLabelmes()
{
    const QList<Annotation> shapes = {box("cat", QRectF(10, 20, 30, 40)),
                                      polygon("dog", {{100, 10}, {150, 20}, {120, 80}})};
    const SaveTarget target = editSaveTarget(m_image, LabelFormat::Labelme);
    QCOMPARE(target.file, m_json);
    QVERIFY(!target.existing);
    QVERIFY(saveEdit(m_image, shapes, target, {}));

    const QJsonObject file = jsonOf(Fixtures::readBytes(m_json));
    QCOMPARE(file.value("imagePath").toString(), QString("pic.png"));
    QCOMPARE(file.value("imageWidth").toInt(), 200);
    QCOMPARE(file.value("imageHeight").toInt(), 100);
    QVERIFY(file.value("imageData").isNull());
    QVERIFY(file.value("version").isString());
    const QJsonObject first = shapesOf(file).at(0).toObject();
    QCOMPARE(first.value("shape_type").toString(), QString("rectangle"));
    QCOMPARE(first.value("points").toArray(), (QJsonArray{QJsonArray{10, 20}, QJsonArray{40, 60}}));
    QVERIFY(first.value("group_id").isNull());
    QVERIFY(first.value("flags").isObject());
    QCOMPARE(shapesOf(file).at(1).toObject().value("shape_type").toString(), QString("polygon"));

    const QList<Annotation> reread = loadAnnotations(m_image);
    QCOMPARE(reread.size(), 2);
    QCOMPARE(reread.at(0).rect, shapes.at(0).rect);
    QCOMPARE(reread.at(1).points, shapes.at(1).points);
}

void TestLabelmeFile::categoryListBesideTheFolder_data()
{
    QTest::addColumn<QStringList>("files");    // "place=content", place below <tmp>
    QTest::addColumn<QString>("found");        // the file read, below <tmp>; empty: none
    QTest::addColumn<QStringList>("names");

    QTest::newRow("labels.txt as labelme's examples write it")
        << QStringList{"ds/labels.txt=__ignore__\r\n_background_\r\ncat\r\ndog\r\n"} << "ds/labels.txt"
        << QStringList{"cat", "dog"};
    QTest::newRow("labels.txt before flags.txt")
        << QStringList{"ds/flags.txt=night\n", "ds/labels.txt=cat\n"} << "ds/labels.txt" << QStringList{"cat"};
    QTest::newRow("flags.txt alone") << QStringList{"ds/flags.txt=night\n\nday\n"} << "ds/flags.txt"
                                     << QStringList{"night", "day"};
    QTest::newRow("the folder's own before the one above")
        << QStringList{"labels.txt=horse\n", "ds/flags.txt=night\n"} << "ds/flags.txt" << QStringList{"night"};
    QTest::newRow("the folder above, as labelme's --labels is often given")
        << QStringList{"labels.txt=horse\nhorse\n cow \n"} << "labels.txt" << QStringList{"horse", "cow"};
    QTest::newRow("none") << QStringList() << "" << QStringList();
    QTest::newRow("a folder named labels.txt is no list")
        << QStringList{"ds/labels.txt/x=cat\n"} << "" << QStringList();
}

// labelme's own category list is read, never written.
void TestLabelmeFile::categoryListBesideTheFolder()
{
    QFETCH(QStringList, files);
    QFETCH(QString, found);
    QFETCH(QStringList, names);
    QHash<QString, QByteArray> written;
    for (const QString &file : files) {
        const QString path = m_tmp->path() + QLatin1Char('/') + file.section(QLatin1Char('='), 0, 0);
        const QByteArray content = file.section(QLatin1Char('='), 1).toUtf8();
        QVERIFY(Fixtures::writeBytes(path, content));
        written.insert(path, content);
    }
    QString file;
    QCOMPARE(labelmeLabelList(m_tmp->path() + "/ds", &file), names);
    QCOMPARE(file, found.isEmpty() ? QString() : m_tmp->path() + QLatin1Char('/') + found);
    for (auto it = written.cbegin(); it != written.cend(); ++it)
        QCOMPARE(Fixtures::readBytes(it.key()), it.value());
}

void TestLabelmeFile::conversion_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<bool>("jsonStays");

    const QByteArray boxesOnly = R"({"shapes": [{"label": "cat", "points": [[10, 20], [40, 60]],
                                    "shape_type": "rectangle"}], "imageData": null})";
    QTest::newRow("circles have no place in YOLO") << LabelmeSamples::labelme() << int(LabelFormat::Yolo)
                                                   << int(LabelConversion::KeptShapes) << true;
    QTest::newRow("rotated boxes have no place in VOC") << LabelmeSamples::xAnyLabeling() << int(LabelFormat::Voc)
                                                        << int(LabelConversion::KeptShapes) << true;
    QTest::newRow("boxes to VOC") << boxesOnly << int(LabelFormat::Voc) << int(LabelConversion::Converted) << false;
    QTest::newRow("boxes to YOLO") << boxesOnly << int(LabelFormat::Yolo) << int(LabelConversion::Converted)
                                   << false;
    QTest::newRow("labelme to labelme keeps everything") << LabelmeSamples::labelme() << int(LabelFormat::Labelme)
                                                         << int(LabelConversion::Converted) << true;
}

void TestLabelmeFile::conversion()
{
    QFETCH(QByteArray, file);
    QFETCH(int, to);
    QFETCH(int, outcome);
    QFETCH(bool, jsonStays);
    QVERIFY(Fixtures::writeBytes(m_json, file));
    const QList<Annotation> before = loadAnnotations(m_image);

    const LabelConversion done = convertLabelFile(m_image, LabelFormat(to), {});
    QCOMPARE(int(done.outcome), outcome);
    QCOMPARE(QFileInfo::exists(m_json), jsonStays);
    if (done.outcome != LabelConversion::Converted) {
        QCOMPARE(done.file, m_json);
        QCOMPARE(Fixtures::readBytes(m_json), file);
        return;
    }
    QCOMPARE(labelFormatOf(m_image), LabelFormat(to));
    const QList<Annotation> after = loadAnnotations(m_image);
    QCOMPARE(after.size(), before.size());
    for (qsizetype i = 0; i < after.size(); ++i) {
        QCOMPARE(after.at(i).label, before.at(i).label);
        QCOMPARE(after.at(i).rect, before.at(i).rect);
    }

    // And back: VOC or YOLO to labelme removes the file it came from.
    if (LabelFormat(to) != LabelFormat::Labelme) {
        QCOMPARE(convertLabelFile(m_image, LabelFormat::Labelme, {}).outcome, LabelConversion::Converted);
        QCOMPARE(labelFormatOf(m_image), LabelFormat::Labelme);
        QVERIFY(labelFilesOf(m_image) == QStringList{m_json});
        QCOMPARE(loadAnnotations(m_image).size(), before.size());
    } else {
        QCOMPARE(keptShapes(shapesOf(jsonOf(Fixtures::readBytes(m_json)))), keptShapes(shapesOf(jsonOf(file))));
    }
}

BRINDLE_TEST_MAIN(TestLabelmeFile)
#include "tst_labelmefile.moc"
