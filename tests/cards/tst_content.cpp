#include "content.h"
#include "factories.h"
#include "synccontroller.h"
#include "targets.h"
#include "textlabel.h"
#include "textviews.h"

#include "cardtest.h"
#include <QBoxLayout>
#include <QJsonArray>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using namespace cardtest;

namespace {

// What a render does: build and show the column.
std::unique_ptr<moxel::Stack> render(const QJsonObject &payload, int width = 400)
{
    std::unique_ptr<moxel::Stack> root(moxel::buildContent(payload).column);
    fit(root.get(), width);
    root->show();
    if (!QTest::qWaitForWindowExposed(root.get()))
        qWarning("window not exposed");
    return root;
}

// The cards of the column, top to bottom.
QList<QWidget *> cards(const moxel::Stack *root)
{
    QList<QWidget *> out;
    QBoxLayout *box = root->box();
    for (int i = 0; i < box->count(); ++i) {
        QLayoutItem *item = box->itemAt(i);
        if (item->layout() && item->layout()->count() > 0)
            item = item->layout()->itemAt(0);
        if (QWidget *w = item->widget())
            out.append(w);
    }
    return out;
}

QStringList cardNames(const moxel::Stack *root)
{
    QStringList names;
    for (const QWidget *card : cards(root))
        names.append(card->objectName());
    return names;
}

QString labelText(const QWidget *root, const QString &name)
{
    const auto *label = root->findChild<moxel::TextLabel *>(name);
    return label ? label->text() : u"<missing>"_s;
}

} // namespace

class TestContent final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup();
    void cardsAndOrder_data();
    void cardsAndOrder();
    void headerValues_data();
    void headerValues();
    void analysisFirstLine_data();
    void analysisFirstLine();
    void replyGetsLanguageNameAsSent_data();
    void replyGetsLanguageNameAsSent();
    void geometry();
    void hugePayloadStillLaysOut();
    void sectionsOpenOnThisPayload_data();
    void sectionsOpenOnThisPayload();
};

void TestContent::cleanup()
{
    moxel::clearRenderRegistries();
}

void TestContent::cardsAndOrder_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QStringList>("names");
    const QString h = u"header-card"_s, s = u"session-card"_s, t = u"thinking-card"_s,
                  r = u"reply-card"_s;
    QTest::newRow("empty payload") << QByteArray("{}") << QStringList{h, r};
    QTest::newRow("session with an unrelated key")
        << QByteArray(R"({"session": {"x": 1}})") << QStringList{h, s, r};
    QTest::newRow("empty session, conversation")
        << QByteArray(R"({"session": {}, "conversation": "hi"})") << QStringList{h, s, r};
    QTest::newRow("session not an object")
        << QByteArray(R"({"session": "x"})") << QStringList{h, r};
    QTest::newRow("session not an object, conversation")
        << QByteArray(R"({"session": [1], "conversation": " "})") << QStringList{h, s, r};
    QTest::newRow("conversation not a string")
        << QByteArray(R"({"conversation": 5})") << QStringList{h, r};
    QTest::newRow("analysis only") << QByteArray(R"({"analysis": "x"})") << QStringList{h, t, r};
    QTest::newRow("analysis not a string")
        << QByteArray(R"({"analysis": ["x"]})") << QStringList{h, r};
    QTest::newRow("everything") << QByteArray(
                                       R"({"intent": "询价", "lang": "de", "lang_name": "德语",
                         "analysis": "【会话】3 轮\n客户询价", "session": {"轮次": 3},
                         "conversation": "Hallo", "draft": "Hallo", "cn": "你好"})")
                                << QStringList{h, s, t, r};
}

void TestContent::cardsAndOrder()
{
    QFETCH(QByteArray, payload);
    QFETCH(QStringList, names);
    const auto root = render(parse(payload));
    QCOMPARE(cardNames(root.get()), names);
    openSections();
    // Whatever the reply card does, the analysis cards never show markup.
    for (QWidget *card : cards(root.get())) {
        if (card->objectName() != u"reply-card"_s)
            QVERIFY(card->findChildren<QLabel *>().isEmpty());
    }
}

void TestContent::headerValues_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("intent");
    QTest::addColumn<QString>("language");
    QTest::newRow("empty payload") << QByteArray("{}") << u"未识别"_s << u"—"_s;
    QTest::newRow("empty strings")
        << QByteArray(R"({"intent": "", "lang_name": ""})") << u"未识别"_s << u"—"_s;
    QTest::newRow("number is not text")
        << QByteArray(R"({"intent": 3, "lang_name": 1})") << u"未识别"_s << u"—"_s;
    QTest::newRow("null") << QByteArray(R"({"intent": null, "lang_name": null})") << u"未识别"_s
                          << u"—"_s;
    QTest::newRow("spaces shown as they are")
        << QByteArray(R"({"intent": " ", "lang_name": "  "})") << u" "_s << u"  "_s;
    QTest::newRow("values") << QByteArray(R"({"intent": "询价 & 议价", "lang_name": "Deutsch"})")
                            << u"询价 & 议价"_s << u"Deutsch"_s;
    QTest::newRow("markup is text")
        << QByteArray(R"({"intent": "<b>x</b>"})") << u"<b>x</b>"_s << u"—"_s;
}

void TestContent::headerValues()
{
    QFETCH(QByteArray, payload);
    QFETCH(QString, intent);
    QFETCH(QString, language);
    const auto root = render(parse(payload));
    QCOMPARE(labelText(root.get(), u"header-intent"_s), intent);
    QCOMPARE(labelText(root.get(), u"header-lang"_s), language);
}

void TestContent::analysisFirstLine_data()
{
    QTest::addColumn<QString>("analysis");
    QTest::addColumn<QString>("shown"); // empty: no thinking card
    QTest::newRow("marker line dropped") << u"【会话】3 轮\n第二行"_s << u"第二行"_s;
    QTest::newRow("no line feed, prefix kept") << u"【会话】全部"_s << u"【会话】全部"_s;
    QTest::newRow("line feed last: no card") << u"【会话】全部\n"_s << QString();
    QTest::newRow("space before marker") << u" 【会话】a\nb"_s << u" 【会话】a\nb"_s;
    QTest::newRow("CR LF only: whole") << u"【会话】a\r\nb"_s << u"【会话】a\r\nb"_s;
    QTest::newRow("no marker") << u"a\nb"_s << u"a\nb"_s;
    QTest::newRow("empty: no card") << QString() << QString();
}

void TestContent::analysisFirstLine()
{
    QFETCH(QString, analysis);
    QFETCH(QString, shown);
    const auto root = render(QJsonObject{{u"analysis"_s, analysis}});
    QCOMPARE(cardNames(root.get()).contains(u"thinking-card"_s), !shown.isEmpty());
    if (!shown.isEmpty()) {
        QCOMPARE(labelText(root.get(), u"thinking-summary"_s), shown);
        openSections();
        QCOMPARE(labelText(root.get(), u"thinking-full"_s), shown);
    }
}

void TestContent::replyGetsLanguageNameAsSent_data()
{
    QTest::addColumn<QString>("langName");
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("peerLabel");
    QTest::newRow("empty") << QString() << u"—"_s << u"客户语种"_s;
    QTest::newRow("named") << u"德语"_s << u"德语"_s << u"德语"_s;
}

void TestContent::replyGetsLanguageNameAsSent()
{
    QFETCH(QString, langName);
    QFETCH(QString, header);
    QFETCH(QString, peerLabel);
    const QJsonObject payload{{u"draft"_s, u"Hallo"_s},
                              {u"cn"_s, u"你好"_s},
                              {u"lang"_s, u"de"_s},
                              {u"lang_name"_s, langName}};
    const auto root = render(payload);
    QCOMPARE(labelText(root.get(), u"header-lang"_s), header);
    const auto links = moxel::SYNC().links();
    QVERIFY(links.contains(u"d0-cn"_s));
    QCOMPARE(links.value(u"d0-cn"_s).peerLabel, peerLabel);
    QCOMPARE(links.value(u"d0-cn"_s).to, u"de"_s);
}

void TestContent::geometry()
{
    const QJsonObject payload{
        {u"intent"_s, u"客户想要五百个杯子的阶梯报价，并询问是否可以在下个月之前发货到德国汉堡"_s},
        {u"lang_name"_s, u"德语"_s},
        {u"analysis"_s, u"x"_s},
        {u"conversation"_s, u"hi"_s},
        {u"draft"_s, u"Hallo"_s}};
    const auto root = render(payload, 400);
    const QList<QWidget *> list = cards(root.get());
    QCOMPARE(list.size(), 4);
    QTRY_COMPARE(list.first()->width(), 400 - 28);
    int previousBottom = -1;
    for (QWidget *card : list) {
        QCOMPARE(card->x(), 10);
        QCOMPARE(card->width(), 400 - 28);
        QCOMPARE(card->y(), previousBottom < 0 ? 8 : previousBottom + 1 + 7);
        previousBottom = card->geometry().bottom();
    }

    // Label column 28 wide, value 8 to its right up to the card's inner edge;
    // the long intent wraps there instead of widening anything.
    auto *value = root->findChild<moxel::TextLabel *>(u"header-intent"_s);
    QWidget *row = value->parentWidget();
    const auto captions = row->findChildren<moxel::TextLabel *>(Qt::FindDirectChildrenOnly);
    QCOMPARE(captions.first()->text(), u"意图"_s);
    QCOMPARE(captions.first()->width(), 28);
    QCOMPARE(value->x(), 28 + 8);
    QCOMPARE(value->mapTo(list.first(), QPoint(value->width(), 0)).x(), 400 - 28 - 10);
    QVERIFY(value->visibleLines().size() > 1);
    QVERIFY(!value->isElided());
    QVERIFY(value->height() >= value->heightForWidth(value->width()));
    auto *language = root->findChild<moxel::TextLabel *>(u"header-lang"_s);
    QCOMPARE(language->parentWidget()->y(), row->geometry().bottom() + 1 + 3);
}

void TestContent::hugePayloadStillLaysOut()
{
    const QString huge(2 * 1024 * 1024, u'x');
    QJsonObject payload;
    for (const QString &key : {u"intent"_s, u"lang_name"_s, u"analysis"_s, u"status"_s,
                               u"template"_s, u"draft"_s, u"cn"_s})
        payload.insert(key, huge);
    payload.insert(u"conversation"_s, QString(100000, u'字'));
    payload.insert(u"session"_s, QJsonObject{{u"提到国家"_s, QJsonArray{huge}}});
    payload.insert(u"warnings"_s, QJsonArray{huge, huge, huge});
    const auto root = render(payload, 400);
    QCOMPARE(cardNames(root.get()).size(), 4);
    auto *intent = root->findChild<moxel::TextLabel *>(u"header-intent"_s);
    QTRY_VERIFY(intent->width() > 0);
    QVERIFY(intent->mapTo(root.get(), QPoint(intent->width(), 0)).x() <= 400);
}

void TestContent::sectionsOpenOnThisPayload_data()
{
    QTest::addColumn<bool>("openFirst");
    QTest::newRow("first render left closed") << false;
    QTest::newRow("first render opened") << true;
}

// Built when opened, a section still shows its own render's payload.
void TestContent::sectionsOpenOnThisPayload()
{
    QFETCH(bool, openFirst);
    const auto payload = [](const QString &tag) {
        return QJsonObject{{u"conversation"_s, tag + u" 会话"_s},
                           {u"analysis"_s, tag + u" 分析"_s}};
    };
    std::unique_ptr<moxel::Stack> first = render(payload(u"A"_s));
    if (openFirst)
        openSections();
    const auto root = render(payload(u"B"_s));
    first.reset();

    auto *toggle = root->findChild<QPushButton *>(u"session-toggle"_s);
    openSections();
    auto *box = root->findChild<QPlainTextEdit *>(u"session-conversation"_s);
    QVERIFY(box);
    QTRY_VERIFY(box->isVisible());
    QCOMPARE(box->toPlainText(), u"B 会话"_s);
    QCOMPARE(labelText(root.get(), u"thinking-full"_s), u"B 分析"_s);
    // Built below its toggle, not at the end of the card.
    QVERIFY(box->mapTo(root.get(), QPoint()).y() > toggle->mapTo(root.get(), QPoint()).y());
}

QTEST_MAIN(TestContent)
#include "tst_content.moc"
