#pragma once

#include "backend.h"

#include <QHash>
#include <QList>
#include <QString>

#include <optional>

namespace moxel::xlate {

// Sentences known in several languages. Each entry of the JSON form
// {"phrases": [{"pt": "…", "zh": "…", "en": "…"}, …]} says the same thing in
// every language it lists, so a table translates in all its directions.
class PhraseTable
{
public:
    // Nothing, and `error` set, unless the whole document has that form.
    static std::optional<PhraseTable> fromJson(const QByteArray &json, QString *error);
    // The table shipped inside the program.
    static PhraseTable builtIn();

    void merge(const PhraseTable &other);
    // The entry's sentence in `to` (or in its primary language: "zh-CN" finds
    // "zh"); white space runs count as one space.
    std::optional<QString> lookup(const QString &text, const QString &to) const;
    qsizetype size() const { return m_entries.size(); }

private:
    QList<QHash<QString, QString>> m_entries;
    QHash<QString, qsizetype> m_index;
};

// A whole-text match, else every non-blank line matched on its own; nothing
// when any line is not in the table, since half a translation is none.
std::optional<QString> demoTranslation(const PhraseTable &table, const QString &text,
                                       const QString &to);

class DemoBackend final : public Backend
{
    Q_OBJECT
public:
    explicit DemoBackend(PhraseTable table, QObject *parent = nullptr);
    QString name() const override { return QStringLiteral("demo"); }
    BackendCall *translate(const QString &text, const QString &to, QObject *parent) override;

private:
    PhraseTable m_table;
};

} // namespace moxel::xlate
