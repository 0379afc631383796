#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace moxel {

// Lines longer than this are refused whole. A payload is a few kilobytes; the
// cap keeps a runaway writer from costing gigabytes (Qt's JSON parser also
// mis-reads inputs of 2 GiB and more) and leaves room for any real message.
inline constexpr qsizetype LineCap = 32 * 1024 * 1024;

// Reads lines (bytes up to a line feed) from a file descriptor, blocking. A
// line longer than the cap is reported as too long and skipped to its end, so
// its tail is never taken for a line of its own. A read error counts as the end.
class LineReader
{
public:
    enum class Result { Line, TooLong, End };

    explicit LineReader(int fd, qsizetype cap = LineCap);
    Result next(QByteArray *line);

private:
    bool fill();

    int m_fd;
    qsizetype m_cap;
    QByteArray m_buffer;
    qsizetype m_start = 0;
    bool m_eof = false;
};

// The line's bytes as text: invalid UTF-8 replaced by U+FFFD, a final LF or
// CR LF removed. Nothing else is trimmed.
QString decodeLine(const QByteArray &bytes);

// True when `utf8` is one JSON object or array, strictly by the JSON grammar,
// with only white space around it. Qt's parser alone is lenient (it takes
// ".5", "1.", unknown escapes and raw control characters in strings).
bool isStrictJson(const QByteArray &utf8);

// Parses a strict JSON text whose top level is an object. Numbers too large
// for a double are read as null (so they count as absent), not as a failure.
std::optional<QJsonObject> parseObject(const QByteArray &utf8);

// The first line: not trimmed, strict, must be an object.
std::optional<QJsonObject> parseFirstLine(const QByteArray &rawLine);
// A later line: trimmed first; blank or bad lines give nothing.
std::optional<QJsonObject> parseLaterLine(const QByteArray &rawLine);

} // namespace moxel
