#pragma once

#include "storage/annotation.h"

#include <QHash>
#include <QLatin1String>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <array>
#include <utility>

// What the files, the model's answers and the checks need to know of one shape kind: one row per
// kind, the only place that tells the kinds apart outside the canvas. A kind either keeps its
// geometry in Annotation::rect (a box) or in Annotation::points (an outline).
struct ShapeKindRules
{
    Annotation::Kind kind;
    QLatin1String name;          // "kind" of the JSON lines: "rect", "polygon"
    QLatin1String pendingTag;    // "t" of a pending-file record: "r", "p"
    // Element of a VOC object that holds the outline, beside <bndbox>; empty for a box.
    QLatin1String vocElement;
    // Keys of a model's answer object that hold the outline, in order of preference.
    std::array<QLatin1String, 2> modelKeys;
    // An outline kind holds at least this many points; a record with fewer is written as its box.
    // 0 for a box.
    int minPoints;
    // The normalised box the shape covers: checks, the overlap filter, COCO's "bbox".
    QRectF (*box)(const Annotation &);
    // The points a segmentation format writes (YOLO polygons, COCO "segmentation"), in order.
    QList<QPointF> (*outline)(const Annotation &);
    double (*area)(const Annotation &);
    void (*translate)(Annotation &, const QPointF &);
    // True when points read from a segmentation row are this kind; the first row to say so wins.
    bool (*readsOutline)(const QList<QPointF> &);
    // Makes a from the points read (a.points holds them), in this kind's form.
    void (*takeOutline)(Annotation &a);
    // Its sides along its own axes (the tiny-box check, the object panel).
    QSizeF (*sides)(const Annotation &);
    // Its turn in degrees, clockwise on screen; nullptr for a kind that does not turn.
    double (*angle)(const Annotation &);
    // The children of its VOC element as name and text; nullptr for the "points" list of an outline.
    QList<std::pair<QString, QString>> (*vocChildren)(const Annotation &);
    // Reads them back into a.points; false when they do not make this kind.
    bool (*fromVocChildren)(Annotation &a, const QHash<QString, QString> &children);
    // Outline points beyond the image are brought to its edge when read and written; a rotated
    // box keeps its corners as written (a corner outside is the checker's finding).
    bool clampedToImage;
    // Its outline is convex: overlaps are measured on the outline, not on its bounds.
    bool convex;

    bool hasOutline() const { return minPoints > 0; }
};

// Every kind, box first.
const std::array<ShapeKindRules, 3> &shapeKinds();
// The row of kind; a value no row has gets the box's.
const ShapeKindRules &shapeKindRules(Annotation::Kind kind);
// The row a writer follows: an outline kind with too few points is written as its box.
const ShapeKindRules &storedShapeKind(const Annotation &a);
// The row of a pending-file tag or a VOC element; nullptr when no kind has it.
const ShapeKindRules *shapeKindWithPendingTag(QStringView tag);
const ShapeKindRules *shapeKindWithVocElement(QStringView element);
// The row whose readsOutline takes points (the box's for a box's four corners); nullptr for none.
const ShapeKindRules *shapeKindOfOutline(const QList<QPointF> &points);
// How much two shapes overlap (IoU): on their outlines when both are convex and one turns, else on
// their bounds.
double shapeIoU(const Annotation &a, const Annotation &b);
