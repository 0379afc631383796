#include "factories.h"

#include <QAccessible>
#include <QBoxLayout>
#include <QFontDatabase>
#include <QGlyphRun>
#include <QProcess>
#include <QPushButton>
#include <QRawFont>
#include <QTemporaryDir>
#include <QTest>
#include <QTextLayout>

#ifdef MOXEL_FONTCONFIG
#include <fontconfig/fontconfig.h>
#endif

#include <clocale>
#include <cstdio>

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

// The popup's own texts, with the characters whose Japanese forms differ most.
const QString HanSample = u"复制后自行发送，客户这通过返骨直。"_s;

// The sample as a label draws it, cut to the box that holds ink.
QImage hanInk()
{
    std::unique_ptr<TextLabel> label(wrapLabel(HanSample, 16));
    label->resize(label->sizeHint());
    const QImage image = label->grab().toImage();
    const QRgb paper = image.pixel(0, 0);
    QRect ink;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != paper)
                ink |= QRect(x, y, 1, 1);
    return image.copy(ink);
}

// A child process started with --han-ink PATH: writes hanInk() to PATH and
// prints the C library's locale and the language fontconfig defaults to.
int writeHanInk(int argc, char *argv[])
{
    preferSimplifiedChineseHan();
    QApplication app(argc, argv);
    const char *fcLang = "-";
#ifdef MOXEL_FONTCONFIG
    FcStrSet *langs = FcGetDefaultLangs();
    FcStrList *list = FcStrListCreate(langs);
    const FcChar8 *lang = FcStrListNext(list);
    const QByteArray first = lang ? QByteArray(reinterpret_cast<const char *>(lang)) : "-";
    fcLang = first.constData();
#endif
    std::printf("%s %s\n", std::setlocale(LC_CTYPE, nullptr), fcLang);
#ifdef MOXEL_FONTCONFIG
    FcStrListDone(list);
    FcStrSetDestroy(langs);
#endif
    return hanInk().save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}

} // namespace

class TestFactories : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void fonts()
    {
        const QFont mono = font(11.5, FontOption::Bold | FontOption::Mono);
        const QFontMetrics fm(mono);
        QCOMPARE(fm.horizontalAdvance(u'i'), fm.horizontalAdvance(u'W'));
        QCOMPARE(mono.weight(), QFont::Normal); // mono wins over bold
        QCOMPARE(font(11, FontOption::Bold).weight(), QFont::Bold);
        QCOMPARE(font(12.5).weight(), QFont::Normal);
        // A size of s points is s device-independent pixels.
        QCOMPARE(QFontInfo(font(20)).pixelSize(), 20);
    }

    // Fontconfig reads the desktop's language once per process, so each
    // locale draws the sample in a process of its own.
    void hanFormsOnEveryLocale_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::newRow("C") << u"C.UTF-8"_s;
        QTest::newRow("Brazilian Portuguese") << u"pt_BR.UTF-8"_s;
    }

    void hanFormsOnEveryLocale()
    {
        QFETCH(QString, locale);
#ifndef MOXEL_FONTCONFIG
        QSKIP("fonts do not come from fontconfig here");
#endif
        QTemporaryDir dir;
        const auto inkIn = [&dir](const QString &locale, const QString &fcLang) {
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            for (const char *name : {"LANG", "LANGUAGE", "LC_CTYPE", "LC_MESSAGES", "FC_LANG"})
                env.remove(QString::fromLatin1(name));
            env.insert(u"LC_ALL"_s, locale);
            child.setProcessEnvironment(env);
            const QString path = dir.filePath(locale + u".png"_s);
            child.start(QCoreApplication::applicationFilePath(), {u"--han-ink"_s, path});
            if (!child.waitForFinished(60000) || child.exitCode() != 0)
                return QImage();
            // Proof that the child really ran in that locale.
            const QString said = QString::fromLocal8Bit(child.readAllStandardOutput()).trimmed();
            if (said.compare(locale + u' ' + fcLang, Qt::CaseInsensitive) != 0) {
                qWarning("the child in %s says: %s", qPrintable(locale), qPrintable(said));
                return QImage();
            }
            return QImage(path);
        };
        const QImage chinese = inkIn(u"zh_CN.UTF-8"_s, u"zh-cn"_s);
        QVERIFY(!chinese.isNull());
        QVERIFY(chinese.width() > 100);
        const QImage other = inkIn(locale, locale.startsWith(u"pt") ? u"pt"_s : u"en"_s);
        QVERIFY(!other.isNull());
        QCOMPARE(other, chinese);
    }

    // Han takes the Simplified Chinese face; kana, Hangul and Bopomofo keep
    // the faces fontconfig gives them.
    void faceOfEachScript_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("mono");
        QTest::addColumn<QString>("face");
        QTest::newRow("Han") << u"这户骨直"_s << false << u"Noto Sans CJK SC"_s;
        QTest::newRow("Han in Japanese") << u"日本語"_s << false << u"Noto Sans CJK SC"_s;
        QTest::newRow("kana") << u"ありがとう"_s << false << u"Noto Sans CJK JP"_s;
        QTest::newRow("Hangul") << u"안녕하세요"_s << false << u"Noto Sans CJK KR"_s;
        QTest::newRow("Bopomofo") << u"ㄅㄆㄇ"_s << false << u"Noto Sans CJK TC"_s;
        QTest::newRow("Han, monospaced") << u"这户骨直"_s << true << u"Noto Sans CJK SC"_s;
        QTest::newRow("kana, monospaced") << u"ありがとう"_s << true << u"Noto Sans Mono CJK JP"_s;
        QTest::newRow("Hangul, monospaced")
            << u"안녕하세요"_s << true << u"Noto Sans Mono CJK KR"_s;
    }

    void faceOfEachScript()
    {
        QFETCH(QString, text);
        QFETCH(bool, mono);
        QFETCH(QString, face);
        if (!QFontDatabase::families().contains(face))
            QSKIP("the Noto CJK faces are not installed");
        QTextLayout layout(text, font(12.5, mono ? FontOption::Mono : FontOptions()));
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        const QList<QGlyphRun> runs = layout.glyphRuns();
        QCOMPARE(runs.size(), 1);
        QCOMPARE(runs.first().rawFont().familyName(), face);
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

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--han-ink") == 0)
        return writeHanInk(argc, argv);
    preferSimplifiedChineseHan();
    QApplication app(argc, argv);
    QTEST_SET_MAIN_SOURCE_PATH
    TestFactories test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_factories.moc"
