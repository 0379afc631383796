// A translation service's answer body, and the address and token it came with.
#include "translation.h"

#include <QJsonDocument>
#include <QJsonObject>

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
    if (const std::optional<QUrl> url = moxel::translateUrl(text); url && !url->isValid())
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
