#pragma once

#include <QElapsedTimer>
#include <QObject>

class QTimer;

// Spaces the pending-file writes of a run so that a crash loses only the last few seconds of model
// work without rewriting the file after every image: the first change is written at once (from the
// event loop), later ones at most once per interval, and flush() writes what waits at the end.
// The owner does the writing in its slot for writeRequested. Owner's thread only.
class PendingWriteThrottle : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultIntervalMs = 3000;

    explicit PendingWriteThrottle(QObject *parent = nullptr, int intervalMs = DefaultIntervalMs);

    void markChanged();
    // Emits writeRequested now when a change has not been written yet.
    void flush();
    bool hasUnwritten() const { return m_dirty; }

signals:
    void writeRequested();

private:
    QTimer *m_timer;
    QElapsedTimer m_sinceWrite;
    int m_intervalMs;
    bool m_dirty = false;
};
