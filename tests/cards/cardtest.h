#pragma once

// Helpers shared by the card tests.

#include "testjson.h"

#include <QTest>
#include <QWidget>

#include "content.h"
#include "sectiontoggle.h"

#include <QPushButton>

#include <memory>

namespace cardtest {

using moxel::test::parse;

// Wrapped labels make the height depend on the width, as in the popup.
inline void fit(QWidget *widget, int width)
{
    widget->resize(width, widget->hasHeightForWidth() ? widget->heightForWidth(width)
                                                      : widget->sizeHint().height());
}

// A card shown in its own window at the popup's usual card width.
inline std::unique_ptr<QWidget> shown(QWidget *card, int width = 352)
{
    std::unique_ptr<QWidget> window(card);
    fit(window.get(), width);
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        qWarning("window not exposed");
    return window;
}

// Opens every collapsible section of the current render, as a user would.
inline void openSections()
{
    for (qsizetype i = 0; i < moxel::toggleTargets.size(); ++i)
        if (moxel::ToggleTarget *target = moxel::toggleTargets.at(i); target && target->btn)
            target->btn->click();
}

} // namespace cardtest
