#include "testjson.h"

#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

// The popup's sync self-test against the real service binary: the edited
// Portuguese draft must come back as the demo table's Chinese.
class TestTranslateEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void popupSelfTestThroughDemo();
    void exitStatus_data();
    void exitStatus();
    void addressFile();
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
    QJsonObject payload = moxel::test::parse(examples.readLine());
    QVERIFY(!payload.value(u"draft"_s).toString().isEmpty());
    QVERIFY(!payload.value(u"cn"_s).toString().isEmpty());
    payload.insert(u"proxy"_s, address);
    payload.insert(u"token"_s, QString::fromLatin1(token));

    QProcess popup;
    QProcessEnvironment popupEnv = QProcessEnvironment::systemEnvironment();
    popupEnv.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    popupEnv.insert(u"MOXEL_TEST_TIME_SCALE"_s, u"0.1"_s); // the report at 3.2 s
    popup.setProcessEnvironment(popupEnv);
    popup.start(QStringLiteral(MOXEL_POPUP_BIN), {u"--selftest-sync"_s});
    QVERIFY2(popup.waitForStarted(), qPrintable(popup.errorString()));
    // Standard input stays open: its end would close the popup before the report.
    popup.write(moxel::test::compact(payload) + '\n');

    QSignalSpy finished(&popup, &QProcess::finished);
    QVERIFY(finished.wait(30000));
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

void TestTranslateEndToEnd::exitStatus_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("lines"); // on standard error
    // The user unit restarts the service after 1, and not after 78.
    QTest::newRow("bad option") << QStringList{u"--port"_s, u"none"_s} << 78 << 2;
    QTest::newRow("port taken") << QStringList{u"--port"_s, u"{taken}"_s} << 1 << 1;
    QTest::newRow("token file is a pipe") << QStringList{u"--token-file"_s, u"{pipe}"_s} << 78 << 1;
}

void TestTranslateEndToEnd::exitStatus()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(int, lines);
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
    QTemporaryDir dir;
    const QString pipe = dir.filePath(u"pipe"_s);
    QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    args.replaceInStrings(u"{taken}"_s, QString::number(taken.serverPort()))
        .replaceInStrings(u"{pipe}"_s, pipe);
    QProcess service;
    service.start(QStringLiteral(MOXEL_TRANSLATE_BIN), args);
    QVERIFY(service.waitForFinished(20000));
    QCOMPARE(service.exitStatus(), QProcess::NormalExit);
    QCOMPARE(service.exitCode(), status);
    const QByteArray error = service.readAllStandardError();
    QVERIFY(error.startsWith("moxel-translate: "));
    QCOMPARE(error.count('\n'), lines);
}

void TestTranslateEndToEnd::addressFile()
{
    // The usual port taken: a free one, and the file says which, privately.
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
    QTemporaryDir dir;
    const QString file = dir.filePath(u"translate.address"_s);
    QProcess service;
    service.start(QStringLiteral(MOXEL_TRANSLATE_BIN),
                  {u"--port"_s, QString::number(taken.serverPort()), u"--address-file"_s, file});
    QTRY_VERIFY_WITH_TIMEOUT(service.canReadLine(), 20000);
    const QByteArray address = service.readLine();
    QVERIFY(!address.endsWith(':' + QByteArray::number(taken.serverPort()) + '\n'));
    QCOMPARE(QFile::permissions(file) & 0x0777, QFile::ReadUser | QFile::WriteUser);
    QFile written(file);
    QVERIFY(written.open(QIODevice::ReadOnly) && written.readAll() == address);
    service.terminate();
    QVERIFY(service.waitForFinished(20000));
}

QTEST_GUILESS_MAIN(TestTranslateEndToEnd)
#include "tst_translate_e2e.moc"
