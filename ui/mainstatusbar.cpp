#include "ui/mainstatusbar.h"

#include "shared/language.h"
#include "ui/imageadjustment.h"

#include <QComboBox>
#include <QEvent>
#include <QFont>
#include <QMouseEvent>
#include <QLabel>
#include <QStatusBar>
#include <QToolButton>

#include <cstdlib>

namespace {

const char *const kBusyStyle = "color:#E2B93D;";
const char *const kOnlineStyle = "color:#3FB27F;";
const char *const kOfflineStyle = "color:#9AA3B2;";

QLabel *addLabel(QStatusBar *bar, const QString &text, int stretch = 0)
{
    auto *label = new QLabel(text, bar);
    bar->addPermanentWidget(label, stretch);
    return label;
}

} // namespace

namespace {

// The rows of the format box.
// In formatAt's order.
QStringList formatItems()
{
    return {QStringLiteral("VOC XML"), QStringLiteral("YOLO"), QStringLiteral("labelme JSON")};
}

LabelFormat formatAt(int index)
{
    return index == 2 ? LabelFormat::Labelme : index == 1 ? LabelFormat::Yolo : LabelFormat::Voc;
}

} // namespace

MainStatusBar::MainStatusBar(QStatusBar *bar)
    : QObject(bar)
{
    bar->setFixedHeight(24);
    bar->setSizeGripEnabled(false);
    m_modelDot = addLabel(bar, QStringLiteral("●"));
    m_modelText = addLabel(bar, QString());
    m_file = addLabel(bar, QStringLiteral("--"));
    m_size = addLabel(bar, QStringLiteral("--"));
    m_zoom = addLabel(bar, QStringLiteral("100%"));
    m_adjust = new QToolButton(bar);
    m_adjust->setObjectName(QStringLiteral("adjustmentButton"));
    m_adjust->setAutoRaise(true);
    m_adjust->setCursor(Qt::PointingHandCursor);
    bar->addPermanentWidget(m_adjust);
    connect(m_adjust, &QToolButton::clicked, this, &MainStatusBar::adjustmentClicked);
    m_cursor = addLabel(bar, QStringLiteral("--"));
    m_directory = addLabel(bar, QString(), 1);
    m_directory->setMinimumWidth(120);
    m_directory->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_directory->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_directory->setToolTipDuration(-1);
    m_directory->installEventFilter(this);
    m_message = addLabel(bar, QString(), 1);
    m_message->setObjectName(QStringLiteral("statusMessage"));
    m_message->setMinimumWidth(120);
    m_message->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_message->setStyleSheet(QStringLiteral("color:#E6E9EF;"));
    m_message->hide();
    m_category = addLabel(bar, QString());
    m_category->setObjectName(QStringLiteral("statusCategory"));
    m_category->setCursor(Qt::PointingHandCursor);
    m_category->installEventFilter(this);
    m_category->hide();
    m_pending = addLabel(bar, QString());
    m_format = new QComboBox(bar);
    m_format->addItems(formatItems());
    bar->addPermanentWidget(m_format);
    m_saved = addLabel(bar, QString());
    setAdjustment(ImageAdjustment());
    connect(m_format, &QComboBox::currentIndexChanged, this, [this](int index) { emit formatChanged(formatAt(index)); });
    retranslate();
}

void MainStatusBar::setModelState(bool busy, bool online)
{
    m_model = busy ? Model::Busy : (online ? Model::Online : Model::Offline);
    retranslate();
}

void MainStatusBar::setModelChecking()
{
    m_model = Model::Checking;
    retranslate();
}

void MainStatusBar::setImageInfo(const QString &fileName, const QSize &size, int pendingCount)
{
    m_hasImage = !fileName.isEmpty();
    m_file->setText(m_hasImage ? fileName : QStringLiteral("--"));
    m_size->setText(m_hasImage && size.isValid() ? QStringLiteral("%1×%2").arg(size.width()).arg(size.height())
                                                 : QStringLiteral("--"));
    m_pending->setText(QStringLiteral("⚡ %1").arg(pendingCount));
    m_pending->setStyleSheet(QLatin1String(pendingCount > 0 ? kBusyStyle : kOfflineStyle));
}

void MainStatusBar::setZoom(int percent)
{
    m_zoom->setText(QStringLiteral("%1%").arg(percent));
}

void MainStatusBar::setAdjustment(const ImageAdjustment &adjustment)
{
    const auto percent = [](int value) {
        // A real minus sign: as wide as the plus, the readout does not jump.
        return (value < 0 ? QStringLiteral("\u2212") : QStringLiteral("+")) + QString::number(std::abs(value))
            + QLatin1Char('%');
    };
    QStringList parts;
    if (adjustment.brightness != 0 || adjustment.isDefault())
        parts << QStringLiteral("☀ ") + (adjustment.isDefault() ? QString() : percent(adjustment.brightness));
    if (adjustment.contrast != 0)
        parts << QStringLiteral("◐ ") + percent(adjustment.contrast);
    m_adjust->setText(parts.join(QLatin1Char(' ')).trimmed());
    m_adjust->setStyleSheet(QLatin1String(adjustment.isDefault()
                                              ? "QToolButton{color:#9AA3B2; padding:0px 2px; border:none;}"
                                              : "QToolButton{color:#E2B93D; padding:0px 2px; border:none;}"));
    m_adjustmentDefault = adjustment.isDefault();
    m_adjust->setVisible(!m_adjustmentDefault || m_message->isHidden());
}

QString MainStatusBar::adjustmentText() const
{
    return m_adjust->text();
}

void MainStatusBar::setCursorPixel(const QPoint &pixel, bool inside)
{
    m_cursor->setText(inside ? QStringLiteral("(%1, %2)").arg(pixel.x()).arg(pixel.y()) : QStringLiteral("--"));
}

void MainStatusBar::setDirectory(const QString &nativePath)
{
    m_directoryPath = nativePath;
    elideDirectory();
}

void MainStatusBar::setFormat(LabelFormat format)
{
    const QSignalBlocker blocker(m_format);
    // The items change only between a DOTA folder and any other.
    const bool dota = format == LabelFormat::Dota;
    if (dota != (m_format->count() == 1)) {
        m_format->clear();
        if (dota)
            m_format->addItem(QStringLiteral("DOTA"));
        else
            m_format->addItems(formatItems());
        m_format->setEnabled(!dota);
    }
    if (!dota)
        m_format->setCurrentIndex(format == LabelFormat::Labelme ? 2 : format == LabelFormat::Yolo ? 1 : 0);
}

void MainStatusBar::setDirty(bool dirty)
{
    m_dirty = dirty;
    m_saved->setText(dirty ? translateText("● 未保存") : translateText("已保存"));
    m_saved->setStyleSheet(QLatin1String(dirty ? kBusyStyle : kOnlineStyle));
}

void MainStatusBar::setCategory(const QString &label, bool dontAsk)
{
    m_categoryLabel = label;
    m_dontAsk = dontAsk;
    if (label.isEmpty()) {
        m_category->clear();
        m_category->hide();
        return;
    }
    m_category->setText(dontAsk ? translateText("类别：%1 · 不询问").arg(label) : translateText("类别：%1").arg(label));
    // Bright while shapes take it without asking, so the user does not forget it is on. A click
    // opens the chooser: underlined under the mouse (eventFilter), as the hand cursor says.
    m_category->setStyleSheet(QLatin1String(dontAsk ? "color:#E6E9EF; font-weight:600;" : "color:#9AA3B2;"));
    const QString choose = translateText("点击选择新形状的类别");
    m_category->setToolTip(dontAsk ? translateText("不询问类别，直接使用当前类别") + QLatin1Char('\n') + choose : choose);
    m_category->setVisible(m_message->isHidden());
}

QString MainStatusBar::cursorText() const
{
    return m_cursor->text();
}

QString MainStatusBar::categoryText() const
{
    return m_category->text();
}

void MainStatusBar::setMessage(const QString &text)
{
    m_message->setText(text);
    m_message->setToolTip(text);
    // The message needs the room more than the file's name, size, folder, category and results
    // count do for the few seconds it is shown; state, zoom, cursor, format and saved stay.
    const bool shown = !text.isEmpty();
    for (QWidget *room : {static_cast<QWidget *>(m_file), static_cast<QWidget *>(m_size),
                          static_cast<QWidget *>(m_directory), static_cast<QWidget *>(m_pending)})
        room->setVisible(!shown);
    m_category->setVisible(!shown && !m_categoryLabel.isEmpty());
    // A brightness or contrast that is on stays in sight; the plain "☀" gives way.
    m_adjust->setVisible(!shown || !m_adjustmentDefault);
    m_message->setVisible(shown);
}

QString MainStatusBar::message() const
{
    return m_message->text();
}

bool MainStatusBar::messageShown() const
{
    return m_message->isVisible() && m_message->width() >= m_message->fontMetrics().horizontalAdvance(m_message->text());
}

void MainStatusBar::retranslate()
{
    switch (m_model) {
    case Model::Checking:
        m_modelDot->setStyleSheet(QLatin1String(kOfflineStyle));
        m_modelText->setText(translateText("模型检测中…"));
        break;
    case Model::Busy:
        m_modelDot->setStyleSheet(QLatin1String(kBusyStyle));
        m_modelText->setText(translateText("推理中"));
        break;
    case Model::Online:
        m_modelDot->setStyleSheet(QLatin1String(kOnlineStyle));
        m_modelText->setText(translateText("模型在线"));
        break;
    case Model::Offline:
        m_modelDot->setStyleSheet(QLatin1String(kOfflineStyle));
        m_modelText->setText(translateText("模型离线"));
        break;
    }
    setDirty(m_dirty);
    setCategory(m_categoryLabel, m_dontAsk);
    elideDirectory();
    m_adjust->setToolTip(translateText("亮度和对比度：只改变显示，不改变图片文件"));
}

QString MainStatusBar::modelText() const
{
    return m_modelText->text();
}

QString MainStatusBar::savedText() const
{
    return m_saved->text();
}

QString MainStatusBar::directoryText() const
{
    return m_directory->toolTip();
}

QString MainStatusBar::pendingText() const
{
    return m_pending->text();
}

bool MainStatusBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_directory && event->type() == QEvent::Resize)
        elideDirectory();
    if (watched == m_category && (event->type() == QEvent::Enter || event->type() == QEvent::Leave)) {
        QFont font = m_category->font();
        font.setUnderline(event->type() == QEvent::Enter);
        m_category->setFont(font);
    }
    if (watched == m_category && event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton
        && m_category->rect().contains(static_cast<QMouseEvent *>(event)->position().toPoint())) {
        emit categoryClicked();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void MainStatusBar::elideDirectory()
{
    const QString text = m_directoryPath.isEmpty() ? translateText("未打开目录") : m_directoryPath;
    const int width = qMax(m_directory->width() - 8, 120);
    m_directory->setText(m_directory->fontMetrics().elidedText(text, Qt::ElideMiddle, width));
    m_directory->setToolTip(text);
}
