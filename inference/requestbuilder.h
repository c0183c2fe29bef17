#pragma once

#include "inference/preparedrequest.h"
#include "inference/requestjob.h"
#include "inference/serverconfig.h"
#include "storage/imagescaling.h"

#include <QByteArray>
#include <QImage>
#include <QJsonObject>
#include <QSize>
#include <QString>
#include <QStringList>

// The pieces of one chat-completion request: the image as sent, the prompts and the body.

// Longer side of the image that is sent; larger images are scaled down to fit.
constexpr int kMaxSentSide = 1568;
// Most images in flight at once: a vLLM deployment with several replicas behind one address.
constexpr int kMaxConcurrency = 64;

// The server's concurrency within 1..kMaxConcurrency.
int effectiveConcurrency(const ServerConfig &server);
int transferTimeoutMs(const ServerConfig &server);
// The whole request, however data trickles in: four times the transfer time-out.
int requestDeadlineMs(const ServerConfig &server);
// Far above any real completion; a larger answer fails its image unread.
constexpr qint64 kMaxAnswerBytes = 32ll * 1024 * 1024;

// Decodes the file with its stored orientation applied, already scaled to fit kMaxSentSide.
// sourceSize receives the full oriented size. Null on failure; status (when given) tells a file
// that cannot be read from one too large to decode within the memory budget.
QImage loadImageForSending(const QString &path, QSize *sourceSize, ImageRead *status = nullptr);

// "data:image/jpeg;base64,..." of the image at the given JPEG quality; empty when encoding fails.
QString jpegDataUrl(const QImage &image, int quality);

QString systemText(bool secondLook);
QString userText(const QString &prompt, const QStringList &classes, bool secondLook);

// The "response_format" object; enumClasses empty leaves the label unconstrained.
QJsonObject responseFormat(const QStringList &enumClasses);

QJsonObject chatRequestBody(const QString &model, const QString &system, const QString &user,
                            const QString &imageUrl, double temperature, const QStringList &enumClasses);

// The whole request of a job: decoding, scaling, JPEG and Base64 encoding and the compact body.
// Reentrant; the client runs it on worker threads.
PreparedRequest buildChatRequest(const RequestJob &job);
