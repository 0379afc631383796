#include "factories.h"
#include "keyboard.h"
#include "palette.h"
#include "textbox.h"
#include "textviews.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QPointer>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QVBoxLayout>

#include <memory>

using namespace moxel;

namespace {

constexpr TextBoxOptions Draft =
    TextBoxOption::Mono | TextBoxOption::Editable | TextBoxOption::Dark;
constexpr TextBoxOptions EditableMono = TextBoxOption::Mono | TextBoxOption::Editable;

// A table row's columns as the box's options.
TextBoxOptions optionsOf(bool mono, bool editable, bool dark)
{
    return TextBoxOptions()
        .setFlag(TextBoxOption::Mono, mono)
        .setFlag(TextBoxOption::Editable, editable)
        .setFlag(TextBoxOption::Dark, dark);
}

} // namespace

class TestTextBox : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void scheme_data();
    void scheme();
    void registry();
    void insetSurvivesEditability();
    void initialTextIsNotAnEdit();
    void textRoundTrip_data();
    void textRoundTrip();
    void wrapMode_data();
    void wrapMode();
    void hugeUnbrokenDraftShows();
    void editsSwitchWrapMode();
    void typedLineBreaksAreLineFeeds();
    void caret_data();
    void caret();
    void border_data();
    void border();
    void textSetWhileHidden_data();
    void textSetWhileHidden();

private:
    // Shows `box` in a window of its own, laid out at the width of the sidebar.
    QWidget *host(QPlainTextEdit *box);
    std::unique_ptr<QWidget> m_window;
};

QWidget *TestTextBox::host(QPlainTextEdit *box)
{
    m_window = std::make_unique<QWidget>();
    auto *layout = new QVBoxLayout(m_window.get());
    layout->addWidget(box);
    m_window->resize(380, 300);
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window.get()))
        return nullptr;
    return m_window.get();
}

void TestTextBox::init()
{
    clearTextViews();
}

void TestTextBox::cleanup()
{
    m_window.reset();
    clearTextViews();
    QApplication::setCursorFlashTime(1000);
}

void TestTextBox::scheme_data()
{
    QTest::addColumn<double>("height");
    QTest::addColumn<bool>("mono");
    QTest::addColumn<bool>("editable");
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("dark");
    QTest::addColumn<QColor>("background");
    QTest::addColumn<QColor>("ink");
    QTest::addColumn<QColor>("caret");

    const QColor white(Qt::white);
    QTest::newRow("draft") << 112.0 << true << true << QStringLiteral("d0-text") << true << DARK
                           << DARK_TEXT << DARK_MONO;
    QTest::newRow("chinese") << 70.0 << false << false << QStringLiteral("d0-cn") << false << white
                             << INK2 << INK;
    QTest::newRow("conversation") << 190.0 << false << false << QString() << false << white << INK2
                                  << INK;
    QTest::newRow("fractional height rounds")
        << 96.4 << true << false << QStringLiteral("k") << false << white << INK2 << INK;
}

void TestTextBox::scheme()
{
    QFETCH(double, height);
    QFETCH(bool, mono);
    QFETCH(bool, editable);
    QFETCH(QString, key);
    QFETCH(bool, dark);
    QFETCH(QColor, background);
    QFETCH(QColor, ink);
    QFETCH(QColor, caret);

    std::unique_ptr<QPlainTextEdit> box(
        textBox(QStringLiteral("Olá"), height, optionsOf(mono, editable, dark), key));
    QCOMPARE(box->minimumHeight(), qRound(height));
    QCOMPARE(box->maximumHeight(), qRound(height));
    QCOMPARE(box->objectName(), key);
    QCOMPARE(box->isReadOnly(), !editable);
    QVERIFY(box->textInteractionFlags() & Qt::TextSelectableByMouse);
    QCOMPARE(box->document()->documentMargin(), editable ? 8.0 : 7.0);
    QVERIFY(box->isUndoRedoEnabled());
    QCOMPARE(box->font(), (mono ? moxel::font(11.5, FontOption::Mono) : moxel::font(12.5)));
    QCOMPARE(box->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);

    const QPalette pal = box->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        QCOMPARE(pal.color(group, QPalette::Base), background);
        QCOMPARE(pal.color(group, QPalette::Text), ink);
        QCOMPARE(pal.color(group, QPalette::HighlightedText), ink);
        const QColor selection = pal.color(group, QPalette::Highlight);
        QCOMPARE(selection.rgb(), ACCENT.rgb());
        QCOMPARE(qRound(selection.alphaF() * 100), 35);
    }
    auto *textBoxView = qobject_cast<TextBox *>(box.get());
    QVERIFY(textBoxView);
    QCOMPARE(textBoxView->caretColor(), caret);
}

void TestTextBox::registry()
{
    std::unique_ptr<QPlainTextEdit> unnamed(textBox(QStringLiteral("a"), 100));
    QVERIFY(TEXT_VIEWS.isEmpty());

    std::unique_ptr<QPlainTextEdit> first(
        textBox(QStringLiteral("a"), 100, EditableMono, QStringLiteral("d0-text")));
    QCOMPARE(textView(QStringLiteral("d0-text")), first.get());
    std::unique_ptr<QPlainTextEdit> second(
        textBox(QStringLiteral("b"), 100, EditableMono, QStringLiteral("d0-text")));
    QCOMPARE(TEXT_VIEWS.size(), 1);
    QCOMPARE(textView(QStringLiteral("d0-text")), second.get());

    // The registry does not keep a deleted view reachable.
    second.reset();
    QCOMPARE(textView(QStringLiteral("d0-text")), nullptr);
}

void TestTextBox::insetSurvivesEditability()
{
    for (bool editable : {true, false}) {
        std::unique_ptr<QPlainTextEdit> box(
            textBox(QStringLiteral("x"), 100, optionsOf(false, editable, false)));
        const double inset = box->document()->documentMargin();
        box->setReadOnly(editable);
        QCOMPARE(box->document()->documentMargin(), inset);
        box->setReadOnly(!editable);
        QCOMPARE(box->document()->documentMargin(), inset);
        // A write that replaces the whole text (a translation) keeps it too.
        box->setPlainText(QStringLiteral("y"));
        QCOMPARE(box->document()->documentMargin(), inset);
    }
}

void TestTextBox::initialTextIsNotAnEdit()
{
    std::unique_ptr<QPlainTextEdit> box(
        textBox(QStringLiteral("Obrigado!"), 100, Draft, QStringLiteral("d0-text")));
    // Undo right after creation must not wipe the draft.
    QVERIFY(!box->document()->isUndoAvailable());
    QVERIFY(!box->document()->isModified());
    box->undo();
    QCOMPARE(box->toPlainText(), QStringLiteral("Obrigado!"));

    // The user's own typing is undoable.
    box->moveCursor(QTextCursor::End);
    box->insertPlainText(QStringLiteral("!!"));
    QVERIFY(box->document()->isUndoAvailable());
    box->undo();
    QCOMPARE(box->toPlainText(), QStringLiteral("Obrigado!"));
}

void TestTextBox::textRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("copied");

    const auto same = [](const QString &s) { return std::make_pair(s, s); };
    const std::pair<const char *, std::pair<QString, QString>> rows[] = {
        {"empty", same(QString())},
        {"lines", same(QStringLiteral("a\nb\n\nc\n"))},
        {"CR LF becomes LF", {QStringLiteral("a\r\nb"), QStringLiteral("a\nb")}},
        {"no-break spaces kept", same(QStringLiteral("Merci\u00A0! 10\u202F000\u00A0€"))},
        {"line separator kept", same(QStringLiteral("Olá\u2028Duvo\n"))},
        {"markup stays literal", same(QStringLiteral("<b>x</b> <img src=\"a\"> &amp; <a href=x>"))},
        {"emoji and combining", same(QStringLiteral("👨‍👩‍👧‍👦 e\u0301 🇨🇳"))},
        {"right to left", same(QStringLiteral("שלום עולם مرحبا"))},
        {"NUL", same(QStringLiteral("a") + QChar(0) + QStringLiteral("b"))},
        {"lone surrogates", same(QString(QChar(0xD800)) + u'x' + QChar(0xDC00))},
    };
    for (const auto &[name, texts] : rows)
        QTest::newRow(name) << texts.first << texts.second;
}

void TestTextBox::textRoundTrip()
{
    QFETCH(QString, text);
    QFETCH(QString, copied);
    std::unique_ptr<QPlainTextEdit> box(textBox(text, 100, EditableMono));
    QVERIFY(host(box.release()));
    auto *shown = m_window->findChild<QPlainTextEdit *>();
    QCOMPARE(plainText(shown), copied);
    QCOMPARE(shown->document()->toPlainText().size(), copied.size());
}

void TestTextBox::wrapMode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("anywhere");

    QTest::newRow("words") << QStringLiteral("Olá, tudo bem? ").repeated(500) << false;
    QTest::newRow("1000 unbroken") << QString(1000, u'x') << false;
    QTest::newRow("1001 unbroken") << QString(1001, u'x') << true;
    QTest::newRow("long run after words")
        << QStringLiteral("Olá ").repeated(300) + QString(5000, u'y') << true;
    QTest::newRow("long CJK text breaks between ideographs")
        << QStringLiteral("中文翻译").repeated(2000) << false;
}

void TestTextBox::wrapMode()
{
    QFETCH(QString, text);
    QFETCH(bool, anywhere);
    std::unique_ptr<QPlainTextEdit> box(textBox(text, 100));
    QCOMPARE(box->wordWrapMode() == QTextOption::WrapAnywhere, anywhere);
    if (!anywhere)
        QCOMPARE(box->wordWrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);

    // Set on screen, the text is laid out only in the mode the box keeps:
    // broken word by word, a long run takes minutes.
    QPlainTextEdit *shown = textBox(QStringLiteral("Olá"), 100);
    QVERIFY(host(shown));
    QList<QTextOption::WrapMode> laidOut;
    QTextDocument *doc = shown->document();
    connect(doc->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
            [&] { laidOut << doc->firstBlock().layout()->textOption().wrapMode(); });
    shown->setPlainText(text);
    QVERIFY(!laidOut.isEmpty());
    for (QTextOption::WrapMode mode : std::as_const(laidOut))
        QCOMPARE(mode, box->wordWrapMode());
}

void TestTextBox::hugeUnbrokenDraftShows()
{
    // Word-boundary wrapping of this would take minutes and hit the timeout.
    const QString draft(2 * 1024 * 1024, u'x');
    QPlainTextEdit *box = textBox(draft, 220, Draft, QStringLiteral("d0-text"));
    QVERIFY(host(box));
    QCOMPARE(box->wordWrapMode(), QTextOption::WrapAnywhere);
    QTRY_VERIFY(box->document()->firstBlock().layout()->lineCount() > 1);
    QVERIFY(box->verticalScrollBar()->maximum() > 0);
}

void TestTextBox::editsSwitchWrapMode()
{
    const QString half(600, u'x');
    QPlainTextEdit *box = textBox(half + u' ' + half, 150, EditableMono);
    QVERIFY(host(box));
    QCOMPARE(box->wordWrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);

    // Deleting the one space joins two short runs into a long one.
    QTextCursor cursor = box->textCursor();
    cursor.setPosition(600);
    cursor.deleteChar();
    QCOMPARE(box->wordWrapMode(), QTextOption::WrapAnywhere);

    // Back to words once the run is gone and the text is small.
    box->selectAll();
    QTest::keyClicks(box, QStringLiteral("short words"));
    QCOMPARE(box->wordWrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);

    // A pasted megabyte at the end of a draft.
    box->moveCursor(QTextCursor::End);
    box->insertPlainText(QString(1024 * 1024, u'z'));
    QCOMPARE(box->wordWrapMode(), QTextOption::WrapAnywhere);
    QTRY_VERIFY(box->document()->firstBlock().layout()->lineCount() > 1);

    // A whole-text write (as a translation arrives) is checked in full.
    box->setPlainText(QStringLiteral("tudo bem ").repeated(5000));
    QCOMPARE(box->wordWrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);
}

void TestTextBox::typedLineBreaksAreLineFeeds()
{
    QPlainTextEdit *box = textBox(QString(), 150, EditableMono);
    QVERIFY(host(box));
    QTest::keyClicks(box, QStringLiteral("a"));
    QTest::keyClick(box, Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(box, QStringLiteral("b"));
    QTest::keyClick(box, Qt::Key_Return);
    QTest::keyClicks(box, QStringLiteral("c"));
    QCOMPARE(plainText(box), QStringLiteral("a\nb\nc"));
}

void TestTextBox::caret_data()
{
    QTest::addColumn<bool>("dark");
    QTest::addColumn<bool>("editable");
    QTest::addColumn<QColor>("expected");

    QTest::newRow("dark editable") << true << true << DARK_MONO;
    QTest::newRow("light editable") << false << true << INK;
    QTest::newRow("read-only shows none") << false << false << QColor(Qt::white);
}

void TestTextBox::caret()
{
    QFETCH(bool, dark);
    QFETCH(bool, editable);
    QFETCH(QColor, expected);

    QApplication::setCursorFlashTime(0); // a steady caret
    // Some room before the first glyph, where only the caret can be.
    QPlainTextEdit *box = textBox(QStringLiteral("   "), 100, optionsOf(true, editable, dark));
    QVERIFY(host(box));
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    box->setFocus();
    QTRY_VERIFY(box->hasFocus());
    box->moveCursor(QTextCursor::End);
    QCOMPARE(pressTypesInto(box->viewport()), editable ? box : nullptr); // it takes the keyboard
    QVERIFY(!pressTypesInto(box->verticalScrollBar()));

    const QRect at = box->cursorRect();
    const QPoint probe(at.left(), at.center().y());
    QTRY_COMPARE(box->viewport()->grab().toImage().pixelColor(probe).rgb(), expected.rgb());
}

void TestTextBox::border_data()
{
    QTest::addColumn<bool>("dark");
    QTest::addColumn<QColor>("edge");

    QTest::newRow("dark: no border") << true << DARK;
    QTest::newRow("light: line border") << false << CARD_LINE;
}

void TestTextBox::border()
{
    QFETCH(bool, dark);
    QFETCH(QColor, edge);
    QPlainTextEdit *box = textBox(QString(), 100, optionsOf(true, false, dark));
    QVERIFY(host(box));
    const QImage image = box->grab().toImage();
    QCOMPARE(image.pixelColor(0, image.height() / 2).rgb(), edge.rgb());
    QCOMPARE(image.pixelColor(image.width() / 2, image.height() - 1).rgb(), edge.rgb());
}

void TestTextBox::textSetWhileHidden_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("rewritten");

    const QString cn =
        QStringLiteral("您好！抱歉让您久等了。Matte #12 口红 5000 支的价格是每支 1.25 美元。");
    QTest::newRow("one paragraph") << cn << false;
    QTest::newRow("rewritten while hidden, as a sync answer is") << cn << true;
    QTest::newRow("paragraphs past the bottom")
        << QStringList(12, cn).join(u'\n') + QStringLiteral("\n\n末行") << true;
}

void TestTextBox::textSetWhileHidden()
{
    // A box in a closed section gets its text, and maybe a new one, before
    // anyone sees it; opened, it must look like a box that had the text on
    // screen, scroll bar included.
    QFETCH(QString, text);
    QFETCH(bool, rewritten);

    QPlainTextEdit *shown = textBox(QString(), 120, TextBoxOptions());
    QVERIFY(host(shown));
    const QImage empty = shown->grab().toImage();
    shown->setPlainText(text);
    QTest::qWait(50);
    const QImage expected = shown->grab().toImage();
    QVERIFY(expected != empty);
    m_window.reset();

    QPlainTextEdit *box =
        textBox(rewritten ? QStringLiteral("旧的译文") : text, 120, TextBoxOptions());
    if (rewritten)
        box->setPlainText(text);
    QCOMPARE(box->toPlainText(), text);
    QVERIFY(host(box));
    QTRY_VERIFY(box->grab().toImage() == expected);
}

QTEST_MAIN(TestTextBox)
#include "tst_textbox.moc"
