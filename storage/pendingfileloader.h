#pragma once

#include "storage/pendingfile.h"

#include <QString>
#include <QThread>

// Reads a directory's pending results file off the GUI thread: after a whole folder has been
// pre-labelled it holds every image's results and takes a while to parse.
// load() runs on the owner's thread; run() only on the worker.
class PendingFileLoader : public QThread
{
    Q_OBJECT
public:
    explicit PendingFileLoader(QObject *parent = nullptr);
    ~PendingFileLoader() override;

    // Waits for a running read to end, then reads dir's file; the first load() of a dir read
    // ahead of time by preload() only takes that read.
    void load(const QString &dir);
    // Starts reading dir's file before its folder is opened (at start-up, while the window is
    // built), so that the first image need not wait for the parse.
    void preload(const QString &dir);

signals:
    // readable is false when the file exists but could not be read at all.
    void loaded(const QString &dir, const PendingFileState &state, bool readable);

protected:
    void run() override;

private:
    QString m_dir;
    QString m_preloaded;
};
