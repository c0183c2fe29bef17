#include "inference/requestbuilder.h"

#include "storage/filebytes.h"
#include "storage/imagescaling.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QJsonArray>
#include <QJsonDocument>

#include <limits>

namespace {

QSize fitToSendLimit(QSize size)
{
    if (qMax(size.width(), size.height()) <= kMaxSentSide)
        return size;
    return size.scaled(kMaxSentSide, kMaxSentSide, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

QString quotesToDouble(QString text)
{
    return text.replace(QLatin1Char('\''), QLatin1Char('"'));
}

} // namespace

int effectiveConcurrency(const ServerConfig &server)
{
    return qBound(1, server.concurrency, kMaxConcurrency);
}

int transferTimeoutMs(const ServerConfig &server)
{
    return qMax(5, server.timeout) * 1000;
}

int requestDeadlineMs(const ServerConfig &server)
{
    // A timeout of a year (or an overflowing one) still ends.
    return int(qMin<qint64>(qint64(transferTimeoutMs(server)) * 4, std::numeric_limits<int>::max()));
}

QImage loadImageForSending(const QString &path, QSize *sourceSize, ImageRead *status)
{
    if (status)
        *status = ImageRead::Failed;
    if (!isRegularFile(path))
        return QImage();
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);

    // The reader reports the stored size; a 90° orientation swaps it.
    const QSize stored = reader.size();
    QSize oriented;
    QSize decodeAt;   // in stored orientation; invalid: as stored
    if (stored.isValid()) {
        const bool rotated = reader.transformation() & QImageIOHandler::TransformationRotate90;
        oriented = rotated ? stored.transposed() : stored;
        const QSize target = fitToSendLimit(oriented);
        // Decoding at the sent size keeps huge aerial photos within the memory budget.
        if (target != oriented)
            decodeAt = rotated ? target.transposed() : target;
    }

    QImage image = readScaled(reader, decodeAt, DecodeUse::Shown, status);
    if (image.isNull())
        return QImage();
    if (!oriented.isValid())
        oriented = image.size();
    const QSize target = fitToSendLimit(oriented);
    if (image.size() != target)
        image = smoothScaled(image, target);
    if (sourceSize)
        *sourceSize = oriented;
    return image;
}

QString jpegDataUrl(const QImage &image, int quality)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    if (!writer.write(image))
        return QString();
    return QStringLiteral("data:image/jpeg;base64,") + QString::fromLatin1(jpeg.toBase64());
}

QString systemText(bool secondLook)
{
    if (secondLook)
        return quotesToDouble(QStringLiteral(
            "你是目标检测标注助手。仅输出一个 JSON 数组，格式：[{'label':'类别','bbox_2d':[x1,y1,x2,y2],'score':0.91}]。"
            "bbox_2d 为 0–1000 归一化坐标。对不规则目标可额外输出 polygon 字段：[[x1,y1],[x2,y2],...] ≥3 点。"
            "不要输出任何其他文字。"));
    return quotesToDouble(QStringLiteral(
        "你是目标检测标注助手。检测图中目标，仅输出一个 JSON 数组，格式：[{'label':'类别','bbox_2d':[x1,y1,x2,y2],'score':0.91}]。"
        "bbox_2d 为 0–1000 归一化坐标(相对图宽高，左上角为原点)。"
        "对边缘不规则、矩形无法贴合的目标，额外输出 polygon 字段：[[x1,y1],[x2,y2],...] 至少 3 个轮廓点(坐标口径与 bbox_2d 相同)。"
        "不要输出任何其他文字。"));
}

QString userText(const QString &prompt, const QStringList &classes, bool secondLook)
{
    const bool ownPrompt = !prompt.trimmed().isEmpty();
    const QString names = classes.join(QChar(0x3001));
    if (!secondLook) {
        if (ownPrompt)
            return prompt;
        if (classes.isEmpty())
            return QStringLiteral("检测图像中的所有目标");
        return QStringLiteral("检测图像中的所有目标。只能使用以下类别名称：%1。每个目标的 label 必须从上述类别中选取。")
            .arg(names);
    }
    if (ownPrompt)
        return prompt + QStringLiteral("。注意:目标可能在水下、暗处、模糊、被部分遮挡。");
    QString text = QStringLiteral(
        "再次仔细检查图像的每个区域,检测所有目标。目标可能在水下、水中、暗处、雾气中、远处很小、或被部分遮挡——这些也要输出。"
        "若确实没有任何目标,才输出 []。");
    if (!classes.isEmpty())
        text += QStringLiteral("只能使用以下类别名称:%1。").arg(names);
    return text;
}

QJsonObject responseFormat(const QStringList &enumClasses)
{
    const QJsonObject number{{QStringLiteral("type"), QStringLiteral("number")}};

    QJsonObject label{{QStringLiteral("type"), QStringLiteral("string")}};
    if (!enumClasses.isEmpty())
        label.insert(QStringLiteral("enum"), QJsonArray::fromStringList(enumClasses));

    // Tuples as "prefixItems": vLLM's xgrammar refuses an array under "items" and answers 400.
    const QJsonObject box{
        {QStringLiteral("type"), QStringLiteral("array")},
        {QStringLiteral("prefixItems"), QJsonArray{number, number, number, number}},
        {QStringLiteral("minItems"), 4},
        {QStringLiteral("maxItems"), 4},
    };
    const QJsonObject point{
        {QStringLiteral("type"), QStringLiteral("array")},
        {QStringLiteral("prefixItems"), QJsonArray{number, number}},
        {QStringLiteral("minItems"), 2},
        {QStringLiteral("maxItems"), 2},
    };
    const QJsonObject polygon{
        {QStringLiteral("type"), QStringLiteral("array")},
        {QStringLiteral("items"), point},
        {QStringLiteral("minItems"), 3},
        {QStringLiteral("maxItems"), 64},
    };
    const QJsonObject detection{
        {QStringLiteral("type"), QStringLiteral("object")},
        {QStringLiteral("properties"),
         QJsonObject{
             {QStringLiteral("label"), label},
             {QStringLiteral("bbox_2d"), box},
             {QStringLiteral("polygon"), polygon},
             {QStringLiteral("score"), number},
         }},
        {QStringLiteral("required"),
         QJsonArray{QStringLiteral("label"), QStringLiteral("bbox_2d"), QStringLiteral("score")}},
    };
    const QJsonObject schema{
        {QStringLiteral("type"), QStringLiteral("array")},
        {QStringLiteral("items"), detection},
    };
    return QJsonObject{
        {QStringLiteral("type"), QStringLiteral("json_schema")},
        {QStringLiteral("json_schema"),
         QJsonObject{
             {QStringLiteral("name"), QStringLiteral("detections")},
             {QStringLiteral("strict"), true},
             {QStringLiteral("schema"), schema},
         }},
    };
}

QJsonObject chatRequestBody(const QString &model, const QString &system, const QString &user,
                            const QString &imageUrl, double temperature, const QStringList &enumClasses)
{
    const QJsonObject systemMessage{
        {QStringLiteral("role"), QStringLiteral("system")},
        {QStringLiteral("content"), system},
    };
    const QJsonObject userMessage{
        {QStringLiteral("role"), QStringLiteral("user")},
        {QStringLiteral("content"),
         QJsonArray{
             QJsonObject{{QStringLiteral("type"), QStringLiteral("text")}, {QStringLiteral("text"), user}},
             QJsonObject{{QStringLiteral("type"), QStringLiteral("image_url")},
                         {QStringLiteral("image_url"), QJsonObject{{QStringLiteral("url"), imageUrl}}}},
         }},
    };
    return QJsonObject{
        {QStringLiteral("model"), model},
        {QStringLiteral("messages"), QJsonArray{systemMessage, userMessage}},
        {QStringLiteral("temperature"), temperature},
        {QStringLiteral("max_tokens"), 4096},
        {QStringLiteral("response_format"), responseFormat(enumClasses)},
    };
}

PreparedRequest buildChatRequest(const RequestJob &job)
{
    PreparedRequest prepared;
    prepared.ticket = job.ticket;
    QSize sourceSize;
    ImageRead read = ImageRead::Failed;
    const QImage image = loadImageForSending(job.path, &sourceSize, &read);
    const QString imageUrl = image.isNull() ? QString() : jpegDataUrl(image, job.secondLook ? 88 : 85);
    if (imageUrl.isEmpty()) {
        prepared.tooLarge = read == ImageRead::TooLarge;
        return prepared;
    }
    prepared.ok = true;
    prepared.sourceSize = sourceSize;
    prepared.sentSize = image.size();
    const QJsonObject body = chatRequestBody(job.model, systemText(job.secondLook),
                                             userText(job.prompt, job.classes, job.secondLook), imageUrl,
                                             job.secondLook ? 0.3 : 0.0, job.enumClasses);
    prepared.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
    return prepared;
}
