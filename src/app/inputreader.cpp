#include "inputreader.h"
#include "lines.h"

#include <QCoreApplication>
#include <QPointer>

#include <mutex>
#include <semaphore>
#include <thread>

namespace moxel {

namespace {

// The reader thread outlives the GUI objects; it reaches them only through
// this guarded pointer, cleared when the receiver goes away.
std::mutex receiverMutex;
QObject *receiver = nullptr;

// Parsed payloads waiting for the GUI thread at most: the rest of a burst
// waits in the pipe, not in memory, and every render returns to the event
// loop, which deletes what the one before it replaced.
constexpr std::ptrdiff_t Queued = 2;
using Slots = std::counting_semaphore<Queued>;

template<typename F> bool post(F &&f)
{
    std::lock_guard lock(receiverMutex);
    if (!receiver)
        return false;
    QMetaObject::invokeMethod(receiver, std::forward<F>(f), Qt::QueuedConnection);
    return true;
}

} // namespace

InputReader::InputReader(std::unique_ptr<LineReader> lines,
                         std::function<void(const QJsonObject &)> render, std::function<void()> end)
    : m_render(std::move(render)), m_end(std::move(end)), m_lines(std::move(lines))
{}

InputReader::~InputReader()
{
    std::lock_guard lock(receiverMutex);
    if (receiver == this)
        receiver = nullptr;
}

void InputReader::start()
{
    {
        std::lock_guard lock(receiverMutex);
        receiver = this;
    }
    // The line reader is handed to the thread for good: the thread may still
    // be blocked in a read when the process ends.
    LineReader *lines = m_lines.release();
    // Shared with the queued renders: the thread may outlive this object.
    auto free = std::make_shared<Slots>(Queued);
    std::thread([lines, free, this] {
        const std::unique_ptr<LineReader> owned(lines);
        QByteArray raw;
        for (;;) {
            const LineReader::Result r = owned->next(&raw);
            if (r == LineReader::Result::End)
                break;
            if (r == LineReader::Result::TooLong)
                continue;
            if (auto payload = parseLaterLine(raw)) {
                free->acquire();
                const bool posted = post([this, free, p = std::move(*payload)] {
                    free->release();
                    m_render(p);
                });
                if (!posted)
                    return;
            }
        }
        post([this] { m_end(); });
    }).detach();
}

} // namespace moxel
