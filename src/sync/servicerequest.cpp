#include "servicerequest.h"

#include "httpmodule.h"
#include "portowner.h"
#include "synccontroller.h"
#include "translation.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>

using namespace Qt::StringLiterals;

namespace moxel {

namespace {

struct ModuleState
{
    QString file; // empty: next to the program
    const HttpModule *table = nullptr;
    std::chrono::milliseconds transferTimeout = TransferTimeout;
    std::chrono::milliseconds deadline = RequestDeadline;
};

ModuleState &moduleState()
{
    static ModuleState state;
    return state;
}

QString defaultModuleFile()
{
    const QDir programDir(QCoreApplication::applicationDirPath());
    const QString installed = QDir::cleanPath(
        programDir.filePath(QStringLiteral(MOXEL_HTTP_MODULE_DIR "/" MOXEL_HTTP_MODULE_NAME)));
    const QString beside = programDir.filePath(QStringLiteral(MOXEL_HTTP_MODULE_NAME));
    return QFile::exists(installed) || !QFile::exists(beside) ? installed : beside;
}

// The module's table, loaded on first use; null with the reason in `why`.
// A failed load is tried again at the next request.
const HttpModule *httpModule(QString *why)
{
    ModuleState &state = moduleState();
    if (state.table)
        return state.table;
    QLibrary library(state.file.isEmpty() ? defaultModuleFile() : state.file);
    if (!library.load()) {
        *why = library.errorString();
        return nullptr;
    }
    const auto entry = reinterpret_cast<HttpModuleEntryFunction>(library.resolve(HttpModuleEntry));
    const HttpModule *table = entry ? entry() : nullptr;
    if (!table || table->abi != HttpModuleAbi) {
        *why = table ? u"%1: ABI %2, expected %3"_s.arg(library.fileName())
                           .arg(table->abi)
                           .arg(HttpModuleAbi)
                     : library.errorString();
        library.unload();
        return nullptr;
    }
    // Never unloaded: sessions and replies run the module's code until the end.
    state.table = table;
    return table;
}

void deliver(TranslateDone done, std::optional<QString> result)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [done = std::move(done), result = std::move(result)] { done(result); },
        Qt::QueuedConnection);
}

} // namespace

QObject *newSession(QObject *parent)
{
    QString why;
    const HttpModule *http = httpModule(&why);
    return http ? http->newSession(parent) : nullptr;
}

void setHttpModuleFile(const QString &file)
{
    moduleState().file = file;
    moduleState().table = nullptr;
}

void setRequestTimeouts(std::chrono::milliseconds transfer, std::chrono::milliseconds deadline)
{
    moduleState().transferTimeout = transfer;
    moduleState().deadline = deadline;
}

void translate(const QString &text, const QString &to, TranslateDone done)
{
    SyncController &sync = SYNC();
    const std::optional<QUrl> url = translateUrl(sync.proxy);
    if (!url || !tokenUsable(sync.token)) {
        done(std::nullopt);
        return;
    }
    // A service of another user's on this port would read the token and the text.
    if (const QString foreign = foreignListener(*url); !foreign.isEmpty()) {
        if (sync.debug)
            syncLine(requestErrorLine(foreign));
        done(std::nullopt);
        return;
    }

    QString why;
    const HttpModule *http = httpModule(&why);
    if (!http) {
        if (sync.debug)
            syncLine(requestErrorLine(why));
        done(std::nullopt);
        return;
    }

    const HttpPost post{*url,
                        sync.token.toUtf8(),
                        requestBody(text, to),
                        MaxAnswerBytes,
                        int(moduleState().transferTimeout.count()),
                        int(moduleState().deadline.count())};
    http->post(sync.session(), post, [done = std::move(done)](const HttpPostResult &exchange) {
        const bool debug = SYNC().debug;
        if (exchange.tooLarge) {
            if (debug)
                syncLine(u"SYNC: 返回体过大，已中止（超过 "_s + QString::number(MaxAnswerBytes) +
                         u" 字节）"_s);
            deliver(done, std::nullopt);
            return;
        }
        QStringList lines;
        if (!exchange.failure.isEmpty())
            lines << requestErrorLine(exchange.failure);
        Answer answer = readAnswer(exchange.body);
        lines << answer.debugLines;
        if (debug) {
            for (const QString &line : std::as_const(lines))
                syncLine(line);
        }
        deliver(done, std::move(answer.text));
    });
}

} // namespace moxel
