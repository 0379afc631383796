// Why the network half is not Qt's own HTTP stack: with the read buffer
// size set, QNetworkAccessManager (Qt 6.4) bounds an answer's body, but not
// its head. Run against bench/hostile-service.py endless-header or
// interim-heads: the reply never fails, reading for as long as the service
// sends (seen here: still waiting after 15 s, 12-20 MB), and a transfer
// timeout would not end it either, since data keeps coming. The same answers
// end at once in HttpClient (bench/request-bench).
//
//   qnam-probe http://127.0.0.1:PORT [SECONDS]
#include <QCoreApplication>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include <cstdio>

namespace {

QByteArray peakMemory()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).simplified();
    }
    return {};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fputs("usage: qnam-probe URL [SECONDS]\n", stderr);
        return 2;
    }
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 20;
    QNetworkAccessManager network;
    QNetworkRequest request(QUrl::fromUserInput(QString::fromLocal8Bit(argv[1])));
    request.setTransferTimeout(0);
    QNetworkReply *reply = network.get(request);
    reply->setReadBufferSize(64 * 1024);
    QObject::connect(reply, &QNetworkReply::finished, &app, [&] {
        std::printf("finished: %s; peak memory %s\n", qPrintable(reply->errorString()),
                    peakMemory().constData());
        app.quit();
    });
    QTimer::singleShot(seconds * 1000, &app, [&] {
        std::printf("still waiting after %d s; peak memory %s\n", seconds,
                    peakMemory().constData());
        app.exit(1);
    });
    return app.exec();
}
