#include "factories.h"

#include <QApplication>
#include <QBoxLayout>
#include <QFontDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QStyleOptionButton>
#include <QStylePainter>

#ifdef MOXEL_FONTCONFIG
#include <fontconfig/fontconfig.h>
#endif

#include <cmath>
#include <utility>

using namespace Qt::StringLiterals;

namespace moxel {

namespace {

// Sizes are given in points of a 72-dpi design; Qt fonts are sized in points
// of the screen's logical dpi, so a size of s becomes s device-independent pixels.
double pointsToQtPoints(double size)
{
    double dpi = 96.0;
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        dpi = screen->logicalDotsPerInchY();
    if (!(dpi > 0))
        dpi = 96.0;
    return size * 72.0 / dpi;
}

const QColor ShadowColor{38, 50, 110};

#ifdef MOXEL_FONTCONFIG
// The family fontconfig gives a generic name such as sans-serif.
QString matchedFamily(FcConfig *config, const char *generic)
{
    FcPattern *pattern = FcNameParse(reinterpret_cast<const FcChar8 *>(generic));
    if (!pattern)
        return {};
    FcConfigSubstitute(config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern *match = FcFontMatch(config, pattern, &result);
    QString family;
    FcChar8 *name = nullptr;
    if (match && FcPatternGetString(match, FC_FAMILY, 0, &name) == FcResultMatch)
        family = QString::fromUtf8(reinterpret_cast<const char *>(name));
    if (match)
        FcPatternDestroy(match);
    FcPatternDestroy(pattern);
    return family;
}
#endif

class Swatch final : public QWidget
{
public:
    Swatch(const QColor &color, QSize size, double radius) : m_color(color), m_radius(radius)
    {
        setFixedSize(size);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(m_color);
        p.drawRoundedRect(QRectF(rect()), m_radius, m_radius);
    }

private:
    QColor m_color;
    double m_radius;
};

} // namespace

void preferSimplifiedChineseHan()
{
    addFontconfigRules(simplifiedChineseHanRules());
}

QByteArray simplifiedChineseHanRules()
{
#ifdef MOXEL_FONTCONFIG
    FcConfig *config = FcConfigGetCurrent();
    const QString faces = u"<string>Noto Sans CJK SC</string><string>Source Han Sans SC</string>"
                          u"<string>Noto Sans SC</string>"_s;
    // Qt asks fontconfig for Han fallbacks in the desktop's language, where
    // every CJK face ties outside Chinese locales and the Japanese one sorts
    // first. A weakly bound family ranks below the language of a request, so
    // kana and Hangul, asked for as ja and ko, still get their own faces.
    QString rule = u"<fontconfig><match target=\"pattern\"><edit name=\"family\" "
                   u"mode=\"append\" binding=\"weak\">"_s +
                   faces + u"</edit></match>"_s;
    // Right behind the system faces for requests in no CJK language, Han is
    // found in the second face tried rather than after a check of every
    // Latin face before it, which costs about a fifth of a long render.
    QStringList seen;
    for (const char *generic : {"sans-serif", "monospace"}) {
        const QString family = matchedFamily(config, generic);
        if (family.isEmpty() || seen.contains(family))
            continue;
        seen << family;
        rule += u"<match target=\"pattern\"><test name=\"family\"><string>"_s +
                family.toHtmlEscaped() + u"</string></test>"_s;
        for (const char *lang : {"ja", "ko", "zh"})
            rule += u"<test qual=\"all\" name=\"lang\" compare=\"not_contains\"><string>"_s +
                    QLatin1String(lang) + u"</string></test>"_s;
        rule += u"<edit name=\"family\" mode=\"append\" binding=\"weak\">"_s + faces +
                u"</edit></match>"_s;
    }
    rule += u"</fontconfig>"_s;
    return rule.toUtf8();
#else
    return {};
#endif
}

void addFontconfigRules(const QByteArray &rules)
{
#ifdef MOXEL_FONTCONFIG
    if (!rules.isEmpty())
        FcConfigParseAndLoadFromMemory(
            FcConfigGetCurrent(), reinterpret_cast<const FcChar8 *>(rules.constData()), FcFalse);
#else
    Q_UNUSED(rules)
#endif
}

namespace {

// A platform theme may name no fixed-width face and hand over a proportional
// one (qt6ct with no fonts chosen): the draft's code-like text then looks
// like the rest. Asked once, as every label asks for its font.
QFont fixedFace()
{
    static const QFont face = [] {
        QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        if (!QFontInfo(f).fixedPitch()) {
            f.setFamilies({u"monospace"_s});
            f.setStyleHint(QFont::TypeWriter);
        }
        return f;
    }();
    return face;
}

} // namespace

QFont font(double size, FontOptions options)
{
    const bool mono = options.testFlag(FontOption::Mono);
    QFont f = mono ? fixedFace() : QApplication::font();
    f.setPointSizeF(pointsToQtPoints(size));
    f.setWeight(options.testFlag(FontOption::Bold) && !mono ? QFont::Bold : QFont::Normal);
    return f;
}

TextLabel *wrapLabel(const QString &text, double size, const QColor &color, FontOptions options)
{
    auto *label = new TextLabel(text, TextLabel::Mode::Wrap);
    label->setFont(font(size, options));
    label->setColor(color);
    label->setSelectable(true);
    return label;
}

TextLabel *oneLine(const QString &text, double size, const QColor &color)
{
    auto *label = new TextLabel(text, TextLabel::Mode::OneLine);
    label->setFont(font(size));
    label->setColor(color);
    return label;
}

Stack::Stack(Qt::Orientation orientation, int spacing, Qt::Alignment crossAlignment,
             const QMargins &insets, QWidget *parent)
    : QWidget(parent),
      m_box(new QBoxLayout(
          orientation == Qt::Vertical ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight, this)),
      m_cross(crossAlignment)
{
    m_box->setSpacing(spacing);
    m_box->setContentsMargins(insets);
}

void Stack::append(QWidget *view, int stretchFactor)
{
    m_box->addWidget(view, stretchFactor, m_cross);
}

// Cards laid on a stack cast a soft shadow below them (offset 2, blur about 7,
// 10% of the shadow colour), drawn here because a widget cannot paint outside
// its own rectangle.
void Stack::paintEvent(QPaintEvent *)
{
    QPainter p;
    const QList<Card *> cards = findChildren<Card *>(Qt::FindDirectChildrenOnly);
    for (Card *c : cards) {
        if (!c->isVisible())
            continue;
        if (!p.isActive()) {
            p.begin(this);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
        }
        const QRectF r = QRectF(c->geometry()).translated(0, 2);
        constexpr int Steps = 4;
        for (int i = Steps; i >= 1; --i) {
            const double grow = 3.5 * i / Steps;
            QColor color = ShadowColor;
            color.setAlphaF(float(0.1 / Steps));
            p.setBrush(color);
            p.drawRoundedRect(r.adjusted(-grow, -grow + 1, grow, grow), 10 + grow, 10 + grow);
        }
    }
}

Stack *vstack(int spacing, const QMargins &insets)
{
    return new Stack(Qt::Vertical, spacing, Qt::AlignLeft, insets);
}

Stack *hstack(int spacing, Qt::Alignment crossAlignment)
{
    return new Stack(Qt::Horizontal, spacing, crossAlignment);
}

void stretch(Stack *stack, QWidget *view, double insetX)
{
    // The view starts at the stack's leading content edge and is 2 * insetX
    // narrower than the whole stack, so the gap left of the trailing content
    // edge is what the insets do not already take.
    const QMargins m = stack->box()->contentsMargins();
    const int gap = qMax(0, int(std::lround(2 * insetX)) - m.left() - m.right());
    auto *row = new QHBoxLayout;
    row->setSpacing(0);
    row->setContentsMargins(0, 0, gap, 0);
    row->addWidget(view);
    stack->box()->addLayout(row);
}

QWidget *swatch(const QColor &color, QSize size, double radius)
{
    return new Swatch(color, size, radius);
}

QWidget *cardTitle(const QString &title)
{
    Stack *row = hstack(7, Qt::AlignVCenter);
    row->append(swatch(withAlpha(ACCENT, 0.75), QSize(3, 12), 1.5));
    TextLabel *text = oneLine(title, 11.5, INK3);
    text->setFont(font(11.5, FontOption::Bold));
    row->append(text, 1);
    return row;
}

Card::Card(QWidget *parent) : QWidget(parent)
{
    auto *box = new QVBoxLayout(this);
    box->setSpacing(4);
    box->setContentsMargins(10, 7, 10, 8);
}

void Card::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(CARD_LINE, 1));
    p.setBrush(CARD);
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
}

QWidget *card(const QString &title, QWidget *content)
{
    auto *outer = new Card;
    auto *box = static_cast<QVBoxLayout *>(outer->layout());
    if (!title.isEmpty())
        box->addWidget(cardTitle(title));
    box->addWidget(content);
    return outer;
}

LazySection::LazySection(std::function<QWidget *()> build, QWidget *parent)
    : QWidget(parent), m_build(std::move(build))
{
    auto *box = new QVBoxLayout(this);
    box->setSpacing(0);
    box->setContentsMargins(0, 0, 0, 0);
}

void LazySection::setVisible(bool visible)
{
    if (visible && m_build) {
        // Built before it shows, so that it is laid out with this show.
        const auto build = std::exchange(m_build, nullptr);
        m_content = build();
        layout()->addWidget(m_content);
    }
    QWidget::setVisible(visible);
}

void Button::setTint(const QColor &tint)
{
    m_tint = tint;
    update();
}

void Button::paintEvent(QPaintEvent *event)
{
    if (!m_tint.isValid()) {
        QPushButton::paintEvent(event);
        return;
    }
    // What QPushButton paints, with only the label's option tinted: the bevel
    // keeps the inherited palette and so its cached image.
    QStylePainter p(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    p.drawControl(QStyle::CE_PushButtonBevel, option);
    QStyleOptionButton label = option;
    label.rect = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    label.palette.setColor(QPalette::ButtonText, m_tint);
    p.drawControl(QStyle::CE_PushButtonLabel, label);
    if (option.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        focus.rect = style()->subElementRect(QStyle::SE_PushButtonFocusRect, &option, this);
        p.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

void setButtonTitle(QPushButton *button, const QString &title)
{
    QString escaped = title;
    escaped.replace(u'&', QStringLiteral("&&"));
    button->setText(escaped);
    button->setAccessibleName(title);
}

QPushButton *inlineButton(const QString &title, const QColor &tint)
{
    auto *button = new Button;
    setButtonTitle(button, title);
    button->setFlat(true);
    button->setFont(font(10));
    button->setAutoDefault(false);
    button->setFocusPolicy(Qt::TabFocus);
    button->setCursor(Qt::PointingHandCursor);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    button->setTint(tint);
    return button;
}

QPushButton *roundedButton(const QString &title, const QColor &tint)
{
    auto *button = new Button;
    setButtonTitle(button, title);
    button->setFont(font(10));
    button->setAutoDefault(false);
    button->setFocusPolicy(Qt::TabFocus);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    button->setTint(tint);
    return button;
}

} // namespace moxel
