#include "palette.h"
#include "servicerequest.h"
#include "synccontroller.h"
#include "testservice.h"
#include "textbox.h"
#include "textlabel.h"
#include "textviews.h"
#include "translation.h"

#include <QAbstractTextDocumentLayout>
#include <QElapsedTimer>
#include <QInputMethodEvent>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalBlocker>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <QVBoxLayout>

#include <memory>

using namespace Qt::StringLiterals;
using namespace moxel;
using moxel::test::RecordedRequest;
using moxel::test::Reply;
using moxel::test::TestService;

namespace {

const QString Draft = u"d0-text"_s;
const QString Mirror = u"d0-cn"_s;
const QString Editing = u"已编辑 · 同步中…"_s;
const QString Failed = u"翻译失败 —— 可手动改另一侧"_s;
const QString Synced = u"已同步中文"_s;
// The pause before a sync in these tests. The rows that act in the middle of
// one take the real pause, and with it room for a slow machine.
constexpr std::chrono::milliseconds Pause{200};

Reply echo(const RecordedRequest &request)
{
    return Reply::text(u"译:"_s + request.json().value(u"text"_s).toString());
}

// What a render builds for the reply card: the draft, its mirror, the status
// label, both registered and linked.
struct Pair
{
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    QPlainTextEdit *draft = textBox(QString(), 100, TextBoxOption::Mono | TextBoxOption::Editable);
    QPlainTextEdit *mirror = textBox(QString(), 100, TextBoxOption::Editable);
    TextLabel *status = new TextLabel(QString());

    Pair(const QString &draftText, const QString &mirrorText)
    {
        auto *layout = new QVBoxLayout(window.get());
        layout->addWidget(draft);
        layout->addWidget(mirror);
        layout->addWidget(status);
        draft->setPlainText(draftText);
        mirror->setPlainText(mirrorText);
        SYNC().renderStarted();
        clearTextViews();
        TEXT_VIEWS.insert(Draft, draft);
        TEXT_VIEWS.insert(Mirror, mirror);
        SYNC().registerLink(Draft, Mirror, u"zh"_s, u"中文"_s, status);
        SYNC().registerLink(Mirror, Draft, u"pt"_s, u"葡萄牙语"_s, status);
        window->show();
    }
};

QTimer *debounce(const QString &key)
{
    return SYNC().findChild<QTimer *>(u"debounce:"_s + key);
}

bool pending(const QString &key)
{
    const QTimer *timer = debounce(key);
    return timer && timer->isActive();
}

} // namespace

class TestSyncController : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void typingDebouncesToOneRequest();
    void sendsExactText_data();
    void sendsExactText();
    void nothingSent_data();
    void nothingSent();
    void onlyRealEditsAreSent_data();
    void onlyRealEditsAreSent();
    void outcome_data();
    void outcome();
    void ownWriteIsNoEdit();
    void sidesHaveOwnTimers();
    void selection_data();
    void selection();
    void staleAnswerDropped_data();
    void staleAnswerDropped();
    void pendingEditDroppedByRender();
    void registrationRules();
    void stampFormat();
    void quitEndsCleanly_data();
    void quitEndsCleanly();
    void silentServiceTimesOut();

private:
    QStringList linesStartingWith(const QString &prefix) const;
    bool idle() const;
    // Requests the service received during this test.
    QList<RecordedRequest> sent() const { return m_service.requests().mid(m_before); }

    TestService m_service;
    QStringList m_lines;
    std::unique_ptr<Pair> m_pair;
    qsizetype m_before = 0;
};

void TestSyncController::initTestCase()
{
    QVERIFY(m_service.isListening());
    setHttpModuleFile(QStringLiteral(MOXEL_HTTP_MODULE));
    setSyncLineSink([this](const QString &line) { m_lines << line; });
    SYNC().debug = true;
}

void TestSyncController::init()
{
    // Standard error carries only the program's fatal message: no Qt warning,
    // except what the offscreen platform says about this test's own window.
    QTest::failOnWarning(QRegularExpression(u"^(?!This plugin does not support )"_s));
    m_service.setHandler(echo);
    SYNC().setDebounce(Pause);
    SYNC().proxy = m_service.baseUrl();
    SYNC().token.clear();
    m_pair = std::make_unique<Pair>(u"Olá"_s, u"你好"_s);
    QVERIFY(QTest::qWaitForWindowExposed(m_pair->window.get()));
    m_lines.clear();
    m_before = m_service.count();
}

void TestSyncController::cleanup()
{
    for (QTimer *timer : SYNC().findChildren<QTimer *>())
        timer->stop();
    m_pair.reset();
    clearTextViews();
}

void TestSyncController::cleanupTestCase()
{
    setSyncLineSink(nullptr);
}

QStringList TestSyncController::linesStartingWith(const QString &prefix) const
{
    QStringList found;
    for (const QString &line : m_lines) {
        if (line.startsWith(prefix))
            found << line;
    }
    return found;
}

// No debounce pending and no request in flight.
bool TestSyncController::idle() const
{
    return !pending(Draft) && !pending(Mirror) && SYNC().inFlight() == 0;
}

void TestSyncController::typingDebouncesToOneRequest()
{
    SYNC().setDebounce(SyncController::Debounce);
    QPlainTextEdit *draft = m_pair->draft;
    draft->moveCursor(QTextCursor::End);
    const QString typed = u" Duvo"_s;
    for (qsizetype i = 0; i < typed.size(); ++i) {
        QTest::keyClick(draft, typed.at(i).toLatin1());
        QCOMPARE(m_pair->status->text(), Editing);
        QCOMPARE(m_pair->status->color(), INK4);
        QVERIFY(linesStartingWith(u"SYNC: 推送 "_s).isEmpty());
        // Half a second between keystrokes: the whole run outlasts one wait.
        if (i + 1 < typed.size())
            QTRY_VERIFY(debounce(Draft)->remainingTime() <= 600);
    }
    QCOMPARE(linesStartingWith(u"SYNC: 检测到编辑 d0-text"_s).size(), typed.size());
    QTRY_COMPARE_WITH_TIMEOUT(m_pair->status->text(), Synced, 10000);
    QCOMPARE(m_pair->status->color(), OK);
    QCOMPARE(sent().size(), 1);
    QCOMPARE(sent().first().json(), QJsonObject({{u"text"_s, u"Olá Duvo"_s}, {u"to"_s, u"zh"_s}}));
    QCOMPARE(m_pair->mirror->toPlainText(), u"译:Olá Duvo"_s);
    QVERIFY(idle());
}

void TestSyncController::sendsExactText_data()
{
    QTest::addColumn<QString>("edited"); // "draft" or "mirror"
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("sent");

    QTest::newRow("trimmed") << u"mirror"_s << u"\n  你好，\n世界 \t\n"_s << u"你好，\n世界"_s;
    const QString spaces = u"Prix\u00A0: 5\u00A0€\u202F!\u2028Duvo"_s;
    QTest::newRow("no-break spaces and line separator kept") << u"draft"_s << spaces << spaces;
}

void TestSyncController::sendsExactText()
{
    QFETCH(QString, edited);
    QFETCH(QString, text);
    QFETCH(QString, sent);
    const bool mirror = edited == u"mirror";
    QPlainTextEdit *view = mirror ? m_pair->mirror : m_pair->draft;
    view->setReadOnly(false);
    view->setPlainText(text);
    QTRY_COMPARE_WITH_TIMEOUT(this->sent().size(), 1, 10000);
    QCOMPARE(this->sent().first().json(),
             QJsonObject({{u"text"_s, sent}, {u"to"_s, mirror ? u"pt"_s : u"zh"_s}}));
    QTRY_COMPARE(plainText(mirror ? m_pair->draft : m_pair->mirror), u"译:"_s + sent);
    QCOMPARE(m_pair->status->text(), mirror ? u"已同步葡萄牙语"_s : Synced);
}

void TestSyncController::nothingSent_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("proxy");

    QTest::newRow("white space only") << u"  \n\t "_s << u"service"_s;
    QTest::newRow("emptied") << QString() << u"service"_s;
    QTest::newRow("no proxy") << u"Olá Duvo"_s << QString();
}

void TestSyncController::nothingSent()
{
    QFETCH(QString, text);
    QFETCH(QString, proxy);
    SYNC().proxy = proxy.isEmpty() ? QString() : m_service.baseUrl();
    m_pair->draft->setPlainText(text);
    QTRY_COMPARE_WITH_TIMEOUT(linesStartingWith(u"SYNC: 推送 "_s).size(), 1, 10000);
    const QString push = linesStartingWith(u"SYNC: 推送 "_s).first();
    QVERIFY2(push.startsWith(u"SYNC: 推送 d0-text → zh t="_s), qPrintable(push));
    QVERIFY(idle());
    QCOMPARE(sent().size(), 0);
    QCOMPARE(m_pair->status->text(), Editing);
    QCOMPARE(m_pair->mirror->toPlainText(), u"你好"_s);
}

// Steps: "type:TEXT", "backspace", "preedit:TEXT" (an input method composing),
// "commit:TEXT" (it commits, or abandons with nothing), "pause" (the debounce
// runs out and any request is answered).
void TestSyncController::onlyRealEditsAreSent_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("edits"); // "SYNC: 检测到编辑" lines
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QString>("status");

    const auto steps = [](const char *s) { return QString::fromUtf8(s).split(u' '); };
    QTest::newRow("typed and deleted again")
        << steps("type:x backspace pause") << 2 << QStringList() << QString();
    QTest::newRow("composition abandoned")
        << steps("preedit:n preedit:ni commit: pause") << 0 << QStringList() << QString();
    QTest::newRow("pause in a composition, then its commit")
        << steps("preedit:ni pause preedit:nih commit:你 pause") << 1 << QStringList{u"Olá你"_s}
        << Synced;
    QTest::newRow("a sync, then typed and deleted again")
        << steps("type:! pause type:x backspace pause") << 3 << QStringList{u"Olá!"_s} << Synced;
}

void TestSyncController::onlyRealEditsAreSent()
{
    QFETCH(QStringList, steps);
    QFETCH(int, edits);
    QFETCH(QStringList, sent);
    QFETCH(QString, status);
    QPlainTextEdit *draft = m_pair->draft;
    draft->moveCursor(QTextCursor::End);
    for (const QString &step : std::as_const(steps)) {
        const QString text = step.section(u':', 1);
        if (step.startsWith(u"type:")) {
            QTest::keyClicks(draft, text);
        } else if (step == u"backspace") {
            QTest::keyClick(draft, Qt::Key_Backspace);
        } else if (step.startsWith(u"preedit:") || step.startsWith(u"commit:")) {
            QInputMethodEvent event(step.startsWith(u"preedit:") ? text : QString(), {});
            if (step.startsWith(u"commit:"))
                event.setCommitString(text);
            QCoreApplication::sendEvent(draft, &event);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(idle(), 10000);
        }
    }
    QCOMPARE(linesStartingWith(u"SYNC: 检测到编辑 "_s).size(), edits);
    QStringList texts;
    for (const RecordedRequest &r : this->sent())
        texts << r.json().value(u"text"_s).toString();
    QCOMPARE(texts, sent);
    QCOMPARE(m_pair->mirror->toPlainText(), sent.isEmpty() ? u"你好"_s : u"译:"_s + sent.last());
    QCOMPARE(m_pair->status->text(), status);
}

void TestSyncController::outcome_data()
{
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<QString>("mirror");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("arrival"); // the "SYNC: 回填" line after its stamp

    const QString long50 = u"甲乙丙丁戊己庚辛壬癸"_s.repeated(5);
    QTest::newRow("translated") << Reply::text(u"你好，朋友"_s) << u"你好，朋友"_s << Synced
                                << u" -> 你好，朋友"_s;
    QTest::newRow("status 500 with text")
        << Reply::text(u"好"_s, 500) << u"好"_s << Synced << u" -> 好"_s;
    QTest::newRow("46 characters quoted")
        << Reply::text(long50) << long50 << Synced << u" -> "_s + long50.left(46);
    // The mirror gets the text as it came; the diagnostic stays one inert line.
    QTest::newRow("control characters") << Reply::text(u"你\x1b[2J好\a\n"_s) << u"你\x1b[2J好\a\n"_s
                                        << Synced << u" -> 你\\u001b[2J好\\u0007\\u000a"_s;
    QTest::newRow("empty translation")
        << Reply::text(QString()) << u"你好"_s << Failed << u" -> "_s;
    QTest::newRow("no text") << Reply::raw(R"({"error":1})") << u"你好"_s << Failed
                             << u" -> （nil）"_s;
    QTest::newRow("connection reset") << Reply::reset() << u"你好"_s << Failed << u" -> （nil）"_s;
    // Laying out ten megabytes would freeze the window; the mirror keeps its text.
    QTest::newRow("10 MB answer") << Reply::text(QString(10'000'000, u'译')) << u"你好"_s << Failed
                                  << u" -> （nil）"_s;
    const QString run(512 * 1024, u'x');
    QTest::newRow("one unbroken run")
        << Reply::text(run) << run << Synced << u" -> "_s + run.left(46);
}

void TestSyncController::outcome()
{
    QFETCH(Reply, reply);
    QFETCH(QString, mirror);
    QFETCH(QString, status);
    QFETCH(QString, arrival);
    m_service.setReply(reply);
    // Laid out in a mode the box then leaves, a long unbroken run is broken
    // word by word, which takes minutes.
    QList<QTextOption::WrapMode> laidOut;
    QTextDocument *doc = m_pair->mirror->document();
    connect(doc->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
            [&] { laidOut << doc->firstBlock().layout()->textOption().wrapMode(); });
    m_pair->draft->setPlainText(u"Olá, amigo"_s);
    QTRY_COMPARE_WITH_TIMEOUT(linesStartingWith(u"SYNC: 回填 "_s).size(), 1, 10000);
    QCOMPARE(m_pair->mirror->toPlainText(), mirror);
    QVERIFY(status == Failed || !laidOut.isEmpty());
    for (QTextOption::WrapMode mode : std::as_const(laidOut))
        QCOMPARE(mode, m_pair->mirror->wordWrapMode());
    QCOMPARE(m_pair->status->text(), status);
    QCOMPARE(m_pair->status->color(), status == Failed ? ACCENT : OK);
    static const QRegularExpression line(u"^SYNC: 回填 t=\\d+\\.\\ds(.*)$"_s,
                                         QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = line.match(linesStartingWith(u"SYNC: 回填 "_s).first());
    QVERIFY(match.hasMatch());
    QCOMPARE(match.captured(1), arrival);
}

void TestSyncController::ownWriteIsNoEdit()
{
    m_pair->draft->setPlainText(u"Obrigado"_s);
    QTRY_COMPARE_WITH_TIMEOUT(m_pair->status->text(), Synced, 10000);
    QCOMPARE(m_pair->mirror->toPlainText(), u"译:Obrigado"_s);
    QVERIFY(linesStartingWith(u"SYNC: 检测到编辑 d0-cn"_s).isEmpty());
    QVERIFY(!pending(Mirror));
    QCOMPARE(sent().size(), 1);

    // The mirror still reports the salesperson's own edits afterwards.
    m_pair->mirror->setReadOnly(false);
    m_pair->mirror->moveCursor(QTextCursor::End);
    QTest::keyClick(m_pair->mirror, Qt::Key_Exclam);
    QCOMPARE(linesStartingWith(u"SYNC: 检测到编辑 d0-cn"_s).size(), 1);
    QVERIFY(pending(Mirror));
    QCOMPARE(m_pair->status->text(), Editing);
}

void TestSyncController::sidesHaveOwnTimers()
{
    SYNC().setDebounce(SyncController::Debounce);
    m_pair->draft->setPlainText(u"Olá!"_s);
    QTRY_VERIFY(debounce(Draft)->remainingTime() <= 600);
    m_pair->mirror->setPlainText(u"你好！"_s);
    QVERIFY(pending(Draft));
    QVERIFY(pending(Mirror));
    QTRY_COMPARE_WITH_TIMEOUT(linesStartingWith(u"SYNC: 推送 "_s).size(), 2, 10000);
    QVERIFY(linesStartingWith(u"SYNC: 推送 "_s).first().startsWith(u"SYNC: 推送 d0-text"_s));
    QVERIFY(linesStartingWith(u"SYNC: 推送 "_s).last().startsWith(u"SYNC: 推送 d0-cn → pt"_s));
}

void TestSyncController::selection_data()
{
    QTest::addColumn<QString>("translation");
    QTest::addColumn<int>("anchor");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("expectedAnchor"); // -1: where replacing the text put it
    QTest::addColumn<int>("expectedPosition");

    const QString twenty = u"零一二三四五六七八九零一二三四五六七八九"_s;
    QTest::newRow("caret kept") << twenty << 10 << 10 << 10 << 10;
    QTest::newRow("caret beyond shorter text") << u"五个字符。"_s << 10 << 10 << -1 << -1;
    QTest::newRow("caret at new end") << u"五个字符。"_s << 5 << 5 << 5 << 5;
    QTest::newRow("selection kept") << twenty << 2 << 8 << 2 << 8;
    QTest::newRow("backward selection kept") << twenty << 8 << 2 << 8 << 2;
    QTest::newRow("selection end pulled in") << u"短短的译文"_s << 3 << 9 << 3 << 5;
    QTest::newRow("backward selection end pulled in") << u"短短的译文"_s << 9 << 3 << 5 << 3;
    // Positions are UTF-16 units: each of these emoji is two.
    QTest::newRow("UTF-16 units") << u"😀😀😀"_s << 4 << 6 << 4 << 6;
}

void TestSyncController::selection()
{
    QFETCH(QString, translation);
    QFETCH(int, anchor);
    QFETCH(int, position);
    QFETCH(int, expectedAnchor);
    QFETCH(int, expectedPosition);

    {
        // Set up the mirror's old text without it counting as the user's edit,
        // which would race its own request against the draft's.
        const QSignalBlocker quiet(m_pair->mirror);
        m_pair->mirror->setPlainText(u"旧的中文译文一共有十二个字"_s);
    }
    QTextCursor cursor = m_pair->mirror->textCursor();
    cursor.setPosition(anchor);
    cursor.setPosition(position, QTextCursor::KeepAnchor);
    m_pair->mirror->setTextCursor(cursor);

    m_service.setReply(Reply::text(translation));
    m_pair->draft->setPlainText(u"Olá!"_s);
    QTRY_COMPARE_WITH_TIMEOUT(m_pair->status->text(), Synced, 10000);
    QCOMPARE(m_pair->mirror->toPlainText(), translation);

    if (expectedAnchor < 0) {
        QPlainTextEdit plain;
        plain.setPlainText(translation);
        expectedAnchor = plain.textCursor().anchor();
        expectedPosition = plain.textCursor().position();
    }
    QCOMPARE(m_pair->mirror->textCursor().anchor(), expectedAnchor);
    QCOMPARE(m_pair->mirror->textCursor().position(), expectedPosition);
}

void TestSyncController::staleAnswerDropped_data()
{
    QTest::addColumn<QString>("between");
    QTest::addColumn<bool>("failure");

    QTest::newRow("newer request, old answer last") << u"newer"_s << false;
    QTest::newRow("newer request, old failure last") << u"newer"_s << true;
    QTest::newRow("render since sending") << u"render"_s << false;
    QTest::newRow("render since sending, failure") << u"render"_s << true;
    QTest::newRow("peer edited since sending") << u"peer"_s << false;
    QTest::newRow("peer edited since sending, failure") << u"peer"_s << true;
}

void TestSyncController::staleAnswerDropped()
{
    QFETCH(QString, between);
    QFETCH(bool, failure);
    m_service.setReply(Reply::hold());
    QSignalSpy received(&m_service, &TestService::requestReceived);

    m_pair->draft->setPlainText(u"primeiro"_s);
    QVERIFY(received.wait(10000));
    const qsizetype first = received.takeFirst().at(0).value<qsizetype>();

    QString mirror;
    QString status;
    if (between == u"newer") {
        m_pair->draft->setPlainText(u"segundo"_s);
        QVERIFY(received.wait(10000));
        const qsizetype second = received.takeFirst().at(0).value<qsizetype>();
        QVERIFY(m_service.respond(second, Reply::text(u"第二"_s)));
        QTRY_COMPARE(m_pair->mirror->toPlainText(), u"第二"_s);
        mirror = u"第二"_s;
        status = Synced;
    } else if (between == u"render") {
        m_pair = std::make_unique<Pair>(u"novo"_s, u"新的"_s);
        mirror = u"新的"_s;
        status = QString();
    } else {
        m_pair->mirror->setPlainText(u"我自己改的"_s);
        mirror = u"我自己改的"_s;
        status = Editing;
        for (QTimer *timer : SYNC().findChildren<QTimer *>())
            timer->stop();
    }

    m_lines.clear();
    QVERIFY(m_service.respond(first, failure ? Reply::raw("oops") : Reply::text(u"第一"_s)));
    QTRY_COMPARE(linesStartingWith(u"SYNC: 回填 "_s).size(), 1);
    QCOMPARE(m_lines.last(), u"SYNC: 丢弃过期回填 d0-text"_s);
    QCOMPARE(m_pair->mirror->toPlainText(), mirror);
    QCOMPARE(m_pair->status->text(), status);
}

void TestSyncController::pendingEditDroppedByRender()
{
    // The draft edit belonged to the content the new payload's render threw away.
    SYNC().setDebounce(SyncController::Debounce);
    m_pair->draft->setPlainText(u"Olá, editado"_s);
    QTRY_VERIFY(debounce(Draft)->remainingTime() <= 700);
    m_pair = std::make_unique<Pair>(u"Segundo rascunho"_s, u"第二（上游给的中文）"_s);

    // Its push comes 1.1 s after the render, well after the old pause would have ended.
    m_pair->mirror->setReadOnly(false);
    m_pair->mirror->setPlainText(u"第二（上游给的中文）。"_s);
    QTRY_COMPARE_WITH_TIMEOUT(linesStartingWith(u"SYNC: 推送 d0-cn"_s).size(), 1, 10000);
    QVERIFY(linesStartingWith(u"SYNC: 推送 d0-text"_s).isEmpty());
    QTRY_COMPARE(sent().size(), 1);
    QCOMPARE(sent().first().json().value(u"to"_s), u"pt"_s);
}

void TestSyncController::registrationRules()
{
    // Registering again replaces the link but does not listen twice.
    SYNC().registerLink(Draft, Mirror, u"zh"_s, u"中文"_s, m_pair->status);
    m_pair->draft->setPlainText(u"uma vez"_s);
    QCOMPARE(linesStartingWith(u"SYNC: 检测到编辑 "_s), QStringList{u"SYNC: 检测到编辑 d0-text"_s});

    // A registered view the controller never linked is not observed.
    QPlainTextEdit stranger;
    TEXT_VIEWS.insert(u"other"_s, &stranger);
    stranger.setPlainText(u"x"_s);
    QCOMPARE(m_lines.size(), 1);

    // An observed view that left the registry is reported as unknown.
    TEXT_VIEWS.remove(Draft);
    m_pair->draft->setPlainText(u"fora"_s);
    QCOMPARE(m_lines.last(), u"SYNC: 改动来源不在登记表里"_s);

    // Observed and registered under a key without a link: noticed, timed,
    // but the status stays and the push ends at once.
    TEXT_VIEWS.insert(u"unlinked"_s, m_pair->draft);
    m_pair->status->setText(u"before"_s);
    m_pair->draft->setPlainText(u"sem link"_s);
    QCOMPARE(m_lines.last(), u"SYNC: 检测到编辑 unlinked"_s);
    QCOMPARE(m_pair->status->text(), u"before"_s);
    QVERIFY(pending(u"unlinked"_s));
    QTRY_VERIFY_WITH_TIMEOUT(!pending(u"unlinked"_s), 10000);
    QVERIFY(linesStartingWith(u"SYNC: 推送 "_s).isEmpty());
    QCOMPARE(sent().size(), 0);

    // Without debug mode the controller is silent.
    SYNC().debug = false;
    TEXT_VIEWS.remove(u"unlinked"_s); // one key per view, or the lookup order decides
    TEXT_VIEWS.insert(Draft, m_pair->draft);
    m_lines.clear();
    m_pair->draft->setPlainText(u"quieto"_s);
    SYNC().debug = true;
    QVERIFY(m_lines.isEmpty());
    QCOMPARE(m_pair->status->text(), Editing);
}

void TestSyncController::silentServiceTimesOut()
{
    // A service that accepts and never answers: the status keeps saying the
    // sync is under way, the window keeps working, and the transfer timeout
    // ends it as a failure with the mirror untouched.
    setRequestTimeouts(std::chrono::milliseconds(1500), RequestDeadline);
    const auto restore = qScopeGuard([] { setRequestTimeouts(TransferTimeout, RequestDeadline); });
    m_service.setReply(Reply::never());
    const QString mirror = m_pair->mirror->toPlainText();
    m_pair->draft->setPlainText(u"Olá, tudo bem?"_s);
    QTRY_COMPARE_WITH_TIMEOUT(sent().size(), 1, 10000);
    QElapsedTimer waited;
    waited.start();
    QCOMPARE(m_pair->status->text(), Editing);
    QTRY_COMPARE_WITH_TIMEOUT(m_pair->status->text(), Failed, 20000);
    QVERIFY2(waited.elapsed() > 1000, "gave up before the transfer timeout");
    QCOMPARE(m_pair->mirror->toPlainText(), mirror);
}

void TestSyncController::stampFormat()
{
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QString stamp = SyncController::stamp();
    QLocale::setDefault(before);
    QVERIFY2(QRegularExpression(u"^\\d+\\.\\ds$"_s).match(stamp).hasMatch(), qPrintable(stamp));
}

void TestSyncController::quitEndsCleanly_data()
{
    QTest::addColumn<QString>("moment");
    QTest::newRow("debounce pending") << u"pending"_s;
    QTest::newRow("request in flight") << u"inflight"_s;
}

void TestSyncController::quitEndsCleanly()
{
    QFETCH(QString, moment);
    QProcess helper;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    // Qt complains on stderr about a runtime folder that others may read.
    QTemporaryDir runtime;
    QVERIFY(runtime.isValid());
    env.insert(u"XDG_RUNTIME_DIR"_s, runtime.path());
    helper.setProcessEnvironment(env);
    QSignalSpy finished(&helper, &QProcess::finished);
    helper.start(QStringLiteral(SYNC_QUIT_HELPER), {moment});
    QVERIFY(helper.waitForStarted());
    QVERIFY(finished.wait(30000));
    const QByteArray errors = helper.readAllStandardError();
    QVERIFY2(errors.isEmpty(), errors.constData());
    QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
    QCOMPARE(helper.exitCode(), 0);
    QCOMPARE(helper.readAllStandardOutput(), QByteArray("quitting\n"));
}

QTEST_MAIN(TestSyncController)
#include "tst_synccontroller.moc"
