#include "inference/requestbuilder.h"
#include "inference/requestpreparer.h"
#include "storage/storagefixtures.h"
#include "testmain.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

QString writeImage(const QString &dir, const QString &name, QSize size, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(size, format);
    image.fill(QColor(30, 140, 200));
    // Some structure so that scaling and JPEG quality make a difference.
    for (int y = 0; y < qMin(size.height(), 64); ++y)
        for (int x = 0; x < qMin(size.width(), 64); ++x)
            image.setPixelColor(x, y, QColor((x * 37) % 256, (y * 91) % 256, ((x + y) * 13) % 256));
    const QString path = dir + QLatin1Char('/') + name;
    return image.save(path) ? path : QString();
}

// A JPEG whose Exif orientation says "rotate 90° clockwise" (6).
QString writeRotatedJpeg(const QString &dir, QSize stored)
{
    QImage image(stored, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    const QByteArray tiff = QByteArray("MM\0\x2a\0\0\0\x08", 8)       // big-endian header, IFD at 8
        + QByteArray("\0\x01", 2)                                       // one entry
        + QByteArray("\x01\x12\0\x03\0\0\0\x01\0\x06\0\0", 12)          // Orientation, SHORT, 1, value 6
        + QByteArray(4, '\0');                                          // no next IFD
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    const int length = int(payload.size()) + 2;
    QByteArray segment("\xff\xe1", 2);
    segment.append(char(length >> 8)).append(char(length & 0xff)).append(payload);
    jpeg.insert(2, segment);
    const QString path = dir + QStringLiteral("/rotated.jpg");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(jpeg) != jpeg.size())
        return QString();
    return path;
}

QByteArray jpegBytes(const QString &dataUrl)
{
    const QString prefix = QStringLiteral("data:image/jpeg;base64,");
    if (!dataUrl.startsWith(prefix))
        return QByteArray();
    return QByteArray::fromBase64(dataUrl.mid(prefix.size()).toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
}

QByteArray encode(const QImage &image, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.write(image);
    return bytes;
}

} // namespace

class TestRequestBuilder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void limits_data();
    void limits();
    void sentSize_data();
    void sentSize();
    void hugeImages_data();
    void hugeImages();
    void orientation();
    void paletteImagesKeepTheirColours_data();
    void paletteImagesKeepTheirColours();
    void undecodable();
    void jpegQuality_data();
    void jpegQuality();
    void userText_data();
    void userText();
    void systemTextUsesDoubleQuotes_data();
    void systemTextUsesDoubleQuotes();
    void responseFormat_data();
    void responseFormat();
    void builtRequest_data();
    void builtRequest();
    void preparedOnAWorker();
    void droppedJobsAreNotSignalled();

private:
    QTemporaryDir m_dir;
};

void TestRequestBuilder::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

void TestRequestBuilder::limits_data()
{
    QTest::addColumn<int>("concurrency");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<int>("expectedConcurrency");
    QTest::addColumn<int>("expectedTimeoutMs");

    QTest::newRow("defaults") << 1 << 300 << 1 << 300000;
    QTest::newRow("zero and short") << 0 << 3 << 1 << 5000;
    QTest::newRow("negative") << -4 << -1 << 1 << 5000;
    QTest::newRow("at the floor") << 4 << 5 << 4 << 5000;
    QTest::newRow("the ceiling") << 64 << 300 << 64 << 300000;
    QTest::newRow("above the ceiling") << 500 << 300 << 64 << 300000;
}

void TestRequestBuilder::limits()
{
    QFETCH(int, concurrency);
    QFETCH(int, timeout);
    QFETCH(int, expectedConcurrency);
    QFETCH(int, expectedTimeoutMs);
    ServerConfig server;
    server.concurrency = concurrency;
    server.timeout = timeout;
    QCOMPARE(effectiveConcurrency(server), expectedConcurrency);
    QCOMPARE(transferTimeoutMs(server), expectedTimeoutMs);
}

void TestRequestBuilder::sentSize_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QSize>("sent");

    QTest::newRow("landscape jpeg downscaled") << "a.jpg" << QSize(4000, 3000) << QSize(1568, 1176);
    QTest::newRow("landscape png downscaled") << "a.png" << QSize(4000, 3000) << QSize(1568, 1176);
    QTest::newRow("portrait downscaled") << "p.jpg" << QSize(1000, 3000) << QSize(522, 1568);
    QTest::newRow("exactly the limit unscaled") << "e.png" << QSize(1568, 1000) << QSize(1568, 1000);
    QTest::newRow("small unscaled") << "s.bmp" << QSize(64, 48) << QSize(64, 48);
    QTest::newRow("thin strip keeps a pixel") << "t.png" << QSize(20000, 3) << QSize(1568, 1);
}

void TestRequestBuilder::sentSize()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);
    QFETCH(QSize, sent);
    const QString path = writeImage(m_dir.path(), name, size);
    QVERIFY(!path.isEmpty());

    QSize source;
    const QImage image = loadImageForSending(path, &source);
    QCOMPARE(source, size);
    QCOMPARE(image.size(), sent);

    // What goes over the wire decodes to a JPEG of the sent size.
    const QByteArray jpeg = jpegBytes(jpegDataUrl(image, 85));
    QVERIFY(jpeg.startsWith("\xff\xd8"));
    QCOMPARE(QImage::fromData(jpeg, "JPEG").size(), sent);
}

void TestRequestBuilder::hugeImages_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QSize>("sent");

    // Both decode to more than the reader's default 128 MB allocation limit.
    QTest::newRow("40 MP jpeg") << "huge.jpg" << QSize(8000, 5000) << QSize(1568, 980);
    QTest::newRow("35 MP png") << "huge.png" << QSize(7000, 5000) << QSize(1568, 1120);
}

void TestRequestBuilder::hugeImages()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);
    QFETCH(QSize, sent);
    const QString path = writeImage(m_dir.path(), name, size, QImage::Format_RGB888);
    QVERIFY(!path.isEmpty());
    QVERIFY2(QImageReader(path).read().isNull(), "fixture must exceed the default allocation limit");

    QSize source;
    const QImage image = loadImageForSending(path, &source);
    QCOMPARE(source, size);
    QCOMPARE(image.size(), sent);
    QFile::remove(path);
}

void TestRequestBuilder::orientation()
{
    const QString path = writeRotatedJpeg(m_dir.path(), QSize(400, 200));
    QVERIFY(!path.isEmpty());
    QSize source;
    const QImage image = loadImageForSending(path, &source);
    QCOMPARE(source, QSize(200, 400));
    QCOMPARE(image.size(), QSize(200, 400));

    // Downscaled in the shown orientation, too.
    const QString big = writeRotatedJpeg(m_dir.path(), QSize(4000, 2000));
    const QImage scaled = loadImageForSending(big, &source);
    QCOMPARE(source, QSize(2000, 4000));
    QCOMPARE(scaled.size(), QSize(784, 1568));
}

void TestRequestBuilder::undecodable()
{
    QFile text(m_dir.filePath(QStringLiteral("not-an-image.jpg")));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("hello");
    text.close();
    QSize source(7, 7);
    ImageRead read = ImageRead::Ok;
    QVERIFY(loadImageForSending(text.fileName(), &source, &read).isNull());
    QCOMPARE(read, ImageRead::Failed);
    QVERIFY(loadImageForSending(m_dir.filePath(QStringLiteral("missing.png")), &source).isNull());

    // A header that claims 1.6 GB of pixels is refused before anything is allocated.
    const QString claimed = m_dir.filePath(QStringLiteral("claimed.png"));
    QVERIFY(Fixtures::makeClaimedPng(claimed, 20000, 20000));
    QVERIFY(loadImageForSending(claimed, &source, &read).isNull());
    QCOMPARE(read, ImageRead::TooLarge);
    RequestJob job;
    job.path = claimed;
    const PreparedRequest built = buildChatRequest(job);
    QVERIFY(!built.ok);
    QVERIFY(built.tooLarge);
    job.path = text.fileName();
    QVERIFY(!buildChatRequest(job).tooLarge);
}

void TestRequestBuilder::jpegQuality_data()
{
    QTest::addColumn<int>("quality");
    QTest::addColumn<int>("other");
    QTest::newRow("main request") << 85 << 88;
    QTest::newRow("second look") << 88 << 85;
}

void TestRequestBuilder::jpegQuality()
{
    QFETCH(int, quality);
    QFETCH(int, other);
    const QString path = writeImage(m_dir.path(), QStringLiteral("q.png"), QSize(300, 200));
    const QImage reference(path);
    const QByteArray sent = jpegBytes(jpegDataUrl(loadImageForSending(path, nullptr), quality));
    QCOMPARE(sent, encode(reference, quality));
    QVERIFY(sent != encode(reference, other));
}

void TestRequestBuilder::userText_data()
{
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<QStringList>("classes");
    QTest::addColumn<bool>("secondLook");
    QTest::addColumn<QString>("expected");

    const QStringList classes{QStringLiteral("猫"), QStringLiteral("dog")};
    QTest::newRow("default") << QString() << QStringList() << false << QStringLiteral("检测图像中的所有目标");
    QTest::newRow("default with classes")
        << QStringLiteral("  ") << classes << false
        << QStringLiteral("检测图像中的所有目标。只能使用以下类别名称：猫、dog。每个目标的 label 必须从上述类别中选取。");
    QTest::newRow("own prompt untrimmed") << QStringLiteral(" find boats ") << classes << false
                                          << QStringLiteral(" find boats ");
    QTest::newRow("second look")
        << QString() << QStringList() << true
        << QStringLiteral("再次仔细检查图像的每个区域,检测所有目标。目标可能在水下、水中、暗处、雾气中、远处很小、或被部分遮挡——这些也要输出。若确实没有任何目标,才输出 []。");
    QTest::newRow("second look with classes")
        << QString() << classes << true
        << QStringLiteral("再次仔细检查图像的每个区域,检测所有目标。目标可能在水下、水中、暗处、雾气中、远处很小、或被部分遮挡——这些也要输出。若确实没有任何目标,才输出 []。只能使用以下类别名称:猫、dog。");
    QTest::newRow("second look, own prompt") << QStringLiteral("find boats ") << classes << true
                                             << QStringLiteral("find boats 。注意:目标可能在水下、暗处、模糊、被部分遮挡。");
    QTest::newRow("class name with a placeholder") << QString() << QStringList{QStringLiteral("%1"), QStringLiteral("%2")}
                                                   << true
                                                   << QStringLiteral("再次仔细检查图像的每个区域,检测所有目标。目标可能在水下、水中、暗处、雾气中、远处很小、或被部分遮挡——这些也要输出。若确实没有任何目标,才输出 []。只能使用以下类别名称:%1、%2。");
}

void TestRequestBuilder::userText()
{
    QFETCH(QString, prompt);
    QFETCH(QStringList, classes);
    QFETCH(bool, secondLook);
    QFETCH(QString, expected);
    QCOMPARE(::userText(prompt, classes, secondLook), expected);
}

void TestRequestBuilder::systemTextUsesDoubleQuotes_data()
{
    QTest::addColumn<bool>("secondLook");
    QTest::addColumn<QString>("expected");
    QTest::newRow("main") << false
                          << QStringLiteral("你是目标检测标注助手。检测图中目标，仅输出一个 JSON 数组，格式：[{\"label\":\"类别\",\"bbox_2d\":[x1,y1,x2,y2],\"score\":0.91}]。bbox_2d 为 0\u20131000 归一化坐标(相对图宽高，左上角为原点)。对边缘不规则、矩形无法贴合的目标，额外输出 polygon 字段：[[x1,y1],[x2,y2],...] 至少 3 个轮廓点(坐标口径与 bbox_2d 相同)。不要输出任何其他文字。");
    QTest::newRow("second look") << true
                                 << QStringLiteral("你是目标检测标注助手。仅输出一个 JSON 数组，格式：[{\"label\":\"类别\",\"bbox_2d\":[x1,y1,x2,y2],\"score\":0.91}]。bbox_2d 为 0\u20131000 归一化坐标。对不规则目标可额外输出 polygon 字段：[[x1,y1],[x2,y2],...] ≥3 点。不要输出任何其他文字。");
}

void TestRequestBuilder::systemTextUsesDoubleQuotes()
{
    QFETCH(bool, secondLook);
    QFETCH(QString, expected);
    QCOMPARE(systemText(secondLook), expected);
}

void TestRequestBuilder::responseFormat_data()
{
    QTest::addColumn<QStringList>("classes");
    QTest::newRow("with enum") << QStringList{QStringLiteral("cat"), QStringLiteral("dog")};
    QTest::newRow("without enum") << QStringList();
}

void TestRequestBuilder::responseFormat()
{
    QFETCH(QStringList, classes);
    const QJsonObject format = ::responseFormat(classes);
    QCOMPARE(format.value("type").toString(), QStringLiteral("json_schema"));
    const QJsonObject jsonSchema = format.value("json_schema").toObject();
    QCOMPARE(jsonSchema.value("name").toString(), QStringLiteral("detections"));
    QCOMPARE(jsonSchema.value("strict"), QJsonValue(true));
    const QJsonObject schema = jsonSchema.value("schema").toObject();
    QCOMPARE(schema.value("type").toString(), QStringLiteral("array"));
    const QJsonObject detection = schema.value("items").toObject();
    QCOMPARE(detection.value("type").toString(), QStringLiteral("object"));
    QCOMPARE(detection.value("required").toArray(), (QJsonArray{"label", "bbox_2d", "score"}));

    const QJsonObject properties = detection.value("properties").toObject();
    QCOMPARE(properties.keys(), (QStringList{"bbox_2d", "label", "polygon", "score"}));
    QJsonObject label{{"type", "string"}};
    if (!classes.isEmpty())
        label.insert("enum", QJsonArray::fromStringList(classes));
    QCOMPARE(properties.value("label").toObject(), label);
    QCOMPARE(properties.value("score").toObject(), (QJsonObject{{"type", "number"}}));

    // Tuples are "prefixItems": an array under "items" makes vLLM's xgrammar answer 400.
    const QJsonObject number{{"type", "number"}};
    const QJsonObject box{{"type", "array"}, {"prefixItems", QJsonArray{number, number, number, number}},
                          {"minItems", 4}, {"maxItems", 4}};
    QCOMPARE(properties.value("bbox_2d").toObject(), box);
    const QJsonObject point{{"type", "array"}, {"prefixItems", QJsonArray{number, number}}, {"minItems", 2}, {"maxItems", 2}};
    const QJsonObject polygon{{"type", "array"}, {"items", point}, {"minItems", 3}, {"maxItems", 64}};
    QCOMPARE(properties.value("polygon").toObject(), polygon);

    // Written compactly, the integers stay integers.
    const QByteArray written = QJsonDocument(format).toJson(QJsonDocument::Compact);
    QVERIFY(written.contains("\"minItems\":4"));
    QVERIFY(written.contains("\"maxItems\":64"));
    QVERIFY(!written.contains("\"items\":["));
}

void TestRequestBuilder::builtRequest_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("secondLook");
    QTest::addColumn<QStringList>("classes");
    QTest::addColumn<QStringList>("enumClasses");
    QTest::addColumn<QString>("prompt");

    const QStringList classes{QStringLiteral("cat"), QStringLiteral("狗")};
    QTest::newRow("main request") << QSize(300, 200) << false << classes << classes << QString();
    QTest::newRow("second look, own prompt") << QSize(300, 200) << true << classes << classes << QStringLiteral("find");
    QTest::newRow("downscaled, no enum") << QSize(2000, 1000) << false << classes << QStringList() << QString();
}

void TestRequestBuilder::builtRequest()
{
    QFETCH(QSize, size);
    QFETCH(bool, secondLook);
    QFETCH(QStringList, classes);
    QFETCH(QStringList, enumClasses);
    QFETCH(QString, prompt);

    const QString path = writeImage(m_dir.path(), QStringLiteral("built.png"), size);
    RequestJob job;
    job.ticket = 7;
    job.path = path;
    job.model = QStringLiteral("m");
    job.prompt = prompt;
    job.classes = classes;
    job.enumClasses = enumClasses;
    job.secondLook = secondLook;
    const PreparedRequest built = buildChatRequest(job);

    // The same bytes as the pieces put together by hand.
    QSize source;
    const QImage image = loadImageForSending(path, &source);
    const QJsonObject body = chatRequestBody(QStringLiteral("m"), systemText(secondLook),
                                             ::userText(prompt, classes, secondLook),
                                             jpegDataUrl(image, secondLook ? 88 : 85), secondLook ? 0.3 : 0.0,
                                             enumClasses);
    QVERIFY(built.ok);
    QCOMPARE(built.ticket, quint64(7));
    QCOMPARE(built.sourceSize, size);
    QCOMPARE(built.sentSize, image.size());
    QCOMPARE(built.body, QJsonDocument(body).toJson(QJsonDocument::Compact));

    job.path = m_dir.filePath(QStringLiteral("missing.png"));
    const PreparedRequest failed = buildChatRequest(job);
    QVERIFY(!failed.ok);
    QVERIFY(failed.body.isEmpty());
}

void TestRequestBuilder::preparedOnAWorker()
{
    const QString path = writeImage(m_dir.path(), QStringLiteral("worker.png"), QSize(640, 480));
    RequestJob job;
    job.ticket = 1;
    job.path = path;
    job.model = QStringLiteral("m");

    RequestPreparer preparer;
    QThread *builtOn = nullptr;
    connect(&preparer, &RequestPreparer::prepared, this, [&builtOn] { builtOn = QThread::currentThread(); },
            Qt::DirectConnection);
    QSignalSpy spy(&preparer, &RequestPreparer::prepared);
    preparer.prepare(job);
    QTRY_COMPARE(spy.count(), 1);
    QVERIFY(builtOn != nullptr);
    QVERIFY(builtOn != QThread::currentThread());
    const PreparedRequest request = spy.first().first().value<PreparedRequest>();
    QCOMPARE(request.body, buildChatRequest(job).body);
}

void TestRequestBuilder::droppedJobsAreNotSignalled()
{
    const QString path = writeImage(m_dir.path(), QStringLiteral("drop.png"), QSize(64, 64));
    QList<quint64> tickets;
    {
        RequestPreparer preparer;
        connect(&preparer, &RequestPreparer::prepared, this,
                [&tickets](const PreparedRequest &r) { tickets.append(r.ticket); });
        preparer.dropBefore(3);
        for (quint64 ticket = 1; ticket <= 4; ++ticket) {
            RequestJob job;
            job.ticket = ticket;
            job.path = path;
            preparer.prepare(job);
        }
        QTRY_COMPARE(tickets.size(), 2);
    }   // the destructor waits for every worker; nothing may arrive afterwards
    QCoreApplication::processEvents();
    std::sort(tickets.begin(), tickets.end());
    QCOMPARE(tickets, (QList<quint64>{3, 4}));
}

BRINDLE_TEST_MAIN(TestRequestBuilder)
void TestRequestBuilder::paletteImagesKeepTheirColours_data()
{
    QTest::addColumn<int>("format");
    QTest::newRow("one bit per pixel") << int(QImage::Format_Mono);
    QTest::newRow("eight-bit palette") << int(QImage::Format_Indexed8);
}

void TestRequestBuilder::paletteImagesKeepTheirColours()
{
    // Scaled down to the sent size, a flat two-colour image must not turn into dithered noise.
    QFETCH(int, format);
    QTemporaryDir tmp;
    QImage image(3200, 2400, QImage::Format(format));
    image.setColorTable({qRgb(0x4a, 0x6b, 0x8a), qRgb(0, 0, 0)});
    image.fill(0);
    const QString path = tmp.path() + QStringLiteral("/mask.png");
    QVERIFY(image.save(path));
    QSize source;
    const QImage sent = loadImageForSending(path, &source);
    QCOMPARE(source, QSize(3200, 2400));
    QCOMPARE(sent.size(), QSize(1568, 1176));
    for (const QPoint p : {QPoint(0, 0), QPoint(700, 500), QPoint(1567, 1175)})
        QCOMPARE(QColor(sent.pixel(p)), QColor(0x4a, 0x6b, 0x8a));
}

#include "tst_requestbuilder.moc"
