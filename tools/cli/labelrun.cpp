#include "tools/cli/labelrun.h"

#include "inference/imageresult.h"
#include "inference/vllmclient.h"
#include "session/foldersession.h"
#include "storage/pendingfile.h"
#include "tools/cli/cliio.h"

#include <QDir>
#include <QTimer>

#include <cmath>

namespace {


QString duration(qint64 seconds)
{
    const qint64 h = seconds / 3600;
    const qint64 m = seconds / 60 % 60;
    const qint64 s = seconds % 60;
    if (h > 0)
        return QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, QLatin1Char('0')).arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
}

} // namespace

LabelRun::LabelRun(const LabelOptions &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_session(new FolderSession(this))
    , m_client(new VllmClient(this))
    , m_progressTimer(new QTimer(this))
{
    m_session->setUseYolo(options.useYolo);
    m_session->setClassNames(options.classes);
    m_progressTimer->setInterval(1000);
    connect(m_progressTimer, &QTimer::timeout, this, &LabelRun::printProgress);
    connect(m_session, &FolderSession::pendingWritten, this, [this](bool ok) {
        if (!ok && !m_pendingWriteFailed)
            Cli::printError(QStringLiteral("cannot write ") + pendingFilePath(m_session->directory()));
        m_pendingWriteFailed = !ok;
    });
    connect(m_client, &VllmClient::statusChanged, this, &LabelRun::onProbed);
    connect(m_client, &VllmClient::imageFinished, this, &LabelRun::onImageFinished);
    connect(m_client, &VllmClient::taskFinished, this,
            [this](const TaskSummary &summary) { finish(summary.cancelled); });
}

void LabelRun::start()
{
    // The folder as the window opens it, so that results merge the same way.
    m_session->openNow(QDir(m_options.dir).absolutePath());
    m_paths = m_options.unlabelledOnly ? m_session->unlabelledImages() : m_session->imagePaths();
    Cli::reportUnlistable(m_session->unlistableImages());
    if (m_paths.isEmpty()) {
        finish(false);
        return;
    }
    m_stage = Stage::Probing;
    m_client->setServerConfig(m_options.server);
    m_client->probeServer();
}

void LabelRun::interrupt()
{
    if (m_stage == Stage::Probing)
        finish(true);
    else if (m_stage == Stage::Running)
        m_client->cancel();   // reports what is in flight and ends the task at once
}

void LabelRun::onProbed(bool online, const QString &detail)
{
    if (m_stage != Stage::Probing)
        return;
    if (!online) {
        m_stage = Stage::Done;
        Cli::printError(QStringLiteral("server not reachable at %1: %2").arg(m_options.server.baseUrl, detail));
        emit finished(Cli::ItemFailed);
        return;
    }
    AutoLabelTask task;
    task.paths = m_paths;
    task.server = m_options.server;
    // Without --model, ask for the model the server has loaded: vLLM refuses any other name.
    if (task.server.model.isEmpty())
        task.server.model = detail.isEmpty() ? ServerConfig().model : detail;
    task.prompt = m_options.prompt.trimmed();
    task.classes = m_options.classes;
    task.minScore = m_options.minScore;
    task.markPending = !m_options.confirmed;
    m_stage = Stage::Running;
    m_clock.start();
    m_progressTimer->start();
    m_client->startTask(task);
}

void LabelRun::onImageFinished(const ImageResult &result)
{
    if (result.cancelled())
        return;   // cut off by Ctrl+C: no answer, nothing to keep
    ++m_done;
    if (result.failed()) {
        ++m_failed;
        Cli::printError(result.path + QStringLiteral(": ") + result.error);
        return;
    }
    const FolderSession::MergeOutcome merged = m_session->mergeResults(result.path, result.annotations);
    m_added += int(merged.kept.size());
    for (const Annotation &a : merged.kept) {
        if (a.confidence >= 0) {
            m_confidenceSum += a.confidence;
            ++m_confidenceCount;
        }
    }
    if (merged.saveFailed) {
        ++m_failed;
        Cli::printError(result.path
                        + (merged.labelsUnreadable
                               ? QStringLiteral(": the label file holds records that cannot be read; not rewritten")
                               : QStringLiteral(": cannot write the label file"))
                        + QStringLiteral(", results kept as unconfirmed"));
    }
}

void LabelRun::printProgress()
{
    if (m_done == m_printedDone)
        return;
    m_printedDone = m_done;
    const double seconds = m_clock.elapsed() / 1000.0;
    const double rate = seconds > 0 ? m_done / seconds : 0.0;
    QString line = QStringLiteral("%1/%2 images, %3 images/s").arg(m_done).arg(m_paths.size()).arg(rate, 0, 'f', 1);
    if (rate > 0 && m_done < m_paths.size())
        line += QStringLiteral(", %1 left").arg(duration(qint64(std::ceil((m_paths.size() - m_done) / rate))));
    Cli::printError(line);
}

void LabelRun::finish(bool cancelled)
{
    if (m_stage == Stage::Done)
        return;
    const bool ran = m_stage == Stage::Running;
    m_stage = Stage::Done;
    m_progressTimer->stop();
    if (ran)
        printProgress();
    // A pending file that exists but cannot be read is never overwritten: this run's results could
    // not be stored.
    if (!m_session->close() && !m_pendingWriteFailed) {
        Cli::printError(QStringLiteral("cannot write ") + pendingFilePath(m_session->directory()));
        m_pendingWriteFailed = true;
    }

    const double average = m_confidenceCount > 0 ? m_confidenceSum / m_confidenceCount : 0.0;
    // Written by hand to keep the documented field order.
    const QByteArray summary = "{\"done\":" + QByteArray::number(m_done) + ",\"total\":"
        + QByteArray::number(m_paths.size()) + ",\"added\":" + QByteArray::number(m_added) + ",\"failed\":"
        + QByteArray::number(m_failed) + ",\"cancelled\":" + (cancelled ? "true" : "false")
        + ",\"avgConfidence\":" + QByteArray::number(std::round(average * 100.0) / 100.0, 'g', 12) + "}";
    Cli::printLine(QString::fromLatin1(summary));
    const bool incomplete = m_failed > 0 || cancelled || m_pendingWriteFailed || !m_session->unlistableImages().isEmpty();
    emit finished(incomplete ? Cli::ItemFailed : Cli::Ok);
}
