// Quits while the sync controller still has work: a pending debounce
// ("pending") or a request the service never answers ("inflight").
#include "servicerequest.h"
#include "synccontroller.h"
#include "testservice.h"
#include "textlabel.h"
#include "textrules.h"
#include "textviews.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace moxel;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const bool inFlight = app.arguments().value(1) == u"inflight"_s;

    setHttpModuleFile(QStringLiteral(MOXEL_HTTP_MODULE));
    test::TestService service;
    service.setReply(test::Reply::never());

    QPlainTextEdit draft;
    QPlainTextEdit mirror;
    TextLabel status{QString()};
    TEXT_VIEWS.insert(u"d0-text"_s, &draft);
    TEXT_VIEWS.insert(u"d0-cn"_s, &mirror);
    SYNC().proxy = service.baseUrl();
    if (inFlight) // no need to wait the whole pause for the request
        SYNC().setDebounce(std::chrono::milliseconds(100));
    SYNC().registerLink(u"d0-text"_s, u"d0-cn"_s, u"zh"_s, u"中文"_s, &status);
    SYNC().registerLink(u"d0-cn"_s, u"d0-text"_s, u"pt"_s, u"葡萄牙语"_s, &status);

    const auto quit = [] {
        printLine(u"quitting"_s);
        QCoreApplication::quit();
    };
    if (inFlight)
        QObject::connect(&service, &test::TestService::requestReceived, &app, quit);
    else
        QTimer::singleShot(0, &app, quit);

    draft.setPlainText(u"Olá"_s);
    return app.exec();
}
