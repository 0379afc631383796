#pragma once

#include "palette.h"
#include "textlabel.h"

#include <QByteArray>
#include <QFlags>
#include <QFont>
#include <QMargins>
#include <QPushButton>
#include <QWidget>

#include <functional>

class QBoxLayout;

namespace moxel {

enum class FontOption { Bold = 0x1, Mono = 0x2 };
Q_DECLARE_FLAGS(FontOptions, FontOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(FontOptions)

// The system font at `size` points; Mono wins over Bold and is regular weight.
QFont font(double size, FontOptions options = {});

// Makes Han text fall back to a Simplified Chinese face whatever the desktop's
// language, while kana and Hangul keep the faces fontconfig picks for them.
// Call it before any text is laid out: simplifiedChineseHanRules() and then
// addFontconfigRules() with what it returned.
void preferSimplifiedChineseHan();

// The fontconfig rules for that, made for the faces of this system. Making them
// only asks fontconfig questions, so any thread may, also while another one
// uses fontconfig; empty where Qt does not take its fonts from fontconfig.
QByteArray simplifiedChineseHanRules();

// Adds rules to fontconfig's configuration, which nothing else may be using
// meanwhile.
void addFontconfigRules(const QByteArray &rules);

// A selectable, wrapping label with no line limit whose width comes from the
// surrounding layout.
TextLabel *wrapLabel(const QString &text, double size = 12.5, const QColor &color = INK2,
                     FontOptions options = {});

// A one-line label in the regular system font, cut at the tail with an ellipsis
// when its space is short; it gives way to its neighbours.
TextLabel *oneLine(const QString &text, double size = 10.5, const QColor &color = INK2);

// A stack view: a plain widget whose box layout arranges its children along one
// axis with fixed spacing and edge insets. Children appended with `append` keep
// their natural size across the axis and sit at `crossAlignment`.
class Stack final : public QWidget
{
    Q_OBJECT
public:
    Stack(Qt::Orientation orientation, int spacing, Qt::Alignment crossAlignment,
          const QMargins &insets = {}, QWidget *parent = nullptr);

    void append(QWidget *view, int stretchFactor = 0);
    QBoxLayout *box() const { return m_box; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QBoxLayout *m_box;
    Qt::Alignment m_cross;
};

Stack *vstack(int spacing, const QMargins &insets = {});
Stack *hstack(int spacing, Qt::Alignment crossAlignment = Qt::AlignTop);

// Appends `view` to a vertical stack so that it starts at the stack's leading
// content edge and is exactly 2 * insetX narrower than the stack.
void stretch(Stack *stack, QWidget *view, double insetX = 14);

// A small filled rounded rectangle: the accent bar of a card title, the dot of
// a thinking node.
QWidget *swatch(const QColor &color, QSize size, double radius);

// The heading row of a card: an accent bar, then the title in bold INK3.
QWidget *cardTitle(const QString &title);

// The white, bordered, rounded card every section sits in: title row (when the
// title is not empty) above the content, insets 7/10/8/10, spacing 4. A stack
// it is laid on draws its soft shadow.
class Card final : public QWidget
{
    Q_OBJECT
public:
    explicit Card(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

QWidget *card(const QString &title, QWidget *content);

// The body of a collapsible section, built the first time it is shown. Most
// sections are never opened, and an unopened one should cost neither the
// layout of its text nor the font engines of its sizes. Hide it before it is
// first shown; `content()` is null until then.
class LazySection final : public QWidget
{
    Q_OBJECT
public:
    explicit LazySection(std::function<QWidget *()> build, QWidget *parent = nullptr);

    QWidget *content() const { return m_content; }
    void setVisible(bool visible) override;

private:
    std::function<QWidget *()> m_build;
    QWidget *m_content = nullptr;
};

// A push button whose title is drawn in its own colour. The tint is not put
// in the palette: a palette of its own gives every button a new key in the
// style's pixmap cache, and each render would add images to it.
class Button final : public QPushButton
{
    Q_OBJECT
public:
    using QPushButton::QPushButton;

    QColor tint() const { return m_tint; }
    void setTint(const QColor &tint);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_tint;
};

// Buttons. A title is always shown literally: '&' is never a mnemonic.
// Inline: a flat, small button in a 10-point font with a tinted title (section toggles).
QPushButton *inlineButton(const QString &title, const QColor &tint = INK3);
// Rounded: a small push button, optionally tinted (copy, edit).
QPushButton *roundedButton(const QString &title, const QColor &tint = QColor());
// Sets a button's title without letting '&' turn into a mnemonic.
void setButtonTitle(QPushButton *button, const QString &title);

} // namespace moxel
