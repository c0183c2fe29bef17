#pragma once

#include "checker/labelissue.h"

#include "storage/restartableworker.h"

#include <QStringList>

struct LabelCheckInput
{
    QStringList paths;
    QStringList classes;
};

// Runs the rule checks over a list of images on its own thread, reporting each finding as it
// is found.
class LabelChecker : public RestartableWorker<LabelCheckInput>
{
    Q_OBJECT

public:
    explicit LabelChecker(QObject *parent = nullptr);
    // The job runs this class's members: it must end before they are gone.
    ~LabelChecker() override { stop(); }

    // Stops a running pass (waiting up to 10 s), then checks paths against classes.
    // Returns false, starting nothing, when the running pass did not end in time.
    bool startCheck(const QStringList &paths, const QStringList &classes);

signals:
    void issueFound(const LabelIssue &issue);
    // Emitted once after the last image; a pass ended by requestStop emits nothing.
    void finished(int checkedImages, int issueCount, int issueImages);

private:
    void check(const LabelCheckInput &input);
};
