#pragma once

#include <QList>
#include <QPointF>
#include <QString>
#include <QStringList>

// The keypoints of a box in a pose dataset (Ultralytics `kpt_shape: [K, D]`), carried with the
// box unchanged: points in image pixels, visibility per point when the rows hold it (D = 3).
// Nothing here edits them; moving or resizing the box leaves them where they are on the image.
struct Keypoints
{
    QList<QPointF> points;
    QList<double> visibility;   // empty for D = 2

    bool isEmpty() const { return points.isEmpty(); }
    friend bool operator==(const Keypoints &a, const Keypoints &b)
    {
        return a.points == b.points && a.visibility == b.visibility;
    }
    friend bool operator!=(const Keypoints &a, const Keypoints &b) { return !(a == b); }
};

// What a labels folder's dataset file says of keypoints. A folder whose data.yaml (or
// dataset.yaml) declares `kpt_shape` is a pose dataset: each label row is a box followed by
// count × dims values.
struct KeypointLayout
{
    int count = 0;        // K; 0 when the dataset has no keypoints
    int dims = 0;         // D: 2 (x y) or 3 (x y visibility)
    QStringList names;    // from `kpt_names` when the file gives K of them; else kp0, kp1, ...
    QString file;         // the dataset file that declares it

    bool isPose() const { return count > 0; }
    // Values of a pose row: class, the box's four, then the keypoints'.
    int rowValues() const { return 5 + count * dims; }
};

// Keypoint counts above this are no pose layout: a row would be longer than any body model.
constexpr int kMaxKeypoints = 1000;

// The nearest data.yaml / dataset.yaml at most three folders above labelsDir that parses (the
// same search as the class names); no layout when it declares none, or a `kpt_shape` that is not
// two positive integers with D of 2 or 3. Reentrant; each thread keeps its own cache.
KeypointLayout keypointLayoutFor(const QString &labelsDir);

// Keypoints with count points at (0, 0), visibility 0: what Ultralytics reads as "not labelled".
Keypoints unlabelledKeypoints(const KeypointLayout &layout);
