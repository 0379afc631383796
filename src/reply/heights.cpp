#include "heights.h"

#include "textrules.h"

#include <algorithm>

namespace moxel {

double sidebarHeight(QStringView text, bool cjk)
{
    const qsizetype perRow = cjk ? 24 : 46;
    const double rowHeight = cjk ? 18 : 16;
    const double minimum = cjk ? 70 : 96;
    constexpr double Extra = 16;
    constexpr double Maximum = 220;

    qsizetype rows = 0;
    qsizetype start = 0;
    for (;;) {
        qsizetype end = text.indexOf(u'\n', start);
        // A CR LF pair is one character inside its line; look for the next
        // line feed that stands alone.
        while (end > 0 && text[end - 1] == u'\r')
            end = text.indexOf(u'\n', end + 1);
        const qsizetype length = (end < 0 ? text.size() : end) - start;
        const qsizetype count = graphemeCount(text.sliced(start, length));
        rows += std::max<qsizetype>(1, (count + perRow - 1) / perRow);
        // Past the cap nothing further can change the result; a text of many
        // megabytes should not be counted to the end.
        if (end < 0 || rowHeight * double(rows) + Extra >= Maximum)
            break;
        start = end + 1;
    }
    return std::min(std::max(rowHeight * double(rows) + Extra, minimum), Maximum);
}

} // namespace moxel
