#include "checkerfixtures.h"
#include "testmain.h"

#include "checker/labelchecker.h"
#include "shared/language.h"
#include "storage/datasetlayout.h"

#include <QTemporaryDir>

// What reaches the GUI thread through queued connections, as the main window receives it.
struct Collector
{
    explicit Collector(LabelChecker *checker)
    {
        QObject::connect(checker, &LabelChecker::issueFound, &context, [this](const LabelIssue &i) { issues.append(i); });
        QObject::connect(checker, &LabelChecker::finished, &context,
                         [this](int checked, int count, int images) { finished.append({checked, count, images}); });
    }
    QObject context;
    QList<LabelIssue> issues;
    QList<QList<int>> finished;
};

// The worker pass over a synthetic dataset: clean images with a few injected errors.
class TestLabelChecker : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        setLanguage(QStringLiteral("zh_CN"));
        QVERIFY(m_tmp.isValid());
        const QString dir = m_tmp.path() + QStringLiteral("/ds/images");
        for (int i = 0; i < 40; ++i) {
            const QString image = dir + QStringLiteral("/img%1.png").arg(i, 3, 10, QLatin1Char('0'));
            QVERIFY(Fixtures::makeImage(image, 64, 48));
            m_images.append(image);
            if (i % 10 == 9)
                continue;   // unlabelled images count as checked
            QByteArray lines;
            for (int k = 0; k < 5; ++k)
                lines += QByteArray::number(k % 2) + " 0." + QByteArray::number(1 + k) + "5 0.5 0.1 0.2\n";
            QVERIFY(Fixtures::writeBytes(yoloLabelPath(image), lines));
        }
        QVERIFY(Fixtures::writeBytes(labelsDirFor(m_images.first()) + "/classes.txt", "cat\ndog\n"));

        // Injected: a tiny box, a class outside the list, a duplicate, a second format.
        QVERIFY(Fixtures::writeBytes(yoloLabelPath(m_images.at(4)), "0 0.5 0.5 0.01 0.5\n"));
        QVERIFY(Fixtures::writeBytes(yoloLabelPath(m_images.at(12)), "0 0.5 0.5 0.5 0.5\n7 0.2 0.2 0.2 0.2\n"));
        QVERIFY(Fixtures::writeBytes(yoloLabelPath(m_images.at(20)), "1 0.5 0.5 0.5 0.5\n1 0.5 0.5 0.5 0.5\n"));
        QVERIFY(Fixtures::writeBytes(vocXmlPath(m_images.at(33)), Fixtures::vocXml({{"dog", 4, 4, 40, 40}})));
        m_expected = {
            m_images.at(4) + "|tiny_box|过小框|第1个「cat」尺寸 1x24",
            m_images.at(12) + "|unknown_category|未知类别|第2个「7」不在类别表中",
            m_images.at(20) + "|duplicate|重复框|第2个与第1个「dog」几乎完全重叠(IoU>0.95)",
            m_images.at(33) + "|format_conflict|格式冲突|annotations/*.xml 与 labels/*.txt 同时存在,以 XML 为准",
        };
    }

    void passFindsExactlyTheInjectedErrors()
    {
        LabelChecker checker;
        Collector c(&checker);
        QVERIFY(checker.startCheck(m_images, {"cat", "dog"}));
        QTRY_COMPARE(c.finished.size(), 1);
        QCOMPARE(c.finished.first(), (QList<int>{40, 4, 4}));
        QCOMPARE(Fixtures::words(c.issues), m_expected);

        // The thread is reused for the next pass, with its own lists: dog is unknown now.
        c.issues.clear();
        QVERIFY(checker.wait(10000));
        QVERIFY(checker.startCheck(m_images.mid(10, 5), {"cat"}));
        QTRY_COMPARE(c.finished.size(), 2);
        QCOMPARE(c.finished.last(), (QList<int>{5, 9, 5}));
        QCOMPARE(c.issues.size(), 9);
        QCOMPARE(Fixtures::words({c.issues.at(4)}), QStringList{m_images.at(12) + "|unknown_category|未知类别|第2个「7」不在类别表中"});
    }

    void emptyListFinishesAtOnce()
    {
        LabelChecker checker;
        Collector c(&checker);
        QVERIFY(checker.startCheck({}, {"cat"}));
        QTRY_COMPARE(c.finished.size(), 1);
        QCOMPARE(c.finished.first(), (QList<int>{0, 0, 0}));
    }

    void stopMidPassEmitsNoSummary()
    {
        LabelChecker checker;
        Collector c(&checker);
        // Stops from inside the pass at its first finding, so the point of stopping is fixed.
        connect(&checker, &LabelChecker::issueFound, &checker, [&checker] { checker.requestStop(); },
                Qt::DirectConnection);
        QVERIFY(checker.startCheck(m_images, {"cat", "dog"}));
        QVERIFY(checker.wait(10000));
        QTRY_COMPARE(c.issues.size(), 1);
        QCOMPARE(Fixtures::words({c.issues.first()}), QStringList{m_expected.first()});
        QCoreApplication::sendPostedEvents();
        QCOMPARE(c.finished.size(), 0);
    }

private:
    QTemporaryDir m_tmp;
    QStringList m_images;
    QStringList m_expected;   // path|kind|problem|detail
};

BRINDLE_TEST_MAIN(TestLabelChecker)
#include "tst_labelchecker.moc"
