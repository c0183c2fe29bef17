#pragma once

#include <QStringList>
#include <QStyledItemDelegate>

class QFontMetrics;

// Paints one row of the shortcut list: the keys (display role) as chips, split at "/", and the
// description (user role) beside them, wrapped when it is long. Rows are 34 px high, or as tall
// as their wrapped description; right-to-left layouts are mirrored.
class ShortcutDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit ShortcutDelegate(int keyColumnWidth, QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    int keyColumnWidth() const { return m_keyColumnWidth; }

    // "Ctrl+Z / Ctrl+Y" -> {"Ctrl+Z", "Ctrl+Y"}; chips trimmed, empty ones dropped.
    static QStringList splitKeys(const QString &keys);
    // Width of a row's chips: each chip's advance + 24, minus the gap after the last one.
    static int chipsWidth(const QFontMetrics &metrics, const QString &keys);
    // The widest row's chips plus 8.
    static int keyColumnWidth(const QFontMetrics &metrics, const QStringList &keyTexts);

    // Room for the description in a row of this width.
    static int descriptionWidth(int rowWidth, int keyColumnWidth);
    // 34, or the wrapped description's height and 4 px above and below.
    static int rowHeight(const QFontMetrics &metrics, const QString &description, int textWidth);

    static constexpr int kRowHeight = 30;

private:
    int m_keyColumnWidth;
};
