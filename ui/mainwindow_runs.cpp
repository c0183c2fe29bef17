#include "ui/mainwindow.h"

#include "canvas/annotationscene.h"
#include "canvas/canvasview.h"
#include "inference/autolabeltask.h"
#include "inference/imageresult.h"
#include "inference/vllmclient.h"
#include "session/autolabelrun.h"
#include "session/categoryhistory.h"
#include "session/checkrun.h"
#include "session/datasetcategories.h"
#include "session/foldersession.h"
#include "shared/language.h"
#include "storage/annotationgeometry.h"
#include "ui/annotationeditor.h"
#include "ui/autolabeldialog.h"
#include "ui/checkresultdialog.h"
#include "ui/progressoverlay.h"
#include "ui/toastwidget.h"

#include <QAction>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>

void MainWindow::setUpAutoLabelRun()
{
    m_autoLabel = new AutoLabelRun(m_client, m_session, this);
    m_autoLabel->setShownImage([this](const ImageResult &result) { return takeShownResults(result); });
    connect(m_autoLabel, &AutoLabelRun::modelReplaced, this, &MainWindow::onModelReplaced);
    connect(m_autoLabel, &AutoLabelRun::finished, this, &MainWindow::onRunFinished);
    connect(m_autoLabel, &AutoLabelRun::imageHandled, this,
            [this](const ImageResult &result, const FolderSession::MergeOutcome &merged, bool shown) {
                if (shown || !result.answered())
                    return;
                if (!merged.keypointRowsFile.isEmpty())
                    m_toast->showMessage(
                        translateText("%1：%2 声明了关键点（kpt_shape），每行只能是带关键点的框，容纳不了多边形或旋转框；结果保留为待确认")
                            .arg(QFileInfo(result.path).fileName(), QDir::toNativeSeparators(merged.keypointRowsFile)));
                else if (!merged.unreadableNamesFile.isEmpty())
                    m_toast->showMessage(translateText("保存失败：无法读取类别文件 %1")
                                             .arg(QDir::toNativeSeparators(merged.unreadableNamesFile)));
                else if (merged.saveFailed || merged.labelsUnreadable)
                    m_toast->showMessage(translateText("保存失败：%1").arg(QFileInfo(result.path).fileName()));
            });
}

MainWindow::RunProbe MainWindow::probeForRun(QString *error)
{
    // Waits in an event loop, where the user may start a check meanwhile.
    QEventLoop loop;
    bool online = false;
    const QMetaObject::Connection waiting =
        connect(m_autoLabel, &AutoLabelRun::probed, &loop, [&](bool ok, const QString &detail) {
            online = ok;
            // An error status is what tells the user most.
            const int status = m_autoLabel->probedHttpStatus();
            if (!ok && error)
                *error = status != 0 ? translateText("HTTP %1（服务启动中或地址不对）").arg(status) : detail;
            loop.quit();
        });
    m_autoLabel->probe(m_serverConfig);
    if (m_autoLabel->probing())
        loop.exec();
    disconnect(waiting);
    if (refusedWhileBusy()) {
        m_autoLabel->forgetProbe();
        return RunProbe::Busy;
    }
    return online ? RunProbe::Online : RunProbe::Offline;
}

AutoLabelDialog *MainWindow::autoLabelDialog()
{
    if (!m_autoLabelDialog) {
        m_autoLabelDialog = new AutoLabelDialog(m_client, this);
        connect(m_autoLabelDialog, &QDialog::finished, this, &MainWindow::applyDialogServer);
    }
    return m_autoLabelDialog;
}

bool MainWindow::refusedWhileBusy()
{
    if (!m_client->isBusy() && !m_checkRun->isReviewing())
        return false;
    m_toast->showMessage(translateText("推理任务进行中，请稍后再试"));
    return true;
}

void MainWindow::startAutoLabel(bool settingsOnly, bool preferCurrent)
{
    if (m_autoLabel->probing())
        return;   // asked again while the probe waits: its dialog is on the way
    if (!settingsOnly && refusedWhileBusy())
        return;
    const QString current = currentImagePath();
    AutoLabelDialog *dialog = autoLabelDialog();
    dialog->loadServer(m_serverConfig);
    dialog->setCategoryHint(categories()->labels());
    dialog->setCurrentAvailable(!current.isEmpty());
    if (preferCurrent && !current.isEmpty())
        dialog->setScope(0);
    if (settingsOnly) {
        // Model → Model settings opens the settings; "Start" on the other tab still starts a run.
        dialog->showModelTab();
        if (dialog->exec() == QDialog::Accepted)
            runFromDialog(dialog);
        return;
    }
    dialog->showRunTab();

    // The run's one probe: the dialog offers the models the server lists.
    QString error;
    const RunProbe probe = probeForRun(&error);
    if (probe == RunProbe::Busy)
        return;
    if (probe == RunProbe::Offline) {
        QMessageBox box(QMessageBox::Warning, translateText("推理服务未就绪"),
                        translateText("无法连接本地推理服务：%1\n%2\n\n请先启动 Brindlehost 托盘程序（它会自动拉起 "
                                      "llama-server），等服务在线后再点「⚡ 自动标注」。")
                            .arg(m_serverConfig.baseUrl, error),
                        QMessageBox::NoButton, this);
        QPushButton *settings = box.addButton(translateText("打开模型设置…"), QMessageBox::AcceptRole);
        box.addButton(translateText("取消"), QMessageBox::RejectRole);
        box.exec();
        if (box.clickedButton() == settings) {
            dialog->showModelTab();
            if (dialog->exec() == QDialog::Accepted)
                runFromDialog(dialog);
        }
        return;
    }
    // A name the server does not serve is replaced before the user sees the dialog.
    dialog->setServedModels(m_autoLabel->servedModels());
    if (dialog->exec() == QDialog::Accepted)
        runFromDialog(dialog);
    else
        m_autoLabel->forgetProbe();
}

// "Start" was pressed, on whichever tab and however the dialog was opened.
void MainWindow::runFromDialog(AutoLabelDialog *dialog)
{
    if (refusedWhileBusy())
        return;
    ServerConfig chosen = dialog->serverConfig();
    chosen.concurrency = qMax(1, chosen.concurrency);
    m_serverConfig = chosen;
    m_client->setServerConfig(m_serverConfig);
    saveSettings();
    // Opened from the model settings, or another address typed: this run's probe is still to come.
    if (!m_autoLabel->isProbed(m_serverConfig.baseUrl)) {
        QString error;
        const RunProbe probe = probeForRun(&error);
        if (probe == RunProbe::Busy)
            return;
        if (probe == RunProbe::Offline) {
            m_toast->showMessage(translateText("推理服务未就绪：%1").arg(error));
            return;
        }
    }

    // The image on screen may have changed while the probe waited.
    const QString shown = currentImagePath();
    QStringList paths;
    switch (dialog->scope()) {
    case 0:
        // An image checked as background has no objects: only "all images" sends it again.
        if (!shown.isEmpty() && !m_session->imageState(shown).isBackground())
            paths.append(shown);
        break;
    case 2:
        paths = m_session->unlabelledImages();
        break;
    default:
        paths = m_session->imagePaths();
        break;
    }
    if (paths.isEmpty()) {
        m_autoLabel->forgetProbe();
        m_toast->showMessage(translateText("没有符合范围的目标图片"));
        return;
    }

    AutoLabelTask task;
    task.paths = paths;
    task.server = m_serverConfig;
    task.prompt = dialog->categoryPrompt();
    task.classes = categories()->labels();
    task.minScore = dialog->threshold();
    task.markPending = dialog->insertAsPending();
    task.reviewMode = false;
    m_progress->start(int(paths.size()), paths.first());
    if (!m_autoLabel->start(task))
        m_progress->finish();
}

void MainWindow::onModelReplaced(const QString &asked, const QString &used)
{
    m_toast->showMessage(translateText("服务器没有模型 %1，改用它提供的 %2").arg(asked, used));
    m_serverConfig.model = used;
    m_client->setServerConfig(m_serverConfig);
    saveSettings();
}

int MainWindow::takeShownResults(const ImageResult &result)
{
    const QString &path = result.path;
    // While the image's labels are still read the overlap filter would not see them: the
    // session merges the results with what the file holds instead.
    if (path != currentImagePath() || m_session->isReadingLabels(path))
        return -1;
    if (result.failed()) {
        m_toast->showMessage(translateText("推理失败：%1").arg(result.error));
        return 0;
    }
    m_session->setFailed(path, false);
    const OverlapFilterResult filtered = m_editor->insertResults(result.annotations);
    if (filtered.dropped > 0)
        m_toast->showMessage(translateText("已忽略 %1 个与已有标注重叠的结果").arg(filtered.dropped));
    QStringList labels;
    for (const Annotation &a : filtered.kept)
        labels.append(a.label);
    categories()->rememberFound(labels);
    refreshPanels();
    return int(filtered.kept.size());
}

void MainWindow::onRunFinished(const TaskSummary &summary)
{
    m_progress->finish();
    const QString failedPart = summary.failed > 0 ? translateText(" · 失败 %1 张").arg(summary.failed) : QString();
    // The run's own count is of what the overlap filter kept, not of what the model returned.
    m_toast->showMessageLater(summary.cancelled
                                  ? translateText("已取消（完成 %1/%2 张）").arg(summary.done).arg(summary.total)
                                  : translateText("完成 %1 张 · 新增 %2 框 · 平均置信度 %3%4")
                                        .arg(summary.total)
                                        .arg(m_autoLabel->kept())
                                        .arg(QString::number(summary.avgConfidence, 'f', 2), failedPart),
                              1500);
    refreshPanels();
    m_session->flushPending(true);
}

void MainWindow::applyDialogServer()
{
    if (!m_autoLabelDialog)
        return;
    ServerConfig chosen = m_autoLabelDialog->serverConfig();
    chosen.concurrency = qMax(1, chosen.concurrency);
    const ServerConfig &current = m_serverConfig;
    if (chosen.baseUrl == current.baseUrl && chosen.model == current.model && chosen.concurrency == current.concurrency
        && chosen.timeout == current.timeout)
        return;
    const bool addressChanged = chosen.baseUrl != current.baseUrl;
    m_serverConfig = chosen;
    m_client->setServerConfig(m_serverConfig);
    saveSettings();
    if (addressChanged) {
        updateModelIndicator();   // the new address is not known to be online
        m_client->probeServer();
    }
}

void MainWindow::startCheck()
{
    if (m_session->imagePaths().isEmpty()) {
        m_toast->showMessage(translateText("未打开图片目录"));
        return;
    }
    if (refusedWhileBusy())
        return;
    if (m_checkRun->isRunning()) {
        m_toast->showMessage(translateText("正在规则检查中，请稍候"));
        return;
    }
    if (!m_checkDialog) {
        m_checkDialog = new CheckResultDialog(this);
        m_checkDialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_checkDialog, &CheckResultDialog::findingActivated, this, &MainWindow::showFinding);
        connect(m_checkRun, &CheckRun::issueFound, m_checkDialog, [this](const LabelIssue &issue) {
            m_checkDialog->addIssue(issue.path, issue.problem(), issue.detail(), issue.shapeNumber());
        });
    }
    // The checker reads the files: what the user did here must be on disk first.
    if (m_editor->isDirty() && !saveCurrent())
        return;
    m_session->flushPending();

    m_checkDialog->reset();
    const QStringList labelled = m_session->labelledImages();
    setCursor(Qt::WaitCursor);
    if (labelled.isEmpty()) {
        m_toast->showMessage(translateText("没有已标注图片，仅完成规则检查"));
    } else {
        m_toast->showMessage(translateText("将对 %1 张已标注图片重新推理（约 %2 分钟），可随时取消")
                                 .arg(labelled.size())
                                 .arg(std::max(1, int(labelled.size() * 1.8 / 60))));
        if (m_actions.check)
            m_actions.check->setEnabled(false);
        m_progress->start(int(labelled.size()), labelled.first());
    }
    m_checkRun->start(m_session->imagePaths(), m_session->categories()->checkedClasses(), labelled, m_serverConfig);
}

void MainWindow::onReviewFinished(const CheckSummary &summary)
{
    m_progress->finish();
    unsetCursor();
    showCheckSummary(summary);
    m_toast->showMessageLater(summary.cancelled ? translateText("校验已取消")
                                                : translateText("校验完成，共 %1 个问题").arg(summary.issues()),
                              1500);
}

void MainWindow::showCheckSummary(const CheckSummary &summary)
{
    // Shown when the model half ends and again when the rule half does, whichever is last.
    if (m_actions.check)
        m_actions.check->setEnabled(true);
    if (!m_checkDialog)
        return;
    // The rule half covers every image and the model half some of them: the images checked are
    // the rule half's, or the model's while the rules have not counted theirs yet.
    m_checkDialog->setSummary(std::max(summary.checkedImages, summary.reviewedImages), summary.issues(),
                              summary.issueImages);
    m_checkDialog->finishSummary();
    // Beside the window, not over the canvas where the findings' shapes are.
    if (!m_checkDialog->isVisible())
        m_checkDialog->placeBeside(frameGeometry());
    m_checkDialog->show();
    m_checkDialog->raise();
}

void MainWindow::showFinding(const QString &path, int shapeNumber)
{
    // The dialog stays open beside the window, which comes in front of it.
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
    showImage(path);
    if (currentImagePath() != path)
        return;   // the image could not be shown (its toast says why)
    if (shapeNumber > 0 && m_editor->selectSavedShape(shapeNumber)) {
        m_view->setFocus(Qt::OtherFocusReason);
        if (m_checkDialog && m_checkDialog->isVisible()) {
            const std::optional<Annotation> shape = m_editor->annotation(m_scene->selectedId());
            if (shape) {
                const QRect onView = m_view->mapFromScene(annotationBox(*shape)).boundingRect();
                m_checkDialog->keepOff(QRect(m_view->viewport()->mapToGlobal(onView.topLeft()), onView.size()));
            }
        }
    }
}

CheckResultDialog *MainWindow::checkDialog() const
{
    return m_checkDialog;
}
