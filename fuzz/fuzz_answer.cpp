// A translation service's answer body, and the address and token it came with.
#include "translation.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    (void)moxel::readAnswer(body);
    const QString text = QString::fromUtf8(body);
    (void)moxel::translateUrl(text);
    (void)moxel::tokenUsable(text);
    (void)moxel::requestBody(text, text.left(8));
    return 0;
}
