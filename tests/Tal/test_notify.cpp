#include "Tal/TalPrivate.h"
#include "support/Recorder.h"
#include "support/TalTest.h"

#include <atomic>
#include <random>

namespace {

RECORDER_CLASS(nodeClass, "TNode", 0x7E000000)

constexpr ULONG Attr = 0x7E00000A;   // the attribute that fires
constexpr ULONG Method = 0x7E000014; // what targets receive
constexpr ULONG Other = 0x7E00001E;
constexpr ULONG Wide = 0x7E0F0014; // recorded with four argument words

class Notify : public TalFixture {
  protected:
    void SetUp() override {
        TalFixture::SetUp();
        register_nodeClass();
    }
    void TearDown() override {
        EXPECT_EQ(nodeClass.instanceCount.load(), 0u);
        Tal__CleanupClass(&nodeClass);
        TalFixture::TearDown();
    }
    static ULONG node() { return Tal_CreateObject("TNode"); }
    static size_t sends(ULONG h) { return ListCount(&Tal__GetRootInstance(h)->notify->sends); }
    static size_t incoming(ULONG h) { return ListCount(&Tal__GetRootInstance(h)->notify->incoming); }
    static std::vector<recorder::Call> received(ULONG h, ULONG id = Method) {
        std::vector<recorder::Call> out;
        for (auto& c : recorder::calls(h))
            if (c.id == id) out.push_back(c);
        return out;
    }
};

TEST_F(Notify, FiresOnEveryValueAndFillsPlaceholders) {
    ULONG source = node(), target = node();
    // The trigger value 5 is stored, not compared.
    ASSERT_NE(Tal_AddNotify(source, Attr, 5, target, 5, Wide, TAL_TriggerValue, TAL_TriggerArgument,
                            TAL_TriggerWord2, 0x1234),
              0u);
    Tal_DoNotify(source, Attr, 7, 8);
    Tal_DoNotify(source, Other, 7, 8); // another trigger: nothing
    auto got = received(target, Wide);
    ASSERT_EQ(got.size(), 1u);
    // 0x000100C1 = trigger word 1; 0x000100C0 at position 2 = trigger word 2; 0x000100C3 = trigger word 2.
    EXPECT_EQ(got[0].args, (std::vector<Tal_Word>{7, 8, 8, 0x1234}));
    Tal_DisposeObject(source);
    Tal_DisposeObject(target);
}

TEST_F(Notify, TargetCodesResolveWhenFiring) {
    static ULONG source, a, b;
    source = node(), a = node(), b = node();
    Tal_AddNotify(source, Attr, TAL_AnyValue, TAL_TARGET_VALUE, 2, Method, 1);
    Tal_AddNotify(source, Attr, TAL_AnyValue, TAL_TARGET_IMAGE, 2, Method, 1); // no image engine: nobody
    Tal_DoNotify(source, Attr, a);
    Tal_DoNotify(source, Attr, b);
    EXPECT_EQ(received(a).size(), 1u);
    EXPECT_EQ(received(b).size(), 1u);
    Tal__SetImageTargetResolver([](ULONG code) { return code == TAL_TARGET_IMAGE ? b : 0u; });
    Tal_DoNotify(source, Attr, 0);
    Tal__SetImageTargetResolver(nullptr);
    EXPECT_EQ(received(b).size(), 2u); // b stood in for the current image
    EXPECT_EQ(Tal_AddNotify(source, Attr, 0, 0, 1, Method), 0u);
    for (ULONG h : {source, a, b}) Tal_DisposeObject(h);
}

TEST_F(Notify, RemovalFromEitherSideLeavesNoRecords) {
    ULONG source = node(), target = node(), other = node();
    Tal_AddNotify(source, Attr, 0, target, 1, Method);
    Tal_Word keep = Tal_AddNotify(source, Attr, 0, other, 1, Method);
    EXPECT_EQ(sends(source), 2u);
    EXPECT_EQ(incoming(target), 1u);
    Tal_DisposeObject(target);
    EXPECT_EQ(sends(source), 1u);
    Tal_DoNotify(source, Attr, 1);
    EXPECT_EQ(received(other).size(), 1u);
    EXPECT_EQ(Tal_RemoveNotify(source, keep), 1u);
    EXPECT_EQ(incoming(other), 0u);
    EXPECT_EQ(sends(source), 0u);
    // A source disposed takes the target's records with it.
    Tal_AddNotify(source, Attr, 0, other, 1, Method);
    EXPECT_EQ(incoming(other), 1u);
    Tal_DisposeObject(source);
    EXPECT_EQ(incoming(other), 0u);
    // A target that is gone cannot be registered.
    EXPECT_EQ(Tal_AddNotify(other, Attr, 0, target, 1, Method), 0u);
    Tal_DisposeObject(other);
}

// The target's method sets the attribute again on the source: the same target is not re-entered, a
// second target still is, and nothing loops.
TEST_F(Notify, ReentryIntoTheSameTargetIsRefused) {
    static ULONG source;
    source = node();
    ULONG echo = node(), plain = node();
    recorder::of(echo)->hook = [](recorder::Instance*, ULONG id, const Tal_Word* args) {
        if (id == Method) Tal_DoNotify(source, Attr, args[0] + 1);
    };
    Tal_AddNotify(source, Attr, 0, echo, 2, Method, TAL_TriggerValue);
    Tal_AddNotify(source, Attr, 0, plain, 2, Method, TAL_TriggerValue);
    Tal_DoNotify(source, Attr, 1);
    EXPECT_EQ(received(echo).size(), 1u);
    auto p = received(plain);
    ASSERT_EQ(p.size(), 2u); // from inside the echo's delivery (2), then its own (1)
    EXPECT_EQ(p[0].args[0], 2u);
    EXPECT_EQ(p[1].args[0], 1u);
    for (ULONG h : {source, echo, plain}) Tal_DisposeObject(h);
}

// Deliveries may add and remove registrations, and dispose the source, without losing records.
TEST_F(Notify, DeliveriesMayChangeTheLists) {
    static ULONG source, late, victimTarget;
    static Tal_Word victim;
    source = node();
    late = node();
    victimTarget = node();
    ULONG changer = node();
    recorder::of(changer)->hook = [](recorder::Instance*, ULONG id, const Tal_Word*) {
        if (id != Method) return;
        Tal_AddNotify(source, Attr, 0, late, 1, Method);
        Tal_RemoveNotify(source, victim);
    };
    Tal_AddNotify(source, Attr, 0, changer, 1, Method);
    victim = Tal_AddNotify(source, Attr, 0, victimTarget, 1, Method);
    ULONG after = node();
    Tal_AddNotify(source, Attr, 0, after, 1, Method);
    Tal_DoNotify(source, Attr, 1);
    // The removed next record ends this round; the list holds changer, after and the new one.
    EXPECT_EQ(received(victimTarget).size(), 0u);
    EXPECT_EQ(sends(source), 3u);
    Tal_DoNotify(source, Attr, 1);
    EXPECT_EQ(received(after).size(), 1u);
    EXPECT_GE(received(late).size(), 1u);

    // A delivery that disposes the source.
    static ULONG doomed;
    doomed = node();
    ULONG killer = node();
    recorder::of(killer)->hook = [](recorder::Instance*, ULONG id, const Tal_Word*) {
        if (id == Method) Tal_DisposeObject(doomed);
    };
    Tal_AddNotify(doomed, Attr, 0, killer, 1, Method);
    Tal_AddNotify(doomed, Attr, 0, after, 1, Method);
    Tal_DoNotify(doomed, Attr, 1);
    EXPECT_EQ(Tal_GetObjectInstance(doomed), nullptr);
    EXPECT_EQ(incoming(after), 1u); // only the registration of `source` remains
    for (ULONG h : {source, late, victimTarget, changer, after, killer}) Tal_DisposeObject(h);
}

TEST_F(Notify, CallbacksGetUserDataAndTheTrigger) {
    ULONG source = node();
    static std::vector<Tal_Word> seen;
    seen.clear();
    Tal_Word id = Tal_AddCallBackNotify(
        source, Attr, 0,
        [](Tal_Word user, ULONG src, ULONG trigger, const Tal_Word* args) {
            seen = {user, src, trigger, args[0]};
            return Tal_Word(0);
        },
        77);
    ASSERT_NE(id, 0u);
    Tal_DoNotify(source, Attr, 42);
    EXPECT_EQ(seen, (std::vector<Tal_Word>{77, source, Attr, 42}));
    Tal_RemoveNotify(source, id);
    seen.clear();
    Tal_DoNotify(source, Attr, 42);
    EXPECT_TRUE(seen.empty());
    Tal_DisposeObject(source);
}

// Threads add, fire and remove registrations between shared objects, and replace objects under each
// other's feet. (Plain base objects: their state is guarded by the object lock, so they may go while
// another thread calls them.)
TEST_F(Notify, ManyThreadsAtOnce) {
    constexpr int kObjects = 16, kThreads = 4, kRounds = 400;
    auto node = [] { return Tal_CreateObject("Root"); };
    std::vector<std::atomic<ULONG>> objects(kObjects);
    for (auto& o : objects) o = node();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++) {
        threads.emplace_back([&, t] {
            std::mt19937 random(t);
            std::vector<std::pair<ULONG, Tal_Word>> mine;
            for (int i = 0; i < kRounds; i++) {
                ULONG s = objects[random() % kObjects], d = objects[random() % kObjects];
                switch (random() % 5) {
                case 0:
                case 1:
                    if (Tal_Word id = Tal_AddNotify(s, Attr, 0, d, 2, Method, TAL_TriggerValue))
                        mine.push_back({s, id});
                    break;
                case 2:
                    Tal_DoNotify(s, Attr, i);
                    break;
                case 3:
                    if (!mine.empty()) {
                        Tal_RemoveNotify(mine.back().first, mine.back().second);
                        mine.pop_back();
                    }
                    break;
                case 4:
                    if (random() % 4 == 0) Tal_DisposeObject(objects[random() % kObjects].exchange(node()));
                    break;
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    for (auto& o : objects) Tal_DisposeObject(o);
}

} // namespace
