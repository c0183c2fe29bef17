#pragma once

#include <QElapsedTimer>
#include <QFrame>

#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

// The progress card of a long run over the canvas: current file, count, bar, elapsed and
// remaining time (paused time left out), pause and cancel. Hidden 1.5 s after finish().
class ProgressOverlay : public QFrame
{
    Q_OBJECT
public:
    explicit ProgressOverlay(QWidget *parent);

    void start(int total, const QString &currentFile);
    void setProgress(int done, int total, const QString &currentFile);
    void finish();
    void retranslate();

    // Centres the card at the bottom of its parent; also done on show and on parent resize.
    void reposition();

    // "m:ss" below an hour, "h:mm:ss" from there; negative counts as 0.
    static QString formatDuration(qint64 seconds);

    // A monotonic millisecond reading replacing the built-in clock (tests drive time with it).
    void setClock(std::function<qint64()> nowMs);
    // Delay between finish() and hiding (1500 ms; shorter only in tests).
    void setHideDelay(int ms);

    bool isActive() const { return m_active; }
    bool isPaused() const { return m_paused; }
    QString titleText() const;
    QString countText() const;
    QString timeText() const;

Q_SIGNALS:
    void pauseToggled(bool paused);
    void cancelClicked();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void togglePause();
    void updateTimeText();
    qint64 clockMs() const;
    qint64 runningMs() const;

    QLabel *m_title = nullptr;
    QLabel *m_count = nullptr;
    QProgressBar *m_bar = nullptr;
    QLabel *m_time = nullptr;
    QPushButton *m_pauseButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
    QTimer *m_tick = nullptr;
    QTimer *m_hideTimer = nullptr;

    QElapsedTimer m_monotonic;
    std::function<qint64()> m_now;
    qint64 m_clockStart = 0;
    int m_done = 0;
    int m_total = 0;
    qint64 m_pausedTotal = 0;
    qint64 m_pauseStart = 0;
    bool m_active = false;
    bool m_paused = false;
};
