#include "storage/imagescaling.h"
#include "storage/storagefixtures.h"
#include "testmain.h"
#include "ui/imagedecoder.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>

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

private:
    QTemporaryDir m_dir;
    QString m_huge;
    QString m_claimed;
};

BRINDLE_TEST_MAIN(TestImageDecoder)
#include "tst_imagedecoder.moc"
