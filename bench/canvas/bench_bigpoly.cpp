// One YOLO polygon of many points (default 1,000,000, an ~18 MB row): the parse, the item build,
// one repaint at fit zoom and at 400 %, and the save after a move; then what the GUI thread waits
// for when the window shows that image (the session reads such a file on a worker) and saves it.
// Usage: bench_bigpoly [points]   (runs offscreen unless QT_QPA_PLATFORM says otherwise)

#include "canvas/annotationscene.h"
#include "session/foldersession.h"
#include "canvas/canvasview.h"
#include "storage/annotationstore.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

double since(QElapsedTimer &t)
{
    const double ms = t.nsecsElapsed() / 1e6;
    t.restart();
    return ms;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    registerAnnotationMetaTypes();
    const int points = argc > 1 ? std::max(3, atoi(argv[1])) : 1000000;

    QTemporaryDir dir;
    QDir().mkpath(dir.path() + "/images");
    QDir().mkpath(dir.path() + "/labels");
    const QString imagePath = dir.path() + "/images/big.png";
    QImage image(2000, 1500, QImage::Format_RGB32);
    image.fill(Qt::darkGray);
    image.save(imagePath);
    // A wavy ring: every point is its own, as a traced mask outline would give.
    QByteArray row = "0";
    for (int i = 0; i < points; ++i) {
        const double a = 2 * M_PI * i / points;
        const double r = 0.35 + 0.05 * std::sin(a * 200);
        row += ' ' + QByteArray::number(0.5 + r * std::cos(a) * 0.75, 'f', 6);
        row += ' ' + QByteArray::number(0.5 + r * std::sin(a), 'f', 6);
    }
    row += '\n';
    QFile file(dir.path() + "/labels/big.txt");
    if (!file.open(QIODevice::WriteOnly) || file.write(row) != row.size())
        return 1;
    file.close();
    QFile names(dir.path() + "/labels/classes.txt");
    if (!names.open(QIODevice::WriteOnly) || names.write("ring\n") != 5)
        return 1;
    names.close();
    std::printf("points %d, row %.1f MB\n", points, row.size() / 1e6);

    QElapsedTimer t;
    t.start();
    const StoredAnnotations stored = readStoredAnnotations(imagePath);
    std::printf("%-40s %9.1f ms (%lld points read)\n", "parse", since(t),
                stored.annotations.isEmpty() ? 0LL : qint64(stored.annotations.first().points.size()));

    AnnotationScene scene;
    CanvasView view(&scene);
    QObject::connect(&view, &CanvasView::viewScaleChanged, &scene, &AnnotationScene::setViewScale);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.resize(1280, 800);
    view.show();
    view.setImage(image);
    t.restart();
    scene.setAnnotations(stored.annotations);
    std::printf("%-40s %9.1f ms\n", "item build (setAnnotations)", since(t));

    QImage target(view.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    // The first repaint at a zoom, then the median of five more.
    const auto repaint = [&](const char *what) {
        t.restart();
        view.viewport()->render(&target);
        const double first = since(t);
        std::vector<double> ms;
        for (int i = 0; i < 5; ++i) {
            view.viewport()->render(&target);
            ms.push_back(since(t));
        }
        std::sort(ms.begin(), ms.end());
        std::printf("%-40s %9.1f ms first, %6.1f ms median\n", what, first, ms[2]);
    };
    {
        AnnotationScene bare;
        CanvasView plain(&bare);
        plain.resize(view.size());
        plain.show();
        plain.setImage(image);
        t.restart();
        plain.viewport()->render(&target);
        since(t);
        plain.viewport()->render(&target);
        std::printf("%-40s %9.1f ms\n", "repaint of the image alone", since(t));
    }
    repaint("repaint at fit zoom");
    if (!stored.annotations.isEmpty())
        scene.selectId(scene.annotations().first().id, false);
    repaint("repaint at fit zoom, selected");
    view.setScale(4.0, QRectF(view.viewport()->rect()).center());
    repaint("repaint at 400 %, selected");

    if (!stored.annotations.isEmpty()) {
        QList<Annotation> moved = scene.annotations();
        for (QPointF &p : moved.first().points)
            p += QPointF(1, 1);
        t.restart();
        const bool saved = saveAnnotations(imagePath, moved, true, {QStringLiteral("ring")});
        std::printf("%-40s %9.1f ms (%s)\n", "save after a move", since(t), saved ? "ok" : "failed");
        const StoredAnnotations back = readStoredAnnotations(imagePath);
        std::printf("%-40s %lld\n", "points read back",
                    back.annotations.isEmpty() ? 0LL : qint64(back.annotations.first().points.size()));
    }

    // The window's road: the session shows the image at once and hands the records over when read.
    // The longest gap between two ticks of a 1 ms timer is the longest the GUI thread was busy.
    FolderSession session;
    session.openNow(dir.path() + "/images");
    QList<Annotation> arrived;
    bool done = false;
    QObject::connect(&session, &FolderSession::currentLabelsArrived, [&](const QList<Annotation> &records) {
        arrived = records;
        done = true;
    });
    QElapsedTimer wall;
    QElapsedTimer gap;
    double longest = 0;
    QTimer ticker;
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] { longest = std::max(longest, since(gap)); });
    // The same measure with nothing to do: what a busy machine alone costs the event loop.
    gap.start();
    ticker.start();
    wall.start();
    while (wall.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    ticker.stop();
    std::printf("%-40s %9.1f ms\n", "GUI thread: longest gap, idle (baseline)", longest);
    longest = 0;
    wall.restart();
    t.restart();
    const QList<Annotation> atOnce = session.enterImage(imagePath);
    const double entered = since(t);
    gap.start();
    ticker.start();
    while (!done && wall.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    ticker.stop();
    const double shown = wall.nsecsElapsed() / 1e6;
    std::printf("%-40s %9.1f ms (%lld records at once)\n", "GUI thread: enterImage", entered, qint64(atOnce.size()));
    std::printf("%-40s %9.1f ms\n", "GUI thread: longest stall while read", longest);
    std::printf("%-40s %9.1f ms (%lld records)\n", "labels arrived after", shown, qint64(arrived.size()));
    if (!arrived.isEmpty()) {
        QList<Annotation> moved = arrived;
        for (QPointF &p : moved.first().points)
            p += QPointF(1, 1);
        t.restart();
        const bool saved = session.saveImage(imagePath, moved);
        std::printf("%-40s %9.1f ms (%s)\n", "GUI thread: saveImage after a move", since(t), saved ? "ok" : "failed");
    }
    return 0;
}
