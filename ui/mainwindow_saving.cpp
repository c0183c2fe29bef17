#include "ui/mainwindow.h"

#include "canvas/annotationscene.h"
#include "canvas/canvasview.h"
#include "shared/language.h"
#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"
#include "storage/pendingfilewriter.h"
#include "ui/categoryhistory.h"
#include "ui/emptystate.h"
#include "ui/filelistpanel.h"
#include "ui/imageprefetcher.h"
#include "ui/toastwidget.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

QList<Annotation> MainWindow::pendingRecords(const QList<Annotation> &annotations)
{
    QList<Annotation> pending;
    for (Annotation a : annotations) {
        if (a.pending) {
            a.id = 0;   // ids are the scene's, not part of what is stored
            pending.append(a);
        }
    }
    return pending;
}

QList<Annotation> MainWindow::confirmedForSaving() const
{
    QList<Annotation> kept;
    const QList<Annotation> annotations = m_scene->annotations();
    for (const Annotation &a : annotations) {
        if (a.pending == 0 && !a.label.isEmpty())
            kept.append(a);
    }
    return kept;
}

bool MainWindow::trashDamagedOriginal()
{
    const QString damaged = m_damagedFiles.value(m_currentImagePath);
    // A class list that cannot be read is not ours to move: the save itself refuses.
    if (damaged.isEmpty() || !QFileInfo::exists(damaged) || QFileInfo(damaged).fileName() == u"classes.txt")
        return true;
    if (QFile::moveToTrash(damaged))
        return true;
    // Without a trash the original is kept beside itself under a name no reader takes for labels.
    const QString aside = damaged + QStringLiteral(".damaged-")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    return QFile::rename(damaged, aside);
}

bool MainWindow::saveCurrent()
{
    if (m_currentImagePath.isEmpty() || !m_dirty)
        return true;
    const QList<Annotation> kept = confirmedForSaving();
    QStringList labels;
    for (const Annotation &a : kept)
        labels.append(a.label);
    m_categories->rememberAll(labels);

    SaveReport report;
    if (!trashDamagedOriginal()
        || !saveAnnotations(m_currentImagePath, kept, m_useYolo, m_categories->labels(), &report)) {
        m_toast->showMessage(translateText("保存失败：无法写入标注文件"));
        return false;
    }
    noticeNamesFile(report.namesNotice);
    m_damagedFiles.remove(m_currentImagePath);
    m_dirty = false;
    updateSavedIndicator();
    refreshImageState(m_currentImagePath);
    flushPending();
    return true;
}

void MainWindow::noticeNamesFile(const NamesFileNotice &notice)
{
    // Once per names file and session: the user learns it, repeating it on every save would nag.
    if (notice.isEmpty() || m_namesNoticesShown.contains(notice.namesFile))
        return;
    m_namesNoticesShown.insert(notice.namesFile);
    m_toast->showMessage(translateText("新类别 %1 已写入 %2，请同时把它加入 %3")
                             .arg(notice.missingNames.join(QStringLiteral(", ")),
                                  QDir::toNativeSeparators(notice.classListFile),
                                  QDir::toNativeSeparators(notice.namesFile)));
}

AnnotationCache MainWindow::pendingSnapshot() const
{
    // Images whose results were never merged keep the records read from the file.
    AnnotationCache all = m_pendingFromFile;
    for (auto it = m_annotationCache.cbegin(); it != m_annotationCache.cend(); ++it)
        all.insert(it.key(), it.value());
    return all;
}

void MainWindow::flushPending(bool inBackground)
{
    // A write still on its way must not land after this one.
    if (!inBackground)
        m_pendingWriter->waitForIdle();
    if (!m_currentImagePath.isEmpty()) {
        const QList<Annotation> annotations = m_scene->annotations();
        m_annotationCache.insert(m_currentImagePath, annotations);
        const QList<Annotation> pending = pendingRecords(annotations);
        if (pending != m_flushedPending) {
            m_flushedPending = pending;
            m_pendingChanged = true;
        }
    }
    // Before the file has been read, writing it would drop the results it holds.
    if (m_currentDir.isEmpty() || !m_pendingLoaded || !m_pendingWritable || !m_pendingChanged)
        return;
    if (inBackground) {
        m_pendingWriter->write(m_currentDir, pendingSnapshot());
        m_pendingChanged = false;   // set again if the write fails
        return;
    }
    if (writePendingFile(m_currentDir, pendingSnapshot()))
        m_pendingChanged = false;
}

void MainWindow::refreshImageState(const QString &path)
{
    if (path.isEmpty())
        return;
    ImageState state = m_imageStates.value(path);
    if (path == m_currentImagePath) {
        state.confirmed = m_scene->confirmedCount();
        state.pending = m_scene->pendingCount();
    } else if (const auto cached = m_annotationCache.constFind(path); cached != m_annotationCache.constEnd()) {
        state.confirmed = 0;
        state.pending = 0;
        for (const Annotation &a : *cached)
            ++(a.pending ? state.pending : state.confirmed);
    } else if (const auto fromFile = m_pendingFromFile.constFind(path); fromFile != m_pendingFromFile.constEnd()) {
        // The confirmed count comes from the state scanner.
        state.pending = int(fromFile->size());
    } else {
        return;
    }
    state.known = true;
    m_imageStates.insert(path, state);
    m_fileList->setFileState(path, state.confirmed, state.pending, state.failed);
    if (path == m_currentImagePath)
        refreshStatus();
}

bool MainWindow::moveLabelFilesToTrash(const QString &imagePath)
{
    const QStringList files = labelFilesOf(imagePath);
    bool removed = true;
    for (const QString &file : std::as_const(files)) {
        // Restoring the image from the trash then restores its labels too.
        if (!QFile::moveToTrash(file))
            removed = QFile::remove(file) && removed;
    }
    return removed;
}

void MainWindow::deleteImage(const QString &path)
{
    if (path.isEmpty())
        return;
    const QString name = QFileInfo(path).fileName();
    QMessageBox box(QMessageBox::Warning, translateText("删除图片"),
                    translateText("将图片移入回收站，并删除其对应的标注文件（labels/ 或 annotations/ 下的记录）？\n%1")
                        .arg(name),
                    QMessageBox::NoButton, this);
    QPushButton *deleteButton = box.addButton(translateText("删除"), QMessageBox::DestructiveRole);
    QPushButton *cancelButton = box.addButton(translateText("取消"), QMessageBox::RejectRole);
    box.setEscapeButton(cancelButton);
    box.setDefaultButton(cancelButton);
    box.exec();
    if (box.clickedButton() != deleteButton)
        return;

    QString successor;
    const qsizetype i = indexOfImage(path);
    if (m_imagePaths.size() > 1 && i >= 0) {
        const QString candidate = m_imagePaths.at(i + 1 < m_imagePaths.size() ? i + 1 : i - 1);
        if (candidate != path)
            successor = candidate;
    }

    if (!QFile::moveToTrash(path)) {
        m_toast->showMessage(translateText("移入回收站失败，文件未删除"));
        return;
    }
    moveLabelFilesToTrash(path);

    const bool wasCurrent = path == m_currentImagePath;
    m_imagePaths.removeAll(path);
    const bool hadPending = !pendingRecords(m_annotationCache.value(path)).isEmpty()
        || m_pendingFromFile.contains(path) || (wasCurrent && m_scene->pendingCount() > 0);
    m_annotationCache.remove(path);
    m_pendingFromFile.remove(path);
    m_imageStates.remove(path);
    m_damagedFiles.remove(path);
    m_prefetcher->forget(path);
    if (hadPending)
        m_pendingChanged = true;
    if (wasCurrent) {
        forgetCurrentImage();
    }
    flushPending();
    m_fileList->removePath(path);
    m_toast->showMessage(translateText("已删除 %1").arg(name));

    if (wasCurrent) {
        if (!successor.isEmpty()) {
            showImage(successor);
        } else {
            updateEmptyState();
            refreshPanels();
            updateSavedIndicator();
        }
    }
    updateTitle();
}
