#pragma once

#include <QIcon>
#include <QString>

// A line icon from :/icons/ by its file name without ".svg" ("folder", "rect_active", ...).
QIcon lineIcon(const QString &name);
