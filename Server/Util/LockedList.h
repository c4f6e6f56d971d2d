// CLockedList: the queues between the server's threads. A list of item
// pointers with a critical section, an auto-reset event that tells the
// consumer something arrived, and the highest count the list ever held.
// MoveLockedItems takes items out of one list into another (or hands them
// to a callback) under the lists' locks.
#pragma once
#include <windows.h>
#include <list>

template <class T>
class CLockedList {
public:
    CLockedList() : m_event(CreateEventA(NULL, FALSE, FALSE, NULL)), m_highest(0)
    {
        InitializeCriticalSection(&m_lock);
    }
    // The items still listed are the owner's to free before this.
    ~CLockedList()
    {
        DeleteCriticalSection(&m_lock);
        if (m_event)
            CloseHandle(m_event);
    }
    CLockedList(const CLockedList &) = delete;
    CLockedList &operator=(const CLockedList &) = delete;

    void Lock() { EnterCriticalSection(&m_lock); }
    void Unlock() { LeaveCriticalSection(&m_lock); }
    // The auto-reset event set when items arrive with signalling asked.
    HANDLE GetEvent() const { return m_event; }
    void Signal() { SetEvent(m_event); }

    // Appends under the lock, raising the highest count; sets the event when asked.
    void AddTail(T *item, bool signal = true)
    {
        Lock();
        AddTailLocked(item);
        Unlock();
        if (signal)
            Signal();
    }
    // Appends while the caller holds the lock (or needs none).
    void AddTailLocked(T *item)
    {
        m_items.push_back(item);
        if (m_items.size() > m_highest)
            m_highest = m_items.size();
    }
    // The first item, taken out; NULL when the list is empty.
    T *RemoveHead()
    {
        Lock();
        T *item = NULL;
        if (!m_items.empty()) {
            item = m_items.front();
            m_items.pop_front();
        }
        Unlock();
        return item;
    }
    size_t GetCount()
    {
        Lock();
        size_t count = m_items.size();
        Unlock();
        return count;
    }
    size_t GetHighestCount() const { return m_highest; }
    void ResetHighestCount() { m_highest = 0; }

    // The items themselves, for a caller that holds the lock.
    std::list<T *> &Items() { return m_items; }

private:
    CRITICAL_SECTION m_lock;
    HANDLE m_event;
    size_t m_highest;
    std::list<T *> m_items;
};

// Moves from source every item for which there is no predicate or the
// predicate answers 1: appended to target when one is given (under the
// target's lock when lockTarget), then handed to callback when one is given.
// An item that goes to neither is freed, so that nothing leaks. When items
// moved and signalTarget is set, the target's event is set. Answers the
// number of items moved.
// With lockTarget both locks are taken in one fixed order (by address), so
// two moves between the same lists in opposite directions cannot deadlock.
template <class T>
int MoveLockedItems(CLockedList<T> *source, int (*predicate)(T *item, void *argument), void *argument,
                    CLockedList<T> *target, bool lockTarget, bool signalTarget, void (*callback)(T *item))
{
    if (!source || source == target)
        return 0;
    const bool both = target && lockTarget;
    CLockedList<T> *first = both && target < source ? target : source;
    CLockedList<T> *second = both ? (first == source ? target : source) : nullptr;
    first->Lock();
    if (second)
        second->Lock();
    int moved = 0;
    std::list<T *> taken;
    std::list<T *> &items = source->Items();
    for (auto it = items.begin(); it != items.end();) {
        T *item = *it;
        if (predicate && predicate(item, argument) != 1) {
            ++it;
            continue;
        }
        it = items.erase(it);
        ++moved;
        if (target)
            target->AddTailLocked(item);
        taken.push_back(item);
    }
    // The callbacks run under the source's lock only, as each item's own
    // move used to leave them.
    if (both)
        target->Unlock();
    for (T *item : taken) {
        if (callback)
            callback(item);
        else if (!target)
            delete item;
    }
    source->Unlock();
    if (moved && signalTarget && target)
        target->Signal();
    return moved;
}
