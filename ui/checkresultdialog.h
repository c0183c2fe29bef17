#pragma once

#include <QDialog>

#include <QList>

class QLabel;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

// Lists the findings of a label check while it runs, one row per finding, and a summary when it
// ends. Non-modal; double-clicking a row (or Return on it) asks the window to open that image.
// Rows reach the tree in batches, at most every 100 ms: every insertion makes the tree lay out
// all its rows again, which one finding at a time grows quadratically on a big dataset.
class CheckResultDialog : public QDialog
{
    Q_OBJECT
public:
    explicit CheckResultDialog(QWidget *parent = nullptr);
    ~CheckResultDialog() override;

    // shapeNumber: the place in the image's label file of the shape the finding names (its
    // "#4"), 0 when it names none.
    void addIssue(const QString &path, const QString &problem, const QString &detail, int shapeNumber = 0);
    void setSummary(int checkedImages, int issueCount, int issueImages);
    // Marks the summary green with "no issues" when no row was added since the last reset.
    void finishSummary();
    void reset();
    void retranslate();

    // Before the first show: beside the window (frame in global coordinates) where the screen has
    // room, else smaller, at the screen's bottom right, away from the middle of the canvas.
    void placeBeside(const QRect &windowFrame);
    // Moves off a shape the user was sent to (global coordinates), when it is under the dialog.
    void keepOff(const QRect &shape);
    // The top-left corners for both, for a dialog frame of the given size within screen.
    static QPoint besidePosition(const QRect &windowFrame, const QSize &size, const QRect &screen);
    static QPoint offPosition(const QRect &frame, const QRect &shape, const QRect &screen);

    int rowCount() const { return m_rowCount; }   // includes rows not yet in the tree
    QString summaryText() const;

Q_SIGNALS:
    void openImageRequested(const QString &path);
    // The same row, with the shape it names (0: none): the window selects it.
    void findingActivated(const QString &path, int shapeNumber);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void flushRows();
    void openItem(QTreeWidgetItem *item);
    void updateSummary();

    QTreeWidget *m_tree = nullptr;
    QLabel *m_summary = nullptr;
    QLabel *m_hint = nullptr;
    QPushButton *m_close = nullptr;
    int m_rowCount = 0;
    QList<QTreeWidgetItem *> m_pendingRows;   // owned until flushed into the tree
    QTimer *m_flushTimer = nullptr;

    // Kept so the summary can be rebuilt in another language.
    int m_checked = 0;
    int m_issues = 0;
    int m_issueImages = 0;
    bool m_finished = false;
};
