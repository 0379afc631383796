// Sends translation requests one after another, as the popup does, and prints
// how each ended and after how long: run it under /usr/bin/time -v against
// bench/hostile-service.py to see what a hostile service costs the popup.
//
//   request-bench http://127.0.0.1:PORT [COUNT]
#include "servicerequest.h"
#include "synccontroller.h"
#include "translation.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

using namespace Qt::StringLiterals;
using namespace moxel;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fputs("usage: request-bench PROXY [COUNT]\n", stderr);
        return 2;
    }
    setHttpModuleFile(QStringLiteral(MOXEL_HTTP_MODULE));
    SYNC().proxy = QString::fromLocal8Bit(argv[1]);
    SYNC().debug = true;
    setSyncLineSink([](const QString &line) {
        std::printf("  %s\n", line.left(160).toUtf8().constData());
        std::fflush(stdout);
    });
    const int count = argc > 2 ? std::atoi(argv[2]) : 1;
    int done = 0;
    QElapsedTimer clock;
    std::function<void()> next = [&] {
        clock.start();
        translate(u"Olá"_s, u"zh"_s, [&](const std::optional<QString> &text) {
            std::printf("request %d: %s after %.1f s\n", done + 1, text ? "translated" : "failed",
                        double(clock.elapsed()) / 1000);
            std::fflush(stdout);
            if (++done == count)
                QCoreApplication::quit();
            else
                next();
        });
    };
    next();
    return app.exec();
}
