#pragma once

#include "inference/autolabeltask.h"
#include "inference/imageresult.h"
#include "inference/preparedrequest.h"
#include "inference/requestjob.h"
#include "inference/serverconfig.h"
#include "inference/serverpool.h"
#include "storage/annotation.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QSize>
#include <QString>
#include <QStringList>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;
class RequestPreparer;

// Talks to an OpenAI-compatible vision server: probes it and runs tasks of images, at most
// `concurrency` images at a time. GUI thread only; every call returns at once. Requests are built
// on worker threads (see RequestPreparer), the next `concurrency` of them ahead of time, and spread
// over several network managers, because one manager opens at most six connections to a host.
// Each image of a started task is reported exactly once (unless dropped from the queue by cancel),
// and each task ends with exactly one busyChanged(false) and one taskFinished.
class VllmClient : public QObject
{
    Q_OBJECT

public:
    explicit VllmClient(QObject *parent = nullptr);
    ~VllmClient() override;

    void setServerConfig(const ServerConfig &config);
    ServerConfig serverConfig() const { return m_server; }
    bool isBusy() const { return m_busy; }
    bool isPaused() const { return m_paused; }

    void startTask(const AutoLabelTask &task);   // ignored while busy
    void pause();
    void resume();
    void cancel();
    // Asks the server for its model list; returns the probe's number, which its probeFinished carries.
    quint64 probeServer();
    // What the last probe to end found: online, the model ids it listed in the server's order
    // (empty otherwise), the HTTP status of its answer (0: none came).
    bool isOnline() const { return m_probed.online; }
    QStringList servedModels() const { return m_probed.models; }
    int probedHttpStatus() const { return m_probed.httpStatus; }
    // The ids of a "/models" answer ({"data":[{"id":...}, ...]}), at most 64.
    static QStringList modelIds(const QByteArray &json);
    // Requests and failures of each server of the last task, the task's first server first.
    QList<ServerPool::Count> serverCounts() const { return m_spread.pool.counts(); }

signals:
    void statusChanged(bool online, const QString &detail);
    // The end of one probe, right after its statusChanged.
    void probeFinished(quint64 probe, bool online, const QString &detail);
    void busyChanged(bool busy);
    void progress(int done, int total, const QString &currentFile);
    void imageFinished(const ImageResult &result);
    void taskFinished(const TaskSummary &summary);

private:
    void pump();
    // attempt 0 is the first request of an image; attempt 1 a retry or the second look.
    struct Preparation
    {
        QString path;
        int attempt = 0;
        bool started = true;   // false: built ahead for an image still in the queue
        int hops = 0;          // servers that went down under this request
    };
    struct Waiting
    {
        PreparedRequest prepared;
        Preparation preparation;
    };
    struct Trace
    {
        qint64 startedMs = 0;
        int server = -1;
    };

    void buildAhead();
    static bool isReadableFile(const QString &path);
    RequestJob jobFor(const QString &path, bool secondLook);
    void sendRequest(const QString &path, int attempt, bool secondLook);
    void onPrepared(const PreparedRequest &request);
    void dispatch(const PreparedRequest &prepared, const Preparation &p);
    void send(const PreparedRequest &prepared, const Preparation &p, int server);
    void sendWaiting();
    void failWhenAllDown();
    int taskSlots() const;
    QNetworkAccessManager *networkForRequest();
    void handleReply(QNetworkReply *reply, const PreparedRequest &prepared, const Preparation &p, int server);
    void reportImage(const QString &path, ImageResult::Outcome outcome, const QList<Annotation> &anns = {},
                     const QString &error = QString(), int unusable = 0);
    void endTask(bool cancelled);
    void endProbe(quint64 probe, bool online, const QString &detail, int httpStatus, const QStringList &models);

    QList<QNetworkAccessManager *> m_networks;   // the first one also serves probes
    RequestPreparer *m_preparer;
    QHash<quint64, Preparation> m_preparing;     // requests being built, by ticket
    QList<quint64> m_ahead;                      // tickets for the queue's first paths; 0: not built
    QHash<quint64, PreparedRequest> m_ready;     // built ahead, their image not started yet
    quint64 m_nextTicket = 1;
    ServerConfig m_server;
    QStringList m_queue;
    QSet<QNetworkReply *> m_inFlight;
    // The task's servers: which one is free, built requests waiting for one, when each image
    // started and where it went.
    struct Spread
    {
        ServerPool pool;
        QElapsedTimer clock;
        QTimer *restTimer = nullptr;
        QList<Waiting> waiting;
        QHash<QString, Trace> trace;
        bool allDown = false;   // every server down past the timeout: the rest of the task fails
    };
    Spread m_spread;
    QStringList m_classes;
    bool m_restrictToClasses = false;
    bool m_reviewMode = false;
    int m_total = 0;
    int m_done = 0;
    int m_running = 0;
    int m_added = 0;
    int m_failed = 0;
    int m_unusable = 0;
    double m_confidenceSum = 0.0;
    int m_confidenceCount = 0;
    bool m_paused = false;
    bool m_cancelled = false;
    bool m_busy = false;
    bool m_pumping = false;   // a report made inside the pump loop must not start a nested pump
    double m_minScore = 0.4;
    bool m_markPending = true;
    QString m_prompt;
    struct ProbeOutcome
    {
        bool online = false;
        QStringList models;
        int httpStatus = 0;
    };
    ProbeOutcome m_probed;   // of the last probe to end
    quint64 m_lastProbe = 0;
};
