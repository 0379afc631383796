// An upstream's answer to the translation service: the first byte picks the
// HTTP status, the rest is the body, read as LibreTranslate's and as an
// OpenAI-compatible server's.
#include "libretranslate.h"
#include "openai.h"

#include <QJsonDocument>

#include <cstddef>
#include <cstdint>
#include <iterator>

using namespace moxel::xlate;
using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    static const int statuses[] = {200, 201, 204, 301, 400, 401, 404, 429, 500, 503};
    UpstreamAnswer answer;
    answer.status = statuses[data[0] % std::size(statuses)];
    answer.body = QByteArray(reinterpret_cast<const char *>(data) + 1, qsizetype(size) - 1);

    const Outcome chat = openaiOutcome(answer);
    for (const Outcome &outcome : {libreOutcome(answer), chat}) {
        // Only a 2xx answer can be a translation, and a failure always says why.
        if (outcome.ok ? answer.status / 100 != 2 || outcome.status != 200
                       : outcome.error.isEmpty() || outcome.status / 100 != 5)
            __builtin_trap();
    }
    // A translation is never empty, cut short, or the model's reasoning.
    const QJsonValue finish =
        QJsonDocument::fromJson(answer.body).object().value(u"choices"_s)[0][u"finish_reason"_s];
    if (chat.ok && (chat.text.isEmpty() || chat.text != chat.text.trimmed() ||
                    finish == u"length"_s || chat.text.startsWith(u"<think>")))
        __builtin_trap();
    (void)upstreamError(answer);

    const QString text = QString::fromUtf8(answer.body);
    (void)plainAnswer(text);
    (void)libreLanguage(text.left(16), {u"zh-Hans"_s, u"zt"_s, u"pb"_s, u"en"_s});
    (void)languageName(text.left(16));
    return 0;
}
