#pragma once

#include <QFrame>
#include <QHash>
#include <QPixmap>
#include <QSet>
#include <QString>
#include <QStringList>

class QButtonGroup;
class QImage;
class QLabel;
class QListWidget;
class QTimer;
class QToolButton;
class ThumbLoader;

// The left panel: the images of the open directory with thumbnails and annotation states, a filter
// bar and a footer. It keeps no model: the window pushes paths and per-image counts into it.
// Rows are found by path through a hash and filtered by hiding, so tens of thousands stay fast.
class FileListPanel : public QFrame
{
    Q_OBJECT
public:
    // Background: checked and found empty (a label file without objects). Such an image is done,
    // not unlabelled.
    enum Filter { AllFiles = 0, UnlabelledFiles = 1, PendingFiles = 2, DoneFiles = 3, BackgroundFiles = 4 };
    static constexpr int FilterCount = 5;
    static constexpr int MinimumWidth = 200;
    static constexpr int MaximumWidth = 640;

    explicit FileListPanel(QWidget *parent = nullptr);
    ~FileListPanel() override;

    void beginLoading();
    void appendPaths(const QStringList &paths);
    void setDirectory(const QString &dir);
    void updateCounts();
    void setFileState(const QString &path, int confirmed, int pending, bool failed, bool background = false);
    void removePath(const QString &path);
    void selectPath(const QString &path, bool scrollTo);
    bool isShown(const QString &path) const;
    // Also true for a path whose row has not come yet (at the launch) when a new row would pass
    // the filter: what a step will show once the rows are in.
    bool wouldShow(const QString &path) const;
    void requestThumbnails(const QStringList &paths);
    // From now until the next folder: thumbnails of the rows in view and a page around them,
    // again whenever the view moves. A folder of 100,000 images decodes only what is looked at.
    void followViewWithThumbnails();
    // The user steps through images: no thumbnail decode starts for ms milliseconds.
    void holdThumbnails(int ms);
    void stopThumbnails();
    void retranslate();

    int filter() const { return m_filter; }
    int rowCount() const;
    int shownCount() const { return m_shownCount; }
    QString currentPath() const;
    QString footerText() const;
    const QHash<QString, QPixmap> &thumbnails() const { return m_thumbnails; }

    // Whether a row with these counts passes a filter.
    static bool passesFilter(int filter, int confirmed, int pending, bool background = false);

protected:
    void resizeEvent(QResizeEvent *event) override;

signals:
    void currentPathChanged(const QString &path);
    void fileDeleteRequested(const QString &path);
    void fileAutoLabelRequested(const QString &path);
    // A pass of the thumbnail loader ended (done or stopped); held = thumbnails in the cache.
    void thumbnailsFinished(int held);

private:
    void setFilter(int filter);
    bool rowPasses(int row) const;
    void setRowShown(int row, bool shown);
    void refreshFooter();
    void storeThumbnail(const QString &path, const QImage &image);
    void requestViewThumbnails();
    void showContextMenu(const QPoint &pos);

    QLabel *m_title = nullptr;
    QToolButton *m_filterButtons[FilterCount] = {};
    QButtonGroup *m_filterGroup = nullptr;
    QListWidget *m_list = nullptr;
    QLabel *m_footer = nullptr;
    ThumbLoader *m_thumbLoader = nullptr;

    int m_filter = AllFiles;
    int m_shownCount = 0;      // rows passing the filter, kept in step with every change
    bool m_loading = false;    // the listing runs: the footer shows the loading text
    QHash<QString, int> m_rowByPath;
    QHash<QString, QPixmap> m_thumbnails;
    // Beyond this many, thumbnails far from the view are dropped.
    static constexpr int kHeldThumbnails = 3000;
    bool m_followView = false;
    QTimer *m_viewTimer = nullptr;
    QSet<QString> m_wanted;   // the rows around the view at the last request
    QString m_directory;
};
