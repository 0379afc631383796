// The remembered frame as found in the settings file.
#include "frame.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<QRectF> saved = moxel::savedFrameFromText(text);
    if (saved) {
        (void)moxel::savedFrameUsable(*saved, {QRectF(0, 0, 1440, 875)});
        (void)moxel::frameText(*saved);
    }
    return 0;
}
