#include "ui/progressoverlay.h"

#include "shared/language.h"

#include <QEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

ProgressOverlay::ProgressOverlay(QWidget *parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("card"));
    setFixedWidth(420);
    m_monotonic.start();

    m_title = new QLabel(this);
    m_title->setStyleSheet(QStringLiteral("color:#E6E9EF; font-size:12px; background:transparent;"));
    m_count = new QLabel(this);
    m_count->setStyleSheet(QStringLiteral("color:#9AA3B2; font-size:12px; background:transparent;"));
    auto *topRow = new QHBoxLayout;
    topRow->setContentsMargins(0, 0, 0, 0);
    topRow->addWidget(m_title, 1);
    topRow->addWidget(m_count);

    m_bar = new QProgressBar(this);
    m_bar->setTextVisible(false);
    m_bar->setRange(0, 100);
    m_bar->setValue(0);

    m_time = new QLabel(this);
    m_time->setStyleSheet(QStringLiteral("color:#9AA3B2; font-size:11.5px; background:transparent;"));
    m_pauseButton = new QPushButton(this);
    m_pauseButton->setObjectName(QStringLiteral("pauseButton"));
    m_pauseButton->setCursor(Qt::PointingHandCursor);
    m_cancelButton = new QPushButton(this);
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    m_cancelButton->setCursor(Qt::PointingHandCursor);
    auto *bottomRow = new QHBoxLayout;
    bottomRow->setContentsMargins(0, 0, 0, 0);
    bottomRow->addWidget(m_time, 1);
    bottomRow->addWidget(m_pauseButton);
    bottomRow->addWidget(m_cancelButton);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(8);
    layout->addLayout(topRow);
    layout->addWidget(m_bar);
    layout->addLayout(bottomRow);

    m_tick = new QTimer(this);
    m_tick->setInterval(1000);
    connect(m_tick, &QTimer::timeout, this, &ProgressOverlay::updateTimeText);

    m_hideTimer = new QTimer(this);
    m_hideTimer->setSingleShot(true);
    m_hideTimer->setInterval(1500);
    connect(m_hideTimer, &QTimer::timeout, this, [this] {
        if (!m_active)
            hide();
    });

    connect(m_pauseButton, &QPushButton::clicked, this, &ProgressOverlay::togglePause);
    connect(m_cancelButton, &QPushButton::clicked, this, &ProgressOverlay::cancelClicked);

    if (parent)
        parent->installEventFilter(this);
    retranslate();
    hide();
}

void ProgressOverlay::start(int total, const QString &currentFile)
{
    // A pending hide from the previous run's finish() must not close this run's card.
    m_hideTimer->stop();
    m_active = true;
    m_paused = false;
    m_total = total;
    m_done = 0;
    m_pausedTotal = 0;
    m_pauseStart = 0;
    m_clockStart = clockMs();

    m_pauseButton->setText(translateText("暂停"));
    m_bar->setRange(0, std::max(total, 1));
    m_bar->setValue(0);
    setProgress(0, total, currentFile);

    m_tick->start();
    show();
    raise();
}

void ProgressOverlay::setProgress(int done, int total, const QString &currentFile)
{
    m_done = done;
    m_total = total;

    const QString name = QFileInfo(currentFile).fileName();
    m_title->ensurePolished();
    m_title->setText(QFontMetrics(m_title->font()).elidedText(name, Qt::ElideMiddle, 250));
    m_title->setToolTip(currentFile);

    m_count->setText(QStringLiteral("%1 / %2").arg(done).arg(total));
    m_bar->setRange(0, std::max(total, 1));
    m_bar->setValue(std::clamp(done, 0, std::max(total, 1)));
    updateTimeText();
    if (isVisible())
        reposition();
}

void ProgressOverlay::finish()
{
    m_active = false;
    m_tick->stop();
    m_hideTimer->start();
}

void ProgressOverlay::retranslate()
{
    m_pauseButton->setText(m_paused ? translateText("继续") : translateText("暂停"));
    m_cancelButton->setText(translateText("取消"));
    updateTimeText();
}

void ProgressOverlay::reposition()
{
    adjustSize();
    const QWidget *host = parentWidget();
    if (!host)
        return;
    move(std::max(0, (host->width() - width()) / 2), std::max(0, host->height() - height() - 24));
}

QString ProgressOverlay::formatDuration(qint64 seconds)
{
    seconds = std::max<qint64>(seconds, 0);
    const qint64 hours = seconds / 3600;
    const qint64 minutes = seconds % 3600 / 60;
    const qint64 secs = seconds % 60;
    const QLatin1Char zero('0');
    if (hours == 0)
        return QStringLiteral("%1:%2").arg(minutes).arg(secs, 2, 10, zero);
    return QStringLiteral("%1:%2:%3").arg(hours).arg(minutes, 2, 10, zero).arg(secs, 2, 10, zero);
}

void ProgressOverlay::setClock(std::function<qint64()> nowMs)
{
    m_now = std::move(nowMs);
}

void ProgressOverlay::setHideDelay(int ms)
{
    m_hideTimer->setInterval(std::max(ms, 0));
}

QString ProgressOverlay::titleText() const
{
    return m_title->text();
}

QString ProgressOverlay::countText() const
{
    return m_count->text();
}

QString ProgressOverlay::timeText() const
{
    return m_time->text();
}

bool ProgressOverlay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize && isVisible())
        reposition();
    return QFrame::eventFilter(watched, event);
}

void ProgressOverlay::showEvent(QShowEvent *event)
{
    QFrame::showEvent(event);
    // Shown again with its window while a run goes on: the clock text must keep moving.
    if (m_active && !m_paused)
        m_tick->start();
    reposition();
}

void ProgressOverlay::hideEvent(QHideEvent *event)
{
    m_tick->stop();
    QFrame::hideEvent(event);
}

void ProgressOverlay::togglePause()
{
    m_paused = !m_paused;
    m_pauseButton->setText(m_paused ? translateText("继续") : translateText("暂停"));
    if (m_paused) {
        m_pauseStart = clockMs();
        m_tick->stop();
    } else {
        m_pausedTotal += clockMs() - m_pauseStart;
        m_pauseStart = 0;
        if (m_active)
            m_tick->start();
    }
    updateTimeText();
    Q_EMIT pauseToggled(m_paused);
}

void ProgressOverlay::updateTimeText()
{
    if (!m_active)
        return;
    const qint64 run = runningMs();
    QString text = translateText("已用时 %1").arg(formatDuration(run / 1000));
    if (m_done > 0 && m_done < m_total) {
        const auto remaining = static_cast<qint64>(double(run) / m_done * (m_total - m_done));
        text += QStringLiteral(" · ") + translateText("预计剩余 %1").arg(formatDuration(remaining / 1000));
    } else if (m_total > 0 && m_done >= m_total) {
        text += QStringLiteral(" · ") + translateText("即将完成");
    }
    m_time->setText(text);
}

qint64 ProgressOverlay::clockMs() const
{
    return m_now ? m_now() : m_monotonic.elapsed();
}

// Running time of the run: the current pause counts as paused too, so a result arriving while
// paused does not make the elapsed figure jump ahead.
qint64 ProgressOverlay::runningMs() const
{
    const qint64 now = clockMs();
    const qint64 pausedNow = m_paused ? now - m_pauseStart : 0;
    return now - m_clockStart - m_pausedTotal - pausedNow;
}
