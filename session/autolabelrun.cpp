#include "session/autolabelrun.h"

#include "inference/imageresult.h"
#include "inference/vllmclient.h"

#include <QFileInfo>

#include <utility>

QString AutoLabelRun::modelToUse(const QString &name, ModelName kind, const QStringList &served)
{
    // vLLM answers a name it does not serve with 404; llama-server takes any. Without a name, the
    // one the server has loaded is the only sensible guess.
    if (!served.isEmpty() && (name.isEmpty() || (kind == ModelName::Remembered && !served.contains(name))))
        return served.first();
    return name.isEmpty() ? ServerConfig().model : name;
}

AutoLabelRun::AutoLabelRun(VllmClient *client, FolderSession *session, QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_session(session)
{
    // Probes of others (the settings dialog's test, the status menu) carry other numbers.
    connect(m_client, &VllmClient::probeFinished, this, &AutoLabelRun::onProbed);
}

AutoLabelRun::~AutoLabelRun()
{
    disconnectClient();
}

void AutoLabelRun::probe(const ServerConfig &server)
{
    if (m_stage == Stage::Running)
        return;
    m_stage = Stage::Probing;
    m_probedUrl = server.baseUrl;
    m_served.clear();
    m_httpStatus = 0;
    m_client->setServerConfig(server);
    m_probe = m_client->probeServer();
}

void AutoLabelRun::forgetProbe()
{
    if (m_stage == Stage::Probed)
        m_stage = Stage::Idle;
}

bool AutoLabelRun::start(const AutoLabelTask &task)
{
    if (isActive() || m_client->isBusy())
        return false;
    m_task = task;
    m_kept = 0;
    if (m_stage == Stage::Probed && m_probedUrl == task.server.baseUrl) {
        runTask();
        return true;
    }
    m_startWhenProbed = true;
    probe(task.server);
    return true;
}

void AutoLabelRun::onProbed(quint64 probe, bool online, const QString &detail)
{
    if (probe != m_probe || m_stage != Stage::Probing)
        return;
    m_served = m_client->servedModels();
    m_httpStatus = m_client->probedHttpStatus();
    m_stage = online ? Stage::Probed : Stage::Idle;
    const bool startNow = std::exchange(m_startWhenProbed, false);
    emit probed(online, detail);
    if (startNow && online && m_stage == Stage::Probed)
        runTask();
}

void AutoLabelRun::runTask()
{
    const QString asked = m_task.server.model;
    m_task.server.model = modelToUse(asked, m_modelName, m_served);
    if (!asked.isEmpty() && asked != m_task.server.model)
        emit modelReplaced(asked, m_task.server.model);
    // A probe is good for one run.
    m_stage = Stage::Idle;
    if (m_task.paths.isEmpty() || m_client->isBusy()) {
        emit finished(TaskSummary{0, int(m_task.paths.size()), 0, 0.0, 0, !m_task.paths.isEmpty()});
        return;
    }
    m_stage = Stage::Running;
    m_connections = {
        connect(m_client, &VllmClient::progress, this, &AutoLabelRun::progress),
        connect(m_client, &VllmClient::imageFinished, this, &AutoLabelRun::onImageFinished),
        connect(m_client, &VllmClient::taskFinished, this, &AutoLabelRun::onTaskFinished),
    };
    m_client->startTask(m_task);
}

void AutoLabelRun::pause()
{
    if (m_stage == Stage::Running)
        m_client->pause();
}

void AutoLabelRun::resume()
{
    if (m_stage == Stage::Running)
        m_client->resume();
}

void AutoLabelRun::cancel()
{
    if (m_stage == Stage::Running) {
        m_client->cancel();   // ends the task at once
        return;
    }
    if (m_stage != Stage::Probing)
        return;
    // The probe's answer, when it comes, is no longer waited for.
    m_stage = Stage::Idle;
    const bool wasStarting = std::exchange(m_startWhenProbed, false);
    if (wasStarting)
        emit finished(TaskSummary{0, int(m_task.paths.size()), 0, 0.0, 0, true});
}

void AutoLabelRun::onImageFinished(const ImageResult &result)
{
    if (result.cancelled())
        return;   // no answer came: nothing to keep
    FolderSession *session = sessionOf(result.path);
    if (result.failed())
        session->setFailed(result.path, true);
    const int shownKept = m_shownImage ? m_shownImage(result) : -1;
    FolderSession::MergeOutcome merged;
    if (shownKept >= 0) {
        m_kept += shownKept;
    } else if (result.answered()) {
        // Another image of the folder, or of a folder the user has left meanwhile.
        merged = session->mergeResults(result.path, result.annotations);
        m_kept += int(merged.kept.size());
    }
    emit imageHandled(result, merged, shownKept >= 0);
}

FolderSession *AutoLabelRun::sessionOf(const QString &path) const
{
    if (m_otherSessions.isEmpty())
        return m_session;
    const QString dir = QFileInfo(path).absolutePath();
    for (FolderSession *session : m_otherSessions) {
        if (session->directory() == dir)
            return session;
    }
    return m_session;
}

void AutoLabelRun::onTaskFinished(const TaskSummary &summary)
{
    disconnectClient();
    m_stage = Stage::Idle;
    emit finished(summary);
}

void AutoLabelRun::disconnectClient()
{
    for (const QMetaObject::Connection &c : std::as_const(m_connections))
        disconnect(c);
    m_connections.clear();
}
