// The command line: arguments separated by NUL bytes.
#include "options.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QList<QByteArray> args{QByteArrayLiteral("moxel-popup")};
    args.append(bytes.split('\0'));
    const moxel::Options o = moxel::parseOptions(args);
    (void)o;
    for (const QByteArray &a : args)
        (void)moxel::parseCNumber(a);
    return 0;
}
