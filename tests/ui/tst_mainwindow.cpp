#include "ui/mainwindow.h"

#include "canvas/annotationscene.h"
#include "canvas/canvasview.h"
#include "shared/language.h"
#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"
#include "storage/dotafile.h"
#include "storage/directoryloader.h"
#include "storage/pendingfile.h"
#include "ui/emptystate.h"
#include "ui/filelistpanel.h"
#include "ui/mainstatusbar.h"
#include "ui/progressoverlay.h"
#include "ui/shortcutdelegate.h"
#include "ui/shortcutdialog.h"
#include "ui/toastwidget.h"
#include "ui/windowsettings.h"

#include "../storage/layoutfixtures.h"
#include "../storage/storagefixtures.h"
#include "stylesheet.h"
#include "support/annotationbuilders.h"
#include "testmain.h"
#include "mainwindowfixture.h"
#include "windowfixture.h"

#include <QAction>
#include <QActionGroup>
#include <QBuffer>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QSplitterHandle>
#include <QToolBar>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QRegularExpression>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <QUndoStack>
#include <QUrl>

using namespace WindowFixture;

// Opening folders and images, stepping, saving, deleting, closing; the label formats of a folder.
class TestMainWindow : public QObject, private MainWindowFixture
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void openFolderShowsFirstImage();
    void imagePathOpensItsFolderAtThatImage();
    void switchWithEditsSavesSilently();
    void failingSaveKeepsImage_data();
    void failingSaveKeepsImage();
    void labelsRewrittenWhileShown_data();
    void labelsRewrittenWhileShown();
    void stepping_data();
    void stepping();
    void markCheckedKey_data();
    void markCheckedKey();
    void deleteImage_data();
    void deleteImage();
    void closeQuestion_data();
    void closeQuestion();
    void openAnotherFolderWithEdits_data();
    void openAnotherFolderWithEdits();
    void formatMenuAndComboAgree();
    void formatFollowsDataset_data();
    void formatFollowsDataset();
    void formatRememberedPerFolder_data();
    void formatRememberedPerFolder();
    void unreadableNamesFileNeverTrashed();
    void convertFolderCommand();
    void convertFolderToDota_data();
    void convertFolderToDota();
    void dropUrls_data();
    void dropUrls();
    void undecodableImages_data();
    void undecodableImages();
    void damagedLabelFileTrashedOnFirstSave_data();
    void damagedLabelFileTrashedOnFirstSave();
    void largePhotoOpens();
    void datasetRootOffersSubfolders();
};

void TestMainWindow::initTestCase()
{
    QVERIFY(installSourceStyleSheet());
    setLanguage(QStringLiteral("zh_CN"));
}

void TestMainWindow::init()
{
    prepareDataset();
}

void TestMainWindow::cleanup()
{
    m_tmp.reset();
}

void TestMainWindow::openFolderShowsFirstImage()
{
    QVERIFY(writeVoc(m_images.at(0), {QStringLiteral("cat"), QStringLiteral("dog")}));
    auto window = openWindow();
    QVERIFY(window);
    QVERIFY(window->emptyState()->isVisible());
    window->openDirectory(m_dir);
    QVERIFY(waitForImage(*window, m_images.at(0)));
    QTRY_COMPARE(window->session()->imagePaths(), m_images);
    QTRY_VERIFY(!window->session()->isListing());
    QCOMPARE(window->scene()->annotations().size(), 2);
    QVERIFY(!window->emptyState()->isVisible());
    QCOMPARE(window->windowTitle(), QStringLiteral("Brindlemark — ") + m_dir);
    QVERIFY(window->categories()->labels().contains(QStringLiteral("cat")));
    for (const QString &image : std::as_const(m_images))
        QVERIFY(window->fileList()->isShown(image));
    // The state scanner's count of the labelled image reaches the window.
    QTRY_COMPARE(window->session()->imageState(m_images.at(0)).confirmed, 2);
    QCOMPARE(window->statusPanel()->savedText(), QStringLiteral("已保存"));
}

void TestMainWindow::imagePathOpensItsFolderAtThatImage()
{
    auto window = openWindow(m_images.at(2));
    QVERIFY(window);
    QVERIFY(waitForImage(*window, m_images.at(2)));
    QCOMPARE(window->currentDirectory(), m_dir);
    // Its row, listed after it was shown, is the file list's current one.
    QTRY_COMPARE(window->fileList()->currentPath(), m_images.at(2));
}

void TestMainWindow::switchWithEditsSavesSilently()
{
    QVERIFY(writeVoc(m_images.at(0), {QStringLiteral("cat")}));
    auto window = openWindow(m_dir);
    QVERIFY(window);
    QVERIFY(waitForImage(*window, m_images.at(0)));
    editFirstShape(*window);
    QVERIFY(window->isDirty());
    QCOMPARE(window->statusPanel()->savedText(), QStringLiteral("● 未保存"));
    // A real key press on the window: no question, the edit is written.
    QTest::keyClick(window.get(), Qt::Key_Right);
    QVERIFY(waitForImage(*window, m_images.at(1)));
    const QList<Annotation> saved = loadAnnotations(m_images.at(0));
    QCOMPARE(saved.size(), 1);
    QCOMPARE(saved.first().rect, QRectF(15, 13, 20, 30));
    QVERIFY(!window->isDirty());
}

void TestMainWindow::failingSaveKeepsImage_data()
{
    QTest::addColumn<bool>("linkOut");   // the label file is a link out of the dataset, else its folder is read-only
    QTest::newRow("read-only folder") << false;
    QTest::newRow("label file linked out of the dataset") << true;
}

void TestMainWindow::failingSaveKeepsImage()
{
    QFETCH(bool, linkOut);
    QVERIFY(writeVoc(m_images.at(0), {QStringLiteral("cat")}));
    const QString outside = m_tmp->path() + QStringLiteral("/elsewhere/img1.xml");
    if (linkOut) {
        QVERIFY(QDir().mkpath(QFileInfo(outside).absolutePath()));
        QVERIFY(QFile::rename(vocPath(m_images.at(0)), outside));
        QVERIFY(QFile::link(outside, vocPath(m_images.at(0))));
    }
    const QByteArray before = readBytes(vocPath(m_images.at(0)));
    auto window = openWindow(m_dir);
    QVERIFY(window);
    QVERIFY(waitForImage(*window, m_images.at(0)));
    editFirstShape(*window);
    std::unique_ptr<Fixtures::ReadOnlyDirectory> lock;
    if (!linkOut) {
        lock = std::make_unique<Fixtures::ReadOnlyDirectory>(m_dir + QStringLiteral("/annotations"));
        if (!lock->ok())
            QSKIP("cannot make a directory read-only here");
    }
    QTest::keyClick(window.get(), Qt::Key_Right);
    QCOMPARE(window->currentImagePath(), m_images.at(0));
    QVERIFY(window->isDirty());
    QCOMPARE(window->toast()->text(),
             linkOut ? QStringLiteral("保存失败：%1 是指向数据集之外或不存在之处的链接").arg(vocPath(m_images.at(0)))
                     : QStringLiteral("保存失败：无法写入标注文件"));
    QCOMPARE(readBytes(vocPath(m_images.at(0))), before);
    // The click on another row did not move the list away from the image shown.
    window->fileList()->selectPath(m_images.at(2), false);
    window->showImage(m_images.at(2));
    QCOMPARE(window->currentImagePath(), m_images.at(0));
}

void TestMainWindow::labelsRewrittenWhileShown_data()
{
    QTest::addColumn<bool>("edited");   // the user has unsaved edits when the other program writes
    QTest::newRow("nothing unsaved: shown again as they left it") << false;
    QTest::newRow("unsaved edits: the save refuses, F5 shows theirs") << true;
}

// Another program (a script, brindlemark-cli label --confirmed) rewrites the label file on screen.
void TestMainWindow::labelsRewrittenWhileShown()
{
    QFETCH(bool, edited);
    const QString image = m_images.at(0);
    QVERIFY(writeVoc(image, {QStringLiteral("cat")}));
    auto window = openWindow(m_dir);
    QVERIFY(window);
    QVERIFY(waitForImage(*window, image));
    if (edited)
        editFirstShape(*window);
    QVERIFY(writeVoc(image, {QStringLiteral("dog"), QStringLiteral("fox")}));
    const QByteArray theirs = readBytes(vocPath(image));
    const auto shownLabels = [&] {
        QStringList labels;
        for (const Annotation &a : window->scene()->annotations())
            labels.append(a.label);
        labels.sort();
        return labels;
    };
    if (edited) {
        QTRY_COMPARE(window->toast()->text(),
                     QStringLiteral("另一个程序修改了此图的标注文件。按 F5 重新读取（会放弃你的修改）"));
        QCOMPARE(shownLabels(), QStringList{QStringLiteral("cat")});
        QTest::keyClick(window.get(), Qt::Key_Right);
        QCOMPARE(window->currentImagePath(), image);
        QVERIFY(window->isDirty());
        QCOMPARE(window->toast()->text(),
                 QStringLiteral("未保存：另一个程序修改了此图的标注文件。按 F5 重新读取（会放弃你的修改）"));
        QCOMPARE(readBytes(vocPath(image)), theirs);
        QTest::keyClick(window.get(), Qt::Key_F5);
    } else {
        QTRY_COMPARE(window->toast()->text(), QStringLiteral("另一个程序修改了此图的标注文件，已重新读取"));
    }
    QCOMPARE(shownLabels(), QStringList({QStringLiteral("dog"), QStringLiteral("fox")}));
    QVERIFY(!window->isDirty());
    QCOMPARE(window->session()->imageState(image).confirmed, 2);
    // An edit now is an edit of theirs.
    editFirstShape(*window);
    QTest::keyClick(window.get(), Qt::Key_Right);
    QVERIFY(waitForImage(*window, m_images.at(1)));
    QCOMPARE(loadAnnotations(image).size(), 2);
    QVERIFY(readBytes(vocPath(image)) != theirs);
}

void TestMainWindow::stepping_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("unlabelledOnly");
    QTest::addColumn<int>("expected");   // -1: stays

    QTest::newRow("next on the last wraps to the first") << 3 << 1 << false << 0;
    QTest::newRow("previous on the first wraps to the last") << 0 << -1 << false << 3;
    QTest::newRow("next skips labelled images under the filter") << 0 << 1 << true << 2;
    QTest::newRow("previous skips labelled images under the filter") << 2 << -1 << true << 0;
}

void TestMainWindow::stepping()
{
    QFETCH(int, start);
    QFETCH(int, step);
    QFETCH(bool, unlabelledOnly);
    QFETCH(int, expected);
    QVERIFY(writeVoc(m_images.at(1), {QStringLiteral("cat")}));
    QVERIFY(writeVoc(m_images.at(3), {QStringLiteral("cat")}));
    auto window = openWindow(m_images.at(start));
    QVERIFY(window);
    QVERIFY(waitForImage(*window, m_images.at(start)));
    QTRY_COMPARE(window->session()->imageState(m_images.at(1)).confirmed, 1);
    QTRY_COMPARE(window->session()->imageState(m_images.at(3)).confirmed, 1);
    if (unlabelledOnly) {
        const auto buttons = window->fileList()->findChildren<QToolButton *>();
        for (QToolButton *button : buttons) {
            if (button->text() == QStringLiteral("未标注"))
                QTest::mouseClick(button, Qt::LeftButton);
        }
        QCOMPARE(window->fileList()->filter(), 1);
    }
    QTest::keyClick(window.get(), step > 0 ? Qt::Key_Right : Qt::Key_Left);
    QCOMPARE(window->currentImagePath(), m_images.at(expected));
}

void TestMainWindow::markCheckedKey_data()
{
    QTest::addColumn<bool>("yolo");         // the folder's format of new label files
    QTest::addColumn<bool>("withShapes");   // the image has a shape: V saves it
    QTest::newRow("VOC, no shapes: an empty annotation, undoable") << false << false;
    QTest::newRow("YOLO, no shapes: an empty txt, undoable") << true << false;
    QTest::newRow("a drawn shape: V saves it") << false << true;
}

// V on an image without shapes marks it as checked and empty: a background image with a label
// file of no objects, listed apart from the unlabelled ones; Ctrl+Z takes the file back.
void TestMainWindow::markCheckedKey()
{
    QFETCH(bool, yolo);
    QFETCH(bool, withShapes);
    auto window = openWindow(m_dir);
    QVERIFY(window);
    QVERIFY(waitForImage(*window, m_images.at(0)));
    QTRY_VERIFY(!window->session()->isListing());
    if (yolo) {
        window->actions().formatYolo->trigger();
        QVERIFY(window->session()->useYolo());
    }
    const QString image = m_images.at(0);
    const QString file = yolo ? yoloLabelPath(image) : vocXmlPath(image);
    if (withShapes) {
        window->editor()->addShape(box(QString(), QRectF(10, 10, 30, 20)), QStringLiteral("cat"));
        QVERIFY(window->isDirty());
    }
    FileListPanel *list = window->fileList();
    QTest::keyClick(window.get(), Qt::Key_V);
    QVERIFY(QFileInfo::exists(file));
    QVERIFY(!window->isDirty());
    QCOMPARE(countAnnotations(image), withShapes ? 1 : 0);
    QVERIFY(readStoredAnnotations(image).complete());
    const auto clickFilter = [list](int filter) {
        const auto buttons = list->findChildren<QToolButton *>();
        QTest::mouseClick(buttons.at(filter), Qt::LeftButton);
        QCOMPARE(list->filter(), filter);
    };
    if (withShapes) {
        QCOMPARE(window->toast()->text(), QStringLiteral("已保存，此图已检查"));
        QVERIFY(!window->session()->imageState(image).isBackground());
        return;
    }
    QCOMPARE(window->toast()->text(), QStringLiteral("已标记为背景图（无目标）"));
    QVERIFY(window->session()->imageState(image).isBackground());
    clickFilter(FileListPanel::BackgroundFiles);
    QVERIFY(list->isShown(image));
    QCOMPARE(list->shownCount(), 1);
    clickFilter(FileListPanel::UnlabelledFiles);
    QVERIFY(!list->isShown(image));
    QCOMPARE(list->shownCount(), 3);

    // Undo takes the file back: the image is unlabelled again; redo marks it again.
    QTest::keyClick(window.get(), Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(!QFileInfo::exists(file));
    QVERIFY(list->isShown(image));
    QTest::keyClick(window.get(), Qt::Key_Y, Qt::ControlModifier);
    QVERIFY(QFileInfo::exists(file));
    QVERIFY(!list->isShown(image));
    QVERIFY(!window->isDirty());

    // Stepping on saves nothing over it, and the state stays.
    QTest::keyClick(window.get(), Qt::Key_PageDown);
    QVERIFY(waitForImage(*window, m_images.at(1)));
    QCOMPARE(countAnnotations(image), 0);
    QVERIFY(window->session()->imageState(image).isBackground());
    clickFilter(FileListPanel::BackgroundFiles);
    QVERIFY(list->isShown(image));
}

void TestMainWindow::deleteImage_data()
{
    QTest::addColumn<int>("imageCount");
    QTest::addColumn<int>("deleted");
    QTest::addColumn<int>("successor");   // -1: none, the empty state shows

    QTest::newRow("current image in the middle") << 4 << 1 << 2;
    QTest::newRow("last image shows the one before") << 4 << 3 << 2;
    QTest::newRow("only image leaves the empty state") << 1 << 0 << -1;
}

void TestMainWindow::deleteImage()
{
    QFETCH(int, imageCount);
    QFETCH(int, deleted);
    QFETCH(int, successor);
    for (int i = imageCount; i < m_images.size(); ++i)
        QVERIFY(QFile::remove(m_images.at(i)));
    const QString victim = m_images.at(deleted);
    QVERIFY(writeVoc(victim, {QStringLiteral("cat")}));
    QVERIFY(writeBytes(m_dir + QStringLiteral("/labels/img%1.txt").arg(deleted + 1), "0 0.5 0.5 0.1 0.1\n"));
    auto window = openWindow(victim);
    QVERIFY(window);
    QVERIFY(waitForImage(*window, victim));

    answerMessageBox(QStringLiteral("删除"));
    window->deleteImage(victim);
    QVERIFY(!QFile::exists(victim));
    QVERIFY(!QFile::exists(vocPath(victim)));
    QVERIFY(!QFile::exists(m_dir + QStringLiteral("/labels/img%1.txt").arg(deleted + 1)));
    // The labels went to the trash with the image, so restoring them restores both.
    const QStringList trashed = trashedFiles();
    QVERIFY2(trashed.contains(QFileInfo(victim).fileName()), qPrintable(trashed.join(u',')));
    QVERIFY2(trashed.contains(QStringLiteral("img%1.xml").arg(deleted + 1)), qPrintable(trashed.join(u',')));
    QVERIFY2(trashed.contains(QStringLiteral("img%1.txt").arg(deleted + 1)), qPrintable(trashed.join(u',')));
    QVERIFY(!window->session()->imagePaths().contains(victim));
    QCOMPARE(window->toast()->text(), QStringLiteral("已删除 %1").arg(QFileInfo(victim).fileName()));
    if (successor < 0) {
        QVERIFY(window->currentImagePath().isEmpty());
        QVERIFY(window->emptyState()->isVisible());
    } else {
        QCOMPARE(window->currentImagePath(), m_images.at(successor));
    }
}

void TestMainWindow::closeQuestion_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("closed");
    QTest::addColumn<bool>("saved");
    QTest::newRow("save and quit") << "保存并退出" << true << true;
    QTest::newRow("discard") << "放弃修改" << true << false;
    QTest::newRow("cancel") << "取消" << false << false;
}

void TestMainWindow::closeQuestion()
{
    QFETCH(QString, answer);
    QFETCH(bool, closed);
    QFETCH(bool, saved);
    QVERIFY(writeVoc(m_images.at(0), {QStringLiteral("cat")}));
    const QByteArray original = readBytes(vocPath(m_images.at(0)));
    auto window = openWindow(m_dir);
    QVERIFY(window);
    QVERIFY(waitForImage(*window, m_images.at(0)));
    editFirstShape(*window);
    QString question;
    answerMessageBox(answer, &question);
    QCOMPARE(window->close(), closed);
    QCOMPARE(question, QStringLiteral("当前图片有未保存的修改，要如何处理？"));
    QCOMPARE(window->isVisible(), !closed);
    QCOMPARE(readBytes(vocPath(m_images.at(0))) != original, saved);
    QCOMPARE(window->isDirty(), !closed);
}

void TestMainWindow::openAnotherFolderWithEdits_data()
{
    QTest::addColumn<bool>("saveFails");
    QTest::newRow("edits saved first") << false;
    QTest::newRow("failing save stays in the folder") << true;
}

void TestMainWindow::openAnotherFolderWithEdits()
{
    QFETCH(bool, saveFails);
    QVERIFY(writeVoc(m_images.at(0), {QStringLiteral("cat")}));
    const QString other = m_tmp->path() + QStringLiteral("/other");
    QVERIFY(!makeImages(other, 2).isEmpty());
    auto window = openWindow(m_dir);
    QVERIFY(window);
    QVERIFY(waitForImage(*window, m_images.at(0)));
    editFirstShape(*window);
    std::unique_ptr<Fixtures::ReadOnlyDirectory> lock;
    if (saveFails) {
        lock = std::make_unique<Fixtures::ReadOnlyDirectory>(m_dir + QStringLiteral("/annotations"));
        if (!lock->ok())
            QSKIP("cannot make a directory read-only here");
    }
    window->openDirectory(other);
    if (saveFails) {
        QCOMPARE(window->currentDirectory(), m_dir);
        QCOMPARE(window->currentImagePath(), m_images.at(0));
        QVERIFY(window->isDirty());
        QCOMPARE(window->toast()->text(), QStringLiteral("保存失败：无法写入标注文件"));
    } else {
        QCOMPARE(window->currentDirectory(), other);
        QCOMPARE(loadAnnotations(m_images.at(0)).first().rect, QRectF(15, 13, 20, 30));
        QVERIFY(waitForImage(*window, other + QStringLiteral("/img1.png")));
    }
}


void TestMainWindow::formatMenuAndComboAgree()
{
    auto window = openWindow();
    QVERIFY(window);
    window->statusPanel()->formatCombo()->setCurrentIndex(1);
    QVERIFY(window->session()->useYolo());
    QVERIFY(window->actions().formatYolo->isChecked());
    window->actions().formatVoc->trigger();
    QVERIFY(!window->session()->useYolo());
    QCOMPARE(window->statusPanel()->formatCombo()->currentIndex(), 0);
    QCOMPARE(QSettings(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark")).value(QStringLiteral("format")).toString(),
             QStringLiteral("voc"));
}

void TestMainWindow::formatFollowsDataset_data()
{
    QTest::addColumn<QString>("layout");    // Layouts::build
    QTest::addColumn<QString>("setting");   // the format chosen last, in another folder
    QTest::addColumn<bool>("folderYolo");   // what the status bar shows for the folder

    QTest::newRow("Ultralytics images/train, labels/train, data.yaml; setting VOC")
        << "ultralytics list" << "voc" << true;
    QTest::newRow("VOCdevkit; setting YOLO") << "voc devkit" << "yolo" << false;
    // Shown as DOTA, fixed: its new label files are DOTA whatever was chosen.
    QTest::newRow("DOTA images/ and labelTxt/; setting YOLO") << "dota" << "yolo" << false;
}

// A nudge saved in the real window rewrites the image's own file in its format and place; the
// other format is never made, and the dataset's names file is never touched.
void TestMainWindow::formatFollowsDataset()
{
    QFETCH(QString, layout);
    QFETCH(QString, setting);
    QFETCH(bool, folderYolo);
    const QString root = m_tmp->path() + QStringLiteral("/other");
    const Layouts::Layout l = Layouts::build(root, layout);
    QVERIFY(!l.image.isEmpty());
    if (l.labelFile.endsWith(QStringLiteral(".xml"))) {
        QByteArray xml = Layouts::vocXml({QStringLiteral("dog"), QStringLiteral("person")});
        xml.replace("<truncated>0</truncated>", "<truncated>0</truncated><difficult>1</difficult>");
        QVERIFY(writeBytes(l.labelFile, xml));
    }
    QHash<QString, QByteArray> untouched;
    for (const QString &file : std::as_const(l.untouchable))
        untouched.insert(file, readBytes(file));
    const QByteArray labelsBefore = readBytes(l.labelFile);
    QSettings(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark")).setValue(QStringLiteral("format"), setting);

    auto window = openWindow(QFileInfo(l.image).absolutePath());
    QVERIFY(window);
    QVERIFY(waitForImage(*window, l.image));
    QTRY_COMPARE(window->statusPanel()->formatCombo()->currentIndex(), folderYolo ? 1 : 0);
    // A DOTA folder's choice is disabled: what it holds decides nothing.
    const bool dota = layout == QStringLiteral("dota");
    if (!dota)
        QCOMPARE(window->actions().formatYolo->isChecked(), folderYolo);
    QCOMPARE(window->statusPanel()->formatCombo()->currentText() == QStringLiteral("DOTA"), dota);
    QCOMPARE(window->statusPanel()->formatCombo()->isEnabled(), !dota);
    QCOMPARE(window->actions().formatYolo->isEnabled(), !dota);
    editFirstShape(*window);
    QVERIFY(window->saveCurrent());

    QVERIFY(readBytes(l.labelFile) != labelsBefore);
    QCOMPARE(readStoredAnnotations(l.image).file, l.labelFile);
    const QList<Annotation> saved = loadAnnotations(l.image);
    QCOMPARE(saved.size(), l.labels.size());
    if (dota)
        QVERIFY(readBytes(l.labelFile).startsWith("imagesource:GoogleEarth\ngsd:0.146343590398\n"));
    if (!folderYolo) {
        QVERIFY(saved.last().difficult);
        QVERIFY(!QFileInfo::exists(yoloLabelPath(l.image)));
        QVERIFY(!QFileInfo::exists(labelsDirFor(l.image) + QStringLiteral("/classes.txt")));
    } else {
        QVERIFY(!QFileInfo::exists(vocXmlPath(l.image)));
    }
    for (auto it = untouched.cbegin(); it != untouched.cend(); ++it)
        QCOMPARE(readBytes(it.key()), it.value());
    QVERIFY(trashedFiles().isEmpty());
    // The last explicit choice stays what it was: the folder's format was not chosen.
    QVERIFY(window->close());
    QCOMPARE(QSettings(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark")).value(QStringLiteral("format")).toString(),
             setting);
}

void TestMainWindow::formatRememberedPerFolder_data()
{
    QTest::addColumn<int>("chosen");   // the status bar's row: 1 YOLO, 2 labelme
    QTest::newRow("YOLO") << 1;
    // No file tells a folder without labels that it is labelme's: the choice itself is kept.
    QTest::newRow("labelme") << 2;
}

// A choice in the status bar holds for that folder, also in the next window; another folder
// without labels starts with the last choice made anywhere.
void TestMainWindow::formatRememberedPerFolder()
{
    QFETCH(int, chosen);
    const QString other = m_tmp->path() + QStringLiteral("/other");
    const QStringList otherImages = makeImages(other, 1);
    auto window = openWindow(m_dir);
    QVERIFY(window);
    QVERIFY(waitForImage(*window, m_images.at(0)));
    QCOMPARE(window->statusPanel()->formatCombo()->currentIndex(), 0);
    window->statusPanel()->formatCombo()->setCurrentIndex(chosen);

    window->openDirectory(other);
    QVERIFY(waitForImage(*window, otherImages.at(0)));
    // labelme is a folder's own: a new folder starts with the last YOLO or VOC choice.
    QCOMPARE(window->session()->useYolo(), chosen == 1);
    window->actions().formatVoc->trigger();

    window->openDirectory(m_dir);
    QVERIFY(waitForImage(*window, m_images.at(0)));
    QTRY_VERIFY(!window->session()->isListing());
    QCOMPARE(window->statusPanel()->formatCombo()->currentIndex(), chosen);
    QVERIFY(window->close());
    window.reset();

    window = openWindow(m_dir);
    QVERIFY(window);
    QVERIFY(waitForImage(*window, m_images.at(0)));
    QTRY_VERIFY(!window->session()->isListing());
    QCOMPARE(window->statusPanel()->formatCombo()->currentIndex(), chosen);
    // A new label file of this folder follows it.
    QVERIFY(window->editor()->addShape(box(QString(), QRectF(10, 10, 40, 30)), QStringLiteral("cat")) != 0);
    QVERIFY(window->saveCurrent());
    const QString expected = chosen == 1 ? yoloLabelPath(m_images.at(0)) : labelmeJsonPath(m_images.at(0));
    QCOMPARE(readStoredAnnotations(m_images.at(0)).file, expected);
    QCOMPARE(loadAnnotations(m_images.at(0)).size(), 1);
    QVERIFY(!QFileInfo::exists(vocXmlPath(m_images.at(0))));
}

// A data.yaml that yaml-cpp cannot parse is the dataset's, not the image's: the save refuses
// naming it, and it is never moved to the trash or rewritten.
void TestMainWindow::unreadableNamesFileNeverTrashed()
{
    const QString root = m_tmp->path() + QStringLiteral("/other");
    const Layouts::Layout l = Layouts::build(root, QStringLiteral("ultralytics list"));
    QVERIFY(!l.image.isEmpty());
    const QString yaml = root + QStringLiteral("/ul/data.yaml");
    const QByteArray broken("path: ../ul\ntrain: images/train\nnames: [person, car\n");
    QVERIFY(writeBytes(yaml, broken));
    const QByteArray labelsBefore = readBytes(l.labelFile);

    auto window = openWindow(QFileInfo(l.image).absolutePath());
    QVERIFY(window);
    QVERIFY(waitForImage(*window, l.image));
    const QString told = window->toast()->text();
    QVERIFY2(told.contains(QStringLiteral("data.yaml")) && told.contains(QStringLiteral("类别")), qPrintable(told));
    editFirstShape(*window);
    QVERIFY(!window->saveCurrent());
    QVERIFY2(window->toast()->text().contains(QDir::toNativeSeparators(yaml)), qPrintable(window->toast()->text()));
    QVERIFY(window->isDirty());
    QCOMPARE(readBytes(yaml), broken);
    QCOMPARE(readBytes(l.labelFile), labelsBefore);
    QVERIFY(trashedFiles().isEmpty());
    window->editor()->markSaved();
}

// Converting is an explicit act: asked first, every label file of the folder converted, the
// folder's format follows, and the user is told what was done.
void TestMainWindow::convertFolderCommand()
{
    QVERIFY(writeVoc(m_images.at(0), {QStringLiteral("cat")}));
    QVERIFY(saveAnnotations(m_images.at(1), {box(QStringLiteral("dog"), QRectF(10, 10, 40, 30))}, true, {}));
    auto window = openWindow(m_dir);
    QVERIFY(window);
    QVERIFY(waitForImage(*window, m_images.at(0)));
    QTRY_VERIFY(!window->session()->isListing());

    // Cancelled: nothing changes.
    answerMessageBox(QStringLiteral("取消"));
    window->actions().convertToYolo->trigger();
    QVERIFY(QFileInfo::exists(vocPath(m_images.at(0))));

    QString question;
    QString report;
    answerMessageBox(QStringLiteral("转换"), &question);
    whenShown([&report] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || box->buttons().size() != 1)
            return false;   // not the report (the question has two buttons)
        report = box->text();
        box->buttons().first()->click();
        return true;
    });
    window->actions().convertToYolo->trigger();
    QVERIFY2(question.contains(QStringLiteral("YOLO")), qPrintable(question));
    QVERIFY2(report.contains(QStringLiteral("2")) && report.contains(QStringLiteral("YOLO")), qPrintable(report));
    for (int i = 0; i < 2; ++i) {
        QVERIFY(!QFileInfo::exists(vocPath(m_images.at(i))));
        QVERIFY(QFileInfo::exists(yoloLabelPath(m_images.at(i))));
    }
    QCOMPARE(loadAnnotations(m_images.at(0)).first().label, QStringLiteral("cat"));
    QVERIFY(!QFileInfo::exists(yoloLabelPath(m_images.at(2))));   // unlabelled images stay so
    QCOMPARE(window->statusPanel()->formatCombo()->currentIndex(), 1);
}

void TestMainWindow::convertFolderToDota_data()
{
    QTest::addColumn<QString>("folder");   // below the temporary folder
    QTest::addColumn<bool>("possible");
    QTest::newRow("an images/ folder: into ../labelTxt/") << "dota/images" << true;
    QTest::newRow("any other folder has no place for DOTA files") << "plain" << false;
}

void TestMainWindow::convertFolderToDota()
{
    QFETCH(QString, folder);
    QFETCH(bool, possible);
    const QString dir = m_tmp->path() + QLatin1Char('/') + folder;
    const QStringList images = WindowFixture::makeImages(dir, 2);
    QVERIFY(saveAnnotations(images.at(0), {box(QStringLiteral("dog"), QRectF(10, 10, 40, 30))}, true, {}));
    auto window = openWindow(dir);
    QVERIFY(window);
    QVERIFY(waitForImage(*window, images.at(0)));
    QTRY_VERIFY(!window->session()->isListing());
    QCOMPARE(window->actions().convertToDota->isEnabled(), possible);
    if (!possible)
        return;
    QString question, report;
    answerMessageBox(QStringLiteral("转换"), &question);
    whenShown([&report] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || box->buttons().size() != 1)
            return false;
        report = box->text();
        box->buttons().first()->click();
        return true;
    });
    window->actions().convertToDota->trigger();
    QVERIFY2(question.contains(QStringLiteral("DOTA")), qPrintable(question));
    QVERIFY2(report.contains(QStringLiteral("DOTA")), qPrintable(report));
    const QString dota =
        m_tmp->path() + QStringLiteral("/dota/labelTxt/") + QFileInfo(images.at(0)).completeBaseName() + ".txt";
    QCOMPARE(readStoredAnnotations(images.at(0)).file, dota);
    QCOMPARE(loadAnnotations(images.at(0)).first().label, QStringLiteral("dog"));
    QVERIFY(!QFileInfo::exists(yoloLabelPath(images.at(0))));
    QVERIFY(!QFileInfo::exists(dotaLabelPath(images.at(1))));   // unlabelled images stay so
    QCOMPARE(window->statusPanel()->formatCombo()->currentText(), QStringLiteral("DOTA"));
}


void TestMainWindow::dropUrls_data()
{
    QTest::addColumn<QStringList>("names");   // relative to the temporary root
    QTest::addColumn<QString>("expectedDir");  // empty: nothing opens

    QTest::newRow("text file then image opens the image's folder")
        << QStringList{"notes.txt", "ds/img3.png"} << "ds";
    QTest::newRow("folder first") << QStringList{"ds", "notes.txt"} << "ds";
    QTest::newRow("only unsupported files") << QStringList{"notes.txt", "clip.gif"} << "";
}

void TestMainWindow::dropUrls()
{
    QFETCH(QStringList, names);
    QFETCH(QString, expectedDir);
    QVERIFY(writeBytes(m_tmp->path() + QStringLiteral("/notes.txt"), "x"));
    QVERIFY(writeBytes(m_tmp->path() + QStringLiteral("/clip.gif"), "GIF89a"));
    auto window = openWindow();
    QVERIFY(window);
    QList<QUrl> urls;
    for (const QString &name : names)
        urls.append(QUrl::fromLocalFile(m_tmp->path() + QLatin1Char('/') + name));
    auto *data = new QMimeData;
    data->setUrls(urls);
    // As a drag from a file manager arrives: enter, then drop.
    QDragEnterEvent enter(QPoint(300, 300), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(300, 300), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &drop);
    delete data;
    if (expectedDir.isEmpty()) {
        QVERIFY(window->currentDirectory().isEmpty());
    } else {
        QCOMPARE(window->currentDirectory(), m_tmp->path() + QLatin1Char('/') + expectedDir);
        const QString expectedImage = names.first().endsWith(u".txt") ? m_images.at(2) : m_images.at(0);
        QVERIFY(waitForImage(*window, expectedImage));
    }
}

void TestMainWindow::undecodableImages_data()
{
    QTest::addColumn<bool>("huge");       // img2 claims 20000x20000 pixels, else it is no image at all
    QTest::addColumn<QString>("action");  // "select" the row, or step with "right" / "left"
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("shown");
    QTest::addColumn<QString>("toast");
    QTest::newRow("selecting it keeps the image shown") << false << "select" << 0 << 0 << "图片解码失败：img2.png";
    QTest::newRow("a huge one is named as such") << true << "select" << 0 << 0 << "图片过大：img2.png";
    QTest::newRow("→ steps over it") << false << "right" << 0 << 2 << "无法解码，已跳过：img2.png";
    QTest::newRow("← steps over it") << true << "left" << 2 << 0 << "无法解码，已跳过：img2.png";
    QTest::newRow("a folder that starts with it opens at the next") << false << "" << -1 << 2
                                                                     << "无法解码，已跳过：img2.png";
}

void TestMainWindow::undecodableImages()
{
    QFETCH(bool, huge);
    QFETCH(QString, action);
    QFETCH(int, start);
    QFETCH(int, shown);
    QFETCH(QString, toast);
    if (start < 0) {
        QVERIFY(QFile::remove(m_images.at(0)));
        m_images.removeFirst();
        m_images.prepend(QString());
    }
    const QString broken = m_dir + QStringLiteral("/img2.png");
    QVERIFY(huge ? Fixtures::makeClaimedPng(broken, 20000, 20000) : writeBytes(broken, "not an image at all"));
    auto window = openWindow(start < 0 ? m_dir : m_images.at(start));
    QVERIFY(window);
    QVERIFY(waitForImage(*window, m_images.at(start < 0 ? shown : start)));
    if (action == u"select")
        QVERIFY(!window->showImage(broken));
    else if (!action.isEmpty())
        QTest::keyClick(window.get(), action == u"right" ? Qt::Key_Right : Qt::Key_Left);
    QCOMPARE(window->currentImagePath(), m_images.at(shown));
    QCOMPARE(window->toast()->text(), toast);
}

void TestMainWindow::damagedLabelFileTrashedOnFirstSave_data()
{
    QTest::addColumn<QByteArray>("damaged");
    QTest::addColumn<int>("shown");
    const QByteArray cat = "<object><name>cat</name><bndbox><xmin>1</xmin><ymin>1</ymin><xmax>30</xmax><ymax>30</ymax>"
                           "</bndbox></object>";
    QTest::newRow("XML error after the first object")
        << QByteArray("<annotation>" + cat + "<object><name>d<b/>og</name>") << 1;
    // Reversed corners are the box they mean; a zero-width box and an empty name cannot be shown.
    QTest::newRow("objects it cannot use")
        << QByteArray("<annotation>" + cat
                      + "<object><name>dog</name><bndbox><xmin>60</xmin><ymin>60</ymin><xmax>40</xmax><ymax>40</ymax>"
                        "</bndbox></object><object><name>zero</name><bndbox><xmin>5</xmin><ymin>5</ymin><xmax>5</xmax>"
                        "<ymax>40</ymax></bndbox></object><object><name></name><bndbox><xmin>1</xmin><ymin>1</ymin>"
                        "<xmax>9</xmax><ymax>9</ymax></bndbox></object></annotation>")
        << 2;
}

void TestMainWindow::damagedLabelFileTrashedOnFirstSave()
{
    QFETCH(QByteArray, damaged);
    QFETCH(int, shown);
    QVERIFY(writeBytes(vocPath(m_images.at(0)), damaged));
    auto window = openWindow(m_dir);
    QVERIFY(window);
    QVERIFY(waitForImage(*window, m_images.at(0)));
    QCOMPARE(window->scene()->annotations().size(), shown);
    QVERIFY2(window->toast()->text().contains(QStringLiteral("img1.xml")), qPrintable(window->toast()->text()));
    editFirstShape(*window);
    QVERIFY(window->saveCurrent());
    QVERIFY(trashedFiles().contains(QStringLiteral("img1.xml")));
    QCOMPARE(loadAnnotations(m_images.at(0)).size(), shown);
    const QString trashedCopy = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Trash/files/img1.xml");
    QCOMPARE(readBytes(trashedCopy), damaged);
}

void TestMainWindow::largePhotoOpens()
{
    // 105 megapixels: beyond the image reader's default allocation limit when decoded in full.
    QImage huge(10240, 10240, QImage::Format_Grayscale8);
    huge.fill(128);
    const QString path = m_dir + QStringLiteral("/huge.jpg");
    QVERIFY(huge.save(path, "JPEG", 50));
    huge = QImage();
    auto window = openWindow(path);
    QVERIFY(window);
    QVERIFY(waitForImage(*window, path));
    QCOMPARE(window->currentImageSize(), QSize(10240, 10240));
    QCOMPARE(window->view()->imageSize(), QSize(10240, 10240));
}


// A dataset root keeps its images in subfolders: the window says so and opens one on a click.
void TestMainWindow::datasetRootOffersSubfolders()
{
    const QString root = m_tmp->path() + QStringLiteral("/dataset");
    QVERIFY(makeImage(root + QStringLiteral("/images/train/a.png")));
    QVERIFY(makeImage(root + QStringLiteral("/images/val/b.png")));
    QVERIFY(writeBytes(root + QStringLiteral("/labels/train/a.txt"), "0 0.5 0.5 0.2 0.2\n"));
    QVERIFY(writeBytes(root + QStringLiteral("/data.yaml"), "names: [cat]\n"));
    auto window = openWindow(root);
    QVERIFY(window);
    QTRY_VERIFY(!window->session()->isListing());
    QTRY_VERIFY(window->emptyState()->isVisible());
    QCOMPARE(window->emptyState()->subfolders(),
             (QStringList{root + QStringLiteral("/images/train"), root + QStringLiteral("/images/val")}));
    QCOMPARE(window->emptyState()->hintText(), QStringLiteral("这个目录里没有图片，它的子目录里有："));
    QPushButton *train = nullptr;
    for (QPushButton *button : window->emptyState()->findChildren<QPushButton *>()) {
        if (button->text() == QStringLiteral("images/train"))
            train = button;
    }
    QVERIFY(train && train->isVisible());
    QTest::mouseClick(train, Qt::LeftButton);
    QVERIFY(waitForImage(*window, root + QStringLiteral("/images/train/a.png")));
    QVERIFY(!window->emptyState()->isVisible());
}


BRINDLE_WINDOW_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
