// A standard-input line through parsing and every payload reading rule into
// the texts the cards show.
#include "cardtexts.h"
#include "heights.h"
#include "lines.h"
#include "payload.h"
#include "textrules.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstddef>
#include <cstdint>

using namespace moxel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray line(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<QJsonObject> first = parseFirstLine(line);
    const std::optional<QJsonObject> payload = parseLaterLine(line);
    // The later-line rule only adds trimming to the first-line one.
    if (first && payload != first)
        __builtin_trap();
    if (!payload)
        return 0;
    const QJsonObject &p = *payload;
    // What was accepted is a JSON object that reads back as itself.
    const QByteArray again = QJsonDocument(p).toJson(QJsonDocument::Compact);
    if (again.size() <= LineCap && parseLaterLine(again) != p)
        __builtin_trap();
    const QJsonObject session = object(p, u"session");
    (void)intentText(str(p, u"intent"));
    (void)languageText(str(p, u"lang_name"));
    (void)sessionLine(session);
    (void)selectedCharsLine(str(p, u"conversation"));
    (void)analysisBody(str(p, u"analysis"));
    (void)thinkingNodeTexts(p);
    for (const bool cjk : {false, true}) {
        const double height = sidebarHeight(str(p, cjk ? u"cn" : u"draft"), cjk);
        if (height < (cjk ? 70 : 96) || height > 220)
            __builtin_trap();
    }
    (void)hasLongUnbrokenRun(str(p, u"draft"));
    for (const QString &w : list(p, u"warnings")) {
        const QString prefix = graphemePrefix(w, 38);
        if (!w.startsWith(prefix) || graphemeCount(prefix) > 38)
            __builtin_trap();
    }
    return 0;
}
