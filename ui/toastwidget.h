#pragma once

#include <QFrame>

class QGraphicsOpacityEffect;
class QLabel;
class QPropertyAnimation;
class QTimer;

// The one short message over the canvas: slides and fades in, stays, fades out. A new message
// replaces the shown one and starts its full display time again.
class ToastWidget : public QFrame
{
    Q_OBJECT
public:
    explicit ToastWidget(QWidget *parent);

    void showMessage(const QString &text);
    void showMessageLater(const QString &text, int delayMs);

    QString text() const;
    qreal opacity() const;

    // How long a message stays before it fades out (4000 ms; shorter only in tests).
    void setDisplayTime(int ms);
    int displayTime() const { return m_displayTime; }
    // Milliseconds until the fade-out starts, or -1 when none is pending.
    int remainingDisplayTime() const;
    // Widgets of the same parent the toast stays above while they are shown (the progress card,
    // the hint line), so that neither covers the other.
    void keepAbove(QWidget *widget);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void reposition();
    void fitText();

    QLabel *m_label = nullptr;
    QGraphicsOpacityEffect *m_effect = nullptr;
    QPropertyAnimation *m_slide = nullptr;
    QPropertyAnimation *m_fadeIn = nullptr;
    QPropertyAnimation *m_fadeOut = nullptr;
    QTimer *m_timer = nullptr;
    int m_displayTime = 4000;
    QList<QWidget *> m_below;
};
