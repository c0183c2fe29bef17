#pragma once

#include <QList>
#include <QPointF>
#include <QSizeF>

// A rotated box as its own frame: centre, side lengths and the turn of its first edge (the first
// corner to the second), in degrees, clockwise on screen (y points down). The corners keep the
// order and winding they were read in: mirrored corners run anticlockwise on screen.
struct RotatedFrame
{
    QPointF centre;
    double width = 0.0;     // first corner to second
    double height = 0.0;    // second corner to third
    double angle = 0.0;     // (-180, 180]
    bool mirrored = false;

    // From four corners; a frame of zero size when there are not four.
    static RotatedFrame fromCorners(const QList<QPointF> &corners);
    // First corner, then along the first edge, the way the frame was read.
    QList<QPointF> corners() const;
    // From the frame's axes (x along the first edge, origin at the centre) to the image and back.
    QPointF toImage(const QPointF &local) const;
    QPointF toLocal(const QPointF &image) const;
    QSizeF size() const { return QSizeF(width, height); }
};

// Four points whose corners are right angles within a small tolerance, with sides of some length.
bool isRectangleCorners(const QList<QPointF> &points);
// Intersection over union of two convex outlines, either winding; 0 without a positive union.
double convexOutlineIoU(const QList<QPointF> &a, const QList<QPointF> &b);
// An angle in degrees brought into [0, 360).
double wrappedDegrees(double degrees);
