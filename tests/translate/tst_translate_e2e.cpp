#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

// The popup's sync self-test against the real service binary: the edited
// Portuguese draft must come back as the demo table's Chinese.
class TestTranslateEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void popupSelfTestThroughDemo();
};

void TestTranslateEndToEnd::popupSelfTestThroughDemo()
{
    const QByteArray token = "e2e-token-7f3a";
    QProcess service;
    QProcessEnvironment serviceEnv = QProcessEnvironment::systemEnvironment();
    serviceEnv.insert(u"MOXEL_TRANSLATE_TOKEN"_s, QString::fromLatin1(token));
    service.setProcessEnvironment(serviceEnv);
    service.start(QStringLiteral(MOXEL_TRANSLATE_BIN),
                  {u"--backend"_s, u"demo"_s, u"--port"_s, u"0"_s});
    QVERIFY2(service.waitForStarted(), qPrintable(service.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(service.canReadLine(), 20000);
    const QString address = QString::fromUtf8(service.readLine()).trimmed();
    QVERIFY2(QRegularExpression(u"^http://127\\.0\\.0\\.1:\\d+$"_s).match(address).hasMatch(),
             qPrintable(address));

    QFile examples(QStringLiteral(MOXEL_SOURCE_DIR "/examples/demo.jsonl"));
    QVERIFY(examples.open(QIODevice::ReadOnly));
    QJsonObject payload = QJsonDocument::fromJson(examples.readLine()).object();
    QVERIFY(!payload.value(u"draft"_s).toString().isEmpty());
    QVERIFY(!payload.value(u"cn"_s).toString().isEmpty());
    payload.insert(u"proxy"_s, address);
    payload.insert(u"token"_s, QString::fromLatin1(token));

    QProcess popup;
    QProcessEnvironment popupEnv = QProcessEnvironment::systemEnvironment();
    popupEnv.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    popup.setProcessEnvironment(popupEnv);
    popup.start(QStringLiteral(MOXEL_POPUP_BIN), {u"--selftest-sync"_s});
    QVERIFY2(popup.waitForStarted(), qPrintable(popup.errorString()));
    // Standard input stays open: its end would close the popup before the report.
    popup.write(QJsonDocument(payload).toJson(QJsonDocument::Compact) + '\n');

    QSignalSpy finished(&popup, &QProcess::finished);
    QVERIFY(finished.wait(90000));
    const QString out = QString::fromUtf8(popup.readAllStandardOutput());
    QCOMPARE(popup.exitStatus(), QProcess::NormalExit);
    QCOMPARE(popup.exitCode(), 0);
    QVERIFY2(out.contains(
                 u"SYNC-SELFTEST 回填的中文：你好 Duvo，这款口红 5000 支的价格是每支 USD 1.25。"_s),
             qPrintable(out));

    service.terminate();
    QVERIFY(service.waitForFinished(20000));
    const QString log = QString::fromUtf8(service.readAllStandardError());
    QVERIFY2(log.contains(u"backend=demo to=zh status=200"_s), qPrintable(log));
    QVERIFY(!log.contains(QString::fromLatin1(token)));
    QVERIFY(!log.contains(u"Duvo"_s));
}

QTEST_GUILESS_MAIN(TestTranslateEndToEnd)
#include "tst_translate_e2e.moc"
