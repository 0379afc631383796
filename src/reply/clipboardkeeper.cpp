#include "clipboardkeeper.h"
#include "windowsystem.h"

#include <QClipboard>
#include <QGuiApplication>

namespace moxel {

void keepClipboardAfterExit()
{
    if (!windowsystem::clipboardEndsWithProgram())
        return;
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard->ownsClipboard())
        return;
    const QString text = clipboard->text(QClipboard::Clipboard);
    if (!text.isEmpty())
        windowsystem::serveClipboardAfterExit(text);
}

} // namespace moxel
