#include "ui/mainwindow.h"

#include "canvas/annotationscene.h"
#include "canvas/canvasview.h"
#include "checker/labelchecker.h"
#include "inference/vllmclient.h"
#include "shared/language.h"
#include "storage/annotationgeometry.h"
#include "ui/annotationeditor.h"
#include "ui/checkresultdialog.h"
#include "ui/objectlistpanel.h"
#include "ui/progressoverlay.h"
#include "ui/toastwidget.h"

#include "runfixture.h"
#include "stylesheet.h"
#include "support/annotationbuilders.h"
#include "testmain.h"
#include "windowfixture.h"

#include <QAction>
#include <QScopeGuard>
#include <QThread>
#include <QLabel>
#include <QListWidget>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QUndoStack>

#include <atomic>

using namespace RunFixture;
using namespace WindowFixture;

namespace {

const QByteArray kChat = "/v1/chat/completions";

// The stored labels of each dataset, image number (1-4) to boxes.
using Dataset = QMap<int, QList<Box>>;

Dataset dataset(const QString &name)
{
    const Box cat{QStringLiteral("cat"), QRectF(10, 10, 100, 100)};
    // Right edge 1000.6 on a 1000 wide image: outside by more than half a pixel.
    const Box carOutside{QStringLiteral("car"), QRectF(900, 100, 100.6, 100)};
    const Box car{QStringLiteral("car"), QRectF(100, 100, 100, 100)};
    const Box dog{QStringLiteral("dog"), QRectF(300, 300, 200, 200)};
    if (name == QLatin1String("unlabelled"))
        return {};
    if (name == QLatin1String("clean"))
        return {{4, {dog}}};
    if (name == QLatin1String("clean, one file cut short"))
        return {{3, {cat}}, {4, {dog}}};
    Dataset d{{1, {cat, carOutside}}, {2, {car, car}}, {4, {dog}}};
    if (name == QLatin1String("faulty with a slow image")) {
        // Forty thousand small boxes of one label take the rule half a while to read; none of
        // them is a finding.
        QList<Box> many;
        for (int r = 0; r < 200; ++r) {
            for (int c = 0; c < 200; ++c)
                many.append({QStringLiteral("cat"), QRectF(5 * c, 5 * r, 4, 4)});
        }
        d.insert(3, many);
    }
    return d;
}

// What the model says about each labelled image, in the order the check asks.
QList<FakeOpenAiServer::Answer> modelAnswers(const Dataset &d, const QString &server)
{
    QList<FakeOpenAiServer::Answer> out;
    for (auto it = d.cbegin(); it != d.cend(); ++it) {
        QList<Box> seen;
        for (Box b : it.value()) {
            b.rect &= QRectF(0, 0, kSide, kSide);
            seen.append(b);
        }
        if (server == QLatin1String("disagrees") && it.key() == 4) {
            seen = {{QStringLiteral("cat"), QRectF(300, 300, 200, 200), 0.9},
                    {QStringLiteral("car"), QRectF(600, 600, 100, 100), 0.8}};
        }
        out.append(detections(seen));
    }
    return out;
}

QString closedPortUrl()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1/v1").arg(port);
}

QTreeWidget *treeOf(CheckResultDialog *dialog)
{
    return dialog ? dialog->findChild<QTreeWidget *>() : nullptr;
}

// "file|problem" of every row, sorted: the two halves report in no fixed order.
QStringList rowsOf(CheckResultDialog *dialog)
{
    QStringList rows;
    QTreeWidget *tree = treeOf(dialog);
    for (int i = 0; tree && i < tree->topLevelItemCount(); ++i)
        rows.append(tree->topLevelItem(i)->text(0) + QLatin1Char('|') + tree->topLevelItem(i)->text(1));
    rows.sort();
    return rows;
}

QLabel *summaryLabel(CheckResultDialog *dialog)
{
    const auto labels = dialog->findChildren<QLabel *>();
    for (QLabel *label : labels) {
        if (label->text() == dialog->summaryText())
            return label;
    }
    return nullptr;
}

} // namespace

class TestWindowCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void findings_data();
    void findings();
    void dialogLifecycle();
    void refusals_data();
    void refusals();
    void cancelModelHalf();

private:
    void writeDataset(const Dataset &d);
    bool openWindow();
    CheckResultDialog *dialog() const { return m_window->findChild<CheckResultDialog *>(); }
    LabelChecker *checker() const { return m_window->findChild<LabelChecker *>(); }
    bool checkOver() const;
    QString toastText() const { return m_window->toast()->text(); }

    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_dir;
    QStringList m_images;
    FakeOpenAiServer *m_server = nullptr;
    std::unique_ptr<MainWindow> m_window;
};

void TestWindowCheck::initTestCase()
{
    QVERIFY(installSourceStyleSheet());
    registerAnnotationMetaTypes();
}

void TestWindowCheck::init()
{
    setLanguage(QStringLiteral("zh_CN"));
    QSettings settings(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark"));
    settings.clear();
    settings.setValue(QStringLiteral("labels"), QStringList{"cat", "car", "dog"});
    m_tmp = std::make_unique<QTemporaryDir>();
    m_dir = m_tmp->path() + QStringLiteral("/ds");
    m_images = makeSquareImages(m_dir, 4);
    QCOMPARE(m_images.size(), 4);
    m_server = new FakeOpenAiServer(this);
    QVERIFY(m_server->listen());
    m_server->setAnswerFor("/v1/models", modelsAnswer());
    m_server->setDefaultAnswer(FakeOpenAiServer::neverAnswer());
    storeServer(m_server->baseUrl());
}

void TestWindowCheck::cleanup()
{
    m_window.reset();
    delete m_server;
    m_server = nullptr;
    m_tmp.reset();
}

void TestWindowCheck::writeDataset(const Dataset &d)
{
    for (auto it = d.cbegin(); it != d.cend(); ++it)
        QVERIFY(writeVocBoxes(m_images.at(it.key() - 1), it.value()));
}

bool TestWindowCheck::openWindow()
{
    m_window = RunFixture::openWindow(m_dir, m_images);
    return m_window != nullptr;
}

bool TestWindowCheck::checkOver() const
{
    LabelChecker *c = checker();
    CheckResultDialog *d = dialog();
    return c && !c->isRunning() && !m_window->client()->isBusy() && m_window->actions().check->isEnabled() && d
        && d->isVisible();
}

void TestWindowCheck::findings_data()
{
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("server");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("toast");

    // The rule half looks at all four images, whatever the model half covers.
    const QStringList rules{"img1.png|越界框", "img2.png|重复框"};
    QTest::newRow("rule findings, the model agrees")
        << "faulty" << "agrees" << rules << "已检查 4 张图片，发现 2 个问题（涉及 2 张图片）" << "校验完成，共 2 个问题";
    QTest::newRow("rule and model findings")
        << "faulty" << "disagrees" << rules + QStringList{"img4.png|疑似漏标", "img4.png|类别不符"}
        << "已检查 4 张图片，发现 4 个问题（涉及 3 张图片）" << "校验完成，共 4 个问题";
    QTest::newRow("no server: every labelled image fails")
        << "faulty" << "none" << rules + QStringList{"img1.png|推理失败", "img2.png|推理失败", "img4.png|推理失败"}
        << "已检查 4 张图片，发现 5 个问题（涉及 3 张图片）" << "校验完成，共 5 个问题";
    // The toast comes when the model half ends, before the rule half has counted everything.
    QTest::newRow("no server, the rule half ends last")
        << "faulty with a slow image" << "none"
        << rules + QStringList{"img1.png|推理失败", "img2.png|推理失败", "img3.png|推理失败", "img4.png|推理失败"}
        << "已检查 4 张图片，发现 6 个问题（涉及 4 张图片）" << "";
    QTest::newRow("clean labels: the green line")
        << "clean" << "agrees" << QStringList{} << "已检查 4 张图片，发现 0 个问题（涉及 0 张图片） —— 未发现问题 ✓"
        << "校验完成，共 0 个问题";
    // The XML of img3 breaks off after its first object.
    QTest::newRow("a label file cut short")
        << "clean, one file cut short" << "agrees" << QStringList{"img3.png|无法读取标注"}
        << "已检查 4 张图片，发现 1 个问题（涉及 1 张图片）" << "校验完成，共 1 个问题";
    QTest::newRow("no labelled images: rule half only")
        << "unlabelled" << "agrees" << QStringList{}
        << "已检查 4 张图片，发现 0 个问题（涉及 0 张图片） —— 未发现问题 ✓" << "没有已标注图片，仅完成规则检查";
}

void TestWindowCheck::findings()
{
    QFETCH(QString, data);
    QFETCH(QString, server);
    QFETCH(QStringList, rows);
    QFETCH(QString, summary);
    QFETCH(QString, toast);
    rows.sort();

    const Dataset d = dataset(data);
    writeDataset(d);
    const QString cutShort = m_dir + QStringLiteral("/annotations/img3.xml");
    if (data.endsWith(QLatin1String("cut short"))) {
        QFile xml(cutShort);
        QVERIFY(xml.open(QIODevice::ReadWrite));
        const QByteArray content = xml.readAll();
        QVERIFY(content.endsWith("</annotation>") || content.endsWith("</annotation>\n"));
        QVERIFY(xml.resize(content.lastIndexOf("</annotation>")));
        QVERIFY(xml.seek(xml.size()));
        xml.write("<object><name>");
    }
    if (server == QLatin1String("none"))
        storeServer(closedPortUrl());
    else {
        for (const FakeOpenAiServer::Answer &a : modelAnswers(d, server))
            m_server->enqueue(a);
    }
    QVERIFY(openWindow());
    m_window->actions().check->trigger();
    if (!d.isEmpty()) {
        QCOMPARE(toastText(), QStringLiteral("将对 %1 张已标注图片重新推理（约 1 分钟），可随时取消").arg(d.size()));
        QVERIFY(m_window->progressCard()->isVisible());
    }
    // The slow image takes half a minute in a sanitizer build.
    QTRY_VERIFY_WITH_TIMEOUT(checkOver(), 120000);
    CheckResultDialog *dlg = dialog();
    QTRY_COMPARE(rowsOf(dlg), rows);
    QTRY_COMPARE(dlg->summaryText(), summary);
    QCOMPARE(summaryLabel(dlg)->styleSheet(), rows.isEmpty() ? QStringLiteral("color:#3FB27F;") : QString());
    QCOMPARE(dlg->windowTitle(), QStringLiteral("检查标注"));

    // Column 0 names the file and carries the full path.
    QTreeWidget *tree = treeOf(dlg);
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = tree->topLevelItem(i);
        const QString path = m_dir + QLatin1Char('/') + item->text(0);
        QCOMPARE(item->toolTip(0), path);
        QCOMPARE(item->data(0, Qt::UserRole).toString(), path);
        if (item->text(1) == QLatin1String("越界框"))
            QCOMPARE(item->text(2), QStringLiteral("第2个「car」(900,100)-(1001,200) 超出图像 1000x1000"));
        if (item->text(1) == QLatin1String("类别不符"))
            QCOMPARE(item->text(2), QStringLiteral("第1个标注为「dog」,模型识别为「cat」(IoU=1.00)"));
        if (item->text(1) == QLatin1String("无法读取标注"))
            QCOMPARE(item->text(2), cutShort + QStringLiteral(" 未能完整读取：第1行 XML 格式错误"));
        if (item->text(1) == QLatin1String("推理失败"))
            QVERIFY2(item->text(2).startsWith(QStringLiteral("推理失败 (HTTP 0)")), qPrintable(item->text(2)));
    }
    if (!toast.isEmpty())
        QTRY_COMPARE_WITH_TIMEOUT(toastText(), toast, 5000);
    // The model's detections never reach the window.
    QCOMPARE(m_window->editor()->undoStack()->count(), 0);
    QCOMPARE(m_window->session()->imageState(m_images.at(3)).pending, 0);
    QCOMPARE(m_window->cursor().shape(), Qt::ArrowCursor);
}

// Double-click opens the image; a second check empties the open dialog first; after closing,
// the next check makes a new one.
void TestWindowCheck::dialogLifecycle()
{
    writeDataset(dataset(QStringLiteral("clean")));
    m_server->enqueue(modelAnswers(dataset(QStringLiteral("clean")), QStringLiteral("agrees")).first());
    QVERIFY(openWindow());
    m_window->actions().check->trigger();
    QTRY_VERIFY(checkOver());
    QPointer<CheckResultDialog> first = dialog();
    QVERIFY(first->summaryText().endsWith(QStringLiteral(" —— 未发现问题 ✓")));

    // The user draws two identical boxes on the image shown; the model agrees with them.
    const QList<Box> twoCars = dataset(QStringLiteral("faulty")).value(2);
    for (const Box &b : twoCars)
        m_window->editor()->addShape(box(QString(), b.rect), b.label);
    QVERIFY(m_window->isDirty());
    m_server->enqueue(detections(twoCars));
    m_server->enqueue(modelAnswers(dataset(QStringLiteral("clean")), QStringLiteral("agrees")).first());
    m_window->actions().check->trigger();
    QCOMPARE(dialog(), first.data());
    QCOMPARE(first->rowCount(), 0);
    QCOMPARE(first->summaryText(), QStringLiteral("已检查 0 张图片，发现 0 个问题（涉及 0 张图片）"));
    QCOMPARE(summaryLabel(first)->styleSheet(), QString());
    QTRY_VERIFY(checkOver());
    QTRY_COMPARE(rowsOf(first), QStringList{"img1.png|重复框"});
    QCOMPARE(first->summaryText(), QStringLiteral("已检查 4 张图片，发现 1 个问题（涉及 1 张图片）"));
    QCOMPARE(m_server->requestsFor(kChat).size(), 3);

    m_window->actions().nextImage->trigger();
    QCOMPARE(m_window->currentImagePath(), m_images.at(1));
    QTreeWidget *tree = treeOf(first);
    const QRect rowRect = tree->visualItemRect(tree->topLevelItem(0));
    // A double-click as QTest spells it: the first click, then the second press as a double-click.
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, rowRect.center());
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, rowRect.center());
    QTRY_COMPARE(m_window->currentImagePath(), m_images.at(0));
    QVERIFY(first->isVisible());
    // The finding names the second car ("#2"): it is selected, its row carries that number, and
    // the window has come in front of the dialog.
    QCOMPARE(m_window->scene()->selectedIds().size(), 1);
    const uint selected = m_window->scene()->selectedId();
    QCOMPARE(m_window->editor()->savedShapeNumbers().value(selected), 2);
    const QListWidget *objects = m_window->objectPanel()->findChild<QListWidget *>(QStringLiteral("objectList"));
    QVERIFY(objects && objects->currentItem());
    QCOMPARE(objects->currentItem()->data(Qt::UserRole + 24).toInt(), 2);
    QTRY_VERIFY(m_window->isActiveWindow());
    // The dialog does not hide the shape it sent the user to.
    const std::optional<Annotation> shape = m_window->editor()->annotation(selected);
    QVERIFY(shape);
    CanvasView *view = m_window->view();
    const QRect onView = view->mapFromScene(annotationBox(*shape)).boundingRect();
    const QRect onScreen(view->viewport()->mapToGlobal(onView.topLeft()), onView.size());
    QVERIFY2(!first->frameGeometry().intersects(onScreen), qPrintable(QStringLiteral("%1,%2 %3x%4")
        .arg(first->frameGeometry().x()).arg(first->frameGeometry().y()).arg(onScreen.x()).arg(onScreen.y())));

    QPushButton *close = withText<QPushButton>(first, "关闭");
    QVERIFY(close);
    QTest::mouseClick(close, Qt::LeftButton);
    QTRY_VERIFY(first.isNull());

    m_server->enqueue(detections(twoCars));
    m_server->enqueue(modelAnswers(dataset(QStringLiteral("clean")), QStringLiteral("agrees")).first());
    m_window->actions().check->trigger();
    QTRY_VERIFY(checkOver());
    QVERIFY(dialog());
    QTRY_COMPARE(rowsOf(dialog()), QStringList{"img1.png|重复框"});
}

void TestWindowCheck::refusals_data()
{
    QTest::addColumn<QString>("busyWith");
    QTest::addColumn<QString>("toast");
    QTest::newRow("no folder open") << "nothing" << "未打开图片目录";
    QTest::newRow("an auto-label run") << "run" << "推理任务进行中，请稍后再试";
    QTest::newRow("the model half of a check") << "model half" << "";
    QTest::newRow("the rule half of a check") << "rule half" << "正在规则检查中，请稍候";
}

void TestWindowCheck::refusals()
{
    QFETCH(QString, busyWith);
    QFETCH(QString, toast);

    if (busyWith == QLatin1String("nothing")) {
        m_window = std::make_unique<MainWindow>(QString());
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        m_window->actions().check->trigger();
        QCOMPARE(toastText(), toast);
        QVERIFY(!dialog());
        QVERIFY(!checker());
        return;
    }
    if (busyWith == QLatin1String("rule half"))
        storeServer(closedPortUrl());   // the model half fails at once
    writeDataset(dataset(QStringLiteral("faulty")));
    QVERIFY(openWindow());
    QAction *check = m_window->actions().check;

    if (busyWith == QLatin1String("run")) {
        DialogAnswer answer;
        answer.scope = CurrentImage;
        const DialogAnswerer answerer = answerAutoLabelDialog(answer);
        m_window->actions().autoLabel->trigger();
        QVERIFY(answerer.seen());
        QTRY_COMPARE(m_server->requestsFor(kChat).size(), 1);
        QVERIFY(check->isEnabled());
        check->trigger();
        QCOMPARE(toastText(), toast);
        QVERIFY(!dialog());
        QVERIFY(!checker());
        QCOMPARE(m_window->progressCard()->countText(), QStringLiteral("0 / 1"));
        m_window->client()->cancel();
        return;
    }

    if (busyWith == QLatin1String("rule half")) {
        // A first check makes the checker; the second is held at its first finding, on the
        // checker's own thread, until the refusal has been seen.
        check->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(checkOver(), 60000);
        std::atomic<bool> hold{true};
        std::atomic<bool> held{false};
        const QMetaObject::Connection gate = connect(
            checker(), &LabelChecker::issueFound, checker(),
            [&hold, &held] {
                held = true;
                while (hold)
                    QThread::msleep(2);
            },
            Qt::DirectConnection);
        const auto release = qScopeGuard([&] {
            hold = false;
            disconnect(gate);
            checker()->wait();
        });
        check->trigger();
        QTRY_VERIFY(held);
        QTRY_VERIFY(!m_window->client()->isBusy());
        QVERIFY(check->isEnabled());
        QVERIFY(checker()->isRunning());
        const int rows = dialog()->rowCount();
        check->trigger();
        QCOMPARE(toastText(), toast);
        QCOMPARE(dialog()->rowCount(), rows);
        return;
    }
    check->trigger();
    if (busyWith == QLatin1String("model half")) {
        QTRY_COMPARE(m_server->requestsFor(kChat).size(), 1);
        QTRY_VERIFY(!checker()->isRunning());
        // The action is off while the model compares; a trigger does nothing.
        QVERIFY(!check->isEnabled());
        QTRY_COMPARE(dialog()->rowCount(), 2);
        check->trigger();
        QCOMPARE(dialog()->rowCount(), 2);
        QCOMPARE(m_window->progressCard()->countText(), QStringLiteral("0 / 3"));
        m_window->client()->cancel();
        return;
    }
    QFAIL("unknown row");
}

// Cancelling the model half on the progress card keeps the findings listed so far; the images
// whose requests were aborted are not reported as missed by the model.
void TestWindowCheck::cancelModelHalf()
{
    writeDataset(dataset(QStringLiteral("faulty")));
    // img1: the model sees the cat but not the car; img2's request never gets an answer.
    m_server->enqueue(detections({{QStringLiteral("cat"), QRectF(10, 10, 100, 100)}}));
    QVERIFY(openWindow());
    m_window->actions().check->trigger();
    QTRY_COMPARE(m_server->requestsFor(kChat).size(), 2);
    QTRY_VERIFY(!checker()->isRunning());

    // The rule half has ended: its cursor is gone, the dialog waits for the model half.
    QTRY_COMPARE(m_window->cursor().shape(), Qt::ArrowCursor);
    QVERIFY(!dialog()->isVisible());
    QVERIFY(!m_window->actions().check->isEnabled());
    QCOMPARE(m_window->progressCard()->countText(), QStringLiteral("1 / 3"));

    QPushButton *cancel = progressButton(*m_window, "取消");
    QVERIFY(cancel);
    QTest::mouseClick(cancel, Qt::LeftButton);
    QTRY_VERIFY(checkOver());
    QCOMPARE(m_server->requestsFor(kChat).size(), 2);
    QTRY_COMPARE(rowsOf(dialog()), (QStringList{"img1.png|模型未检出", "img1.png|越界框", "img2.png|重复框"}));
    // The rules covered all four images before the model half was cancelled.
    QCOMPARE(dialog()->summaryText(), QStringLiteral("已检查 4 张图片，发现 3 个问题（涉及 2 张图片）"));
    QTRY_COMPARE_WITH_TIMEOUT(toastText(), QStringLiteral("校验已取消"), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->progressCard()->isVisible(), 5000);
}

BRINDLE_WINDOW_TEST_MAIN(TestWindowCheck)
#include "tst_windowcheck.moc"
