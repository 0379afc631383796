// Renders payloads into a real popup, in-process, on whatever platform Qt
// picks (QT_QPA_PLATFORM), and prints what each render costs. One render is
// what a new payload on standard input costs the program: the content built
// and swapped in, the old one deleted, layouts settled and the window painted.
// The "painted" rows queue payloads to the running event loop as the input
// reader does and wait until the window has been painted and the loop is
// idle again, with payloads spaced apart or arriving in a burst.
//
//   render-bench TYPICAL.jsonl            every measurement, as key=value lines
//   render-bench TYPICAL.jsonl --one      warm up, then exactly one steady
//                                         render inside steadyRender(), for
//                                         callgrind --toggle-collect; not painted
//   render-bench TYPICAL.jsonl --count spaced|burst|tenfold
//                                         warm up, then collect instructions
//                                         (callgrind --collect-atstart=no) over
//                                         the painted renders it prints
//   render-bench TYPICAL.jsonl --print-large   the large payload, one line
//   render-bench TYPICAL.jsonl --answers  translations of one unbroken run,
//                                         from 128 KiB to the answer limit, into
//                                         the open Chinese box: the longest
//                                         the event loop stalled
//   render-bench TYPICAL.jsonl --grab OUT.png   the window and its whole scrolled
//                                         content after rendering each line of the
//                                         file, sections closed and open, to
//                                         compare a change's pixels
#include "content.h"
#include "factories.h"
#include "popup.h"
#include "sectiontoggle.h"
#include "servicerequest.h"
#include "textviews.h"

#include "stats.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <valgrind/callgrind.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace moxel;
using namespace Qt::StringLiterals;

namespace {

QJsonObject firstLine(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "render-bench: cannot read %s\n", qPrintable(path));
        std::exit(2);
    }
    return QJsonDocument::fromJson(f.readLine()).object();
}

QString repeated(const QString &s, int times, const QString &sep)
{
    QStringList parts;
    for (int i = 0; i < times; ++i)
        parts << s;
    return parts.join(sep);
}

QJsonArray repeated(const QJsonArray &a, int times)
{
    QJsonArray out;
    for (int i = 0; i < times; ++i)
        for (const QJsonValue &v : a)
            out.append(v);
    return out;
}

// Every text of the typical payload many times over: about 25 KB of JSON, far
// more than a real conversation's analysis sends.
QJsonObject largePayload(QJsonObject p)
{
    const auto str = [&p](const char *key) { return p.value(QLatin1String(key)).toString(); };
    p[u"analysis"] =
        str("analysis") + u'\n' + repeated(str("analysis").section(u'\n', 1), 12, u"\n"_s);
    p[u"conversation"] = repeated(str("conversation"), 25, u"\n"_s);
    p[u"draft"] = repeated(str("draft"), 8, u" "_s);
    p[u"cn"] = repeated(str("cn"), 8, QString());
    p[u"warnings"] = repeated(p.value(u"warnings").toArray(), 6);
    p[u"matched"] = repeated(p.value(u"matched").toArray(), 6);
    return p;
}

// The demo's analysis ten times over, in one paragraph: what a long
// conversation's analysis costs the thinking card's summary.
QJsonObject tenfoldAnalysis(QJsonObject p)
{
    const QString analysis = p.value(u"analysis").toString();
    const qsizetype body = analysis.indexOf(u'\n') + 1;
    p[u"analysis"] = analysis.left(body) + analysis.mid(body).repeated(10);
    return p;
}

long rssKib()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
        status.ignore(1 << 16, '\n');
    }
    return 0;
}

// Paint events reaching any widget of the popup's window.
class PaintWatch final : public QObject
{
public:
    explicit PaintWatch(QWidget *window) : m_window(window) {}
    bool painted = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && watched->isWidgetType() &&
            static_cast<QWidget *>(watched)->window() == m_window)
            painted = true;
        return false;
    }

private:
    QWidget *m_window;
};

class Bench
{
public:
    Bench() : m_popup(PopupOptions{}) {}

    ~Bench() { clearRenderRegistries(); }

    Popup &popup() { return m_popup; }

    // Returns the milliseconds one render took.
    double render(const QJsonObject &payload)
    {
        QElapsedTimer t;
        t.start();
        m_popup.render(payload);
        settle();
        return double(t.nsecsElapsed()) / 1e6;
    }

    void settle()
    {
        // What the event loop would do next: release the old content, run
        // the queued layout requests, paint.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::sendPostedEvents();
        m_popup.window()->repaint();
    }

private:
    Popup m_popup;
};

// Renders payloads through the running event loop. A render is over once the
// window has been painted after it and every event posted until then,
// deferred deletes and child shows included, has been delivered.
class LoopRenders final : public QObject
{
public:
    explicit LoopRenders(Popup &popup) : m_popup(popup)
    {
        m_guard.setSingleShot(true);
        m_guard.setInterval(10000);
        connect(&m_guard, &QTimer::timeout, &m_loop, [this] { m_loop.exit(1); });
        qApp->installEventFilter(this);
    }
    ~LoopRenders() override { qApp->removeEventFilter(this); }

    // Queues `count` copies of the payload at once and returns the
    // milliseconds until the last of them is painted and settled.
    double run(const QJsonObject &payload, int count)
    {
        m_left = count;
        m_painted = false;
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < count; ++i) {
            QMetaObject::invokeMethod(
                qApp,
                [this, payload] {
                    m_popup.render(payload);
                    --m_left;
                    m_painted = false;
                },
                Qt::QueuedConnection);
        }
        m_guard.start();
        const int status = m_loop.exec();
        m_guard.stop();
        if (status != 0) {
            std::fputs("render-bench: a render was never painted\n", stderr);
            std::exit(1);
        }
        return double(t.nsecsElapsed()) / 1e6;
    }

    // The loop running and idle for `ms`, as between payloads.
    void idle(int ms)
    {
        QEventLoop wait;
        QTimer::singleShot(ms, &wait, &QEventLoop::quit);
        wait.exec();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && m_left == 0 && !m_painted &&
            watched->isWidgetType() &&
            static_cast<QWidget *>(watched)->window() == m_popup.window()) {
            m_painted = true;
            // Delivered after every event of normal priority posted before it
            // or while it waits.
            QCoreApplication::postEvent(this, new QEvent(QEvent::User), Qt::LowEventPriority);
        }
        return false;
    }

    bool event(QEvent *event) override
    {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        m_loop.quit();
        return true;
    }

private:
    Popup &m_popup;
    QEventLoop m_loop;
    QTimer m_guard;
    int m_left = 0;
    bool m_painted = false;
};

constexpr int SpacingMs = 50;

std::vector<double> spacedRenders(LoopRenders &loop, const QJsonObject &payload, int count)
{
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        loop.idle(SpacingMs);
        ms.push_back(loop.run(payload, 1));
    }
    return ms;
}

// Instructions of painted renders under callgrind: collection is switched on
// only while renders are under way.
int countRenders(Popup &popup, const QJsonObject &typical, const QString &kind)
{
    LoopRenders loop(popup);
    const QJsonObject payload = kind == u"tenfold" ? tenfoldAnalysis(typical) : typical;
    loop.run(payload, 1);
    loop.idle(300); // the fade-in
    spacedRenders(loop, payload, 10);
    constexpr int Count = 10;
    if (kind == u"burst") {
        loop.idle(SpacingMs);
        CALLGRIND_TOGGLE_COLLECT;
        loop.run(payload, Count);
        CALLGRIND_TOGGLE_COLLECT;
    } else {
        for (int i = 0; i < Count; ++i) {
            loop.idle(SpacingMs);
            CALLGRIND_TOGGLE_COLLECT;
            loop.run(payload, 1);
            CALLGRIND_TOGGLE_COLLECT;
        }
    }
    std::printf("renders=%d\n", Count);
    return 0;
}

// Each answer comes from a service on 127.0.0.1 after an edit of the draft,
// with the Chinese section open, and is written as every translation is.
// The longest gap between the ticks of a 1 ms timer, from the edit until the
// answer has been painted, is how long the window stopped responding.
int answerStalls(Bench &bench, QJsonObject payload)
{
    setHttpModuleFile(QStringLiteral(MOXEL_HTTP_MODULE));
    QTcpServer service;
    service.listen(QHostAddress::LocalHost, 0);
    QByteArray answer;
    QObject::connect(&service, &QTcpServer::newConnection, [&] {
        QTcpSocket *socket = service.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, &answer] {
            if (!socket->readAll().contains("\r\n\r\n") || socket->property("answered").toBool())
                return;
            socket->setProperty("answered", true);
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                          QByteArray::number(answer.size()) + "\r\n\r\n" + answer);
            socket->disconnectFromHost();
        });
    });
    payload[u"proxy"] = u"http://127.0.0.1:%1"_s.arg(service.serverPort());
    for (const qint64 kib : {qint64(128), qint64(1024), MaxAnswerBytes / 1024}) {
        const qint64 run = kib * 1024 - 11; // {"text":""} makes up the rest
        answer = R"({"text":")" + QByteArray(run, 'x') + R"("})";
        bench.render(payload);
        bench.popup().content()->findChild<QPushButton *>(u"d0-toggle"_s)->click();
        bench.settle();
        QElapsedTimer since;
        qint64 longest = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout,
                         [&] { longest = std::max(longest, since.restart()); });
        tick.start(1);
        since.start();
        textView(u"d0-text"_s)->setPlainText(u"Olá, %1"_s.arg(kib));
        QElapsedTimer waited;
        waited.start();
        while (textView(u"d0-cn"_s)->document()->characterCount() <= run &&
               waited.elapsed() < 600000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        bench.popup().window()->repaint();
        QEventLoop settled;
        QTimer::singleShot(200, &settled, &QEventLoop::quit);
        settled.exec();
        std::printf("answer kib=%lld written=%d longest_stall_ms=%lld\n", qlonglong(kib),
                    int(textView(u"d0-cn"_s)->document()->characterCount() > run),
                    qlonglong(longest));
        std::fflush(stdout);
    }
    return 0;
}

[[gnu::noinline]] void steadyRender(Bench &bench, const QJsonObject &payload)
{
    bench.render(payload);
}

std::vector<double> renders(Bench &bench, const QJsonObject &payload, int count)
{
    std::vector<double> ms;
    ms.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        ms.push_back(bench.render(payload));
    return ms;
}

void printSeries(const char *name, const std::vector<double> &ms)
{
    std::printf("%s median_ms=%.2f p90_ms=%.2f min_ms=%.2f max_ms=%.2f n=%zu\n", name,
                quantile(ms, 0.5), quantile(ms, 0.9), quantile(ms, 0), quantile(ms, 1), ms.size());
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fputs("usage: render-bench TYPICAL.jsonl [--one | --print-large]\n", stderr);
        return 2;
    }
    const QString mode = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    const QJsonObject typical = firstLine(QString::fromLocal8Bit(argv[1]));
    const QJsonObject large = largePayload(typical);
    if (mode == u"--print-large") {
        std::printf("%s\n", QJsonDocument(large).toJson(QJsonDocument::Compact).constData());
        return 0;
    }

    preferSimplifiedChineseHan();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    Bench bench;

    if (mode == u"--grab" && argc > 3) {
        // Every line of the file, then the large payload, side by side, each
        // closed and open.
        QFile f(QString::fromLocal8Bit(argv[1]));
        f.open(QIODevice::ReadOnly);
        QList<QJsonObject> payloads;
        for (const QByteArray &line : f.readAll().split('\n'))
            if (const QJsonObject p = QJsonDocument::fromJson(line).object(); !p.isEmpty())
                payloads << p;
        payloads << large;
        // The window, and the whole scrolled content: what is below the fold
        // is painted too. The event loop runs first, as it would before a
        // user looks: scroll bars settle through posted events.
        const auto grab = [&bench] {
            QEventLoop loop;
            QTimer::singleShot(300, &loop, &QEventLoop::quit);
            loop.exec();
            QWidget *window = bench.popup().window();
            const auto *area = window->findChild<QScrollArea *>();
            return QList<QImage>{window->grab().toImage(), area && area->widget()
                                                               ? area->widget()->grab().toImage()
                                                               : QImage()};
        };
        QList<QImage> shots;
        for (const QJsonObject &p : payloads) {
            bench.render(p);
            shots << grab();
            // And with every section open.
            for (qsizetype i = 0; i < toggleTargets.size(); ++i)
                toggleTargets.at(i)->toggle();
            bench.settle();
            shots << grab();
        }
        int width = 0;
        int height = 0;
        for (const QImage &shot : std::as_const(shots)) {
            width += shot.width();
            height = std::max(height, shot.height());
        }
        QImage sheet(width, height, QImage::Format_RGB32);
        sheet.fill(Qt::black);
        QPainter painter(&sheet);
        int x = 0;
        for (const QImage &shot : std::as_const(shots)) {
            painter.drawImage(x, 0, shot);
            x += shot.width();
        }
        painter.end();
        return sheet.save(QString::fromLocal8Bit(argv[3])) ? 0 : 1;
    }

    if (mode == u"--answers")
        return answerStalls(bench, typical);

    if (mode == u"--count" && argc > 3)
        return countRenders(bench.popup(), typical, QString::fromLocal8Bit(argv[3]));

    if (mode == u"--one") {
        bench.render(typical);
        renders(bench, typical, 20);
        steadyRender(bench, typical);
        return 0;
    }

    std::printf("platform %s\n", qPrintable(QGuiApplication::platformName()));
    std::printf("payload typical_bytes=%lld large_bytes=%lld\n",
                qlonglong(QJsonDocument(typical).toJson(QJsonDocument::Compact).size()),
                qlonglong(QJsonDocument(large).toJson(QJsonDocument::Compact).size()));

    // The first render places and shows the window. It returns (and prints
    // FRAME under --debug) before the window system has asked for a paint.
    PaintWatch watch(bench.popup().window());
    app.installEventFilter(&watch);
    QElapsedTimer t;
    t.start();
    bench.popup().render(typical);
    const double frameMs = double(t.nsecsElapsed()) / 1e6;
    while (!watch.painted && t.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    const double paintMs = double(t.nsecsElapsed()) / 1e6;
    app.removeEventFilter(&watch);
    std::printf("first render_ms=%.2f first_paint_ms=%.2f painted=%d\n", frameMs, paintMs,
                int(watch.painted));
    // Let the fade-in finish so that it does not paint into the measurements.
    QElapsedTimer fade;
    fade.start();
    while (fade.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);

    renders(bench, typical, 20);
    printSeries("typical", renders(bench, typical, 300));
    renders(bench, large, 5);
    printSeries("large", renders(bench, large, 100));

    {
        // As the program meets them: painted, the event loop running.
        LoopRenders loop(bench.popup());
        spacedRenders(loop, typical, 10);
        printSeries("painted_spaced", spacedRenders(loop, typical, 60));
        std::vector<double> perRender;
        for (int i = 0; i < 10; ++i) {
            loop.idle(SpacingMs);
            perRender.push_back(loop.run(typical, 10) / 10);
        }
        printSeries("painted_burst_per_render", perRender);
        const QJsonObject tenfold = tenfoldAnalysis(typical);
        spacedRenders(loop, tenfold, 5);
        printSeries("painted_tenfold", spacedRenders(loop, tenfold, 40));
    }

    // Linear growth: n renders cost n times one render.
    for (int n : {1, 10, 100, 1000}) {
        QElapsedTimer batch;
        batch.start();
        renders(bench, typical, n);
        const double total = double(batch.nsecsElapsed()) / 1e6;
        std::printf("batch n=%d total_ms=%.1f per_render_ms=%.2f\n", n, total, total / n);
    }

    // A long session: 10,000 renders in a row, as if from one process.
    // Memory is read along the way: a leak keeps growing, caches level off.
    std::vector<double> all = renders(bench, typical, 100);
    const long rssAfter100 = rssKib();
    std::printf("rss");
    for (int upTo : {1000, 2500, 5000, 7500, 10000}) {
        const std::vector<double> more = renders(bench, typical, upTo - int(all.size()));
        all.insert(all.end(), more.begin(), more.end());
        std::printf(" after_%d_kib=%ld", upTo, rssKib());
    }
    std::printf("\n");
    const long rssAfter10000 = rssKib();
    const std::vector<double> early(all.begin() + 1, all.begin() + 100);
    const std::vector<double> late(all.end() - 100, all.end());
    std::printf("long early_median_ms=%.2f late_median_ms=%.2f late_over_early=%.3f "
                "rss_after_100_kib=%ld rss_after_10000_kib=%ld rss_growth_kib=%ld\n",
                quantile(early, 0.5), quantile(late, 0.5),
                quantile(late, 0.5) / quantile(early, 0.5), rssAfter100, rssAfter10000,
                rssAfter10000 - rssAfter100);
    return 0;
}
