#include "textbox.h"

#include "factories.h"
#include "keyboard.h"
#include "palette.h"
#include "textrules.h"
#include "textviews.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScopedValueRollback>
#include <QTextBlock>
#include <QTextCursor>

#include <algorithm>
#include <cmath>

namespace moxel {

namespace {

// hasLongUnbrokenRun's default limit, and the size up to which a box that
// broke anywhere checks its whole text again on every change.
constexpr int RunLimit = 1000;
constexpr int SmallDocument = 20000;

} // namespace

// Qt lays out a text the moment it is set, and again to place the caret,
// which for a box in a closed section means shaping a text nobody sees, and
// loading its fonts, on every render. Until its box is first shown this
// layout lays out nothing: changes only forget old lines, and a paragraph has
// no geometry yet. Showing the box lays the text out as a change would.
class TextBox::Layout final : public QPlainTextDocumentLayout
{
public:
    Layout(QTextDocument *doc, TextBox *box) : QPlainTextDocumentLayout(doc), m_box(box) {}

    QRectF blockBoundingRect(const QTextBlock &block) const override
    {
        if (m_waiting)
            return QRectF();
        // A paragraph is laid out the first time it is asked for. setPlainText
        // asks before it announces the new text, so the wrap mode is checked
        // here too, or a long run would be laid out word by word.
        if (block.isValid() && block.layout()->lineCount() == 0)
            m_box->breakAnywhereFor(block);
        return QPlainTextDocumentLayout::blockBoundingRect(block);
    }

    void layOutFromNowOn()
    {
        if (!m_waiting)
            return;
        m_waiting = false;
        QPlainTextDocumentLayout::documentChanged(0, 0, document()->characterCount());
    }

    // A new wrap mode lays the current paragraph out again at once. The box
    // changes it only while a paragraph is about to be laid out anyway, so
    // every paragraph just forgets its lines, or the largest would be laid
    // out twice.
    void setWrapMode(QTextOption::WrapMode mode)
    {
        const QScopedValueRollback<bool> lazily(m_lazy, true);
        m_box->setWordWrapMode(mode);
    }

protected:
    void documentChanged(int from, int removed, int added) override
    {
        if (!m_waiting && !m_lazy) {
            QPlainTextDocumentLayout::documentChanged(from, removed, added);
            return;
        }
        for (QTextBlock block = document()->firstBlock(); block.isValid(); block = block.next()) {
            block.clearLayout();
            block.setLineCount(block.isVisible() ? 1 : 0);
        }
    }

private:
    TextBox *m_box;
    bool m_waiting = true;
    bool m_lazy = false;
};

TextBox::TextBox(const QColor &caret, QWidget *parent) : QPlainTextEdit(parent), m_caret(caret)
{
    auto *doc = new QTextDocument(this);
    m_layout = new Layout(doc, this);
    doc->setDocumentLayout(m_layout);
    setDocument(doc);
    setCursorWidth(0);
    // Emitted before the layout sees the change, so the wrap mode is right
    // before the first line of a huge run is broken.
    connect(document(), &QTextDocument::contentsChange, this, &TextBox::contentsChanging);
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, &TextBox::restartBlink);
    connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect &, int dy) {
        if (dy != 0)
            m_caretRect.translate(0, dy);
    });
}

void TextBox::contentsChanging(int position, int removed, int added)
{
    if (wordWrapMode() != QTextOption::WrapAnywhere) {
        if (added <= 0 && removed <= 0)
            return;
        // A run longer than the limit that this change created or joined
        // overlaps the change, so it shows in the change and the limit's
        // worth of text on either side of it.
        const int last = std::max(0, document()->characterCount() - 1);
        QTextCursor window(document());
        window.setPosition(std::clamp(position - RunLimit - 1, 0, last));
        window.setPosition(std::clamp(position + added + RunLimit + 1, 0, last),
                           QTextCursor::KeepAnchor);
        if (hasLongUnbrokenRun(window.selectedText(), RunLimit))
            m_layout->setWrapMode(QTextOption::WrapAnywhere);
        return;
    }
    // Going back to word wrapping needs the whole text; do it only when that
    // costs no more than the change itself.
    if (document()->characterCount() <= std::max(SmallDocument, 2 * added) &&
        !hasLongUnbrokenRun(document()->toRawText(), RunLimit))
        m_layout->setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
}

void TextBox::breakAnywhereFor(const QTextBlock &block)
{
    if (wordWrapMode() != QTextOption::WrapAnywhere && block.length() > RunLimit &&
        hasLongUnbrokenRun(block.text(), RunLimit))
        m_layout->setWrapMode(QTextOption::WrapAnywhere);
}

bool TextBox::showsCaret() const
{
    return hasFocus() &&
           (textInteractionFlags() & (Qt::TextEditable | Qt::TextSelectableByKeyboard));
}

QRect TextBox::caretRect() const
{
    QRect r = cursorRect();
    r.setWidth(1);
    return r;
}

void TextBox::restartBlink()
{
    m_caretOn = true;
    const int flash = QApplication::cursorFlashTime();
    if (flash > 0 && showsCaret())
        m_blink.start(flash / 2, this);
    else
        m_blink.stop();
    repaintCaret();
}

void TextBox::repaintCaret()
{
    // Locating the caret lays out its line; a box without focus shows none,
    // and every render sets the text of boxes that have no focus.
    if (m_caretRect.isValid())
        viewport()->update(m_caretRect);
    m_caretRect = showsCaret() ? caretRect() : QRect();
    if (m_caretRect.isValid())
        viewport()->update(m_caretRect);
}

void TextBox::paintEvent(QPaintEvent *event)
{
    QPlainTextEdit::paintEvent(event);
    if (m_caretOn && showsCaret()) {
        QPainter p(viewport());
        m_caretRect = caretRect();
        p.fillRect(m_caretRect, m_caret);
    }
}

void TextBox::showEvent(QShowEvent *event)
{
    m_layout->layOutFromNowOn();
    QPlainTextEdit::showEvent(event);
}

void TextBox::changeEvent(QEvent *event)
{
    QPlainTextEdit::changeEvent(event);
    if (event->type() == QEvent::ReadOnlyChange)
        restartBlink();
}

void TextBox::focusInEvent(QFocusEvent *event)
{
    QPlainTextEdit::focusInEvent(event);
    restartBlink();
}

void TextBox::focusOutEvent(QFocusEvent *event)
{
    QPlainTextEdit::focusOutEvent(event);
    m_blink.stop();
    m_caretOn = false;
    repaintCaret();
}

void TextBox::keyPressEvent(QKeyEvent *event)
{
    // Shift+Return would type U+2028, which copying and sending keep as it
    // is; a line break the salesperson types is a line feed like Return's.
    if (event->matches(QKeySequence::InsertLineSeparator)) {
        QKeyEvent plain(event->type(), event->key(), event->modifiers() & ~Qt::ShiftModifier,
                        event->text(), event->isAutoRepeat(), event->count());
        QPlainTextEdit::keyPressEvent(&plain);
        event->setAccepted(plain.isAccepted());
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void TextBox::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_blink.timerId()) {
        QPlainTextEdit::timerEvent(event);
        return;
    }
    m_caretOn = !m_caretOn;
    repaintCaret();
}

QPlainTextEdit *textBox(const QString &text, double height, TextBoxOptions options,
                        const QString &key)
{
    const bool mono = options.testFlag(TextBoxOption::Mono);
    const bool editable = options.testFlag(TextBoxOption::Editable);
    const bool dark = options.testFlag(TextBoxOption::Dark);
    const QColor background = dark ? DARK : QColor(Qt::white);
    const QColor ink = dark ? DARK_TEXT : INK2;

    auto *box = new TextBox(dark ? DARK_MONO : INK);
    box->setObjectName(key);
    box->setFixedHeight(int(std::lround(height)));
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    if (dark) {
        box->setFrameShape(QFrame::NoFrame);
    } else {
        box->setFrameStyle(QFrame::Box | QFrame::Plain);
        box->setLineWidth(1);
    }

    QPalette pal = box->palette();
    pal.setColor(QPalette::Base, background);
    pal.setColor(QPalette::Window, background);
    pal.setColor(QPalette::Text, ink);
    pal.setColor(QPalette::WindowText, CARD_LINE); // the light scheme's border
    pal.setColor(QPalette::Highlight, withAlpha(ACCENT, 0.35));
    pal.setColor(QPalette::HighlightedText, ink);
    box->setPalette(pal);
    box->setFont(mono ? font(11.5, FontOption::Mono) : font(12.5));

    // Chosen once: making the box editable later keeps the inset.
    box->document()->setDocumentMargin(editable ? 8 : 7);
    box->setReadOnly(!editable);
    setTypable(box, editable);
    box->setUndoRedoEnabled(true);
    box->setPlainText(text);

    if (!key.isEmpty())
        TEXT_VIEWS.insert(key, box);
    return box;
}

} // namespace moxel
