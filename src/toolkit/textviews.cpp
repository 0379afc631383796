#include "textviews.h"

#include <QTextDocument>

namespace moxel {

TextViewRegistry TEXT_VIEWS;

void clearTextViews()
{
    TEXT_VIEWS.clear();
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
