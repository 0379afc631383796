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
    // Hands one target back to the caller without releasing it.
    void take(T *target) { m_items.removeAll(QPointer<T>(target)); }
    T *last() const { return m_items.isEmpty() ? nullptr : m_items.constLast().data(); }
    void clear()
    {
        for (const QPointer<T> &t : std::as_const(m_items)) {
            if (t)
                t->deleteLater();
        }
        m_items.clear();
    }
    qsizetype size() const { return m_items.size(); }
    bool isEmpty() const { return m_items.isEmpty(); }
    T *at(qsizetype i) const { return m_items.at(i).data(); }

private:
    QList<QPointer<T>> m_items;
};

} // namespace moxel
