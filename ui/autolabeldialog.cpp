#include "ui/autolabeldialog.h"

#include "shared/language.h"
#include "ui/serversettingsform.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDoubleSpinBox>
#include <QEvent>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOption>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kCardWidth = 460;

QLabel *sectionLabel(QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QStringLiteral("dim"));
    return label;
}

} // namespace

AutoLabelDialog::AutoLabelDialog(VllmClient *client, QWidget *parent)
    : QDialog(parent)
{
    setModal(true);
    // The backdrop is a child of the window it dims, drawn by that window: a translucent top-level
    // is plain black where no compositor runs (openbox, i3, remote desktops) and cannot be moved.
    if (parent) {
        setWindowFlags(Qt::Widget);
        hide();
        parent->installEventFilter(this);
    }
    // The tab bar shows the card under it, so the header strip is one colour.
    setStyleSheet(QStringLiteral("AutoLabelDialog { background: rgba(0, 0, 0, 140); } QTabBar { background: transparent; }"));

    m_card = new QFrame(this);
    m_card->setObjectName(QStringLiteral("card"));
    m_card->setFixedWidth(kCardWidth);

    m_tabs = new QTabWidget(m_card);
    m_tabs->addTab(buildRunPage(), QString());
    m_tabs->addTab(buildModelPage(client), QString());

    auto *cardLayout = new QVBoxLayout(m_card);
    cardLayout->setContentsMargins(1, 6, 1, 1);
    cardLayout->addWidget(m_tabs);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addStretch(1);
    layout->addWidget(m_card, 0, Qt::AlignHCenter);
    layout->addStretch(1);

    retranslate();
}

QWidget *AutoLabelDialog::buildRunPage()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("tabPage"));

    m_scopeTitle = sectionLabel(page);
    m_scopeCurrent = new QRadioButton(page);
    m_scopeAll = new QRadioButton(page);
    m_scopeUnlabelled = new QRadioButton(page);
    // Unlabelled first: a run over everything would send the images already done, and the
    // checked background images with them.
    m_scopeUnlabelled->setChecked(true);
    auto *scopeGroup = new QButtonGroup(this);
    scopeGroup->addButton(m_scopeCurrent);
    scopeGroup->addButton(m_scopeAll);
    scopeGroup->addButton(m_scopeUnlabelled);
    auto *scopeBox = new QVBoxLayout;
    scopeBox->setContentsMargins(0, 0, 0, 0);
    scopeBox->setSpacing(6);
    scopeBox->addWidget(m_scopeCurrent);
    scopeBox->addWidget(m_scopeAll);
    scopeBox->addWidget(m_scopeUnlabelled);

    m_promptTitle = sectionLabel(page);
    m_prompt = new QLineEdit(page);
    m_prompt->setObjectName(QStringLiteral("categoryPrompt"));

    m_threshold = new QDoubleSpinBox(page);
    m_threshold->setObjectName(QStringLiteral("threshold"));
    m_threshold->setRange(0.0, 1.0);
    m_threshold->setSingleStep(0.05);
    m_threshold->setDecimals(2);
    m_threshold->setValue(0.4);
    m_thresholdLabel = new QLabel(page);
    auto *form = new QFormLayout;
    form->setContentsMargins(0, 0, 0, 0);
    form->addRow(m_thresholdLabel, m_threshold);

    m_insertPending = new QRadioButton(page);
    m_insertConfirmed = new QRadioButton(page);
    m_insertPending->setChecked(true);
    auto *insertGroup = new QButtonGroup(this);
    insertGroup->addButton(m_insertPending);
    insertGroup->addButton(m_insertConfirmed);
    auto *insertBox = new QVBoxLayout;
    insertBox->setContentsMargins(0, 0, 0, 0);
    insertBox->setSpacing(6);
    insertBox->addWidget(m_insertPending);
    insertBox->addWidget(m_insertConfirmed);

    m_start = new QPushButton(page);
    m_start->setObjectName(QStringLiteral("primary"));
    m_start->setCursor(Qt::PointingHandCursor);
    m_start->setMinimumSize(104, 28);
    // Return in the prompt starts the run; the close buttons never take Return.
    m_start->setDefault(true);
    connect(m_start, &QPushButton::clicked, this, &QDialog::accept);
    m_closeRun = new QPushButton(page);
    m_closeRun->setMinimumSize(104, 28);
    m_closeRun->setAutoDefault(false);
    connect(m_closeRun, &QPushButton::clicked, this, &QDialog::reject);
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addStretch(1);
    buttons->addWidget(m_start);
    buttons->addWidget(m_closeRun);

    m_runModelNote = new QLabel(page);
    m_runModelNote->setObjectName(QStringLiteral("runModelNote"));
    m_runModelNote->setWordWrap(true);
    m_runModelNote->setStyleSheet(QStringLiteral("color:#E2B93D;"));
    m_runModelNote->hide();

    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(18, 16, 18, 16);
    layout->setSpacing(10);
    layout->addWidget(m_scopeTitle);
    layout->addLayout(scopeBox);
    layout->addWidget(m_promptTitle);
    layout->addWidget(m_prompt);
    layout->addLayout(form);
    layout->addLayout(insertBox);
    layout->addWidget(m_runModelNote);
    layout->addStretch(1);
    layout->addLayout(buttons);
    return page;
}

QWidget *AutoLabelDialog::buildModelPage(VllmClient *client)
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("tabPage"));

    m_server = new ServerSettingsForm(client, page);
    connect(m_server, &ServerSettingsForm::modelNoteChanged, this, &AutoLabelDialog::showModelNote);
    // Only while shown: a closed dialog's fields are loaded afresh when it opens again.
    connect(m_server, &ServerSettingsForm::serverListed, this, [this](const QStringList &served) {
        if (isVisible())
            m_server->setServedModels(served);
    });

    m_modelNote = new QLabel(page);
    m_modelNote->setObjectName(QStringLiteral("modelNote"));
    m_modelNote->setWordWrap(true);
    m_modelNote->setStyleSheet(QStringLiteral("color:#E2B93D;"));
    m_modelNote->hide();

    m_hint = new QLabel(page);
    m_hint->setObjectName(QStringLiteral("hint"));
    m_hint->setWordWrap(true);
    // The command is selectable, to paste into a terminal.
    m_hint->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_closeModel = new QPushButton(page);
    m_closeModel->setMinimumWidth(104);
    m_closeModel->setAutoDefault(false);
    connect(m_closeModel, &QPushButton::clicked, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(18, 16, 18, 16);
    layout->setSpacing(10);
    layout->addWidget(m_server);
    layout->addWidget(m_modelNote);
    layout->addWidget(m_hint);
    layout->addStretch(1);
    layout->addWidget(m_closeModel, 0, Qt::AlignRight);
    return page;
}

void AutoLabelDialog::retranslate()
{
    setWindowTitle(translateText("自动标注"));
    m_tabs->setTabText(0, translateText("自动标注"));
    m_tabs->setTabText(1, translateText("模型设置"));

    m_scopeTitle->setText(translateText("范围"));
    m_scopeCurrent->setText(translateText("当前图片"));
    m_scopeAll->setText(translateText("当前目录全部图片"));
    m_scopeUnlabelled->setText(translateText("仅未标注图片"));
    m_promptTitle->setText(translateText("类别提示词"));
    updatePlaceholder();
    m_thresholdLabel->setText(translateText("置信度阈值"));
    m_insertPending->setText(translateText("插入为 ⚡ 待确认（推荐）"));
    m_insertConfirmed->setText(translateText("直接写入为已确认"));
    m_start->setText(translateText("开始"));
    m_closeRun->setText(translateText("关闭"));

    m_server->retranslate();   // its model note comes back through showModelNote
    // File names and the command are never translated.
#ifdef Q_OS_WIN
    const QString command = QStringLiteral("tools\\llama\\llama-server.exe -m model.gguf --mmproj mmproj.gguf "
                                           "--port 8000 -ngl 99 --jinja --no-webui");
#else
    const QString command = QStringLiteral("tools/llama/llama-server -m model.gguf --mmproj mmproj.gguf "
                                           "--port 8000 -ngl 99 --jinja --no-webui");
#endif
    m_hint->setText(translateText("本地推理：由 Brindlehost 托盘程序自动拉起 llama-server（Qwen3.5-VL-2B INT4）。")
                    + QLatin1Char('\n') + translateText("手动方式：%1").arg(command));
    m_closeModel->setText(translateText("关闭"));

    fixTabHeight();
}

void AutoLabelDialog::loadServer(const ServerConfig &config)
{
    m_server->loadServer(config);
}

ServerConfig AutoLabelDialog::serverConfig() const
{
    return m_server->serverConfig();
}

void AutoLabelDialog::setCategoryHint(const QStringList &categories)
{
    m_categoryCount = int(categories.size());
    updatePlaceholder();
}

void AutoLabelDialog::updatePlaceholder()
{
    QString text;
    if (m_categoryCount < 0)
        text = translateText("留空 = 使用全部历史类别");
    else if (m_categoryCount > 0)
        text = translateText("留空 = 限定使用全部 %1 个类别（不新增）").arg(m_categoryCount);
    else
        text = translateText("留空 = 让模型自行检测并新增类别");
    m_prompt->setPlaceholderText(text);
}

void AutoLabelDialog::setCurrentAvailable(bool available)
{
    m_scopeCurrent->setEnabled(available);
    if (!available && m_scopeCurrent->isChecked())
        m_scopeUnlabelled->setChecked(true);
}

void AutoLabelDialog::setScope(int scope)
{
    // Never leave a disabled scope selected: with no image on screen it would select nothing.
    if (scope == 0 && m_scopeCurrent->isEnabled())
        m_scopeCurrent->setChecked(true);
    else if (scope == 1)
        m_scopeAll->setChecked(true);
    else
        m_scopeUnlabelled->setChecked(true);
}

int AutoLabelDialog::scope() const
{
    if (m_scopeCurrent->isChecked())
        return 0;
    if (m_scopeUnlabelled->isChecked())
        return 2;
    return 1;
}

QString AutoLabelDialog::categoryPrompt() const
{
    return m_prompt->text().trimmed();
}

double AutoLabelDialog::threshold() const
{
    return m_threshold->value();
}

bool AutoLabelDialog::insertAsPending() const
{
    return m_insertPending->isChecked();
}

void AutoLabelDialog::showModelTab()
{
    m_tabs->setCurrentIndex(1);
}

void AutoLabelDialog::showRunTab()
{
    m_tabs->setCurrentIndex(0);
}

void AutoLabelDialog::setServedModels(const QStringList &served)
{
    m_server->setServedModels(served);
}

QString AutoLabelDialog::modelNote() const
{
    return m_server->modelNote();
}

void AutoLabelDialog::showModelNote(const QString &text)
{
    for (QLabel *label : {m_runModelNote, m_modelNote}) {
        label->setText(text);
        label->setVisible(!text.isEmpty());
    }
    fixTabHeight();
}

void AutoLabelDialog::setConnectionTestTimeout(int ms)
{
    m_server->setConnectionTestTimeout(ms);
}

QLabel *AutoLabelDialog::testStatusLabel() const
{
    return m_server->testStatusLabel();
}

QString AutoLabelDialog::testStatusText() const
{
    return m_server->testStatusText();
}

// Both pages get the taller page's height, so switching tabs never resizes the card.
void AutoLabelDialog::fixTabHeight()
{
    ensurePolished();
    const QMargins margins = m_card->layout()->contentsMargins();
    const int innerWidth = kCardWidth - margins.left() - margins.right();
    int tallest = 0;
    for (int i = 0; i < m_tabs->count(); ++i) {
        QWidget *page = m_tabs->widget(i);
        const int height = page->hasHeightForWidth() ? page->heightForWidth(innerWidth) : page->sizeHint().height();
        tallest = std::max(tallest, height);
    }
    m_tabs->setFixedHeight(tallest + m_tabs->tabBar()->sizeHint().height() + 4);
}

void AutoLabelDialog::showEvent(QShowEvent *event)
{
    if (!isWindow()) {
        setGeometry(parentWidget()->rect());
        raise();
        // Keys typed in the card are the card's: the window's shortcuts (Return confirms a result,
        // Delete deletes a shape) must not act behind it.
        qApp->installEventFilter(this);
        if (!isAncestorOf(QApplication::focusWidget()))
            (m_tabs->currentIndex() == 0 ? m_prompt : m_server->firstField())->setFocus();
    }
    fixTabHeight();
    QDialog::showEvent(event);
}

void AutoLabelDialog::hideEvent(QHideEvent *event)
{
    qApp->removeEventFilter(this);
    QDialog::hideEvent(event);
}

bool AutoLabelDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize && !isWindow())
        setGeometry(parentWidget()->rect());
    if (event->type() == QEvent::ShortcutOverride && watched->isWidgetType()
        && (watched == this || isAncestorOf(static_cast<QWidget *>(watched)))) {
        event->accept();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void AutoLabelDialog::keyPressEvent(QKeyEvent *event)
{
    QDialog::keyPressEvent(event);
    event->accept();   // the window behind the backdrop gets no key the card left
}

void AutoLabelDialog::mousePressEvent(QMouseEvent *event)
{
    if (!m_card->geometry().contains(event->position().toPoint())) {
        reject();
        return;
    }
    QDialog::mousePressEvent(event);
}

// A window gets no styled background of its own; draw the backdrop from the style sheet. A child
// has it drawn already: drawing it again would dim the window twice.
void AutoLabelDialog::paintEvent(QPaintEvent *)
{
    if (!isWindow())
        return;
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}
