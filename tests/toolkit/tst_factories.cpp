#include "factories.h"

#include <QAccessible>
#include <QBoxLayout>
#include <QPushButton>
#include <QTest>

using namespace moxel;
using namespace Qt::StringLiterals;

namespace {

// Lays `w` out at `width` and returns it for geometry checks.
template<typename W> W *laidOut(W *w, int width)
{
    w->resize(width, w->layout() && w->layout()->hasHeightForWidth()
                         ? w->layout()->totalHeightForWidth(width)
                         : w->sizeHint().height());
    w->show();
    if (w->layout())
        w->layout()->activate();
    return w;
}

} // namespace

class TestFactories : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void fonts()
    {
        const QFont mono = font(11.5, true, true);
        const QFontMetrics fm(mono);
        QCOMPARE(fm.horizontalAdvance(u'i'), fm.horizontalAdvance(u'W'));
        QCOMPARE(mono.weight(), QFont::Normal); // mono wins over bold
        QCOMPARE(font(11, true).weight(), QFont::Bold);
        QCOMPARE(font(12.5).weight(), QFont::Normal);
        // A size of s points is s device-independent pixels.
        QCOMPARE(QFontInfo(font(20)).pixelSize(), 20);
    }

    void labels()
    {
        std::unique_ptr<TextLabel> wrap(wrapLabel(u"text"_s));
        QCOMPARE(wrap->mode(), TextLabel::Mode::Wrap);
        QCOMPARE(wrap->color(), INK2);
        QVERIFY(wrap->isSelectable());
        QCOMPARE(wrap->maxLines(), 0);
        QCOMPARE(QFontInfo(wrap->font()).pixelSize(), QFontInfo(font(12.5)).pixelSize());

        std::unique_ptr<TextLabel> one(oneLine(u"text"_s, 11, INK3));
        QCOMPARE(one->mode(), TextLabel::Mode::OneLine);
        QCOMPARE(one->color(), INK3);
        QVERIFY(!one->isSelectable());
    }

    void stretchInsets()
    {
        // A root column with insets 10/10: a card added with the default inset
        // starts at the leading content edge and is 28 narrower than the column.
        std::unique_ptr<Stack> root(vstack(7, QMargins(10, 8, 10, 10)));
        auto *a = new QWidget;
        auto *b = new QWidget;
        auto *c = new QWidget;
        a->setMinimumHeight(20);
        b->setMinimumHeight(20);
        c->setMinimumHeight(20);
        stretch(root.get(), a);
        stretch(root.get(), b, 0);
        root->append(c);
        laidOut(root.get(), 400);
        QCOMPARE(a->geometry(), QRect(10, 8, 372, a->height()));
        QCOMPARE(b->x(), 10);
        QCOMPARE(b->width(), 380); // never wider than the content area
        QCOMPARE(b->y(), a->y() + a->height() + 7);
        QCOMPARE(c->x(), 10);

        std::unique_ptr<Stack> plain(vstack(4));
        auto *d = new QWidget;
        d->setMinimumHeight(10);
        stretch(plain.get(), d, 0);
        laidOut(plain.get(), 300);
        QCOMPARE(d->geometry().width(), 300);
    }

    void hiddenViewsTakeNoSpace()
    {
        std::unique_ptr<Stack> s(vstack(5));
        auto *a = new QWidget;
        auto *hidden = new QWidget;
        auto *b = new QWidget;
        for (QWidget *w : {a, hidden, b})
            w->setFixedHeight(10);
        stretch(s.get(), a, 0);
        stretch(s.get(), hidden, 0);
        s->append(b);
        hidden->hide();
        laidOut(s.get(), 200);
        QCOMPARE(b->y(), 15);
    }

    void cardGeometry()
    {
        auto *content = new QWidget;
        content->setFixedHeight(30);
        std::unique_ptr<QWidget> plain(card(QString(), content));
        laidOut(plain.get(), 300);
        QCOMPARE(content->geometry(), QRect(10, 7, 280, 30));
        QCOMPARE(plain->height(), 7 + 30 + 8);

        auto *content2 = new QWidget;
        content2->setFixedHeight(30);
        std::unique_ptr<QWidget> titled(card(u"会话"_s, content2));
        laidOut(titled.get(), 300);
        QWidget *title = titled->findChild<Stack *>();
        QVERIFY(title);
        QCOMPARE(title->x(), 10);
        QCOMPARE(title->width(), 280); // as wide as the content
        QCOMPARE(content2->y(), title->y() + title->height() + 4);
        auto *titleText = title->findChild<TextLabel *>();
        QCOMPARE(titleText->text(), u"会话"_s);
        QCOMPARE(titleText->color(), INK3);
        QCOMPARE(titleText->font().weight(), QFont::Bold);
    }

    void cardColours()
    {
        std::unique_ptr<QWidget> c(card(QString(), new QWidget));
        c->resize(200, 60);
        const QImage image = c->grab().toImage();
        QCOMPARE(QColor(image.pixel(100, 30)), CARD);
        QCOMPARE(QColor(image.pixel(100, 0)), CARD_LINE);
        // Rounded corners: the very corner is not painted with the card colour.
        QVERIFY(QColor(image.pixel(0, 0)) != CARD);
    }

    void buttons()
    {
        std::unique_ptr<QPushButton> b(inlineButton(u"Q&A ▸"_s));
        QCOMPARE(b->text(), u"Q&&A ▸"_s); // shown literally, no mnemonic
        QCOMPARE(b->accessibleName(), u"Q&A ▸"_s);
        QVERIFY(b->isFlat());
        QCOMPARE(qobject_cast<Button *>(b.get())->tint(), INK3);
        std::unique_ptr<QPushButton> r(roundedButton(u"复制"_s, ACCENT));
        QVERIFY(!r->isFlat());
        QCOMPARE(qobject_cast<Button *>(r.get())->tint(), ACCENT);
        QCOMPARE(b->focusPolicy(), Qt::TabFocus); // a click does not move the keyboard
    }

    void tintedTitles()
    {
        QWidget parent;
        QPushButton *a = roundedButton(u"复制"_s, ACCENT);
        QPushButton *b = roundedButton(u"复制"_s, ACCENT);
        a->setParent(&parent);
        b->setParent(&parent);
        // Buttons of every render look alike to the style's pixmap cache; a
        // palette of their own would add an image to it at every render.
        QCOMPARE(a->palette().cacheKey(), b->palette().cacheKey());
        a->resize(a->sizeHint());
        const QImage image = a->grab().toImage();
        int tinted = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                tinted += qAbs(c.red() - ACCENT.red()) + qAbs(c.green() - ACCENT.green()) +
                              qAbs(c.blue() - ACCENT.blue()) <
                          90;
            }
        }
        QVERIFY2(tinted > 5, "the title is not drawn in the tint");
    }
};

QTEST_MAIN(TestFactories)
#include "tst_factories.moc"
