#include <gtest/gtest.h>
#include <vector>
#include "LockedList.h"

namespace {

// An item that counts its own destruction, so a test sees what was freed.
struct Item {
    int value;
    int *freed;
    ~Item() { ++*freed; }
};

int selectEven(Item *item, void *argument)
{
    ++*static_cast<int *>(argument);
    return item->value % 2 == 0 ? 1 : 0;
}

std::vector<int> *g_calledWith;
bool g_callbackFrees;
// A callback takes the item over; without a target it frees it, as a
// hand-back of a message without a block does.
void recordCall(Item *item)
{
    g_calledWith->push_back(item->value);
    if (g_callbackFrees)
        delete item;
}

std::vector<int> values(CLockedList<Item> &list)
{
    std::vector<int> out;
    for (Item *item : list.Items())
        out.push_back(item->value);
    return out;
}

void freeAll(CLockedList<Item> &list)
{
    while (Item *item = list.RemoveHead())
        delete item;
}

TEST(LockedList, MoveTakesTheSelectedItemsWhereverTheyAreAskedToGo)
{
    struct Case {
        const char *what;
        bool predicate, target, lockTarget, signal, callback;
        int moved;
        std::vector<int> source, target_, called;
        int freed;
        bool signalled;
    } cases[] = {
        {"all to the target", false, true, true, true, false, 4, {}, {9, 1, 2, 3, 4}, {}, 0, true},
        {"even ones, no signal", true, true, false, false, false, 2, {1, 3}, {9, 2, 4}, {}, 0, false},
        {"to the target and the callback", true, true, true, true, true, 2, {1, 3}, {9, 2, 4}, {2, 4}, 0, true},
        {"callback only", false, false, false, true, true, 4, {}, {9}, {1, 2, 3, 4}, 4, false},
        // Gone nowhere: freed rather than lost.
        {"neither target nor callback", true, false, false, true, false, 2, {1, 3}, {9}, {}, 2, false},
    };
    for (const Case &c : cases) {
        int freed = 0;
        CLockedList<Item> source, target;
        for (int v : {1, 2, 3, 4})
            source.AddTail(new Item{v, &freed}, false);
        target.AddTail(new Item{9, &freed}, false);
        WaitForSingleObject(target.GetEvent(), 0); // the set-up's own signal
        std::vector<int> called;
        g_calledWith = &called;
        g_callbackFrees = !c.target;
        int asked = 0;

        int moved = MoveLockedItems<Item>(&source, c.predicate ? selectEven : nullptr, &asked,
                                          c.target ? &target : nullptr, c.lockTarget, c.signal,
                                          c.callback ? recordCall : nullptr);

        EXPECT_EQ(c.moved, moved) << c.what;
        EXPECT_EQ(c.source, values(source)) << c.what;
        EXPECT_EQ(c.target_, values(target)) << c.what;
        EXPECT_EQ(c.called, called) << c.what;
        EXPECT_EQ(c.freed, freed) << c.what;
        EXPECT_EQ(c.predicate ? 4 : 0, asked) << c.what;
        EXPECT_EQ(c.signalled, WaitForSingleObject(target.GetEvent(), 0) == WAIT_OBJECT_0) << c.what;
        if (c.target) {
            EXPECT_EQ(c.target_.size(), target.GetHighestCount()) << c.what;
        }

        freeAll(source);
        freeAll(target);
    }
}

TEST(LockedList, TheEventResetsItselfAndTheHighestCountStays)
{
    int freed = 0;
    CLockedList<Item> list;
    list.AddTail(new Item{1, &freed});
    list.AddTail(new Item{2, &freed}, false);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(list.GetEvent(), 0));
    EXPECT_EQ(DWORD(WAIT_TIMEOUT), WaitForSingleObject(list.GetEvent(), 0));
    delete list.RemoveHead();
    EXPECT_EQ(1u, list.GetCount());
    EXPECT_EQ(2u, list.GetHighestCount());
    freeAll(list);
    EXPECT_EQ(nullptr, list.RemoveHead());
    EXPECT_EQ(2, freed);
}

TEST(LockedList, NothingMovedSignalsNothingAndAListIsNotMovedIntoItself)
{
    int freed = 0;
    CLockedList<Item> source, target;
    source.AddTail(new Item{1, &freed}, false);
    int asked = 0;
    EXPECT_EQ(0, MoveLockedItems<Item>(&source, selectEven, &asked, &target, true, true, nullptr));
    EXPECT_EQ(DWORD(WAIT_TIMEOUT), WaitForSingleObject(target.GetEvent(), 0));
    EXPECT_EQ(0, MoveLockedItems<Item>(&source, nullptr, nullptr, &source, true, true, nullptr));
    EXPECT_EQ(0, MoveLockedItems<Item>(nullptr, nullptr, nullptr, &target, true, true, nullptr));
    EXPECT_EQ(1u, source.GetCount());
    freeAll(source);
}

// Two threads move items between the same two lists in opposite directions,
// each asking for the target's lock. On its first item each waits (up to
// 200 ms) until the other is inside its own move too, so that a lock taken
// in the wrong order meets the other thread's at once; afterwards they yield
// while holding the lists.
struct OppositeMoves {
    CLockedList<Item> a, b;
    volatile LONG inside = 0;
    volatile LONG rounds = 0;
};

OppositeMoves *g_moves;
thread_local bool t_metTheOther = false;

int meetAndTake(Item *, void *)
{
    if (!t_metTheOther) {
        t_metTheOther = true;
        InterlockedIncrement(&g_moves->inside);
        for (int i = 0; i < 200 && g_moves->inside < 2; ++i)
            Sleep(1);
    }
    SwitchToThread();
    return 1;
}

template <bool AToB>
DWORD WINAPI MoveBackAndForth(void *argument)
{
    OppositeMoves *moves = static_cast<OppositeMoves *>(argument);
    for (int i = 0; i < 1000; ++i) {
        if (AToB)
            MoveLockedItems<Item>(&moves->a, meetAndTake, nullptr, &moves->b, true, true, nullptr);
        else
            MoveLockedItems<Item>(&moves->b, meetAndTake, nullptr, &moves->a, true, true, nullptr);
        InterlockedIncrement(&moves->rounds);
    }
    return 0;
}

TEST(LockedList, OppositeMovesThatLockTheTargetDoNotDeadlock)
{
    int freed = 0;
    // Left alive on failure: deadlocked threads still hold its locks.
    OppositeMoves *moves = new OppositeMoves;
    g_moves = moves;
    for (int v = 0; v < 8; ++v)
        moves->a.AddTail(new Item{v, &freed}, false);
    for (int v = 8; v < 16; ++v)
        moves->b.AddTail(new Item{v, &freed}, false);
    HANDLE threads[2] = {CreateThread(NULL, 0, MoveBackAndForth<true>, moves, 0, NULL),
                         CreateThread(NULL, 0, MoveBackAndForth<false>, moves, 0, NULL)};
    ASSERT_TRUE(threads[0] && threads[1]);
    DWORD waited = WaitForMultipleObjects(2, threads, TRUE, 30000);
    ASSERT_EQ(WAIT_OBJECT_0, waited) << "deadlocked after " << moves->rounds << " moves";
    CloseHandle(threads[0]);
    CloseHandle(threads[1]);
    EXPECT_EQ(16u, moves->a.GetCount() + moves->b.GetCount());
    freeAll(moves->a);
    freeAll(moves->b);
    EXPECT_EQ(16, freed);
    delete moves;
}

} // namespace
