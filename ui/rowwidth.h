#pragma once

#include <QAbstractItemView>
#include <QListView>
#include <QWidget>

#include <algorithm>

// A list row is as wide as the wider of its size hint and the viewport; a hint wider than the
// viewport (the panel's width, less a scroll bar) would push the row's right edge, where the
// badges and buttons sit, under the scroll bar. So the hint never asks for more than fits.
inline int rowWidthFor(const QWidget *view, int preferred)
{
    const auto *itemView = qobject_cast<const QAbstractItemView *>(view);
    if (!itemView)
        return preferred;
    int room = itemView->viewport()->width();
    if (const auto *list = qobject_cast<const QListView *>(view))
        room -= 2 * list->spacing();
    return std::clamp(room, 1, preferred);
}
