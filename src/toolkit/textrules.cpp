#include "textrules.h"

#include <QByteArray>
#include <QTextBoundaryFinder>

#include <cstdio>

namespace moxel {

qsizetype graphemeCount(QStringView text)
{
    if (text.isEmpty())
        return 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

QString graphemePrefix(QStringView text, qsizetype count)
{
    if (count <= 0)
        return {};
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (qsizetype i = 0; i < count; ++i) {
        const qsizetype next = finder.toNextBoundary();
        if (next == -1)
            return text.toString();
        end = next;
    }
    return text.first(end).toString();
}

bool hasLongUnbrokenRun(QStringView text, qsizetype limit)
{
    if (text.size() <= limit)
        return false;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Line, text);
    qsizetype last = 0;
    for (qsizetype pos = finder.toNextBoundary(); pos != -1; pos = finder.toNextBoundary()) {
        if (pos - last > limit)
            return true;
        last = pos;
    }
    return text.size() - last > limit;
}

QString printable(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        // Bidirectional embeddings, overrides and isolates would reorder the line.
        const char16_t u = c.unicode();
        if (c.category() == QChar::Other_Control || (u >= 0x202A && u <= 0x202E) ||
            (u >= 0x2066 && u <= 0x2069))
            out += QString::asprintf("\\u%04x", unsigned(c.unicode()));
        else
            out += c;
    }
    return out;
}

void printLine(const QString &line)
{
    const QByteArray bytes = printable(line).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace moxel
