#include "ui/mainwindow.h"

#include "checker/labelchecker.h"
#include "checker/labelchecks.h"
#include "inference/autolabeltask.h"
#include "inference/vllmclient.h"
#include "shared/language.h"
#include "storage/annotationstore.h"
#include "ui/categoryhistory.h"
#include "ui/checkresultdialog.h"
#include "ui/progressoverlay.h"
#include "ui/toastwidget.h"
#include "ui/windowactions.h"

#include <QAction>

#include <algorithm>

void MainWindow::startCheck()
{
    if (m_imagePaths.isEmpty()) {
        m_toast->showMessage(translateText("未打开图片目录"));
        return;
    }
    if (m_inferenceBusy || m_reviewRunning) {
        m_toast->showMessage(translateText("推理任务进行中，请稍后再试"));
        return;
    }
    if (m_checker && m_checker->isRunning()) {
        m_toast->showMessage(translateText("正在规则检查中，请稍候"));
        return;
    }
    if (!m_checker) {
        m_checker = new LabelChecker(this);
        connect(m_checker, &LabelChecker::issueFound, this, &MainWindow::onIssueFound, Qt::QueuedConnection);
        connect(m_checker, &LabelChecker::finished, this, &MainWindow::onRuleCheckFinished, Qt::QueuedConnection);
    }
    if (!m_checkDialog) {
        m_checkDialog = new CheckResultDialog(this);
        m_checkDialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_checkDialog, &CheckResultDialog::openImageRequested, this, [this](const QString &path) {
            raise();
            activateWindow();
            showImage(path);
        });
    }
    // The checker reads the files: what the user did here must be on disk first.
    if (m_dirty && !saveCurrent())
        return;
    flushPending();

    m_ruleIssueCount = 0;
    m_ruleIssueImages = 0;
    m_ruleIssuePaths.clear();
    m_modelReviewedCount = 0;
    m_modelIssueCount = 0;
    m_modelIssueImages.clear();
    m_checkDialog->reset();
    m_checker->startCheck(m_imagePaths, m_categories->labels());

    // Labelled images: the counts the file list shows, from disk where none is known yet.
    QStringList labelled;
    for (const QString &path : std::as_const(m_imagePaths)) {
        const ImageState state = m_imageStates.value(path);
        const int count = state.known && path != m_currentImagePath && !m_annotationCache.contains(path)
            ? state.confirmed
            : countAnnotations(path);
        if (count > 0)
            labelled.append(path);
    }
    setCursor(Qt::WaitCursor);
    if (labelled.isEmpty()) {
        m_toast->showMessage(translateText("没有已标注图片，仅完成规则检查"));
        return;
    }
    m_toast->showMessage(translateText("将对 %1 张已标注图片重新推理（约 %2 分钟），可随时取消")
                             .arg(labelled.size())
                             .arg(std::max(1, int(labelled.size() * 1.8 / 60))));
    AutoLabelTask task;
    task.paths = labelled;
    task.server = m_serverConfig;
    task.classes = m_categories->labels();
    task.minScore = 0.4;
    task.markPending = true;
    task.reviewMode = true;
    m_reviewRunning = true;
    if (m_actions.check)
        m_actions.check->setEnabled(false);
    m_progress->start(int(labelled.size()), labelled.first());
    m_client->startTask(task);
}

void MainWindow::onIssueFound(const LabelIssue &issue)
{
    ++m_ruleIssueCount;
    m_ruleIssuePaths.insert(issue.path);
    if (m_checkDialog)
        m_checkDialog->addIssue(issue.path, issue.problem, issue.detail);
}

void MainWindow::onReviewImageFinished(const QString &path, const QList<Annotation> &anns, bool ok,
                                       const QString &error)
{
    // An image whose request was cancelled is reported ok with a note and no detections: the
    // model never looked at it, so it is neither reviewed nor missing anything.
    if (ok && !error.isEmpty())
        return;
    ++m_modelReviewedCount;
    if (!ok) {
        ++m_modelIssueCount;
        m_modelIssueImages.insert(path);
        if (m_checkDialog)
            m_checkDialog->addIssue(path, translateText("推理失败"), error);
        return;
    }
    // The model's detections are only compared; they never reach the scene or a file.
    const QList<LabelIssue> findings = compareWithModel(path, loadAnnotations(path), anns);
    if (findings.isEmpty())
        return;
    m_modelIssueImages.insert(path);
    m_modelIssueCount += int(findings.size());
    if (m_checkDialog) {
        for (const LabelIssue &issue : findings)
            m_checkDialog->addIssue(issue.path, issue.problem, issue.detail);
    }
}

void MainWindow::onRuleCheckFinished(int checkedImages, int issueCount, int issueImages)
{
    Q_UNUSED(issueCount)
    m_ruleIssueImages = issueImages;
    m_ruleCheckedImages = checkedImages;
    unsetCursor();
    if (m_reviewRunning)
        return;   // the model half writes the summary when it ends
    if (m_actions.check)
        m_actions.check->setEnabled(true);
    if (m_checkDialog) {
        if (m_modelReviewedCount > 0) {
            // The model half ended first: the summary counts both halves, as it does when the
            // model half ends last.
            m_checkDialog->setSummary(m_modelReviewedCount, m_ruleIssueCount + m_modelIssueCount,
                                      int((m_ruleIssuePaths | m_modelIssueImages).size()));
        } else {
            m_checkDialog->setSummary(checkedImages, m_ruleIssueCount, m_ruleIssueImages);
        }
        m_checkDialog->finishSummary();
        m_checkDialog->show();
        m_checkDialog->raise();
    }
}

void MainWindow::onReviewFinished(bool cancelled)
{
    m_reviewRunning = false;
    m_progress->finish();
    unsetCursor();
    if (m_actions.check)
        m_actions.check->setEnabled(true);
    const int issues = m_ruleIssueCount + m_modelIssueCount;
    if (m_checkDialog) {
        // An image with findings of both halves is one image.
        const int images = int((m_ruleIssuePaths | m_modelIssueImages).size());
        m_checkDialog->setSummary(m_modelReviewedCount, issues, images);
        m_checkDialog->finishSummary();
        m_checkDialog->show();
        m_checkDialog->raise();
    }
    m_toast->showMessageLater(cancelled ? translateText("校验已取消") : translateText("校验完成，共 %1 个问题").arg(issues),
                              1500);
}
