#include "ui/serversettingsform.h"

#include "inference/vllmclient.h"
#include "session/autolabelrun.h"
#include "shared/language.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kDefaultTestTimeoutMs = 8000;

// Error texts from the network layer can be long; the card has a fixed width, so the status
// line is elided and the whole text goes to the tool tip.
class ElidedLabel : public QLabel
{
public:
    using QLabel::QLabel;

    void setFullText(const QString &text)
    {
        m_full = text;
        setToolTip(text);
        refresh();
    }
    QString fullText() const { return m_full; }
    QSize minimumSizeHint() const override { return QSize(0, QLabel::minimumSizeHint().height()); }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QLabel::resizeEvent(event);
        refresh();
    }

private:
    void refresh()
    {
        const int available = contentsRect().width();
        setText(available > 0 ? fontMetrics().elidedText(m_full, Qt::ElideRight, available) : m_full);
    }

    QString m_full;
};

} // namespace

ServerSettingsForm::ServerSettingsForm(VllmClient *client, QWidget *parent)
    : QWidget(parent)
    , m_client(client)
{
    m_address = new QLineEdit(this);
    m_address->setObjectName(QStringLiteral("serverAddress"));
    m_model = new QLineEdit(this);
    m_model->setObjectName(QStringLiteral("modelName"));
    m_concurrency = new QSpinBox(this);
    m_concurrency->setObjectName(QStringLiteral("concurrency"));
    m_concurrency->setRange(1, 8);
    m_concurrency->setValue(1);
    m_timeout = new QSpinBox(this);
    m_timeout->setObjectName(QStringLiteral("timeout"));
    m_timeout->setRange(10, 900);
    m_timeout->setValue(300);

    m_addressLabel = new QLabel(this);
    m_modelLabel = new QLabel(this);
    m_concurrencyLabel = new QLabel(this);
    m_timeoutLabel = new QLabel(this);
    auto *form = new QFormLayout;
    form->setContentsMargins(0, 0, 0, 0);
    form->addRow(m_addressLabel, m_address);
    form->addRow(m_modelLabel, m_model);
    form->addRow(m_concurrencyLabel, m_concurrency);
    form->addRow(m_timeoutLabel, m_timeout);

    m_testButton = new QPushButton(this);
    m_testButton->setObjectName(QStringLiteral("testConnection"));
    m_testButton->setAutoDefault(false);
    connect(m_testButton, &QPushButton::clicked, this, &ServerSettingsForm::testConnection);
    m_testStatus = new ElidedLabel(this);
    m_testStatus->setObjectName(QStringLiteral("dim"));
    auto *testRow = new QHBoxLayout;
    testRow->addWidget(m_testButton);
    testRow->addWidget(m_testStatus, 1);

    // No margins of its own: it sits in the page's, as the rows under it do.
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addLayout(form);
    layout->addLayout(testRow);

    m_testTimer = new QTimer(this);
    m_testTimer->setSingleShot(true);
    m_testTimer->setInterval(kDefaultTestTimeoutMs);
    connect(m_testTimer, &QTimer::timeout, this, [this] {
        m_testState = TestState::TimedOut;
        m_testDetail.clear();
        finishTest();
    });

    // Also shows the answers of probes the window starts by itself.
    if (m_client)
        connect(m_client, &VllmClient::statusChanged, this, &ServerSettingsForm::onStatusChanged, Qt::UniqueConnection);

    retranslate();
}

void ServerSettingsForm::retranslate()
{
    m_addressLabel->setText(translateText("服务地址"));
    m_modelLabel->setText(translateText("模型名称"));
    m_concurrencyLabel->setText(translateText("并发数"));
    m_timeoutLabel->setText(translateText("推理超时"));
    m_concurrency->setToolTip(translateText("本地单显卡建议 1；并发会摊薄单张推理速度、易触发超时"));
    m_timeout->setSuffix(translateText(" 秒"));
    m_testButton->setText(translateText("测试连接"));
    showTestState();
    showModelNote();
}

void ServerSettingsForm::loadServer(const ServerConfig &config)
{
    m_address->setText(config.baseUrl);
    m_model->setText(config.model);
    // A new use: a note about an earlier replacement no longer holds.
    m_replacedModel.clear();
    showModelNote();
    m_concurrency->setValue(std::max(1, int(config.concurrency)));
    m_timeout->setValue(config.timeout);
}

ServerConfig ServerSettingsForm::serverConfig() const
{
    ServerConfig config;
    config.baseUrl = m_address->text().trimmed();
    config.model = m_model->text().trimmed();
    config.concurrency = m_concurrency->value();
    config.timeout = m_timeout->value();
    return config;
}

QWidget *ServerSettingsForm::firstField() const
{
    return m_address;
}

void ServerSettingsForm::setServedModels(const QStringList &served)
{
    const QString configured = m_model->text().trimmed();
    if (served.isEmpty())
        return;   // nothing listed: the configured name is as good as any
    const QString model = AutoLabelRun::modelToUse(configured, AutoLabelRun::ModelName::Remembered, served);
    if (model == configured)
        return;
    m_replacedModel = configured;
    m_model->setText(model);
    showModelNote();
}

void ServerSettingsForm::showModelNote()
{
    const QString model = m_model->text().trimmed();
    m_modelNoteText = m_replacedModel.isEmpty() || m_replacedModel == model
        ? QString()
        : translateText("服务器没有模型 %1，改用它提供的 %2").arg(m_replacedModel, model);
    emit modelNoteChanged(m_modelNoteText);
}

void ServerSettingsForm::setConnectionTestTimeout(int ms)
{
    m_testTimer->setInterval(std::max(0, ms));
}

QString ServerSettingsForm::testStatusText() const
{
    return static_cast<ElidedLabel *>(m_testStatus)->fullText();
}

// The test does not spin a local event loop: the dialog stays responsive, and closing it or
// the window during a test cannot return into a deleted dialog.
void ServerSettingsForm::testConnection()
{
    if (!m_client)
        return;
    const ServerConfig config = serverConfig();
    m_testState = TestState::Testing;
    m_testDetail.clear();
    showTestState();
    m_testButton->setEnabled(false);
    m_testTimer->start();
    m_client->setServerConfig(config);
    m_client->probeServer();
}

void ServerSettingsForm::onStatusChanged(bool online, const QString &detail)
{
    m_testState = online ? TestState::Online : TestState::Offline;
    m_testDetail = detail;
    finishTest();
    if (online)
        emit serverListed(m_client->servedModels());
}

void ServerSettingsForm::finishTest()
{
    m_testTimer->stop();
    m_testButton->setEnabled(true);
    showTestState();
}

void ServerSettingsForm::showTestState()
{
    QString text;
    QString style;
    switch (m_testState) {
    case TestState::Untested:
        text = translateText("未测试");
        break;
    case TestState::Testing:
        text = translateText("测试中…");
        break;
    case TestState::Online:
        text = translateText("● 在线 %1").arg(m_testDetail);
        style = QStringLiteral("color:#3FB27F;");
        break;
    case TestState::Offline:
        text = translateText("● 离线 %1").arg(m_testDetail);
        style = QStringLiteral("color:#9AA3B2;");
        break;
    case TestState::TimedOut:
        text = translateText("● 测试超时（服务无响应）");
        style = QStringLiteral("color:#E2B93D;");
        break;
    }
    static_cast<ElidedLabel *>(m_testStatus)->setFullText(text.trimmed());
    m_testStatus->setStyleSheet(style);
}
