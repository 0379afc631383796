#include "textlabel.h"
#include "textrules.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QTextBoundaryFinder>
#include <QTextDocument>
#include <QTextLayout>
#include <QToolTip>

#include <cmath>

namespace moxel {

namespace {

constexpr QChar LineSeparator{0x2028};
constexpr QChar Ellipsis{0x2026};

// Screen readers and automation read the whole text, not the elided lines.
class TextLabelAccessible final : public QAccessibleWidget
{
public:
    explicit TextLabelAccessible(TextLabel *label)
        : QAccessibleWidget(label, QAccessible::StaticText)
    {}
    QString text(QAccessible::Text t) const override
    {
        auto *label = static_cast<TextLabel *>(widget());
        if (t == QAccessible::Name)
            return label->accessibleName().isEmpty() ? label->text() : label->accessibleName();
        if (t == QAccessible::Value)
            return label->text();
        if (t == QAccessible::Description && label->accessibleDescription().isEmpty() &&
            label->mode() == TextLabel::Mode::OneLine && label->isElided())
            return label->text();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface *accessibleFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("moxel::TextLabel") && object && object->isWidgetType())
        return new TextLabelAccessible(static_cast<TextLabel *>(object));
    return nullptr;
}

// The layout sees line breaks as line separators. A CR LF pair keeps its two
// positions (the CR becomes a zero-width space) so that positions in the
// layout are positions in the text.
QString displayText(const QString &text)
{
    QString out = text.left(TextLabel::DisplayCap);
    const qsizetype n = out.size();
    QChar *d = out.data();
    for (qsizetype i = 0; i < n; ++i) {
        if (d[i] == u'\r')
            d[i] = (i + 1 < n && d[i + 1] == u'\n') ? QChar(0x200B) : LineSeparator;
        else if (d[i] == u'\n' || d[i] == QChar(QChar::ParagraphSeparator))
            d[i] = LineSeparator;
    }
    if (text.size() > TextLabel::DisplayCap)
        out.append(Ellipsis);
    return out;
}

// The start of the user-perceived character at `pos`, found from a window
// around it rather than from the whole text.
qsizetype graphemeStart(const QString &text, qsizetype pos)
{
    const qsizetype from = qMax<qsizetype>(0, pos - 64);
    QTextBoundaryFinder finder(
        QTextBoundaryFinder::Grapheme,
        QStringView(text).mid(from, qMin<qsizetype>(text.size(), pos + 64) - from));
    finder.setPosition(pos - from);
    if (finder.isAtBoundary())
        return pos;
    return from + qMax<qsizetype>(0, finder.toPreviousBoundary());
}

// The most UTF-16 units one line `width` pixels wide can show, with room to
// spare: no glyph is narrower than half a pixel. What lies beyond need not be
// shaped to lay out or cut that line.
qsizetype lineCapacity(int width)
{
    return qsizetype(width) * 2 + 64;
}

// What QFontMetricsF::elidedText returns for the whole text, from shaping a
// prefix of about `guess` units: once the cut falls well inside a prefix, the
// characters after it cannot move it. U+009C is an ordinary character here,
// not Qt's separator of text variants.
QString elideRight(const QFontMetricsF &fm, const QString &text, int width, qsizetype guess)
{
    constexpr qsizetype Margin = 32;
    for (qsizetype n = qMax(guess, 2 * Margin); n < text.size(); n *= 2) {
        const QString head = text.left(graphemeStart(text, n));
        QString shown = fm.elidedText(head, Qt::ElideRight, width, Qt::TextLongestVariant);
        if (shown.size() + Margin <= head.size())
            return shown;
    }
    return fm.elidedText(text, Qt::ElideRight, width, Qt::TextLongestVariant);
}

} // namespace

struct TextLabel::Laid
{
    int width = -1;
    QTextLayout layout;
    int lines = 0;     // lines drawn by `layout`
    QString elided;    // the last line, when it is cut with an ellipsis
    qreal elidedY = 0; // its top
    int height = 0;
};

TextLabel::TextLabel(const QString &text, Mode mode, QWidget *parent)
    : QWidget(parent), m_color(palette().color(QPalette::WindowText)), m_mode(mode)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(accessibleFactory);
        return true;
    }();
    Q_UNUSED(factoryInstalled)
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(mode == Mode::Wrap);
    if (mode == Mode::OneLine)
        policy.setVerticalPolicy(QSizePolicy::Fixed);
    setSizePolicy(policy);
    setText(text);
}

TextLabel::~TextLabel() = default;

void TextLabel::setText(const QString &text)
{
    if (text == m_text && !m_display.isNull())
        return;
    m_text = text;
    m_display = displayText(text);
    m_breakAnywhere = hasLongUnbrokenRun(m_display);
    m_anchor = m_cursor = -1;
    invalidate();
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
    m_announcedCut.reset();
    announceCut();
}

// A screen reader keeps the description it was told: it hears when the
// line starts or stops being cut, with the window's width or a new text.
void TextLabel::announceCut()
{
    if (m_mode != Mode::OneLine || !QAccessible::isActive())
        return;
    const bool cut = isElided();
    if (m_announcedCut == cut)
        return;
    m_announcedCut = cut;
    QAccessibleEvent event(this, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&event);
}

void TextLabel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    announceCut();
}

void TextLabel::setColor(const QColor &color)
{
    if (color == m_color)
        return;
    m_color = color;
    update();
}

void TextLabel::setMaxLines(int lines)
{
    m_maxLines = qMax(0, lines);
    invalidate();
}

void TextLabel::setSelectable(bool on)
{
    m_selectable = on;
    // Selected with the mouse, copied with the menu or Tab and Ctrl+C: a click
    // leaves the keyboard where the salesperson is typing.
    setFocusPolicy(on ? Qt::TabFocus : Qt::NoFocus);
    setCursor(on ? Qt::IBeamCursor : Qt::ArrowCursor);
    if (!on)
        m_anchor = m_cursor = -1;
    update();
}

void TextLabel::invalidate()
{
    m_laid.reset();
    m_previous.reset();
    m_lineHeight = -1;
    m_hint = QSize();
    updateGeometry();
    update();
}

const TextLabel::Laid &TextLabel::laidOut(int width) const
{
    width = qMax(1, width);
    if (m_laid && m_laid->width == width)
        return *m_laid;
    if (m_previous && m_previous->width == width) {
        std::swap(m_laid, m_previous);
        return *m_laid;
    }
    m_previous = std::move(m_laid);
    auto laid = std::make_unique<Laid>();
    laid->width = width;
    const QFontMetricsF fm(font());
    if (m_mode == Mode::OneLine) {
        // Eliding shapes the whole string, so it gets only what the line can show.
        const qsizetype keep = lineCapacity(width);
        const bool cut = m_display.size() > keep;
        QString flat = cut ? m_display.left(keep) : m_display;
        flat.replace(LineSeparator, u' ');
        if (cut)
            flat.append(Ellipsis);
        QString shown = elideRight(fm, flat, width, width / 2 + 32);
        laid->layout.setText(shown);
        laid->layout.setFont(font());
        QTextOption option;
        option.setWrapMode(QTextOption::NoWrap);
        laid->layout.setTextOption(option);
        laid->layout.setCacheEnabled(true); // painting draws these glyphs
        laid->layout.beginLayout();
        QTextLine line = laid->layout.createLine();
        line.setLineWidth(width);
        line.setPosition(QPointF(0, 0));
        laid->layout.endLayout();
        laid->lines = 1;
        laid->height = qMax(oneLineHeight(), int(std::ceil(line.height())));
        laid->elided = shown != flat || cut ? shown : QString();
        m_laid = std::move(laid);
        return *m_laid;
    }

    // With a line limit only what those lines can hold is shaped: a long
    // analysis would otherwise be shaped whole at every width only to be cut
    // after three lines.
    const qsizetype perLine = lineCapacity(width);
    const bool capped = m_maxLines > 0 && m_display.size() > m_maxLines * perLine;
    laid->layout.setText(capped ? m_display.left(graphemeStart(m_display, m_maxLines * perLine))
                                : m_display);
    laid->layout.setFont(font());
    QTextOption option;
    option.setWrapMode(m_breakAnywhere ? QTextOption::WrapAnywhere
                                       : QTextOption::WrapAtWordBoundaryOrAnywhere);
    laid->layout.setTextOption(option);
    laid->layout.setCacheEnabled(true);
    laid->layout.beginLayout();
    qreal y = 0;
    int count = 0;
    bool more = false;
    for (;;) {
        QTextLine line = laid->layout.createLine();
        if (!line.isValid())
            break;
        if (m_maxLines > 0 && count == m_maxLines) {
            // Laid out to its own width, or ending the layout would lay out
            // all the rest of the text as one line.
            line.setLineWidth(width);
            more = true;
            break;
        }
        line.setLineWidth(width);
        line.setPosition(QPointF(0, y));
        y += line.height();
        ++count;
    }
    laid->layout.endLayout();
    laid->lines = count;
    if ((more || capped) && count > 0) {
        // The last visible line shows what is left, cut with an ellipsis.
        const QTextLine last = laid->layout.lineAt(count - 1);
        QString rest = m_display.mid(last.textStart(), perLine);
        rest.replace(LineSeparator, u' ');
        rest.append(Ellipsis);
        laid->elided = elideRight(fm, rest, width, last.textLength() + 64);
        laid->elidedY = last.y();
        laid->lines = count - 1;
    }
    laid->height = int(std::ceil(y));
    if (count == 0)
        laid->height = int(std::ceil(fm.height()));
    m_laid = std::move(laid);
    return *m_laid;
}

int TextLabel::heightForWidth(int width) const
{
    if (m_mode == Mode::OneLine)
        return sizeHint().height();
    return laidOut(width).height;
}

int TextLabel::oneLineHeight() const
{
    // Glyphs from a fallback font (CJK next to a Latin primary font) make a
    // line taller than the primary font's metrics say; measure a laid-out line.
    if (m_lineHeight >= 0)
        return m_lineHeight;
    QString sample = m_display.left(256);
    sample.replace(LineSeparator, u' ');
    QTextLayout layout(sample.isEmpty() ? QStringLiteral(" ") : sample, font());
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(1e6);
    layout.endLayout();
    m_lineHeight = int(std::ceil(qMax(line.height(), QFontMetricsF(font()).height())));
    return m_lineHeight;
}

QSize TextLabel::sizeHint() const
{
    if (m_hint.isValid())
        return m_hint;
    const QFontMetricsF fm(font());
    // The natural width of the longest line, bounded: the surrounding layout
    // gives the label its real width and the label wraps inside it.
    int natural = 0;
    auto lines = QStringView(m_display).left(4096).split(LineSeparator);
    // Lines past a line limit are never shown, unwrapped or not.
    if (m_mode == Mode::Wrap && m_maxLines > 0 && lines.size() > m_maxLines)
        lines.resize(m_maxLines);
    for (const QStringView line : std::as_const(lines))
        natural = qMax(natural, int(std::ceil(fm.horizontalAdvance(line.toString()))));
    natural = qMin(natural + 1, 2000);
    if (m_mode == Mode::OneLine)
        m_hint = QSize(natural, oneLineHeight());
    else
        m_hint = QSize(natural, heightForWidth(qMax(1, natural)));
    return m_hint;
}

QSize TextLabel::minimumSizeHint() const
{
    return QSize(0, m_mode == Mode::OneLine ? oneLineHeight() : 0);
}

QStringList TextLabel::visibleLines() const
{
    const Laid &laid = laidOut(width());
    QStringList out;
    for (int i = 0; i < laid.lines; ++i) {
        const QTextLine line = laid.layout.lineAt(i);
        QString s = laid.layout.text().mid(line.textStart(), line.textLength());
        s.remove(LineSeparator);
        s.remove(QChar(0x200B));
        out.append(s);
    }
    if (!laid.elided.isEmpty()) {
        if (m_mode == Mode::OneLine)
            out = QStringList{laid.elided};
        else
            out.append(laid.elided);
    }
    return out;
}

bool TextLabel::isElided() const
{
    return !laidOut(width()).elided.isEmpty();
}

QString TextLabel::selectedText() const
{
    if (m_anchor < 0 || m_cursor < 0 || m_anchor == m_cursor)
        return {};
    const int from = qMin(m_anchor, m_cursor);
    const int to = qMax(m_anchor, m_cursor);
    return m_text.mid(from, to - from);
}

void TextLabel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setPen(m_color);
    p.setFont(font());
    const Laid &laid = laidOut(width());
    QList<QTextLayout::FormatRange> selections;
    const bool selectionInLayout = m_mode == Mode::Wrap;
    if (selectionInLayout && m_anchor >= 0 && m_cursor >= 0 && m_anchor != m_cursor) {
        QTextLayout::FormatRange range;
        range.start = qMin(m_anchor, m_cursor);
        range.length = qAbs(m_cursor - m_anchor);
        range.format.setBackground(palette().brush(QPalette::Highlight));
        range.format.setForeground(palette().brush(QPalette::HighlightedText));
        selections.append(range);
    }
    for (int i = 0; i < laid.lines; ++i)
        laid.layout.lineAt(i).draw(&p, QPointF(0, 0));
    if (!selections.isEmpty()) {
        // Draw the selection over the plain lines, one visible line at a time.
        for (int i = 0; i < laid.lines; ++i) {
            const QTextLine line = laid.layout.lineAt(i);
            const int start = qMax(selections[0].start, line.textStart());
            const int end = qMin(selections[0].start + selections[0].length,
                                 line.textStart() + line.textLength());
            if (start >= end)
                continue;
            const qreal x1 = line.cursorToX(start);
            const qreal x2 = line.cursorToX(end);
            const QRectF r(qMin(x1, x2), line.y(), qAbs(x2 - x1), line.height());
            p.fillRect(r, palette().brush(QPalette::Highlight));
            p.save();
            p.setClipRect(r);
            p.setPen(palette().color(QPalette::HighlightedText));
            line.draw(&p, QPointF(0, 0));
            p.restore();
        }
    }
    if (!laid.elided.isEmpty() && m_mode == Mode::Wrap) {
        const QFontMetricsF fm(font());
        p.drawText(QPointF(0, laid.elidedY + fm.ascent()), laid.elided);
    }
}

bool TextLabel::event(QEvent *event)
{
    if (event->type() != QEvent::ToolTip || m_mode != Mode::OneLine || !toolTip().isEmpty())
        return QWidget::event(event);
    if (!isElided()) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    // Escaped into rich text, since a tooltip takes anything that looks like
    // markup for markup; a tooltip of a screen's worth is enough.
    constexpr qsizetype TipCap = 500;
    QString whole = graphemePrefix(m_text, TipCap);
    if (whole.size() < m_text.size())
        whole += Ellipsis;
    QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(),
                       Qt::convertFromPlainText(whole, Qt::WhiteSpaceNormal), this, rect());
    return true;
}

void TextLabel::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        invalidate();
    QWidget::changeEvent(event);
}

int TextLabel::positionAt(const QPoint &point) const
{
    const Laid &laid = laidOut(width());
    if (m_mode != Mode::Wrap || laid.lines == 0)
        return -1;
    for (int i = 0; i < laid.lines; ++i) {
        const QTextLine line = laid.layout.lineAt(i);
        if (point.y() < line.y() + line.height() || i == laid.lines - 1)
            return line.xToCursor(point.x());
    }
    return -1;
}

void TextLabel::mousePressEvent(QMouseEvent *event)
{
    if (!m_selectable || event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_anchor = m_cursor = positionAt(event->position().toPoint());
    update();
}

void TextLabel::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_selectable || !(event->buttons() & Qt::LeftButton) || m_anchor < 0) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    m_cursor = positionAt(event->position().toPoint());
    update();
}

void TextLabel::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_selectable && event->button() == Qt::LeftButton && !selectedText().isEmpty()) {
        if (QClipboard *cb = QGuiApplication::clipboard(); cb && cb->supportsSelection())
            cb->setText(selectedText(), QClipboard::Selection);
    }
    QWidget::mouseReleaseEvent(event);
}

void TextLabel::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (!m_selectable) {
        QWidget::mouseDoubleClickEvent(event);
        return;
    }
    const int pos = positionAt(event->position().toPoint());
    if (pos < 0)
        return;
    const Laid &laid = laidOut(width());
    const QTextLayout &layout = laid.layout;
    m_anchor = layout.previousCursorPosition(pos + 1, QTextLayout::SkipWords);
    m_cursor = layout.nextCursorPosition(pos, QTextLayout::SkipWords);
    update();
}

void TextLabel::keyPressEvent(QKeyEvent *event)
{
    if (m_selectable && event->matches(QKeySequence::Copy)) {
        copySelection();
        return;
    }
    if (m_selectable && event->matches(QKeySequence::SelectAll)) {
        m_anchor = 0;
        m_cursor = int(qMin(m_text.size(), DisplayCap));
        update();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TextLabel::contextMenuEvent(QContextMenuEvent *event)
{
    if (!m_selectable) {
        QWidget::contextMenuEvent(event);
        return;
    }
    QMenu menu(this);
    QAction *copy = menu.addAction(tr("Copy"));
    copy->setEnabled(!selectedText().isEmpty());
    QAction *all = menu.addAction(tr("Select All"));
    QAction *chosen = menu.exec(event->globalPos());
    if (chosen == copy) {
        copySelection();
    } else if (chosen == all) {
        m_anchor = 0;
        m_cursor = int(qMin(m_text.size(), DisplayCap));
        update();
    }
}

void TextLabel::copySelection() const
{
    const QString s = selectedText();
    if (!s.isEmpty())
        QGuiApplication::clipboard()->setText(s, QClipboard::Clipboard);
}

} // namespace moxel
