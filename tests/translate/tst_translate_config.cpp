#include "config.h"

#include <QHash>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace moxel::xlate;

class TestTranslateConfig : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();

private:
    QString file(const QString &name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
};

namespace {

using Env = QHash<QByteArray, QByteArray>;

ConfigResult parse(const QStringList &args, const Env &env, const QString &dir)
{
    QStringList arguments{u"moxel-translate"_s};
    for (const QString &arg : args)
        arguments.append(QString(arg).replace(u"$DIR"_s, dir));
    return parseConfig(arguments, [&env, &dir](const char *name) {
        return env.value(name).replace("$DIR", dir.toUtf8());
    });
}

} // namespace

void TestTranslateConfig::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QFile::Permissions own = QFile::ReadOwner | QFile::WriteOwner;
    const QList<std::tuple<QString, QByteArray, QFile::Permissions>> files = {
        {u"token"_s, "file-token\n"_ba, own},
        {u"key"_s, "  file-key \r\n"_ba, own},
        {u"empty"_s, "\n"_ba, own},
        {u"two-lines"_s, "abc\ndef\n"_ba, own},
        {u"shared"_s, "file-token\n"_ba, own | QFile::ReadOther},
        {u"group"_s, "file-key\n"_ba, own | QFile::ReadGroup}};
    for (const auto &[name, content, permissions] : files) {
        QFile out(file(name));
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(content);
        QVERIFY(out.setPermissions(permissions));
    }
    QCOMPARE(::mkfifo(QFile::encodeName(file(u"pipe"_s)).constData(), 0600), 0);
}

void TestTranslateConfig::accepted_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<Env>("env");
    QTest::addColumn<QString>("backend");
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<QByteArray>("secret");
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("timeoutMs");

    QTest::newRow("defaults") << QStringList() << Env() << u"demo"_s << QByteArray() << QByteArray()
                              << QString() << 40000;
    QTest::newRow("token from the environment")
        << QStringList{u"--port"_s, u"0"_s} << Env{{"MOXEL_TRANSLATE_TOKEN", "env-token"}}
        << u"demo"_s << "env-token"_ba << QByteArray() << QString() << 40000;
    QTest::newRow("token file over the environment")
        << QStringList{u"--token-file"_s, u"$DIR/token"_s}
        << Env{{"MOXEL_TRANSLATE_TOKEN", "env-token"}} << u"demo"_s << "file-token"_ba
        << QByteArray() << QString() << 40000;
    QTest::newRow("libretranslate")
        << QStringList{u"--backend"_s, u"libretranslate"_s, u"--timeout"_s, u"1.5"_s}
        << Env{{"MOXEL_LIBRETRANSLATE_KEY", "lt"}, {"MOXEL_OPENAI_API_KEY", "oa"}}
        << u"libretranslate"_s << QByteArray() << "lt"_ba << u"http://127.0.0.1:5000"_s << 1500;
    QTest::newRow("libretranslate, key file")
        << QStringList{u"--backend=libretranslate"_s, u"--url"_s, u"https://lt.example/"_s,
                       u"--key-file"_s, u"$DIR/key"_s}
        << Env{{"MOXEL_LIBRETRANSLATE_KEY", "lt"}} << u"libretranslate"_s << QByteArray()
        << "file-key"_ba << u"https://lt.example/"_s << 40000;
    QTest::newRow("openai, key and model from the environment")
        << QStringList{u"--backend"_s, u"openai"_s}
        << Env{{"MOXEL_OPENAI_API_KEY", "oa"}, {"MOXEL_OPENAI_MODEL", "qwen"}} << u"openai"_s
        << QByteArray() << "oa"_ba << u"http://127.0.0.1:8080"_s << 40000;
    QTest::newRow("key over plain http, allowed")
        << QStringList{u"--backend=libretranslate"_s, u"--url"_s, u"http://10.0.0.2:5000"_s,
                       u"--allow-key-over-plain-http"_s}
        << Env{{"MOXEL_LIBRETRANSLATE_KEY", "lt"}} << u"libretranslate"_s << QByteArray() << "lt"_ba
        << u"http://10.0.0.2:5000"_s << 40000;
    QTest::newRow("openai, the common key variable")
        << QStringList{u"--backend"_s, u"openai"_s, u"--model"_s, u"m"_s}
        << Env{{"OPENAI_API_KEY", "common"}} << u"openai"_s << QByteArray() << "common"_ba
        << u"http://127.0.0.1:8080"_s << 40000;
}

void TestTranslateConfig::accepted()
{
    QFETCH(QStringList, args);
    QFETCH(Env, env);
    QFETCH(QString, backend);
    QFETCH(QByteArray, token);
    QFETCH(QByteArray, secret);
    QFETCH(QString, url);
    QFETCH(int, timeoutMs);

    const ConfigResult result = parse(args, env, m_dir.path());
    QVERIFY2(result.config, qPrintable(result.error));
    QCOMPARE(result.config->backend, backend);
    QCOMPARE(result.config->service.token, token);
    QCOMPARE(result.config->upstream.secret, secret);
    QCOMPARE(result.config->upstream.base.toString(), url);
    QCOMPARE(result.config->service.timeout.count(), timeoutMs);
    QCOMPARE(result.config->upstream.timeout, result.config->service.timeout);
}

void TestTranslateConfig::refused_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<Env>("env");
    QTest::addColumn<QString>("error");

    QTest::newRow("token on the command line")
        << QStringList{u"--token=abc"_s} << Env() << u"not taken from the command line"_s;
    QTest::newRow("key on the command line")
        << QStringList{u"--backend"_s, u"openai"_s, u"--api-key"_s, u"sk"_s} << Env()
        << u"not taken from the command line"_s;
    QTest::newRow("unknown backend")
        << QStringList{u"--backend"_s, u"deepl"_s} << Env() << u"deepl"_s;
    QTest::newRow("port too large") << QStringList{u"--port"_s, u"65536"_s} << Env() << u"--port"_s;
    QTest::newRow("port not a number")
        << QStringList{u"--port"_s, u"80a"_s} << Env() << u"--port"_s;
    QTest::newRow("timeout zero") << QStringList{u"--timeout"_s, u"0"_s} << Env() << u"--timeout"_s;
    QTest::newRow("timeout not a number")
        << QStringList{u"--timeout"_s, u"nan"_s} << Env() << u"--timeout"_s;
    QTest::newRow("openai without a model")
        << QStringList{u"--backend"_s, u"openai"_s} << Env() << u"--model"_s;
    QTest::newRow("model for the demo")
        << QStringList{u"--model"_s, u"m"_s} << Env() << u"--model"_s;
    QTest::newRow("url for the demo")
        << QStringList{u"--url"_s, u"http://127.0.0.1:1"_s} << Env() << u"--url"_s;
    QTest::newRow("not an http url")
        << QStringList{u"--backend"_s, u"libretranslate"_s, u"--url"_s, u"ftp://host/"_s} << Env()
        << u"--url"_s;
    QTest::newRow("missing token file")
        << QStringList{u"--token-file"_s, u"$DIR/none"_s} << Env() << u"cannot read"_s;
    QTest::newRow("empty token file")
        << QStringList{u"--token-file"_s, u"$DIR/empty"_s} << Env() << u"empty"_s;
    QTest::newRow("token file of two lines")
        << QStringList{u"--token-file"_s, u"$DIR/two-lines"_s} << Env() << u"line break"_s;
    QTest::newRow("token file is a pipe")
        << QStringList{u"--token-file"_s, u"$DIR/pipe"_s} << Env() << u"pipe is not a regular"_s;
    QTest::newRow("key file is a device")
        << QStringList{u"--backend=libretranslate"_s, u"--key-file=/dev/null"_s} << Env()
        << u"/dev/null is not a regular"_s;
    QTest::newRow("token file is a folder")
        << QStringList{u"--token-file"_s, u"$DIR"_s} << Env() << u"$DIR is not a regular"_s;
    QTest::newRow("token file others can read")
        << QStringList{u"--token-file"_s, u"$DIR/shared"_s} << Env()
        << u"$DIR/shared is open to other users (mode 0604); make it private with: chmod 600"_s;
    QTest::newRow("key file its group can read")
        << QStringList{u"--backend=libretranslate"_s, u"--key-file"_s, u"$DIR/group"_s} << Env()
        << u"chmod 600 $DIR/group"_s;
    QTest::newRow("key with a line break")
        << QStringList{u"--backend"_s, u"openai"_s, u"--model"_s, u"m"_s}
        << Env{{"MOXEL_OPENAI_API_KEY", "sk-1\r\nX-Extra: 1"}}
        << u"MOXEL_OPENAI_API_KEY holds a line break"_s;
    QTest::newRow("token with a control character")
        << QStringList() << Env{{"MOXEL_TRANSLATE_TOKEN", "a\tb"}}
        << u"MOXEL_TRANSLATE_TOKEN holds"_s;
    QTest::newRow("key to another machine over plain http")
        << QStringList{u"--backend=openai"_s, u"--model=m"_s, u"--url"_s, u"http://gpu.lan:8080"_s}
        << Env{{"OPENAI_API_KEY", "sk"}} << u"unencrypted"_s;
    QTest::newRow("CA file missing")
        << QStringList{u"--backend=libretranslate"_s, u"--ca-file"_s, u"$DIR/none"_s} << Env()
        << u"--ca-file: cannot read $DIR/none"_s;
    QTest::newRow("CA file without a certificate")
        << QStringList{u"--backend=libretranslate"_s}
        << Env{{"MOXEL_TRANSLATE_CA_FILE", "$DIR/key"}} << u"holds no PEM certificate"_s;
    QTest::newRow("CA file a folder")
        << QStringList{u"--backend=libretranslate"_s, u"--ca-file=$DIR"_s} << Env()
        << u"not a regular file"_s;
    QTest::newRow("positional") << QStringList{u"demo"_s} << Env() << u"unexpected"_s;
}

void TestTranslateConfig::refused()
{
    QFETCH(QStringList, args);
    QFETCH(Env, env);
    QFETCH(QString, error);
    const ConfigResult result = parse(args, env, m_dir.path());
    error.replace(u"$DIR"_s, m_dir.path());
    QVERIFY(!result.config);
    QVERIFY2(result.error.contains(error), qPrintable(result.error));
    // What a file held never shows in a message.
    QVERIFY(!result.error.contains(u"abc"_s) || args.first().contains(u"abc"_s));
}

QTEST_GUILESS_MAIN(TestTranslateConfig)
#include "tst_translate_config.moc"
