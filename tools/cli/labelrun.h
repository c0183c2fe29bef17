#pragma once

#include "storage/annotation.h"
#include "storage/pendingfile.h"
#include "tools/cli/labeloptions.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>

class PendingWriteThrottle;
class QTimer;
class VllmClient;

// One headless auto-label run over a directory: probe, send every image through the client, merge
// each image's results as the window does, keep the pending file current, print progress on stderr
// and the summary line on stdout. Main thread only; finished carries the exit code.
class LabelRun : public QObject
{
    Q_OBJECT

public:
    explicit LabelRun(const LabelOptions &options, QObject *parent = nullptr);

    void start();
    // Ctrl+C: stop sending, keep and write every result received, then finish as cancelled.
    void interrupt();

signals:
    void finished(int exitCode);

private:
    enum class Stage { Idle, Probing, Running, Done };

    void onProbed(bool online, const QString &detail);
    void onImageFinished(const QString &path, const QList<Annotation> &anns, bool ok, const QString &error);
    void writePending();
    void printProgress();
    void finish(bool cancelled);

    LabelOptions m_options;
    QString m_dir;
    QStringList m_paths;
    AnnotationCache m_cache;
    VllmClient *m_client;
    PendingWriteThrottle *m_throttle;
    QTimer *m_progressTimer;
    QElapsedTimer m_clock;
    Stage m_stage = Stage::Idle;
    int m_done = 0;
    int m_failed = 0;
    int m_added = 0;
    int m_printedDone = -1;
    double m_confidenceSum = 0.0;
    int m_confidenceCount = 0;
    bool m_pendingWriteFailed = false;
};
