#include "popupprocess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QByteArray First = "{\"intent\":\"first\",\"draft\":\"Olá\",\"cn\":\"你好\"}\n";
// The offscreen screen is 800 x 800: the default frame sits 12 from its edges.
const QByteArray DefaultFrame = "FRAME x=388 y_from_top=12 w=400 h=776 first=true";

qint64 peakRssKiB(qint64 pid)
{
    QFile status(u"/proc/%1/status"_s.arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void inputClosedMidLine()
    {
        PopupProcess p;
        p.start({u"--debug"_s});
        p.write(First + "{\"intent\":\"cut sh");
        p.closeInput();
        QVERIFY(p.finish());
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(p.lines("FRAME ").size(), 1);
    }

    void devNullAsInput()
    {
        PopupProcess p;
        p.expectedErr = "moxel-popup: 第一行不是合法 JSON\n";
        p.process.setStandardInputFile(QProcess::nullDevice());
        p.start({});
        QVERIFY(p.finish());
        QCOMPARE(p.exitCode(), 2);
        QCOMPARE(p.err, QByteArray("moxel-popup: 第一行不是合法 JSON\n"));
    }

    void overlongLineCostsBoundedMemory()
    {
        // 100 MiB in one line, its tail shaped like a payload: refused whole,
        // never buffered whole, and the tail is not taken for a line.
        PopupProcess p;
        p.start({u"--debug"_s});
        p.write(First);
        QVERIFY(p.waitForLines("FRAME ", 1));
        const QByteArray chunk(1 << 20, 'A');
        for (int i = 0; i < 100; ++i) {
            p.write(chunk);
            p.process.waitForBytesWritten(30000);
        }
        p.write("{\"intent\":\"tail\"}\n{\"intent\":\"after\"}\n");
        QVERIFY(p.waitForLines("FRAME ", 2, 60000));
        const qint64 peak = peakRssKiB(p.process.processId());
        p.closeInput();
        QVERIFY(p.finish(60000));
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(p.lines("FRAME ").size(), 2);
        QVERIFY2(peak > 0 && peak < 400 * 1024, qPrintable(u"peak RSS %1 KiB"_s.arg(peak)));
    }

    void corruptSettingsFallBack_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QByteArray noise(4096, '\0');
        for (char &c : noise)
            c = char(QRandomGenerator::global()->generate());
        QTest::newRow("random bytes") << noise;
        QTest::newRow("frame off every screen")
            << QByteArray("[General]\nmoxel.popupFrame=\"{{9000, 9000}, {400, 600}}\"\n");
        QTest::newRow("frame too small")
            << QByteArray("[General]\nmoxel.popupFrame=\"{{0, 0}, {339, 600}}\"\n");
        QTest::newRow("not a frame")
            << QByteArray("[General]\nmoxel.popupFrame=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)\n");
    }
    void corruptSettingsFallBack()
    {
        QFETCH(QByteArray, contents);
        PopupProcess p;
        QVERIFY(QDir().mkpath(QFileInfo(p.settingsFile()).path()));
        QFile f(p.settingsFile());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(contents);
        f.close();
        p.start({u"--debug"_s});
        p.write(First);
        p.closeInput();
        QVERIFY(p.finish());
        QVERIFY(!p.crashed());
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(p.lines("FRAME ").value(0), DefaultFrame);
    }

    void unwritableSettingsFolder()
    {
        // The settings folder cannot be made (a file stands where it would go).
        PopupProcess p;
        QFile blocker(QFileInfo(p.settingsFile()).path());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        p.start({u"--debug"_s});
        p.write(First + First);
        p.closeInput();
        QVERIFY(p.finish());
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(p.lines("FRAME ").value(0), DefaultFrame);
        QCOMPARE(p.lines("FRAME ").size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
