// A translation service's answer body, and the address and token it came with.
#include "translation.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    // Either the text or a reason to print, never both: the popup must not
    // fill the mirror and report a failure for one answer.
    const moxel::Answer answer = moxel::readAnswer(body);
    if (answer.text.has_value() == !answer.debugLines.isEmpty())
        __builtin_trap();
    if (answer.text &&
        QJsonDocument::fromJson(body).object().value(u"text").toString() != *answer.text)
        __builtin_trap();

    const QString text = QString::fromUtf8(body);
    // An address with a control character sends nothing; one with a final
    // "/" sends where the same address without it does, to ".../translate".
    const bool control = std::any_of(text.begin(), text.end(), [](QChar c) {
        return c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() <= 0x9f);
    });
    const std::optional<QUrl> url = moxel::translateUrl(text);
    if ((control && url) || (url && !url->toString().endsWith(u"/translate")))
        __builtin_trap();
    if (!text.endsWith(u'/') && moxel::translateUrl(text + u'/') != url)
        __builtin_trap();
    // A token that could end the X-Token header line is never sent.
    if (moxel::tokenUsable(text) && (text.contains(u'\n') || text.contains(u'\r')))
        __builtin_trap();
    // The request carries exactly its two strings, and an answer of the same
    // shape reads back as the text.
    const QString to = text.left(8);
    const QByteArray request = moxel::requestBody(text, to);
    const QJsonObject sent = QJsonDocument::fromJson(request).object();
    if (sent.size() != 2 || sent.value(u"text").toString() != text ||
        sent.value(u"to").toString() != to || moxel::readAnswer(request).text != text)
        __builtin_trap();
    return 0;
}
