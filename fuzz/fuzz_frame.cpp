// The remembered frame as found in the settings file.
#include "frame.h"

#include <cstddef>
#include <cstdint>

namespace {

bool same(const QRectF &a, const QRectF &b)
{
    return a.x() == b.x() && a.y() == b.y() && a.width() == b.width() && a.height() == b.height();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<QRectF> saved = moxel::savedFrameFromText(text);
    if (!saved)
        return 0;
    if (saved->width() < 320 || saved->height() < 240)
        __builtin_trap();
    // A frame written and read back is the same frame, to the last bit.
    const QString written = moxel::frameText(*saved);
    const std::optional<QRectF> again = moxel::savedFrameFromText(written);
    if (!again || !same(*again, *saved) || moxel::frameText(*again) != written)
        __builtin_trap();
    const QRectF screen(0, 0, 1440, 875);
    if (moxel::savedFrameUsable(*saved, {screen}) &&
        (saved->width() < 340 || saved->width() > 620 || saved->height() < 480 ||
         !saved->intersects(screen)))
        __builtin_trap();
    return 0;
}
