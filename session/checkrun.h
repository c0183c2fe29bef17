#pragma once

#include "checker/labelissue.h"
#include "inference/serverconfig.h"

#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QSet>
#include <QStringList>

class LabelChecker;
class VllmClient;
struct ImageResult;
struct TaskSummary;

// What a label check found, once both halves have ended.
struct CheckSummary
{
    int checkedImages = 0;    // rule half: images checked
    int reviewedImages = 0;   // model half: images the model looked at (failures included)
    int ruleIssues = 0;
    int modelIssues = 0;
    int issueImages = 0;      // images with findings of either half
    bool reviewed = false;    // the model half ran
    bool cancelled = false;   // the model half was cancelled

    int issues() const { return ruleIssues + modelIssues; }
};

// One label check: the rule checks over every image on the checker's thread and, when images are
// given for it, the model's view of each of them through the client, compared with their labels.
// Findings arrive by issueFound as each half finds them; reviewFinished comes when the model half
// ends, finished once after both halves, each with the summary so far. The client is shared with
// other runs: the check listens to it only while its model half runs. Owner's thread only.
class CheckRun : public QObject
{
    Q_OBJECT

public:
    // client may be null when no model half is ever asked for; it is not owned.
    explicit CheckRun(VllmClient *client, QObject *parent = nullptr);
    ~CheckRun() override;   // stops the rule half

    // Checks paths against classes (empty: no category check) and, when `review` is not empty,
    // sends those images to the server and its replicas (further base URLs of the same model,
    // shared through the client's ServerPool). False, nothing started, while a check runs.
    bool start(const QStringList &paths, const QStringList &classes, const QStringList &review,
               const ServerConfig &server, const QStringList &replicas = {});
    bool isRunning() const { return m_rulesRunning || m_reviewing; }
    bool isReviewing() const { return m_reviewing; }
    // Ends the rule half (waiting up to 3 s); the model half ends with the client's cancel.
    void stopRules();

signals:
    void issueFound(const LabelIssue &issue);
    void rulesFinished();
    void reviewFinished(const CheckSummary &summary);
    void finished(const CheckSummary &summary);

private:
    void onRulesFinished(int checkedImages);
    void onRuleIssue(const LabelIssue &issue);
    void onImageReviewed(const ImageResult &result);
    void onReviewEnded(const TaskSummary &summary);
    void disconnectClient();
    void finishWhenDone();
    CheckSummary summarySoFar() const;

    VllmClient *m_client;
    LabelChecker *m_checker = nullptr;   // made by the first check
    QList<QMetaObject::Connection> m_connections;
    CheckSummary m_summary;
    QSet<QString> m_issueImages;
    bool m_rulesRunning = false;
    bool m_reviewing = false;
};
