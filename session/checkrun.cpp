#include "session/checkrun.h"

#include "checker/labelchecker.h"
#include "checker/labelchecks.h"
#include "inference/autolabeltask.h"
#include "inference/imageresult.h"
#include "inference/vllmclient.h"
#include "storage/annotationstore.h"

namespace {

const unsigned long kStopWaitMs = 3000;
// The model half asks for boxes as an auto-label run would, in review mode.
const double kReviewMinScore = 0.4;

} // namespace

CheckRun::CheckRun(VllmClient *client, QObject *parent)
    : QObject(parent)
    , m_client(client)
{
}

CheckRun::~CheckRun()
{
    disconnectClient();
}

bool CheckRun::start(const QStringList &paths, const QStringList &classes, const QStringList &review,
                     const ServerConfig &server, const QStringList &replicas)
{
    if (isRunning())
        return false;
    if (!m_checker) {
        m_checker = new LabelChecker(this);
        connect(m_checker, &LabelChecker::issueFound, this, &CheckRun::onRuleIssue, Qt::QueuedConnection);
        connect(m_checker, &LabelChecker::finished, this,
                [this](int checkedImages, int, int) { onRulesFinished(checkedImages); }, Qt::QueuedConnection);
    }
    m_summary = CheckSummary();
    m_issueImages.clear();
    if (!m_checker->startCheck(paths, classes))
        return false;
    m_rulesRunning = true;
    if (review.isEmpty() || !m_client)
        return true;

    m_summary.reviewed = true;
    m_reviewing = true;
    m_connections = {
        connect(m_client, &VllmClient::imageFinished, this, &CheckRun::onImageReviewed),
        connect(m_client, &VllmClient::taskFinished, this, &CheckRun::onReviewEnded),
    };
    AutoLabelTask task;
    task.paths = review;
    task.server = server;
    task.replicas = replicas;
    task.classes = classes;
    task.minScore = kReviewMinScore;
    task.markPending = true;
    task.reviewMode = true;
    m_client->startTask(task);
    return true;
}

void CheckRun::stopRules()
{
    if (!m_checker)
        return;
    m_checker->requestStop();
    m_checker->wait(kStopWaitMs);
}

void CheckRun::onRuleIssue(const LabelIssue &issue)
{
    ++m_summary.ruleIssues;
    m_issueImages.insert(issue.path);
    emit issueFound(issue);
}

void CheckRun::onRulesFinished(int checkedImages)
{
    m_summary.checkedImages = checkedImages;
    m_rulesRunning = false;
    emit rulesFinished();
    finishWhenDone();
}

void CheckRun::onImageReviewed(const ImageResult &result)
{
    // A cancelled image never reached the model: it is neither reviewed nor missing anything.
    if (result.cancelled())
        return;
    ++m_summary.reviewedImages;
    QList<LabelIssue> found;
    if (result.failed()) {
        found.append({result.path, LabelIssue::Kind::InferenceFailed, {result.error}});
    } else {
        // The model's detections are only compared; they never reach a file.
        found = compareWithModel(result.path, loadAnnotations(result.path), result.annotations);
    }
    if (found.isEmpty())
        return;
    m_issueImages.insert(result.path);
    m_summary.modelIssues += int(found.size());
    for (const LabelIssue &issue : std::as_const(found))
        emit issueFound(issue);
}

void CheckRun::onReviewEnded(const TaskSummary &summary)
{
    disconnectClient();
    m_reviewing = false;
    m_summary.cancelled = summary.cancelled;
    emit reviewFinished(summarySoFar());
    finishWhenDone();
}

void CheckRun::disconnectClient()
{
    for (const QMetaObject::Connection &c : std::as_const(m_connections))
        disconnect(c);
    m_connections.clear();
}

void CheckRun::finishWhenDone()
{
    if (!m_rulesRunning && !m_reviewing)
        emit finished(summarySoFar());
}

CheckSummary CheckRun::summarySoFar() const
{
    CheckSummary summary = m_summary;
    summary.issueImages = int(m_issueImages.size());
    return summary;
}
