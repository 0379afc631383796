// The whole content column for a fuzzed payload, on the offscreen platform.
#include "content.h"
#include "factories.h"
#include "lines.h"
#include "sectiontoggle.h"
#include "targets.h"
#include "textlabel.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QLayout>
#include <QWidget>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace moxel;

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Kept to the end of the process: Qt's font caches hang off the
    // application, and tearing it down at exit reports them as leaks.
    static QApplication *app = new QApplication(*argc, *argv);
    Q_UNUSED(app)
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray line(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<QJsonObject> payload = parseLaterLine(line);
    if (!payload)
        return 0;
    std::unique_ptr<QWidget> content(buildContent(*payload).column);
    content->resize(380, 800);
    content->layout()->activate();
    (void)content->grab();
    // Closed sections are built only when opened: open them to reach that code.
    for (qsizetype i = 0; i < toggleTargets.size(); ++i)
        if (ToggleTarget *target = toggleTargets.at(i))
            target->toggle();
    content->layout()->activate();
    (void)content->grab();
    // Whatever the payload holds is shown as it is, never as markup: no
    // label reads it as rich text, and every label draws its own text, bar
    // the line breaks (and, on one line, the spaces they became).
    for (const QLabel *label : content->findChildren<QLabel *>())
        if (label->textFormat() != Qt::PlainText)
            __builtin_trap();
    const auto bare = [](QString text) {
        return text.removeIf([](QChar c) {
            return c == u'\r' || c == u'\n' || c == u' ' || c == QChar(0x2028) ||
                   c == QChar(0x2029) || c == QChar(0x200B);
        });
    };
    for (const TextLabel *label : content->findChildren<TextLabel *>())
        if (!label->isElided() && label->text().size() <= TextLabel::DisplayCap &&
            bare(label->visibleLines().join(QString())) != bare(label->text()))
            __builtin_trap();
    // What the next render does, so nothing of this one outlives the input.
    clearRenderRegistries();
    if (!toggleTargets.isEmpty() || !copyTargets.isEmpty() || !editTargets.isEmpty())
        __builtin_trap();
    content.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
