#include "storage/rotatedbox.h"

#include <QLineF>

#include <algorithm>
#include <cmath>

namespace {

const double kPi = 3.14159265358979323846;

double cross(const QPointF &a, const QPointF &b)
{
    return a.x() * b.y() - a.y() * b.x();
}

double length(const QPointF &v)
{
    return std::hypot(v.x(), v.y());
}

double signedArea(const QList<QPointF> &p)
{
    double twice = 0.0;
    for (qsizetype i = 0; i < p.size(); ++i)
        twice += cross(p.at(i), p.at((i + 1) % p.size()));
    return twice / 2.0;
}

// Sutherland-Hodgman: subject clipped by each edge of a convex clip outline wound clockwise on
// screen (positive signed area with y down).
QList<QPointF> clipConvex(QList<QPointF> subject, const QList<QPointF> &clip)
{
    for (qsizetype i = 0; i < clip.size() && !subject.isEmpty(); ++i) {
        const QPointF a = clip.at(i);
        const QPointF b = clip.at((i + 1) % clip.size());
        const auto inside = [&](const QPointF &p) { return cross(b - a, p - a) >= 0; };
        QList<QPointF> kept;
        for (qsizetype j = 0; j < subject.size(); ++j) {
            const QPointF p = subject.at(j);
            const QPointF q = subject.at((j + 1) % subject.size());
            const bool pIn = inside(p);
            const bool qIn = inside(q);
            if (pIn)
                kept.append(p);
            if (pIn != qIn) {
                const double dp = cross(b - a, p - a);
                const double dq = cross(b - a, q - a);
                kept.append(p + (q - p) * (dp / (dp - dq)));
            }
        }
        subject = kept;
    }
    return subject;
}

QList<QPointF> clockwise(QList<QPointF> p)
{
    if (signedArea(p) < 0)
        std::reverse(p.begin(), p.end());
    return p;
}

} // namespace

RotatedFrame RotatedFrame::fromCorners(const QList<QPointF> &c)
{
    RotatedFrame f;
    if (c.size() != 4)
        return f;
    f.centre = (c[0] + c[1] + c[2] + c[3]) / 4.0;
    const QPointF first = c[1] - c[0];
    const QPointF second = c[2] - c[1];
    f.width = length(first);
    f.height = length(second);
    f.angle = std::atan2(first.y(), first.x()) * 180.0 / kPi;
    if (f.angle <= -180.0)
        f.angle += 360.0;
    f.mirrored = cross(first, second) < 0;
    return f;
}

QPointF RotatedFrame::toImage(const QPointF &local) const
{
    const double r = angle * kPi / 180.0;
    const double c = std::cos(r);
    const double s = std::sin(r);
    return centre + QPointF(local.x() * c - local.y() * s, local.x() * s + local.y() * c);
}

QPointF RotatedFrame::toLocal(const QPointF &image) const
{
    const double r = angle * kPi / 180.0;
    const double c = std::cos(r);
    const double s = std::sin(r);
    const QPointF d = image - centre;
    return QPointF(d.x() * c + d.y() * s, -d.x() * s + d.y() * c);
}

QList<QPointF> RotatedFrame::corners() const
{
    const double x = width / 2.0;
    const double y = mirrored ? -height / 2.0 : height / 2.0;
    return {toImage(QPointF(-x, -y)), toImage(QPointF(x, -y)), toImage(QPointF(x, y)), toImage(QPointF(-x, y))};
}

bool isRectangleCorners(const QList<QPointF> &p)
{
    if (p.size() != 4)
        return false;
    // cos of the corner's angle: 0.01 is about half a degree, more than six decimals of a
    // normalised corner move a small box's edge.
    const double tolerance = 0.01;
    for (qsizetype i = 0; i < 4; ++i) {
        const QPointF in = p.at((i + 1) % 4) - p.at(i);
        const QPointF out = p.at((i + 2) % 4) - p.at((i + 1) % 4);
        const double a = length(in);
        const double b = length(out);
        if (!(a > 0) || !(b > 0))
            return false;
        if (std::abs(in.x() * out.x() + in.y() * out.y()) > tolerance * a * b)
            return false;
    }
    // Right angles alone allow a bow tie only when sides cross; the turns must agree.
    const double turn = cross(p[1] - p[0], p[2] - p[1]);
    for (qsizetype i = 1; i < 4; ++i) {
        if (turn * cross(p.at((i + 1) % 4) - p.at(i), p.at((i + 2) % 4) - p.at((i + 1) % 4)) <= 0)
            return false;
    }
    return true;
}

double convexOutlineIoU(const QList<QPointF> &a, const QList<QPointF> &b)
{
    if (a.size() < 3 || b.size() < 3)
        return 0.0;
    const QList<QPointF> first = clockwise(a);
    const QList<QPointF> second = clockwise(b);
    const QList<QPointF> common = clipConvex(first, second);
    const double overlap = common.size() >= 3 ? std::abs(signedArea(common)) : 0.0;
    const double total = std::abs(signedArea(first)) + std::abs(signedArea(second)) - overlap;
    return total > 0 ? overlap / total : 0.0;
}

double wrappedDegrees(double degrees)
{
    double d = std::fmod(degrees, 360.0);
    if (d < 0)
        d += 360.0;
    return d >= 360.0 ? 0.0 : d;
}
