#include "checker/labelchecker.h"

#include "checker/labelchecks.h"

#include <QSet>

namespace {

const unsigned long kStopWaitMs = 10000;

} // namespace

LabelChecker::LabelChecker(QObject *parent)
    : QThread(parent)
{
    registerLabelIssueMetaType();
}

LabelChecker::~LabelChecker()
{
    requestStop();
    wait();
}

bool LabelChecker::startCheck(const QStringList &paths, const QStringList &classes)
{
    m_stopRequested.exchange(true);
    if (!wait(kStopWaitMs))
        return false;
    m_paths = paths;
    m_classes = classes;
    m_stopRequested.exchange(false);
    start();
    return true;
}

void LabelChecker::requestStop()
{
    m_stopRequested.exchange(true);
}

void LabelChecker::run()
{
    if (m_paths.isEmpty()) {
        emit finished(0, 0, 0);
        return;
    }
    int done = 0;
    int issues = 0;
    QSet<QString> issueImages;
    for (const QString &path : std::as_const(m_paths)) {
        if (m_stopRequested.load())
            return;
        // Each finding leaves as it is found: none are gathered per image.
        checkImage(path, m_classes, [this, &issues, &issueImages](const LabelIssue &issue) {
            ++issues;
            issueImages.insert(issue.path);
            emit issueFound(issue);
        });
        ++done;
    }
    emit finished(done, issues, int(issueImages.size()));
}
