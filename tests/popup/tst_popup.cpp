#include "../e2e/xvfb.h"
#include "look.h"
#include "popup.h"
#include "popupdelegate.h"

#include "moxel_version.h"

#include "sectiontoggle.h"
#include "settingsfile.h"
#include "synccontroller.h"
#include "targets.h"
#include "testjson.h"
#include "textlabel.h"
#include "textviews.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QLabel>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QStandardPaths>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <functional>

using namespace moxel;
using namespace Qt::StringLiterals;

namespace {

using moxel::test::parse;

// Opens every section and unlocks the Chinese one, leaving the keyboard where it was.
void openMirror(QWidget *content)
{
    for (const QString &name : {u"d0-toggle"_s, u"session-toggle"_s, u"thinking-toggle"_s})
        if (auto *toggle = content->findChild<QPushButton *>(name))
            toggle->click();
    content->findChild<QPushButton *>(u"d0-edit"_s)->click();
    textView(u"d0-cn"_s)->clearFocus();
}

// What the salesperson opens to read.
const QByteArray Reading = R"(,"analysis":"客户问价。","conversation":")" +
                           QByteArray(R"(客户: Olá\n)").repeated(30) + '"';

QJsonObject tallPayload(const QString &intent)
{
    // No draft: the refusal text wraps to as many lines as it needs.
    return QJsonObject{{u"intent"_s, intent},
                       {u"note"_s, QString(u"uma nota muito longa "_s).repeated(300)},
                       {u"conversation"_s, u"Customer: oi"_s}};
}

// What the user sees of a popup whose mirror is open and whose window and
// boxes scroll: its window, then its copy confirmation.
struct Drawn
{
    QImage window;
    QImage confirmation;
    QString theme; // the window colour and style the desktop gave, before ours
};

// The confirmation the test answers; `seeIt` runs while it is open.
void whileConfirming(QWidget *content, const std::function<void(QMessageBox *)> &seeIt)
{
    content->findChild<QPushButton *>(u"d0-copy"_s)->click();
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !QTest::qWaitForWindowExposed(box))
        return;
    seeIt(box);
    if (box->isVisible())
        box->done(0);
}

// Runs in a child process of this test, under the desktop's theme.
int drawForComparison(const QString &dir)
{
    const QString theme = QGuiApplication::palette().color(QPalette::Window).name() + u' ' +
                          QApplication::style()->name();
    useFixedLook();
    QStandardPaths::setTestModeEnabled(true);
    Popup popup(PopupOptions{QPointF(0, 0), QSizeF(400, 560), false});
    const QString longText = u"Olá! Para 5000 peças o preço é USD 1,25. "_s.repeated(3);
    popup.render(QJsonObject{{u"intent"_s, u"询价"_s},
                             {u"analysis"_s, u"客户询问批发价格。"_s.repeated(40)},
                             {u"draft"_s, longText},
                             {u"cn"_s, u"您好！5000 件的价格是每件 1.25 美元。"_s.repeated(30)}});
    openMirror(popup.content());
    if (!QTest::qWaitForWindowExposed(popup.window()))
        return 1;
    popup.window()->grab().save(dir + u"/window.png"_s);
    whileConfirming(popup.content(),
                    [&](QMessageBox *box) { box->grab().save(dir + u"/confirmation.png"_s); });
    std::printf("%s\n", qPrintable(theme));
    return 0;
}

Drawn drawUnder(const QString &display, const QStringList &env)
{
    QTemporaryDir dir;
    QProcess child;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORMTHEME", "QT_STYLE_OVERRIDE", "GTK_THEME"})
        e.remove(QString::fromLatin1(name));
    e.insert(u"DISPLAY"_s, display); // the GTK theme reads its settings there
    for (const QString &pair : env)
        e.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
    if (e.value(u"QT_QPA_PLATFORMTHEME"_s) == u"qt6ct"_s) {
        // As a user who chose a dark scheme and another style, and no fonts.
        QDir(dir.path()).mkpath(u"qt6ct"_s);
        QFile conf(dir.filePath(u"qt6ct/qt6ct.conf"_s));
        if (conf.open(QIODevice::WriteOnly))
            conf.write("[Appearance]\ncolor_scheme_path=/usr/share/qt6ct/colors/darker.conf\n"
                       "custom_palette=true\nstyle=Windows\n");
        e.insert(u"XDG_CONFIG_HOME"_s, dir.path());
    }
    child.setProcessEnvironment(e);
    child.start(QCoreApplication::applicationFilePath(), {u"--draw"_s, dir.path()});
    child.waitForFinished(60000);
    return Drawn{QImage(dir.filePath(u"window.png"_s)), QImage(dir.filePath(u"confirmation.png"_s)),
                 QString::fromLocal8Bit(child.readAllStandardOutput()).trimmed()};
}

} // namespace

class TestPopup : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { QSettings(test::settingsFile(), QSettings::IniFormat).clear(); }

    void windowBeforeAndAfterTheFirstRender()
    {
        Popup popup(PopupOptions{});
        QWidget *win = popup.window();
        QVERIFY(!win->isVisible()); // nothing on screen before the first payload
        QCOMPARE(win->windowTitle(), u"智能客服 v"_s + QStringLiteral(MOXEL_VERSION));
        QCOMPARE(win->minimumSize(), QSize(340, 480));
        const Qt::WindowFlags flags = win->windowFlags();
        QVERIFY(flags & Qt::WindowStaysOnTopHint);
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(win->testAttribute(Qt::WA_ShowWithoutActivating));

        popup.render(parse("{\"intent\":\"询价\"}"));
        QVERIFY(win->isVisible());
        QVERIFY(popup.renderedOnce());
        // A platform without window opacity (this one, Wayland) gets no fade
        // and so no warning at each of its steps.
        QVERIFY(win->findChildren<QPropertyAnimation *>().isEmpty());
        QCOMPARE(win->windowOpacity(), 1.0);
        // The application is never activated on our behalf.
        QVERIFY(QApplication::activeWindow() != win);
    }

    void everyRenderStartsAtTheTop()
    {
        Popup popup(PopupOptions{std::nullopt, QSizeF(400, 480), false});
        popup.render(tallPayload(u"one"_s));
        QScrollBar *bar = popup.scrollArea()->verticalScrollBar();
        QTRY_VERIFY(bar->maximum() > 0);
        bar->setValue(bar->maximum());
        popup.render(tallPayload(u"two"_s));
        QCOMPARE(bar->value(), 0);
    }

    void laterRendersKeepTheUsersFrame()
    {
        Popup popup(PopupOptions{});
        popup.render(parse("{}"));
        QWidget *win = popup.window();
        win->move(40, 50);
        win->resize(450, 600);
        const QRect frame = win->geometry();
        QPointer<QWidget> old = popup.content();
        popup.render(parse("{\"intent\":\"again\"}"));
        QCOMPARE(win->geometry(), frame);
        QVERIFY(popup.content() != old.data());
        // The old column goes later, not inside the render.
        QVERIFY(old);
        QTRY_VERIFY(!old);
    }

    void rendersShareTheStylesCachedImages()
    {
        // The style caches button images by palette; if each render's buttons
        // got palettes of their own, every render would add to that cache.
        Popup popup(PopupOptions{});
        popup.render(parse("{\"draft\":\"a\",\"cn\":\"b\"}"));
        const qint64 first =
            popup.content()->findChild<QPushButton *>(u"d0-copy"_s)->palette().cacheKey();
        popup.render(parse("{\"draft\":\"c\",\"cn\":\"d\"}"));
        QCOMPARE(popup.content()->findChild<QPushButton *>(u"d0-copy"_s)->palette().cacheKey(),
                 first);
    }

    void renderCopiesTheServiceAddress()
    {
        Popup popup(PopupOptions{});
        popup.render(parse("{\"proxy\":\"http://127.0.0.1:1\",\"token\":\"t\"}"));
        QCOMPARE(SYNC().proxy, u"http://127.0.0.1:1"_s);
        QCOMPARE(SYNC().token, u"t"_s);
        // Missing or mistyped: empty, replacing what the last payload set.
        popup.render(parse("{\"proxy\":3}"));
        QCOMPARE(SYNC().proxy, QString());
        QCOMPARE(SYNC().token, QString());
    }

    void renderReplacesRegistries()
    {
        Popup popup(PopupOptions{});
        popup.render(parse("{\"draft\":\"a\",\"cn\":\"b\"}"));
        QPointer<QPlainTextEdit> draft = textView(u"d0-text"_s);
        QVERIFY(draft);
        QCOMPARE(copyTargets.size(), 1);
        popup.render(parse("{}")); // refusal layout: no boxes, no copy button
        QVERIFY(!textView(u"d0-text"_s));
        QCOMPARE(copyTargets.size(), 0);
        QCOMPARE(toggleTargets.size(), 0);
        QCOMPARE(editTargets.size(), 0);
    }

    void renderDuringAButtonsOwnClick()
    {
        // A payload can arrive inside a click (through a nested event loop);
        // the old content must survive until the click has returned.
        Popup popup(PopupOptions{});
        popup.render(parse("{\"draft\":\"\",\"note\":\"n\"}"));
        popup.render(parse("{\"draft\":\"a\",\"cn\":\"b\"}"));
        auto *button = popup.content()->findChild<QPushButton *>(u"d0-toggle"_s);
        QVERIFY(button);
        connect(button, &QPushButton::clicked, &popup,
                [&] { popup.render(parse("{\"draft\":\"c\",\"cn\":\"d\"}")); });
        button->click();
        QCOMPARE(textView(u"d0-text"_s)->toPlainText(), u"c"_s);
    }

    void savedFrameIsUsedOnlyWithoutOptions()
    {
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        // 400 x 500 at 100 from the left, its top 100 below the screen's top.
        const double yUp = screen.height() - 100 - 500;
        QSettings(test::settingsFile(), QSettings::IniFormat)
            .setValue(PopupDelegate::frameKey, u"{{100, %1}, {400, 500}}"_s.arg(yUp));
        {
            Popup popup(PopupOptions{});
            popup.render(parse("{}"));
            QCOMPARE(popup.window()->frameGeometry(), QRect(100, 100, 400, 500));
        }
        {
            Popup popup(PopupOptions{QPointF(1, 2), std::nullopt, false});
            popup.render(parse("{}"));
            QCOMPARE(popup.window()->frameGeometry().width(), 400);
            QVERIFY(popup.window()->frameGeometry().topLeft() != QPoint(100, 100));
        }
    }

    // An upstream refresh while the salesperson types: a repeated reply keeps
    // its card and all they did in it; a new one keeps the keyboard in the same
    // box and their text one undo away.
    void refreshKeepsTheSalespersonsWork_data()
    {
        QTest::addColumn<QByteArray>("next");
        QTest::addColumn<bool>("edit");
        QTest::addColumn<QString>("draft");  // the draft box after the render
        QTest::addColumn<QString>("undone"); // ... after one Ctrl+Z
        const QByteArray same =
            R"({"intent":"追问","draft":"Olá","cn":"你好","lang":"pt")" + Reading + '}';
        const QByteArray other =
            R"({"intent":"追问","draft":"Oi","cn":"嗨","lang":"pt")" + Reading + '}';
        QTest::newRow("same reply, edited") << same << true << u"OláEDITED"_s << u"Olá"_s;
        QTest::newRow("same reply, untouched") << same << false << u"Olá"_s << u"Olá"_s;
        QTest::newRow("new reply, edited") << other << true << u"Oi"_s << u"OláEDITED"_s;
        QTest::newRow("new reply, untouched") << other << false << u"Oi"_s << u"Oi"_s;
        QTest::newRow("same draft, new language, mirror and reading")
            << QByteArray(same).replace("pt", "es").replace("你好", "您好").replace("客户", "我")
            << true << u"Olá"_s << u"OláEDITED"_s;
    }
    void refreshKeepsTheSalespersonsWork()
    {
        QFETCH(QByteArray, next);
        QFETCH(bool, edit);
        QFETCH(QString, draft);
        QFETCH(QString, undone);
        const bool kept = draft.startsWith(u"Olá") &&
                          !undone.contains(u"EDITED"); // a new card holds an edit one undo away
        Popup popup(PopupOptions{std::nullopt, QSizeF(400, 300), false});
        popup.render(
            parse(R"({"intent":"询价","draft":"Olá","cn":"你好","lang":"pt")" + Reading + '}'));
        QVERIFY(QTest::qWaitForWindowExposed(popup.window()));
        QPlainTextEdit *old = textView(u"d0-text"_s);
        QPlainTextEdit *mirror = textView(u"d0-cn"_s);
        openMirror(popup.content());
        QCOMPARE(mirror->textCursor().position(), 2); // 编辑中文 puts the caret after the text
        const auto conversation = [&] {
            return popup.content()
                ->findChild<QPlainTextEdit *>(u"session-conversation"_s)
                ->verticalScrollBar();
        };
        QTRY_VERIFY(conversation()->maximum() > 3);
        conversation()->setValue(3);
        old->setFocus();
        old->moveCursor(QTextCursor::End);
        if (edit)
            QTest::keyClicks(old, u"EDITED"_s);
        QScrollBar *bar = popup.scrollArea()->verticalScrollBar();
        QTRY_VERIFY(bar->maximum() > 0);
        bar->setValue(bar->maximum());
        const DraftCopyTarget *copy = copyTargets.at(0);

        popup.render(parse(next));
        QPlainTextEdit *now = textView(u"d0-text"_s);
        QCOMPARE(now == old, kept);
        QCOMPARE(plainText(now), draft);
        QCOMPARE(popup.window()->focusWidget(), now);
        QCOMPARE(now->textCursor().position(), int(draft.size())); // typing goes on at the end
        QCOMPARE(bar->value(), kept ? bar->maximum() : 0);
        // What reaches the card through a registry reaches the one on screen.
        QCOMPARE(copyTargets.size(), 1);
        QCOMPARE(copyTargets.at(0) == copy, kept);
        QCOMPARE(textView(u"d0-cn"_s) == mirror, kept);
        // What was opened to read stays open, and scrolled, while it says the same.
        const bool sameReading = next.contains(Reading);
        for (const QString &name : {u"session-toggle"_s, u"thinking-toggle"_s, u"d0-toggle"_s})
            QCOMPARE(popup.content()->findChild<QPushButton *>(name)->text().startsWith(u'▾'),
                     name == u"d0-toggle" ? kept : sameReading);
        if (sameReading)
            QCOMPARE(conversation()->value(), 3);
        QCOMPARE(SYNC().links().value(u"d0-cn"_s).status.data(),
                 popup.content()->findChild<TextLabel *>(u"d0-status"_s));
        // The open, unlocked mirror and a pending edit live on with the card.
        QCOMPARE(!textView(u"d0-cn"_s)->isReadOnly(), kept);
        const QTimer *debounce = SYNC().findChild<QTimer *>(u"debounce:d0-text"_s);
        QCOMPARE(debounce && debounce->isActive(), kept && edit);

        if (kept && !edit) {
            // Nothing was edited: the window is what a full rebuild shows.
            now->clearFocus();
            conversation()->setValue(0);
            bar->setValue(0);
            QCoreApplication::sendPostedEvents(); // the layouts a render leaves pending
            const QImage shown = popup.window()->grab().toImage();
            popup.render(parse("{}"));
            popup.render(parse(next));
            openMirror(popup.content());
            QTRY_COMPARE(popup.window()->grab().toImage(), shown);
            return;
        }
        QTest::keyClick(now, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(plainText(now), undone);
        QTest::keyClicks(now, u"MORE"_s);
        QCOMPARE(plainText(now).remove(u"MORE"_s), undone);
    }

    // A refresh while the mirror is unlocked: 完成 in the new card hands the
    // keyboard to the new draft, and a salesperson back in the chat keeps it.
    void refreshWithTheMirrorUnlocked_data()
    {
        QTest::addColumn<bool>("inChat");
        QTest::newRow("typing in the mirror") << false;
        QTest::newRow("back in the chat") << true;
    }
    void refreshWithTheMirrorUnlocked()
    {
        QFETCH(bool, inChat);
        QWidget chat;
        chat.show();
        Popup popup(PopupOptions{});
        popup.render(parse(R"({"draft":"Olá","cn":"你好"})"));
        popup.window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(popup.window()));
        textView(u"d0-text"_s)->setFocus();
        openMirror(popup.content());
        textView(u"d0-cn"_s)->setFocus();
        if (inChat) {
            chat.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&chat));
        }
        popup.render(parse(R"({"draft":"Oi","cn":"嗨"})"));
        QCoreApplication::processEvents();
        QCOMPARE(popup.window()->focusWidget(), textView(u"d0-cn"_s));
        QCOMPARE(QApplication::activeWindow(), inChat ? &chat : popup.window());
        if (inChat)
            return;
        popup.content()->findChild<QPushButton *>(u"d0-edit"_s)->click();
        QCOMPARE(popup.window()->focusWidget(), textView(u"d0-text"_s));
    }

    void drawsTheSameUnderEveryTheme_data()
    {
        QTest::addColumn<QStringList>("env");
        QTest::addColumn<QString>("plugin"); // a platform theme the row needs
        QTest::newRow("GTK, Adwaita dark")
            << QStringList{u"QT_QPA_PLATFORMTHEME=gtk3"_s, u"GTK_THEME=Adwaita:dark"_s}
            << u"platformthemes/libqgtk3.so"_s;
        QTest::newRow("Windows style") << QStringList{u"QT_STYLE_OVERRIDE=windows"_s} << QString();
        QTest::newRow("qt6ct, darker")
            << QStringList{u"QT_QPA_PLATFORMTHEME=qt6ct"_s} << u"platformthemes/libqt6ct.so"_s;
    }

    void drawsTheSameUnderEveryTheme()
    {
        QFETCH(QStringList, env);
        QFETCH(QString, plugin);
        if (!plugin.isEmpty() &&
            !QDir(QLibraryInfo::path(QLibraryInfo::PluginsPath)).exists(plugin))
            QSKIP(qPrintable(u"the platform theme is not installed: "_s + plugin));
        XvfbServer x;
        if (!x.start())
            QSKIP("no Xvfb");
        const Drawn plain = drawUnder(x.display(), {});
        const Drawn themed = drawUnder(x.display(), env);
        QVERIFY(!plain.window.isNull() && !plain.confirmation.isNull());
        QVERIFY2(themed.theme != plain.theme, qPrintable(u"theme not in force: "_s + themed.theme));
        QCOMPARE(themed.window, plain.window);
        QCOMPARE(themed.confirmation, plain.confirmation);
    }

    void confirmationBelongsToThePopup_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("Return") << int(Qt::Key_Return);
        QTest::newRow("Escape") << int(Qt::Key_Escape);
    }

    void confirmationBelongsToThePopup()
    {
        QFETCH(int, key);
        Popup popup(PopupOptions{});
        popup.render(parse(R"({"draft":"Olá","cn":"你好"})"));
        QVERIFY(QTest::qWaitForWindowExposed(popup.window()));
        QStringList wrong; // what the salesperson would find amiss
        whileConfirming(popup.content(), [&](QMessageBox *box) {
            QWidget *win = popup.window();
            const auto expect = [&](bool holds, const char *what) {
                if (!holds)
                    wrong << QString::fromLatin1(what);
            };
            expect(box->parentWidget() == win, "owned by the popup's window");
            expect(box->windowHandle()->transientParent() == win->windowHandle(), "transient");
            expect((box->windowFlags() & (Qt::CustomizeWindowHint | Qt::WindowMinimizeButtonHint |
                                          Qt::WindowMaximizeButtonHint)) == Qt::CustomizeWindowHint,
                   "no minimise or maximise");
            const QPoint centre = box->frameGeometry().center();
            expect(qAbs(centre.x() - win->frameGeometry().center().x()) <= 2 &&
                       win->frameGeometry().contains(centre),
                   "centred on the popup");
            // A window manager's title font is larger and bold, beside an
            // icon and the iconify, maximise and close buttons.
            QFont titleFont = box->font();
            titleFont.setBold(true);
            titleFont.setPointSizeF(titleFont.pointSizeF() * 1.25);
            expect(box->width() >=
                       QFontMetrics(titleFont).horizontalAdvance(box->windowTitle()) + 4 * 24,
                   "room for the title");
            for (const QLabel *info : box->findChildren<QLabel *>()) {
                if (info->text() == box->informativeText())
                    expect(info->width() >=
                               QFontMetrics(info->font()).horizontalAdvance(info->text()),
                           "text on one line");
            }
            // A payload arriving meanwhile rebuilds the content, not the window.
            popup.render(parse(R"({"draft":"Oi","cn":"嗨"})"));
            QTest::keyClick(box->focusWidget() ? box->focusWidget() : box, Qt::Key(key));
            expect(!box->isVisible(), "closed by the key");
        });
        QCOMPARE(wrong.join(u", "_s), QString());
        QCOMPARE(QGuiApplication::clipboard()->text(), u"Olá"_s);
        QCOMPARE(plainText(textView(u"d0-text"_s)), u"Oi"_s);
    }

    void movesAreRemembered()
    {
        Popup popup(PopupOptions{});
        popup.render(parse("{}"));
        auto *window = static_cast<PopupWindow *>(popup.window());
        QTRY_VERIFY(window->placed()); // the program's own placement is not the user's
        window->move(20, 30);
        window->move(30, 40);
        QVERIFY(!PopupDelegate::savedFrame()); // a drag is written once it stops, not every step
        std::optional<QRectF> saved;
        QTRY_VERIFY((saved = PopupDelegate::savedFrame()));
        const QRect frame = popup.window()->frameGeometry();
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(*saved, QRectF(frame.x(), screen.height() - frame.y() - frame.height(),
                                frame.width(), frame.height()));
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setAttribute(Qt::AA_Use96Dpi, true);
    if (argc == 3 && qstrcmp(argv[1], "--draw") == 0)
        return drawForComparison(QString::fromLocal8Bit(argv[2]));
    TestPopup test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_popup.moc"
