#pragma once

#include <QJsonObject>
#include <QObject>

#include <functional>
#include <memory>

namespace moxel {

class LineReader;

// Reads the payload lines after the first on a thread of its own and hands
// every object, in line order, to `render` on the GUI thread, never more than
// two ahead of it; at the end of input it calls `end` there, after the renders
// already queued.
// The thread blocks in read(2) and is never joined: quitting while it waits
// for input ends the process at once.
class InputReader final : public QObject
{
    Q_OBJECT
public:
    InputReader(std::unique_ptr<LineReader> lines, std::function<void(const QJsonObject &)> render,
                std::function<void()> end);
    ~InputReader() override;
    Q_DISABLE_COPY_MOVE(InputReader)

    void start();

private:
    std::function<void(const QJsonObject &)> m_render;
    std::function<void()> m_end;
    std::unique_ptr<LineReader> m_lines;
};

} // namespace moxel
