#include "ui/autolabeldialog.h"

#include "inference/vllmclient.h"
#include "shared/language.h"
#include "shared/languagefont.h"

#include "support/fakeopenaiserver.h"
#include "stylesheet.h"
#include "testmain.h"
#include "windowfixture.h"

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

Q_DECLARE_METATYPE(FakeOpenAiServer::Answer)

using WindowFixture::withText;

namespace {

QRadioButton *scopeButton(QWidget *dialog, int scope)
{
    static const char *texts[] = {"当前图片", "当前目录全部图片", "仅未标注图片"};
    return withText<QRadioButton>(dialog, texts[scope]);
}

void clickTab(QTabWidget *tabs, int index)
{
    QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tabs->tabBar()->tabRect(index).center());
}

QString placeholder(QWidget *dialog)
{
    return dialog->findChild<QLineEdit *>("categoryPrompt")->placeholderText();
}

} // namespace

class TestAutoLabelDialog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(installSourceStyleSheet()); }
    void init() { setLanguage(QStringLiteral("zh_CN")); }
    void defaults();
    void currentAvailability_data();
    void currentAvailability();
    void loadServerClamps_data();
    void loadServerClamps();
    void closing_data();
    void closing();
    void connectionTest_data();
    void connectionTest();
    void closeDuringTestReturnsAtOnce();
    void commandKeepsItsFileNames_data();
    void commandKeepsItsFileNames();
    void placeholderText_data();
    void placeholderText();
    void cardSizeFixedAcrossTabs_data();
    void cardSizeFixedAcrossTabs();
    void retranslate();
    void render_data();
    void render();
};

void TestAutoLabelDialog::defaults()
{
    AutoLabelDialog dialog(nullptr);
    QVERIFY(dialog.isModal());
    QVERIFY(!dialog.testAttribute(Qt::WA_TranslucentBackground));
    QCOMPARE(dialog.scope(), 2);   // unlabelled images only
    QCOMPARE(dialog.categoryPrompt(), QString());
    QCOMPARE(placeholder(&dialog), QStringLiteral("留空 = 使用全部历史类别"));
    QCOMPARE(dialog.threshold(), 0.4);
    QCOMPARE(dialog.findChild<QDoubleSpinBox *>("threshold")->singleStep(), 0.05);
    QVERIFY(dialog.insertAsPending());
    QCOMPARE(dialog.serverConfig().concurrency, 1);
    QCOMPARE(dialog.serverConfig().timeout, 300);
    QCOMPARE(dialog.findChild<QSpinBox *>("timeout")->suffix(), QStringLiteral(" 秒"));
    QCOMPARE(dialog.testStatusText(), QStringLiteral("未测试"));
    QCOMPARE(dialog.findChild<QFrame *>("card")->width(), 460);
    auto *tabs = dialog.findChild<QTabWidget *>();
    QCOMPARE(tabs->currentIndex(), 0);
    dialog.showModelTab();
    QCOMPARE(tabs->currentIndex(), 1);
}

void TestAutoLabelDialog::currentAvailability_data()
{
    QTest::addColumn<int>("selected");
    QTest::addColumn<bool>("available");
    QTest::addColumn<int>("expected");
    QTest::newRow("current selected, image gone") << 0 << false << 2;
    QTest::newRow("all selected, image gone") << 1 << false << 1;
    QTest::newRow("current selected, image shown") << 0 << true << 0;
    QTest::newRow("unlabelled kept when image gone") << 2 << false << 2;
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

    // A disabled scope can be neither clicked nor set.
    QTest::mouseClick(scopeButton(&dialog, 0), Qt::LeftButton);
    dialog.setScope(0);
    QCOMPARE(dialog.scope(), available ? 0 : 2);
}

void TestAutoLabelDialog::loadServerClamps_data()
{
    QTest::addColumn<int>("concurrency");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<int>("shownConcurrency");
    QTest::addColumn<int>("shownTimeout");
    QTest::newRow("12 and 5 show as 8 and 10") << 12 << 5 << 8 << 10;
    QTest::newRow("values in range") << 3 << 120 << 3 << 120;
    QTest::newRow("zero and negative") << 0 << -4 << 1 << 10;
    QTest::newRow("time-out above 900") << 2 << 3600 << 2 << 900;
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

    // Typed text is trimmed too.
    auto *address = dialog.findChild<QLineEdit *>("serverAddress");
    address->clear();
    QTest::keyClicks(address, QStringLiteral("  http://127.0.0.1:9000/v1  "));
    QCOMPARE(dialog.serverConfig().baseUrl, QStringLiteral("http://127.0.0.1:9000/v1"));
}

void TestAutoLabelDialog::closing_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("result");   // -1: stays open
    QTest::newRow("press on the backdrop") << "backdrop" << int(QDialog::Rejected);
    QTest::newRow("press just beside the card") << "beside" << int(QDialog::Rejected);
    QTest::newRow("press on the card's own frame") << "card" << -1;
    QTest::newRow("close button of the model tab") << "close" << int(QDialog::Rejected);
    QTest::newRow("Return in the prompt starts") << "return" << int(QDialog::Accepted);
}

void TestAutoLabelDialog::closing()
{
    QFETCH(QString, how);
    QFETCH(int, result);

    QWidget window;
    window.resize(900, 700);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    AutoLabelDialog dialog(nullptr, &window);
    QSignalSpy finished(&dialog, &QDialog::finished);
    dialog.show();
    QVERIFY(dialog.isVisible());
    // A part of the window it dims, following its size; not a window of its own.
    QVERIFY(!dialog.isWindow());
    QCOMPARE(dialog.geometry(), window.rect());
    window.resize(1000, 760);
    QCOMPARE(dialog.geometry(), window.rect());

    auto *card = dialog.findChild<QFrame *>("card");
    const QRect cardRect = card->geometry();
    if (how == "backdrop") {
        QTest::mouseClick(&dialog, Qt::LeftButton, {}, QPoint(4, 4));
    } else if (how == "beside") {
        QTest::mouseClick(&dialog, Qt::LeftButton, {}, QPoint(cardRect.left() - 2, cardRect.center().y()));
    } else if (how == "card") {
        QTest::mouseClick(card, Qt::LeftButton, {}, QPoint(card->width() - 2, card->height() / 2));
    } else if (how == "close") {
        auto *tabs = dialog.findChild<QTabWidget *>();
        clickTab(tabs, 1);
        QTest::mouseClick(withText<QPushButton>(tabs->widget(1), "关闭"), Qt::LeftButton);
    } else {
        auto *prompt = dialog.findChild<QLineEdit *>("categoryPrompt");
        QTest::keyClicks(prompt, QStringLiteral("cat"));
        QTest::keyClick(prompt, Qt::Key_Return);
    }
    QCOMPARE(finished.count(), result < 0 ? 0 : 1);
    if (result >= 0)
        QCOMPARE(finished.at(0).at(0).toInt(), result);
    QCOMPARE(dialog.isVisible(), result < 0);
}

void TestAutoLabelDialog::connectionTest_data()
{
    QTest::addColumn<FakeOpenAiServer::Answer>("answer");
    QTest::addColumn<QString>("expectedText");
    QTest::addColumn<QString>("expectedStyle");
    QTest::addColumn<QString>("configured");   // the model name in the field before the test
    QTest::addColumn<QString>("model");        // in the field after it
    QTest::newRow("404") << FakeOpenAiServer::status(404) << "● 离线 HTTP 404" << "color:#9AA3B2;" << "qwen" << "qwen";
    QTest::newRow("online") << FakeOpenAiServer::status(200, R"({"data":[{"id":"qwen-test"}]})")
                            << "● 在线 qwen-test" << "color:#3FB27F;" << "qwen-test" << "qwen-test";
    // vLLM refuses a name it does not serve: the field takes the one it lists, and says so.
    QTest::newRow("online, serving another model") << FakeOpenAiServer::status(200, R"({"data":[{"id":"fake-vl-7b"}]})")
                                                  << "● 在线 fake-vl-7b" << "color:#3FB27F;" << "qwen" << "fake-vl-7b";
    QTest::newRow("online, serving the configured one among others")
        << FakeOpenAiServer::status(200, R"({"data":[{"id":"a"},{"id":"qwen"}]})") << "● 在线 a" << "color:#3FB27F;"
        << "qwen" << "qwen";
    QTest::newRow("never answers") << FakeOpenAiServer::neverAnswer() << "● 测试超时（服务无响应）" << "color:#E2B93D;"
                                   << "qwen" << "qwen";
}

void TestAutoLabelDialog::connectionTest()
{
    QFETCH(FakeOpenAiServer::Answer, answer);
    QFETCH(QString, expectedText);
    QFETCH(QString, expectedStyle);
    QFETCH(QString, configured);
    QFETCH(QString, model);

    FakeOpenAiServer server;
    QVERIFY(server.listen());
    server.setDefaultAnswer(answer);
    VllmClient client;
    AutoLabelDialog dialog(&client);
    // Well inside the probe's own 5 s transfer time-out, so a silent server hits the dialog's limit.
    dialog.setConnectionTestTimeout(300);
    ServerConfig config;
    config.baseUrl = QStringLiteral("  ") + server.baseUrl();
    config.model = configured;
    dialog.loadServer(config);
    dialog.showModelTab();
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    auto *button = dialog.findChild<QPushButton *>("testConnection");
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(dialog.testStatusText(), QStringLiteral("测试中…"));
    QCOMPARE(client.serverConfig().baseUrl, server.baseUrl());   // the tested address, trimmed
    QTRY_COMPARE_WITH_TIMEOUT(dialog.testStatusText(), expectedText, 5000);
    QCOMPARE(dialog.testStatusLabel()->styleSheet(), expectedStyle);
    QVERIFY(button->isEnabled());
    QCOMPARE(server.requests().size(), 1);
    QCOMPARE(dialog.serverConfig().model, model);
    const QString note = model == configured ? QString()
                                             : QStringLiteral("服务器没有模型 %1，改用它提供的 %2").arg(configured, model);
    QCOMPARE(dialog.modelNote(), note);
    auto *noteLabel = dialog.findChild<QLabel *>(QStringLiteral("modelNote"));
    QCOMPARE(noteLabel->isVisible(), !note.isEmpty());
    QCOMPARE(noteLabel->text(), note);

    // Probes started elsewhere show up too.
    emit client.statusChanged(false, QStringLiteral("Connection refused"));
    QCOMPARE(dialog.testStatusText(), QStringLiteral("● 离线 Connection refused"));
    QCOMPARE(dialog.testStatusLabel()->styleSheet(), QStringLiteral("color:#9AA3B2;"));

    // The next use starts without the note.
    dialog.loadServer(config);
    QVERIFY(dialog.modelNote().isEmpty());
    QVERIFY(!noteLabel->isVisible());
}

// The llama-server command is a command: its file names are the same in every language.
void TestAutoLabelDialog::commandKeepsItsFileNames_data()
{
    QTest::addColumn<QString>("language");
    for (const auto &language : languageList())
        QTest::newRow(qPrintable(language.first)) << language.first;
}

void TestAutoLabelDialog::commandKeepsItsFileNames()
{
    QFETCH(QString, language);
    setLanguage(language);
    AutoLabelDialog dialog(nullptr);
    const QString hint = dialog.findChild<QLabel *>(QStringLiteral("hint"))->text();
    QVERIFY2(hint.contains(QStringLiteral("llama-server -m model.gguf --mmproj mmproj.gguf --port 8000 -ngl 99 --jinja")),
             qPrintable(hint));
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
        QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QCOMPARE(dialog.testStatusText(), QStringLiteral("测试中…"));   // exec() did not wait for the test
    QVERIFY2(clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));
}

void TestAutoLabelDialog::placeholderText_data()
{
    QTest::addColumn<QStringList>("categories");
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no categories") << QStringList() << "zh_CN" << "留空 = 让模型自行检测并新增类别";
    QTest::newRow("three categories") << QStringList{"cat", "dog", "car"} << "zh_CN" << "留空 = 限定使用全部 3 个类别（不新增）";
    QTest::newRow("no categories, English") << QStringList() << "en" << "Empty = the model detects and adds categories itself";
    QTest::newRow("two, English") << QStringList{"a", "b"} << "en" << "Empty = only the 2 known categories (no new ones)";
}

void TestAutoLabelDialog::placeholderText()
{
    QFETCH(QStringList, categories);
    QFETCH(QString, language);
    QFETCH(QString, expected);
    setLanguage(language);
    AutoLabelDialog dialog(nullptr);
    dialog.setCategoryHint(categories);
    QCOMPARE(placeholder(&dialog), expected);
}

void TestAutoLabelDialog::cardSizeFixedAcrossTabs_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("servedModel");   // empty: no note about a replaced model
    QTest::newRow("Chinese") << "zh_CN" << "";
    QTest::newRow("Russian") << "ru" << "";
    // The note grows the model page by two lines after the dialog was built.
    QTest::newRow("Russian, model replaced") << "ru" << "fake-vl-7b-instruct-served-here";
}

void TestAutoLabelDialog::cardSizeFixedAcrossTabs()
{
    QFETCH(QString, language);
    QFETCH(QString, servedModel);
    setLanguage(language);
    applyLanguageFont();

    AutoLabelDialog dialog(nullptr);
    if (!servedModel.isEmpty()) {
        ServerConfig config;
        config.model = QStringLiteral("qwen");
        dialog.loadServer(config);
        dialog.setServedModels({servedModel});
        QVERIFY(!dialog.modelNote().isEmpty());
    }
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto *card = dialog.findChild<QFrame *>("card");
    auto *tabs = dialog.findChild<QTabWidget *>();
    const QSize first = card->size();
    clickTab(tabs, 1);
    QCOMPARE(tabs->currentIndex(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(card->size(), first);

    // Neither page is squeezed below what its contents need; the card sits in the middle.
    for (int i = 0; i < tabs->count(); ++i) {
        QWidget *page = tabs->widget(i);
        const int needed = page->hasHeightForWidth() ? page->heightForWidth(page->width())
                                                     : page->minimumSizeHint().height();
        QVERIFY2(page->height() >= needed, qPrintable(QStringLiteral("page %1: %2 < %3").arg(i).arg(page->height()).arg(needed)));
    }
    QVERIFY(qAbs(card->geometry().center().y() - dialog.rect().center().y()) <= 1);
}

void TestAutoLabelDialog::retranslate()
{
    VllmClient client;
    AutoLabelDialog dialog(&client);
    dialog.setCategoryHint({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    emit client.statusChanged(false, QStringLiteral("HTTP 404"));
    setLanguage(QStringLiteral("en"));
    dialog.retranslate();

    QCOMPARE(dialog.findChild<QTabWidget *>()->tabText(1), QStringLiteral("Model Settings"));
    QVERIFY(withText<QRadioButton>(&dialog, "仅未标注图片"));   // looked up in English
    QCOMPARE(translateText("仅未标注图片"), QStringLiteral("Unlabelled images only"));
    QCOMPARE(dialog.findChild<QSpinBox *>("timeout")->suffix(), QStringLiteral(" s"));
    QCOMPARE(placeholder(&dialog), QStringLiteral("Empty = only the 3 known categories (no new ones)"));
    // The last result is shown again in the new language, in its colour.
    QCOMPARE(dialog.testStatusText(), QStringLiteral("● Offline HTTP 404"));
    QCOMPARE(dialog.testStatusLabel()->styleSheet(), QStringLiteral("color:#9AA3B2;"));
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
    // The backdrop must show the window dimmed, whatever the desktop: a light patch of the window
    // shows through it at 115/255 of its brightness.
    QWidget window;
    window.resize(900, 700);
    auto *patch = new QLabel(&window);
    patch->setStyleSheet(QStringLiteral("background: rgb(200, 200, 200);"));
    patch->setGeometry(0, 0, 40, 40);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.grab().toImage().pixelColor(3, 3), QColor(200, 200, 200));
    AutoLabelDialog dialog(&client, &window);
    dialog.loadServer(ServerConfig());
    dialog.setCategoryHint({QStringLiteral("cat"), QStringLiteral("dog")});
    if (tab == 1) {
        dialog.showModelTab();
        emit client.statusChanged(false, QStringLiteral("HTTP 404"));
    }
    dialog.show();
    const QImage image = window.grab().toImage();
    saveRender(image, QStringLiteral("autolabeldialog_%1_%2.png").arg(language).arg(tab));

    // 140/255 black over the patch's grey: about 90 each, neither black nor the grey itself.
    const QColor backdrop = image.pixelColor(3, 3);
    QVERIFY2(qAbs(backdrop.red() - 90) <= 6 && backdrop.red() == backdrop.blue(), qPrintable(backdrop.name()));
    const QRect card = dialog.findChild<QFrame *>("card")->geometry();
    QTabBar *bar = dialog.findChild<QTabWidget *>()->tabBar();
    const QPoint barLeft = bar->mapTo(&dialog, QPoint(4, 2));
    QCOMPARE(image.pixelColor(card.center().x(), card.top() + 3).name(), QStringLiteral("#2d323d"));
    QCOMPARE(image.pixelColor(barLeft).name(), QStringLiteral("#2d323d"));
    QCOMPARE(image.pixelColor(card.right() - 8, barLeft.y()).name(), QStringLiteral("#2d323d"));
}

BRINDLE_TEST_MAIN(TestAutoLabelDialog)
#include "tst_autolabeldialog.moc"
