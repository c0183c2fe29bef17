#pragma once

#include <Qt>

// Item roles of the panels' list rows; the delegates paint from these.
namespace FileRole {
enum : int {
    Path = Qt::UserRole + 1,        // QString, full path
    Confirmed = Qt::UserRole + 2,   // int, confirmed annotations
    Pending = Qt::UserRole + 3,     // int, unconfirmed model results
    Failed = Qt::UserRole + 4,      // bool, the last auto-label request failed
    Background = Qt::UserRole + 5,  // bool, checked and empty: a label file without objects
};
}

namespace ObjectRole {
enum : int {
    Id = Qt::UserRole + 1,          // uint
    Color = Qt::UserRole + 3,       // QColor
    Detail = Qt::UserRole + 4,      // QString, "W×H" or the point count
    Pending = Qt::UserRole + 5,     // bool
    Polygon = Qt::UserRole + 22,    // bool
    Confidence = Qt::UserRole + 23, // double, -1 = none
    Number = Qt::UserRole + 24,     // int, the shape's place in the saved label file (#n); 0 = none
    Hidden = Qt::UserRole + 25,     // bool, the shape is hidden from view on the canvas
};
}

namespace CategoryRole {
enum : int {
    Color = Qt::UserRole + 3,       // QColor
    Count = Qt::UserRole + 20,      // int, annotations of the current image
    Confirming = Qt::UserRole + 21, // bool, the row asks for delete confirmation
    Hidden = Qt::UserRole + 25,     // bool, the category's shapes are hidden from view
};
}
