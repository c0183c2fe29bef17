#pragma once

#include "storage/pendingfile.h"

#include "storage/restartableworker.h"

#include <QString>

// Reads a directory's pending results file off the GUI thread: after a whole folder has been
// pre-labelled it holds every image's results and takes a while to parse.
class PendingFileLoader : public RestartableWorker<QString>
{
    Q_OBJECT
public:
    explicit PendingFileLoader(QObject *parent = nullptr);
    // The job runs this class's members: it must end before they are gone.
    ~PendingFileLoader() override { stop(); }

    // Waits for a running read to end, then reads dir's file; the first load() of a dir read
    // ahead of time by preload() only takes that read.
    void load(const QString &dir);
    // Starts reading dir's file before its folder is opened (at start-up, while the window is
    // built), so that the first image need not wait for the parse.
    void preload(const QString &dir);

signals:
    // readable is false when the file exists but could not be read at all.
    void loaded(const QString &dir, const PendingFileState &state, bool readable);

private:
    void read(const QString &dir);

    QString m_preloaded;
};
