#include "support/TalTest.h"

#include <atomic>
#include <chrono>
#include <random>

namespace {

using namespace std::chrono;

class Semaphores : public TalFixture {
  protected:
    void SetUp() override {
        TalFixture::SetUp();
        a = Tal_AllocSemaphore();
        b = Tal_AllocSemaphore();
    }
    void TearDown() override {
        Tal_FreeSemaphore(a);
        Tal_FreeSemaphore(b);
        TalFixture::TearDown();
    }
    Tal_Semaphore* a = nullptr;
    Tal_Semaphore* b = nullptr;
};

void waitFor(const std::atomic<bool>& flag) {
    while (!flag) std::this_thread::yield();
}

// Waits until some task waits for exclusive access (read under the semaphore's own lock).
void waitForWaiter(Tal_Semaphore* sem) {
    for (;;) {
        SemaphoreGuard guard(&sem->hostLock);
        if (!IsListEmpty(&sem->waiters)) return;
    }
}

TEST_F(Semaphores, NestedObtainsNeedAsManyReleases) {
    EXPECT_NE(std::strstr(a->createdFile, "test_semaphore.cpp"), nullptr); // the creation place is kept
    EXPECT_GT(a->createdLine, 0u);
    for (int i = 0; i < 3; i++) EXPECT_EQ(Tal_ObtainSemaphore(a, TAL_LOCK_RETRIES), 1u);
    EXPECT_EQ(a->nesting, 3);
    EXPECT_EQ(a->owner, FindTask(nullptr));
    std::atomic<bool> got{false};
    TaskThread other([&] {
        EXPECT_EQ(Tal_ObtainSemaphore(a, TAL_LOCK_TRY), 0u); // held: a try does not wait
        Tal_ReleaseSemaphore(a);                             // not the owner: nothing happens
        Tal_ObtainSemaphore(a, TAL_LOCK_RETRIES);
        got = true;
        Tal_ReleaseSemaphore(a);
    });
    Tal_ReleaseSemaphore(a);
    Tal_ReleaseSemaphore(a);
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_FALSE(got.load());
    EXPECT_EQ(a->owner, FindTask(nullptr));
    Tal_ReleaseSemaphore(a);
    other.join();
    EXPECT_TRUE(got.load());
    EXPECT_EQ(a->owner, nullptr);
    EXPECT_EQ(Tal_ObtainSemaphore(nullptr, 0), 0u);
    EXPECT_EQ(Tal_ObtainSemaphoreShared(nullptr, 0), 0u);
}

TEST_F(Semaphores, SharedHoldersAndExclusiveAccess) {
    // Held shared only by the caller: exclusive at once.
    EXPECT_EQ(Tal_ObtainSemaphoreShared(a, TAL_LOCK_RETRIES), 1u);
    EXPECT_EQ(Tal_ObtainSemaphore(a, TAL_LOCK_TRY), 1u);
    Tal_ReleaseSemaphore(a);
    std::atomic<bool> holding{false}, leave{false}, exclusive{false};
    TaskThread reader([&] {
        Tal_ObtainSemaphoreShared(a, TAL_LOCK_RETRIES);
        holding = true;
        waitFor(leave);
        Tal_ReleaseSemaphoreShared(a);
    });
    waitFor(holding);
    Tal_ReleaseSemaphoreShared(a);
    TaskThread writer([&] {
        Tal_ObtainSemaphore(a, TAL_LOCK_RETRIES); // waits for the other reader
        exclusive = true;
        Tal_ReleaseSemaphore(a);
    });
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_FALSE(exclusive.load());
    // A waiting exclusive request does not hold back new shared holders.
    EXPECT_EQ(Tal_ObtainSemaphoreShared(a, TAL_LOCK_TRY), 1u);
    Tal_ReleaseSemaphoreShared(a);
    leave = true;
    writer.join();
    EXPECT_TRUE(exclusive.load());
}

TEST_F(Semaphores, SharedWaiterGetsTheLockAfterTheOwnerLeaves) {
    Tal_ObtainSemaphore(a, TAL_LOCK_RETRIES);
    std::atomic<bool> asked{false}, got{false};
    TaskThread reader([&] {
        asked = true;
        EXPECT_EQ(Tal_ObtainSemaphoreShared(a, TAL_LOCK_RETRIES), 1u);
        got = true;
        EXPECT_EQ(Tal_ObtainSemaphoreShared(a, TAL_LOCK_TRY), 1u); // no owner: a try succeeds
        Tal_ReleaseSemaphoreShared(a);
        Tal_ReleaseSemaphoreShared(a);
    });
    waitFor(asked);
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_FALSE(got.load());
    Tal_ReleaseSemaphore(a);
    reader.join();
    EXPECT_TRUE(got.load());
    EXPECT_EQ(a->sharedCount, 0);
}

// A owns S1 and waits for S2; B owns S2 and asks for S1: B is refused rather than deadlocked.
TEST_F(Semaphores, CycleOfWaitsIsRefused) {
    std::atomic<bool> bOwns{false}, aWaits{false}, bDone{false};
    Tal_ObtainSemaphore(a, TAL_LOCK_RETRIES); // this task is A
    std::atomic<ULONG> tryResult{9}, retryResult{9};
    std::atomic<long> retryMs{0};
    TaskThread taskB([&] {
        Tal_ObtainSemaphore(b, TAL_LOCK_RETRIES);
        bOwns = true;
        waitFor(aWaits);
        waitForWaiter(b); // A is queued on S2
        tryResult = Tal_ObtainSemaphore(a, TAL_LOCK_TRY);
        auto start = steady_clock::now();
        retryResult = Tal_ObtainSemaphore(a, TAL_LOCK_RETRIES);
        retryMs = duration_cast<milliseconds>(steady_clock::now() - start).count();
        bDone = true;
        Tal_ReleaseSemaphore(b);
    });
    waitFor(bOwns);
    aWaits = true;
    EXPECT_EQ(Tal_ObtainSemaphore(b, TAL_LOCK_RETRIES), 1u); // waits until B gives S2 up
    EXPECT_TRUE(bDone.load());
    Tal_ReleaseSemaphore(b);
    Tal_ReleaseSemaphore(a);
    taskB.join();
    EXPECT_EQ(tryResult.load(), 0u);
    EXPECT_EQ(retryResult.load(), 0u);
    EXPECT_GE(retryMs.load(), 2000); // 100 retries of 20 ms
}

// Two shared holders that both ask for exclusive access: one is refused once its retries are used up;
// when it lets go of its shared hold, the other gets the lock.
TEST_F(Semaphores, TwoUpgradesDoNotHang) {
    std::atomic<int> holding{0};
    std::atomic<ULONG> results[2] = {9, 9};
    auto upgrader = [&](int i) {
        Tal_ObtainSemaphoreShared(a, TAL_LOCK_RETRIES);
        holding++;
        while (holding < 2) std::this_thread::yield();
        if (i == 1) waitForWaiter(a); // the first one waits first
        results[i] = Tal_ObtainSemaphore(a, TAL_LOCK_RETRIES);
        if (results[i]) Tal_ReleaseSemaphore(a);
        Tal_ReleaseSemaphoreShared(a);
    };
    {
        TaskThread first([&] { upgrader(0); });
        TaskThread second([&] { upgrader(1); });
    }
    EXPECT_EQ(results[0].load(), 1u);
    EXPECT_EQ(results[1].load(), 0u);
}

TEST_F(Semaphores, ContendedObtainWorksWithoutFreeSignalBits) {
    Tal_ObtainSemaphore(a, TAL_LOCK_RETRIES);
    std::atomic<bool> exhausted{false}, got{false};
    TaskThread waiter([&] {
        while (AllocSignal(-1) != -1) {
        }
        exhausted = true;
        EXPECT_EQ(Tal_ObtainSemaphore(a, TAL_LOCK_RETRIES), 1u);
        got = true;
        Tal_ReleaseSemaphore(a);
        EXPECT_EQ(Tal_ObtainSemaphoreShared(b, TAL_LOCK_RETRIES), 1u);
        Tal_ReleaseSemaphoreShared(b);
    });
    waitFor(exhausted);
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_FALSE(got.load());
    Tal_ReleaseSemaphore(a);
    waiter.join();
    EXPECT_TRUE(got.load());
}

// Threads take a ring of semaphores shared and exclusive with small retry counts: no hang, no race.
TEST_F(Semaphores, RingOfThreads) {
    constexpr int kLocks = 4, kThreads = 4, kRounds = 300;
    Tal_Semaphore* ring[kLocks];
    for (auto& s : ring) s = Tal_AllocSemaphore();
    std::atomic<long> shared{0}, exclusive{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++) {
        threads.emplace_back([&, t] {
            std::mt19937 random(t);
            for (int i = 0; i < kRounds; i++) {
                Tal_Semaphore* first = ring[(t + i) % kLocks];
                Tal_Semaphore* second = ring[(t + i + 1) % kLocks];
                bool share = random() % 2;
                ULONG got1 = share ? Tal_ObtainSemaphoreShared(first, 2) : Tal_ObtainSemaphore(first, 2);
                if (!got1) continue;
                if (Tal_ObtainSemaphore(second, random() % 3)) {
                    exclusive++;
                    Tal_ReleaseSemaphore(second);
                }
                if (share) {
                    shared++;
                    Tal_ReleaseSemaphoreShared(first);
                } else {
                    Tal_ReleaseSemaphore(first);
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_GT(shared + exclusive, 0);
    for (auto* s : ring) {
        EXPECT_EQ(s->owner, nullptr);
        EXPECT_EQ(s->sharedCount, 0);
        EXPECT_EQ(s->exclusiveCount, 0u);
        Tal_FreeSemaphore(s);
    }
}

} // namespace
