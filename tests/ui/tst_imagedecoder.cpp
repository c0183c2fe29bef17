#include "storage/imagescaling.h"
#include "storage/storagefixtures.h"
#include "testmain.h"
#include "ui/imagedecoder.h"

#include <QTemporaryDir>

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

private:
    QTemporaryDir m_dir;
    QString m_huge;
    QString m_claimed;
};

BRINDLE_TEST_MAIN(TestImageDecoder)
#include "tst_imagedecoder.moc"
