#include "storage/cocoexport.h"

#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"
#include "storage/keypoints.h"
#include "storage/rotatedbox.h"
#include "storage/shapekinds.h"
#include "storage/yolofile.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QPolygonF>
#include <QSet>

#include <cmath>

namespace {

struct ImageLabels
{
    QString path;
    QSize size;
    QList<Annotation> annotations;
};

// Millipixels are far below any labelling precision and keep 0.1 * 3 from printing 17 digits.
double rounded(double value)
{
    return std::round(value * 1000.0) / 1000.0;
}

QJsonArray flatPoints(const QList<QPointF> &points)
{
    QJsonArray flat;
    for (const QPointF &p : points) {
        flat.append(rounded(p.x()));
        flat.append(rounded(p.y()));
    }
    return flat;
}

// COCO's triplets in pixels; a point without a visibility of its own counts as labelled and
// visible unless it is the unlabelled (0, 0). An unlabelled point is 0 0 0, as COCO writes it.
void addKeypoints(QJsonObject &object, const Keypoints &k)
{
    QJsonArray flat;
    int labelled = 0;
    for (qsizetype i = 0; i < k.points.size(); ++i) {
        const QPointF &p = k.points.at(i);
        double v = k.visibility.isEmpty() ? (p.isNull() ? 0.0 : 2.0) : k.visibility.at(i);
        if (!(v > 0))
            v = 0;
        flat.append(v > 0 ? rounded(p.x()) : 0.0);
        flat.append(v > 0 ? rounded(p.y()) : 0.0);
        flat.append(int(std::lround(v)));
        labelled += v > 0 ? 1 : 0;
    }
    object.insert(QStringLiteral("keypoints"), flat);
    object.insert(QStringLiteral("num_keypoints"), labelled);
}

QJsonObject annotationObject(const Annotation &a, int id, int imageId, int categoryId)
{
    const ShapeKindRules &rules = storedShapeKind(a);
    const QRectF box = rules.box(a);
    // Boxes too: the mask code of the COCO API and of common training recipes indexes the first polygon.
    QJsonArray segmentation;
    segmentation.append(flatPoints(rules.outline(a)));
    const double area = rules.area(a);
    QJsonObject object{
        {QStringLiteral("id"), id},
        {QStringLiteral("image_id"), imageId},
        {QStringLiteral("category_id"), categoryId},
        {QStringLiteral("bbox"),
         QJsonArray{rounded(box.x()), rounded(box.y()), rounded(box.width()), rounded(box.height())}},
        {QStringLiteral("area"), rounded(area)},
        {QStringLiteral("iscrowd"), 0},
        {QStringLiteral("segmentation"), segmentation},
    };
    if (!a.keypoints.isEmpty())
        addKeypoints(object, a.keypoints);
    // As other COCO writers of rotated boxes give it: degrees, clockwise on screen.
    if (rules.angle)
        object.insert(QStringLiteral("attributes"),
                      QJsonObject{{QStringLiteral("rotation"), rounded(wrappedDegrees(rules.angle(a)))}});
    return object;
}

class Categories
{
public:
    void add(const QString &name)
    {
        if (!name.isEmpty() && !m_ids.contains(name)) {
            m_names.append(name);
            m_ids.insert(name, int(m_names.size()));
        }
    }
    int idOf(const QString &name) const { return m_ids.value(name); }
    // A pose dataset's categories name their keypoints, as COCO's person category does.
    void setKeypointNames(const QStringList &names) { m_keypointNames = names; }
    QJsonArray toJson() const
    {
        QJsonArray list;
        for (qsizetype i = 0; i < m_names.size(); ++i) {
            QJsonObject category{{QStringLiteral("id"), int(i + 1)},
                                 {QStringLiteral("name"), m_names.at(i)},
                                 {QStringLiteral("supercategory"), m_names.at(i)}};
            if (!m_keypointNames.isEmpty()) {
                category.insert(QStringLiteral("keypoints"), QJsonArray::fromStringList(m_keypointNames));
                category.insert(QStringLiteral("skeleton"), QJsonArray());
            }
            list.append(category);
        }
        return list;
    }
    int size() const { return int(m_names.size()); }

private:
    QStringList m_names;
    QHash<QString, int> m_ids;
    QStringList m_keypointNames;
};

} // namespace

CocoExport exportCoco(const QString &dir, const QStringList &images, bool includeUnlabelled)
{
    CocoExport result;
    QList<ImageLabels> kept;
    Categories categories;
    QStringList keypointNames;
    QSet<QString> folders;
    const auto addClassList = [&](const ClassNames &names) {
        if (folders.contains(names.file))
            return;
        folders.insert(names.file);
        for (const QString &name : names.names)
            categories.add(name);
    };
    if (!images.isEmpty())
        addClassList(findClassNames(labelsDirFor(images.first())));

    for (const QString &image : images) {
        const QSize size = imageSize(image);
        if (!size.isValid()) {
            result.leftOut.append({image, QString()});
            continue;
        }
        const StoredAnnotations stored = readStoredAnnotations(image);
        if (!stored.complete()) {
            // Half of an image's shapes would teach a model that the rest is background.
            result.leftOut.append({image, stored.damagedFile});
            continue;
        }
        if (stored.file.isEmpty() && !includeUnlabelled) {
            result.unlabelled.append(image);
            continue;
        }
        if (!stored.file.isEmpty() && stored.file.endsWith(QLatin1String(".txt"))) {
            addClassList(classNamesFor(image, stored.file));
            const KeypointLayout pose = keypointLayoutFor(QFileInfo(stored.file).absolutePath());
            if (pose.isPose() && keypointNames.isEmpty())
                keypointNames = pose.names;
        }
        kept.append({image, size, stored.annotations});
    }
    for (const ImageLabels &labels : std::as_const(kept)) {
        for (const Annotation &a : labels.annotations)
            categories.add(a.label);
    }
    categories.setKeypointNames(keypointNames);

    const QDir base(dir);
    QJsonArray imageList;
    QJsonArray annotationList;
    int imageId = 0;
    for (const ImageLabels &labels : std::as_const(kept)) {
        ++imageId;
        imageList.append(QJsonObject{
            {QStringLiteral("id"), imageId},
            {QStringLiteral("file_name"), base.relativeFilePath(labels.path)},
            {QStringLiteral("width"), labels.size.width()},
            {QStringLiteral("height"), labels.size.height()},
        });
        for (const Annotation &a : labels.annotations) {
            if (a.label.isEmpty() || a.pending || !a.hasFiniteGeometry())
                continue;
            const int id = int(annotationList.size()) + 1;
            annotationList.append(annotationObject(a, id, imageId, categories.idOf(a.label)));
        }
    }
    // The COCO API's info() reads "info"; "licenses" is part of the format. Nothing here depends
    // on the day of the export, so the same labels give the same file.
    const QJsonObject info{
        {QStringLiteral("description"), QFileInfo(dir).fileName()},
        {QStringLiteral("version"), QStringLiteral("1.0")},
        {QStringLiteral("contributor"), QStringLiteral("Brindlemark")},
    };
    result.document = QJsonObject{
        {QStringLiteral("info"), info},
        {QStringLiteral("licenses"), QJsonArray()},
        {QStringLiteral("images"), imageList},
        {QStringLiteral("categories"), categories.toJson()},
        {QStringLiteral("annotations"), annotationList},
    };
    result.imageCount = int(imageList.size());
    result.annotationCount = int(annotationList.size());
    result.categoryCount = categories.size();
    return result;
}
