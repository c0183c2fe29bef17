#pragma once

#include "tools/cli/labeloptions.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QStringList>

#include "inference/autolabeltask.h"
#include "session/foldersession.h"

class AutoLabelRun;
class QTimer;
class VllmClient;
struct ImageResult;
struct TaskSummary;

// One headless auto-label run over a directory: the window's AutoLabelRun over the folder as the
// window opens it, with progress on stderr and the summary line on stdout. Over a dataset root,
// one task over the images of every image folder, each folder open in a session of its own (its
// own pending file) as the window would have it. Main thread only; finished carries the exit code.
class LabelRun : public QObject
{
    Q_OBJECT

public:
    // folders: the image folders to label (absolute), options.dir itself when it holds images.
    LabelRun(const LabelOptions &options, const QStringList &folders, QObject *parent = nullptr);

    void start();
    // Ctrl+C: stop sending, keep and write every result received, then finish as cancelled.
    void interrupt();

signals:
    void finished(int exitCode);

private:
    enum class Stage { Idle, Probing, Running, Done };

    void onProbed(bool online, const QString &detail);
    void onImageHandled(const ImageResult &result, const FolderSession::MergeOutcome &merged);
    void printProgress();
    void printImageLine(const ImageResult &result);
    // This process's share of the images under --shard.
    QStringList shardOf(const QStringList &paths) const;
    static QStringList unlabelledAndNotPending(const FolderSession *session);
    bool anyUnlistable() const;
    AutoLabelTask m_task;
    int m_serverTried = 0;   // servers whose probe failed before one answered
    void finish(bool cancelled);

    LabelOptions m_options;
    QString m_root;   // the folder given: paths are shown and sharded below it
    QStringList m_paths;
    QStringList m_folders;
    QList<FolderSession *> m_sessions;   // one per folder of m_folders
    VllmClient *m_client;
    AutoLabelRun *m_run;
    QTimer *m_progressTimer;
    QElapsedTimer m_clock;
    Stage m_stage = Stage::Idle;
    int m_done = 0;
    int m_failed = 0;
    int m_added = 0;
    int m_unknownCategory = 0;
    int m_unusable = 0;   // the model's detections left out for a blank category
    int m_printedDone = -1;
    double m_confidenceSum = 0.0;
    int m_confidenceCount = 0;
    QSet<const FolderSession *> m_pendingUnwritten;   // their last pending-file write failed
};
