#include "cardtexts.h"
#include "content.h"
#include "textlabel.h"
#include "thinkingcard.h"

#include "cardtest.h"
#include <QJsonArray>
#include <QLabel>
#include <QPushButton>

#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using namespace cardtest;

namespace {

QString words(int count)
{
    QStringList out;
    for (int i = 0; i < count; ++i)
        out.append(u"客户询问五百个杯子的阶梯价格"_s);
    return out.join(u' ');
}

// The node rows of a node list, each as its (title, text) labels in order.
QList<QList<moxel::TextLabel *>> nodeLabels(QWidget *list)
{
    QList<QList<moxel::TextLabel *>> rows;
    for (QWidget *row : list->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        const auto labels = row->findChildren<moxel::TextLabel *>(Qt::FindDirectChildrenOnly);
        if (!labels.isEmpty())
            rows.append(labels);
    }
    return rows;
}

} // namespace

class TestThinkingCard final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { moxel::clearRenderRegistries(); }
    void summaryShowsAtMostThreeLines_data();
    void summaryShowsAtMostThreeLines();
    void toggleSwapsSummaryAndDetails();
    void nodeRowsFollowTheTexts_data();
    void nodeRowsFollowTheTexts();
    void longNodeTextWrapsInsideTheCard();
    void payloadTextIsNeverMarkup();
    void hugeAnalysisStillLaysOut();
};

void TestThinkingCard::summaryShowsAtMostThreeLines_data()
{
    QTest::addColumn<QString>("analysis");
    QTest::addColumn<bool>("elided");
    QTest::newRow("one short line") << u"客户询价"_s << false;
    QTest::newRow("three lines") << u"a\nb\nc"_s << false;
    QTest::newRow("four lines") << u"a\nb\nc\nd"_s << true;
    QTest::newRow("long paragraph") << words(40) << true;
    QTest::newRow("long word, no spaces") << QString(5000, u'x') << true;
}

void TestThinkingCard::summaryShowsAtMostThreeLines()
{
    QFETCH(QString, analysis);
    QFETCH(bool, elided);
    const auto card = shown(moxel::thinkingCard(QJsonObject(), analysis));
    auto *summary = card->findChild<moxel::TextLabel *>(u"thinking-summary"_s);
    QVERIFY(summary);
    QCOMPARE(summary->text(), analysis);
    QTRY_VERIFY(summary->width() > 200);
    QCOMPARE(summary->isElided(), elided);
    QVERIFY(summary->visibleLines().size() <= 3);

    openSections();
    auto *full = card->findChild<moxel::TextLabel *>(u"thinking-full"_s);
    QVERIFY(full);
    QCOMPARE(full->text(), analysis);
    QCOMPARE(full->maxLines(), 0);
}

void TestThinkingCard::toggleSwapsSummaryAndDetails()
{
    const auto card = shown(moxel::thinkingCard(QJsonObject(), words(40)));
    auto *summary = card->findChild<moxel::TextLabel *>(u"thinking-summary"_s);
    auto *details = card->findChild<QWidget *>(u"thinking-details"_s);
    auto *toggle = card->findChild<QPushButton *>(u"thinking-toggle"_s);
    QVERIFY(summary && details && toggle);
    QCOMPARE(moxel::toggleTargets.size(), 1);

    QVERIFY(summary->isVisible());
    QVERIFY(details->isHidden());
    QCOMPARE(toggle->text(), u"▸ 思考节点"_s);
    const int closedHeight = card->sizeHint().height();

    QTest::mouseClick(toggle, Qt::LeftButton);
    QVERIFY(details->isVisible());
    QVERIFY(summary->isHidden());
    QCOMPARE(toggle->text(), u"▾ 思考节点"_s);
    QVERIFY(card->sizeHint().height() > closedHeight);
    // The full text is not cut and spans the content width.
    auto *full = card->findChild<moxel::TextLabel *>(u"thinking-full"_s);
    QTRY_COMPARE(full->width(), summary->parentWidget()->width());
    QVERIFY(!full->isElided());

    QTest::mouseClick(toggle, Qt::LeftButton);
    QVERIFY(summary->isVisible());
    QVERIFY(details->isHidden());
    QCOMPARE(toggle->text(), u"▸ 思考节点"_s);
}

void TestThinkingCard::nodeRowsFollowTheTexts_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("empty") << QByteArray("{}");
    QTest::newRow("everything") << QByteArray(
        R"({"chars": 120, "session": {"轮次": 4}, "redactions": 2,
                         "matched": ["报价"], "status": "ok", "confidence": "0.9",
                         "template": "T1", "filled": [{}], "warnings": ["w1", "w2", "w3"]})");
    QTest::newRow("mistyped") << QByteArray(R"({"chars": "1", "matched": [1], "filled": 3})");
}

void TestThinkingCard::nodeRowsFollowTheTexts()
{
    QFETCH(QByteArray, payload);
    const QJsonObject object = parse(payload);
    const auto list = shown(moxel::thinkingNodes(moxel::thinkingNodeTexts(object)));
    const QList<moxel::ThinkingNode> nodes = moxel::thinkingNodeTexts(object);
    const auto rows = nodeLabels(list.get());
    QCOMPARE(rows.size(), nodes.size());
    for (qsizetype i = 0; i < rows.size(); ++i) {
        QCOMPARE(rows.at(i).size(), 2);
        moxel::TextLabel *title = rows.at(i).at(0);
        moxel::TextLabel *text = rows.at(i).at(1);
        QCOMPARE(title->text(), nodes.at(i).title);
        QCOMPARE(text->text(), nodes.at(i).text);
        QCOMPARE(title->width(), 30);
        QVERIFY(title->font().bold());
        // The dot, then the title, then the text, 6 apart, tops aligned.
        QWidget *row = title->parentWidget();
        QCOMPARE(title->x(), 5 + 6);
        QCOMPARE(text->x(), title->geometry().right() + 1 + 6);
        QCOMPARE(text->y(), title->y());
        QCOMPARE(row->width(), list->width());
    }
}

void TestThinkingCard::longNodeTextWrapsInsideTheCard()
{
    QStringList names;
    for (int i = 0; i < 30; ++i)
        names.append(u"规则"_s + QString::number(i));
    const QJsonObject payload{{u"matched"_s, QJsonArray::fromStringList(names)}};
    const auto card = shown(moxel::thinkingCard(payload, u"x"_s), 300);
    QTest::mouseClick(card->findChild<QPushButton *>(u"thinking-toggle"_s), Qt::LeftButton);
    QWidget *list = card->findChild<QWidget *>(u"thinking-nodes"_s);
    QTRY_VERIFY(list->isVisible());
    fit(card.get(), 300);
    moxel::TextLabel *rules = nodeLabels(list).at(2).at(1);
    QTRY_VERIFY(rules->visibleLines().size() > 1);
    QVERIFY(!rules->isElided());
    QVERIFY(rules->mapTo(card.get(), QPoint(rules->width(), 0)).x() <= card->width() - 10);
    QVERIFY(rules->height() >= rules->heightForWidth(rules->width()));
}

void TestThinkingCard::payloadTextIsNeverMarkup()
{
    const QString markup = u"<b>bold</b> <img src=x> &amp;"_s;
    const QJsonObject payload{{u"template"_s, markup}, {u"status"_s, markup}};
    const auto card = shown(moxel::thinkingCard(payload, markup));
    openSections();
    QVERIFY(card->findChildren<QLabel *>().isEmpty());
    QCOMPARE(card->findChild<moxel::TextLabel *>(u"thinking-summary"_s)->text(), markup);
    const auto rows = nodeLabels(card->findChild<QWidget *>(u"thinking-nodes"_s));
    QCOMPARE(rows.at(4).at(1)->text(), markup);
}

void TestThinkingCard::hugeAnalysisStillLaysOut()
{
    const QString analysis(2 * 1024 * 1024, u'x');
    const QJsonObject payload{{u"warnings"_s, QJsonArray{analysis}},
                              {u"matched"_s, QJsonArray{analysis}}};
    const auto card = shown(moxel::thinkingCard(payload, analysis));
    auto *summary = card->findChild<moxel::TextLabel *>(u"thinking-summary"_s);
    QTRY_VERIFY(summary->isElided());
    QCOMPARE(summary->visibleLines().size(), 3);
    QTest::mouseClick(card->findChild<QPushButton *>(u"thinking-toggle"_s), Qt::LeftButton);
    QTRY_VERIFY(card->findChild<QWidget *>(u"thinking-details"_s)->isVisible());
}

QTEST_MAIN(TestThinkingCard)
#include "tst_thinkingcard.moc"
