#include "tools/cli/labelrun.h"

#include "inference/imageresult.h"
#include "inference/vllmclient.h"
#include "session/autolabelrun.h"
#include "shared/language.h"
#include "storage/pendingfile.h"
#include "tools/cli/cliio.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonObject>
#include <QtEndian>
#include <QTimer>

#include <algorithm>
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

LabelRun::LabelRun(const LabelOptions &options, const QStringList &folders, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_root(QDir(options.dir).absolutePath())
    , m_folders(folders)
    , m_client(new VllmClient(this))
    , m_progressTimer(new QTimer(this))
{
    while (m_sessions.size() < folders.size()) {
        auto *session = new FolderSession(this);
        session->setFallbackYolo(options.useYolo);
        session->setClassNames(options.classes);
        session->setAddClassesToNamesFile(options.addClasses);
        connect(session, &FolderSession::pendingWritten, this, [this, session](bool ok) {
            if (!ok && !m_pendingUnwritten.contains(session))
                Cli::printError(translateText("无法写入 %1").arg(pendingFilePath(session->directory())));
            if (ok)
                m_pendingUnwritten.remove(session);
            else
                m_pendingUnwritten.insert(session);
        });
        m_sessions.append(session);
    }
    m_run = new AutoLabelRun(m_client, m_sessions.first(), this);
    for (FolderSession *session : std::as_const(m_sessions).mid(1))
        m_run->addFolderSession(session);
    // --model names the model for this run; without it, the one the server lists.
    m_run->setModelName(AutoLabelRun::ModelName::Given);
    m_progressTimer->setInterval(1000);
    connect(m_progressTimer, &QTimer::timeout, this, &LabelRun::printProgress);
    connect(m_run, &AutoLabelRun::probed, this, &LabelRun::onProbed);
    connect(m_run, &AutoLabelRun::imageHandled, this,
            [this](const ImageResult &result, const FolderSession::MergeOutcome &merged) {
                onImageHandled(result, merged);
            });
    connect(m_run, &AutoLabelRun::finished, this, [this](const TaskSummary &summary) { finish(summary.cancelled); });
}

void LabelRun::start()
{
    // Each folder as the window opens it, so that results merge the same way.
    m_paths.clear();
    for (qsizetype i = 0; i < m_sessions.size(); ++i) {
        FolderSession *session = m_sessions.at(i);
        session->openNow(m_folders.at(i));
        if (m_options.formatGiven)
            session->setUseYolo(m_options.useYolo);
        m_paths += shardOf(m_options.unlabelledOnly ? unlabelledAndNotPending(session) : session->imagePaths());
        Cli::reportUnlistable(session->unlistableImages());
    }
    if (m_paths.isEmpty()) {
        finish(false);
        return;
    }
    AutoLabelTask &task = m_task;
    task.paths = m_paths;
    task.server = m_options.servers.server;
    task.replicas = m_options.servers.replicas;
    task.prompt = m_options.prompt.trimmed();
    task.classes = m_options.classes;
    task.minScore = m_options.minScore;
    task.markPending = !m_options.confirmed;
    m_stage = Stage::Probing;
    m_run->start(task);
}

void LabelRun::interrupt()
{
    if (m_stage == Stage::Probing || m_stage == Stage::Running)
        m_run->cancel();   // reports what is in flight and ends the run at once
}

void LabelRun::onProbed(bool online, const QString &detail)
{
    if (m_stage != Stage::Probing)
        return;
    if (!online && m_serverTried < m_options.servers.replicas.size()) {
        // The model list comes from the first server that answers; the others serve the same model.
        Cli::printError(translateText("无法连接服务器 %1：%2").arg(m_task.server.baseUrl, detail));
        Cli::nextServerFirst(m_task.server, m_task.replicas);
        ++m_serverTried;
        m_run->start(m_task);
        return;
    }
    if (!online) {
        m_stage = Stage::Done;
        Cli::printError(translateText("无法连接服务器 %1：%2").arg(m_task.server.baseUrl, detail));
        emit finished(Cli::ItemFailed);
        return;
    }
    m_stage = Stage::Running;
    m_clock.start();
    m_progressTimer->start();
}

QStringList LabelRun::unlabelledAndNotPending(const FolderSession *session)
{
    // A run resumed with --unlabelled skips what an earlier run (of any shard) left unconfirmed.
    const AnnotationCache pending = readPendingFile(session->directory());
    QStringList paths;
    const QStringList unlabelled = session->unlabelledImages();
    for (const QString &path : unlabelled) {
        if (!pending.contains(path))
            paths.append(path);
    }
    return paths;
}

QStringList LabelRun::shardOf(const QStringList &paths) const
{
    if (m_options.shardCount <= 1)
        return paths;
    // Every machine agrees without talking: the path below the folder, wherever it is mounted.
    const QDir folder(m_root);
    QStringList mine;
    for (const QString &path : paths) {
        const QByteArray digest =
            QCryptographicHash::hash(folder.relativeFilePath(path).toUtf8(), QCryptographicHash::Sha1);
        const quint64 h = qFromBigEndian<quint64>(digest.constData());
        if (int(h % quint64(m_options.shardCount)) == m_options.shard - 1)
            mine.append(path);
    }
    return mine;
}

bool LabelRun::anyUnlistable() const
{
    return std::any_of(m_sessions.cbegin(), m_sessions.cend(),
                       [](const FolderSession *session) { return !session->unlistableImages().isEmpty(); });
}

void LabelRun::printImageLine(const ImageResult &result)
{
    QJsonObject line;
    line.insert(QStringLiteral("path"), QDir(m_root).relativeFilePath(result.path));
    line.insert(QStringLiteral("state"), result.failed() ? QStringLiteral("failed") : QStringLiteral("answered"));
    line.insert(QStringLiteral("server"), result.server);
    line.insert(QStringLiteral("ms"), result.ms);
    Cli::printJson(line);
}

void LabelRun::onImageHandled(const ImageResult &result, const FolderSession::MergeOutcome &merged)
{
    ++m_done;
    if (m_options.progressLines)
        printImageLine(result);
    if (result.failed()) {
        ++m_failed;
        Cli::printError(result.path + QStringLiteral(": ") + result.error);
        return;
    }
    m_added += int(merged.kept.size());
    m_unknownCategory += merged.unknownCategory;
    m_unusable += result.unusable;
    for (const Annotation &a : merged.kept) {
        if (a.confidence >= 0) {
            m_confidenceSum += a.confidence;
            ++m_confidenceCount;
        }
    }
    if (merged.outsideImage > 0) {
        Cli::printError(translateText("%1：%2 个完全在图片之外的标注未写入标注文件")
                            .arg(result.path, QString::number(merged.outsideImage)));
    }
    if (merged.saveFailed) {
        ++m_failed;
        if (merged.labelsUnreadable)
            Cli::printError(translateText("%1：标注文件中有无法读取的记录，未改写；结果保留为待确认").arg(result.path));
        else if (!merged.keypointRowsFile.isEmpty())
            Cli::printError(
                translateText("%1：%2 声明了关键点（kpt_shape），每行只能是带关键点的框，容纳不了多边形或旋转框；结果保留为待确认")
                    .arg(result.path, merged.keypointRowsFile));
        else if (!merged.unreadableNamesFile.isEmpty())
            Cli::printError(translateText("%1：无法读取类别名文件 %2，结果保留为待确认")
                                .arg(result.path, merged.unreadableNamesFile));
        else
            Cli::printError(translateText("%1：无法写入标注文件，结果保留为待确认").arg(result.path));
    }
}

void LabelRun::printProgress()
{
    if (m_done == m_printedDone)
        return;
    m_printedDone = m_done;
    const double seconds = m_clock.elapsed() / 1000.0;
    const double rate = seconds > 0 ? m_done / seconds : 0.0;
    const QString speed = QString::number(rate, 'f', 1);
    if (rate > 0 && m_done < m_paths.size()) {
        const QString left = duration(qint64(std::ceil((m_paths.size() - m_done) / rate)));
        Cli::printError(translateText("%1/%2 张图片，每秒 %3 张，还需 %4").arg(m_done).arg(m_paths.size()).arg(speed, left));
    } else {
        Cli::printError(translateText("%1/%2 张图片，每秒 %3 张").arg(m_done).arg(m_paths.size()).arg(speed));
    }
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
    for (FolderSession *session : std::as_const(m_sessions)) {
        if (!session->close() && !m_pendingUnwritten.contains(session)) {
            Cli::printError(translateText("无法写入 %1").arg(pendingFilePath(session->directory())));
            m_pendingUnwritten.insert(session);
        }
    }

    const double average = m_confidenceCount > 0 ? m_confidenceSum / m_confidenceCount : 0.0;
    // Written by hand to keep the documented field order.
    const QByteArray summary = "{\"done\":" + QByteArray::number(m_done) + ",\"total\":"
        + QByteArray::number(m_paths.size()) + ",\"added\":" + QByteArray::number(m_added) + ",\"failed\":"
        + QByteArray::number(m_failed) + ",\"cancelled\":" + (cancelled ? "true" : "false")
        + ",\"avgConfidence\":" + QByteArray::number(std::round(average * 100.0) / 100.0, 'g', 12)
        + ",\"unusable\":" + QByteArray::number(m_unusable)
        + (m_options.confirmed ? ",\"unknown_category\":" + QByteArray::number(m_unknownCategory) : QByteArray())
        + ",\"servers\":" + Cli::serverCountsJson(m_client->serverCounts()) + "}";
    Cli::printLine(QString::fromLatin1(summary));
    const bool incomplete = m_failed > 0 || cancelled || !m_pendingUnwritten.isEmpty() || anyUnlistable();
    emit finished(incomplete ? Cli::ItemFailed : Cli::Ok);
}
