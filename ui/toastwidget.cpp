#include "ui/toastwidget.h"

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPropertyAnimation>
#include <QTimer>

#include <algorithm>

ToastWidget::ToastWidget(QWidget *parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("card"));
    setAttribute(Qt::WA_TransparentForMouseEvents);

    m_label = new QLabel(this);
    m_label->setStyleSheet(
        QStringLiteral("color:#E6E9EF; font-size:12.5px; background:transparent;"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(16, 9, 16, 9);
    layout->addWidget(m_label);

    m_effect = new QGraphicsOpacityEffect(this);
    m_effect->setOpacity(0.0);
    setGraphicsEffect(m_effect);

    m_slide = new QPropertyAnimation(this, "pos", this);
    m_slide->setDuration(200);
    m_slide->setEasingCurve(QEasingCurve::OutCubic);

    m_fadeIn = new QPropertyAnimation(m_effect, "opacity", this);
    m_fadeIn->setDuration(150);
    m_fadeIn->setStartValue(0.0);
    m_fadeIn->setEndValue(1.0);

    m_fadeOut = new QPropertyAnimation(m_effect, "opacity", this);
    m_fadeOut->setDuration(300);
    m_fadeOut->setStartValue(1.0);
    m_fadeOut->setEndValue(0.0);
    connect(m_fadeOut, &QPropertyAnimation::finished, this, &QWidget::hide);

    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_fadeIn->stop();   // a very short display time must not leave both fades running
        m_fadeOut->start();
    });

    if (parent)
        parent->installEventFilter(this);
    hide();
}

void ToastWidget::showMessage(const QString &text)
{
    m_label->setText(text);
    adjustSize();
    reposition();
    raise();
    show();

    const QPoint target = pos();
    const QPoint from = target + QPoint(0, 8);
    move(from);
    m_slide->stop();
    m_slide->setStartValue(from);
    m_slide->setEndValue(target);

    m_fadeIn->stop();
    m_fadeOut->stop();
    m_slide->start();
    m_fadeIn->start();

    m_timer->start(m_displayTime);
}

void ToastWidget::showMessageLater(const QString &text, int delayMs)
{
    // The toast as context: the call is dropped if the toast goes away with its window first.
    QTimer::singleShot(std::max(delayMs, 0), this, [this, text] { showMessage(text); });
}

QString ToastWidget::text() const
{
    return m_label->text();
}

qreal ToastWidget::opacity() const
{
    return m_effect->opacity();
}

void ToastWidget::setDisplayTime(int ms)
{
    m_displayTime = std::max(ms, 0);
}

int ToastWidget::remainingDisplayTime() const
{
    return m_timer->isActive() ? m_timer->remainingTime() : -1;
}

bool ToastWidget::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize && isVisible()) {
        m_slide->stop();   // its end point belongs to the old size
        reposition();
    }
    return QFrame::eventFilter(watched, event);
}

void ToastWidget::reposition()
{
    const QWidget *host = parentWidget();
    if (!host)
        return;
    move((host->width() - width()) / 2, host->height() - height() - 36);
}
