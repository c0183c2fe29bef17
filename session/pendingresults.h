#pragma once

#include "storage/annotation.h"
#include "storage/pendingfile.h"

#include <QObject>
#include <QString>
#include <QStringList>

class LiveAnnotations;
class PendingFileLoader;
class PendingFileWriter;
class PendingWriteThrottle;
class QFileSystemWatcher;
class QTimer;

// The open folder's pending results file and keeping it in step with other programs that write it
// (brindlemark-cli label, a second window): reading it, the records read but not merged into the
// folder's cache yet, writing it from that cache (merging what another program wrote meanwhile)
// and taking in another program's changes. The folder's cache is the session's: this class adds
// and removes the records the file brings. Owner's thread only.
class PendingResults : public QObject
{
    Q_OBJECT

public:
    PendingResults(AnnotationCache *cache, QObject *parent = nullptr);

    void setLiveAnnotations(const LiveAnnotations *live) { m_live = live; }
    void preload(const QString &dir);
    // While held (a window's launch), a file too large to wait for is not read yet: its parse
    // would take a core from the first image. Released, it is read and its results join then.
    void holdLargeRead(bool hold);
    // Forgets the old folder's results (the owner flushes first) and watches dir's file.
    void reset(const QString &dir);
    // Reads the file: in the background, or at once (loaded before it returns).
    void load(bool inBackground);
    void setWatching(bool watching);
    void check();
    void waitForLoader(unsigned long ms);

    bool isLoaded() const { return m_loaded; }
    // The first image waits for the file's results: it is small enough to be read at once.
    bool firstImageWaits() const { return !m_loaded && m_waitForFile; }

    // The image on screen and its records as entered: what the next flush compares with.
    void enterImage(const QString &path, const QList<Annotation> &annotations);
    void leaveImage();
    // The label file of the image on screen now holds what the user decided: the results decided
    // since its last write may leave the file with the next flush.
    void labelsWritten(const QString &path);

    // The records of path read from the file and not merged yet; they are merged now.
    QList<Annotation> take(const QString &path) { return m_fromFile.take(path); }
    int unmergedCount(const QString &path) const { return int(m_fromFile.value(path).size()); }
    bool hasUnmerged(const QString &path) const { return m_fromFile.contains(path); }
    QStringList unmergedImages() const { return m_fromFile.keys(); }
    // Results of images no longer in the folder are not loaded; the next write drops them.
    void dropUnlisted(const QStringList &listed);
    // The image has gone: its results leave the file with the next flush. True when it had any.
    bool forget(const QString &path);

    // Something pending changed: written within a few seconds.
    void markChanged();
    // The current image's records into the cache, then the file written when something changed
    // since the last write; in the background when asked. False when a write on this thread failed.
    bool flush(bool inBackground = false);

signals:
    // Results from the file for the image already on screen; the owner adds them to it.
    void currentResultsArrived(const QList<Annotation> &records);
    // The file has been read and its results taken in.
    void loaded();
    // Images whose pending records changed through the file.
    void imagesTouched(const QStringList &paths);
    void notice(const QString &text);
    void written(bool ok);

private:
    void onLoaded(const QString &dir, const PendingFileState &state, bool readable);
    void capture();
    void startSync(bool write);
    void onSynced(const QString &dir, const PendingSync &sync);
    void apply(const PendingSync &sync);
    void watchFolder();
    AnnotationCache snapshot() const;

    AnnotationCache *m_cache;   // the session's
    const LiveAnnotations *m_live = nullptr;
    PendingFileLoader *m_loader;
    PendingFileWriter *m_writer;
    PendingWriteThrottle *m_throttle;
    QTimer *m_checkTimer;
    QFileSystemWatcher *m_watcher = nullptr;
    QString m_dir;
    QString m_currentImage;

    // Results as read from the file, for images not merged into the cache yet: an image's entry
    // is merged (label file + these) the first time the image is needed.
    AnnotationCache m_fromFile;
    bool m_loaded = false;        // the file has been read; writing it before would lose results
    bool m_waitForFile = true;    // the first image waits for the file's results
    bool m_holdLargeRead = false;
    bool m_readHeld = false;      // load() was asked for while held
    bool m_writable = true;       // false when the file exists but cannot be read
    bool m_changed = false;       // something pending changed since the last write
    // The file as this session last read or wrote it; what differs is another program's.
    PendingFileState m_base;
    // A background sync has been handed to the writer and its result not taken in yet: a second
    // one would merge against a base that is about to change.
    bool m_syncInFlight = false;
    bool m_syncWrites = false;    // the one in flight writes (else it only reads)
    QList<Annotation> m_flushed;  // the current image's records in the file at the last flush
    // Results of the image on screen that the file holds and that the user has confirmed or
    // rejected since its label file was last written. They stay in the file, as pending, until
    // that write: a crash between the two must not lose a confirmed result.
    QList<Annotation> m_decided;
};
