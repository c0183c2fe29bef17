#include "storage/imagescaling.h"
#include "storage/storagefixtures.h"
#include "testmain.h"
#include "ui/imagedecoder.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdlib>

// The canvas's decoder within the memory budget: a one-bit PNG of 30000 x 30000 pixels is 157 KB
// on disk and 3.6 GB in 32 bits.
class TestImageDecoder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_huge = m_dir.filePath(QStringLiteral("huge.png"));
        QVERIFY(Fixtures::makeOneBitPng(m_huge, 30000, 30000));
        m_claimed = m_dir.filePath(QStringLiteral("claimed.png"));
        QVERIFY(Fixtures::makeClaimedPng(m_claimed, 20000, 20000));
    }

    void withinTheBudget_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QSize>("fitInto");   // invalid: full resolution
        QTest::addColumn<int>("use");
        QTest::addColumn<bool>("decoded");
        QTest::addColumn<bool>("tooLarge");
        const int shown = int(DecodeUse::Shown);
        const int background = int(DecodeUse::Background);
        QTest::newRow("huge one-bit, shown to fit") << "huge" << QSize(1200, 800) << shown << true << false;
        QTest::newRow("huge one-bit, prefetched") << "huge" << QSize(1200, 800) << background << false << true;
        QTest::newRow("huge one-bit, zoomed in") << "huge" << QSize() << shown << true << false;
        QTest::newRow("header claims 20000 x 20000 in colour, zoomed in") << "claimed" << QSize() << shown << false
                                                                          << true;
    }

    void withinTheBudget()
    {
        QFETCH(QString, file);
        QFETCH(QSize, fitInto);
        QFETCH(int, use);
        QFETCH(bool, decoded);
        QFETCH(bool, tooLarge);
        const QString path = file == u"huge" ? m_huge : m_claimed;
        const DecodedImage image = decodeImage(path, fitInto, DecodeUse(use));
        QCOMPARE(!image.isNull(), decoded);
        QCOMPARE(image.tooLarge, tooLarge);
        if (!decoded)
            return;
        QCOMPARE(image.fullSize, QSize(30000, 30000));
        QVERIFY(imageBytes(image.image.size(), image.image.format()) <= kImageBudgetBytes);
        if (fitInto.isValid())
            QVERIFY(image.image.width() <= fitInto.width() * 2);
        // The box of the fixture is still there, black on white.
        const auto at = [&image](double fx, double fy) {
            return QColor(image.image.pixel(int(fx * image.image.width()), int(fy * image.image.height())));
        };
        QCOMPARE(at(0.1, 0.1), QColor(Qt::white));
        QCOMPARE(at(0.5, 0.45), QColor(Qt::black));
    }

    // What is decoded for a canvas area: JPEG at the decoder's cheap steps, a step coarser while
    // the user holds a key, and the size shown always the whole image's.
    void decodedSize_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSize>("stored");
        QTest::addColumn<bool>("coarse");
        QTest::addColumn<QSize>("decoded");
        QTest::addColumn<bool>("markedCoarse");
        const QSize big(2000, 1500), mid(1000, 750);
        QTest::newRow("jpeg over twice the area: half") << "a.jpg" << big << false << QSize(1000, 750) << false;
        QTest::newRow("jpeg over twice the area, coarse: a quarter") << "a.jpg" << big << true << QSize(500, 375) << true;
        QTest::newRow("jpeg under twice the area: whole") << "b.jpg" << mid << false << mid << false;
        QTest::newRow("jpeg under twice the area, coarse: half") << "b.jpg" << mid << true << QSize(500, 375) << true;
        QTest::newRow("jpeg smaller than the area, coarse: whole") << "c.jpg" << QSize(400, 300) << true
                                                                  << QSize(400, 300) << false;
        QTest::newRow("png has no cheap step: whole") << "d.png" << mid << true << mid << false;
    }

    void decodedSize()
    {
        QFETCH(QString, name);
        QFETCH(QSize, stored);
        QFETCH(bool, coarse);
        QFETCH(QSize, decoded);
        QFETCH(bool, markedCoarse);
        const QString path = m_dir.filePath(name);
        if (!QFileInfo::exists(path))
            QVERIFY(Fixtures::makeImage(path, stored.width(), stored.height()));
        const QSize area(800, 600);
        const DecodedImage image = decodeImage(path, area, DecodeUse::Shown, coarse);
        QCOMPARE(image.image.size(), decoded);
        QCOMPARE(image.fullSize, stored);
        QCOMPARE(image.coarse, markedCoarse);
        // At fit zoom a coarse image is stretched: it asks to be made good.
        const double fit = std::min(double(area.width()) / stored.width(), double(area.height()) / stored.height());
        QCOMPARE(needsMoreResolution(image, fit, 1.0), markedCoarse);
    }

    // The display's brightness and contrast: value in, value out of the table.
    void adjustmentTable_data()
    {
        QTest::addColumn<int>("brightness");
        QTest::addColumn<int>("contrast");
        QTest::addColumn<QList<int>>("in");
        QTest::addColumn<QList<int>>("out");
        const QList<int> some{0, 1, 77, 127, 128, 129, 200, 254, 255};
        QTest::newRow("default: identity") << 0 << 0 << some << some;
        QTest::newRow("+20% brightness adds a fifth of the range") << 20 << 0 << QList<int>{0, 100, 204, 205}
                                                                << QList<int>{51, 151, 255, 255};
        QTest::newRow("-30% brightness clamps at black, halves away from zero") << -30 << 0 << QList<int>{0, 76, 77, 255}
                                                         << QList<int>{0, 0, 1, 179};
        QTest::newRow("beyond the range: clamped to +100%") << 250 << 0 << QList<int>{0, 128}
                                                           << QList<int>{255, 255};
        QTest::newRow("+100% contrast doubles around mid-grey") << 0 << 100 << QList<int>{0, 64, 118, 128, 138, 192, 255}
                                                               << QList<int>{0, 0, 108, 128, 148, 255, 255};
        QTest::newRow("-50% contrast halves around mid-grey") << 0 << -50 << QList<int>{0, 100, 128, 255}
                                                             << QList<int>{64, 114, 128, 192};
        QTest::newRow("beyond the range: clamped to -50%") << 0 << -100 << QList<int>{0, 128}
                                                          << QList<int>{64, 128};
        QTest::newRow("contrast then brightness") << 10 << 50 << QList<int>{28, 128, 228}
                                                  << QList<int>{4, 154, 255};
    }

    void adjustmentTable()
    {
        QFETCH(int, brightness);
        QFETCH(int, contrast);
        QFETCH(QList<int>, in);
        QFETCH(QList<int>, out);
        const AdjustmentTable table = ::adjustmentTable({brightness, contrast});
        QList<int> got;
        for (int v : std::as_const(in))
            got.append(table[size_t(v)]);
        QCOMPARE(got, out);
        // Never darker for a brighter value: no banding turned upside down.
        for (size_t v = 1; v < table.size(); ++v)
            QVERIFY(table[v] >= table[v - 1]);
    }

    // The table applied to decoded pixels of any format, alpha kept; the default is no pass.
    void adjustedImage_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QColor>("pixel");
        QTest::addColumn<int>("brightness");
        QTest::addColumn<int>("contrast");
        QTest::addColumn<QColor>("shown");
        QTest::newRow("RGB32, default: the very same pixels") << int(QImage::Format_RGB32) << QColor(10, 128, 250)
                                                           << 0 << 0 << QColor(10, 128, 250);
        QTest::newRow("RGB32 brightened") << int(QImage::Format_RGB32) << QColor(10, 128, 250) << 20 << 0
                                          << QColor(61, 179, 255);
        QTest::newRow("ARGB32 keeps its alpha") << int(QImage::Format_ARGB32) << QColor(10, 128, 250, 100) << 0 << 100
                                                << QColor(0, 128, 255, 100);
        QTest::newRow("premultiplied alpha: colour, not the premultiplied value")
            << int(QImage::Format_ARGB32_Premultiplied) << QColor(200, 100, 0, 128) << 0 << 100
            << QColor(255, 72, 0, 128);
        QTest::newRow("grey eight bits") << int(QImage::Format_Grayscale8) << QColor(100, 100, 100) << -20 << 0
                                         << QColor(49, 49, 49);
    }

    void adjustedImage()
    {
        QFETCH(int, format);
        QFETCH(QColor, pixel);
        QFETCH(int, brightness);
        QFETCH(int, contrast);
        QFETCH(QColor, shown);
        QImage image(7, 5, QImage::Format_ARGB32);
        image.fill(pixel);
        image = image.convertToFormat(QImage::Format(format));
        DecodedImage decoded;
        decoded.image = image;
        decoded.setAdjustment({brightness, contrast});
        const QImage out = decoded.shown();
        QCOMPARE(out.size(), image.size());
        const QColor got = out.pixelColor(6, 4);
        // Premultiplied storage rounds the colour by a step or so.
        const auto near = [](const QColor &a, const QColor &b) {
            return std::abs(a.red() - b.red()) <= 2 && std::abs(a.green() - b.green()) <= 2
                && std::abs(a.blue() - b.blue()) <= 2 && a.alpha() == b.alpha();
        };
        QVERIFY2(near(got, shown), qPrintable(got.name(QColor::HexArgb) + " != " + shown.name(QColor::HexArgb)));
        QCOMPARE(decoded.image, image);   // the decoded pixels stay for the next setting
        if (brightness == 0 && contrast == 0) {
            QVERIFY(decoded.adjusted.isNull());
            QCOMPARE(out.constBits(), image.constBits());
            return;
        }
        // Another setting starts from the decoded pixels, not from the adjusted ones.
        decoded.setAdjustment({0, 0});
        QCOMPARE(decoded.shown().constBits(), image.constBits());
        decoded.setAdjustment({brightness, contrast});
        decoded.setAdjustment({brightness, contrast});
        QVERIFY(near(decoded.shown().pixelColor(0, 0), shown));
    }

private:
    QTemporaryDir m_dir;
    QString m_huge;
    QString m_claimed;
};

BRINDLE_TEST_MAIN(TestImageDecoder)
#include "tst_imagedecoder.moc"
