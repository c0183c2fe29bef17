#include "support/annotationbuilders.h"

#include <cmath>

#include <QDir>
#include <QStringList>

Annotation box(const QString &label, const QRectF &rect, int pending, double confidence, bool difficult)
{
    Annotation a;
    a.kind = Annotation::Rect;
    a.rect = rect;
    a.label = label;
    a.pending = pending;
    a.confidence = confidence;
    a.difficult = difficult;
    return a;
}

Annotation box(const QString &label, double left, double top, double right, double bottom, int pending,
               double confidence)
{
    return box(label, QRectF(QPointF(left, top), QPointF(right, bottom)), pending, confidence);
}

Annotation rotated(const QString &label, const QList<QPointF> &corners, int pending, double confidence)
{
    Annotation a = polygon(label, corners, pending, confidence);
    a.kind = Annotation::Rotated;
    return a;
}

bool nearPoints(const QList<QPointF> &a, const QList<QPointF> &b, double tolerance)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (std::abs(a[i].x() - b[i].x()) > tolerance || std::abs(a[i].y() - b[i].y()) > tolerance)
            return false;
    }
    return true;
}

QList<QPointF> wavyRing(qsizetype count, const QPointF &centre, double r, int step)
{
    QList<QPointF> points;
    points.reserve(count);
    for (qsizetype i = 0; i < count; ++i) {
        const double a = 2 * M_PI * double(i) / double(count);
        const double radius = r * (1 + 0.1 * std::sin(a * 50));
        points.append(QPointF(std::round((centre.x() + radius * std::cos(a)) * step) / step,
                              std::round((centre.y() + radius * std::sin(a)) * step) / step));
    }
    return points;
}

Annotation poseBox(const QString &label, const QRectF &rect, const QList<QPointF> &keypoints,
                   const QList<double> &visibility)
{
    Annotation a = box(label, rect);
    a.keypoints.points = keypoints;
    a.keypoints.visibility = visibility;
    return a;
}

QByteArray poseRow(int classIndex, int count, int dims)
{
    QByteArray row = QByteArray::number(classIndex) + " 0.5 0.5 0.5 0.5";
    for (int i = 0; i < count; ++i) {
        const bool last = i == count - 1;
        row += ' ' + (last ? QByteArray("0") : QByteArray::number((i + 1) / 64.0, 'g', 17));
        row += ' ' + (last ? QByteArray("0") : QByteArray::number((i + 2) / 64.0, 'g', 17));
        if (dims == 3)
            row += last ? " 0" : (i % 2 == 0 ? " 2" : " 1");
    }
    return row + '\n';
}

Annotation polygon(const QString &label, const QList<QPointF> &points, int pending, double confidence,
                   bool difficult)
{
    Annotation a;
    a.kind = Annotation::Polygon;
    a.points = points;
    a.label = label;
    a.pending = pending;
    a.confidence = confidence;
    a.difficult = difficult;
    return a;
}

QHash<QString, QList<Annotation>> pendingOf(const QString &dir, const QString &text)
{
    QHash<QString, QList<Annotation>> cache;
    for (const QString &entry : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QStringList parts = entry.split(QLatin1Char(':'));
        QList<Annotation> &records = cache[dir + QLatin1Char('/') + parts.first().trimmed()];
        for (const QString &label : parts.last().split(QLatin1Char(' '), Qt::SkipEmptyParts))
            records.append(box(label, QRectF(10, 10, 20, 20), 1));
    }
    return cache;
}

QString describePending(const QString &dir, const QHash<QString, QList<Annotation>> &cache)
{
    QStringList entries;
    for (auto it = cache.cbegin(); it != cache.cend(); ++it) {
        QStringList labels;
        for (const Annotation &a : it.value()) {
            if (a.pending)
                labels.append(a.label);
        }
        if (!labels.isEmpty())
            entries.append(QDir(dir).relativeFilePath(it.key()) + QStringLiteral(": ") + labels.join(QLatin1Char(' ')));
    }
    entries.sort();
    return entries.join(QStringLiteral("; "));
}

QStringList labelsOf(const QList<Annotation> &annotations)
{
    QStringList labels;
    for (const Annotation &a : annotations)
        labels.append(a.label);
    return labels;
}

QStringList labelsMarkingPending(const QList<Annotation> &annotations)
{
    QStringList out;
    for (const Annotation &a : annotations)
        out << a.label + (a.pending ? QStringLiteral("*") : QString());
    return out;
}
