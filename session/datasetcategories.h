#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

class CategoryHistory;
class CategoryUsageCounter;

// The categories of the open dataset, the one answer to "which categories does it have" for the
// category panel and the keys 1-9, the label dialog, both label checks and every save: the class
// list of the image's labels folder (classes.txt, obj.names, data.yaml, ...), then the names used
// in the dataset in the order first used (history()), without those the user deleted.
//
// Per dataset (the folder holding the image folder and its label folders): a category added in one
// is not offered in another whose class list does not name it; a dataset without a class list
// starts from its own labels' names. The names of datasets left are kept for the session and in
// the settings. Owner's thread only.
class DatasetCategories : public QObject
{
    Q_OBJECT

public:
    // Nothing is stored (the command line); restoreStored makes it the window's.
    explicit DatasetCategories(QObject *parent = nullptr);
    ~DatasetCategories() override;

    // The names the settings hold and stores every change there: the categories of the dataset
    // last open (taken by the first dataset opened when the settings do not say which).
    void restoreStored(const QStringList &labels, const QStringList &deleted);
    // While held (a window's launch), which dataset the names belong to is not written yet;
    // released, it is.
    void holdDatasetStore(bool hold);

    // The open dataset's names in first-use order, the one offered next, deletions.
    CategoryHistory *history() const { return m_history; }
    QString dataset() const { return m_dataset; }

    // The folder opened: its dataset's names take the place of the last one's.
    void openFolder(const QString &imageDir);
    // The image shown: the class list of its labels folder, read again when reread (a save may
    // have started or grown it). True when the class list changed.
    bool showImage(const QString &imagePath, bool reread = false);
    QStringList classList() const { return m_classList; }
    // A labelme folder without a class list takes labelme's own list beside it (labels.txt,
    // flags.txt; read only). The session says so as the folder's format is known; the class
    // list of the image shown is read again, classListChanged when it changed.
    void setLabelmeFolder(bool labelme);
    // Of labels, those that another tool's names file holding the class list of the image shown
    // (data.yaml, dataset.yaml, obj.names) lacks; none when the list is ours (classes.txt grows
    // with a save) or there is none. namesFile() is that file.
    QStringList lackedByNamesFile(const QStringList &labels) const;
    QString namesFile() const { return m_namesFile; }
    // Appends labels to that file, every other byte kept, and reads the class list again. False
    // when it could not be written; the file is then as it was.
    bool addToNamesFile(const QStringList &labels);

    // The rows of the panel, which the keys 1-9 follow: the class list, then the names in first-use
    // order; a deleted category leaves them even where the class list names it.
    QStringList rows() const;
    // What a label check holds labels against: the class list; without one, the names in use
    // (none on the command line, which records none).
    QStringList checkedClasses() const;

    // Counts on a worker the label files of paths (except skip's) that hold label; usageCounted
    // follows, only for the latest count asked for.
    void countUsage(const QString &label, const QStringList &paths, const QString &skip);
    void stopCounting();

signals:
    void classListChanged();
    void usageCounted(const QString &label, int files);

private:
    struct Names
    {
        QStringList labels;
        QStringList deleted;
    };
    void storeDataset();

    CategoryHistory *m_history;
    CategoryUsageCounter *m_usageCounter;
    QString m_countedLabel;    // asked for, waiting for its file count
    bool m_stored = false;
    bool m_claimed = false;    // a dataset has taken the names the settings held
    bool m_holdDatasetStore = false;
    bool m_datasetUnstored = false;
    QString m_dataset;
    QHash<QString, Names> m_left;   // datasets left during this session
    QStringList m_classList;
    QString m_classListDir;    // the labels folder it was read for
    QString m_namesFile;       // another tool's file that holds it; empty for ours or none
    QString m_classListImage;  // the image it was read for
    bool m_labelme = false;    // the open folder's labels are labelme's
};
