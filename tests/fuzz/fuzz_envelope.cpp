// The body of a chat-completion answer as the client receives it: the envelope around the content
// (an object with choices[0].message, an error object, HTML, cut-off or broken bytes), then the
// detections of whatever content it holds, for an image sent at half its size.

#include "inference/chatanswer.h"
#include "inference/detectionparser.h"

#include "tests/fuzz/fuzzsupport.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace {

const QSize kSource(3136, 1568);
const QSize kSent(1568, 784);

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::scratchDir();
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    const ChatAnswer answer = readChatAnswer(body);

    // Only a body that parses as JSON can be a completion or an error object.
    QJsonParseError parseError;
    QJsonDocument::fromJson(body, &parseError);
    const bool parses = parseError.error == QJsonParseError::NoError;
    switch (answer.kind) {
    case ChatAnswer::Completion:
        FUZZ_CHECK(parses && answer.error.isEmpty());
        FUZZ_CHECK(chatAnswerProblem(answer).isEmpty());
        break;
    case ChatAnswer::ServerError:
        FUZZ_CHECK(parses && answer.text.isEmpty());
        // Shown in a list or a toast: one line, bounded, whatever the server sent.
        FUZZ_CHECK(answer.error.size() <= 300);
        FUZZ_CHECK(!answer.error.contains(QLatin1Char('\n')) && !answer.error.contains(QLatin1Char('\r')));
        FUZZ_CHECK(!chatAnswerProblem(answer).isEmpty());
        break;
    case ChatAnswer::NotCompletion:
        FUZZ_CHECK(parses && answer.text.isEmpty() && answer.error.isEmpty());
        FUZZ_CHECK(!chatAnswerProblem(answer).isEmpty());
        break;
    case ChatAnswer::NotJson:
        FUZZ_CHECK(!parses && answer.text.isEmpty() && answer.error.isEmpty());
        FUZZ_CHECK(!chatAnswerProblem(answer).isEmpty());
        break;
    default:
        FUZZ_CHECK(false);
    }

    if (answer.kind == ChatAnswer::Completion) {
        const QList<Annotation> out = parseDetections(answer.text, kSource, kSent, 0.3, {}, false, true);
        FUZZ_CHECK(out.size() <= 10001);
        const QRectF image(QPointF(0, 0), QSizeF(kSource));
        for (const Annotation &a : out) {
            FUZZ_CHECK(a.pending == 1 && a.hasFiniteGeometry());
            FUZZ_CHECK(image.contains(a.rect));
        }
    }
    return 0;
}
