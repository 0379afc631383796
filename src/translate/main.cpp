#include "config.h"
#include "demo.h"
#include "http.h"
#include "httpclient.h"
#include "libretranslate.h"
#include "moxel_version.h"
#include "openai.h"
#include "service.h"

#include <QCoreApplication>
#include <QFile>

#include <csignal>
#include <cstdio>
#include <memory>

using namespace Qt::StringLiterals;
using namespace moxel::xlate;

namespace {

// Configuration errors do not go away by starting again; the user unit
// tells systemd so with this status (EX_CONFIG).
constexpr int ConfigError = 78;

void printLine(FILE *stream, const QString &line)
{
    std::fputs((line + u'\n').toUtf8().constData(), stream);
    std::fflush(stream);
}

} // namespace

int main(int argc, char **argv)
{
    // A launcher that stops reading our log must not end the service with it.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"moxel-translate"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(MOXEL_VERSION));

    const ConfigResult parsed =
        parseConfig(QCoreApplication::arguments(), [](const char *name) { return qgetenv(name); });
    if (parsed.help) {
        std::fputs(helpText().toUtf8().constData(), stdout);
        return 0;
    }
    if (parsed.version) {
        printLine(stdout, u"moxel-translate "_s + QCoreApplication::applicationVersion());
        return 0;
    }
    if (!parsed.config) {
        printLine(stderr, u"moxel-translate: "_s + parsed.error);
        if (!parsed.fileError)
            printLine(stderr, u"Try 'moxel-translate --help'."_s);
        return ConfigError;
    }
    const Config &config = *parsed.config;

    // The upstream is reached as the user's other programs reach it: through
    // the proxy the environment names, trusting the system's CAs and the
    // configured one.
    auto *network = new moxel::net::HttpClient(
        {moxel::net::HttpClient::Proxy::Environment, config.upstream.caFile}, &app);
    std::unique_ptr<Backend> backend;
    if (config.backend == u"libretranslate") {
        backend = std::make_unique<LibreTranslateBackend>(config.upstream, network);
    } else if (config.backend == u"openai") {
        backend = std::make_unique<OpenAiBackend>(config.upstream, config.model, network);
    } else {
        PhraseTable table = PhraseTable::builtIn();
        if (!config.phrasesFile.isEmpty()) {
            QFile file(config.phrasesFile);
            QString error = file.errorString();
            std::optional<PhraseTable> extra;
            if (file.open(QIODevice::ReadOnly))
                extra = PhraseTable::fromJson(file.readAll(), &error);
            else
                error = file.errorString();
            if (!extra) {
                printLine(stderr, u"moxel-translate: %1: %2"_s.arg(config.phrasesFile, error));
                return ConfigError;
            }
            table.merge(*extra);
        }
        backend = std::make_unique<DemoBackend>(table);
    }

    TranslateService service(backend.get(), config.service);
    HttpServer server(config.limits);
    server.setHandler([&service](HttpExchange *exchange) { service.handle(exchange); });
    service.logExchanges(&server, [](const QString &line) { printLine(stderr, line); });
    bool listening = server.listen(QHostAddress::LocalHost, config.port);
    // Callers that read the address file find the service on any port; on a
    // machine shared by several users, the usual one may be someone else's.
    if (!listening && config.port != 0 && !config.addressFile.isEmpty()) {
        printLine(stderr, u"moxel-translate: 127.0.0.1:%1 is taken (%2); a free port instead"_s.arg(
                              QString::number(config.port), server.errorString()));
        listening = server.listen(QHostAddress::LocalHost, 0);
    }
    if (!listening) {
        printLine(stderr, u"moxel-translate: cannot listen on 127.0.0.1:%1: %2"_s.arg(
                              QString::number(config.port), server.errorString()));
        return 1;
    }
    const QString address = u"http://127.0.0.1:%1"_s.arg(server.port());
    if (!config.addressFile.isEmpty()) {
        if (const QString error = writeAddressFile(config.addressFile, address); !error.isEmpty()) {
            printLine(stderr, u"moxel-translate: "_s + error);
            return ConfigError;
        }
    }
    printLine(stdout, address);
    printLine(stderr,
              u"moxel-translate: backend %1%2, X-Token %3, listening on %4"_s.arg(
                  backend->name(),
                  config.backend == u"demo" ? QString()
                                            : u" at "_s + config.upstream.base.toDisplayString(),
                  config.service.token.isEmpty() ? u"not required"_s : u"required"_s, address));
    return QCoreApplication::exec();
}
