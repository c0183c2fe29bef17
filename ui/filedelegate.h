#pragma once

#include <QHash>
#include <QPixmap>
#include <QStyledItemDelegate>

// Paints one image row of the file list: thumbnail, file name, state badge (a count, ⚡ results, or a
// check mark for a background image), failure dot.
// Thumbnails come from the panel's cache, looked up by the row's path; the cache stores each one
// already at the size it is drawn, with its device pixel ratio set, so painting never resamples.
class FileDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    static constexpr int RowWidth = 220;
    static constexpr int RowHeight = 36;
    static constexpr int ThumbWidth = 30;    // logical size of the thumbnail frame
    static constexpr int ThumbHeight = 22;

    explicit FileDelegate(const QHash<QString, QPixmap> *thumbnails, QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    // The device pixel ratio that makes a pixmap's logical size fit the thumbnail frame.
    static qreal fittingRatio(const QSize &pixels);
    // A file name as a row shows it in width pixels: cut at the end, where names of one series
    // agree (IMG_2301_street, IMG_2306_street), so that their numbers stay readable.
    static QString shownName(const QFontMetrics &metrics, const QString &name, int width);

private:
    const QHash<QString, QPixmap> *m_thumbnails;
};
