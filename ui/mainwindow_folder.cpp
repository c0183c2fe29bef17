#include "ui/mainwindow.h"

#include "canvas/annotationscene.h"
#include "session/foldersession.h"
#include "session/imagesubfolders.h"
#include "shared/language.h"
#include "storage/directoryloader.h"
#include "ui/annotationeditor.h"
#include "ui/emptystate.h"
#include "ui/filelistpanel.h"
#include "ui/imageprefetcher.h"
#include "ui/toastwidget.h"
#include "ui/windowsettings.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

QString MainWindow::startDirectory() const
{
    const QString start = m_initialPath.isEmpty() ? WindowSettings::lastDirectory() : m_initialPath;
    if (start.isEmpty())
        return {};
    const QFileInfo info(start);
    if (info.isFile() && isImageFile(start))
        return QDir::cleanPath(info.absolutePath());
    if (info.isDir())
        return QDir::cleanPath(info.absoluteFilePath());
    return {};
}

void MainWindow::openDirectory(const QString &path)
{
    QString dir = path;
    if (dir.isEmpty()) {
        dir = QFileDialog::getExistingDirectory(this, translateText("打开图片目录"), WindowSettings::lastDirectory(),
                                                QFileDialog::ShowDirsOnly);
        if (dir.isEmpty())
            return;
    }
    openFolder(dir, QString());
}

void MainWindow::openPath(const QString &path)
{
    const QFileInfo info(path);
    if (info.isFile() && isImageFile(path)) {
        if (QDir::cleanPath(info.absolutePath()) == m_session->directory())
            showImage(info.absoluteFilePath());
        else
            openFolder(info.absolutePath(), info.absoluteFilePath());
    } else if (info.isDir() && QDir::cleanPath(info.absoluteFilePath()) != m_session->directory()) {
        openFolder(info.absoluteFilePath(), QString());
    }
}

void MainWindow::openFolder(const QString &path, const QString &preferredImage)
{
    const QString dir = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    // Unsaved edits are saved as on any switch; a failed save keeps the user where they are.
    if (m_editor->isDirty() && !saveCurrent())
        return;
    WindowSettings::rememberDirectory(dir);
    rebuildRecentMenu();
    m_prefetcher->clear();
    m_session->open(dir, preferredImage);
    forgetCurrentImage();
    m_fileList->setDirectory(QFileInfo(dir).fileName());
    m_fileList->beginLoading();
    updateTitle();
    updateEmptyState();
    updateSavedIndicator();
    refreshPanels();
}

void MainWindow::onListingFinished()
{
    // A dataset root holds its images in subfolders: the empty state offers them.
    const QString dir = m_session->directory();
    m_emptyState->setSubfolders(dir, m_session->imagePaths().isEmpty() ? imageSubfolders(dir) : QStringList());
    m_fileList->setDirectory(QFileInfo(m_session->directory()).fileName());
    m_fileList->updateCounts();
    m_fileList->requestThumbnails(m_session->imagePaths());
    updateTitle();
    updateEmptyState();
    refreshPanels();
}

void MainWindow::onImageStateChanged(const QString &path, const ImageState &state)
{
    m_fileList->setFileState(path, state.confirmed, state.pending, state.failed);
    if (path == currentImagePath())
        refreshStatus();
}

bool MainWindow::saveCurrent()
{
    const QString path = currentImagePath();
    if (path.isEmpty() || !m_editor->isDirty())
        return true;
    QString refused;
    if (!m_session->saveImage(path, m_editor->annotations(), &refused)) {
        m_toast->showMessage(refused.isEmpty()
                                 ? translateText("保存失败：无法写入标注文件")
                                 : translateText("保存失败：%1 是指向数据集之外或不存在之处的链接")
                                       .arg(QDir::toNativeSeparators(refused)));
        return false;
    }
    m_editor->markSaved();
    updateSavedIndicator();
    updateClassList(true);   // a YOLO save may have started or grown the class list
    return true;
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

    const FolderSession::Removal removal = m_session->deleteImage(path);
    if (!removal.removed) {
        m_toast->showMessage(translateText("移入回收站失败，文件未删除"));
        return;
    }
    m_prefetcher->forget(path);
    if (removal.wasCurrent)
        forgetCurrentImage();
    m_fileList->removePath(path);
    m_toast->showMessage(translateText("已删除 %1").arg(name));
    if (removal.wasCurrent) {
        if (!removal.successor.isEmpty()) {
            showImage(removal.successor);
        } else {
            updateEmptyState();
            refreshPanels();
            updateSavedIndicator();
        }
    }
    updateTitle();
}
