#include "checker/labelchecker.h"

#include "checker/labelchecks.h"

#include <QSet>

namespace {

const unsigned long kStopWaitMs = 10000;

} // namespace

LabelChecker::LabelChecker(QObject *parent)
    : RestartableWorker([this](const LabelCheckInput &input) { check(input); }, parent)
{
    registerLabelIssueMetaType();
}

bool LabelChecker::startCheck(const QStringList &paths, const QStringList &classes)
{
    return restart({paths, classes}, kStopWaitMs);
}

void LabelChecker::check(const LabelCheckInput &input)
{
    if (input.paths.isEmpty()) {
        emit finished(0, 0, 0);
        return;
    }
    int done = 0;
    int issues = 0;
    QSet<QString> issueImages;
    for (const QString &path : input.paths) {
        if (stopRequested())
            return;
        // Each finding leaves as it is found: none are gathered per image.
        checkImage(path, input.classes, [this, &issues, &issueImages](const LabelIssue &issue) {
            ++issues;
            issueImages.insert(issue.path);
            emit issueFound(issue);
        });
        ++done;
    }
    emit finished(done, issues, int(issueImages.size()));
}
