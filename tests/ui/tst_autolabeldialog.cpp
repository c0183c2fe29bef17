#include "ui/autolabeldialog.h"

#include "inference/vllmclient.h"
#include "shared/language.h"

#include "../inference/fakeopenaiserver.h"
#include "stylesheet.h"
#include "testmain.h"

#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>

namespace {

template <typename T>
T *withText(QWidget *root, const QString &text)
{
    const auto widgets = root->findChildren<T *>();
    for (T *w : widgets) {
        if (w->text() == text)
            return w;
    }
    return nullptr;
}

QRadioButton *scopeButton(QWidget *dialog, int scope)
{
    static const char *texts[] = {"当前图片", "当前目录全部图片", "仅未标注图片"};
    return withText<QRadioButton>(dialog, translateText(texts[scope]));
}

void clickTab(QTabWidget *tabs, int index)
{
    QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tabs->tabBar()->tabRect(index).center());
}

} // namespace

class TestAutoLabelDialog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void defaults();
    void currentAvailability_data();
    void currentAvailability();
    void loadServerClamps_data();
    void loadServerClamps();
    void typedAddressIsTrimmed();
    void closing_data();
    void closing();
    void connectionTest_data();
    void connectionTest();
    void outsideProbeUpdatesStatus();
    void testWithoutClientDoesNothing();
    void closeDuringTestReturnsAtOnce();
    void placeholder_data();
    void placeholder();
    void cardSizeFixedAcrossTabs_data();
    void cardSizeFixedAcrossTabs();
    void retranslate();
    void render_data();
    void render();
};

void TestAutoLabelDialog::initTestCase()
{
    QVERIFY(installSourceStyleSheet());
}

void TestAutoLabelDialog::init()
{
    setLanguage(QStringLiteral("zh_CN"));
}

void TestAutoLabelDialog::defaults()
{
    AutoLabelDialog dialog(nullptr);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("自动标注"));
    QVERIFY(dialog.isModal());
    QVERIFY(dialog.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(dialog.testAttribute(Qt::WA_TranslucentBackground));

    QCOMPARE(dialog.scope(), 1);
    QVERIFY(scopeButton(&dialog, 1)->isChecked());
    QCOMPARE(dialog.categoryPrompt(), QString());
    QCOMPARE(dialog.findChild<QLineEdit *>("categoryPrompt")->placeholderText(), QStringLiteral("留空 = 使用全部历史类别"));
    QCOMPARE(dialog.threshold(), 0.4);
    auto *threshold = dialog.findChild<QDoubleSpinBox *>("threshold");
    QCOMPARE(threshold->minimum(), 0.0);
    QCOMPARE(threshold->maximum(), 1.0);
    QCOMPARE(threshold->singleStep(), 0.05);
    QCOMPARE(threshold->decimals(), 2);
    QVERIFY(dialog.insertAsPending());

    auto *concurrency = dialog.findChild<QSpinBox *>("concurrency");
    QCOMPARE(concurrency->value(), 1);
    QCOMPARE(concurrency->minimum(), 1);
    QCOMPARE(concurrency->maximum(), 8);
    QCOMPARE(concurrency->toolTip(), QStringLiteral("本地单显卡建议 1；并发会摊薄单张推理速度、易触发超时"));
    auto *timeout = dialog.findChild<QSpinBox *>("timeout");
    QCOMPARE(timeout->value(), 300);
    QCOMPARE(timeout->minimum(), 10);
    QCOMPARE(timeout->maximum(), 900);
    QCOMPARE(timeout->suffix(), QStringLiteral(" 秒"));
    QCOMPARE(dialog.testStatusText(), QStringLiteral("未测试"));
    QCOMPARE(dialog.testStatusLabel()->objectName(), QStringLiteral("dim"));

    auto *tabs = dialog.findChild<QTabWidget *>();
    QCOMPARE(tabs->count(), 2);
    QCOMPARE(tabs->tabText(0), QStringLiteral("自动标注"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("模型设置"));
    QCOMPARE(tabs->currentIndex(), 0);
    dialog.showModelTab();
    QCOMPARE(tabs->currentIndex(), 1);
    auto *card = dialog.findChild<QFrame *>("card");
    QVERIFY(card);
    QCOMPARE(card->width(), 460);
}

void TestAutoLabelDialog::currentAvailability_data()
{
    QTest::addColumn<int>("selected");
    QTest::addColumn<bool>("available");
    QTest::addColumn<int>("expected");

    QTest::newRow("current selected, image gone") << 0 << false << 1;
    QTest::newRow("current selected, image shown") << 0 << true << 0;
    QTest::newRow("unlabelled kept when image gone") << 2 << false << 2;
    QTest::newRow("all kept when image gone") << 1 << false << 1;
}

void TestAutoLabelDialog::currentAvailability()
{
    QFETCH(int, selected);
    QFETCH(bool, available);
    QFETCH(int, expected);

    AutoLabelDialog dialog(nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::mouseClick(scopeButton(&dialog, selected), Qt::LeftButton);
    QCOMPARE(dialog.scope(), selected);

    dialog.setCurrentAvailable(available);
    QCOMPARE(dialog.scope(), expected);
    QCOMPARE(scopeButton(&dialog, 0)->isEnabled(), available);

    // A disabled scope can be neither clicked nor set.
    QTest::mouseClick(scopeButton(&dialog, 0), Qt::LeftButton);
    dialog.setScope(0);
    QCOMPARE(dialog.scope(), available ? 0 : 1);
}

void TestAutoLabelDialog::loadServerClamps_data()
{
    QTest::addColumn<int>("concurrency");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<int>("shownConcurrency");
    QTest::addColumn<int>("shownTimeout");

    QTest::newRow("12 and 5 clamp to 8 and 10") << 12 << 5 << 8 << 10;
    QTest::newRow("values in range") << 3 << 120 << 3 << 120;
    QTest::newRow("zero and negative") << 0 << -4 << 1 << 10;
    QTest::newRow("negative concurrency, long time-out") << -2 << 3600 << 1 << 900;
}

void TestAutoLabelDialog::loadServerClamps()
{
    QFETCH(int, concurrency);
    QFETCH(int, timeout);
    QFETCH(int, shownConcurrency);
    QFETCH(int, shownTimeout);

    AutoLabelDialog dialog(nullptr);
    ServerConfig config;
    config.baseUrl = QStringLiteral("  http://10.0.0.5:8080/v1 \t");
    config.model = QStringLiteral(" qwen-vl ");
    config.concurrency = concurrency;
    config.timeout = timeout;
    dialog.loadServer(config);

    QCOMPARE(dialog.findChild<QSpinBox *>("concurrency")->value(), shownConcurrency);
    QCOMPARE(dialog.findChild<QSpinBox *>("timeout")->value(), shownTimeout);
    const ServerConfig read = dialog.serverConfig();
    QCOMPARE(read.baseUrl, QStringLiteral("http://10.0.0.5:8080/v1"));
    QCOMPARE(read.model, QStringLiteral("qwen-vl"));
    QCOMPARE(read.concurrency, shownConcurrency);
    QCOMPARE(read.timeout, shownTimeout);
}

void TestAutoLabelDialog::typedAddressIsTrimmed()
{
    AutoLabelDialog dialog(nullptr);
    dialog.showModelTab();
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto *address = dialog.findChild<QLineEdit *>("serverAddress");
    QTest::keyClicks(address, QStringLiteral("  http://127.0.0.1:9000/v1  "));
    auto *prompt = dialog.findChild<QLineEdit *>("categoryPrompt");
    QTest::keyClicks(prompt, QStringLiteral("  only cats and dogs "));
    QCOMPARE(dialog.serverConfig().baseUrl, QStringLiteral("http://127.0.0.1:9000/v1"));
    QCOMPARE(dialog.categoryPrompt(), QStringLiteral("only cats and dogs"));
}

void TestAutoLabelDialog::closing_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("result");

    QTest::newRow("press on the backdrop, top left") << "backdrop-corner" << int(QDialog::Rejected);
    QTest::newRow("press on the backdrop beside the card") << "backdrop-beside" << int(QDialog::Rejected);
    QTest::newRow("press on the card's own frame") << "card" << -1;
    QTest::newRow("close button of the run tab") << "close-run" << int(QDialog::Rejected);
    QTest::newRow("close button of the model tab") << "close-model" << int(QDialog::Rejected);
    QTest::newRow("start button") << "start" << int(QDialog::Accepted);
    QTest::newRow("Escape") << "escape" << int(QDialog::Rejected);
    QTest::newRow("Return in the prompt starts") << "return" << int(QDialog::Accepted);
}

void TestAutoLabelDialog::closing()
{
    QFETCH(QString, how);
    QFETCH(int, result);

    QWidget window;
    window.resize(900, 700);
    window.show();
    AutoLabelDialog dialog(nullptr, &window);
    QSignalSpy finished(&dialog, &QDialog::finished);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.geometry(), window.screen()->availableGeometry());

    auto *card = dialog.findChild<QFrame *>("card");
    auto *tabs = dialog.findChild<QTabWidget *>();
    if (how == "backdrop-corner") {
        QTest::mouseClick(&dialog, Qt::LeftButton, {}, QPoint(4, 4));
    } else if (how == "backdrop-beside") {
        QTest::mouseClick(&dialog, Qt::LeftButton, {}, QPoint(card->geometry().left() - 3, card->geometry().center().y()));
    } else if (how == "card") {
        QTest::mouseClick(card, Qt::LeftButton, {}, QPoint(card->width() - 3, card->height() / 2));
    } else if (how == "close-run" || how == "close-model") {
        const int tab = how == "close-run" ? 0 : 1;
        clickTab(tabs, tab);
        QTest::mouseClick(withText<QPushButton>(tabs->widget(tab), translateText("关闭")), Qt::LeftButton);
    } else if (how == "start") {
        QTest::mouseClick(withText<QPushButton>(&dialog, translateText("开始")), Qt::LeftButton);
    } else if (how == "escape") {
        QTest::keyClick(&dialog, Qt::Key_Escape);
    } else if (how == "return") {
        auto *prompt = dialog.findChild<QLineEdit *>("categoryPrompt");
        QTest::keyClicks(prompt, QStringLiteral("cat"));
        QTest::keyClick(prompt, Qt::Key_Return);
    }

    if (result < 0) {
        QCOMPARE(finished.count(), 0);
        QVERIFY(dialog.isVisible());
    } else {
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), result);
        QVERIFY(!dialog.isVisible());
    }
}

void TestAutoLabelDialog::connectionTest_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("expectedText");
    QTest::addColumn<QString>("expectedStyle");

    QTest::newRow("404") << "404" << "● 离线 HTTP 404" << "color:#9AA3B2;";
    QTest::newRow("500") << "500" << "● 离线 HTTP 500" << "color:#9AA3B2;";
    QTest::newRow("online with a model") << "online" << "● 在线 qwen-test" << "color:#3FB27F;";
    QTest::newRow("never answers") << "hang" << "● 测试超时（服务无响应）" << "color:#E2B93D;";
}

void TestAutoLabelDialog::connectionTest()
{
    QFETCH(QString, answer);
    QFETCH(QString, expectedText);
    QFETCH(QString, expectedStyle);

    FakeOpenAiServer server;
    QVERIFY(server.listen());
    if (answer == "404")
        server.setDefaultAnswer(FakeOpenAiServer::status(404));
    else if (answer == "500")
        server.setDefaultAnswer(FakeOpenAiServer::status(500));
    else if (answer == "online")
        server.setDefaultAnswer(FakeOpenAiServer::status(200, R"({"object":"list","data":[{"id":"qwen-test"}]})"));
    else
        server.setDefaultAnswer(FakeOpenAiServer::neverAnswer());

    VllmClient client;
    AutoLabelDialog dialog(&client);
    // Well inside the probe's own 5 s transfer time-out, so a silent server hits the dialog's limit.
    dialog.setConnectionTestTimeout(300);
    ServerConfig config;
    config.baseUrl = QStringLiteral("  ") + server.baseUrl() + QStringLiteral(" ");
    dialog.loadServer(config);
    dialog.showModelTab();
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    auto *button = dialog.findChild<QPushButton *>("testConnection");
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(dialog.testStatusText(), QStringLiteral("测试中…"));
    QVERIFY(!button->isEnabled());
    // The client now talks to the tested (trimmed) address.
    QCOMPARE(client.serverConfig().baseUrl, server.baseUrl());

    QTRY_COMPARE_WITH_TIMEOUT(dialog.testStatusText(), expectedText, 5000);
    QCOMPARE(dialog.testStatusLabel()->styleSheet(), expectedStyle);
    QVERIFY(button->isEnabled());
    QCOMPARE(server.requests().size(), 1);
    QCOMPARE(server.requests().first().path, QByteArray("/v1/models"));
}

void TestAutoLabelDialog::outsideProbeUpdatesStatus()
{
    FakeOpenAiServer server;
    QVERIFY(server.listen());
    server.setDefaultAnswer(FakeOpenAiServer::status(200, R"({"data":[{"id":"m1"}]})"));
    VllmClient client;
    ServerConfig config;
    config.baseUrl = server.baseUrl();
    client.setServerConfig(config);
    AutoLabelDialog dialog(&client);

    QSignalSpy status(&client, &VllmClient::statusChanged);
    client.probeServer();
    QVERIFY(status.wait(5000));
    QCOMPARE(dialog.testStatusText(), QStringLiteral("● 在线 m1"));
    QCOMPARE(dialog.testStatusLabel()->styleSheet(), QStringLiteral("color:#3FB27F;"));

    emit client.statusChanged(false, QStringLiteral("Connection refused"));
    QCOMPARE(dialog.testStatusText(), QStringLiteral("● 离线 Connection refused"));
    QCOMPARE(dialog.testStatusLabel()->styleSheet(), QStringLiteral("color:#9AA3B2;"));
}

void TestAutoLabelDialog::testWithoutClientDoesNothing()
{
    AutoLabelDialog dialog(nullptr);
    dialog.showModelTab();
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::mouseClick(dialog.findChild<QPushButton *>("testConnection"), Qt::LeftButton);
    QCOMPARE(dialog.testStatusText(), QStringLiteral("未测试"));
}

void TestAutoLabelDialog::closeDuringTestReturnsAtOnce()
{
    FakeOpenAiServer server;
    QVERIFY(server.listen());
    server.setDefaultAnswer(FakeOpenAiServer::neverAnswer());
    VllmClient client;
    AutoLabelDialog dialog(&client);   // the default 8 s limit
    ServerConfig config;
    config.baseUrl = server.baseUrl();
    dialog.loadServer(config);
    dialog.showModelTab();

    QTimer::singleShot(0, &dialog, [&] {
        QTest::mouseClick(dialog.findChild<QPushButton *>("testConnection"), Qt::LeftButton);
        QTimer::singleShot(50, &dialog, [&] {
            auto *tabs = dialog.findChild<QTabWidget *>();
            QTest::mouseClick(withText<QPushButton>(tabs->widget(1), translateText("关闭")), Qt::LeftButton);
        });
    });
    QElapsedTimer clock;
    clock.start();
    const int result = dialog.exec();
    // exec() must not wait for the test to run out.
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(dialog.testStatusText(), QStringLiteral("测试中…"));
    QVERIFY2(clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));
}

void TestAutoLabelDialog::placeholder_data()
{
    QTest::addColumn<QStringList>("categories");
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("expected");

    QTest::newRow("no categories") << QStringList() << "zh_CN" << "留空 = 让模型自行检测并新增类别";
    QTest::newRow("three categories") << QStringList{"cat", "dog", "car"} << "zh_CN" << "留空 = 限定使用全部 3 个类别（不新增）";
    QTest::newRow("one category") << QStringList{"cat"} << "zh_CN" << "留空 = 限定使用全部 1 个类别（不新增）";
    QTest::newRow("no categories, English") << QStringList() << "en" << "Empty = the model detects and adds categories itself";
    QTest::newRow("two categories, English") << QStringList{"a", "b"} << "en" << "Empty = only the 2 known categories (no new ones)";
}

void TestAutoLabelDialog::placeholder()
{
    QFETCH(QStringList, categories);
    QFETCH(QString, language);
    QFETCH(QString, expected);

    setLanguage(language);
    AutoLabelDialog dialog(nullptr);
    dialog.setCategoryHint(categories);
    QCOMPARE(dialog.findChild<QLineEdit *>("categoryPrompt")->placeholderText(), expected);
}

void TestAutoLabelDialog::cardSizeFixedAcrossTabs_data()
{
    QTest::addColumn<QString>("language");
    QTest::newRow("Chinese") << "zh_CN";
    QTest::newRow("English") << "en";
    QTest::newRow("Russian") << "ru";
    QTest::newRow("German") << "de";
}

void TestAutoLabelDialog::cardSizeFixedAcrossTabs()
{
    QFETCH(QString, language);
    setLanguage(language);
    applyLanguageFont();

    AutoLabelDialog dialog(nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto *card = dialog.findChild<QFrame *>("card");
    auto *tabs = dialog.findChild<QTabWidget *>();
    const QSize first = card->size();
    QCOMPARE(first.width(), 460);

    clickTab(tabs, 1);
    QCOMPARE(tabs->currentIndex(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(card->size(), first);
    clickTab(tabs, 0);
    QCoreApplication::processEvents();
    QCOMPARE(card->size(), first);

    // Neither page is squeezed below what its contents need.
    for (int i = 0; i < tabs->count(); ++i) {
        QWidget *page = tabs->widget(i);
        const int needed = page->hasHeightForWidth() ? page->heightForWidth(page->width())
                                                     : page->minimumSizeHint().height();
        QVERIFY2(page->height() >= needed, qPrintable(QStringLiteral("page %1: %2 < %3")
                                                          .arg(i).arg(page->height()).arg(needed)));
    }
    // The card sits in the middle of the backdrop.
    QVERIFY(qAbs(card->geometry().center().x() - dialog.rect().center().x()) <= 1);
    QVERIFY(qAbs(card->geometry().center().y() - dialog.rect().center().y()) <= 1);
}

void TestAutoLabelDialog::retranslate()
{
    VllmClient client;
    AutoLabelDialog dialog(&client);
    dialog.setCategoryHint({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    setLanguage(QStringLiteral("en"));
    dialog.retranslate();

    auto *tabs = dialog.findChild<QTabWidget *>();
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Auto Label"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("Model Settings"));
    QVERIFY(withText<QPushButton>(&dialog, QStringLiteral("Start")));
    QVERIFY(withText<QRadioButton>(&dialog, QStringLiteral("Unlabelled images only")));
    QVERIFY(withText<QLabel>(&dialog, QStringLiteral("Confidence threshold")));
    QCOMPARE(dialog.findChild<QSpinBox *>("timeout")->suffix(), QStringLiteral(" s"));
    QCOMPARE(dialog.testStatusText(), QStringLiteral("Not tested"));
    QCOMPARE(dialog.findChild<QLineEdit *>("categoryPrompt")->placeholderText(),
             QStringLiteral("Empty = only the 3 known categories (no new ones)"));

    // A result shown before a switch is shown again in the new language, colour kept.
    emit client.statusChanged(false, QStringLiteral("HTTP 404"));
    QCOMPARE(dialog.testStatusText(), QStringLiteral("● Offline HTTP 404"));
    setLanguage(QStringLiteral("zh_CN"));
    dialog.retranslate();
    QCOMPARE(dialog.testStatusText(), QStringLiteral("● 离线 HTTP 404"));
    QCOMPARE(dialog.testStatusLabel()->styleSheet(), QStringLiteral("color:#9AA3B2;"));
    QCOMPARE(tabs->tabText(0), QStringLiteral("自动标注"));
}

void TestAutoLabelDialog::render_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<int>("tab");
    QTest::newRow("Chinese, run tab") << "zh_CN" << 0;
    QTest::newRow("Chinese, model tab") << "zh_CN" << 1;
    QTest::newRow("English, run tab") << "en" << 0;
    QTest::newRow("English, model tab") << "en" << 1;
}

void TestAutoLabelDialog::render()
{
    QFETCH(QString, language);
    QFETCH(int, tab);
    setLanguage(language);
    applyLanguageFont();

    VllmClient client;
    AutoLabelDialog dialog(&client);
    ServerConfig config;
    dialog.loadServer(config);
    dialog.setCategoryHint({QStringLiteral("cat"), QStringLiteral("dog")});
    if (tab == 1) {
        dialog.showModelTab();
        emit client.statusChanged(false, QStringLiteral("HTTP 404"));
    }
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QImage image = dialog.grab().toImage();
    saveRender(image, QStringLiteral("autolabeldialog_%1_%2.png").arg(language).arg(tab));

    // Dimmed, see-through backdrop around an opaque card in the panel-2 colour.
    const QColor backdrop = image.pixelColor(3, 3);
    QVERIFY2(backdrop.alpha() > 100 && backdrop.alpha() < 180, qPrintable(QString::number(backdrop.alpha())));
    QCOMPARE(backdrop.red(), 0);
    auto *card = dialog.findChild<QFrame *>("card");
    const QRect cardRect = card->geometry();
    QCOMPARE(image.pixelColor(cardRect.center().x(), cardRect.top() + 3).name(), QStringLiteral("#2d323d"));
    // The header strip beside the tabs is the card too, not a differently filled tab bar.
    auto *tabs = dialog.findChild<QTabWidget *>();
    const QRect bar(tabs->tabBar()->mapTo(&dialog, QPoint(0, 0)), tabs->tabBar()->size());
    QCOMPARE(image.pixelColor(bar.left() + 4, bar.top() + 2).name(), QStringLiteral("#2d323d"));
    QCOMPARE(image.pixelColor(cardRect.right() - 8, bar.center().y()).name(), QStringLiteral("#2d323d"));
    QCOMPARE(image.pixelColor(cardRect.center()).alpha(), 255);
}

BRINDLE_TEST_MAIN(TestAutoLabelDialog)
#include "tst_autolabeldialog.moc"
