#pragma once

#include <QByteArray>
#include <QString>

// What the body of a 2xx answer to a chat-completion request turns out to be. Servers answer 200
// with an HTML page from a proxy, with {"error": ...} while a model loads, or with a completion
// cut off mid-JSON; none of them is an answer without objects. Pure; safe on any thread.
struct ChatAnswer
{
    enum Kind {
        Completion,     // choices[0].message exists; text may be empty ("no objects")
        NotJson,        // does not parse: HTML, cut off, invalid UTF-8
        NotCompletion,  // JSON, but no choices[0].message object
        ServerError,    // no completion, but an "error" member
    };

    Kind kind = NotJson;
    QString text;    // Completion: the message text
    QString error;   // ServerError: the server's message, on one line and shortened
};

ChatAnswer readChatAnswer(const QByteArray &body);

// Why an answer that is not a completion failed its image, in the interface language.
QString chatAnswerProblem(const ChatAnswer &answer);
