#include "translation.h"

#include "textrules.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QStringDecoder>

using namespace Qt::StringLiterals;

namespace moxel {

namespace {

bool hasControl(const QString &text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return true;
    }
    return false;
}

SyncLineSink &sink()
{
    static SyncLineSink current;
    return current;
}

QString unparsableLine(qsizetype bytes)
{
    return u"SYNC: 返回体解析失败（"_s + QString::number(bytes) + u" 字节）"_s;
}

} // namespace

std::optional<QUrl> translateUrl(const QString &proxy)
{
    if (hasControl(proxy))
        return std::nullopt;
    const QString address =
        proxy + (proxy.endsWith(u'/') ? QStringLiteral("translate") : QStringLiteral("/translate"));
    QUrl url(address, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

bool tokenUsable(const QString &token)
{
    return !hasControl(token);
}

QByteArray requestBody(const QString &text, const QString &to)
{
    const QJsonObject object{{QStringLiteral("text"), text}, {QStringLiteral("to"), to}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

Answer readAnswer(const QByteArray &body)
{
    Answer answer;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (body.isEmpty() || error.error != QJsonParseError::NoError || !document.isObject()) {
        answer.debugLines << unparsableLine(body.size());
        return answer;
    }
    const QJsonValue text = document.object().value(QStringLiteral("text"));
    if (!text.isString()) {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString quoted = decoder(body);
        if (decoder.hasError())
            quoted.clear();
        answer.debugLines << u"SYNC: 服务端返回无 text 字段 -> "_s + graphemePrefix(quoted, 160);
        return answer;
    }
    answer.text = text.toString();
    return answer;
}

QString requestErrorLine(const QString &description)
{
    return u"SYNC: 请求出错 "_s + description;
}

void setSyncLineSink(SyncLineSink sink_)
{
    sink() = std::move(sink_);
}

void syncLine(const QString &line)
{
    const QString shown = printable(line);
    if (sink())
        sink()(shown);
    else
        printLine(shown);
}

} // namespace moxel
