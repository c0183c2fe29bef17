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
    m_label->setAlignment(Qt::AlignCenter);
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

void ToastWidget::keepAbove(QWidget *widget)
{
    if (!widget || m_below.contains(widget))
        return;
    m_below.append(widget);
    widget->installEventFilter(this);
}

// One line when it fits the canvas, else wrapped to its width: never cut at both ends.
void ToastWidget::fitText()
{
    const QWidget *host = parentWidget();
    const QMargins margins = layout()->contentsMargins();
    const int room = host ? std::max(120, host->width() - 32 - margins.left() - margins.right()) : 600;
    m_label->ensurePolished();
    const QFontMetrics metrics = m_label->fontMetrics();
    int natural = 0;
    const QStringList lines = m_label->text().split(QLatin1Char('\n'));
    for (const QString &line : lines)
        natural = std::max(natural, metrics.horizontalAdvance(line));
    m_label->setWordWrap(natural > room);
    m_label->setFixedWidth(std::min(natural + 2, room));
    adjustSize();
}

void ToastWidget::showMessage(const QString &text)
{
    // Paths may wrap after a separator, not only at spaces.
    QString shown = text;
    shown.replace(QLatin1Char('/'), QStringLiteral("/\u200B"));
    shown.replace(QLatin1Char('\\'), QStringLiteral("\\\u200B"));
    m_label->setText(shown);
    fitText();
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
    QString text = m_label->text();
    text.remove(QChar(0x200B));
    return text;
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
    if (!isVisible())
        return QFrame::eventFilter(watched, event);
    const QEvent::Type type = event->type();
    if (watched == parentWidget() && type == QEvent::Resize) {
        m_slide->stop();   // its end point belongs to the old size
        fitText();
        reposition();
    } else if (m_below.contains(qobject_cast<QWidget *>(watched))
               && (type == QEvent::Show || type == QEvent::Hide || type == QEvent::Move || type == QEvent::Resize)) {
        m_slide->stop();
        reposition();
    }
    return QFrame::eventFilter(watched, event);
}

void ToastWidget::reposition()
{
    const QWidget *host = parentWidget();
    if (!host)
        return;
    const int x = (host->width() - width()) / 2;
    int bottom = host->height() - 36;
    const QRect span(x, 0, width(), host->height());
    for (const QWidget *other : std::as_const(m_below)) {
        if (other->isVisible() && other->geometry().intersects(span))
            bottom = std::min(bottom, other->y() - 8);
    }
    move(x, std::max(0, bottom - height()));
}
