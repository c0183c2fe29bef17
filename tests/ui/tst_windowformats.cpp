#include "ui/mainwindow.h"

#include "canvas/annotationscene.h"
#include "canvas/canvasview.h"
#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"
#include "ui/annotationeditor.h"
#include "ui/mainstatusbar.h"
#include "ui/objectlistpanel.h"
#include "ui/toastwidget.h"
#include "ui/windowactions.h"

#include "stylesheet.h"
#include "support/annotationbuilders.h"
#include "support/labelmesamples.h"
#include "testmain.h"
#include "mainwindowfixture.h"
#include "windowfixture.h"

#include <QAction>
#include <QFileDialog>
#include <QMessageBox>
#include <QTemporaryDir>

using namespace WindowFixture;

// Other tools' files in the window: a labelme file's shapes we keep but do not edit, a COCO file
// imported into the folder.
class TestWindowFormats : public QObject, private MainWindowFixture
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void labelmeKeptShapesShownNotEdited_data();
    void labelmeKeptShapesShownNotEdited();
    void importCocoCommand_data();
    void importCocoCommand();
    void poseDatasetHoldsBoxesOnly_data();
    void poseDatasetHoldsBoxesOnly();
};

void TestWindowFormats::initTestCase()
{
    QVERIFY(installSourceStyleSheet());
    setLanguage(QStringLiteral("zh_CN"));
}

void TestWindowFormats::init()
{
    prepareDataset();
}

void TestWindowFormats::cleanup()
{
    m_tmp.reset();
}

void TestWindowFormats::labelmeKeptShapesShownNotEdited_data()
{
    QTest::addColumn<QString>("act");
    QTest::newRow("shown and counted") << "";
    QTest::newRow("Ctrl+H hides them with the others") << "hide";
    QTest::newRow("a click on one selects nothing, Delete removes nothing") << "delete";
    QTest::newRow("a save keeps them in the file, shown again after a step") << "save";
}

// A labelme file's circle, line and point are drawn for reference and counted under the objects;
// nothing selects, moves or deletes them, and every save keeps them.
void TestWindowFormats::labelmeKeptShapesShownNotEdited()
{
    QFETCH(QString, act);
    const QString json = labelmeJsonPath(m_images.at(0));
    QVERIFY(writeBytes(json, LabelmeSamples::labelme()));
    auto window = openWindow(m_images.at(0));
    QVERIFY(window);
    QVERIFY(waitForImage(*window, m_images.at(0)));
    AnnotationScene *scene = window->scene();
    QCOMPARE(scene->annotations().size(), 2);
    QCOMPARE(scene->keptShapes().size(), 3);
    QVERIFY(scene->keptShapesShown());
    QVERIFY2(window->objectPanel()->keptText().contains(QStringLiteral("3")),
             qPrintable(window->objectPanel()->keptText()));
    const QList<Annotation> records = scene->annotations();

    if (act == QLatin1String("hide")) {
        window->actions().hideShapes->trigger();
        QVERIFY(!scene->keptShapesShown());
        window->actions().hideShapes->trigger();
        QVERIFY(scene->keptShapesShown());
    } else if (act == QLatin1String("delete")) {
        window->actions().editMode->trigger();
        QWidget *viewport = window->view()->viewport();
        QTest::mouseClick(viewport, Qt::LeftButton, {}, window->view()->mapFromScene(QPointF(122.5, 70)));
        QVERIFY(scene->selectedIds().isEmpty());
        // A band over the whole image takes the editable shapes only; Delete removes those.
        const QPoint from = window->view()->mapFromScene(QPointF(1, 1));
        const QPoint to = window->view()->mapFromScene(QPointF(199, 99));
        QTest::mousePress(viewport, Qt::LeftButton, {}, from);
        QTest::mouseMove(viewport, (from + to) / 2);
        QTest::mouseMove(viewport, to);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, to);
        QCOMPARE(scene->selectedIds().size(), 2);
        window->actions().deleteSelected->trigger();
        QVERIFY(scene->annotations().isEmpty());
        QCOMPARE(scene->keptShapes().size(), 3);
        QVERIFY(window->saveCurrent());
        const StoredAnnotations stored = readStoredAnnotations(m_images.at(0));
        QCOMPARE(stored.kept, 3);
        QVERIFY(stored.annotations.isEmpty());
        return;
    } else if (act == QLatin1String("save")) {
        editFirstShape(*window);
        QVERIFY(window->saveCurrent());
        window->stepImage(1);
        QVERIFY(waitForImage(*window, m_images.at(1)));
        QVERIFY(scene->keptShapes().isEmpty());
        QVERIFY(window->objectPanel()->keptText().isEmpty());
        window->stepImage(-1);
        QVERIFY(waitForImage(*window, m_images.at(0)));
        QCOMPARE(scene->keptShapes().size(), 3);
    }
    const StoredAnnotations stored = readStoredAnnotations(m_images.at(0));
    QCOMPARE(stored.kept, 3);
    QCOMPARE(stored.keptShapes.at(0).label, QStringLiteral("ball"));
    QCOMPARE(stored.annotations.size(), 2);
}

void TestWindowFormats::importCocoCommand_data()
{
    QTest::addColumn<QString>("answer");        // to "merge or keep" for images with labels
    QTest::addColumn<QStringList>("onScreen");  // img1's shapes shown after the import
    QTest::newRow("keep: the labelled image stays as it was") << "保持原样" << QStringList{"cat"};
    QTest::newRow("merge: the image on screen shows both") << "合并" << QStringList{"cat", "owl"};
}

// File → Import COCO: the file picked, the question answered; the label files are written, the
// image on screen shows what its file now holds, the next one its imported shapes.
void TestWindowFormats::importCocoCommand()
{
    QFETCH(QString, answer);
    QFETCH(QStringList, onScreen);
    QVERIFY(writeVoc(m_images.at(0), {QStringLiteral("cat")}));
    const QString coco = m_tmp->path() + QStringLiteral("/instances.json");
    QVERIFY(writeBytes(coco, R"({"categories": [{"id": 3, "name": "owl"}, {"id": 5, "name": "fox"}],
        "images": [{"id": 1, "file_name": "img1.png", "width": 200, "height": 100},
                   {"id": 2, "file_name": "img2.png", "width": 200, "height": 100},
                   {"id": 9, "file_name": "elsewhere.png", "width": 200, "height": 100}],
        "annotations": [{"id": 1, "image_id": 1, "category_id": 3, "bbox": [100, 50, 40, 30]},
                        {"id": 2, "image_id": 2, "category_id": 5, "bbox": [10, 20, 30, 40]},
                        {"id": 3, "image_id": 2, "category_id": 3,
                         "segmentation": [[120, 10, 180, 10, 150, 60]], "bbox": [120, 10, 60, 50]}]})"));
    auto window = openWindow(m_dir);
    QVERIFY(window);
    QVERIFY(waitForImage(*window, m_images.at(0)));
    QTRY_VERIFY(!window->session()->isListing());

    auto step = std::make_shared<int>(0);
    auto report = std::make_shared<QString>();
    whenShown([step, report, coco, answer] {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *picker = qobject_cast<QFileDialog *>(modal); picker && *step == 0) {
            picker->selectFile(coco);
            static_cast<QDialog *>(picker)->accept();
            *step = 1;
        } else if (auto *box = qobject_cast<QMessageBox *>(modal); box && *step == 1 && box->buttons().size() > 1) {
            for (QAbstractButton *button : box->buttons()) {
                if (button->text() == answer)
                    button->click();
            }
            *step = 2;
        } else if (box && *step == 2 && box->buttons().size() == 1) {
            *report = box->text();
            box->buttons().first()->click();
            *step = 3;
        }
        return *step == 3;
    });
    window->actions().importCoco->trigger();
    QTRY_COMPARE(*step, 3);
    QVERIFY2(report->contains(QStringLiteral("写入")), qPrintable(*report));

    // Written in the folder's format (VOC, as its other file), nowhere else.
    QCOMPARE(readStoredAnnotations(m_images.at(1)).file, vocPath(m_images.at(1)));
    QCOMPARE(labelsOf(loadAnnotations(m_images.at(1))), (QStringList{"fox", "owl"}));
    QCOMPARE(labelsOf(loadAnnotations(m_images.at(0))), onScreen);
    QVERIFY(!QFileInfo::exists(vocPath(m_images.at(2))));

    QCOMPARE(window->currentImagePath(), m_images.at(0));
    QCOMPARE(labelsOf(window->scene()->annotations()), onScreen);
    QVERIFY(!window->isDirty());
    window->stepImage(1);
    QVERIFY(waitForImage(*window, m_images.at(1)));
    const QList<Annotation> shown = window->scene()->annotations();
    QCOMPARE(labelsOf(shown), (QStringList{"fox", "owl"}));
    QCOMPARE(shown.at(0).rect, QRectF(10, 20, 30, 40));
    QVERIFY(shown.at(1).isPolygon());
    QVERIFY(window->categories()->labels().contains(QStringLiteral("fox")));
}

void TestWindowFormats::poseDatasetHoldsBoxesOnly_data()
{
    QTest::addColumn<QString>("act");
    QTest::addColumn<bool>("pose");   // data.yaml declares kpt_shape when the window opens
    QTest::newRow("plain dataset: polygon and rotated-box modes enabled") << "modes" << false;
    QTest::newRow("pose dataset: both greyed, the reason in their tooltips and the status bar") << "modes" << true;
    QTest::newRow("pose dataset: a step to an image with a VOC file enables them, a step back greys them")
        << "step" << true;
    QTest::newRow("plain dataset: the previous image's polygon is copied") << "copy" << false;
    QTest::newRow("pose dataset: the previous image's polygon is not copied, the reason told") << "copy" << true;
    QTest::newRow("plain dataset: Enter confirms a model polygon") << "confirm" << false;
    QTest::newRow("pose dataset: Enter leaves a model polygon pending, the reason told") << "confirm" << true;
    QTest::newRow("pose dataset: key 1 names a model polygon but leaves it pending, the reason told") << "key" << true;
    QTest::newRow("pose dataset: a box does not turn into a rotated box") << "turn" << true;
    QTest::newRow("kpt_shape declared after a polygon was drawn: the save names data.yaml") << "save" << false;
}

// A pose dataset's rows are boxes with keypoints: the window offers no outline there, copies and
// confirms none, and a save that still holds one names the data.yaml that declares the keypoints.
void TestWindowFormats::poseDatasetHoldsBoxesOnly()
{
    QFETCH(QString, act);
    QFETCH(bool, pose);
    const QString reason = QStringLiteral("此数据集的每行只能是带关键点的框");
    const QString yaml = m_dir + QStringLiteral("/data.yaml");
    const QByteArray names("names: [person]\n");
    const QByteArray keypoints("kpt_shape: [3, 3]\n");
    QVERIFY(writeBytes(yaml, pose ? names + keypoints : names));
    const Annotation triangle = polygon(QStringLiteral("person"), {{120, 10}, {180, 10}, {150, 60}});
    // img1: a VOC file, which holds outlines; img2: the dataset's YOLO rows.
    QVERIFY(saveAnnotations(m_images.at(0), {box(QStringLiteral("person"), QRectF(10, 10, 30, 30)), triangle},
                            LabelFormat::Voc, {}, nullptr));
    const QString rows = yoloLabelPath(m_images.at(1));
    QVERIFY(writeBytes(rows, pose ? poseRow(0, 3, 3) : QByteArray("0 0.5 0.5 0.5 0.5\n")));
    const QByteArray rowsBefore = readBytes(rows);

    auto window = openWindow(m_images.at(1));
    QVERIFY(window);
    QVERIFY(waitForImage(*window, m_images.at(1)));
    AnnotationScene *scene = window->scene();
    const WindowActions &actions = window->actions();
    QCOMPARE(actions.polyMode->isEnabled(), !pose);
    QCOMPARE(actions.rotatedMode->isEnabled(), !pose);
    QCOMPARE(actions.polyMode->toolTip().contains(reason), pose);
    QCOMPARE(window->statusPanel()->message().contains(reason), pose);

    if (act == QLatin1String("modes")) {
        QVERIFY(actions.rectMode->isEnabled());
        QCOMPARE(actions.rotatedMode->toolTip().contains(reason), pose);
    } else if (act == QLatin1String("step")) {
        window->stepImage(-1);
        QVERIFY(waitForImage(*window, m_images.at(0)));
        QVERIFY(actions.polyMode->isEnabled());
        QVERIFY(actions.rotatedMode->isEnabled());
        QVERIFY(!actions.polyMode->toolTip().contains(reason));
        QVERIFY(!window->statusPanel()->message().contains(reason));
        // Drawing a polygon there, then back: the pose image is drawn on in box mode.
        actions.polyMode->trigger();
        QCOMPARE(scene->mode(), int(AnnotationScene::PolygonMode));
        window->stepImage(1);
        QVERIFY(waitForImage(*window, m_images.at(1)));
        QVERIFY(!actions.polyMode->isEnabled());
        QCOMPARE(scene->mode(), int(AnnotationScene::RectMode));
        QVERIFY(actions.rectMode->isChecked());
    } else if (act == QLatin1String("copy")) {
        actions.copyPrevious->trigger();
        const QList<Annotation> shapes = scene->annotations();
        const qsizetype outlines =
            std::count_if(shapes.cbegin(), shapes.cend(), [](const Annotation &a) { return a.isPolygon(); });
        QCOMPARE(outlines, pose ? 0 : 1);
        QCOMPARE(window->toast()->text(),
                 pose ? QStringLiteral("已从 img1.png 复制 1 个标注\n1 个多边形或旋转框未复制：") + reason
                      : QStringLiteral("已从 img1.png 复制 2 个标注"));
        QVERIFY(window->saveCurrent());
    } else if (act == QLatin1String("confirm")) {
        Annotation result = triangle;
        result.pending = 1;
        result.confidence = 0.9;
        QCOMPARE(window->editor()->insertResults({result}).kept.size(), 1);
        actions.confirmCurrent->trigger();
        QCOMPARE(scene->pendingCount(), pose ? 1 : 0);
        if (pose)
            QCOMPARE(window->toast()->text(), QStringLiteral("1 个多边形或旋转框仍待确认：") + reason);
        QVERIFY(window->saveCurrent());
    } else if (act == QLatin1String("key")) {
        Annotation result = triangle;
        result.label = QStringLiteral("dog");
        result.pending = 1;
        result.confidence = 0.9;
        QCOMPARE(window->editor()->insertResults({result}).kept.size(), 1);
        actions.nextPending->trigger();
        actions.numberKeys[0]->trigger();
        const QList<Annotation> shapes = scene->annotations();
        QCOMPARE(shapes.last().label, QStringLiteral("person"));
        QCOMPARE(shapes.last().pending, 1);
        QCOMPARE(window->toast()->text(),
                 QStringLiteral("1 个标注 → person（Ctrl+Z）\n1 个多边形或旋转框仍待确认：") + reason);
        QVERIFY(window->saveCurrent());
    } else if (act == QLatin1String("turn")) {
        const QList<Annotation> shapes = scene->annotations();
        QCOMPARE(shapes.size(), 1);
        QVERIFY(!window->editor()->toggleRotated(shapes.first().id));
        QCOMPARE(scene->annotations().first().kind, Annotation::Rect);
    } else if (act == QLatin1String("save")) {
        window->editor()->addShape(triangle, QStringLiteral("person"));
        QVERIFY(writeBytes(yaml, names + keypoints));
        QVERIFY(!window->saveCurrent());
        QCOMPARE(window->toast()->text(),
                 QStringLiteral("保存失败：%1 声明了关键点（kpt_shape），每行只能是带关键点的框，容纳不了多边形或旋转框")
                     .arg(QDir::toNativeSeparators(yaml)));
        QVERIFY(window->isDirty());
        QCOMPARE(window->currentImagePath(), m_images.at(1));
    }
    // Whatever was refused, the dataset's rows are as their readers expect them.
    if (pose || act == QLatin1String("save"))
        QCOMPARE(readBytes(rows).split('\n').first().split(' ').size(), act == QLatin1String("save") ? 5 : 14);
    if (act == QLatin1String("save") || act == QLatin1String("turn") || act == QLatin1String("modes"))
        QCOMPARE(readBytes(rows), rowsBefore);
}

BRINDLE_WINDOW_TEST_MAIN(TestWindowFormats)
#include "tst_windowformats.moc"
