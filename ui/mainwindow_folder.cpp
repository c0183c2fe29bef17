#include "ui/mainwindow.h"

#include "canvas/annotationscene.h"
#include "session/cocoimport.h"
#include "session/foldersession.h"
#include "session/imagesubfolders.h"
#include "shared/language.h"
#include "storage/annotationstore.h"
#include "storage/directoryloader.h"
#include "storage/dotafile.h"
#include "ui/annotationeditor.h"
#include "ui/emptystate.h"
#include "ui/filelistpanel.h"
#include "ui/imagestepper.h"
#include "ui/launchdecode.h"
#include "ui/markcheckedcommand.h"
#include "ui/toastwidget.h"
#include "ui/windowsettings.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QUndoStack>

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

namespace {

// The images a folder-wide act left as they were, the first ten by name.
QString failedImagesText(const QStringList &failed)
{
    if (failed.isEmpty())
        return QString();
    QStringList names;
    for (const QString &path : failed.mid(0, 10))
        names.append(QFileInfo(path).fileName());
    if (failed.size() > names.size())
        names.append(QStringLiteral("…"));
    return QStringLiteral("\n\n")
        + translateText("%1 张图片的标注无法完整读取或无法写入，保持原样：%2")
              .arg(failed.size())
              .arg(names.join(QStringLiteral(", ")));
}

} // namespace

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
    rememberPlace();
    // Writing the settings file waits until the first image is painted.
    whenLaunched([this, dir] {
        WindowSettings::rememberDirectory(dir);
        rebuildRecentMenu();
    });
    // New label files get the format of the folder's label files, else the one chosen for it.
    m_session->setFallbackFormat(
        WindowSettings::folderFormat(dir).value_or(m_lastChosenYolo ? LabelFormat::Yolo : LabelFormat::Voc));
    m_stepper->dropHeldImages();
    m_launchDecode->forgetWanted();
    // Back in a folder, the user goes on where they left it.
    m_session->open(dir, preferredImage.isEmpty() ? WindowSettings::lastImageIn(dir) : preferredImage);
    // DOTA files have a place only beside an images/ folder, in ../labelTxt/.
    m_actions.convertToDota->setEnabled(!dotaLabelPath(QDir(dir).filePath(QStringLiteral("x.png"))).isEmpty());
    forgetCurrentImage();
    m_editor->forgetHistories();
    m_fileList->setDirectory(QFileInfo(dir).fileName());
    m_fileList->beginLoading();
    updateTitle();
    updateEmptyState();
    updateSavedIndicator();
    refreshPanels();
}

void MainWindow::rememberPlace()
{
    const QString image = currentImagePath();
    if (!m_session->directory().isEmpty() && !image.isEmpty())
        WindowSettings::saveLastImage(m_session->directory(), image);
}

void MainWindow::onListingFinished()
{
    // A dataset root holds its images in subfolders: the empty state offers them.
    const QString dir = m_session->directory();
    m_emptyState->setSubfolders(dir, m_session->imagePaths().isEmpty() ? imageSubfolders(dir) : QStringList());
    m_fileList->setDirectory(QFileInfo(m_session->directory()).fileName());
    m_fileList->updateCounts();
    m_fileList->followViewWithThumbnails();
    updateTitle();
    updateEmptyState();
    refreshPanels();
}

void MainWindow::onImageStateChanged(const QString &path, const ImageState &state)
{
    m_fileList->setFileState(path, state.confirmed, state.pending, state.failed, state.isBackground());
    if (path == currentImagePath())
        refreshStatus();
}

bool MainWindow::saveCurrent()
{
    const QString path = currentImagePath();
    if (path.isEmpty() || !m_editor->isDirty())
        return true;
    // Undone back to an image that had no label file: it gets none, not an empty one.
    if (m_editor->atOpenedState() && m_session->restoreUnlabelled(path, m_editor->annotations())) {
        m_editor->markSaved();
        updateSavedIndicator();
        return true;
    }
    SaveReport report;
    bool saved = m_session->saveImage(path, m_editor->annotations(), &report);
    // Confirmed model results (or copied shapes) of a category the dataset's names file lacks.
    if (!saved && report.namesNotice.classListFile.isEmpty() && !report.namesNotice.missingNames.isEmpty()) {
        if (!acceptCategories(report.namesNotice.missingNames)) {
            toastSaveFailure(report);
            return false;
        }
        saved = m_session->saveImage(path, m_editor->annotations(), &report);
    }
    if (!saved) {
        if (report.changedElsewhere)
            m_toast->showMessage(translateText("未保存：另一个程序修改了此图的标注文件。按 F5 重新读取（会放弃你的修改）"));
        else if (m_session->isReadingLabels(path))
            m_toast->showMessage(translateText("标注文件仍在读取，读完后才能保存"));
        else
            toastSaveFailure(report);
        return false;
    }
    m_editor->markSaved();
    updateSavedIndicator();
    updateClassList(true);   // a YOLO save may have started or grown the class list
    if (report.outsideImage > 0)
        m_toast->showMessage(translateText("%1 个标注完全在图片之外，未写入标注文件").arg(report.outsideImage));
    return true;
}

void MainWindow::onLabelsChangedElsewhere()
{
    if (currentImagePath().isEmpty() || m_editor->isLoading())
        return;
    if (m_editor->isDirty()) {
        m_toast->showMessage(translateText("另一个程序修改了此图的标注文件。按 F5 重新读取（会放弃你的修改）"));
        return;
    }
    reloadCurrentLabels();
    m_toast->showMessage(translateText("另一个程序修改了此图的标注文件，已重新读取"));
}

void MainWindow::reloadCurrentLabels()
{
    const QString path = currentImagePath();
    if (path.isEmpty() || m_editor->isLoading() || m_session->isReadingLabels(path))
        return;
    m_editor->setLoading(true);
    m_editor->load(m_session->reloadImage());
    showKeptShapes();
    m_editor->setLoading(false);
    m_session->refreshImageState(path);
    updateClassList(true);
    updateSavedIndicator();
    updateEmptyState();
    refreshPanels();
}

void MainWindow::toastSaveFailure(const SaveReport &report)
{
    if (!report.keypointRowsFile.isEmpty())
        m_toast->showMessage(
            translateText("保存失败：%1 声明了关键点（kpt_shape），每行只能是带关键点的框，容纳不了多边形或旋转框")
                .arg(QDir::toNativeSeparators(report.keypointRowsFile)));
    else if (!report.refusedFile.isEmpty())
        m_toast->showMessage(translateText("保存失败：%1 是指向数据集之外或不存在之处的链接")
                                 .arg(QDir::toNativeSeparators(report.refusedFile)));
    else if (!report.unreadableNamesFile.isEmpty())
        m_toast->showMessage(translateText("保存失败：无法读取类别文件 %1")
                                 .arg(QDir::toNativeSeparators(report.unreadableNamesFile)));
    else if (!report.namesNotice.missingNames.isEmpty() && report.namesNotice.classListFile.isEmpty())
        m_toast->showMessage(translateText("保存失败：类别「%1」不在类别表 %2 中")
                                 .arg(report.namesNotice.missingNames.join(QStringLiteral(", ")),
                                      QDir::toNativeSeparators(report.namesNotice.namesFile)));
    else
        m_toast->showMessage(translateText("保存失败：无法写入标注文件"));
}

void MainWindow::markChecked()
{
    const QString path = currentImagePath();
    if (path.isEmpty() || m_editor->isLoading())
        return;
    // An image with shapes, or with a label file already, is checked once it is saved.
    const bool hasShapes = m_editor->confirmedCount() > 0;
    if (hasShapes || m_session->imageState(path).labelFile) {
        if (saveCurrent())
            m_toast->showMessage(hasShapes ? translateText("已保存，此图已检查") : translateText("已标记为背景图（无目标）"));
        return;
    }
    SaveReport report;
    const FolderSession::CheckedMark mark = m_session->markChecked(path, &report);
    if (mark.file.isEmpty()) {
        if (report.refusedFile.isEmpty() && report.unreadableNamesFile.isEmpty()
            && labelFormatOf(path) != LabelFormat::None)
            m_toast->showMessage(translateText("已标记为背景图（无目标）"));   // another program wrote one meanwhile
        else
            toastSaveFailure(report);
        return;
    }
    // No shapes, so nothing unsaved is left; unconfirmed results stay in the pending file.
    m_editor->undoStack()->push(new MarkCheckedCommand(m_session, path, mark, translateText("标记为已检查")));
    m_editor->markSaved();
    updateSavedIndicator();
    m_toast->showMessage(translateText("已标记为背景图（无目标）"));
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
    m_stepper->dropHeldImage(path);
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

void MainWindow::convertFolder(LabelFormat to)
{
    const QStringList images = m_session->imagePaths();
    if (m_session->directory().isEmpty() || images.isEmpty())
        return;
    if (m_session->isListing()) {
        m_toast->showMessage(translateText("加载中…"));   // the whole folder, or nothing
        return;
    }
    const QString format = to == LabelFormat::Yolo      ? QStringLiteral("YOLO")
                           : to == LabelFormat::Labelme ? QStringLiteral("labelme JSON")
                           : to == LabelFormat::Dota    ? QStringLiteral("DOTA")
                                                        : QStringLiteral("VOC XML");
    QMessageBox box(QMessageBox::Question, translateText("转换目录格式"),
                    translateText("将此目录中 %1 张图片的标注文件全部转换为 %2？另一种格式的原文件会被删除，此操作无法撤销。")
                        .arg(images.size())
                        .arg(format),
                    QMessageBox::NoButton, this);
    QPushButton *convertButton = box.addButton(translateText("转换"), QMessageBox::AcceptRole);
    QPushButton *cancelButton = box.addButton(translateText("取消"), QMessageBox::RejectRole);
    box.setEscapeButton(cancelButton);
    box.setDefaultButton(cancelButton);
    box.exec();
    if (box.clickedButton() != convertButton)
        return;
    // The edits on screen belong in what is converted.
    if (m_editor->isDirty() && !saveCurrent())
        return;

    QApplication::setOverrideCursor(Qt::WaitCursor);
    const FolderSession::ConversionSummary summary = m_session->convertFolder(to);
    QApplication::restoreOverrideCursor();
    setFolderFormat(to);

    QString text = translateText("已将 %1 张图片的标注转换为 %2；%3 张图片没有标注文件，未改动。")
                       .arg(summary.converted)
                       .arg(format)
                       .arg(summary.withoutLabels);
    text += failedImagesText(summary.failed);
    QMessageBox report(QMessageBox::Information, translateText("转换目录格式"), text, QMessageBox::NoButton, this);
    report.addButton(translateText("确定"), QMessageBox::AcceptRole);
    report.exec();
}

void MainWindow::importCoco()
{
    if (m_session->directory().isEmpty() || m_session->imagePaths().isEmpty())
        return;
    if (m_session->isListing()) {
        m_toast->showMessage(translateText("加载中…"));   // the whole folder, or nothing
        return;
    }
    const QString file = QFileDialog::getOpenFileName(this, translateText("导入 COCO 标注"), m_session->directory(),
                                                      QStringLiteral("COCO JSON (*.json)"));
    if (file.isEmpty())
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const CocoDocument document = readCocoFile(file);
    QApplication::restoreOverrideCursor();
    if (document.failed()) {
        QMessageBox::warning(this, translateText("导入 COCO 标注"),
                             translateText("无法读取 COCO 文件：%1").arg(describeCocoFailure(document)));
        return;
    }
    QMessageBox ask(QMessageBox::Question, translateText("导入 COCO 标注"),
                    translateText("已有标注的图片：合并文件中的标注（去除重复），还是保持原样？"),
                    QMessageBox::NoButton, this);
    QPushButton *keep = ask.addButton(translateText("保持原样"), QMessageBox::AcceptRole);
    QPushButton *merge = ask.addButton(translateText("合并"), QMessageBox::AcceptRole);
    QPushButton *cancel = ask.addButton(translateText("取消"), QMessageBox::RejectRole);
    ask.setEscapeButton(cancel);
    ask.setDefaultButton(keep);
    ask.exec();
    if (ask.clickedButton() != keep && ask.clickedButton() != merge)
        return;
    // The image on screen is written by the import like the others, then shown again.
    if (m_editor->isDirty() && !saveCurrent())
        return;
    const QString current = currentImagePath();
    forgetCurrentImage();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const CocoImportSummary summary = m_session->importCoco(document, ask.clickedButton() == merge);
    QApplication::restoreOverrideCursor();
    if (!current.isEmpty())
        showImage(current);
    updateClassList(false);

    QString text = translateText("已向 %1 张图片写入 %2 个标注；%3 张已有标注的图片保持原样，去除重复标注 %4 个；"
                                 "%5 个 RLE 掩码未导入；文件中有 %6 张图片不在此目录，目录中有 %7 张图片不在文件中。")
                       .arg(summary.written.size())
                       .arg(summary.annotations)
                       .arg(summary.labelled.size())
                       .arg(summary.duplicates)
                       .arg(summary.rleRefused)
                       .arg(summary.missing.size())
                       .arg(summary.unlisted.size());
    text += failedImagesText(summary.failed);
    QMessageBox report(QMessageBox::Information, translateText("导入 COCO 标注"), text, QMessageBox::NoButton, this);
    report.addButton(translateText("确定"), QMessageBox::AcceptRole);
    report.exec();
}
