#include "cardtexts.h"

#include "payload.h"
#include "textrules.h"

#include <QStringList>
#include <QTextBoundaryFinder>

using namespace Qt::StringLiterals;

namespace moxel {

QString intentText(const QString &intent)
{
    return intent.isEmpty() ? u"未识别"_s : intent;
}

QString languageText(const QString &langName)
{
    return langName.isEmpty() ? u"—"_s : langName;
}

QString waitText(qint64 minutes)
{
    // QString::asprintf formats floating point in the C locale, so a German
    // desktop still reads "1.5", never "1,5".
    if (minutes >= 1440)
        return QString::asprintf("%.1f", double(minutes) / 1440.0) + u" 天"_s;
    if (minutes >= 60)
        return QString::asprintf("%.1f", double(minutes) / 60.0) + u" 小时"_s;
    return QString::number(minutes) + u" 分钟"_s;
}

QString sessionLine(const QJsonObject &session)
{
    QStringList parts;
    if (const auto rounds = integer(session, u"轮次"); rounds && *rounds >= 1)
        parts.append(QString::number(*rounds) + u" 轮"_s);
    if (const auto wait = integer(session, u"等待分钟"))
        parts.append(u"已等 "_s + waitText(*wait));
    if (const QList<qint64> quantities = intList(session, u"提到数量"); !quantities.isEmpty()) {
        QStringList numbers;
        numbers.reserve(quantities.size());
        for (const qint64 q : quantities)
            numbers.append(QString::number(q));
        parts.append(numbers.join(u" / "_s) + u" pcs"_s);
    }
    for (const QStringView key : {u"提到国家", u"提到单号", u"提到产品"}) {
        const QStringList values = list(session, key);
        if (!values.isEmpty())
            parts.append(values.first());
    }
    return parts.join(u" · "_s);
}

QString selectedCharsLine(QStringView conversation)
{
    return u"已选 "_s + QString::number(graphemeCount(conversation)) + u" 字"_s;
}

QString analysisBody(const QString &analysis)
{
    static const QString prefix = u"【会话】"_s;
    if (!analysis.startsWith(prefix))
        return analysis;
    // A combining mark right after the bracket makes it another character, so
    // the text does not start with the marker at all.
    if (analysis.size() > prefix.size()) {
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, analysis);
        finder.setPosition(prefix.size());
        if (!finder.isAtBoundary())
            return analysis;
    }
    // CR LF is one character of its own, not a line feed: only a bare LF ends
    // the marker's line.
    for (qsizetype i = prefix.size(); i < analysis.size(); ++i) {
        if (analysis.at(i) == u'\n' && analysis.at(i - 1) != u'\r')
            return analysis.sliced(i + 1);
    }
    return analysis;
}

namespace {

QString inputNode(const QJsonObject &payload)
{
    const qint64 chars = integer(payload, u"chars").value_or(0);
    const qint64 rounds = integer(object(payload, u"session"), u"轮次").value_or(0);
    QString text = QString::number(chars) + u" 字"_s;
    if (rounds >= 1)
        text += u" · "_s + QString::number(rounds) + u" 轮"_s;
    return text;
}

QString redactionNode(const QJsonObject &payload)
{
    const qint64 n = integer(payload, u"redactions").value_or(0);
    if (n >= 1)
        return u"末条 "_s + QString::number(n) + u" 条（金额/电话/邮箱）"_s;
    return u"末条无敏感信息"_s;
}

QString rulesNode(const QJsonObject &payload)
{
    const QStringList matched = list(payload, u"matched");
    if (matched.isEmpty())
        return u"未命中，交模型"_s;
    return u"命中 "_s + matched.join(u'、');
}

QString modelNode(const QJsonObject &payload)
{
    QString text = str(payload, u"status");
    const QString confidence = str(payload, u"confidence");
    if (!confidence.isEmpty())
        text += u" · 置信度 "_s + confidence;
    return text;
}

QString templateNode(const QJsonObject &payload)
{
    const QString name = str(payload, u"template");
    return name.isEmpty() ? u"未选模板"_s : name;
}

QString numbersNode(const QJsonObject &payload)
{
    if (const qsizetype n = objectList(payload, u"filled").size(); n >= 1)
        return u"已填 "_s + QString::number(n) + u" 个（来自对话）"_s;
    if (const qsizetype m = objectList(payload, u"examples").size(); m >= 1)
        return u"示例值 "_s + QString::number(m) + u" 个（带 *，需替换）"_s;
    return u"无可用数字，保留占位符"_s;
}

QString checkNode(const QJsonObject &payload)
{
    const QStringList warnings = list(payload, u"warnings");
    if (warnings.isEmpty())
        return u"通过"_s;
    QStringList shown;
    for (qsizetype i = 0; i < std::min(warnings.size(), WarningsShown); ++i)
        shown.append(graphemePrefix(warnings.at(i), WarningLength));
    return shown.join(u'；');
}

} // namespace

QList<ThinkingNode> thinkingNodeTexts(const QJsonObject &payload)
{
    return {
        {u"输入"_s, inputNode(payload)},    {u"脱敏"_s, redactionNode(payload)},
        {u"规则"_s, rulesNode(payload)},    {u"模型"_s, modelNode(payload)},
        {u"话术"_s, templateNode(payload)}, {u"数字"_s, numbersNode(payload)},
        {u"校验"_s, checkNode(payload)},
    };
}

} // namespace moxel
