#include "textviews.h"

#include <QTextDocument>

namespace moxel {

TextViewRegistry TEXT_VIEWS;

bool isPartOf(const QWidget *widget, const QWidget *part)
{
    return part && widget && (widget == part || part->isAncestorOf(widget));
}

void clearTextViews(const QWidget *kept)
{
    TEXT_VIEWS.removeIf([kept](const TextViewRegistry::iterator &it) {
        return !isPartOf(it.value().data(), kept);
    });
}

QPlainTextEdit *textView(const QString &key)
{
    return TEXT_VIEWS.value(key).data();
}

QString keyOfView(const QObject *view)
{
    if (!view)
        return {};
    for (auto it = TEXT_VIEWS.cbegin(); it != TEXT_VIEWS.cend(); ++it) {
        if (it.value().data() == view)
            return it.key();
    }
    return {};
}

QString plainText(const QPlainTextEdit *view)
{
    QString text = view->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    return text;
}

} // namespace moxel
