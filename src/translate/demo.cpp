#include "demo.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace moxel::xlate {

namespace {

QString languageKey(const QString &code)
{
    return code.trimmed().toLower().replace(u'_', u'-');
}

} // namespace

std::optional<PhraseTable> PhraseTable::fromJson(const QByteArray &json, QString *error)
{
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = parseError.errorString();
        return std::nullopt;
    }
    const QJsonValue phrases = doc.object().value(u"phrases"_s);
    if (!doc.isObject() || !phrases.isArray()) {
        *error = u"expected an object with a \"phrases\" array"_s;
        return std::nullopt;
    }
    PhraseTable table;
    const QJsonArray entries = phrases.toArray();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QJsonObject entry = entries[i].toObject();
        QHash<QString, QString> sentences;
        for (auto it = entry.begin(); it != entry.end(); ++it) {
            if (!it.value().isString() || it.value().toString().trimmed().isEmpty()) {
                *error =
                    u"phrase %1, \"%2\": expected a non-empty string"_s.arg(i + 1).arg(it.key());
                return std::nullopt;
            }
            sentences.insert(languageKey(it.key()), it.value().toString());
        }
        if (sentences.size() < 2) {
            *error = u"phrase %1: needs at least two languages"_s.arg(i + 1);
            return std::nullopt;
        }
        table.m_entries.append(sentences);
    }
    table.merge({});
    return table;
}

PhraseTable PhraseTable::builtIn()
{
    QFile file(u":/moxel-translate/demo-phrases.json"_s);
    QString error;
    std::optional<PhraseTable> table;
    if (file.open(QIODevice::ReadOnly))
        table = fromJson(file.readAll(), &error);
    Q_ASSERT_X(table, "PhraseTable::builtIn", "the shipped phrase table must load");
    return table.value_or(PhraseTable{});
}

void PhraseTable::merge(const PhraseTable &other)
{
    m_entries += other.m_entries;
    // Later entries win, so a table given at start-up can correct the shipped one.
    m_index.clear();
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        for (const QString &sentence : std::as_const(m_entries[i]))
            m_index.insert(sentence.simplified(), i);
    }
}

std::optional<QString> PhraseTable::lookup(const QString &text, const QString &to) const
{
    const auto found = m_index.constFind(text.simplified());
    if (found == m_index.constEnd())
        return std::nullopt;
    const QHash<QString, QString> &entry = m_entries[*found];
    const QString language = languageKey(to);
    if (const auto it = entry.constFind(language); it != entry.constEnd())
        return *it;
    if (const auto it = entry.constFind(language.section(u'-', 0, 0)); it != entry.constEnd())
        return *it;
    return std::nullopt;
}

std::optional<QString> demoTranslation(const PhraseTable &table, const QString &text,
                                       const QString &to)
{
    if (const std::optional<QString> whole = table.lookup(text, to))
        return *whole;
    QStringList lines = text.split(u'\n');
    bool any = false;
    for (QString &line : lines) {
        if (line.trimmed().isEmpty())
            continue;
        const std::optional<QString> translated = table.lookup(line, to);
        if (!translated)
            return std::nullopt;
        line = *translated;
        any = true;
    }
    return any ? lines.join(u'\n') : text;
}

DemoBackend::DemoBackend(PhraseTable table, QObject *parent)
    : Backend(parent), m_table(std::move(table))
{}

BackendCall *DemoBackend::translate(const QString &text, const QString &to, QObject *parent)
{
    auto *call = new BackendCall(parent);
    const std::optional<QString> translated = demoTranslation(m_table, text, to);
    // Anything else in the box would be copied to the customer as a translation.
    const Outcome outcome =
        translated ? Outcome::success(*translated)
                   : Outcome::failure(u"demo: no translation into %1 for this text; the demo "
                                      u"engine knows only its phrase table (see --phrases and "
                                      u"--backend)"_s.arg(to),
                                      422);
    QTimer::singleShot(0, call, [call, outcome] { Q_EMIT call->finished(outcome); });
    return call;
}

} // namespace moxel::xlate
