#include "config.h"

#include "httpclient.h"

#include <QCommandLineParser>
#include <QFile>
#include <QSaveFile>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace moxel::xlate {

namespace {

const QStringList BACKENDS = {u"demo"_s, u"libretranslate"_s, u"openai"_s};

// Secrets go into request headers and bodies: a line break in one could add
// a header of its own.
bool plainSecret(const QByteArray &secret)
{
    return std::none_of(secret.begin(), secret.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

// `path` opened for reading when it is a regular file, with its mode in
// `mode`; a pipe would block the open and a device never end.
bool openRegular(QFile *file, const QString &path, mode_t *mode, QString *error)
{
    // Without O_NONBLOCK, opening a pipe waits for a writer that may never come.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = u"cannot read %1: %2"_s.arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    struct stat info
    {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        *error = u"%1 is not a regular file (a pipe, a device or a folder)"_s.arg(path);
        return false;
    }
    *mode = info.st_mode;
    return true;
}

std::optional<QByteArray> readSecret(const QString &path, QString *error)
{
    QFile file;
    mode_t mode = 0;
    if (!openRegular(&file, path, &mode, error))
        return std::nullopt;
    // As ssh does with keys: a secret that other users can read is no longer
    // one, and saying so now is kinder than a leak found later.
    if (mode & 077) {
        *error = u"%1 is open to other users (mode %2); make it private with: chmod 600 %1"_s.arg(
            path, QString::number(mode & 0777, 8).rightJustified(4, u'0'));
        return std::nullopt;
    }
    const QByteArray secret = file.read(64 * 1024).trimmed();
    if (secret.isEmpty()) {
        *error = u"%1 is empty"_s.arg(path);
        return std::nullopt;
    }
    if (!plainSecret(secret)) {
        *error = u"%1 holds a line break or another control character"_s.arg(path);
        return std::nullopt;
    }
    return secret;
}

// The first of `names` that is set, trimmed.
std::optional<QByteArray> envSecret(const EnvLookup &env, std::initializer_list<const char *> names,
                                    QString *error)
{
    for (const char *name : names) {
        const QByteArray secret = env(name).trimmed();
        if (secret.isEmpty())
            continue;
        if (!plainSecret(secret)) {
            *error = u"%1 holds a line break or another control character"_s.arg(
                QLatin1StringView(name));
            return std::nullopt;
        }
        return secret;
    }
    return QByteArray();
}

std::optional<QUrl> upstreamUrl(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() ||
        (url.scheme() != u"http" && url.scheme() != u"https") || url.hasQuery())
        return std::nullopt;
    return url;
}

// A CA file that cannot be read would leave the company's server untrusted
// and every translation failing; better to say so at start.
bool holdsCertificate(const QString &path, QString *error)
{
    QFile file;
    mode_t mode = 0;
    if (!openRegular(&file, path, &mode, error)) {
        error->prepend(u"--ca-file: "_s);
        return false;
    }
    if (!file.read(16 * 1024 * 1024).contains("-----BEGIN CERTIFICATE-----")) {
        *error = u"--ca-file: %1 holds no PEM certificate"_s.arg(path);
        return false;
    }
    return true;
}

} // namespace

QString helpText()
{
    return uR"(Usage: moxel-translate [options]

The translation service of moxel-popup. It listens on 127.0.0.1 and answers
  POST /translate  {"text": "...", "to": "zh"}  ->  {"text": "..."}
On failure it answers a non-2xx status with {"error": "..."}.
Requests must name 127.0.0.1:PORT or localhost:PORT as Host, carry no Origin
and send Content-Type: application/json, which keeps web pages out.
At start-up it prints its address, e.g. http://127.0.0.1:8765, on one line of
standard output; every request adds one line to standard error.

Backends (--backend):
  demo            Offline and fixed: translates the sentences of the demo
                  payloads between Portuguese, Chinese, English and (most of
                  them) Spanish, and answers any other text 422 with an error,
                  never with the text unchanged. The default.
  libretranslate  A LibreTranslate server (--url, default http://127.0.0.1:5000).
                  API key, if the server wants one: MOXEL_LIBRETRANSLATE_KEY or
                  --key-file.
  openai          An OpenAI-compatible chat-completions server: llama.cpp,
                  Ollama, vLLM or a hosted one (--url, default
                  http://127.0.0.1:8080; --model is required). API key:
                  MOXEL_OPENAI_API_KEY (else OPENAI_API_KEY) or --key-file.

Options:
  --port N            Port on 127.0.0.1 (default 8765; 0 picks a free one).
  --address-file FILE Once listening, write the address to FILE (mode 0600,
                      replaced whole). With it, a --port that another program
                      holds gives way to a free port: callers read FILE.
  --backend NAME      demo, libretranslate or openai.
  --url URL           Base address of the upstream server.
  --model NAME        Model name sent to an openai backend (e.g. qwen2.5:7b).
                      Also MOXEL_OPENAI_MODEL.
  --key-file FILE     File holding the upstream API key.
  --ca-file FILE      PEM certificates to trust besides the system's, for an
                      upstream signed by a company CA. Also
                      MOXEL_TRANSLATE_CA_FILE. TLS is always verified.
  --token-file FILE   File holding the token callers must send as X-Token.
                      Also MOXEL_TRANSLATE_TOKEN. Without one, no token is
                      checked.
  --timeout SECONDS   Longest wait for an upstream answer (default 40; keep it
                      below the popup's 45).
  --max-body BYTES    Largest request body accepted (default 65536).
  --max-upstream N    Upstream requests in flight at once (default 4); up to 16
                      more wait in line, beyond that the answer is 503.
  --phrases FILE      Extra demo sentences, as {"phrases": [{"pt": "...",
                      "zh": "..."}, ...]}.
  --allow-key-over-plain-http
                      Send the API key to a --url on another machine over
                      plain http://, unencrypted. Refused without it.
  -h, --help          This text.
  --version           The version.

Secrets are never taken from the command line, where other users of the
machine could read them: use the environment or a file that only you can
read (chmod 600). A secret with a line break or another control character
is refused, and so is a key file or token file that others can read.

Examples:
  moxel-translate
  MOXEL_TRANSLATE_TOKEN=s3cret moxel-translate --backend libretranslate \
      --url http://127.0.0.1:5000
  moxel-translate --backend openai --url http://127.0.0.1:11434 --model qwen2.5:7b
)"_s;
}

ConfigResult parseConfig(const QStringList &arguments, const EnvLookup &env)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{u"h"_s, u"help"_s});
    const QCommandLineOption version(u"version"_s);
    const QCommandLineOption port(u"port"_s, {}, u"N"_s);
    const QCommandLineOption backend(u"backend"_s, {}, u"NAME"_s);
    const QCommandLineOption url(u"url"_s, {}, u"URL"_s);
    const QCommandLineOption model(u"model"_s, {}, u"NAME"_s);
    const QCommandLineOption keyFile(u"key-file"_s, {}, u"FILE"_s);
    const QCommandLineOption tokenFile(u"token-file"_s, {}, u"FILE"_s);
    const QCommandLineOption timeout(u"timeout"_s, {}, u"SECONDS"_s);
    const QCommandLineOption maxBody(u"max-body"_s, {}, u"BYTES"_s);
    const QCommandLineOption maxUpstream(u"max-upstream"_s, {}, u"N"_s);
    const QCommandLineOption phrases(u"phrases"_s, {}, u"FILE"_s);
    const QCommandLineOption plainKey(u"allow-key-over-plain-http"_s);
    const QCommandLineOption caFile(u"ca-file"_s, {}, u"FILE"_s);
    const QCommandLineOption addressFile(u"address-file"_s, {}, u"FILE"_s);
    parser.addOptions({help, version, port, backend, url, model, keyFile, tokenFile, timeout,
                       maxBody, maxUpstream, phrases, plainKey, caFile, addressFile});

    ConfigResult result;
    if (!parser.parse(arguments)) {
        static const QStringList secretish = {u"token"_s, u"key"_s, u"api-key"_s, u"password"_s};
        for (const QString &name : parser.unknownOptionNames()) {
            if (secretish.contains(name)) {
                result.error = u"--%1: secrets are not taken from the command line; see "
                               u"--help for the environment variables and files"_s.arg(name);
                return result;
            }
        }
        result.error = parser.errorText();
        return result;
    }
    if (parser.isSet(help)) {
        result.help = true;
        return result;
    }
    if (parser.isSet(version)) {
        result.version = true;
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.error = u"unexpected argument: %1"_s.arg(parser.positionalArguments().first());
        return result;
    }

    Config config;
    if (parser.isSet(backend)) {
        config.backend = parser.value(backend);
        if (!BACKENDS.contains(config.backend)) {
            result.error =
                u"--backend: unknown \"%1\" (demo, libretranslate or openai)"_s.arg(config.backend);
            return result;
        }
    }
    const bool demo = config.backend == u"demo";
    const bool openai = config.backend == u"openai";

    const auto whole = [&](const QCommandLineOption &option, qint64 low, qint64 high, qint64 *out) {
        bool ok = false;
        const qint64 value = parser.value(option).toLongLong(&ok);
        if (!ok || value < low || value > high) {
            result.error = u"--%1: expected a whole number from %2 to %3"_s.arg(
                option.names().constFirst(), QString::number(low), QString::number(high));
            return false;
        }
        *out = value;
        return true;
    };
    qint64 number = 0;
    if (parser.isSet(port)) {
        if (!whole(port, 0, 65535, &number))
            return result;
        config.port = quint16(number);
    }
    if (parser.isSet(maxBody)) {
        if (!whole(maxBody, 1, 64 * 1024 * 1024, &number))
            return result;
        config.limits.maxBody = number;
    }
    if (parser.isSet(maxUpstream)) {
        if (!whole(maxUpstream, 1, 256, &number))
            return result;
        config.service.maxUpstream = int(number);
    }
    if (parser.isSet(timeout)) {
        bool ok = false;
        const double seconds = parser.value(timeout).toDouble(&ok);
        if (!ok || !std::isfinite(seconds) || seconds < 0.01 || seconds > 3600) {
            result.error = u"--timeout: expected seconds, more than 0"_s;
            return result;
        }
        config.service.timeout = std::chrono::milliseconds(qint64(std::llround(seconds * 1000)));
    }
    config.upstream.timeout = config.service.timeout;

    for (const QCommandLineOption *option :
         {&url, &keyFile, &model, &phrases, &plainKey, &caFile}) {
        const bool fits = option == &phrases ? demo : option == &model ? openai : !demo;
        if (parser.isSet(*option) && !fits) {
            result.error = u"--%1 does not apply to --backend %2"_s.arg(
                option->names().constFirst(), config.backend);
            return result;
        }
    }

    const std::optional<QByteArray> token =
        parser.isSet(tokenFile) ? readSecret(parser.value(tokenFile), &result.error)
                                : envSecret(env, {"MOXEL_TRANSLATE_TOKEN"}, &result.error);
    if (!token) {
        result.fileError = parser.isSet(tokenFile);
        return result;
    }
    config.service.token = *token;

    if (!demo) {
        const QString address =
            parser.isSet(url) ? parser.value(url)
                              : (openai ? u"http://127.0.0.1:8080"_s : u"http://127.0.0.1:5000"_s);
        const std::optional<QUrl> base = upstreamUrl(address);
        if (!base) {
            result.error =
                u"--url: expected an http:// or https:// address, got \"%1\""_s.arg(address);
            return result;
        }
        config.upstream.base = *base;
        const std::optional<QByteArray> key =
            parser.isSet(keyFile) ? readSecret(parser.value(keyFile), &result.error)
            : openai ? envSecret(env, {"MOXEL_OPENAI_API_KEY", "OPENAI_API_KEY"}, &result.error)
                     : envSecret(env, {"MOXEL_LIBRETRANSLATE_KEY"}, &result.error);
        if (!key) {
            result.fileError = parser.isSet(keyFile);
            return result;
        }
        config.upstream.secret = *key;
        config.upstream.caFile = parser.isSet(caFile)
                                     ? parser.value(caFile)
                                     : QString::fromLocal8Bit(env("MOXEL_TRANSLATE_CA_FILE"));
        if (!config.upstream.caFile.isEmpty() &&
            !holdsCertificate(config.upstream.caFile, &result.error))
            return result;
        if (!key->isEmpty() && base->scheme() == u"http" && !net::isLoopback(*base) &&
            !parser.isSet(plainKey)) {
            result.error = u"--url: %1 is another machine over plain http://, which would send the "
                           u"API key unencrypted; use https://, or --allow-key-over-plain-http "
                           u"if the network between is trusted"_s.arg(base->host());
            return result;
        }
    }
    if (openai) {
        config.model = parser.isSet(model) ? parser.value(model)
                                           : QString::fromUtf8(env("MOXEL_OPENAI_MODEL"));
        if (config.model.trimmed().isEmpty()) {
            result.error = u"--backend openai needs --model (or MOXEL_OPENAI_MODEL)"_s;
            return result;
        }
    }
    config.phrasesFile = parser.value(phrases);
    config.addressFile = parser.value(addressFile);
    struct stat info
    {};
    if (!config.addressFile.isEmpty() &&
        ::lstat(QFile::encodeName(config.addressFile).constData(), &info) == 0 &&
        !S_ISREG(info.st_mode)) {
        result.error = u"--address-file: %1 is not a regular file"_s.arg(config.addressFile);
        result.fileError = true;
        return result;
    }
    result.config = config;
    return result;
}

QString writeAddressFile(const QString &path, const QString &address)
{
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly) || ::fchmod(file.handle(), 0600) != 0 ||
        file.write((address + u'\n').toUtf8()) < 0 || !file.commit())
        return u"cannot write %1: %2"_s.arg(path, file.errorString());
    return {};
}

} // namespace moxel::xlate
