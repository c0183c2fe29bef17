#pragma once

#include "ui/imagedecoder.h"

#include <QObject>
#include <QSize>
#include <QString>
#include <QThreadPool>

#include <atomic>

// The first image of a launch, decoded on a thread of its own while the window is still being
// built: as soon as anyone knows which image it is (the one last shown in the folder, or the
// listing's first, told on the listing's thread), it starts, from that thread. Later calls do
// nothing. The window shows the image once it has arrived.
class LaunchDecode : public QObject
{
    Q_OBJECT
public:
    explicit LaunchDecode(QObject *parent = nullptr);
    // Waits for a decode under way: its result goes nowhere.
    ~LaunchDecode() override;

    // Any thread. The first call decodes path for fitInto (the canvas area expected); later ones,
    // and calls after close(), do nothing.
    void begin(const QString &path, const QSize &fitInto);
    // Owner's thread. A decode has begun and its result has not arrived.
    bool isUnderWay() const { return m_begun.load(std::memory_order_acquire) && !m_arrived; }
    // Owner's thread. wanted is to be shown once the decode has arrived (see arrived()). The
    // first wish holds, as an image shown at once would have; forgetWanted() for another folder.
    void showWhenArrived(const QString &wanted)
    {
        if (m_wanted.isEmpty())
            m_wanted = wanted;
    }
    void forgetWanted() { m_wanted.clear(); }
    // Any thread. The launch is over: no decode begins any more; one under way still arrives.
    void close() { m_closed.store(true, std::memory_order_release); }

signals:
    // The decoded image (null if it could not be decoded) and the image wanted meanwhile, if any:
    // it need not be the same.
    void arrived(const DecodedImage &image, const QString &wanted);

private:
    void receive(const DecodedImage &image);

    std::atomic<bool> m_begun{false};
    std::atomic<bool> m_closed{false};
    bool m_arrived = false;
    QString m_wanted;
    QThreadPool m_pool;   // last: destroyed first, it waits for the decode
};
