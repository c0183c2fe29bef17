#include "canvas/devicestamp.h"
#include "canvas/rectoutline.h"
#include "canvas/textboxstamp.h"
#include "testmain.h"

#include <QFontMetricsF>
#include <QPainterPath>
#include <QRandomGenerator>
#include <QStaticText>

#include <functional>

// The cheaper ways of painting outlines and tags must give the very pixels of plain drawing.
class TestPaintStamps : public QObject
{
    Q_OBJECT

private slots:
    void rectOutlineMatchesStroke_data();
    void rectOutlineMatchesStroke();
    void rectOutlineDeclines_data();
    void rectOutlineDeclines();

    void stampMatchesDrawing_data();
    void stampMatchesDrawing();
    void stampRedrawsOnChange();
    void stampDeclines_data();
    void stampDeclines();

    void textBoxMatchesDrawing_data();
    void textBoxMatchesDrawing();
    void textBoxFollowsText();

private:
    static QImage canvas()
    {
        // A gradient, so that blending a translucent colour twice would show.
        QImage image(320, 240, QImage::Format_ARGB32_Premultiplied);
        QPainter p(&image);
        QLinearGradient g(0, 0, 320, 240);
        g.setColorAt(0, QColor(30, 60, 90));
        g.setColorAt(1, QColor(200, 170, 110));
        p.fillRect(image.rect(), g);
        return image;
    }
    static QPen outlinePen(const QColor &c, bool dashed)
    {
        QPen pen(c, 2);
        pen.setCosmetic(true);
        if (dashed)
            pen.setDashPattern({2, 1.5});
        return pen;
    }
    static QString firstDifference(const QImage &a, const QImage &b)
    {
        for (int y = 0; y < a.height(); ++y) {
            for (int x = 0; x < a.width(); ++x) {
                if (a.pixel(x, y) != b.pixel(x, y))
                    return QStringLiteral("(%1, %2): %3 vs %4").arg(x).arg(y)
                        .arg(a.pixel(x, y), 8, 16).arg(b.pixel(x, y), 8, 16);
            }
        }
        return QString();
    }
};

void TestPaintStamps::rectOutlineMatchesStroke_data()
{
    QTest::addColumn<double>("scale");
    QTest::addColumn<QPointF>("shift");
    QTest::addColumn<bool>("wholePixels");
    QTest::addColumn<bool>("clipped");
    QTest::newRow("fit zoom") << 1.0 / 3 << QPointF(0, 0) << false << false;
    QTest::newRow("half, on half pixels") << 0.5 << QPointF(0.5, 0.25) << true << false;
    QTest::newRow("100 %, whole pixels") << 1.0 << QPointF(0, 0) << true << false;
    QTest::newRow("tiny zoom") << 0.043 << QPointF(0.37, 0.61) << false << false;
    QTest::newRow("400 %, scrolled far") << 4.0 << QPointF(-4987.3, -2611.9) << false << false;
    QTest::newRow("odd zoom, clipped") << 1.7 << QPointF(13.3, 7.7) << false << true;
}

void TestPaintStamps::rectOutlineMatchesStroke()
{
    QFETCH(double, scale);
    QFETCH(QPointF, shift);
    QFETCH(bool, wholePixels);
    QFETCH(bool, clipped);
    QRandomGenerator rng(1234);
    const QColor colour(0x4C, 0x8D, 0xFF);
    for (int i = 0; i < 400; ++i) {
        // Device rects from 3 pixels up to past the image's edges.
        double x = -40 + rng.bounded(300.0), y = -40 + rng.bounded(220.0);
        double w = 3 + rng.bounded(i % 4 ? 120.0 : 4.0), h = 3 + rng.bounded(i % 5 ? 120.0 : 4.0);
        if (wholePixels) {
            x = std::round(x * 2) / 2;
            y = std::round(y * 2) / 2;
            w = std::round(w * 2) / 2 + 0.5;
            h = std::round(h) + 0.5;
        }
        const QRectF r((x - shift.x()) / scale, (y - shift.y()) / scale, w / scale, h / scale);
        QImage stroked = canvas(), filled = canvas();
        for (QImage *image : {&stroked, &filled}) {
            QPainter p(image);
            if (clipped)
                p.setClipRect(QRect(40, 30, 200, 150));
            p.translate(shift);
            p.scale(scale, scale);
            if (image == &filled) {
                QVERIFY2(fillRectOutline(&p, r, colour), qPrintable(QStringLiteral("case %1").arg(i)));
            } else {
                p.setPen(outlinePen(colour, false));
                p.setBrush(Qt::NoBrush);
                p.drawRect(r);
            }
        }
        QVERIFY2(stroked == filled, qPrintable(QStringLiteral("case %1, first difference at %2")
                                                   .arg(i).arg(firstDifference(stroked, filled))));
    }
}

void TestPaintStamps::rectOutlineDeclines_data()
{
    QTest::addColumn<int>("setup");
    QTest::newRow("antialiased") << 0;
    QTest::newRow("rotated") << 1;
    QTest::newRow("translucent colour") << 2;
    QTest::newRow("narrower than 3 pixels") << 3;
    QTest::newRow("mirrored") << 4;
}

void TestPaintStamps::rectOutlineDeclines()
{
    QFETCH(int, setup);
    QImage image = canvas();
    const QImage before = image;
    QPainter p(&image);
    QColor colour(0x3F, 0xB2, 0x7F);
    QRectF r(20, 20, 100, 60);
    switch (setup) {
    case 0: p.setRenderHint(QPainter::Antialiasing); break;
    case 1: p.rotate(10); break;
    case 2: colour.setAlpha(200); break;
    case 3: r.setWidth(2.5); break;
    case 4: p.translate(200, 0); p.scale(-1, 1); break;
    }
    QVERIFY(!fillRectOutline(&p, r, colour));
    p.end();
    QCOMPARE(image, before);
}

void TestPaintStamps::stampMatchesDrawing_data()
{
    QTest::addColumn<int>("shape");
    QTest::addColumn<bool>("antialiased");
    QTest::addColumn<bool>("dashed");
    QTest::addColumn<double>("scale");
    QTest::newRow("dashed box, fit zoom") << 0 << false << true << 1.0 / 3;
    QTest::newRow("dashed box, half") << 0 << false << true << 0.5;
    QTest::newRow("polygon outline, fit zoom") << 1 << true << false << 1.0 / 3;
    QTest::newRow("dashed polygon, 150 %") << 1 << true << true << 1.5;
    QTest::newRow("dashed polygon, 100 %") << 1 << true << true << 1.0;
}

void TestPaintStamps::stampMatchesDrawing()
{
    QFETCH(int, shape);
    QFETCH(bool, antialiased);
    QFETCH(bool, dashed);
    QFETCH(double, scale);
    QRandomGenerator rng(99);
    const QColor colour(0xE2, 0xB9, 0x3D);
    int copies = 0;
    for (int i = 0; i < 60; ++i) {
        const QPointF shift(rng.bounded(40.0) - 20, rng.bounded(40.0) - 20);
        QPolygonF polygon;
        const QPointF centre(60 + rng.bounded(200.0), 50 + rng.bounded(140.0));
        const int n = shape == 0 ? 4 : 5 + int(rng.bounded(12));
        for (int k = 0; k < n; ++k) {
            const double t = 2 * M_PI * k / n, radius = 10 + rng.bounded(40.0);
            polygon << (centre + QPointF(std::cos(t), std::sin(t)) * radius - shift) / scale;
        }
        const QRectF box = polygon.boundingRect();
        const auto draw = [&](QPainter *p) {
            p->setPen(outlinePen(colour, dashed));
            p->setBrush(Qt::NoBrush);
            if (shape == 0)
                p->drawRect(box);
            else
                p->drawPolygon(polygon, Qt::OddEvenFill);
        };
        const auto setUp = [&](QPainter &p) {
            p.setRenderHint(QPainter::Antialiasing, antialiased);
            p.translate(shift);
            p.scale(scale, scale);
        };
        QImage direct = canvas();
        {
            QPainter p(&direct);
            setUp(p);
            draw(&p);
        }
        // The first paint leaves drawing to the caller, the second draws the stamp, the third
        // only copies it.
        DeviceStamp stamp;
        QImage untouched = canvas();
        {
            QPainter p(&untouched);
            setUp(p);
            QVERIFY(!stamp.paint(&p, box, 3, true, draw));
        }
        QCOMPARE(untouched, canvas());
        for (int round = 0; round < 2; ++round) {
            QImage copied = canvas();
            QPainter p(&copied);
            setUp(p);
            if (!stamp.paint(&p, box, 3, false, draw))
                break;   // reaches past the image: drawn directly by the caller
            p.end();
            ++copies;
            const QString where = QStringLiteral("case %1, round %2, first difference at %3")
                                      .arg(i).arg(round).arg(firstDifference(direct, copied));
            QVERIFY2(direct == copied, qPrintable(where));
        }
    }
    QVERIFY2(copies > 60, qPrintable(QString::number(copies)));   // most shapes lie on the image
}

void TestPaintStamps::stampRedrawsOnChange()
{
    const auto drawLine = [](const QLineF &line) {
        return [line](QPainter *p) {
            p->setPen(QPen(Qt::green, 3));
            p->drawLine(line);
        };
    };
    const QRectF bounds(50, 50, 100, 100);
    DeviceStamp stamp;
    const QLineF first(50, 50, 150, 150), second(50, 150, 150, 50);
    for (bool changed : {true, false, false}) {
        QImage image = canvas();
        QPainter p(&image);
        stamp.paint(&p, bounds, 3, changed, drawLine(first));
    }
    // A new drawing and a sub-pixel move must both show as plain drawing would, from the second
    // paint on; the first is left to the caller. A move by whole pixels keeps the stamp.
    const struct { QLineF line; bool changed; QPointF shift; bool copied; } steps[] = {
        {second, true, QPointF(0, 0), false}, {second, false, QPointF(0, 0), true},
        {second, false, QPointF(0.3, 0.7), false}, {second, false, QPointF(0.3, 0.7), true},
        {second, false, QPointF(0.3, 0.7), true},
        {second, false, QPointF(5.3, 1.7), true},   // whole pixels on, as in scrolling: still valid
    };
    int index = 0;
    for (const auto &step : steps) {
        const QByteArray where = QByteArray::number(index++);
        QImage copied = canvas(), direct = canvas();
        QPainter p(&copied);
        p.translate(step.shift);
        if (!stamp.paint(&p, bounds, 3, step.changed, drawLine(step.line))) {
            QVERIFY2(!step.copied, where.constData());
            drawLine(step.line)(&p);
        } else {
            QVERIFY2(step.copied, where.constData());
        }
        p.end();
        QPainter q(&direct);
        q.translate(step.shift);
        drawLine(step.line)(&q);
        q.end();
        QVERIFY2(direct == copied, qPrintable(firstDifference(direct, copied)));
    }
}

void TestPaintStamps::stampDeclines_data()
{
    QTest::addColumn<QRectF>("bounds");
    QTest::addColumn<int>("setup");
    QTest::newRow("past the left edge") << QRectF(-10, 40, 60, 60) << 0;
    QTest::newRow("past the bottom edge") << QRectF(100, 200, 60, 60) << 0;
    QTest::newRow("too large to keep") << QRectF(0, 0, 5000, 5000) << 1;
    QTest::newRow("rotated") << QRectF(100, 50, 60, 60) << 2;
    QTest::newRow("half opacity") << QRectF(100, 50, 60, 60) << 3;
}

void TestPaintStamps::stampDeclines()
{
    QFETCH(QRectF, bounds);
    QFETCH(int, setup);
    QImage image = canvas();
    const QImage before = image;
    QPainter p(&image);
    if (setup == 1)
        p.scale(0.05, 0.05);
    else if (setup == 2)
        p.rotate(5);
    else if (setup == 3)
        p.setOpacity(0.5);
    bool drew = false;
    QVERIFY(!DeviceStamp().paint(&p, bounds, 3, true, [&](QPainter *) { drew = true; }));
    p.end();
    QVERIFY(!drew);
    QCOMPARE(image, before);
}

void TestPaintStamps::textBoxMatchesDrawing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QColor>("fill");
    QTest::addColumn<int>("pixelSize");
    QTest::newRow("opaque tag") << QStringLiteral("traffic light") << QColor(0x9B, 0x7B, 0xFF) << 11;
    QTest::newRow("tag with marker") << QStringLiteral("行人 · 困难") << QColor(0xE2, 0xB9, 0x3D) << 11;
    QTest::newRow("translucent badge") << QStringLiteral("0.87") << QColor(0, 0, 0, 153) << 10;
}

void TestPaintStamps::textBoxMatchesDrawing()
{
    QFETCH(QString, text);
    QFETCH(QColor, fill);
    QFETCH(int, pixelSize);
    QFont font;
    font.setPixelSize(pixelSize);
    const QFontMetricsF fm(font);
    QStaticText shown(text);
    shown.setTextFormat(Qt::PlainText);
    shown.prepare(QTransform(), font);
    const qreal advance = fm.horizontalAdvance(text), height = fm.height();
    QRandomGenerator rng(7);
    TextBoxStamp stamp;
    for (int i = 0; i < 40; ++i) {
        // Screen-pixel boxes under a near-identity scale, as the items paint them.
        const double s = i % 2 ? 1.0 / 3 : 0.77;
        const QPointF corner(5 + rng.bounded(200.0), 5 + rng.bounded(180.0));
        const QRectF box(corner, QSizeF(std::ceil(advance) + 8, std::ceil(height) + 4));
        QImage direct = canvas(), copied = canvas();
        for (QImage *image : {&direct, &copied}) {
            QPainter p(image);
            p.setRenderHint(QPainter::Antialiasing);
            p.scale(s, s);
            p.scale(1 / s, 1 / s);
            p.setFont(font);
            if (image == &direct)
                TextBoxStamp::draw(&p, box, fill, shown, advance, height);
            else
                stamp.paint(&p, box, fill, shown, advance, height);
        }
        QVERIFY2(direct == copied, qPrintable(QStringLiteral("case %1, first difference at %2")
                                                  .arg(i).arg(firstDifference(direct, copied))));
    }
}

void TestPaintStamps::textBoxFollowsText()
{
    QFont font;
    font.setPixelSize(11);
    TextBoxStamp stamp;
    const QRectF box(40.25, 30.5, 60, 17);
    for (const QString &text : {QStringLiteral("car"), QStringLiteral("bus")}) {
        QStaticText shown(text);
        shown.prepare(QTransform(), font);
        const qreal advance = QFontMetricsF(font).horizontalAdvance(text);
        QImage direct = canvas(), copied = canvas();
        for (QImage *image : {&direct, &copied}) {
            QPainter p(image);
            p.setFont(font);
            if (image == &direct)
                TextBoxStamp::draw(&p, box, Qt::darkCyan, shown, advance, 13);
            else
                stamp.paint(&p, box, Qt::darkCyan, shown, advance, 13);
        }
        QVERIFY2(direct == copied, qPrintable(text + QStringLiteral(": ") + firstDifference(direct, copied)));
    }
}

BRINDLE_TEST_MAIN(TestPaintStamps)
#include "tst_paintstamps.moc"
