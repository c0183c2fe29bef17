#pragma once

#include "session/autolabelresults.h"
#include "session/cocoimport.h"
#include "session/imagestate.h"
#include "storage/annotation.h"
#include "storage/filestamp.h"
#include "storage/pendingfile.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

class DatasetCategories;
class DirectoryLoader;
class FileStateScanner;
class LabelFileStamps;
class LabelFileReader;
class LiveAnnotations;
class PendingResults;
class QTimer;
struct NamesFileNotice;
struct SaveReport;
struct StoredAnnotations;

// The open image folder, shared by the window and the command-line runs: its listing, the
// per-image annotation cache and counts, the pending results file, and the rules for loading,
// saving, merging model results and deleting images. No widgets; it never asks the user anything
// (its owner asks first) and reports what the user should hear through notice().
//
// While an image is on screen its records live in the editor (setLiveAnnotations); the cache entry
// of that image is brought up to date whenever the pending file is written. Owner's thread only;
// the workers it owns report by queued signals.
class FolderSession : public QObject
{
    Q_OBJECT

public:
    explicit FolderSession(QObject *parent = nullptr);
    ~FolderSession() override;   // stops the workers; the owner calls close() to write first

    void setLiveAnnotations(const LiveAnnotations *live);
    // The open dataset's categories; their rows start a labels folder's class list when it has none yet.
    DatasetCategories *categories() const { return m_categories; }
    // Names that join the categories of the dataset opened next (or open): a run's classes.
    void setClassNames(const QStringList &names);
    QStringList classNames() const;
    // The format of the open folder's new label files (an image that has one keeps its file's
    // format and place): the format of the label files its images already have, decided once
    // when it is opened (the first the state scan meets, or a search when a save comes first),
    // else the fallback, which the owner sets before opening a folder.
    void setFallbackYolo(bool yolo) { setFallbackFormat(yolo ? LabelFormat::Yolo : LabelFormat::Voc); }
    // VOC, YOLO or labelme; any other format is ignored.
    void setFallbackFormat(LabelFormat format);
    // The user's choice for the open folder: it decides the format of its new label files.
    void setUseYolo(bool yolo);
    void setFolderFormat(LabelFormat format);
    bool useYolo() const { return m_folderFormat == LabelFormat::Yolo; }
    LabelFormat folderFormat() const { return m_folderFormat; }
    // Whether confirmed model results of a category that another tool's class list (data.yaml,
    // obj.names) lacks may add it there; if not, they stay pending. Off by default.
    void setAddClassesToNamesFile(bool add) { m_addClasses = add; }

    // Reads dir's pending file ahead, before the folder is opened (while the window is built).
    // While held (a window's launch), the reads the first image does not need wait: the state
    // scan, and a pending file too large for the first image to wait for (its results for the
    // image on screen come by currentResultsArrived). Released, they start.
    void holdBackgroundReads(bool hold);
    void preload(const QString &dir);
    // Starts listing dir before it is opened (while the window is built); an open(dir) that
    // follows takes that listing on instead of starting another.
    void prelist(const QString &dir);
    // Another program (brindlemark-cli label, a second window) may write the pending file while
    // the folder is open: every write merges what it added or decided, and with watching on the
    // session also takes it in as soon as the file changes.
    void setWatchingPendingFile(bool watching);
    // Takes in what another program wrote to the pending file since this session last read or
    // wrote it: its new results join the cache (the image on screen through currentResultsArrived),
    // the results it decided leave it. In the background; nothing happens when the file is unchanged.
    void checkPendingFile();
    // Watches the label files of the image on screen: when another program changes them,
    // currentLabelsChangedElsewhere tells the owner, who reloads (reloadImage) or keeps the edits.
    void setWatchingLabelFiles(bool watching);
    // Writes the old folder's pending file, then lists dir on worker threads: pathsListed for
    // each chunk, listingFinished at the end, imageWanted when an image can be shown first (the
    // preferred one when it is listed, else the first). Unsaved edits are the owner's to save.
    void open(const QString &dir, const QString &preferredImage = QString());
    // The same on the calling thread, without counting every image's labels: for headless runs.
    void openNow(const QString &dir);
    // Stops the workers (waiting up to 3 s each) and writes the pending file; false when that
    // write failed.
    bool close();

    QString directory() const { return m_dir; }
    QStringList imagePaths() const { return m_imagePaths; }
    bool isListing() const { return m_listing; }
    // Images of the folder that cannot be opened: their names are not valid UTF-8.
    QStringList unlistableImages() const { return m_unlistable; }
    qsizetype indexOf(const QString &path) const;

    // The image on screen. enterImage makes path the current image and returns its records: the
    // cache entry (read again when another program changed the label file since it was read, with
    // its unconfirmed results that the file does not hold now), else its label file followed by
    // its results from the pending file. A large
    // label file is read on a worker instead: enterImage returns nothing, and the records come
    // by currentLabelsArrived; until then the image cannot be saved (saveImage fails).
    QList<Annotation> enterImage(const QString &path);
    // True while the labels of the image on screen are read on the worker.
    bool isReadingLabels(const QString &path) const;
    void leaveImage();
    // The current image's records read again from its label file, with its unconfirmed results
    // that the file does not hold now; the editor's records are replaced by them (its unsaved
    // edits are dropped: the owner asks first).
    QList<Annotation> reloadImage();
    // True when another program changed the image's label file since this session read or wrote it.
    bool labelFileChangedElsewhere(const QString &path) const;
    QString currentImage() const { return m_currentImage; }
    // The image before path in the folder's order, whatever the file list shows (the frame before
    // in a video or a burst); empty for the first.
    QString previousInFolder(const QString &path) const;

    struct CarriedShapes
    {
        QList<Annotation> shapes;   // for the target image, ids 0
        int outside = 0;            // shapes with nothing inside the target image: left out
    };
    // The confirmed, labelled shapes of source for target: at the same pixels when the two images
    // have the same size, else in the same proportions; clipped to target.
    CarriedShapes carryShapes(const QString &source, const QString &target);

    // Writes the confirmed, labelled records of an image to its label file (a damaged original
    // goes to the trash first), then the pending file. False, nothing changed, when it fails;
    // report tells which file refused the save (a link, or class names that cannot be read), or
    // that another program rewrote the label file since it was read (changedElsewhere).
    // An image without a label file and nothing to write keeps having none: an empty file makes
    // it a background image, which only markChecked does.
    bool saveImage(const QString &path, const QList<Annotation> &annotations, SaveReport *report = nullptr);

    // The image on screen is back as it was entered, without a label file (a paste saved and then
    // undone): the file this session wrote for it is removed, when unchanged since, instead of
    // being emptied, which would make the image a checked background. False when that does not
    // apply (the caller saves as usual).
    bool restoreUnlabelled(const QString &path, const QList<Annotation> &annotations);
    // False when the label file the image's edits go to cannot keep the "difficult" flag (YOLO).
    bool keepsDifficultFlag(const QString &path);
    // The dataset file (data.yaml) whose `kpt_shape` makes every row of the image's label file a
    // box with keypoints: no polygon or rotated box can be saved for it. Empty when its edits go
    // to a file that holds outlines.
    QString keypointRowsFile(const QString &path);

    // The empty label file that marks an image as checked and found empty (a background image).
    struct CheckedMark
    {
        QString file;      // empty: nothing was written
        FileStamp stamp;   // the file as written
    };
    // Writes an empty label file in the folder's format where a new label file of the image goes.
    // Nothing is written when the image has a label file already (it is checked: the file says
    // what it holds) or when the write fails (report tells why).
    CheckedMark markChecked(const QString &path, SaveReport *report = nullptr);
    // Takes a mark back: removes the file markChecked wrote, only while it is still the image's
    // label file and unchanged since. False when nothing was removed.
    bool unmarkChecked(const QString &path, const CheckedMark &mark);
    // The current image's records into the cache, then the pending file written when something
    // changed since the last write; in the background (no wait for the disk) when asked.
    // False when a write on this thread failed.
    bool flushPending(bool inBackground = false);

    ImageState imageState(const QString &path) const { return m_imageStates.value(path); }
    // Counts the image again (from the editor when on screen, else from the cache).
    void refreshImageState(const QString &path);
    void setFailed(const QString &path, bool failed);
    // The shapes of the image's labelme file that are kept as they are: shown, never edited. Known
    // once its records are (enterImage, currentLabelsArrived).
    QList<KeptShape> keptShapes(const QString &path) const { return m_fileNotes.value(path).keptShapes; }
    QList<Annotation> cachedAnnotations(const QString &path) const { return m_cache.value(path); }
    bool hasCachedAnnotations(const QString &path) const { return m_cache.contains(path); }

    struct MergeOutcome
    {
        QList<Annotation> kept;   // as stored
        int dropped = 0;          // repeated an existing shape
        // Confirmed results that could not be written (or whose label file holds records that
        // could not be read, which a rewrite would lose): they are kept as pending results instead.
        bool saveFailed = false;
        bool labelsUnreadable = false;
        QString unreadableNamesFile;   // the class-names file that made the write refuse
        QString keypointRowsFile;      // a pose dataset's file: a confirmed outline has no row there
        int unknownCategory = 0;       // confirmed results kept pending: the class list lacks them
        int outsideImage = 0;          // shapes wholly outside the image, left out of the label file
    };
    // A model's results for an image that is not on screen (in this folder or another): filtered
    // against what it has, stored in the cache and, when confirmed, in its label file; the pending
    // file follows within a few seconds.
    MergeOutcome mergeResults(const QString &path, const QList<Annotation> &results);

    struct Removal
    {
        bool removed = false;   // false: the image could not be moved to the trash; nothing changed
        bool wasCurrent = false;
        QString successor;      // the image to show next when it was the current one
    };
    // Moves the image and its label files to the trash and forgets it.
    Removal deleteImage(const QString &path);

    struct ConversionSummary
    {
        int converted = 0;
        int withoutLabels = 0;
        QStringList failed;   // images left as they were (unreadable labels or image, failed write)
    };
    // Converts the label file of every image of the folder (the owner saves the one on screen
    // first); new label files of the folder then get that format too.
    ConversionSummary convertFolder(LabelFormat to);
    // A COCO file's shapes into the label files of the folder's images (cocoimport.h). The owner
    // saves and leaves the image on screen first; the images written are read again.
    CocoImportSummary importCoco(const CocoDocument &document, bool merge);

    // Images without stored labels, in listing order (the auto-label scope).
    QStringList unlabelledImages() const;
    // Images with stored labels, in listing order, counted from disk where nothing is known.
    QStringList labelledImages() const;

signals:
    void pathsListed(const QStringList &paths);
    void listingFinished(const QStringList &paths);
    void imageWanted(const QString &path);
    // The first image of a listing, as soon as it is known: emitted on the listing's thread, for
    // a directly connected receiver that only starts work of its own there (decoding it while the
    // window is still being built). imageWanted follows on the session's thread as usual.
    void firstImageListed(const QString &dir, const QString &path);
    void imageStateChanged(const QString &path, const ImageState &state);
    // Results from the pending file for the image already on screen; the owner adds them to it.
    void currentResultsArrived(const QList<Annotation> &records);
    // The records of the image on screen whose label file was read on the worker; the owner
    // adds them to it (they are the image's stored records, not an edit).
    void currentLabelsArrived(const QList<Annotation> &records);
    // Another program changed the label file of the image on screen.
    void currentLabelsChangedElsewhere();
    // Something the user should be told (a damaged file, an unreadable pending file, ...).
    void notice(const QString &text);
    // A write of the pending file has ended.
    void pendingWritten(bool ok);
    // The format of the folder's new label files has been decided or chosen.
    void folderFormatChanged(LabelFormat format);

private:
    void resetFolder(const QString &dir);
    void onChunkReady(const QString &dir, const QStringList &paths);
    void onListingDone(const QString &dir, const QStringList &paths);
    void onPendingLoaded();
    void noticeUnlistable(const QString &dir, const QStringList &names);
    void dropUnlisted();
    void schedulePendingStates();
    void refreshSomePendingStates();
    void wantFirstImage();
    void onStateReady(const QString &path, int confirmed, bool labelFile);
    void onLabelFormatFound(const QString &path, LabelFormat format);
    LabelFormat newFileFormat();
    LabelFormat newFileFormatIn(const QString &dir);
    QList<Annotation> annotationsFor(const QString &path);
    QList<Annotation> takeStored(const QString &path, const StoredAnnotations &stored);
    bool rereadIfChanged(const QString &path);
    void reread(const QString &path);
    void onLabelsRead(const QString &path, const StoredAnnotations &stored);
    void noticeDamage(const QString &path);
    bool trashDamagedOriginal(const QString &path);
    void noticeNamesFile(const NamesFileNotice &notice);
    int holdUnknownCategories(const QString &path, bool inFolder, QList<Annotation> &results);

    DirectoryLoader *m_directoryLoader;
    FileStateScanner *m_stateScanner;
    LabelFileReader *m_labelReader;   // the big label file of the image on screen
    LabelFileStamps *m_labelStamps;   // the label files as read or written by us
    QTimer *m_stateTimer;
    const LiveAnnotations *m_live = nullptr;
    DatasetCategories *m_categories;
    LabelFormat m_fallbackFormat = LabelFormat::Voc;
    LabelFormat m_folderFormat = LabelFormat::Voc;
    bool m_addClasses = false;
    bool m_formatDecided = false;
    QHash<QString, LabelFormat> m_folderFormats;   // folders left during this session → their decided format

    QString m_dir;
    QStringList m_imagePaths;
    QStringList m_unlistable;
    bool m_listing = false;
    bool m_holdBackground = false;
    bool m_scanHeld = false;      // the listing ended while held: its scan starts on release
    // What opening the folder knows before its listing is in.
    struct Opening
    {
        QString firstFound;   // the listing's image to show first, before its chunks
        QString preferred;    // shown first once it is listed
        QString prelisted;    // a folder listed ahead of its open()
    };
    Opening m_opening;
    mutable qsizetype m_indexHint = 0;

    QStringList m_stateQueue;         // images whose pending count still has to be reported
    AnnotationCache m_cache;
    PendingResults *m_pending;        // the pending file; adds to and removes from m_cache
    QHash<QString, ImageState> m_imageStates;
    // What reading an image's label file left aside.
    struct FileNotes
    {
        QString damagedFile;        // the label file, which could not be read to its end
        QString unreadableNames;    // a class-names file that cannot be read
        QList<KeptShape> keptShapes;   // a labelme file's shapes not edited here
    };
    QHash<QString, FileNotes> m_fileNotes;
    QSet<QString> m_namesNoticesShown;        // other tools' names files the user was told about

    QString m_currentImage;
    bool m_enteredUnlabelled = false;   // the current image had no label file when entered
    CheckedMark m_writtenForCurrent;    // the label file this session last wrote for it
};
