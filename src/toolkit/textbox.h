#pragma once

#include <QBasicTimer>
#include <QColor>
#include <QFlags>
#include <QPlainTextEdit>
#include <QRect>
#include <QString>
#include <QTextBlock>

namespace moxel {

// Without options a box is read-only, in the proportional font and the light scheme.
enum class TextBoxOption { Mono = 0x1, Editable = 0x2, Dark = 0x4 };
Q_DECLARE_FLAGS(TextBoxOptions, TextBoxOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TextBoxOptions)

// A fixed-height plain-text box: a QPlainTextEdit (its own scroll area), in the
// dark or the light scheme, registered in TEXT_VIEWS under `key` (also its
// object name) when `key` is not empty. Callers give the box its accessible name.
QPlainTextEdit *textBox(const QString &text, double height,
                        TextBoxOptions options = TextBoxOption::Mono,
                        const QString &key = QString());

// The view `textBox` makes. Qt has no caret colour, so the box draws its own
// caret; it also picks the cheapest wrap mode that keeps long unbroken runs
// from freezing the layout, and keeps picking it as the text changes.
class TextBox final : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit TextBox(const QColor &caret, QWidget *parent = nullptr);
    Q_DISABLE_COPY_MOVE(TextBox)

    QColor caretColor() const { return m_caret; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    class Layout;

    void contentsChanging(int position, int removed, int added);
    void breakAnywhereFor(const QTextBlock &block);
    bool showsCaret() const;
    QRect caretRect() const;
    void restartBlink();
    void repaintCaret();

    Layout *m_layout = nullptr;
    QColor m_caret;
    QBasicTimer m_blink;
    bool m_caretOn = false;
    QRect m_caretRect;
};

} // namespace moxel
