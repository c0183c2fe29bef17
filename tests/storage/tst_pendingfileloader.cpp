#include "storage/pendingfileloader.h"

#include "support/annotationbuilders.h"
#include "testmain.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

AnnotationCache oneResult(const QString &image, const QString &label)
{
    return {{image, {box(label, QRectF(10, 10, 50, 40), 1, 0.8)}}};
}

} // namespace

class TestPendingFileLoader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerAnnotationMetaTypes(); }
    void deliveries_data();
    void deliveries();
};

void TestPendingFileLoader::deliveries_data()
{
    QTest::addColumn<QStringList>("calls");     // "preload X" / "load X", X = a or b
    QTest::addColumn<QStringList>("delivered"); // folder and first label of each loaded signal
    QTest::newRow("load") << QStringList{"load a"} << QStringList{"a cat"};
    QTest::newRow("preload, then the folder opens: read once")
        << QStringList{"preload a", "load a"} << QStringList{"a cat"};
    QTest::newRow("preload, another folder opens") << QStringList{"preload a", "load b"}
                                                   << QStringList{"a cat", "b dog"};
    QTest::newRow("the preloaded folder opened again later: read again")
        << QStringList{"preload a", "load a", "load a"} << QStringList{"a cat", "a cat"};
    QTest::newRow("load twice") << QStringList{"load a", "load a"} << QStringList{"a cat", "a cat"};
}

void TestPendingFileLoader::deliveries()
{
    QFETCH(QStringList, calls);
    QFETCH(QStringList, delivered);
    QTemporaryDir tmp;
    const QString a = tmp.filePath(QStringLiteral("a")), b = tmp.filePath(QStringLiteral("b"));
    QVERIFY(QDir().mkpath(a) && QDir().mkpath(b));
    QVERIFY(writePendingFile(a, oneResult(a + QStringLiteral("/1.jpg"), QStringLiteral("cat"))));
    QVERIFY(writePendingFile(b, oneResult(b + QStringLiteral("/1.jpg"), QStringLiteral("dog"))));

    PendingFileLoader loader;
    QSignalSpy loaded(&loader, &PendingFileLoader::loaded);
    for (const QString &call : std::as_const(calls)) {
        const QString dir = call.endsWith(QLatin1Char('a')) ? a : b;
        if (call.startsWith(QLatin1String("preload")))
            loader.preload(dir);
        else
            loader.load(dir);
    }
    loader.wait();
    QTRY_COMPARE(loaded.count(), delivered.size());
    QTest::qWait(50);   // nothing more arrives
    QCOMPARE(loaded.count(), delivered.size());
    for (int i = 0; i < delivered.size(); ++i) {
        const QString dir = loaded.at(i).at(0).toString();
        const auto cache = loaded.at(i).at(1).value<AnnotationCache>();
        QVERIFY(loaded.at(i).at(2).toBool());
        QCOMPARE(cache.size(), 1);
        QCOMPARE(QStringLiteral("%1 %2").arg(QFileInfo(dir).fileName(), cache.begin().value().first().label), delivered.at(i));
    }
}

BRINDLE_TEST_MAIN(TestPendingFileLoader)
#include "tst_pendingfileloader.moc"
