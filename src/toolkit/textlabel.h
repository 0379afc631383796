#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include <memory>
#include <optional>

class QTextLayout;

namespace moxel {

// A plain-text label. It never interprets markup (no rich text, no images, no
// links, no mnemonics), wraps long words anywhere rather than overflowing,
// elides its last visible line when its line count is limited, and lays its
// text out once per width. Its whole text, not the elided one, is what
// accessibility and `text()` report. A one-line label that is cut shows its
// whole text as a tooltip and in its accessible description.
class TextLabel final : public QWidget
{
    Q_OBJECT
public:
    enum class Mode {
        Wrap,   // as many lines as the width needs (up to maxLines)
        OneLine // a single line cut at the tail with an ellipsis
    };

    explicit TextLabel(const QString &text, Mode mode = Mode::Wrap, QWidget *parent = nullptr);
    ~TextLabel() override;
    Q_DISABLE_COPY_MOVE(TextLabel)

    QString text() const { return m_text; }
    void setText(const QString &text);

    QColor color() const { return m_color; }
    void setColor(const QColor &color);

    Mode mode() const { return m_mode; }

    // 0 means no limit. With a limit the last line shown ends in an ellipsis
    // when the text needs more lines.
    int maxLines() const { return m_maxLines; }
    void setMaxLines(int lines);

    // Selectable by mouse and keyboard (copy with the platform shortcut).
    bool isSelectable() const { return m_selectable; }
    void setSelectable(bool on);
    QString selectedText() const;

    // The text as drawn at the current width: every line, the ellipsis included.
    QStringList visibleLines() const;
    // True when the text does not fit and an ellipsis is shown.
    bool isElided() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return m_mode == Mode::Wrap; }
    int heightForWidth(int width) const override;

    // Texts longer than this many UTF-16 units are shown cut, with an
    // ellipsis; no real message comes close, and it bounds layout time.
    static constexpr qsizetype DisplayCap = 100000;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    struct Laid;
    const Laid &laidOut(int width) const;
    void invalidate();
    int positionAt(const QPoint &point) const;
    int oneLineHeight() const;
    void copySelection() const;
    void announceCut();

    QString m_text;
    QString m_display; // what the layout sees: capped, line breaks as separators
    QColor m_color;
    Mode m_mode;
    int m_maxLines = 0;
    bool m_selectable = false;
    std::optional<bool> m_announcedCut; // whether a screen reader was last told it is cut
    bool m_breakAnywhere = false;
    int m_anchor = -1;
    int m_cursor = -1;
    // The layout at the last width asked for and the one before it: a layout
    // measures at the natural width and at the given width in turn, and
    // neither should cost a new layout of the text.
    mutable std::unique_ptr<Laid> m_laid;
    mutable std::unique_ptr<Laid> m_previous;
    mutable QSize m_hint;
    mutable int m_lineHeight = -1;
};

} // namespace moxel
