#include "factories.h"
#include "textlabel.h"
#include "textrules.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QTest>
#include <QTextLayout>

using namespace moxel;
using namespace Qt::StringLiterals;

namespace {

// The lines a label with `maxLines` (0: one line) draws for `text`, from laying
// out and eliding all of it, as a label that shapes only what it shows must.
QStringList wholeTextLines(QString text, const QFont &font, int width, int maxLines)
{
    const auto elided = [&](const QString &rest) {
        QString flat = rest;
        flat.replace(u'\n', u' ').replace(QChar(0x2028), u' ');
        return QFontMetricsF(font).elidedText(flat, Qt::ElideRight, width, Qt::TextLongestVariant);
    };
    if (maxLines == 0)
        return {elided(text)};
    QTextLayout layout(text.replace(u'\n', QChar(0x2028)), font);
    QTextOption option(Qt::AlignLeft);
    option.setWrapMode(hasLongUnbrokenRun(text) ? QTextOption::WrapAnywhere
                                                : QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QStringList lines;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (lines.size() == maxLines) {
            lines.last() = elided(text.mid(layout.lineAt(maxLines - 1).textStart()) + u'…');
            break;
        }
        lines.append(text.mid(line.textStart(), line.textLength()).remove(QChar(0x2028)));
    }
    layout.endLayout();
    return lines;
}

} // namespace

class TestTextLabel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void markupIsShownLiterally()
    {
        const QString hostile = u"<b>x</b><img src=\"file:///dev/zero\"> &amp; &Save"_s;
        TextLabel label(hostile);
        label.resize(2000, label.heightForWidth(2000));
        QCOMPARE(label.text(), hostile);
        QCOMPARE(label.visibleLines(), QStringList{hostile});
    }

    void lineBreaks_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("LF") << u"a\nb"_s << QStringList{u"a"_s, u"b"_s};
        QTest::newRow("CR LF is one break") << u"a\r\nb"_s << QStringList{u"a"_s, u"b"_s};
        QTest::newRow("empty line") << u"a\n\nb"_s << QStringList{u"a"_s, QString(), u"b"_s};
    }
    void lineBreaks()
    {
        QFETCH(QString, text);
        TextLabel label(text);
        label.resize(500, label.heightForWidth(500));
        QTEST(label.visibleLines(), "lines");
    }

    void wrapsToTheWidth()
    {
        const QString text = QString(u"word "_s).repeated(200);
        TextLabel label(text);
        const int narrow = label.heightForWidth(150);
        const int wide = label.heightForWidth(600);
        QVERIFY(narrow > wide);
        label.resize(150, narrow);
        QCOMPARE(label.visibleLines().join(QString()).remove(u' '), QString(text).remove(u' '));
        label.setText(u"short"_s);
        QCOMPARE(label.heightForWidth(150), QFontMetrics(label.font()).height());
    }

    // A layout asks one label for its natural size and for its height at the
    // given width in turn; the answers at either width must be those of a
    // label that was only ever asked at that width, before and after a change.
    void alternatingWidthsAnswerAsFreshLabels()
    {
        const QString text = QString(u"客户询问 5000 支口红的批发价格 "_s).repeated(12);
        const auto fresh = [](const QString &t, int width, int maxLines, double size) {
            TextLabel label(t);
            label.setFont(font(size));
            label.setMaxLines(maxLines);
            label.resize(width, label.heightForWidth(width));
            return std::pair{label.heightForWidth(width), label.visibleLines()};
        };
        TextLabel label(text);
        label.setFont(font(10.5));
        const auto check = [&label](const std::pair<int, QStringList> &expected, int width) {
            label.resize(width, expected.first);
            QCOMPARE(label.heightForWidth(width), expected.first);
            QCOMPARE(label.visibleLines(), expected.second);
        };
        for (int round = 0; round < 3; ++round) {
            check(fresh(text, 180, 0, 10.5), 180);
            check(fresh(text, 420, 0, 10.5), 420);
        }
        label.setMaxLines(2);
        check(fresh(text, 420, 2, 10.5), 420);
        check(fresh(text, 180, 2, 10.5), 180);
        label.setText(u"short"_s);
        check(fresh(u"short"_s, 420, 2, 10.5), 420);
        check(fresh(u"short"_s, 180, 2, 10.5), 180);
        label.setText(text);
        label.heightForWidth(180);
        label.heightForWidth(420);
        label.setFont(font(14));
        check(fresh(text, 180, 2, 14), 180);
        check(fresh(text, 420, 2, 14), 420);

        TextLabel one(text, TextLabel::Mode::OneLine);
        one.resize(180, one.sizeHint().height());
        const QStringList narrow = one.visibleLines();
        one.resize(4000, one.sizeHint().height());
        QVERIFY(!one.isElided());
        one.resize(180, one.sizeHint().height());
        QCOMPARE(one.visibleLines(), narrow);
        QVERIFY(one.isElided());
    }

    // One-line labels skip eliding text they know fits; right at the edge
    // they must cut exactly where the font metrics cut.
    void oneLineCutsWhereTheMetricsCut_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("latin") << u"4 轮 · 已等 5 分钟 · 5000 pcs · Brazil"_s;
        QTest::newRow("chinese") << u"复制后自行发送"_s;
        QTest::newRow("trailing space") << u"order SO-20241208-017 "_s;
        QTest::newRow("one character") << u"x"_s;
    }
    void oneLineCutsWhereTheMetricsCut()
    {
        QFETCH(QString, text);
        TextLabel label(text, TextLabel::Mode::OneLine);
        label.setFont(font(11));
        const QFontMetricsF fm(label.font());
        const int natural = label.sizeHint().width();
        for (int width = natural - 4; width <= natural + 2; ++width) {
            label.resize(width, label.sizeHint().height());
            const QString expected = fm.elidedText(text, Qt::ElideRight, width);
            QCOMPARE(label.visibleLines(), QStringList{expected});
            QCOMPARE(label.isElided(), expected != text);
        }
    }

    void lineLimitElidesTheLastLine()
    {
        TextLabel label(QString(u"analysis "_s).repeated(100));
        label.setMaxLines(3);
        label.resize(200, label.heightForWidth(200));
        const QStringList lines = label.visibleLines();
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.last().endsWith(QChar(0x2026)));
        QVERIFY(label.isElided());

        TextLabel shortLabel(u"one short line"_s);
        shortLabel.setMaxLines(3);
        shortLabel.resize(400, shortLabel.heightForWidth(400));
        QCOMPARE(shortLabel.visibleLines(), QStringList{u"one short line"_s});
        QVERIFY(!shortLabel.isElided());
        // Limited to three lines, a label is never taller than three lines.
        QVERIFY(label.heightForWidth(200) <= 3 * QFontMetrics(label.font()).lineSpacing() + 3);
    }

    // A label shapes only the part of a long text it can show, yet cuts it
    // exactly where eliding the whole text would.
    void longTextIsCutAsIfShapedWhole_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("maxLines");
        const QString analysis =
            u"客户询问 5000 支口红的批发价格和到巴西的运费，已等待 90 分钟。命中批发询价规则。"_s;
        const QList<std::pair<const char *, QString>> texts{
            {"long analysis", analysis.repeated(40)},
            {"paragraphs", (analysis + u'\n').repeated(30)},
            {"unbroken word", QString(6000, u'x')},
            {"emoji with modifiers", u"👍🏽👨‍👩‍👧"_s.repeated(800)},
            {"combining marks", u"e\u0301"_s.repeated(3000)},
            {"right to left", u"مرحبا بالعالم 123 "_s.repeated(200)},
            {"U+009C is a character", u"abc\u009c"_s + u"order SO-20241208-017 "_s.repeated(200)}};
        for (const auto &[name, text] : texts) {
            QTest::addRow("%s, one line", name) << text << 0;
            QTest::addRow("%s, three lines", name) << text << 3;
        }
    }
    void longTextIsCutAsIfShapedWhole()
    {
        QFETCH(QString, text);
        QFETCH(int, maxLines);
        TextLabel label(text, maxLines == 0 ? TextLabel::Mode::OneLine : TextLabel::Mode::Wrap);
        label.setFont(font(10.5));
        label.setMaxLines(maxLines);
        for (const int width : {37, 150, 352, 1200}) {
            label.resize(width, label.heightForWidth(width));
            const QStringList lines = label.visibleLines();
            QCOMPARE(lines, wholeTextLines(text, label.font(), width, maxLines));
            QVERIFY(label.isElided());
            QVERIFY(lines.last().endsWith(QChar(0x2026)));
        }
        QCOMPARE(label.text(), text);
    }

    void oneLineElides()
    {
        TextLabel label(u"3 轮 · 已等 1.5 小时 · 500 / 1000 pcs · Brazil · SO-2024"_s,
                        TextLabel::Mode::OneLine);
        label.resize(80, label.sizeHint().height());
        QCOMPARE(label.visibleLines().size(), 1);
        QVERIFY(label.visibleLines().constFirst().endsWith(QChar(0x2026)));
        QVERIFY(label.isElided());
        label.resize(2000, label.sizeHint().height());
        QVERIFY(!label.isElided());
        QVERIFY(!label.hasHeightForWidth());
    }

    void oneLineIsTallEnoughForFallbackGlyphs()
    {
        // Chinese glyphs come from a fallback font taller than the primary one;
        // a one-line label must not clip them.
        const QString text = u"3 轮 · 已等 1.5 小时 · 500 / 1000 pcs"_s;
        TextLabel one(text, TextLabel::Mode::OneLine);
        TextLabel wrap(text);
        QCOMPARE(one.sizeHint().height(), wrap.heightForWidth(2000));
    }

    void hugeUnbrokenWordWraps()
    {
        // A megabyte without a break opportunity: Qt's word wrap would take
        // minutes; the label breaks it anywhere (the test's time limit is the check).
        const QString word(1 << 20, u'x');
        TextLabel label(word);
        const int h = label.heightForWidth(300);
        QVERIFY(h > 100 * QFontMetrics(label.font()).height());
        label.resize(300, qMin(h, 2000));
        label.show();
        QVERIFY(QTest::qWaitForWindowExposed(&label));
        QCOMPARE(label.text().size(), word.size());
        label.setMaxLines(3);
        QCOMPARE(label.visibleLines().size(), 3);
    }

    void displayIsCappedTextIsNot()
    {
        const QString text = QString(u"abc "_s).repeated(60000);
        TextLabel label(text, TextLabel::Mode::OneLine);
        label.resize(300, 20);
        QCOMPARE(label.text(), text);
        QVERIFY(label.isElided());
    }

    void accessibilityReadsTheWholeText_data()
    {
        QTest::addColumn<int>("maxLines");
        QTest::newRow("one line") << 0;
        QTest::newRow("three lines") << 3;
    }
    void accessibilityReadsTheWholeText()
    {
        QFETCH(int, maxLines);
        const QString text = QString(u"full text "_s).repeated(5000);
        TextLabel label(text, maxLines == 0 ? TextLabel::Mode::OneLine : TextLabel::Mode::Wrap);
        label.setMaxLines(maxLines);
        label.resize(100, 60);
        label.show();
        QVERIFY(QTest::qWaitForWindowExposed(&label));
        QVERIFY(label.isElided());
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(&label);
        QVERIFY(iface);
        QCOMPARE(iface->role(), QAccessible::StaticText);
        QCOMPARE(iface->text(QAccessible::Name), text);
    }

    void selectAndCopy()
    {
        std::unique_ptr<TextLabel> label(wrapLabel(u"copy me please"_s));
        label->resize(400, label->heightForWidth(400));
        label->show();
        QVERIFY(QTest::qWaitForWindowExposed(label.get()));
        const int y = label->height() / 2;
        QTest::mousePress(label.get(), Qt::LeftButton, {}, QPoint(0, y));
        QTest::mouseMove(label.get(), QPoint(label->width() - 1, y));
        QTest::mouseRelease(label.get(), Qt::LeftButton, {}, QPoint(label->width() - 1, y));
        QCOMPARE(label->selectedText(), u"copy me please"_s);
        label->setFocus();
        QTest::keySequence(label.get(), QKeySequence::Copy);
        QCOMPARE(QGuiApplication::clipboard()->text(), u"copy me please"_s);

        TextLabel fixed(u"not selectable"_s);
        fixed.resize(400, 30);
        QTest::mousePress(&fixed, Qt::LeftButton, {}, QPoint(0, 10));
        QTest::mouseRelease(&fixed, Qt::LeftButton, {}, QPoint(200, 10));
        QCOMPARE(fixed.selectedText(), QString());
    }

    void oddCharactersDoNotBreakLayout()
    {
        const QString odd =
            QString(u"a\0b"_s) + QChar(0xD800) + u"\u202Eabc 👨‍👩‍👧 e\u0301 שלום"_s;
        TextLabel label(odd);
        label.setMaxLines(3);
        label.resize(60, label.heightForWidth(60));
        QVERIFY(!label.visibleLines().isEmpty());
        QCOMPARE(label.text(), odd);
    }
};

QTEST_MAIN(TestTextLabel)
#include "tst_textlabel.moc"
