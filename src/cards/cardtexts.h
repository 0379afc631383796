#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringView>

// The texts of the header, session and thinking cards, computed from a payload
// with the reading rules of payload.h. No widgets here.
namespace moxel {

// Header values: what the header shows for an intent and a language name.
QString intentText(const QString &intent);
QString languageText(const QString &langName);

// "已等 " is not included: 45 → "45 分钟", 90 → "1.5 小时", 2160 → "1.5 天".
// Always a full stop before the decimal, whatever the locale.
QString waitText(qint64 minutes);

// The one-line summary of the "session" object; empty when nothing is known.
QString sessionLine(const QJsonObject &session);

// The session card's line when the summary is empty: "已选 N 字", N counted in
// user-perceived characters.
QString selectedCharsLine(QStringView conversation);

// The analysis shown by the thinking card: a leading "【会话】" line is dropped
// when a line feed ends it.
QString analysisBody(const QString &analysis);

struct ThinkingNode
{
    QString title;
    QString text;
    friend bool operator==(const ThinkingNode &, const ThinkingNode &) = default;
};

// The seven fixed nodes (输入, 脱敏, 规则, 模型, 话术, 数字, 校验), in order.
QList<ThinkingNode> thinkingNodeTexts(const QJsonObject &payload);

// How validation warnings are cut for the 校验 node.
inline constexpr qsizetype WarningsShown = 2;
inline constexpr qsizetype WarningLength = 38;

} // namespace moxel
