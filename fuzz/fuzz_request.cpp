// A request to the translation service as it comes off the socket, cut into
// pieces of the first byte's size (0: all at once) as the kernel may hand it over.
#include "http.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

using moxel::xlate::RequestParser;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const qsizetype piece = data[0] ? data[0] : qsizetype(size);
    const QByteArrayView bytes(reinterpret_cast<const char *>(data) + 1, qsizetype(size) - 1);
    RequestParser parser(512, 1024); // small, so that both caps are within reach
    for (qsizetype at = 0; at < bytes.size() && parser.step() == RequestParser::Step::NeedMore;
         at += piece)
        parser.feed(bytes.sliced(at, std::min(piece, bytes.size() - at)));

    const RequestParser::Step step = parser.step();
    if (step == RequestParser::Step::Complete) {
        const moxel::xlate::HttpRequest &request = parser.request();
        const QByteArray length = request.header("content-length");
        if (request.body.size() != (length.isNull() ? 0 : length.toLongLong()) ||
            request.body.size() > 1024 || request.method.isEmpty() ||
            !request.target.startsWith(request.path))
            __builtin_trap();
        // Names as the header says: lower case, and nothing a server could
        // trim or split into another name.
        for (const auto &[name, value] : request.headers)
            if (name.isEmpty() || name != name.toLower() || name.contains(' ') ||
                name.contains('\t') || name.contains(':') || value.contains('\r'))
                __builtin_trap();
        (void)moxel::xlate::loopbackHost(request.header("host"), 8765);
    } else if (step == RequestParser::Step::Failed &&
               (parser.errorStatus() < 400 ||
                (parser.errorStatus() > 431 && parser.errorStatus() != 505) ||
                parser.errorMessage().isEmpty() || parser.unreadBody() < 0)) {
        __builtin_trap();
    }
    // Whatever comes after the end changes nothing.
    if (step != RequestParser::Step::NeedMore && parser.feed("GET / HTTP/1.1\r\n\r\n") != step)
        __builtin_trap();
    return 0;
}
