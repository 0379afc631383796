#include "selftest.h"

#include "textrules.h"
#include "textviews.h"

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace moxel {

void selfTestEdit()
{
    QPlainTextEdit *draft = textView(u"d0-text"_s);
    if (!draft) {
        printLine(u"SYNC-SELFTEST: 找不到可编辑文本框"_s);
        QCoreApplication::quit();
        return;
    }
    // setPlainText emits textChanged exactly once, and the sync controller
    // takes that one signal for the salesperson's edit.
    draft->setPlainText(u"Olá Duvo, o preço deste batom é USD 1,25 por peça para 5000 peças."_s);
    printLine(u"SYNC-SELFTEST: 已模拟编辑第一份草稿（葡语）"_s);
}

void selfTestReport()
{
    const QPlainTextEdit *mirror = textView(u"d0-cn"_s);
    printLine(u"SYNC-SELFTEST 回填的中文："_s + (mirror ? plainText(mirror) : u"（空）"_s));
    QCoreApplication::quit();
}

void scheduleSelfTest(double scale)
{
    const auto at = [scale](std::chrono::milliseconds step) {
        return std::chrono::round<std::chrono::milliseconds>(step * scale);
    };
    QTimer::singleShot(at(SelfTestEdit), Qt::PreciseTimer, QCoreApplication::instance(),
                       &selfTestEdit);
    QTimer::singleShot(at(SelfTestReport), Qt::PreciseTimer, QCoreApplication::instance(),
                       &selfTestReport);
}

} // namespace moxel
