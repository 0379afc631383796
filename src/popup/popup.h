#pragma once

#include "popupwindow.h"
#include "replycard.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QSizeF>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QScreen;
class QScrollArea;
class QVBoxLayout;

namespace moxel {

class PopupDelegate;

struct PopupOptions
{
    std::optional<QPointF> fixedPos;
    std::optional<QSizeF> fixedSize;
    bool debugMode = false;
};

// Owns the window and shows one payload at a time in it. The first render
// places the window, fades it in and brings it to the front without taking the
// keyboard from the chat; later renders only replace the content.
class Popup final : public QObject
{
    Q_OBJECT
public:
    explicit Popup(const PopupOptions &options);
    ~Popup() override;
    Q_DISABLE_COPY_MOVE(Popup)

    void render(const QJsonObject &payload);
    // Runs `then` once every FRAME line owed has been printed: at once, or
    // when the window is where it stays, a second at most after it was shown.
    void afterFrameLines(std::function<void()> then);

    QWidget *window() const { return m_win.get(); }
    QScrollArea *scrollArea() const { return m_scroll; }
    QWidget *content() const { return m_content; }
    bool renderedOnce() const { return m_renderedOnce; }

Q_SIGNALS:
    void frameLinesPrinted();

private:
    void placeAndShow();
    void placed();
    void printFrame(bool first) const;
    void printOwedFrames();

    PopupOptions m_options;
    PopupDelegate *m_delegate;
    std::unique_ptr<PopupWindow> m_win;
    QScrollArea *m_scroll = nullptr;
    QWidget *m_holder = nullptr;
    QVBoxLayout *m_holderBox = nullptr;
    QPointer<QWidget> m_content;
    QScreen *m_screen = nullptr;
    ReplyMemory m_reply;
    bool m_renderedOnce = false;
    QList<bool> m_owedFrames; // debug FRAME lines not yet printed: whether each is the first
    bool m_fadePending = false;
};

} // namespace moxel
