#pragma once

#include "inference/autolabeltask.h"
#include "session/foldersession.h"

#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class VllmClient;
struct ImageResult;
struct TaskSummary;

// One auto-label run, for the window and `brindlemark-cli label` alike: one probe of the server,
// the model name to ask for, the client's task over the images, pause and cancel, and each image's
// results into the folder session. The client is shared with label checks: the run listens to it
// only while its task runs. Owner's thread only.
class AutoLabelRun : public QObject
{
    Q_OBJECT

public:
    // How the model name of a run came: remembered from earlier runs (it gives way to a name the
    // server lists) or given for this run (used as given).
    enum class ModelName { Remembered, Given };
    // The model to ask for: an empty name is the first one the server lists (else the default); a
    // remembered name the server does not list gives way to the first it lists.
    static QString modelToUse(const QString &name, ModelName kind, const QStringList &served);

    // The image on screen takes its own results (into the editor) instead of the session: called
    // for every answered or failed image; returns how many results it kept, or -1 when the image
    // is not on screen.
    using ShownImage = std::function<int(const ImageResult &result)>;

    // Neither client nor session is owned.
    AutoLabelRun(VllmClient *client, FolderSession *session, QObject *parent = nullptr);
    ~AutoLabelRun() override;

    void setShownImage(ShownImage shownImage) { m_shownImage = std::move(shownImage); }
    void setModelName(ModelName kind) { m_modelName = kind; }
    // A run over a dataset root has one session per image folder (not owned): an image's results
    // go to the session of its own folder, the first session's when none is.
    void addFolderSession(FolderSession *session) { m_otherSessions.append(session); }

    // The run's one probe of server; probed follows. start() for the same address asks no more.
    void probe(const ServerConfig &server);
    bool probing() const { return m_stage == Stage::Probing; }
    // Probed and found online at this address, with no task started since.
    bool isProbed(const QString &baseUrl) const { return m_stage == Stage::Probed && m_probedUrl == baseUrl; }
    // The probe is not to be used (the run it was for was not started).
    void forgetProbe();
    // Starts the task once the server is probed (now, when probe() found it online at the same
    // address). Offline, probed(false, ...) is all that follows. False, nothing started, while a
    // run is active or the client is busy (a label check).
    bool start(const AutoLabelTask &task);
    bool isActive() const { return m_stage == Stage::Probing || m_stage == Stage::Running; }
    bool isRunning() const { return m_stage == Stage::Running; }
    void pause();
    void resume();
    // Stops sending; what is in flight is reported as cancelled and the run finishes at once.
    void cancel();

    // The server as probed: the model ids it lists and the HTTP status of its answer (0: none).
    QStringList servedModels() const { return m_served; }
    int probedHttpStatus() const { return m_httpStatus; }
    // The model the task asks for (after modelToUse).
    QString model() const { return m_task.server.model; }
    // Results kept so far, after the overlap filter of the session or of the image on screen.
    int kept() const { return m_kept; }

signals:
    void probed(bool online, const QString &detail);
    void modelReplaced(const QString &asked, const QString &used);
    void progress(int done, int total, const QString &currentFile);
    // An answered or failed image after its results were stored. merged is empty when the image
    // on screen took them (shown) or the image failed.
    void imageHandled(const ImageResult &result, const FolderSession::MergeOutcome &merged, bool shown);
    // Once per started run, probe failures and cancels included.
    void finished(const TaskSummary &summary);

private:
    enum class Stage { Idle, Probing, Probed, Running };

    void onProbed(quint64 probe, bool online, const QString &detail);
    void runTask();
    void onImageFinished(const ImageResult &result);
    void onTaskFinished(const TaskSummary &summary);
    void disconnectClient();
    FolderSession *sessionOf(const QString &path) const;

    VllmClient *m_client;
    FolderSession *m_session;
    QList<FolderSession *> m_otherSessions;
    ShownImage m_shownImage;
    ModelName m_modelName = ModelName::Remembered;
    Stage m_stage = Stage::Idle;
    bool m_startWhenProbed = false;
    quint64 m_probe = 0;
    QString m_probedUrl;
    QStringList m_served;
    int m_httpStatus = 0;
    AutoLabelTask m_task;
    int m_kept = 0;
    QList<QMetaObject::Connection> m_connections;
};
