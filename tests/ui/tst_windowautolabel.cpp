#include "ui/mainwindow.h"

#include "canvas/annotationscene.h"
#include "inference/vllmclient.h"
#include "shared/language.h"
#include "storage/annotationstore.h"
#include "storage/pendingfile.h"
#include "ui/autolabeldialog.h"
#include "ui/mainstatusbar.h"
#include "ui/progressoverlay.h"
#include "ui/toastwidget.h"

#include "runfixture.h"
#include "stylesheet.h"
#include "support/annotationbuilders.h"
#include "testmain.h"
#include "windowfixture.h"

#include <QAction>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QUndoStack>

using namespace RunFixture;
using namespace WindowFixture;

namespace {

const QString kChat = QStringLiteral("/v1/chat/completions");

bool hasLabelFiles(const QString &imagePath)
{
    const QFileInfo info(imagePath);
    return QFileInfo::exists(vocPath(imagePath))
        || QFileInfo::exists(info.absolutePath() + QStringLiteral("/labels/") + info.completeBaseName()
                             + QStringLiteral(".txt"));
}

} // namespace

class TestWindowAutoLabel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void onScreenResultsAreOneStep_data();
    void onScreenResultsAreOneStep();
    void otherImagesGoToCacheAndPendingFile();
    void overlapFilter_data();
    void overlapFilter();
    void insertAsConfirmed_data();
    void insertAsConfirmed();
    void pendingFileMidRunThenCancel();
    void anotherFolderOpenedDuringRun();
    void anotherProgramsResultsShown();
    void failedImageMarked_data();
    void failedImageMarked();
    void refusedWhileBusy_data();
    void refusedWhileBusy();
    void storedServerSettings_data();
    void storedServerSettings();
    void settingsDialogChanges_data();
    void settingsDialogChanges();
    void startFromEitherTab_data();
    void startFromEitherTab();
    void unservedModelNameReplaced_data();
    void unservedModelNameReplaced();
    void backgroundImagesOnlyWithAllImages_data();
    void backgroundImagesOnlyWithAllImages();

private:
    // Starts a run through the toolbar action, answering the dialog; false when no dialog came.
    bool startRun(int scope, bool pending);
    bool waitForRunEnd(int runs = 1);
    QString toastText() const;

    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_dir;
    QStringList m_images;
    FakeOpenAiServer *m_server = nullptr;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<QSignalSpy> m_finished;
};

void TestWindowAutoLabel::initTestCase()
{
    QVERIFY(installSourceStyleSheet());
    registerAnnotationMetaTypes();
}

void TestWindowAutoLabel::init()
{
    setLanguage(QStringLiteral("zh_CN"));
    QSettings(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark")).clear();
    m_tmp = std::make_unique<QTemporaryDir>();
    m_dir = m_tmp->path() + QStringLiteral("/ds");
    m_images = makeSquareImages(m_dir, 4);
    QCOMPARE(m_images.size(), 4);
    m_server = new FakeOpenAiServer(this);
    QVERIFY(m_server->listen());
    m_server->setAnswerFor("/v1/models", modelsAnswer());
    storeServer(m_server->baseUrl());
}

void TestWindowAutoLabel::cleanup()
{
    m_finished.reset();
    m_window.reset();
    delete m_server;
    m_server = nullptr;
    m_tmp.reset();
}

bool TestWindowAutoLabel::startRun(int scope, bool pending)
{
    if (!m_finished)
        m_finished = std::make_unique<QSignalSpy>(m_window->client(), &VllmClient::taskFinished);
    DialogAnswer answer;
    answer.scope = scope;
    answer.pending = pending;
    const DialogAnswerer answerer = answerAutoLabelDialog(answer);
    m_window->actions().autoLabel->trigger();
    return answerer.seen();
}

bool TestWindowAutoLabel::waitForRunEnd(int runs)
{
    return QTest::qWaitFor([&] { return m_finished && m_finished->count() >= runs; }, 15000);
}

QString TestWindowAutoLabel::toastText() const
{
    return m_window->toast()->text();
}

void TestWindowAutoLabel::onScreenResultsAreOneStep_data()
{
    QTest::addColumn<bool>("confirm");
    QTest::newRow("confirm all") << true;
    QTest::newRow("reject all") << false;
}

// The image on screen receives the run's results as pending shapes in one undo step; confirming
// or rejecting all of them afterwards is one more step, and undo brings the pending shapes back.
void TestWindowAutoLabel::onScreenResultsAreOneStep()
{
    QFETCH(bool, confirm);
    m_server->enqueue(detections({{QStringLiteral("cat"), QRectF(100, 100, 200, 200), 0.9},
                                  {QStringLiteral("dog"), QRectF(400, 100, 200, 200), 0.8},
                                  {QStringLiteral("bird"), QRectF(100, 500, 200, 200), 0.7}}));
    m_window = openWindow(m_dir, m_images);
    QVERIFY(m_window);
    QVERIFY(startRun(CurrentImage, true));
    QVERIFY(waitForRunEnd());

    AnnotationScene *scene = m_window->scene();
    QCOMPARE(labelsOf(scene->annotations()), (QStringList{"cat", "dog", "bird"}));
    QCOMPARE(scene->pendingCount(), 3);
    QCOMPARE(scene->annotations().at(1).rect, QRectF(400, 100, 200, 200));
    QUndoStack *undo = m_window->editor()->undoStack();
    QCOMPARE(undo->count(), 1);
    QCOMPARE(undo->text(0), QStringLiteral("AI 插入 3 个标注"));
    QCOMPARE(undo->command(0)->childCount(), 3);
    QCOMPARE(undo->command(0)->child(0)->text(), QStringLiteral("AI 插入标注"));
    QVERIFY(!hasLabelFiles(m_images.at(0)));
    QVERIFY(m_window->categories()->labels().contains(QStringLiteral("bird")));
    QCOMPARE(m_window->statusPanel()->modelText(), QStringLiteral("模型在线"));
    QTRY_COMPARE_WITH_TIMEOUT(toastText(), QStringLiteral("完成 1 张 · 新增 3 框 · 平均置信度 0.80"), 5000);

    (confirm ? m_window->actions().confirmAll : m_window->actions().rejectAll)->trigger();
    QCOMPARE(undo->count(), 2);
    QCOMPARE(undo->text(1), confirm ? QStringLiteral("全部确认") : QStringLiteral("全部拒绝"));
    QCOMPARE(scene->pendingCount(), 0);
    QCOMPARE(scene->annotations().size(), confirm ? 3 : 0);
    QCOMPARE(toastText(), confirm ? QStringLiteral("已确认 3 个标注") : QStringLiteral("已拒绝 3 个标注"));

    m_window->actions().undo->trigger();
    QCOMPARE(scene->annotations().size(), 3);
    QCOMPARE(scene->pendingCount(), 3);
    m_window->actions().undo->trigger();
    QCOMPARE(scene->annotations().size(), 0);
}

// Results for images that are not on screen are merged into the window's cache and the pending
// file; no label file is written or changed while they are pending.
void TestWindowAutoLabel::otherImagesGoToCacheAndPendingFile()
{
    QVERIFY(writeVocBoxes(m_images.at(2), {{QStringLiteral("dog"), QRectF(700, 700, 100, 100)}}));
    const QByteArray storedVoc = readBytes(vocPath(m_images.at(2)));
    m_server->enqueue(detections({{QStringLiteral("cat"), QRectF(10, 10, 100, 100)}}));
    m_server->enqueue(detections({{QStringLiteral("cat"), QRectF(10, 10, 100, 100)},
                                  {QStringLiteral("cow"), QRectF(300, 300, 100, 100)}}));
    m_server->enqueue(detections({{QStringLiteral("cat"), QRectF(10, 10, 100, 100)}}));
    m_server->enqueue(detections({{QStringLiteral("fox"), QRectF(10, 10, 100, 100)}}));
    m_window = openWindow(m_dir, m_images);
    QVERIFY(m_window);
    QVERIFY(startRun(AllImages, true));
    QVERIFY(waitForRunEnd());
    QCOMPARE(m_server->requestsFor(kChat.toUtf8()).size(), 4);

    QCOMPARE(m_window->scene()->pendingCount(), 1);
    QCOMPARE(labelsOf(m_window->session()->cachedAnnotations(m_images.at(1))), (QStringList{"cat", "cow"}));
    QCOMPARE(pendingCount(m_window->session()->cachedAnnotations(m_images.at(1))), 2);
    QCOMPARE(labelsOf(m_window->session()->cachedAnnotations(m_images.at(2))), (QStringList{"dog", "cat"}));
    QCOMPARE(pendingCount(m_window->session()->cachedAnnotations(m_images.at(2))), 1);

    const ImageState third = m_window->session()->imageState(m_images.at(2));
    QCOMPARE(third.confirmed, 1);
    QCOMPARE(third.pending, 1);
    QListWidgetItem *row = fileRow(*m_window, m_images.at(2));
    QVERIFY(row);
    QCOMPARE(row->data(FileRole::Confirmed).toInt(), 1);
    QCOMPARE(row->data(FileRole::Pending).toInt(), 1);
    QCOMPARE(fileRow(*m_window, m_images.at(1))->data(FileRole::Pending).toInt(), 2);

    for (int i : {0, 1, 3})
        QVERIFY2(!hasLabelFiles(m_images.at(i)), qPrintable(m_images.at(i)));
    QCOMPARE(readBytes(vocPath(m_images.at(2))), storedVoc);

    // Written in the background at the end of the run.
    QTRY_COMPARE(readPendingFile(m_dir).size(), 4);
    const AnnotationCache file = readPendingFile(m_dir);
    QCOMPARE(file.value(m_images.at(0)).size(), 1);
    QCOMPARE(file.value(m_images.at(1)).size(), 2);
    QCOMPARE(labelsOf(file.value(m_images.at(2))), QStringList{"cat"});
    QCOMPARE(labelsOf(file.value(m_images.at(3))), QStringList{"fox"});
    QCOMPARE(file.value(m_images.at(1)).at(1).rect, QRectF(300, 300, 100, 100));

    // The run's categories (and those read from label files on the way) lead the label dialog's
    // list; the category rows keep their first-use order, in memory and in the settings.
    QCOMPARE(m_window->categories()->recentLabels().mid(0, 3), (QStringList{"fox", "cat", "dog"}));
    const QStringList rows = m_window->categories()->labels();
    for (const char *name : {"cat", "cow", "dog", "fox"})
        QVERIFY2(rows.contains(QLatin1String(name)), name);
    QVERIFY(rows.indexOf(QStringLiteral("cat")) < rows.indexOf(QStringLiteral("fox")));
    QCOMPARE(QSettings(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark"))
                 .value(QStringLiteral("labels"))
                 .toStringList(),
             rows);
}

void TestWindowAutoLabel::overlapFilter_data()
{
    QTest::addColumn<bool>("onScreen");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QRectF>("rect");
    QTest::addColumn<bool>("kept");
    QTest::addColumn<bool>("twice");   // the model repeats the result in its answer

    // The image holds a pending box "Cat" at (100,100)-(300,300).
    const QRectF iou075(100, 100, 200, 150);
    const QRectF iou065(100, 100, 200, 130);
    for (const bool onScreen : {true, false}) {
        const char *where = onScreen ? "on screen" : "not on screen";
        QTest::addRow("%s: same label in another case at IoU 0.75 is dropped", where)
            << onScreen << "cat" << iou075 << false << false;
        QTest::addRow("%s: another label at IoU 0.75 is kept", where) << onScreen << "dog" << iou075 << true << false;
        QTest::addRow("%s: same label at IoU 0.65 is kept", where) << onScreen << "cat" << iou065 << true << false;
        QTest::addRow("%s: a result the model repeats is kept once", where)
            << onScreen << "dog" << iou075 << true << true;
    }
}

void TestWindowAutoLabel::overlapFilter()
{
    QFETCH(bool, onScreen);
    QFETCH(QString, label);
    QFETCH(QRectF, rect);
    QFETCH(bool, kept);
    QFETCH(bool, twice);

    const QString target = m_images.at(onScreen ? 0 : 1);
    const Annotation existing = box(QStringLiteral("Cat"), QRectF(100, 100, 200, 200), 1, 0.8);
    QVERIFY(writePendingFile(m_dir, {{target, {existing}}}));

    const FakeOpenAiServer::Answer elsewhere = detections({{QStringLiteral("tree"), QRectF(600, 600, 100, 100)}});
    m_server->setDefaultAnswer(elsewhere);
    if (!onScreen)
        m_server->enqueue(elsewhere);
    m_server->enqueue(twice ? detections({{label, rect}, {label, rect}}) : detections({{label, rect}}));

    m_window = openWindow(m_dir, m_images);
    QVERIFY(m_window);
    QTRY_COMPARE(m_window->session()->imageState(target).pending, 1);
    QVERIFY(startRun(onScreen ? CurrentImage : AllImages, true));
    QVERIFY(waitForRunEnd());

    const QList<Annotation> after = onScreen ? m_window->scene()->annotations() : m_window->session()->cachedAnnotations(target);
    QCOMPARE(labelsOf(after), kept ? (QStringList{"Cat", label}) : QStringList{"Cat"});
    QCOMPARE(m_window->session()->imageState(target).pending, kept ? 2 : 1);
    if (onScreen && (!kept || twice))
        QCOMPARE(toastText(), QStringLiteral("已忽略 1 个与已有标注重叠的结果"));
    QTRY_COMPARE(readPendingFile(m_dir).value(target).size(), kept ? 2 : 1);
}

void TestWindowAutoLabel::insertAsConfirmed_data()
{
    QTest::addColumn<bool>("yolo");   // the format of the folder's label file; the setting is the other
    QTest::newRow("VOC folder, setting YOLO") << false;
    QTest::newRow("YOLO folder, setting VOC") << true;
}

// "直接写入为已确认": images not on screen get their label files at once; the image on screen
// gets confirmed shapes that are saved with the next save.
void TestWindowAutoLabel::insertAsConfirmed()
{
    QFETCH(bool, yolo);
    QSettings(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark"))
        .setValue(QStringLiteral("format"), yolo ? QStringLiteral("voc") : QStringLiteral("yolo"));
    // The folder's label file decides the format of the new ones.
    if (yolo)
        QVERIFY(saveAnnotations(m_images.at(1), {box(QStringLiteral("dog"), QRectF(700, 700, 100, 100))}, true, {}));
    else
        QVERIFY(writeVocBoxes(m_images.at(1), {{QStringLiteral("dog"), QRectF(700, 700, 100, 100)}}));
    m_server->setDefaultAnswer(detections({{QStringLiteral("cat"), QRectF(100, 200, 300, 400), 0.9}}));

    m_window = openWindow(m_dir, m_images);
    QVERIFY(m_window);
    QVERIFY(startRun(AllImages, false));
    QVERIFY(waitForRunEnd());

    for (int i = 1; i < 4; ++i) {
        const QString &image = m_images.at(i);
        const QList<Annotation> stored = loadAnnotations(image);
        const QStringList expected = i == 1 ? QStringList{"dog", "cat"} : QStringList{"cat"};
        QCOMPARE(labelsOf(stored), expected);
        QCOMPARE(stored.last().rect, QRectF(100, 200, 300, 400));
        QCOMPARE(pendingCount(m_window->session()->cachedAnnotations(image)), 0);
        QCOMPARE(m_window->session()->imageState(image).confirmed, expected.size());
    }
    const QString yoloFile = m_dir + QStringLiteral("/labels/img3.txt");
    QCOMPARE(QFileInfo::exists(yoloFile), yolo);
    QCOMPARE(QFileInfo::exists(vocPath(m_images.at(2))), !yolo);
    if (yolo)
        QVERIFY(readBytes(m_dir + QStringLiteral("/labels/classes.txt")).contains("cat"));

    // The image on screen: confirmed shapes, written by the save.
    QCOMPARE(m_window->scene()->annotations().size(), 1);
    QCOMPARE(m_window->scene()->pendingCount(), 0);
    QVERIFY(!hasLabelFiles(m_images.at(0)));
    QVERIFY(m_window->isDirty());
    m_window->actions().save->trigger();
    QCOMPARE(labelsOf(loadAnnotations(m_images.at(0))), QStringList{"cat"});
    QVERIFY(readPendingFile(m_dir).isEmpty());
}

// While the run goes the pending file already holds what arrived; cancelling keeps all of it.
void TestWindowAutoLabel::pendingFileMidRunThenCancel()
{
    m_server->enqueue(detections({{QStringLiteral("cat"), QRectF(10, 10, 100, 100)}}));
    m_server->enqueue(detections({{QStringLiteral("dog"), QRectF(10, 10, 100, 100)}}));
    m_server->setDefaultAnswer(FakeOpenAiServer::neverAnswer());
    m_window = openWindow(m_dir, m_images);
    QVERIFY(m_window);
    QVERIFY(startRun(AllImages, true));
    QTRY_COMPARE(m_server->requestsFor(kChat.toUtf8()).size(), 3);

    QCOMPARE(m_window->statusPanel()->modelText(), QStringLiteral("推理中"));
    QVERIFY(m_window->progressCard()->isVisible());
    QCOMPARE(m_window->progressCard()->countText(), QStringLiteral("2 / 4"));
    QTRY_VERIFY(readPendingFile(m_dir).contains(m_images.at(1)));
    QCOMPARE(labelsOf(readPendingFile(m_dir).value(m_images.at(1))), QStringList{"dog"});

    QPushButton *cancel = progressButton(*m_window, "取消");
    QVERIFY(cancel);
    QTest::mouseClick(cancel, Qt::LeftButton);
    QVERIFY(waitForRunEnd());
    QCOMPARE(m_finished->first().at(0).value<TaskSummary>().cancelled, true);
    QCOMPARE(m_server->requestsFor(kChat.toUtf8()).size(), 3);

    QCOMPARE(labelsOf(m_window->scene()->annotations()), QStringList{"cat"});
    QCOMPARE(labelsOf(m_window->session()->cachedAnnotations(m_images.at(1))), QStringList{"dog"});
    for (int i : {2, 3}) {
        QCOMPARE(m_window->session()->imageState(m_images.at(i)).pending, 0);
        QVERIFY(!fileRow(*m_window, m_images.at(i))->data(FileRole::Failed).toBool());
    }
    QTRY_COMPARE(readPendingFile(m_dir).size(), 2);
    const AnnotationCache file = readPendingFile(m_dir);
    QCOMPARE(labelsOf(file.value(m_images.at(0))), QStringList{"cat"});
    QCOMPARE(m_window->statusPanel()->modelText(), QStringLiteral("模型在线"));
    // The image whose request was aborted counts as done, the one never sent does not.
    QTRY_COMPARE_WITH_TIMEOUT(toastText(), QStringLiteral("已取消（完成 3/4 张）"), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->progressCard()->isVisible(), 5000);
}

// The run goes on when the user opens another folder; its results stay with their own folder.
void TestWindowAutoLabel::anotherFolderOpenedDuringRun()
{
    const QString other = m_tmp->path() + QStringLiteral("/other");
    const QStringList otherImages = makeSquareImages(other, 2);
    QCOMPARE(otherImages.size(), 2);
    m_server->enqueue(detections({{QStringLiteral("cat"), QRectF(10, 10, 100, 100)}}));
    m_server->enqueue(detections({{QStringLiteral("dog"), QRectF(10, 10, 100, 100)}}, 500));
    m_server->setDefaultAnswer(detections({{QStringLiteral("fox"), QRectF(10, 10, 100, 100)}}));
    m_window = openWindow(m_dir, m_images);
    QVERIFY(m_window);
    QVERIFY(startRun(AllImages, true));
    QTRY_COMPARE(m_server->requestsFor(kChat.toUtf8()).size(), 2);

    m_window->openDirectory(other);
    QTRY_COMPARE(m_window->currentImagePath(), otherImages.first());
    QVERIFY(waitForRunEnd());

    const AnnotationCache own = readPendingFile(m_dir);
    QCOMPARE(own.size(), 4);
    QCOMPARE(labelsOf(own.value(m_images.at(0))), QStringList{"cat"});
    QCOMPARE(labelsOf(own.value(m_images.at(1))), QStringList{"dog"});
    QCOMPARE(labelsOf(own.value(m_images.at(3))), QStringList{"fox"});
    const AnnotationCache shown = readPendingFile(other);
    QVERIFY2(shown.isEmpty(), qPrintable(shown.keys().join(QLatin1Char(' '))));
    QCOMPARE(m_window->session()->imagePaths(), otherImages);
    for (const QString &image : std::as_const(m_images))
        QVERIFY(!m_window->session()->hasCachedAnnotations(image));

    // Back in the first folder, the results are there as pending shapes.
    m_window->openDirectory(m_dir);
    QTRY_COMPARE(m_window->currentImagePath(), m_images.first());
    QCOMPARE(labelsOf(m_window->scene()->annotations()), QStringList{"cat"});
    QTRY_COMPARE(m_window->session()->imageState(m_images.at(2)).pending, 1);
}

// brindlemark-cli label writes results into the folder the window holds (here the test writes the
// file as it would): they show at once, in the file list and on the image on screen, and neither
// the user's unsaved decision nor the other program's results are lost.
void TestWindowAutoLabel::anotherProgramsResultsShown()
{
    const Annotation cat = box(QStringLiteral("cat"), QRectF(10, 10, 100, 100), 1, 0.9);
    const Annotation dog = box(QStringLiteral("dog"), QRectF(300, 300, 100, 100), 1, 0.8);
    QVERIFY(writePendingFile(m_dir, {{m_images.at(0), {cat}}}));
    m_window = openWindow(m_dir, m_images);
    QVERIFY(m_window);
    QCOMPARE(m_window->scene()->pendingCount(), 1);
    m_window->actions().confirmAll->trigger();   // not saved yet
    QVERIFY(m_window->isDirty());
    const int undoIndex = m_window->editor()->undoStack()->index();

    QVERIFY(writePendingFile(m_dir, {{m_images.at(0), {cat, dog}},
                                     {m_images.at(2), {box(QStringLiteral("fox"), QRectF(1, 1, 50, 50), 1),
                                                       box(QStringLiteral("owl"), QRectF(60, 1, 50, 50), 1)}}}));
    QTRY_VERIFY(fileRow(*m_window, m_images.at(2)) && fileRow(*m_window, m_images.at(2))->data(FileRole::Pending).toInt() == 2);
    QTRY_COMPARE(m_window->scene()->pendingCount(), 1);
    QCOMPARE(m_window->scene()->confirmedCount(), 1);   // the user's cat stays confirmed
    QCOMPARE(fileRow(*m_window, m_images.at(0))->data(FileRole::Pending).toInt(), 1);
    QVERIFY(m_window->isDirty());
    QCOMPARE(m_window->editor()->undoStack()->index(), undoIndex);

    m_window->actions().save->trigger();
    QVERIFY(!m_window->isDirty());
    QCOMPARE(describePending(m_dir, readPendingFile(m_dir)), QStringLiteral("img1.png: dog; img3.png: fox owl"));
    QCOMPARE(labelsOf(loadAnnotations(m_images.at(0))), QStringList{"cat"});
}

void TestWindowAutoLabel::failedImageMarked_data()
{
    QTest::addColumn<int>("failing");
    QTest::newRow("image on screen") << 0;
    QTest::newRow("image not on screen") << 2;
}

// A failed image gets the file list's failed mark; only the one on screen says so in a toast;
// the run goes on with the next images.
void TestWindowAutoLabel::failedImageMarked()
{
    QFETCH(int, failing);
    const FakeOpenAiServer::Answer found = detections({{QStringLiteral("cat"), QRectF(10, 10, 100, 100)}});
    for (int i = 0; i < 4; ++i)
        m_server->enqueue(i == failing ? FakeOpenAiServer::status(404, "no such model") : found);
    m_window = openWindow(m_dir, m_images);
    QVERIFY(m_window);
    QVERIFY(startRun(AllImages, true));
    QVERIFY(waitForRunEnd());
    QCOMPARE(m_finished->first().at(0).value<TaskSummary>().failed, 1);

    for (int i = 0; i < 4; ++i) {
        const QString &image = m_images.at(i);
        QCOMPARE(fileRow(*m_window, image)->data(FileRole::Failed).toBool(), i == failing);
        QCOMPARE(m_window->session()->imageState(image).failed, i == failing);
        QCOMPARE(m_window->session()->imageState(image).pending, i == failing ? 0 : 1);
    }
    if (failing == 0)
        QVERIFY2(toastText().startsWith(QStringLiteral("推理失败：推理失败 (HTTP 404)")), qPrintable(toastText()));
    else
        QVERIFY2(!toastText().startsWith(QStringLiteral("推理失败")), qPrintable(toastText()));
    QTRY_COMPARE_WITH_TIMEOUT(toastText(), QStringLiteral("完成 4 张 · 新增 3 框 · 平均置信度 0.90 · 失败 1 张"), 5000);
}

void TestWindowAutoLabel::refusedWhileBusy_data()
{
    QTest::addColumn<QString>("busyWith");
    QTest::newRow("another run") << "run";
    QTest::newRow("a label check") << "check";
    QTest::newRow("a label check started while the server is probed") << "check during probe";
}

void TestWindowAutoLabel::refusedWhileBusy()
{
    QFETCH(QString, busyWith);
    QVERIFY(writeVocBoxes(m_images.at(1), {{QStringLiteral("cat"), QRectF(10, 10, 100, 100)}}));
    m_server->setDefaultAnswer(FakeOpenAiServer::neverAnswer());
    m_window = openWindow(m_dir, m_images);
    QVERIFY(m_window);
    QAction *check = m_window->actions().check;

    if (busyWith == QLatin1String("run")) {
        QVERIFY(startRun(CurrentImage, true));
        QTRY_COMPARE(m_server->requestsFor(kChat.toUtf8()).size(), 1);
    } else if (busyWith == QLatin1String("check")) {
        check->trigger();
        QTRY_COMPARE(m_server->requestsFor(kChat.toUtf8()).size(), 1);
    } else {
        // The probe before the dialog waits for the server; the user starts a check meanwhile.
        m_server->setAnswerFor("/v1/models", modelsAnswer(400));
        QTimer::singleShot(100, check, &QAction::trigger);
    }

    DialogAnswer answer;
    answer.scope = AllImages;
    const DialogAnswerer answerer = answerAutoLabelDialog(answer);
    m_window->actions().autoLabel->trigger();
    if (busyWith != QLatin1String("check during probe"))
        QVERIFY(!answerer.seen());
    QCOMPARE(toastText(), QStringLiteral("推理任务进行中，请稍后再试"));
    // Nothing of a second run started: the card still counts the first task, one image.
    QCOMPARE(m_window->progressCard()->countText(), QStringLiteral("0 / 1"));
    QTRY_COMPARE(m_server->requestsFor(kChat.toUtf8()).size(), 1);
    QVERIFY(m_window->client()->isBusy());
    m_window->client()->cancel();
}

void TestWindowAutoLabel::storedServerSettings_data()
{
    QTest::addColumn<int>("storedConcurrency");
    QTest::addColumn<int>("storedTimeout");
    QTest::addColumn<int>("concurrency");
    QTest::addColumn<int>("timeout");

    QTest::newRow("an old release's 2 and 180 read as 1 and 300") << 2 << 180 << 1 << 300;
    QTest::newRow("other values are used as stored") << 3 << 120 << 3 << 120;
}

void TestWindowAutoLabel::storedServerSettings()
{
    QFETCH(int, storedConcurrency);
    QFETCH(int, storedTimeout);
    QFETCH(int, concurrency);
    QFETCH(int, timeout);
    {
        QSettings s(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark"));
        s.setValue(QStringLiteral("model/concurrency"), storedConcurrency);
        s.setValue(QStringLiteral("model/timeout"), storedTimeout);
    }
    m_server->setDefaultAnswer(detections({{QStringLiteral("cat"), QRectF(10, 10, 100, 100)}}, 300));
    m_window = openWindow(m_dir, m_images);
    QVERIFY(m_window);
    QVERIFY(startRun(AllImages, true));
    QVERIFY(waitForRunEnd());

    QCOMPARE(m_server->maxOpenRequests(), concurrency);
    QCOMPARE(m_window->client()->serverConfig().concurrency, concurrency);
    QCOMPARE(m_window->client()->serverConfig().timeout, timeout);
    auto *dialog = m_window->findChild<AutoLabelDialog *>();
    QVERIFY(dialog);
    QCOMPARE(dialog->findChild<QSpinBox *>(QStringLiteral("concurrency"))->value(), concurrency);
    QCOMPARE(dialog->findChild<QSpinBox *>(QStringLiteral("timeout"))->value(), timeout);
    QSettings s(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark"));
    QCOMPARE(s.value(QStringLiteral("model/concurrency")).toInt(), concurrency);
    QCOMPARE(s.value(QStringLiteral("model/timeout")).toInt(), timeout);
}

void TestWindowAutoLabel::settingsDialogChanges_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("probes");

    QTest::newRow("model name only: no new probe") << "modelName" << "other-vl" << false;
    QTest::newRow("concurrency only: no new probe") << "concurrency" << "4" << false;
    QTest::newRow("address: offline until the new server answers") << "serverAddress" << "" << true;
}

// The model-settings menu opens the dialog; what changed decides whether the server is probed.
void TestWindowAutoLabel::settingsDialogChanges()
{
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(bool, probes);

    FakeOpenAiServer second;
    QVERIFY(second.listen());
    second.setAnswerFor("/v1/models", modelsAnswer(300));
    if (value.isEmpty())
        value = second.baseUrl();

    m_window = openWindow(m_dir, m_images);
    QVERIFY(m_window);
    QTRY_COMPARE(m_window->statusPanel()->modelText(), QStringLiteral("模型在线"));
    const qsizetype probesBefore = m_server->requestsFor("/v1/models").size();

    DialogAnswer answer;
    answer.settings = [field, value](AutoLabelDialog *dialog) {
        if (auto *edit = dialog->findChild<QLineEdit *>(field))
            retype(edit, value);
        else if (auto *spin = dialog->findChild<QSpinBox *>(field))
            retype(spin->findChild<QLineEdit *>(), value);
    };
    const DialogAnswerer answerer = answerAutoLabelDialog(answer);
    m_window->actions().modelSettings->trigger();
    QVERIFY(answerer.seen());

    const ServerConfig config = m_window->serverConfig();
    QSettings s(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark"));
    if (field == QLatin1String("modelName")) {
        QCOMPARE(config.model, value);
        QCOMPARE(s.value(QStringLiteral("model/name")).toString(), value);
    } else if (field == QLatin1String("concurrency")) {
        QCOMPARE(config.concurrency, value.toInt());
        QCOMPARE(s.value(QStringLiteral("model/concurrency")).toInt(), value.toInt());
    } else {
        QCOMPARE(config.baseUrl, value);
        QCOMPARE(s.value(QStringLiteral("model/base")).toString(), value);
    }
    QCOMPARE(m_window->client()->serverConfig().baseUrl, config.baseUrl);
    QCOMPARE(m_window->client()->serverConfig().model, config.model);

    if (probes) {
        QCOMPARE(m_window->statusPanel()->modelText(), QStringLiteral("模型离线"));
        QTRY_COMPARE(m_window->statusPanel()->modelText(), QStringLiteral("模型在线"));
        QCOMPARE(second.requestsFor("/v1/models").size(), 1);
        QCOMPARE(m_server->requestsFor("/v1/models").size(), probesBefore);
        return;
    }
    QCOMPARE(m_window->statusPanel()->modelText(), QStringLiteral("模型在线"));
    // A probe asked for now is the next one the server sees: none was sent on closing.
    m_window->actions().checkServer->trigger();
    QTRY_COMPARE(m_server->requestsFor("/v1/models").size(), probesBefore + 1);
    QCOMPARE(second.requestsFor("/v1/models").size(), 0);
}

// "Start" starts a run however the dialog was opened and whatever was touched on its other tab;
// Model → Model Settings opens the settings tab, the auto-label action the run tab.
void TestWindowAutoLabel::startFromEitherTab_data()
{
    QTest::addColumn<bool>("fromSettingsMenu");
    QTest::addColumn<QString>("field");   // changed on the settings tab before going back
    QTest::addColumn<QString>("value");

    QTest::newRow("auto-label action, concurrency changed") << false << "concurrency" << "3";
    QTest::newRow("auto-label action, address retyped") << false << "serverAddress" << "";
    QTest::newRow("Model Settings menu, concurrency changed") << true << "concurrency" << "3";
    QTest::newRow("Model Settings menu, nothing changed") << true << "" << "";
}

void TestWindowAutoLabel::startFromEitherTab()
{
    QFETCH(bool, fromSettingsMenu);
    QFETCH(QString, field);
    QFETCH(QString, value);
    if (field == QLatin1String("serverAddress"))
        value = m_server->baseUrl();
    for (int i = 0; i < m_images.size(); ++i)
        m_server->enqueue(detections({{QStringLiteral("cat"), QRectF(100, 100, 200, 200), 0.9}}));

    m_window = openWindow(m_dir, m_images);
    QVERIFY(m_window);
    m_finished = std::make_unique<QSignalSpy>(m_window->client(), &VllmClient::taskFinished);
    DialogAnswer answer;
    answer.thenStart = true;
    answer.settings = [field, value](AutoLabelDialog *dialog) {
        if (auto *edit = dialog->findChild<QLineEdit *>(field))
            retype(edit, value);
        else if (auto *spin = dialog->findChild<QSpinBox *>(field))
            retype(spin->findChild<QLineEdit *>(), value);
    };
    const DialogAnswerer answerer = answerAutoLabelDialog(answer);
    (fromSettingsMenu ? m_window->actions().modelSettings : m_window->actions().autoLabel)->trigger();
    QVERIFY(answerer.seen());
    QCOMPARE(answerer.tabShown(), fromSettingsMenu ? 1 : 0);

    QVERIFY2(waitForRunEnd(), "Start did not start a run");
    QCOMPARE(m_server->requestsFor(kChat.toUtf8()).size(), m_images.size());
    if (field == QLatin1String("concurrency"))
        QCOMPARE(m_window->serverConfig().concurrency, 3);

    // The auto-label action afterwards shows the run tab again.
    DialogAnswer close;
    close.button = "关闭";
    const DialogAnswerer again = answerAutoLabelDialog(close);
    m_window->actions().autoLabel->trigger();
    QVERIFY(again.seen());
    QCOMPARE(again.tabShown(), 0);
}

// vLLM answers a model name it does not serve with 404: a name the server does not list gives way
// to the one it lists, in the dialog (which says so) and in every request; a listed name stays.
void TestWindowAutoLabel::unservedModelNameReplaced_data()
{
    QTest::addColumn<QString>("configured");
    QTest::addColumn<QString>("sent");
    QTest::addColumn<bool>("noted");

    QTest::newRow("unknown name: the listed one") << "qwen-typo" << "fake-vl" << true;
    QTest::newRow("a listed name stays") << "fake-vl" << "fake-vl" << false;
}

void TestWindowAutoLabel::unservedModelNameReplaced()
{
    QFETCH(QString, configured);
    QFETCH(QString, sent);
    QFETCH(bool, noted);

    QSettings(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark"))
        .setValue(QStringLiteral("model/name"), configured);
    m_server->enqueue(detections({{QStringLiteral("cat"), QRectF(100, 100, 200, 200), 0.9}}));
    m_window = openWindow(m_dir, m_images);
    QVERIFY(m_window);

    QString note;
    QString field;
    m_finished = std::make_unique<QSignalSpy>(m_window->client(), &VllmClient::taskFinished);
    whenShown([&] {
        AutoLabelDialog *dialog = shownAutoLabelDialog();
        if (!dialog)
            return false;
        note = dialog->findChild<QLabel *>(QStringLiteral("runModelNote"))->text();
        field = dialog->findChild<QLineEdit *>(QStringLiteral("modelName"))->text();
        if (auto *scope = withText<QRadioButton>(dialog, "当前图片"))
            QTest::mouseClick(scope, Qt::LeftButton);
        QTest::mouseClick(withText<QPushButton>(dialog, "开始"), Qt::LeftButton);
        return true;
    });
    m_window->actions().autoLabel->trigger();
    QVERIFY(waitForRunEnd());
    QCOMPARE(field, sent);
    QCOMPARE(note.isEmpty(), !noted);
    if (noted)
        QCOMPARE(note, QStringLiteral("服务器没有模型 %1，改用它提供的 %2").arg(configured, sent));
    const QList<FakeOpenAiServer::Request> chats = m_server->requestsFor(kChat.toUtf8());
    QCOMPARE(chats.size(), 1);
    QCOMPARE(QJsonDocument::fromJson(chats.first().body).object().value(QStringLiteral("model")).toString(), sent);
    QCOMPARE(m_window->serverConfig().model, sent);
    QCOMPARE(QSettings(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark"))
                 .value(QStringLiteral("model/name")).toString(), sent);
}

// An image checked as background (an empty label file) has no objects: a run sends it again only
// when the user picks all images; the labelled one is left out of "unlabelled images" too.
void TestWindowAutoLabel::backgroundImagesOnlyWithAllImages_data()
{
    QTest::addColumn<int>("scope");
    QTest::addColumn<int>("sent");
    QTest::newRow("the current image, a background one") << int(CurrentImage) << 0;
    QTest::newRow("unlabelled images") << int(UnlabelledImages) << 2;
    QTest::newRow("all images") << int(AllImages) << 4;
}

void TestWindowAutoLabel::backgroundImagesOnlyWithAllImages()
{
    QFETCH(int, scope);
    QFETCH(int, sent);
    const QFileInfo first(m_images.at(0));
    QVERIFY(writeBytes(first.absolutePath() + QStringLiteral("/labels/") + first.completeBaseName() + QStringLiteral(".txt"),
                       QByteArray()));
    QVERIFY(writeVoc(m_images.at(1), {QStringLiteral("cat")}));
    for (int i = 0; i < sent; ++i)
        m_server->enqueue(detections({{QStringLiteral("cat"), QRectF(10, 10, 50, 50), 0.9}}));
    m_window = openWindow(m_dir, m_images);
    QVERIFY(m_window);
    QVERIFY(m_window->session()->imageState(m_images.at(0)).isBackground());
    QVERIFY(startRun(scope, true));
    if (sent == 0) {
        QTRY_COMPARE(toastText(), QStringLiteral("没有符合范围的目标图片"));
    } else {
        QVERIFY(waitForRunEnd());
    }
    QCOMPARE(m_server->requestsFor(kChat.toUtf8()).size(), sent);
}

BRINDLE_WINDOW_TEST_MAIN(TestWindowAutoLabel)
#include "tst_windowautolabel.moc"
