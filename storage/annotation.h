#pragma once

#include "storage/keypoints.h"

#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QPointF>
#include <QRectF>
#include <QString>

// One labelled shape, in image pixels. Plain value; crosses threads through queued signals.
struct Annotation
{
    enum Kind { Rect = 0, Polygon = 1, Rotated = 2 };

    quint32 id = 0;            // scene identity; 0 in every record read from a file
    Kind kind = Rect;          // what each kind means: storage/shapekinds.h
    QRectF rect;               // box; for YOLO polygons the bounding box of the points
    QList<QPointF> points;     // polygon vertices, not closed; a rotated box's four corners; empty for boxes
    QString label;
    double confidence = -1.0;  // -1 = none
    qint32 pending = 0;        // 1 = unconfirmed model result
    bool difficult = false;
    // A box of a pose dataset: its keypoints, kept as read and written back with it; empty for
    // every other shape (storage/keypoints.h).
    Keypoints keypoints;
    // Fields of the shape in another tool's file that no edit touches (labelme's group_id,
    // description, flags, unknown keys): written back as they were read.
    QJsonObject foreignFields;

    // Writers treat a polygon with fewer than three points as a box (storedShapeKind).
    bool isPolygon() const { return kind == Polygon && points.size() >= 3; }

    // Overflowing numbers in a file give infinite or NaN edges; such a shape is not kept or written.
    bool hasFiniteGeometry() const;

    friend bool operator==(const Annotation &a, const Annotation &b)
    {
        return a.id == b.id && a.kind == b.kind && a.rect == b.rect && a.points == b.points
            && a.label == b.label && a.confidence == b.confidence && a.pending == b.pending
            && a.difficult == b.difficult && a.keypoints == b.keypoints && a.foreignFields == b.foreignFields;
    }
    friend bool operator!=(const Annotation &a, const Annotation &b) { return !(a == b); }
};

Q_DECLARE_METATYPE(Annotation)

// Registers "Annotation" and QList<Annotation> for queued connections; safe to call repeatedly.
void registerAnnotationMetaTypes();
