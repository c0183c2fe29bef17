#pragma once

#include "storage/annotation.h"

#include <QFont>
#include <QGraphicsObject>
#include <QStaticText>

class QPainter;

// The on-canvas form of one Annotation. Items never touch the dataset: an edit gesture ends with
// editFinished(before, after) and the owner decides what becomes of it. Only AnnotationScene
// creates, updates and deletes items. Geometry is in image pixels; decorations in screen pixels.
class ShapeItemBase : public QGraphicsObject
{
    Q_OBJECT

public:
    explicit ShapeItemBase(const Annotation &annotation, QGraphicsItem *parent = nullptr);

    virtual quint32 id() const = 0;
    virtual Annotation annotation() const = 0;
    virtual void setAnnotation(const Annotation &annotation) = 0;
    virtual void setViewScale(double s) = 0;

    // Screen-pixel constants shared by hit tests and painting.
    static constexpr double kTagFontPixels = 11;
    static constexpr double kBadgeFontPixels = 10;
    static constexpr double kHandleSize = 6;

signals:
    void editFinished(uint id, const Annotation &before, const Annotation &after);
    void confirmRequested(uint id);

protected:
    // Zoom used for hit tolerances: n screen pixels are n / hitScale() scene units.
    double hitScale() const { return qMax(m_scale, 0.1); }
    // Zoom used for painting decorations.
    double paintScale() const { return m_scale > 0 ? m_scale : 1.0; }
    // Stores s (<= 0 taken as 1); returns false when it equals the stored value.
    bool storeViewScale(double s);
    // The scene's image rectangle, or an invalid rect when there is nothing to clamp to.
    QRectF imageBounds() const;
    QColor shapeColor() const;
    void selectOnly(bool keepOthers);
    QPen outlinePen() const;

    // Decorations, drawn with the painter already in screen pixels (scaled by 1 / s).
    void paintTag(QPainter *painter, const QRectF &screenRect, bool elideToRect) const;
    void paintBadge(QPainter *painter, const QRectF &screenRect) const;
    static void paintHandle(QPainter *painter, const QPointF &centre, bool hovered);

    Annotation m_ann;     // held record
    Annotation m_press;   // record at the press that started a gesture
    double m_scale = 1.0; // screen pixels per image pixel

    bool decorationsDiffer(const Annotation &other) const
    {
        return other.label != m_ann.label || other.difficult != m_ann.difficult
            || other.confidence != m_ann.confidence;
    }
    // Scene rect of the tag and badge of a shape whose outline has the bounding rect sceneRect.
    QRectF decorationBounds(const QRectF &sceneRect, bool elideToRect) const;

private:
    // Laid-out decoration text. Shaping text on every repaint would dominate the repaint of a
    // busy image, so each item keeps its last layout until text, font or room change.
    struct TextCache {
        QFont baseFont;      // font the decoration font was derived from
        QFont font;          // decoration font
        QFont laidOutFont;   // font of the current layout
        QString text;
        double number = -1;  // badge: the confidence the text shows
        int maxWidth = -1;
        QStaticText shown;
        qreal advance = 0;
        qreal height = 0;
    };
    static void paintTextBox(QPainter *painter, const QRectF &box, const QColor &fill,
                             const QStaticText &text, qreal advance, qreal height);
    void layoutText(TextCache &cache, const QString &text, int maxWidth) const;
    QString tagText() const;
    QRectF tagRect(const QRectF &screenRect, bool elideToRect, const QFont &baseFont) const;
    QRectF badgeRect(const QRectF &screenRect) const;

    mutable TextCache m_tagCache;
    mutable TextCache m_badgeCache;
    mutable QFont m_paintFont;   // the painter's font at the last paint; sizes the tag until then
    mutable bool m_paintFontKnown = false;
};
