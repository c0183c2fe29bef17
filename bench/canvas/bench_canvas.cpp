// Full repaints of a busy canvas at fit zoom and at 400 %, and the cost of loading its shapes.
// Usage: bench_canvas [rounds]   (runs offscreen unless QT_QPA_PLATFORM says otherwise)

#include "canvas/annotationscene.h"
#include "canvas/canvasview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const QStringList kLabels = {
    QStringLiteral("person"), QStringLiteral("car"), QStringLiteral("bicycle"), QStringLiteral("dog"),
    QStringLiteral("cat"), QStringLiteral("traffic light"), QStringLiteral("行人"), QStringLiteral("卡车"),
    QStringLiteral("stop sign"), QStringLiteral("bus"), QStringLiteral("motorcycle"), QStringLiteral("bird"),
};

QList<Annotation> makeAnnotations(QSize image, int boxes, int polygons)
{
    QRandomGenerator rng(42);
    QList<Annotation> list;
    for (int i = 0; i < boxes + polygons; ++i) {
        Annotation a;
        a.label = kLabels.at(int(rng.bounded(kLabels.size())));
        a.confidence = rng.bounded(1.0);
        a.pending = i % 5 == 0 ? 1 : 0;
        a.difficult = i % 17 == 0;
        const double w = 30 + rng.bounded(250.0), h = 30 + rng.bounded(200.0);
        const double x = rng.bounded(image.width() - w), y = rng.bounded(image.height() - h);
        if (i < boxes) {
            a.kind = Annotation::Rect;
            a.rect = QRectF(x, y, w, h);
        } else {
            a.kind = Annotation::Polygon;
            const int n = 5 + int(rng.bounded(20));
            for (int k = 0; k < n; ++k) {
                const double t = 2 * M_PI * k / n, r = 0.5 + rng.bounded(0.5);
                a.points.append(QPointF(x + w / 2 + std::cos(t) * w / 2 * r, y + h / 2 + std::sin(t) * h / 2 * r));
            }
        }
        list.append(a);
    }
    return list;
}

QImage makeImage(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, size.width(), size.height());
    g.setColorAt(0, QColor(40, 60, 80));
    g.setColorAt(1, QColor(160, 140, 90));
    p.fillRect(image.rect(), g);
    return image;
}

struct Stats { double median, min, max; };

template <typename F>
Stats measure(int rounds, F &&f)
{
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        f();
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.front(), ms.back()};
}

void print(const char *what, const Stats &s)
{
    std::printf("%-44s median %7.2f ms   min %7.2f   max %7.2f\n", what, s.median, s.min, s.max);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    registerAnnotationMetaTypes();
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 20;

    const QSize imageSize(4000, 3000);
    const QList<Annotation> annotations = makeAnnotations(imageSize, 1000, 100);

    AnnotationScene scene;
    CanvasView view(&scene);
    QObject::connect(&view, &CanvasView::viewScaleChanged, &scene, &AnnotationScene::setViewScale);
    // The repaint is measured on exactly 1920 x 1080 viewport pixels.
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.resize(1920, 1080);
    view.show();
    view.setImage(makeImage(imageSize));

    print("setAnnotations, 1000 boxes + 100 polygons",
          measure(rounds, [&] { scene.setAnnotations(annotations); }));

    QImage target(view.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    auto repaint = [&] { view.viewport()->render(&target); };
    repaint();   // warm-up: pixmap upload, glyph caches
    std::printf("viewport %dx%d, fit zoom %.3f\n", view.viewport()->width(), view.viewport()->height(),
                view.zoomFactor());
    print("full repaint at fit zoom", measure(rounds, repaint));

    scene.selectId(scene.annotations().at(500).id, false);
    print("full repaint at fit zoom, one selected", measure(rounds, repaint));
    scene.selectId(0, false);

    view.setScale(4.0, QRectF(view.viewport()->rect()).center());
    view.centerOn(scene.imageRect().center());
    repaint();
    print("full repaint at 400 %", measure(rounds, repaint));

    // A wheel notch: new transform, every item told the new scale, then the repaint.
    view.zoomFit();
    {
        bool in = true;
        const QPointF centre = QRectF(view.viewport()->rect()).center();
        print("zoom step at fit zoom, incl. repaint", measure(rounds, [&] {
            view.setScale(view.zoomFactor() * (in ? 1.2 : 1 / 1.2), centre);
            in = !in;
            repaint();
        }));
    }

    // Outlines and tags are kept as pixels from the second repaint at a zoom on (the first draws
    // directly); this is the repaint that draws them.
    view.zoomFit();
    {
        bool in = true;
        const QPointF centre = QRectF(view.viewport()->rect()).center();
        std::vector<double> ms;
        for (int i = 0; i < rounds; ++i) {
            view.setScale(view.zoomFactor() * (in ? 1.2 : 1 / 1.2), centre);
            in = !in;
            repaint();
            QElapsedTimer t;
            t.start();
            repaint();
            ms.push_back(t.nsecsElapsed() / 1e6);
        }
        std::sort(ms.begin(), ms.end());
        print("second repaint after a zoom step", {ms[ms.size() / 2], ms.front(), ms.back()});
    }

    view.zoomFit();
    view.setScale(0.1, QRectF(view.viewport()->rect()).center());
    repaint();
    print("full repaint at 10 % (everything tiny)", measure(rounds, repaint));

    // Where the time goes at fit zoom.
    view.zoomFit();
    QList<Annotation> confirmed = annotations;
    for (Annotation &a : confirmed)
        a.pending = 0;
    scene.setAnnotations(confirmed);
    repaint();
    print("  fit zoom, no pending (dashed) outlines", measure(rounds, repaint));
    if (qEnvironmentVariableIsSet("BENCH_DONT_SAVE")) {
        view.setOptimizationFlag(QGraphicsView::DontSavePainterState);
        print("  same, DontSavePainterState", measure(rounds, repaint));
    }
    QList<Annotation> bare = annotations;
    for (Annotation &a : bare) {
        a.label.clear();
        a.confidence = -1;
        a.difficult = false;
    }
    scene.setAnnotations(bare);
    repaint();
    print("  fit zoom, shapes without tags and badges", measure(rounds, repaint));
    scene.setAnnotations({});
    repaint();
    print("  fit zoom, image and grid only", measure(rounds, repaint));
    return 0;
}
