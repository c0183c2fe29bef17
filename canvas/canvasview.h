#pragma once

#include <QCursor>
#include <QGraphicsView>
#include <QImage>

class AnnotationScene;

// The zooming, panning view of an AnnotationScene. It owns the zoom factor (screen pixels per
// image pixel, 0.1 to 32), fits new images (again on each resize until the user zooms or pans), pans with the middle button or Space + drag and turns
// arrow keys into nudges of the selection. Everything the window needs leaves by signals.
class CanvasView : public QGraphicsView
{
    Q_OBJECT

public:
    static constexpr double kMinScale = 0.1;
    static constexpr double kMaxScale = 32.0;

    CanvasView(AnnotationScene *scene, QWidget *parent = nullptr);

    // logicalSize: see AnnotationScene::setImage. Fits the image into the view.
    void setImage(const QImage &image, const QSize &logicalSize = QSize());
    // Other pixels for the image shown (a sharper copy), keeping zoom, scroll and shapes.
    void replaceImagePixels(const QImage &image);
    QSize imageSize() const { return m_imageSize; }
    void clear();
    void setCanvasCursor(const QCursor &cursor);
    // The one zoom primitive; anchor is in viewport coordinates and keeps its scene point.
    void setScale(double k, const QPointF &anchor);

    double zoomFactor() const { return m_scale; }
    bool fitPending() const { return m_fitPending; }
    // The image is fitted and the user has not zoomed or panned since: a resize fits it again.
    bool atFit() const { return m_atFit; }
    bool isPanning() const { return m_panning; }
    bool spaceHeld() const { return m_spaceHeld; }

public slots:
    void zoomIn();
    void zoomOut();
    void zoomFit();
    void zoom100();

signals:
    void zoomChanged(int percent);
    void cursorMoved(const QPoint &px, bool inside);
    void viewScaleChanged(double k);

protected:
    bool event(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void refreshCursor();
    QPointF viewportCentre() const;
    void updatePannableArea(const QSize &viewportSize);

    AnnotationScene *m_scene;   // not owned
    QSize m_imageSize;   // in image pixels; empty without an image
    double m_scale = 1.0;
    bool m_spaceHeld = false;
    bool m_panning = false;
    bool m_fitPending = false;
    bool m_atFit = false;
    QPointF m_lastPanPos;
    QCursor m_canvasCursor{Qt::ArrowCursor};
};
