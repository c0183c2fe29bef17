// Try the canvas by hand: canvas_demo [image] [--shot out.png]
// Keys: V select, R rectangle, P polygon, F fit, 0 100 %, Esc cancel drawing, Del delete,
// Enter confirm the selected pending shape. Drawn shapes get the label "object".
// With --shot the window is rendered into a PNG and the program exits.

#include "canvas/annotationscene.h"
#include "canvas/canvasview.h"
#include "canvas/shapeitembase.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QShortcut>

namespace {
QImage sampleImage()
{
    QImage image(1600, 1000, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, 1600, 1000);
    g.setColorAt(0, QColor(60, 80, 100));
    g.setColorAt(1, QColor(150, 130, 90));
    p.fillRect(image.rect(), g);
    p.setPen(QPen(QColor(230, 230, 230), 3));
    for (int i = 0; i < 12; ++i)
        p.drawEllipse(QPointF(150 + i * 120, 300 + (i % 3) * 200), 40, 60);
    return image;
}

QList<Annotation> sampleShapes()
{
    QList<Annotation> list;
    Annotation a;
    a.rect = QRectF(100, 220, 110, 170);
    a.label = QStringLiteral("person");
    list << a;
    a.rect = QRectF(400, 420, 130, 170);
    a.label = QStringLiteral("a rather long category name");
    a.difficult = true;
    list << a;
    a = Annotation();
    a.rect = QRectF(760, 230, 130, 150);
    a.label = QStringLiteral("cat");
    a.confidence = 0.87;
    a.pending = 1;
    list << a;
    a = Annotation();
    a.kind = Annotation::Polygon;
    a.points = {{1000, 600}, {1180, 560}, {1250, 700}, {1120, 820}, {990, 760}};
    a.label = QStringLiteral("行人");
    a.confidence = 0.42;
    list << a;
    return list;
}
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    registerAnnotationMetaTypes();
    QString imagePath, shotPath;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--shot") && i + 1 < args.size())
            shotPath = args.at(++i);
        else
            imagePath = args.at(i);
    }

    AnnotationScene scene;
    CanvasView view(&scene);
    QObject::connect(&view, &CanvasView::viewScaleChanged, &scene, &AnnotationScene::setViewScale);
    QObject::connect(&view, &CanvasView::zoomChanged, &view,
                     [&view](int percent) { view.setWindowTitle(QStringLiteral("canvas demo — %1 %").arg(percent)); });
    QObject::connect(&scene, &AnnotationScene::shapeDrafted, &scene, [&scene](Annotation draft) {
        draft.label = QStringLiteral("object");
        scene.applyState(uint(scene.allocateId()), draft);
    });
    QObject::connect(&scene, &AnnotationScene::confirmRequested, &scene, [&scene](uint id) {
        if (ShapeItemBase *item = scene.shapeItem(id)) {
            Annotation a = item->annotation();
            a.pending = 0;
            scene.applyState(id, a);
        }
    });

    auto shortcut = [&view](QKeySequence key, auto slot) {
        QObject::connect(new QShortcut(key, &view), &QShortcut::activated, &view, slot);
    };
    shortcut(Qt::Key_V, [&] { scene.setMode(0); view.setCanvasCursor(Qt::ArrowCursor); });
    shortcut(Qt::Key_R, [&] { scene.setMode(1); view.setCanvasCursor(Qt::CrossCursor); });
    shortcut(Qt::Key_P, [&] { scene.setMode(2); view.setCanvasCursor(Qt::CrossCursor); });
    shortcut(Qt::Key_F, [&] { view.zoomFit(); });
    shortcut(Qt::Key_0, [&] { view.zoom100(); });
    shortcut(Qt::Key_Escape, [&] {
        if (scene.isInteracting())
            scene.cancelDrawing();
        else
            scene.selectId(0, false);
    });
    shortcut(Qt::Key_Delete, [&] {
        for (uint id : scene.selectedIds())
            scene.applyState(id, std::nullopt);
    });

    view.resize(1280, 800);
    view.show();
    const QImage image = imagePath.isEmpty() ? sampleImage() : QImage(imagePath);
    view.setImage(image);
    scene.setAnnotations(imagePath.isEmpty() ? sampleShapes() : QList<Annotation>());
    if (!scene.annotations().isEmpty())
        scene.selectId(scene.annotations().first().id, false);

    if (!shotPath.isEmpty())
        return view.grab().save(shotPath) ? 0 : 1;
    return app.exec();
}
