#pragma once

#include "storage/keypoints.h"

#include <QColor>
#include <QRectF>

class QPainter;

// The keypoints of a pose dataset's box, drawn read-only beside it: a numbered dot for each
// labelled point. A point is labelled when its visibility is above 0, or, without visibility,
// when it is not the unlabelled (0, 0).
bool isLabelledKeypoint(const Keypoints &keypoints, qsizetype i);
// Scene rect that the dots and their numbers cover at the given zoom; empty when none is labelled.
QRectF keypointDotsBounds(const Keypoints &keypoints, double scale);
// painter is in screen pixels (scaled by 1 / scale); the dots are at point × scale.
void paintKeypointDots(QPainter *painter, const Keypoints &keypoints, double scale, const QColor &color);
