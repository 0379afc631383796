#include "content.h"
#include "sessioncard.h"
#include "textlabel.h"

#include "cardtest.h"
#include <QAccessible>
#include <QJsonArray>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocumentFragment>
#include <QToolTip>

#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using namespace cardtest;

namespace {} // namespace

class TestSessionCard final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { moxel::clearRenderRegistries(); }
    void showsLine_data();
    void showsLine();
    void toggleOpensAndClosesConversation();
    void payloadTextIsNeverMarkup();
    void longLineIsCutToOneLine();
    void hugeInputStillLaysOut();
};

void TestSessionCard::showsLine_data()
{
    QTest::addColumn<QByteArray>("session");
    QTest::addColumn<QString>("conversation");
    QTest::addColumn<QString>("line");
    QTest::newRow("summary") << QByteArray(
                                    R"({"轮次": 3, "等待分钟": 90, "提到数量": [500, 1000]})")
                             << QString() << u"3 轮 · 已等 1.5 小时 · 500 / 1000 pcs"_s;
    QTest::newRow("summary wins over the count")
        << QByteArray(R"({"提到国家": ["DE"]})") << u"hello"_s << u"DE"_s;
    QTest::newRow("only an unrelated key")
        << QByteArray(R"({"foo": 1})") << QString() << u"已选 0 字"_s;
    QTest::newRow("12 ideographs")
        << QByteArray("{}") << u"您好我想买五百个杯子谢谢"_s << u"已选 12 字"_s;
    QTest::newRow("emoji and marks")
        << QByteArray(R"({"轮次": 0})") << u"👨\u200D👩\u200D👧e\u0301🇩🇪"_s << u"已选 3 字"_s;
}

void TestSessionCard::showsLine()
{
    QFETCH(QByteArray, session);
    QFETCH(QString, conversation);
    QFETCH(QString, line);
    const auto card = shown(moxel::sessionCard(parse(session), conversation));

    auto *summary = card->findChild<moxel::TextLabel *>(u"session-line"_s);
    QVERIFY(summary);
    QCOMPARE(summary->text(), line);
    QVERIFY(summary->isVisible());

    QStringList labels;
    for (const moxel::TextLabel *label : card->findChildren<moxel::TextLabel *>())
        labels.append(label->text());
    QVERIFY2(labels.contains(u"会话"_s), qPrintable(labels.join(u'|')));

    // No conversation, no box and no toggle.
    auto *toggle = card->findChild<QPushButton *>(u"session-toggle"_s);
    QCOMPARE(toggle != nullptr, !conversation.isEmpty());
    openSections();
    QCOMPARE(card->findChild<QPlainTextEdit *>() != nullptr, !conversation.isEmpty());
    QCOMPARE(moxel::toggleTargets.size(), conversation.isEmpty() ? 0 : 1);
}

void TestSessionCard::toggleOpensAndClosesConversation()
{
    const QString conversation = u"客户: hi\n我: 您好"_s;
    const auto card = shown(moxel::sessionCard(parse(R"({"轮次": 2})"), conversation));
    auto *toggle = card->findChild<QPushButton *>(u"session-toggle"_s);
    auto *summary = card->findChild<moxel::TextLabel *>(u"session-line"_s);
    QVERIFY(toggle && summary);
    QCOMPARE(toggle->text(), u"▸ 原始会话"_s);

    QTest::mouseClick(toggle, Qt::LeftButton);
    auto *box = card->findChild<QPlainTextEdit *>();
    QVERIFY(box);
    QCOMPARE(box->toPlainText(), conversation);
    QVERIFY(box->isReadOnly());
    QCOMPARE(box->accessibleName(), u"原始会话"_s);
    QVERIFY(box->isVisible());
    QCOMPARE(toggle->text(), u"▾ 原始会话"_s);
    QVERIFY(summary->isVisible());
    // The open box takes the full content width, like the line above it.
    QTRY_COMPARE(box->width(), summary->width());
    QCOMPARE(box->mapTo(card.get(), QPoint()).x(), summary->mapTo(card.get(), QPoint()).x());

    QTest::mouseClick(toggle, Qt::LeftButton);
    QVERIFY(!box->isVisible());
    QCOMPARE(toggle->text(), u"▸ 原始会话"_s);
    QVERIFY(summary->isVisible());

    // Opened again: the same box, not a second one.
    QTest::mouseClick(toggle, Qt::LeftButton);
    QCOMPARE(card->findChildren<QPlainTextEdit *>(), QList<QPlainTextEdit *>{box});
    QVERIFY(box->isVisible());
}

void TestSessionCard::payloadTextIsNeverMarkup()
{
    const QString country = u"<b>DE</b> &amp; <img src=x>"_s;
    QJsonObject session{{u"提到国家"_s, QJsonArray{country}}};
    const auto card = shown(moxel::sessionCard(session, u"<a href='x'>y</a>"_s));
    openSections();
    QVERIFY(card->findChildren<QLabel *>().isEmpty());
    QCOMPARE(card->findChild<moxel::TextLabel *>(u"session-line"_s)->text(), country);
    QCOMPARE(card->findChild<QPlainTextEdit *>()->toPlainText(), u"<a href='x'>y</a>"_s);
}

void TestSessionCard::longLineIsCutToOneLine()
{
    const QString line = QString(400, u'杯') + u" <b>&amp;"_s;
    const QJsonObject session{{u"提到产品"_s, QJsonArray{line}}};
    const auto card = shown(moxel::sessionCard(session, QString()), 300);
    auto *summary = card->findChild<moxel::TextLabel *>(u"session-line"_s);
    QTRY_VERIFY(summary->isElided());
    QCOMPARE(summary->visibleLines().size(), 1);
    QVERIFY(summary->geometry().right() < card->width());
    QHelpEvent hover(QEvent::ToolTip, QPoint(2, 2), summary->mapToGlobal(QPoint(2, 2)));
    QCoreApplication::sendEvent(summary, &hover);
    QCOMPARE(QTextDocumentFragment::fromHtml(QToolTip::text()).toPlainText(), line);
    QCOMPARE(QAccessible::queryAccessibleInterface(summary)->text(QAccessible::Description), line);
}

void TestSessionCard::hugeInputStillLaysOut()
{
    // No spaces anywhere: nothing offers a line break.
    const QString twoMegabytes(2 * 1024 * 1024, u'x');
    const QString conversation(100000, u'字');
    const QJsonObject session{{u"提到国家"_s, QJsonArray{twoMegabytes}}};
    const auto card = shown(moxel::sessionCard(session, conversation), 352);
    auto *summary = card->findChild<moxel::TextLabel *>(u"session-line"_s);
    QCOMPARE(summary->text().size(), twoMegabytes.size());
    QTRY_VERIFY(summary->isElided());
    QVERIFY(card->sizeHint().height() < 1000);

    auto *toggle = card->findChild<QPushButton *>(u"session-toggle"_s);
    QTest::mouseClick(toggle, Qt::LeftButton);
    auto *box = card->findChild<QPlainTextEdit *>();
    QVERIFY(box->isVisible());
    QCOMPARE(box->toPlainText().size(), conversation.size());
}

QTEST_MAIN(TestSessionCard)
#include "tst_sessioncard.moc"
