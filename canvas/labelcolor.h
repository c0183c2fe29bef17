#pragma once

#include <QColor>
#include <QString>
#include <QStringList>

// The colour of a category: one of twelve hues spread round the wheel. A category takes the hue of
// a hash of its name, so it keeps its colour across images and sessions; when a category in use
// already has that hue, it takes the next free one, so that up to twelve categories in use never
// share a colour. GUI thread only.
QColor labelColor(const QString &label);

// The categories in use (the window's category rows), oldest first. Categories that keep being in
// use keep their colour; returns true when a colour changed (shapes on screen must repaint).
bool setLabelsInUse(const QStringList &labels);

// The twelve hues, in order round the wheel.
int labelPaletteSize();
