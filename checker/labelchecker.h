#pragma once

#include "checker/labelissue.h"

#include <QStringList>
#include <QThread>

#include <atomic>

// Runs the rule checks over a list of images on its own thread, reporting each finding as it
// is found. startCheck and requestStop belong to the owner's thread; run() only to the worker.
// paths and classes are written only while no pass runs, so the two threads share nothing else.
class LabelChecker : public QThread
{
    Q_OBJECT

public:
    explicit LabelChecker(QObject *parent = nullptr);
    ~LabelChecker() override;   // stops a running pass and waits for it

    // Stops a running pass (waiting up to 10 s), then checks paths against classes.
    // Returns false, starting nothing, when the running pass did not end in time.
    bool startCheck(const QStringList &paths, const QStringList &classes);
    void requestStop();

signals:
    void issueFound(const LabelIssue &issue);
    // Emitted once after the last image; a pass ended by requestStop emits nothing.
    void finished(int checkedImages, int issueCount, int issueImages);

protected:
    void run() override;

private:
    QStringList m_paths;
    QStringList m_classes;
    std::atomic<bool> m_stopRequested{false};
};
