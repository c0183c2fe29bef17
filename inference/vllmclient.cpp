#include "inference/vllmclient.h"

#include "inference/detectionparser.h"
#include "inference/requestbuilder.h"
#include "shared/language.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QUrl>

namespace {

const int kProbeTimeoutMs = 5000;
const double kReviewMinScore = 0.25;

} // namespace

VllmClient::VllmClient(QObject *parent)
    : QObject(parent)
    , m_network(new QNetworkAccessManager(this))
{
    registerAnnotationMetaTypes();
}

VllmClient::~VllmClient()
{
    // Aborting emits finished at once; nothing may reach this half-destroyed object.
    const QSet<QNetworkReply *> replies = m_inFlight;
    m_inFlight.clear();
    for (QNetworkReply *reply : replies) {
        reply->disconnect(this);
        reply->abort();
    }
}

void VllmClient::setServerConfig(const ServerConfig &config)
{
    m_server = config;
}

void VllmClient::startTask(const AutoLabelTask &task)
{
    if (m_busy)
        return;
    m_queue = task.paths;
    m_total = int(m_queue.size());
    m_done = m_running = m_added = m_failed = m_confidenceCount = 0;
    m_confidenceSum = 0.0;
    m_paused = m_cancelled = false;
    m_inFlight.clear();

    m_minScore = task.minScore;
    m_markPending = task.markPending;
    m_prompt = task.prompt;
    m_classes = task.classes;
    m_restrictToClasses = m_prompt.trimmed().isEmpty() && !m_classes.isEmpty();
    m_reviewMode = task.reviewMode;
    if (m_reviewMode)
        m_minScore = qMin(m_minScore, kReviewMinScore);
    m_server = task.server;

    if (m_total == 0)
        return;
    m_busy = true;
    emit busyChanged(true);
    emit progress(0, m_total, m_queue.constFirst());
    pump();
}

void VllmClient::pause()
{
    m_paused = true;
}

void VllmClient::resume()
{
    if (!m_paused)
        return;
    m_paused = false;
    pump();
}

void VllmClient::cancel()
{
    if (!m_busy)
        return;
    m_cancelled = true;
    m_queue.clear();
    // Each abort finishes its reply at once, which reports the image as cancelled.
    QList<QPointer<QNetworkReply>> replies;
    for (QNetworkReply *reply : std::as_const(m_inFlight))
        replies.append(reply);
    for (const QPointer<QNetworkReply> &reply : std::as_const(replies)) {
        if (reply)
            reply->abort();
    }
    if (m_running == 0 && m_busy)
        endTask(true);
}

void VllmClient::probeServer()
{
    QNetworkRequest request(QUrl(m_server.baseUrl + QStringLiteral("/models")));
    request.setTransferTimeout(kProbeTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply *reply = m_network->get(request);
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        // Qt flags 4xx and 5xx answers as errors too; the status says more than its error text.
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status != 0 && (status < 200 || status > 299)) {
            emit statusChanged(false, QStringLiteral("HTTP %1").arg(status));
            return;
        }
        if (reply->error() != QNetworkReply::NoError) {
            emit statusChanged(false, reply->errorString());
            return;
        }
        const QJsonDocument doc = QJsonDocument::fromJson(reply->readAll());
        const QJsonArray data = doc.object().value(QLatin1String("data")).toArray();
        const QString id = data.isEmpty() ? QString()
                                          : data.first().toObject().value(QLatin1String("id")).toString();
        emit statusChanged(true, id);
    });
}

void VllmClient::pump()
{
    if (m_pumping)
        return;
    m_pumping = true;
    while (!m_cancelled && !m_paused && m_running < effectiveConcurrency(m_server) && !m_queue.isEmpty()) {
        const QString path = m_queue.takeFirst();
        ++m_running;
        emit progress(m_done, m_total, path);
        sendRequest(path, 0, false);
    }
    m_pumping = false;
    if (m_cancelled && m_busy && m_running == 0)
        endTask(true);
}

void VllmClient::sendRequest(const QString &path, int attempt, bool secondLook)
{
    QSize sourceSize;
    const QImage image = loadImageForSending(path, &sourceSize);
    const QString imageUrl = image.isNull() ? QString() : jpegDataUrl(image, secondLook ? 88 : 85);
    if (imageUrl.isEmpty()) {
        reportImage(path, {}, false, translateText("图片解码失败"));
        return;
    }
    const QSize sentSize = image.size();

    const QStringList enumClasses = m_reviewMode ? QStringList() : m_classes;
    const QJsonObject body = chatRequestBody(m_server.model, systemText(secondLook),
                                             userText(m_prompt, m_classes, secondLook), imageUrl,
                                             secondLook ? 0.3 : 0.0, enumClasses);

    QNetworkRequest request(QUrl(m_server.baseUrl + QStringLiteral("/chat/completions")));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(transferTimeoutMs(m_server));
    QNetworkReply *reply = m_network->post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    m_inFlight.insert(reply);
    connect(reply, &QNetworkReply::finished, this, [this, reply, path, sourceSize, sentSize, attempt] {
        handleReply(reply, path, sourceSize, sentSize, attempt);
    });
}

void VllmClient::handleReply(QNetworkReply *reply, const QString &path, QSize sourceSize, QSize sentSize,
                             int attempt)
{
    reply->deleteLater();
    m_inFlight.remove(reply);
    if (m_cancelled) {
        reportImage(path, {}, true, translateText("已取消"));
        return;
    }

    const QNetworkReply::NetworkError error = reply->error();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (error != QNetworkReply::NoError || status < 200 || status > 299) {
        // A transfer time-out ends the reply as cancelled; our own cancel was handled above.
        const bool timedOut =
            error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError;
        if (attempt == 0 && (status == 0 || status >= 500 || timedOut)) {
            sendRequest(path, attempt + 1, false);
            return;
        }
        reportImage(path, {}, false,
                    translateText("推理失败 (HTTP %1): %2").arg(QString::number(status), reply->errorString()));
        return;
    }

    const QJsonObject answer = QJsonDocument::fromJson(reply->readAll()).object();
    const QJsonArray choices = answer.value(QLatin1String("choices")).toArray();
    QString text;
    if (!choices.isEmpty()) {
        const QJsonObject message = choices.first().toObject().value(QLatin1String("message")).toObject();
        text = messageText(message.value(QLatin1String("content")));
    }
    const QList<Annotation> anns = parseDetections(text, sourceSize, sentSize, m_minScore, m_classes,
                                                   m_restrictToClasses, m_markPending);

    if (anns.isEmpty() && text.trimmed().isEmpty() && attempt <= 0)
        sendRequest(path, attempt + 1, false);
    else if (!anns.isEmpty() || attempt > 0 || m_cancelled)
        reportImage(path, anns, true, QString());
    else
        sendRequest(path, 1, true);
}

void VllmClient::reportImage(const QString &path, const QList<Annotation> &anns, bool ok, const QString &error)
{
    --m_running;
    ++m_done;
    if (ok) {
        m_added += int(anns.size());
        for (const Annotation &a : anns) {
            if (a.confidence >= 0) {
                m_confidenceSum += a.confidence;
                ++m_confidenceCount;
            }
        }
    } else if (!m_cancelled) {
        ++m_failed;
    }
    emit imageFinished(path, anns, ok, error);
    emit progress(m_done, m_total, path);
    pump();
    if (m_busy && m_running == 0 && (m_queue.isEmpty() || m_cancelled))
        endTask(m_cancelled);
}

void VllmClient::endTask(bool cancelled)
{
    m_cancelled = false;
    m_busy = false;
    emit busyChanged(false);
    const double average = m_confidenceCount > 0 ? m_confidenceSum / m_confidenceCount : 0.0;
    emit taskFinished(m_done, m_total, m_added, average, m_failed, cancelled);
}
