// A standard-input line through parsing and every payload reading rule into
// the texts the cards show.
#include "cardtexts.h"
#include "heights.h"
#include "lines.h"
#include "payload.h"
#include "textrules.h"

#include <QJsonObject>

#include <cstddef>
#include <cstdint>

using namespace moxel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray line(reinterpret_cast<const char *>(data), qsizetype(size));
    (void)parseFirstLine(line);
    const std::optional<QJsonObject> payload = parseLaterLine(line);
    if (!payload)
        return 0;
    const QJsonObject &p = *payload;
    const QJsonObject session = object(p, u"session");
    (void)intentText(str(p, u"intent"));
    (void)languageText(str(p, u"lang_name"));
    (void)sessionLine(session);
    (void)selectedCharsLine(str(p, u"conversation"));
    (void)analysisBody(str(p, u"analysis"));
    (void)thinkingNodeTexts(p);
    (void)sidebarHeight(str(p, u"draft"), false);
    (void)sidebarHeight(str(p, u"cn"), true);
    (void)hasLongUnbrokenRun(str(p, u"draft"));
    for (const QString &w : list(p, u"warnings"))
        (void)graphemePrefix(w, 38);
    return 0;
}
