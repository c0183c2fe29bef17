#include "inference/vllmclient.h"

#include "inference/boundedreply.h"
#include "inference/chatanswer.h"
#include "inference/detectionparser.h"
#include "inference/requestbuilder.h"
#include "inference/requestpreparer.h"
#include "shared/language.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <utility>

namespace {

const int kProbeTimeoutMs = 5000;
const double kReviewMinScore = 0.25;
// Qt's HTTP client keeps at most this many connections to one host per network manager.
const int kConnectionsPerManager = 6;

} // namespace

VllmClient::VllmClient(QObject *parent)
    : QObject(parent)
    , m_preparer(new RequestPreparer(this))
{
    m_spread.restTimer = new QTimer(this);
    m_spread.restTimer->setSingleShot(true);
    connect(m_spread.restTimer, &QTimer::timeout, this, &VllmClient::sendWaiting);
    m_spread.clock.start();
    registerAnnotationMetaTypes();
    qRegisterMetaType<ImageResult>("ImageResult");
    qRegisterMetaType<TaskSummary>("TaskSummary");
    m_networks.append(new QNetworkAccessManager(this));
    connect(m_preparer, &RequestPreparer::prepared, this, &VllmClient::onPrepared);
}

VllmClient::~VllmClient()
{
    // No build may finish into this half-destroyed object.
    m_preparer->disconnect(this);
    m_preparer->shutdown();
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
    // Another server is not known to be online until probed.
    if (config.baseUrl != m_server.baseUrl)
        m_probed.online = false;
    m_server = config;
}

void VllmClient::startTask(const AutoLabelTask &task)
{
    if (m_busy)
        return;
    m_queue = task.paths;
    m_total = int(m_queue.size());
    m_done = m_running = m_added = m_failed = m_unusable = m_confidenceCount = 0;
    m_confidenceSum = 0.0;
    m_paused = m_cancelled = false;
    m_inFlight.clear();
    m_spread.waiting.clear();
    m_spread.trace.clear();
    m_spread.allDown = false;
    m_spread.restTimer->stop();
    m_spread.pool.reset(QStringList{task.server.baseUrl} + task.replicas, effectiveConcurrency(task.server));
    m_preparing.clear();
    m_ahead.clear();
    m_ready.clear();
    m_preparer->dropBefore(m_nextTicket);

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
    // Requests built ahead belong to images that never started: they go with the queue. An image
    // whose request is still being built has no reply to abort: it is reported here.
    m_ahead.clear();
    m_ready.clear();
    QList<quint64> tickets = m_preparing.keys();
    std::sort(tickets.begin(), tickets.end());
    const QHash<quint64, Preparation> preparing = std::exchange(m_preparing, {});
    m_preparer->dropBefore(m_nextTicket);
    for (quint64 ticket : std::as_const(tickets)) {
        const Preparation &p = preparing[ticket];
        if (p.started)
            reportImage(p.path, ImageResult::Outcome::Cancelled);
    }
    m_spread.restTimer->stop();
    const QList<Waiting> waiting = std::exchange(m_spread.waiting, {});
    for (const Waiting &w : waiting)
        reportImage(w.preparation.path, ImageResult::Outcome::Cancelled);
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

quint64 VllmClient::probeServer()
{
    QNetworkRequest request(QUrl(m_server.baseUrl + QStringLiteral("/models")));
    request.setTransferTimeout(kProbeTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    const quint64 probe = ++m_lastProbe;
    QNetworkReply *reply = m_networks.first()->get(request);
    new BoundedReply(reply, kMaxAnswerBytes, kProbeTimeoutMs * 4);
    connect(reply, &QNetworkReply::finished, this, [this, reply, probe] {
        reply->deleteLater();
        BoundedReply *bounded = BoundedReply::of(reply);
        const QByteArray body = bounded->takeBody();
        // Qt flags 4xx and 5xx answers as errors too; the status says more than its error text.
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (bounded->stop() != BoundedReply::Stop::None) {
            endProbe(probe, false,
                     bounded->stop() == BoundedReply::Stop::TooLarge
                         ? translateText("回答超过 %1 MiB").arg(kMaxAnswerBytes >> 20)
                         : translateText("请求在 %1 秒内未完成").arg(kProbeTimeoutMs * 4 / 1000),
                     status, {});
        } else if (status != 0 && (status < 200 || status > 299)) {
            endProbe(probe, false, QStringLiteral("HTTP %1").arg(status), status, {});
        } else if (reply->error() != QNetworkReply::NoError) {
            endProbe(probe, false, reply->errorString(), status, {});
        } else {
            const QStringList models = modelIds(body);
            endProbe(probe, true, models.value(0), status, models);
        }
    });
    return probe;
}

void VllmClient::endProbe(quint64 probe, bool online, const QString &detail, int httpStatus,
                          const QStringList &models)
{
    m_probed = ProbeOutcome{online, models, httpStatus};
    emit statusChanged(online, detail);
    emit probeFinished(probe, online, detail);
}

QStringList VllmClient::modelIds(const QByteArray &json)
{
    QStringList ids;
    const QJsonArray data = QJsonDocument::fromJson(json).object().value(QLatin1String("data")).toArray();
    for (const QJsonValue &entry : data) {
        const QString id = entry.toObject().value(QLatin1String("id")).toString();
        if (!id.isEmpty())
            ids.append(id);
        if (ids.size() >= 64)
            break;
    }
    return ids;
}

void VllmClient::pump()
{
    if (m_pumping)
        return;
    m_pumping = true;
    while (!m_cancelled && !m_paused && (m_spread.allDown || m_running < taskSlots()) && !m_queue.isEmpty()) {
        const QString path = m_queue.takeFirst();
        const quint64 ticket = m_ahead.isEmpty() ? 0 : m_ahead.takeFirst();
        ++m_running;
        m_spread.trace.insert(path, Trace{m_spread.clock.elapsed(), -1});
        emit progress(m_done, m_total, path);
        if (m_cancelled) {
            // Cancelled from a progress slot: the image started but will get no request.
            reportImage(path, ImageResult::Outcome::Cancelled);
            continue;
        }
        if (m_spread.allDown) {
            reportImage(path, ImageResult::Outcome::Failed, {}, translateText("请求在 %1 秒内未完成").arg(transferTimeoutMs(m_server) / 1000));
            continue;
        }
        if (ticket == 0) {
            sendRequest(path, 0, false);
        } else if (m_ready.contains(ticket)) {
            dispatch(m_ready.take(ticket), Preparation{path, 0, true});
        } else {
            m_preparing[ticket].started = true;   // sent as soon as it is built
        }
    }
    buildAhead();
    m_pumping = false;
    if (m_cancelled && m_busy && m_running == 0)
        endTask(true);
}

void VllmClient::buildAhead()
{
    // Answers tend to come back together; with the next requests already built, every freed slot
    // is refilled at once instead of waiting for a decode.
    const int depth = taskSlots();
    while (!m_cancelled && m_ahead.size() < qMin(qsizetype(depth), m_queue.size())) {
        const QString path = m_queue.at(m_ahead.size());
        if (!isReadableFile(path)) {
            m_ahead.append(0);   // reported when its turn comes
            continue;
        }
        const RequestJob job = jobFor(path, false);
        m_preparing.insert(job.ticket, Preparation{path, 0, false});
        m_ahead.append(job.ticket);
        m_preparer->prepare(job);
    }
}

bool VllmClient::isReadableFile(const QString &path)
{
    const QFileInfo file(path);
    return file.isFile() && file.isReadable();
}

RequestJob VllmClient::jobFor(const QString &path, bool secondLook)
{
    RequestJob job;
    job.ticket = m_nextTicket++;
    job.path = path;
    job.model = m_server.model;
    job.prompt = m_prompt;
    job.classes = m_classes;
    job.enumClasses = m_reviewMode ? QStringList() : m_classes;
    job.secondLook = secondLook;
    return job;
}

void VllmClient::sendRequest(const QString &path, int attempt, bool secondLook)
{
    // A missing file is reported at once, as it always was; a task of vanished files stays cheap.
    if (!isReadableFile(path)) {
        reportImage(path, ImageResult::Outcome::Failed, {}, translateText("图片解码失败"));
        return;
    }
    const RequestJob job = jobFor(path, secondLook);
    m_preparing.insert(job.ticket, Preparation{path, attempt, true});
    m_preparer->prepare(job);
}

void VllmClient::onPrepared(const PreparedRequest &prepared)
{
    const auto it = m_preparing.find(prepared.ticket);
    if (it == m_preparing.end())
        return;   // dropped by cancel, which has reported the image already
    const Preparation p = it.value();
    m_preparing.erase(it);
    if (p.started)
        dispatch(prepared, p);
    else
        m_ready.insert(prepared.ticket, prepared);
}

void VllmClient::dispatch(const PreparedRequest &prepared, const Preparation &p)
{
    if (!prepared.ok) {
        reportImage(p.path, ImageResult::Outcome::Failed, {},
                    prepared.tooLarge ? translateText("图片过大") : translateText("图片解码失败"));
        return;
    }
    if (m_spread.allDown) {
        reportImage(p.path, ImageResult::Outcome::Failed, {},
                    translateText("请求在 %1 秒内未完成").arg(transferTimeoutMs(m_server) / 1000));
        return;
    }
    const int server = m_spread.pool.pick(m_spread.clock.elapsed());
    if (server < 0) {
        // Every server is busy or resting: sent when one frees a slot or wakes up.
        m_spread.waiting.append(Waiting{prepared, p});
        if (!m_spread.restTimer->isActive() && m_spread.pool.nextWakeIn(m_spread.clock.elapsed()) >= 0)
            m_spread.restTimer->start(int(m_spread.pool.nextWakeIn(m_spread.clock.elapsed())) + 1);
        return;
    }
    send(prepared, p, server);
}

void VllmClient::send(const PreparedRequest &prepared, const Preparation &p, int server)
{
    QNetworkRequest request(QUrl(m_spread.pool.baseUrl(server) + QStringLiteral("/chat/completions")));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(transferTimeoutMs(m_server));
    QNetworkReply *reply = networkForRequest()->post(request, prepared.body);
    new BoundedReply(reply, kMaxAnswerBytes, requestDeadlineMs(m_server));
    m_inFlight.insert(reply);
    m_spread.pool.sent(server);
    m_spread.trace[p.path].server = server;
    connect(reply, &QNetworkReply::finished, this, [this, reply, prepared, p, server] {
        handleReply(reply, prepared, p, server);
    });
}

void VllmClient::sendWaiting()
{
    while (!m_spread.waiting.isEmpty() && !m_cancelled) {
        const int server = m_spread.pool.pick(m_spread.clock.elapsed());
        if (server < 0)
            break;
        const Waiting w = m_spread.waiting.takeFirst();
        send(w.prepared, w.preparation, server);
    }
    const qint64 wake = m_spread.pool.nextWakeIn(m_spread.clock.elapsed());
    if (!m_spread.waiting.isEmpty() && wake >= 0)
        m_spread.restTimer->start(int(wake) + 1);
}

void VllmClient::failWhenAllDown()
{
    // Once all were down that long, an image coming back from a server is not sent round again.
    if (!m_spread.allDown && !m_spread.pool.allDownFor(transferTimeoutMs(m_server), m_spread.clock.elapsed()))
        return;
    m_spread.allDown = true;
    m_spread.restTimer->stop();
    const QList<Waiting> waiting = std::exchange(m_spread.waiting, {});
    for (const Waiting &w : waiting)
        reportImage(w.preparation.path, ImageResult::Outcome::Failed, {},
                    translateText("请求在 %1 秒内未完成").arg(transferTimeoutMs(m_server) / 1000));
}

int VllmClient::taskSlots() const
{
    return effectiveConcurrency(m_server) * qMax(1, m_spread.pool.size());
}

QNetworkAccessManager *VllmClient::networkForRequest()
{
    const int wanted = (taskSlots() + kConnectionsPerManager - 1) / kConnectionsPerManager;
    while (m_networks.size() < wanted)
        m_networks.append(new QNetworkAccessManager(this));
    // The least busy manager always has a free connection: no more than `concurrency` replies are open.
    QNetworkAccessManager *best = nullptr;
    int bestLoad = 0;
    for (QNetworkAccessManager *network : std::as_const(m_networks)) {
        int load = 0;
        for (const QNetworkReply *reply : std::as_const(m_inFlight))
            load += reply->manager() == network ? 1 : 0;
        if (!best || load < bestLoad) {
            best = network;
            bestLoad = load;
        }
    }
    return best;
}

void VllmClient::handleReply(QNetworkReply *reply, const PreparedRequest &prepared, const Preparation &p,
                             int server)
{
    reply->deleteLater();
    m_inFlight.remove(reply);
    const QString &path = p.path;
    const QSize sourceSize = prepared.sourceSize;
    const QSize sentSize = prepared.sentSize;
    const int attempt = p.attempt;
    const qint64 now = m_spread.clock.elapsed();
    if (m_cancelled) {
        m_spread.pool.finished(server, ServerPool::Outcome::Answered, now);
        reportImage(path, ImageResult::Outcome::Cancelled);
        return;
    }

    BoundedReply *bounded = BoundedReply::of(reply);
    const QByteArray body = bounded->takeBody();
    // A server that sends more than any answer can hold would do it again: no retry.
    if (bounded->stop() == BoundedReply::Stop::TooLarge) {
        m_spread.pool.finished(server, ServerPool::Outcome::Refused, now);
        sendWaiting();
        reportImage(path, ImageResult::Outcome::Failed, {}, translateText("回答超过 %1 MiB").arg(kMaxAnswerBytes >> 20));
        return;
    }
    const bool pastDeadline = bounded->stop() == BoundedReply::Stop::Deadline;
    const QNetworkReply::NetworkError error = reply->error();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (pastDeadline || error != QNetworkReply::NoError || status < 200 || status > 299) {
        // A transfer time-out ends the reply as cancelled; our own cancel was handled above.
        const bool timedOut = pastDeadline || error == QNetworkReply::OperationCanceledError
            || error == QNetworkReply::TimeoutError;
        const bool down = status == 0 || status >= 500 || timedOut;
        m_spread.pool.finished(server, down ? ServerPool::Outcome::Down : ServerPool::Outcome::Refused, now);
        // With several servers the image goes to another one. Once each has gone down under it
        // while another answers, the image itself is the trouble: it takes the lone server's road.
        if (down && m_spread.pool.size() > 1 && (p.hops < m_spread.pool.size() || m_spread.pool.allDownFor(0, now))) {
            Preparation again = p;
            ++again.hops;
            m_spread.waiting.prepend(Waiting{prepared, again});
            failWhenAllDown();
            sendWaiting();
            return;
        }
        sendWaiting();
        if (attempt == 0 && (status == 0 || status >= 500 || timedOut)) {
            sendRequest(path, attempt + 1, false);
            return;
        }
        if (pastDeadline) {
            reportImage(path, ImageResult::Outcome::Failed, {},
                        translateText("请求在 %1 秒内未完成").arg(requestDeadlineMs(m_server) / 1000));
            return;
        }
        reportImage(path, ImageResult::Outcome::Failed, {},
                    translateText("推理失败 (HTTP %1): %2").arg(QString::number(status), reply->errorString()));
        return;
    }

    // A body that is no completion (an HTML page, an error object, a cut-off answer) is a failure,
    // retried once like a server error; only a completion without objects means "no objects".
    const ChatAnswer answer = readChatAnswer(body);
    m_spread.pool.finished(server, answer.kind == ChatAnswer::Completion ? ServerPool::Outcome::Answered
                                                                 : ServerPool::Outcome::Refused, now);
    sendWaiting();
    if (answer.kind != ChatAnswer::Completion) {
        if (attempt == 0)
            sendRequest(path, attempt + 1, false);
        else
            reportImage(path, ImageResult::Outcome::Failed, {}, chatAnswerProblem(answer));
        return;
    }
    const QString &text = answer.text;
    int unusable = 0;
    const QList<Annotation> anns = parseDetections(text, sourceSize, sentSize, m_minScore, m_classes,
                                                   m_restrictToClasses, m_markPending, &unusable);

    if (anns.isEmpty() && text.trimmed().isEmpty() && attempt <= 0)
        sendRequest(path, attempt + 1, false);
    else if (!anns.isEmpty() || attempt > 0 || m_cancelled)
        reportImage(path, ImageResult::Outcome::Answered, anns, QString(), unusable);
    else
        sendRequest(path, 1, true);
}

void VllmClient::reportImage(const QString &path, ImageResult::Outcome outcome, const QList<Annotation> &anns,
                             const QString &error, int unusable)
{
    --m_running;
    ++m_done;
    if (outcome == ImageResult::Outcome::Answered) {
        m_added += int(anns.size());
        for (const Annotation &a : anns) {
            if (a.confidence >= 0) {
                m_confidenceSum += a.confidence;
                ++m_confidenceCount;
            }
        }
    } else if (outcome == ImageResult::Outcome::Failed && !m_cancelled) {
        ++m_failed;
    }
    if (outcome == ImageResult::Outcome::Answered)
        m_unusable += unusable;
    ImageResult result;
    result.path = path;
    result.annotations = anns;
    result.outcome = outcome;
    result.error = error;
    result.unusable = unusable;
    const Trace trace = m_spread.trace.take(path);
    result.server = trace.server >= 0 ? m_spread.pool.baseUrl(trace.server) : QString();
    result.ms = m_spread.clock.elapsed() - trace.startedMs;
    emit imageFinished(result);
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
    emit taskFinished(TaskSummary{m_done, m_total, m_added, average, m_failed, cancelled, m_unusable});
}
