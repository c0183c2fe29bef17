#include "inference/chatanswer.h"

#include "inference/detectionparser.h"
#include "shared/language.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace {

// A message to show in a list or a toast, not a page of server output.
const qsizetype kMaxErrorLength = 300;

QString oneLine(QString text)
{
    text = text.simplified();
    if (text.size() > kMaxErrorLength)
        text = text.left(kMaxErrorLength - 1) + QChar(0x2026);
    return text;
}

// {"error":{"message":...}} (OpenAI, vLLM), {"error":"..."} (llama-server, proxies), or anything.
QString errorText(const QJsonValue &error)
{
    if (error.isString())
        return error.toString();
    const QJsonValue message = error.toObject().value(QLatin1String("message"));
    if (message.isString() && !message.toString().trimmed().isEmpty())
        return message.toString();
    if (error.isObject())
        return QString::fromUtf8(QJsonDocument(error.toObject()).toJson(QJsonDocument::Compact));
    if (error.isArray())
        return QString::fromUtf8(QJsonDocument(error.toArray()).toJson(QJsonDocument::Compact));
    return error.toVariant().toString();
}

} // namespace

ChatAnswer readChatAnswer(const QByteArray &body)
{
    ChatAnswer answer;
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        answer.kind = ChatAnswer::NotJson;
        return answer;
    }
    const QJsonObject root = doc.object();
    const QJsonArray choices = root.value(QLatin1String("choices")).toArray();
    const QJsonValue message = choices.isEmpty() ? QJsonValue() : choices.first().toObject().value(QLatin1String("message"));
    if (message.isObject()) {
        answer.kind = ChatAnswer::Completion;
        answer.text = messageText(message.toObject().value(QLatin1String("content")));
        return answer;
    }
    if (root.contains(QLatin1String("error"))) {
        answer.kind = ChatAnswer::ServerError;
        answer.error = oneLine(errorText(root.value(QLatin1String("error"))));
        return answer;
    }
    answer.kind = ChatAnswer::NotCompletion;
    return answer;
}

QString chatAnswerProblem(const ChatAnswer &answer)
{
    switch (answer.kind) {
    case ChatAnswer::Completion:
        return QString();
    case ChatAnswer::NotJson:
        return translateText("回答不是 JSON");
    case ChatAnswer::NotCompletion:
        return translateText("回答不是对话补全");
    case ChatAnswer::ServerError:
        break;
    }
    return translateText("服务器返回错误：%1").arg(answer.error);
}
