#include "factories.h"
#include "heights.h"
#include "replycard.h"
#include "sectiontoggle.h"
#include "synccontroller.h"
#include "targets.h"
#include "textlabel.h"
#include "textviews.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QJsonArray>
#include <QJsonObject>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <memory>
#include <tuple>

using namespace moxel;
using namespace Qt::StringLiterals;

class TestReplyCard : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void layout_data();
    void layout();
    void links_data();
    void links();
    void draftCardGeometry();
    void copyTheEditedDraft();
    void editsReachTheController();
    void renderDuringClick_data();
    void renderDuringClick();

private:
    // What a render does around the reply card: release the previous render's
    // targets, registrations and views, then build and show the new card.
    void render(const QJsonObject &payload, const QString &lang = QStringLiteral("pt"),
                const QString &langName = QStringLiteral("葡萄牙语"));
    template<typename T> T *find(const char *name) const
    {
        return m_card ? m_card->findChild<T *>(QLatin1String(name)) : nullptr;
    }

    std::unique_ptr<QWidget> m_window;
    QVBoxLayout *m_layout = nullptr;
    QPointer<QWidget> m_card;
};

namespace {

using LinkView = std::tuple<QString, QString, QString, TextLabel *>;
QMap<QString, LinkView> linkViews()
{
    QMap<QString, LinkView> out;
    const auto &links = SYNC().links();
    for (auto it = links.cbegin(); it != links.cend(); ++it)
        out.insert(it.key(), {it->peerKey, it->to, it->peerLabel, it->status.data()});
    return out;
}

QJsonObject payload(std::initializer_list<std::pair<QString, QJsonValue>> values)
{
    QJsonObject o;
    for (const auto &[k, v] : values)
        o.insert(k, v);
    return o;
}

const QString Draft = QStringLiteral("Olá! O pedido 4471 sai amanhã.");
const QString Chinese = QStringLiteral("您好！订单4471明天发货。");
const QString Refused = QStringLiteral("这类对话按纪律不生成草稿。");

} // namespace

void TestReplyCard::render(const QJsonObject &payload, const QString &lang, const QString &langName)
{
    clearReplyTargets();
    clearToggleTargets();
    clearTextViews();
    if (m_card)
        m_card->deleteLater();
    m_card = replyCard(payload, lang, langName);
    m_layout->insertWidget(0, m_card);
}

void TestReplyCard::init()
{
    m_window = std::make_unique<QWidget>();
    m_layout = new QVBoxLayout(m_window.get());
    m_layout->addStretch(1);
    m_window->resize(400, 700);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestReplyCard::cleanup()
{
    render(QJsonObject());
    m_window.reset();
}

void TestReplyCard::layout_data()
{
    QTest::addColumn<QJsonObject>("payload");
    QTest::addColumn<QString>("refusal"); // null: the draft layout
    QTest::addColumn<bool>("chinese");

    const QString note = QStringLiteral("客户在问价格底线");
    const QString forbid = QStringLiteral("承诺折扣、透露成本");
    QTest::newRow("nothing") << QJsonObject() << Refused << false;
    QTest::newRow("note and forbid")
        << payload({{u"note"_s, note}, {u"forbid"_s, forbid}})
        << Refused + u'\n' + note + u'\n' + QStringLiteral("禁用：") + forbid << false;
    QTest::newRow("note only") << payload({{u"note"_s, note}}) << Refused + u'\n' + note << false;
    QTest::newRow("forbid only") << payload({{u"forbid"_s, forbid}})
                                 << Refused + QStringLiteral("\n禁用：") + forbid << false;
    QTest::newRow("markup in the note stays text")
        << payload({{u"note"_s, u"<a href='x'>&y</a>"_s}})
        << Refused + QStringLiteral("\n<a href='x'>&y</a>") << false;
    QTest::newRow("chinese without draft is ignored")
        << payload({{u"draft"_s, u""_s}, {u"cn"_s, Chinese}}) << Refused << false;
    QTest::newRow("draft that is a number")
        << payload({{u"draft"_s, 5}, {u"cn"_s, Chinese}}) << Refused << false;
    QTest::newRow("draft that is null")
        << payload({{u"draft"_s, QJsonValue::Null}}) << Refused << false;
    QTest::newRow("a single space is a draft")
        << payload({{u"draft"_s, u" "_s}}) << QString() << false;
    QTest::newRow("draft, note ignored")
        << payload({{u"draft"_s, Draft}, {u"note"_s, note}}) << QString() << false;
    QTest::newRow("draft and chinese")
        << payload({{u"draft"_s, Draft}, {u"cn"_s, Chinese}}) << QString() << true;
    QTest::newRow("chinese that is not text")
        << payload({{u"draft"_s, Draft}, {u"cn"_s, QJsonArray{1}}}) << QString() << false;
    QTest::newRow("long texts") << payload({{u"draft"_s, QString(3000, u'a')},
                                            {u"cn"_s, QString(3000, u'中')}})
                                << QString() << true;
}

void TestReplyCard::layout()
{
    QFETCH(QJsonObject, payload);
    QFETCH(QString, refusal);
    QFETCH(bool, chinese);
    const bool hasDraft = refusal.isNull();
    const QString draft = payload.value(u"draft").toString();
    const QString cn = payload.value(u"cn").toString();

    const auto linksBefore = linkViews();
    render(payload);

    QCOMPARE(find<TextLabel>("reply-title")->text(), QStringLiteral("AI副驾回复："));
    auto *refusalLabel = find<TextLabel>("reply-refusal");
    QCOMPARE(refusalLabel != nullptr, !hasDraft);
    if (refusalLabel)
        QCOMPARE(refusalLabel->text(), refusal);

    QCOMPARE(find<QPushButton>("d0-copy") != nullptr, hasDraft);
    QCOMPARE(find<TextLabel>("reply-hint") != nullptr, hasDraft);
    auto *draftBox = find<QPlainTextEdit>("d0-text");
    QCOMPARE(draftBox != nullptr, hasDraft);
    QCOMPARE(textView(QStringLiteral("d0-text")), draftBox);
    if (draftBox) {
        QCOMPARE(draftBox->toPlainText(), draft);
        QVERIFY(!draftBox->isReadOnly());
        QCOMPARE(draftBox->height(), qRound(sidebarHeight(draft, false)));
    }

    auto *cnBox = find<QPlainTextEdit>("d0-cn");
    QCOMPARE(cnBox != nullptr, chinese);
    QCOMPARE(textView(QStringLiteral("d0-cn")), cnBox);
    QCOMPARE(find<QPushButton>("d0-toggle") != nullptr, chinese);
    QCOMPARE(find<QWidget>("d0-cn-section") != nullptr, chinese);
    QCOMPARE(find<QPushButton>("d0-edit") != nullptr, chinese);
    QCOMPARE(find<TextLabel>("d0-status") != nullptr, chinese);
    if (cnBox) {
        QCOMPARE(cnBox->toPlainText(), cn);
        QVERIFY(cnBox->isReadOnly());
        QCOMPARE(cnBox->height(), qRound(sidebarHeight(cn, true)));
        QVERIFY(find<QWidget>("d0-cn-section")->isHidden());
        QCOMPARE(find<QPushButton>("d0-toggle")->text(), QStringLiteral("▸ 中文翻译"));
        QCOMPARE(find<QPushButton>("d0-edit")->text(), QStringLiteral("编辑中文"));
        QCOMPARE(find<TextLabel>("d0-status")->text(), QString());
    }

    QCOMPARE(copyTargets.size(), hasDraft ? 1 : 0);
    QCOMPARE(toggleTargets.size(), chinese ? 1 : 0);
    QCOMPARE(editTargets.size(), chinese ? 1 : 0);
    if (!chinese)
        QCOMPARE(linkViews(), linksBefore);
}

void TestReplyCard::links_data()
{
    QTest::addColumn<QString>("lang");
    QTest::addColumn<QString>("langName");
    QTest::addColumn<QString>("peerLabel");

    QTest::newRow("named") << QStringLiteral("pt") << QStringLiteral("葡萄牙语")
                           << QStringLiteral("葡萄牙语");
    QTest::newRow("no name") << QStringLiteral("es") << QString() << QStringLiteral("客户语种");
    QTest::newRow("a space is a name")
        << QStringLiteral("es") << QStringLiteral(" ") << QStringLiteral(" ");
    QTest::newRow("no language") << QString() << QString() << QStringLiteral("客户语种");
}

void TestReplyCard::links()
{
    QFETCH(QString, lang);
    QFETCH(QString, langName);
    QFETCH(QString, peerLabel);

    render(payload({{u"draft"_s, Draft}, {u"cn"_s, Chinese}}), lang, langName);
    auto *status = find<TextLabel>("d0-status");
    QVERIFY(status);
    const auto links = linkViews();
    QCOMPARE(links.value(u"d0-text"_s),
             LinkView(u"d0-cn"_s, u"zh"_s, QStringLiteral("中文"), status));
    QCOMPARE(links.value(u"d0-cn"_s), LinkView(u"d0-text"_s, lang, peerLabel, status));
}

void TestReplyCard::draftCardGeometry()
{
    render(payload({{u"draft"_s, Draft}, {u"cn"_s, Chinese}}));
    QWidget *card = m_card;
    const auto rectIn = [card](const QWidget *w) {
        return QRect(w->mapTo(card, QPoint(0, 0)), w->size());
    };
    auto *title = find<TextLabel>("reply-title");
    auto *hint = find<TextLabel>("reply-hint");
    auto *copy = find<QPushButton>("d0-copy");
    auto *draftBox = find<QPlainTextEdit>("d0-text");
    auto *toggle = find<QPushButton>("d0-toggle");
    auto *section = find<QWidget>("d0-cn-section");
    QTRY_VERIFY(copy->isVisible());

    // Title, hint, button; the title takes the slack, the button ends the row.
    QTRY_COMPARE(rectIn(copy).right(), card->width() - 10 - 1);
    QCOMPARE(card->width(),
             m_window->contentsRect().width() - 2 * m_layout->contentsMargins().left());
    QCOMPARE(rectIn(title).left(), 10);
    QVERIFY(rectIn(title).right() < rectIn(hint).left());
    QVERIFY(rectIn(hint).right() < rectIn(copy).left());
    // The draft box fills the card between its insets, below the header.
    QCOMPARE(rectIn(draftBox).left(), 10);
    QCOMPARE(rectIn(draftBox).width(), card->width() - 20);
    QVERIFY(rectIn(copy).bottom() < rectIn(draftBox).top());
    QVERIFY(rectIn(draftBox).bottom() < rectIn(toggle).top());
    QCOMPARE(rectIn(toggle).left(), 10);

    const int closedHeight = card->height();
    toggle->click();
    QTRY_VERIFY(section->isVisible());
    QTRY_VERIFY(card->height() > closedHeight);
    auto *cnBox = find<QPlainTextEdit>("d0-cn");
    auto *edit = find<QPushButton>("d0-edit");
    auto *status = find<TextLabel>("d0-status");
    QVERIFY(rectIn(toggle).bottom() < rectIn(cnBox).top());
    QCOMPARE(rectIn(cnBox).width(), card->width() - 20);
    QVERIFY(rectIn(cnBox).bottom() < rectIn(edit).top());
    QCOMPARE(rectIn(edit).left(), 10);
    QVERIFY(rectIn(edit).bottom() < rectIn(status).top());
    QVERIFY(rectIn(status).bottom() < card->height());
}

void TestReplyCard::copyTheEditedDraft()
{
    render(payload({{u"draft"_s, Draft}, {u"cn"_s, Chinese}}));
    auto *draftBox = find<QPlainTextEdit>("d0-text");

    draftBox->moveCursor(QTextCursor::End);
    QTest::keyClicks(draftBox, QStringLiteral(" Abraco"));
    QTest::mouseClick(find<QPushButton>("d0-copy"), Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), Draft + QStringLiteral(" Abraco"));
    auto *alert = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    QVERIFY(alert);
    QCOMPARE(alert->text(), QStringLiteral("已复制回复"));
    alert->buttons().constFirst()->click();
    QVERIFY(!QApplication::activeModalWidget());

    // Emptied by the user: copying does nothing at all.
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    draftBox->clear();
    QTest::mouseClick(find<QPushButton>("d0-copy"), Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
    QVERIFY(!QApplication::activeModalWidget());
}

void TestReplyCard::editsReachTheController()
{
    SYNC().proxy.clear(); // nothing is sent
    render(payload({{u"draft"_s, Draft}, {u"cn"_s, Chinese}}));
    auto *status = find<TextLabel>("d0-status");
    // Setting up the boxes is not an edit.
    QCoreApplication::processEvents();
    QCOMPARE(status->text(), QString());

    QTest::keyClicks(find<QPlainTextEdit>("d0-text"), QStringLiteral("!"));
    QCOMPARE(status->text(), QStringLiteral("已编辑 · 同步中…"));

    render(payload({{u"draft"_s, Draft}, {u"cn"_s, Chinese}}));
    status = find<TextLabel>("d0-status");
    find<QPushButton>("d0-toggle")->click();
    find<QPushButton>("d0-edit")->click();
    QTest::keyClicks(find<QPlainTextEdit>("d0-cn"), QStringLiteral("!"));
    QCOMPARE(status->text(), QStringLiteral("已编辑 · 同步中…"));
}

void TestReplyCard::renderDuringClick_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("section toggle") << QStringLiteral("d0-toggle");
    QTest::newRow("edit") << QStringLiteral("d0-edit");
    QTest::newRow("copy, after the alert") << QStringLiteral("d0-copy");
}

void TestReplyCard::renderDuringClick()
{
    QFETCH(QString, button);
    render(payload({{u"draft"_s, Draft}, {u"cn"_s, Chinese}}));
    find<QPushButton>("d0-toggle")->click(); // so that every button is on screen
    QPointer<QWidget> oldCard = m_card;
    QPointer<QPushButton> pressed = m_card->findChild<QPushButton *>(button);
    QVERIFY(pressed);
    QPointer<QPlainTextEdit> oldCn = find<QPlainTextEdit>("d0-cn");

    // A payload arrives while the button's own click is being handled.
    connect(pressed, &QPushButton::clicked, this, [this] {
        render(payload({{u"draft"_s, u"Novo"_s}, {u"cn"_s, u"新"_s}}));
    });
    QTest::mouseClick(pressed, Qt::LeftButton);
    if (auto *alert = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
        alert->buttons().constFirst()->click();

    QTRY_VERIFY(!oldCard);
    QVERIFY(!pressed);
    QVERIFY(!oldCn);
    QCOMPARE(textView(QStringLiteral("d0-cn"))->toPlainText(), QStringLiteral("新"));
    QCOMPARE(copyTargets.size(), 1);
    QCOMPARE(toggleTargets.size(), 1);
    QCOMPARE(editTargets.size(), 1);
    find<QPushButton>("d0-toggle")->click();
    QVERIFY(find<QWidget>("d0-cn-section")->isVisible());
}

QTEST_MAIN(TestReplyCard)
#include "tst_replycard.moc"
