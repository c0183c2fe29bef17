#include "ui/mainwindow.h"

#include "canvas/annotationscene.h"
#include "inference/autolabelresults.h"
#include "inference/autolabeltask.h"
#include "inference/pendingwritethrottle.h"
#include "inference/vllmclient.h"
#include "shared/language.h"
#include "storage/annotationstore.h"
#include "ui/annstatecommand.h"
#include "ui/autolabeldialog.h"
#include "ui/categoryhistory.h"
#include "ui/filelistpanel.h"
#include "ui/progressoverlay.h"
#include "ui/toastwidget.h"
#include "ui/windowsettings.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QUndoStack>

#include <algorithm>

namespace {

// Results for an image of a folder that is no longer open: merged straight into that folder's
// label and pending files, as the window would have done with the folder open.
CacheMergeResult storeInFolderFiles(const QString &path, const QList<Annotation> &anns, bool useYolo,
                                    const QStringList &classNames)
{
    const QString dir = QFileInfo(path).absolutePath();
    bool readable = true;
    AnnotationCache cache = readPendingFile(dir, &readable);
    const auto own = cache.constFind(path);
    if (own != cache.cend())
        cache.insert(path, cacheEntry(path, own.value()));
    const CacheMergeResult merged = mergeIntoCache(cache, path, anns, useYolo, classNames);
    const bool anyPending = std::any_of(merged.kept.cbegin(), merged.kept.cend(),
                                        [](const Annotation &a) { return a.pending != 0; });
    // A file that exists but cannot be read may hold results: it is not overwritten.
    if (anyPending && readable)
        writePendingFile(dir, cache);
    return merged;
}

} // namespace

bool MainWindow::checkServerNow(QString *error)
{
    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(m_serverConfig.baseUrl + QStringLiteral("/models")));
    request.setTransferTimeout(4000);
    QNetworkReply *reply = network.get(request);
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // An error status arrives as a network error too: the status is what tells the user most.
    const bool online = status.isValid() && status.toInt() / 100 == 2;
    if (!online && error) {
        *error = status.isValid() ? translateText("HTTP %1（服务启动中或地址不对）").arg(status.toInt())
                                  : reply->errorString();
    }
    reply->deleteLater();
    return online;
}

AutoLabelDialog *MainWindow::autoLabelDialog()
{
    if (!m_autoLabelDialog) {
        m_autoLabelDialog = new AutoLabelDialog(m_client, this);
        connect(m_autoLabelDialog, &QDialog::finished, this, &MainWindow::applyDialogServer);
    }
    return m_autoLabelDialog;
}

void MainWindow::startAutoLabel(bool settingsOnly, bool preferCurrent)
{
    const auto refusedWhileBusy = [this] {
        if (!m_inferenceBusy && !m_reviewRunning)
            return false;
        m_toast->showMessage(translateText("推理任务进行中，请稍后再试"));
        return true;
    };
    if (!settingsOnly && refusedWhileBusy())
        return;
    AutoLabelDialog *dialog = autoLabelDialog();
    dialog->loadServer(m_serverConfig);
    dialog->setCategoryHint(m_categories->labels());
    dialog->setCurrentAvailable(!m_currentImagePath.isEmpty());
    if (preferCurrent && !m_currentImagePath.isEmpty())
        dialog->setScope(0);
    if (settingsOnly) {
        dialog->exec();
        return;
    }

    // Each probe waits in an event loop, where the user may start a check or another run.
    QString error;
    m_modelOnline = checkServerNow(&error);
    updateModelIndicator();
    if (refusedWhileBusy())
        return;
    if (!m_modelOnline) {
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
            dialog->exec();
        }
        return;
    }

    if (dialog->exec() != QDialog::Accepted)
        return;
    ServerConfig chosen = dialog->serverConfig();
    chosen.concurrency = qMax(1, chosen.concurrency);
    m_serverConfig = chosen;
    m_client->setServerConfig(m_serverConfig);
    saveSettings();
    m_modelOnline = checkServerNow(&error);
    updateModelIndicator();
    if (refusedWhileBusy())
        return;
    if (!m_modelOnline) {
        m_toast->showMessage(translateText("推理服务未就绪：%1").arg(error));
        return;
    }

    QStringList paths;
    switch (dialog->scope()) {
    case 0:
        if (!m_currentImagePath.isEmpty())
            paths.append(m_currentImagePath);
        break;
    case 2:
        for (const QString &path : std::as_const(m_imagePaths)) {
            const ImageState state = m_imageStates.value(path);
            const bool unlabelled = state.known ? state.confirmed == 0
                : (m_annotationCache.contains(path) || countAnnotations(path) <= 0);
            if (unlabelled)
                paths.append(path);
        }
        break;
    default:
        paths = m_imagePaths;
        break;
    }
    if (paths.isEmpty()) {
        m_toast->showMessage(translateText("没有符合范围的目标图片"));
        return;
    }

    AutoLabelTask task;
    task.paths = paths;
    task.server = m_serverConfig;
    task.prompt = dialog->categoryPrompt();
    task.classes = m_categories->labels();
    task.minScore = dialog->threshold();
    task.markPending = dialog->insertAsPending();
    task.reviewMode = false;
    m_runAdded = 0;
    m_progress->start(int(paths.size()), paths.first());
    m_client->startTask(task);
}

void MainWindow::onImageFinished(const QString &path, const QList<Annotation> &anns, bool ok, const QString &error)
{
    // The user opened another folder during the run: the results belong to their own folder.
    if (QFileInfo(path).absolutePath() != m_currentDir) {
        if (!ok)
            return;
        const CacheMergeResult merged = storeInFolderFiles(path, anns, m_useYolo, m_categories->labels());
        QStringList labels;
        for (const Annotation &a : merged.kept)
            labels.append(a.label);
        m_categories->rememberAll(labels);
        m_runAdded += int(merged.kept.size());
        if (merged.writeFailed || merged.labelsUnreadable)
            m_toast->showMessage(translateText("保存失败：%1").arg(QFileInfo(path).fileName()));
        return;
    }
    ImageState &state = m_imageStates[path];
    const bool onScreen = path == m_currentImagePath;
    if (!ok) {
        state.failed = true;
        m_fileList->setFileState(path, state.confirmed, state.pending, true);
        if (onScreen)
            m_toast->showMessage(translateText("推理失败：%1").arg(error));
        return;
    }
    state.failed = false;

    QStringList labels;
    if (onScreen) {
        const OverlapFilterResult filtered = filterOverlapping(m_scene->annotations(), anns);
        if (filtered.dropped > 0)
            m_toast->showMessage(translateText("已忽略 %1 个与已有标注重叠的结果").arg(filtered.dropped));
        if (!filtered.kept.isEmpty()) {
            m_undoStack->beginMacro(translateText("AI 插入 %1 个标注").arg(filtered.kept.size()));
            for (const Annotation &a : filtered.kept) {
                pushState(uint(m_scene->allocateId()), std::nullopt, a, translateText("AI 插入标注"));
                labels.append(a.label);
            }
            m_undoStack->endMacro();
            m_runAdded += int(filtered.kept.size());
        }
    } else {
        annotationsFor(path);   // the cache entry, with the pending records of the file
        const CacheMergeResult merged = mergeIntoCache(m_annotationCache, path, anns, m_useYolo, m_categories->labels());
        for (const Annotation &a : merged.kept)
            labels.append(a.label);
        m_runAdded += int(merged.kept.size());
        if (merged.writeFailed || merged.labelsUnreadable)
            m_toast->showMessage(translateText("保存失败：%1").arg(QFileInfo(path).fileName()));
        if (!pendingRecords(merged.kept).isEmpty()) {
            // Written every few seconds during the run: a crash loses only the last results.
            m_pendingChanged = true;
            m_pendingThrottle->markChanged();
        }
    }
    m_categories->rememberAll(labels);
    refreshImageState(path);
    if (onScreen)
        refreshPanels();
}

void MainWindow::onTaskFinished(int done, int total, int added, double avgConfidence, int failed, bool cancelled)
{
    Q_UNUSED(added)   // counted before the overlap filter; the toast names what was kept
    m_progress->finish();
    const QString failedPart = failed > 0 ? translateText(" · 失败 %1 张").arg(failed) : QString();
    m_toast->showMessageLater(cancelled ? translateText("已取消（完成 %1/%2 张）").arg(done).arg(total)
                                        : translateText("完成 %1 张 · 新增 %2 框 · 平均置信度 %3%4")
                                              .arg(total)
                                              .arg(m_runAdded)
                                              .arg(QString::number(avgConfidence, 'f', 2), failedPart),
                              1500);
    refreshPanels();
    flushPending(true);
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
        m_modelOnline = false;
        updateModelIndicator();
        m_client->probeServer();
    }
}
