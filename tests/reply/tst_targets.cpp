#include "factories.h"
#include "sectiontoggle.h"
#include "targets.h"
#include "textbox.h"
#include "textviews.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

using namespace moxel;

class TestTargets : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void copy_data();
    void copy();
    void toggle_data();
    void toggle();
    void editChinese();
    void listsReleaseLater();
};

namespace {

const QString Untouched = QStringLiteral("clipboard before the copy");

} // namespace

void TestTargets::init()
{
    clearReplyTargets();
    clearToggleTargets();
    clearTextViews();
    QGuiApplication::clipboard()->setText(Untouched);
}

void TestTargets::cleanup()
{
    clearReplyTargets();
    clearToggleTargets();
    clearTextViews();
}

void TestTargets::copy_data()
{
    QTest::addColumn<bool>("registered");
    QTest::addColumn<bool>("deleteView");
    QTest::addColumn<QString>("viewText");
    QTest::addColumn<QString>("fallback");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("copied"); // null: nothing copied, no alert

    const QString draft = QStringLiteral("Olá!");
    const QString reply = QStringLiteral("回复");
    QTest::newRow("edited view wins over fallback")
        << true << false << QStringLiteral("Olá, tudo bem?") << draft << reply
        << QStringLiteral("Olá, tudo bem?");
    QTest::newRow("view emptied: nothing")
        << true << false << QString() << draft << reply << QString();
    QTest::newRow("no view: fallback") << false << false << QString() << draft << reply << draft;
    QTest::newRow("no view, empty fallback: nothing")
        << false << false << QString() << QString() << reply << QString();
    QTest::newRow("view gone: fallback")
        << true << true << QStringLiteral("x") << draft << reply << draft;
    QTest::newRow("spaces are text")
        << true << false << QStringLiteral(" ") << draft << reply << QStringLiteral(" ");
    QTest::newRow("no-break spaces survive")
        << true << false << QStringLiteral("Merci\u00A0!\n10\u202F000") << draft << reply
        << QStringLiteral("Merci\u00A0!\n10\u202F000");
    QTest::newRow("label is appended as is")
        << false << false << QString() << draft << QStringLiteral("<b>会话</b>") << draft;
}

void TestTargets::copy()
{
    QFETCH(bool, registered);
    QFETCH(bool, deleteView);
    QFETCH(QString, viewText);
    QFETCH(QString, fallback);
    QFETCH(QString, label);
    QFETCH(QString, copied);

    std::unique_ptr<QPlainTextEdit> view;
    if (registered) {
        view.reset(textBox(QStringLiteral("payload draft"), 100,
                           TextBoxOption::Mono | TextBoxOption::Editable | TextBoxOption::Dark,
                           QStringLiteral("d0-text")));
        // As the user leaves it: typed over the payload's draft.
        view->selectAll();
        view->insertPlainText(viewText);
        if (deleteView)
            view.reset();
    }

    DraftCopyTarget target(QStringLiteral("d0-text"), fallback, label);
    target.doCopy();
    // Open at once, and modal.
    auto *alert = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());

    if (copied.isNull()) {
        QCOMPARE(QGuiApplication::clipboard()->text(), Untouched);
        QVERIFY(!alert);
        return;
    }
    QCOMPARE(QGuiApplication::clipboard()->text(), copied);
    QVERIFY(alert);
    QCOMPARE(alert->text(), QStringLiteral("已复制") + label);
    QCOMPARE(alert->windowTitle(), alert->text());
    QCOMPARE(alert->textFormat(), Qt::PlainText);
    QCOMPARE(alert->informativeText(), QStringLiteral("回到聊天窗口粘贴即可。"));
    QCOMPARE(alert->buttons().size(), 1);
    QCOMPARE(alert->buttons().constFirst()->text(), QStringLiteral("好"));
    alert->buttons().constFirst()->click();
}

void TestTargets::toggle_data()
{
    QTest::addColumn<bool>("withCloseView");
    QTest::newRow("section only") << false;
    QTest::newRow("with summary shown while closed") << true;
}

void TestTargets::toggle()
{
    QFETCH(bool, withCloseView);

    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    const QString closed = QStringLiteral("▸ 中文翻译");
    const QString open = QStringLiteral("▾ 中文翻译");
    QPushButton *button = inlineButton(closed);
    auto *section = new QWidget;
    QWidget *summary = withCloseView ? new QWidget : nullptr;
    layout->addWidget(button);
    layout->addWidget(section);
    if (summary)
        layout->addWidget(summary);
    section->hide();
    auto *target = new ToggleTarget(button, section, summary, closed, open);
    connect(button, &QPushButton::clicked, target, &ToggleTarget::toggle);
    toggleTargets.append(target);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    struct State
    {
        bool sectionShown;
        QString title;
    };
    for (const State &expected : {State{true, open}, State{false, closed}, State{true, open}}) {
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(section->isVisible(), expected.sectionShown);
        if (summary)
            QCOMPARE(summary->isVisible(), !expected.sectionShown);
        QCOMPARE(button->text(), expected.title);
        QCOMPARE(button->accessibleName(), expected.title);
    }
}

void TestTargets::editChinese()
{
    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));

    QWidget window;
    window.setAttribute(Qt::WA_ShowWithoutActivating);
    auto *layout = new QVBoxLayout(&window);
    QPlainTextEdit *cn =
        textBox(QStringLiteral("你好"), 70, TextBoxOptions(), QStringLiteral("d0-cn"));
    QPushButton *button = roundedButton(QStringLiteral("编辑中文"));
    layout->addWidget(cn);
    layout->addWidget(button);
    auto *target = new EditCNTarget(cn, button);
    connect(button, &QPushButton::clicked, target, &EditCNTarget::toggle);
    editTargets.append(target);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const double inset = cn->document()->documentMargin();
    QWidget *activeBefore = QApplication::activeWindow();
    button->click();
    QVERIFY(!cn->isReadOnly());
    QCOMPARE(button->text(), QStringLiteral("完成"));
    QCOMPARE(button->accessibleName(), QStringLiteral("完成"));
    QCOMPARE(window.focusWidget(), cn);
    QCOMPARE(QApplication::activeWindow(), activeBefore);
    QTest::keyClicks(cn, QStringLiteral("!"));
    QCOMPARE(cn->toPlainText().size(), 3);

    button->click();
    QVERIFY(cn->isReadOnly());
    QCOMPARE(button->text(), QStringLiteral("编辑中文"));
    QVERIFY(cn->textInteractionFlags() & Qt::TextSelectableByMouse);
    QCOMPARE(cn->document()->documentMargin(), inset);

    // A box that is in no window just flips.
    std::unique_ptr<QPlainTextEdit> loose(textBox(QStringLiteral("x"), 70));
    EditCNTarget looseTarget(loose.get(), nullptr);
    looseTarget.toggle();
    QVERIFY(!loose->isReadOnly());
}

void TestTargets::listsReleaseLater()
{
    QPointer<DraftCopyTarget> a = new DraftCopyTarget(QString(), QString(), QString());
    QPointer<DraftCopyTarget> b = new DraftCopyTarget(QString(), QString(), QString());
    copyTargets.append(a);
    copyTargets.append(b);
    delete b; // gone already: clearing must cope
    copyTargets.clear();
    QVERIFY(copyTargets.isEmpty());
    QVERIFY(a); // still usable by a method on the stack
    QTRY_VERIFY(!a);
}

QTEST_MAIN(TestTargets)
#include "tst_targets.moc"
