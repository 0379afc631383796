#include "lines.h"

#include "cnumber.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QStringDecoder>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace moxel {

LineReader::LineReader(int fd, qsizetype cap) : m_fd(fd), m_cap(cap) {}

bool LineReader::fill()
{
    if (m_eof)
        return false;
    // Drop what was handed out before growing, so a long stream of short lines
    // keeps the buffer small.
    if (m_start > 0) {
        m_buffer.remove(0, m_start);
        m_start = 0;
    }
    constexpr qsizetype Chunk = 64 * 1024;
    const qsizetype old = m_buffer.size();
    m_buffer.resize(old + Chunk);
    ssize_t n;
    do {
        n = ::read(m_fd, m_buffer.data() + old, size_t(Chunk));
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        m_buffer.resize(old);
        m_eof = true;
        return false;
    }
    m_buffer.resize(old + qsizetype(n));
    return true;
}

LineReader::Result LineReader::next(QByteArray *line)
{
    qsizetype scanned = m_start;
    bool tooLong = false;
    for (;;) {
        const char *base = m_buffer.constData();
        const void *lf = std::memchr(base + scanned, '\n', size_t(m_buffer.size() - scanned));
        if (lf) {
            const qsizetype end = static_cast<const char *>(lf) - base;
            if (tooLong || end - m_start > m_cap) {
                m_start = end + 1;
                line->clear();
                return Result::TooLong;
            }
            *line = m_buffer.mid(m_start, end + 1 - m_start);
            m_start = end + 1;
            return Result::Line;
        }
        if (tooLong || m_buffer.size() - m_start > m_cap) {
            // Keep nothing of an over-long line but the fact that it is one.
            tooLong = true;
            m_buffer.clear();
            m_start = 0;
        }
        scanned = m_buffer.size();
        const qsizetype offset = m_start;
        if (!fill()) {
            if (tooLong) {
                m_buffer.clear();
                m_start = 0;
                line->clear();
                return Result::TooLong;
            }
            if (m_buffer.size() > m_start) {
                *line = m_buffer.mid(m_start);
                m_buffer.clear();
                m_start = 0;
                return Result::Line;
            }
            return Result::End;
        }
        scanned -= offset - m_start; // fill() may have moved the data to the front
    }
}

QString decodeLine(const QByteArray &bytes)
{
    QByteArrayView v(bytes);
    if (v.endsWith('\n')) {
        v.chop(1);
        if (v.endsWith('\r'))
            v.chop(1);
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    return decoder.decode(v);
}

namespace {

bool isJsonSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isHex(char c)
{
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// An iterative validator: no recursion, so 200,000 nested brackets cost a
// little memory, not the stack. It also notes numbers that overflow a double.
class Validator
{
public:
    explicit Validator(const QByteArray &text) : s(text.constData()), n(text.size()) {}

    bool run()
    {
        skipSpace();
        if (i >= n || (s[i] != '{' && s[i] != '['))
            return false;
        if (!value())
            return false;
        skipSpace();
        return i == n;
    }

    std::vector<std::pair<qsizetype, qsizetype>> overflows;

private:
    void skipSpace()
    {
        while (i < n && isJsonSpace(s[i]))
            ++i;
    }

    bool literal(const char *word)
    {
        const qsizetype len = qsizetype(std::strlen(word));
        if (n - i < len || std::memcmp(s + i, word, size_t(len)) != 0)
            return false;
        i += len;
        return true;
    }

    bool string()
    {
        ++i; // opening quote
        while (i < n) {
            const unsigned char c = static_cast<unsigned char>(s[i]);
            if (c == '"') {
                ++i;
                return true;
            }
            if (c < 0x20)
                return false;
            if (c == '\\') {
                if (++i >= n)
                    return false;
                switch (s[i]) {
                case '"':
                case '\\':
                case '/':
                case 'b':
                case 'f':
                case 'n':
                case 'r':
                case 't':
                    ++i;
                    break;
                case 'u':
                    if (n - i < 5 || !isHex(s[i + 1]) || !isHex(s[i + 2]) || !isHex(s[i + 3]) ||
                        !isHex(s[i + 4]))
                        return false;
                    i += 5;
                    break;
                default:
                    return false;
                }
                continue;
            }
            ++i;
        }
        return false;
    }

    bool number()
    {
        const qsizetype start = i;
        if (s[i] == '-')
            ++i;
        if (i >= n || !isDigit(s[i]))
            return false;
        if (s[i] == '0') {
            ++i;
        } else {
            while (i < n && isDigit(s[i]))
                ++i;
        }
        if (i < n && s[i] == '.') {
            ++i;
            if (i >= n || !isDigit(s[i]))
                return false;
            while (i < n && isDigit(s[i]))
                ++i;
        }
        if (i < n && (s[i] == 'e' || s[i] == 'E')) {
            ++i;
            if (i < n && (s[i] == '+' || s[i] == '-'))
                ++i;
            if (i >= n || !isDigit(s[i]))
                return false;
            while (i < n && isDigit(s[i]))
                ++i;
        }
        // Qt refuses a whole document over one number out of a double's range
        // (too large or too small); such a number is never a whole number.
        if (i - start >= 4) {
            const std::string token(s + start, size_t(i - start));
            errno = 0;
            const double v = strtodC(token.c_str(), nullptr);
            if (std::isinf(v) || errno == ERANGE)
                overflows.emplace_back(start, i - start);
        }
        return true;
    }

    bool scalar()
    {
        switch (s[i]) {
        case '"':
            return string();
        case 't':
            return literal("true");
        case 'f':
            return literal("false");
        case 'n':
            return literal("null");
        default:
            return number();
        }
    }

    // Containers are tracked on an explicit stack of open brackets.
    bool value()
    {
        std::vector<char> open;
        for (;;) {
            skipSpace();
            if (i >= n)
                return false;
            // Here a value is expected.
            if (s[i] == '{' || s[i] == '[') {
                const char c = s[i++];
                open.push_back(c);
                skipSpace();
                if (i < n && s[i] == (c == '{' ? '}' : ']')) {
                    ++i;
                    open.pop_back();
                } else {
                    if (c == '{' && !member())
                        return false;
                    continue;
                }
            } else if (!scalar()) {
                return false;
            }
            // After a value: a comma, or closing brackets.
            for (;;) {
                if (open.empty())
                    return true;
                skipSpace();
                if (i >= n)
                    return false;
                const char top = open.back();
                if (s[i] == ',') {
                    ++i;
                    if (top == '{' && !member())
                        return false;
                    break;
                }
                if (s[i] == (top == '{' ? '}' : ']')) {
                    ++i;
                    open.pop_back();
                    continue;
                }
                return false;
            }
        }
    }

    // A member name and its colon; the value follows.
    bool member()
    {
        skipSpace();
        if (i >= n || s[i] != '"' || !string())
            return false;
        skipSpace();
        if (i >= n || s[i] != ':')
            return false;
        ++i;
        return true;
    }

    const char *s;
    qsizetype n;
    qsizetype i = 0;
};

} // namespace

bool isStrictJson(const QByteArray &utf8)
{
    return Validator(utf8).run();
}

std::optional<QJsonObject> parseObject(const QByteArray &utf8)
{
    if (utf8.size() > LineCap)
        return std::nullopt;
    Validator validator(utf8);
    if (!validator.run())
        return std::nullopt;
    QByteArray text = utf8;
    for (const auto &[start, length] : validator.overflows) {
        // Every overflowing number is at least four characters long.
        std::memcpy(text.data() + start, "null", 4);
        std::memset(text.data() + start + 4, ' ', size_t(length - 4));
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}

std::optional<QJsonObject> parseFirstLine(const QByteArray &rawLine)
{
    return parseObject(decodeLine(rawLine).toUtf8());
}

std::optional<QJsonObject> parseLaterLine(const QByteArray &rawLine)
{
    const QString line = decodeLine(rawLine).trimmed();
    if (line.isEmpty())
        return std::nullopt;
    return parseObject(line.toUtf8());
}

} // namespace moxel
