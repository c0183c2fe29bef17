#pragma once

#include "storage/annotationstore.h"

#include <QObject>
#include <QPoint>
#include <QSize>
#include <QString>

class QComboBox;
class QLabel;
class QStatusBar;
class QToolButton;
struct ImageAdjustment;

// The widgets of the main window's status bar: model state, file, size, zoom, cursor, directory,
// pending count, save format and the saved indicator. Texts are set through the setters and
// translated again by retranslate().
class MainStatusBar : public QObject
{
    Q_OBJECT
public:
    explicit MainStatusBar(QStatusBar *bar);

    // busy wins over online (the first that holds of: running a task, online, offline).
    void setModelState(bool busy, bool online);
    void setModelChecking();
    void setImageInfo(const QString &fileName, const QSize &size, int pendingCount);
    void setZoom(int percent);
    // Beside the zoom: "☀" alone for the default, else the setting ("☀ +20%", "◐ −10%"), so that
    // a darkened image never puzzles. A click asks for the popup (adjustmentClicked).
    void setAdjustment(const ImageAdjustment &adjustment);
    QString adjustmentText() const;
    QToolButton *adjustmentButton() const { return m_adjust; }
    void setCursorPixel(const QPoint &pixel, bool inside);
    // An empty directory shows "未打开目录". Elided in the middle to the label's width.
    void setDirectory(const QString &nativePath);
    // A DOTA folder's new label files are DOTA whatever is chosen: the box then shows that, fixed.
    void setFormat(LabelFormat format);
    void setDirty(bool dirty);
    // The category a drawn shape gets (or is offered); hidden while there is none. dontAsk: it is
    // given without asking. A click on it asks for the chooser (categoryClicked).
    void setCategory(const QString &label, bool dontAsk);
    // A hint of the canvas (while a polygon is drawn): shown in the directory's place, which
    // comes back when the text is empty. Every other widget is permanent, so the bar's own
    // temporary message would have no room.
    void setMessage(const QString &text);
    QString message() const;
    bool messageShown() const;
    void retranslate();

    QString modelText() const;
    QString savedText() const;
    QString directoryText() const;
    QString pendingText() const;
    QString categoryText() const;   // empty without a category
    QLabel *categoryLabel() const { return m_category; }
    QString cursorText() const;
    QComboBox *formatCombo() const { return m_format; }

signals:
    void formatChanged(LabelFormat format);
    void adjustmentClicked();
    void categoryClicked();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void elideDirectory();

    QLabel *m_modelDot;
    QLabel *m_modelText;
    QLabel *m_file;
    QLabel *m_size;
    QLabel *m_zoom;
    QToolButton *m_adjust;
    QLabel *m_cursor;
    QLabel *m_directory;
    QLabel *m_message;
    QLabel *m_category;
    QLabel *m_pending;
    QComboBox *m_format;
    QLabel *m_saved;

    enum class Model { Checking, Busy, Online, Offline } m_model = Model::Checking;
    QString m_directoryPath;
    bool m_dirty = false;
    QString m_categoryLabel;
    bool m_dontAsk = false;
    bool m_hasImage = false;
    bool m_hasCursor = false;
    bool m_adjustmentDefault = true;
};
