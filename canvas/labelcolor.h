#pragma once

#include <QColor>
#include <QString>

// The colour of a category: one of ten fixed colours chosen by a hash of the label, so a category
// keeps its colour across images, sessions and panels.
QColor labelColor(const QString &label);
