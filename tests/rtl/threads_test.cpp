#include "rtl/threads.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace rtl {
namespace {

TEST(ThreadList, AddsFromManyThreadsWithoutLosingItems) {
    TThreadList<int> list;
    std::vector<int> items(400);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 100; ++i) {
                list.Add(&items[static_cast<size_t>(t * 100 + i)]);
                list.Add(&items[static_cast<size_t>(t * 100 + i)]);  // ignored duplicate
            }
        });
    }
    for (auto& th : threads) th.join();
    {
        TLockedList<int> locked(list);
        EXPECT_EQ(locked.Items().size(), 400u);
    }
    list.Remove(&items[0]);
    list.SetDuplicates(dupError);
    EXPECT_THROW(list.Add(&items[1]), EListError);
    EXPECT_EQ(list.LockList().size(), 399u);
    list.UnlockList();
}

TEST(CriticalSection, IsReentrantAndExcludesOtherThreads) {
    TCriticalSection cs;
    cs.Enter();
    cs.Enter();  // the holder may enter again
    bool otherGotIn = true;
    std::thread([&] { otherGotIn = cs.TryEnter(); }).join();
    EXPECT_FALSE(otherGotIn);
    cs.Leave();
    cs.Leave();
    std::thread([&] {
        otherGotIn = cs.TryEnter();
        if (otherGotIn) cs.Leave();
    }).join();
    EXPECT_TRUE(otherGotIn);
}

}  // namespace
}  // namespace rtl
