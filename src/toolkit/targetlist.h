#pragma once

#include <QList>
#include <QPointer>
#include <QtAlgorithms>
#include <QtGlobal>

#include <utility>

namespace moxel {

// Owns the targets of the current render; their buttons do not. Emptying
// releases them with deleteLater: a render may run inside a target's own click.
template<typename T> class TargetList
{
public:
    TargetList() = default;
    // What is left at the very end goes with the list.
    ~TargetList() { qDeleteAll(m_items); }
    Q_DISABLE_COPY_MOVE(TargetList)

    // Takes `target` over; null is ignored.
    void append(T *target)
    {
        if (target)
            m_items.append(target);
    }
    // Releases every target, or every one but those `kept` says stay: a
    // card kept from the last render keeps its targets where they are.
    template<typename Kept> void clear(Kept kept)
    {
        QList<QPointer<T>> stay;
        for (const QPointer<T> &t : std::as_const(m_items)) {
            if (!t)
                continue;
            if (kept(t.data()))
                stay.append(t);
            else
                t->deleteLater();
        }
        m_items = std::move(stay);
    }
    void clear()
    {
        clear([](const T *) { return false; });
    }
    qsizetype size() const { return m_items.size(); }
    bool isEmpty() const { return m_items.isEmpty(); }
    T *at(qsizetype i) const { return m_items.at(i).data(); }

private:
    QList<QPointer<T>> m_items;
};

} // namespace moxel
