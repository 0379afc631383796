// The network half of a translation request, built as the moxel-http module.
#include "httpclient.h"
#include "httpmodule.h"

namespace moxel {

namespace {

QObject *makeSession(QObject *parent)
{
    // The service is on this machine: no proxy, whatever the environment says.
    return new net::HttpClient({net::HttpClient::Proxy::None, {}}, parent);
}

void send(QObject *session, const HttpPost &post, HttpDone done)
{
    net::HttpRequest request;
    request.method = QByteArrayLiteral("POST");
    request.url = post.url;
    request.headers.append(
        {QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/json")});
    if (!post.token.isEmpty())
        request.headers.append({QByteArrayLiteral("X-Token"), post.token});
    request.body = post.body;
    request.maxBody = post.maxAnswerBytes;
    request.idleTimeout = std::chrono::milliseconds(post.transferTimeoutMs);
    request.deadline = std::chrono::milliseconds(post.deadlineMs);

    auto *client = static_cast<net::HttpClient *>(session);
    net::HttpTransfer *transfer = client->send(request);
    QObject::connect(transfer, &net::HttpTransfer::finished, client,
                     [done = std::move(done)](const net::HttpResponse &response) {
                         HttpPostResult exchange;
                         exchange.tooLarge =
                             response.failure == net::HttpResponse::Failure::BodyTooLarge;
                         if (!response.ok() && !exchange.tooLarge)
                             exchange.failure = response.reason;
                         exchange.body = response.body;
                         done(exchange);
                     });
}

const HttpModule Table{HttpModuleAbi, &makeSession, &send};

} // namespace

} // namespace moxel

extern "C" Q_DECL_EXPORT const moxel::HttpModule *moxel_http_module()
{
    return &moxel::Table;
}
