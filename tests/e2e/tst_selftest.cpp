// The sync self-test of the real binary against a local translation service.
#include "popupprocess.h"
#include "testjson.h"
#include "testservice.h"

#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using moxel::test::RecordedRequest;
using moxel::test::Reply;
using moxel::test::TestService;

namespace {

const QString Sample = u"Olá Duvo, o preço deste batom é USD 1,25 por peça para 5000 peças."_s;
const QString Edited = u"SYNC-SELFTEST: 已模拟编辑第一份草稿（葡语）"_s;
const QString Missing = u"SYNC-SELFTEST: 找不到可编辑文本框"_s;
const QString Report = u"SYNC-SELFTEST 回填的中文："_s;
// The service's answer starts with no-break spaces and a line separator, which
// the report must print as they are.
const QString Translated = u"译文\u00A0:\u2028"_s;

} // namespace

class TestSelfTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void run_data();
    void run();
};

void TestSelfTest::run_data()
{
    QTest::addColumn<QString>("draft");
    QTest::addColumn<QString>("cn");
    QTest::addColumn<bool>("answers");
    QTest::addColumn<QStringList>("expected"); // the SYNC-SELFTEST lines
    QTest::addColumn<int>("requests");

    QTest::newRow("full run") << u"Olá"_s << u"你好"_s << true
                              << QStringList{Edited, Report + Translated + Sample} << 1;
    QTest::newRow("no draft") << QString() << u"你好"_s << true << QStringList{Missing} << 0;
    QTest::newRow("no mirror") << u"Olá"_s << QString() << true
                               << QStringList{Edited, Report + u"（空）"_s} << 0;
    // The report comes while the request is still in flight: the mirror keeps
    // its text and the program still ends cleanly.
    QTest::newRow("service silent")
        << u"Olá"_s << u"你好"_s << false << QStringList{Edited, Report + u"你好"_s} << 1;
}

void TestSelfTest::run()
{
    QFETCH(QString, draft);
    QFETCH(QString, cn);
    QFETCH(bool, answers);
    QFETCH(QStringList, expected);
    QFETCH(int, requests);

    TestService service;
    QVERIFY(service.isListening());
    if (answers) {
        service.setHandler([](const RecordedRequest &request) {
            return Reply::text(Translated + request.json().value(u"text"_s).toString());
        });
    } else {
        service.setReply(Reply::never());
    }

    PopupProcess popup;
    popup.env.insert(u"MOXEL_TEST_TIME_SCALE"_s, u"0.1"_s); // the report at 3.2 s
    QSignalSpy finished(&popup.process, &QProcess::finished);
    popup.start({u"--selftest-sync"_s, u"--debug"_s});

    QJsonObject payload{{u"proxy"_s, service.baseUrl() + u"/"_s},
                        {u"token"_s, u"tk-1"_s},
                        {u"lang"_s, u"pt"_s},
                        {u"lang_name"_s, u"葡萄牙语"_s}};
    if (!draft.isEmpty())
        payload.insert(u"draft"_s, draft);
    if (!cn.isEmpty())
        payload.insert(u"cn"_s, cn);
    popup.write(moxel::test::compact(payload) + '\n');
    // Standard input stays open: its end would end the program first.

    // The service answers from this event loop, so wait for the end here.
    QVERIFY(finished.wait(30000));
    QVERIFY(popup.finish(0));
    QVERIFY(!popup.crashed());
    QCOMPARE(popup.exitCode(), 0);

    const QStringList out = QString::fromUtf8(popup.out).split(u'\n');
    QCOMPARE(out.filter(QRegularExpression(u"^SYNC-SELFTEST"_s)), expected);

    QCOMPARE(service.count(), requests);
    if (requests > 0) {
        const RecordedRequest request = service.requests().first();
        QCOMPARE(request.path, QByteArray("/translate"));
        QCOMPARE(request.header("X-Token"), QByteArray("tk-1"));
        QCOMPARE(request.json(), QJsonObject({{u"text"_s, Sample}, {u"to"_s, u"zh"_s}}));
        // Typing the sentence counts as one edit, and writing the answer as none.
        QCOMPARE(out.filter(QRegularExpression(u"^SYNC: 检测到编辑 "_s)),
                 QStringList{u"SYNC: 检测到编辑 d0-text"_s});
    }
}

QTEST_GUILESS_MAIN(TestSelfTest)
#include "tst_selftest.moc"
