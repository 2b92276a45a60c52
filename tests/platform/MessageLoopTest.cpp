// The message loop's semantics on virtual time: priorities, the coalesced window timer,
// paint last, nested modal loops that keep dispatching, quit codes, close and destroy.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/headless/HeadlessPlatform.h"

namespace vesk::platform {
namespace {

using headless::HeadlessPlatform;

struct Seen {
    std::int64_t ms;
    Message message;
    int depth;  // how many handler calls were already running when it arrived
};

// A window procedure that records what reaches it and lets each test react.
struct Recorder final : WindowHandler {
    explicit Recorder(HeadlessPlatform& p) : platform(p) { p.loop().setHandler(this); }
    void handleMessage(const Message& m) override {
        seen.push_back({platform.nowMs(), m, depth});
        ++depth;
        if (react) react(m);
        if (m.type == MessageType::Close) platform.loop().defaultProcessing(m);
        --depth;
    }
    std::vector<MessageType> types() const {
        std::vector<MessageType> t;
        for (const Seen& s : seen) t.push_back(s.message.type);
        return t;
    }
    HeadlessPlatform& platform;
    std::function<void(const Message&)> react;
    std::vector<Seen> seen;
    int depth = 0;
};

TEST(MessageLoop, PostedMessagesComeFirstThenTimersAndPaintOnlyWhenNothingElseWaits) {
    HeadlessPlatform p;
    Recorder window(p);
    MessageLoop& loop = p.loop();
    loop.setTimer(1, 200);
    loop.invalidate();
    loop.post({MessageType::KeyDown, 65});
    loop.post({MessageType::MidiInput, 0x403C90});
    // At 200 ms a key arrives together with the due timer: the posted key goes first.
    p.postAt(200, {MessageType::KeyUp, 65});
    p.runAt(200, [&] { loop.invalidate(); });
    p.stopAt(250, 7);

    EXPECT_EQ(loop.run(), 7);
    const std::vector<MessageType> expected = {MessageType::KeyDown, MessageType::MidiInput,
                                               MessageType::Paint,   MessageType::KeyUp,
                                               MessageType::Timer,   MessageType::Paint};
    EXPECT_EQ(window.types(), expected);
    EXPECT_EQ(window.seen[4].ms, 200);
}

TEST(MessageLoop, LiveInputBeyondTheQueuesCapacityIsDroppedAndCountedButNothingElseIs) {
    HeadlessPlatform p;
    Recorder window(p);
    MessageLoop& loop = p.loop();
    const std::size_t flood = MessageLoop::midiInputQueueCapacity + 1000;
    bool called = false;
    // The window is busy while the flood comes; a key, a call and a close come amid it.
    for (std::size_t i = 0; i < flood; ++i) {
        loop.post({MessageType::MidiInput, std::uint32_t(0x403C90 + (i << 24))});
        if (i == flood / 2) {
            loop.post({MessageType::KeyDown, keyEscape});
            loop.postCall([&] { called = true; });
        }
    }
    loop.post({MessageType::Close, 0});
    EXPECT_EQ(loop.pendingMidiInput(), MessageLoop::midiInputQueueCapacity);
    EXPECT_EQ(loop.droppedMidiInput(), 1000u);
    p.stopAt(10);
    loop.run();

    std::size_t inputs = 0;
    for (const Seen& seen : window.seen) {
        if (seen.message.type != MessageType::MidiInput) continue;
        EXPECT_EQ(seen.message.param, std::uint32_t(0x403C90 + (inputs << 24)));  // the first ones, in order
        ++inputs;
    }
    EXPECT_EQ(inputs, MessageLoop::midiInputQueueCapacity);
    EXPECT_EQ(loop.pendingMidiInput(), 0u);
    EXPECT_TRUE(called);
    const auto types = window.types();
    EXPECT_EQ(std::count(types.begin(), types.end(), MessageType::KeyDown), 1);
    EXPECT_TRUE(loop.destroyed());
    // Room again once the window has taken what waited.
    loop.post({MessageType::MidiInput, 0x403C90});
    EXPECT_EQ(loop.pendingMidiInput(), 1u);
    EXPECT_EQ(loop.droppedMidiInput(), 1000u);
}

TEST(MessageLoop, ALateTimerYieldsOneMessageAndThePaintStillComes) {
    HeadlessPlatform p;
    Recorder window(p);
    int timers = 0;
    window.react = [&](const Message& m) {
        if (m.type != MessageType::Timer) return;
        // The first two ticks take a whole second: five periods go by each time.
        if (++timers <= 2) p.desktop().sleep(1000);
        p.loop().invalidate();
    };
    p.loop().setTimer(1, 200);
    p.stopAt(2500);
    p.loop().run();

    std::vector<std::int64_t> timerTimes, paintTimes;
    for (const Seen& s : window.seen)
        (s.message.type == MessageType::Timer ? timerTimes : paintTimes).push_back(s.ms);
    // No burst of missed timers, and each late tick's picture is painted before the next.
    EXPECT_EQ(timerTimes, (std::vector<std::int64_t>{200, 1200, 2200, 2400}));
    EXPECT_EQ(paintTimes, (std::vector<std::int64_t>{1200, 2200, 2200, 2400}));
}

TEST(MessageLoop, TimerIntervalIsReArmedAndHasADesktopMinimum) {
    HeadlessPlatform p;
    Recorder window(p);
    int timers = 0;
    window.react = [&](const Message& m) {
        if (m.type == MessageType::Timer && ++timers == 2) p.loop().setTimer(1, 1);  // 10 ms
    };
    p.loop().setTimer(1, 200);
    p.stopAt(431);
    p.loop().run();
    std::vector<std::int64_t> times;
    for (const Seen& s : window.seen) times.push_back(s.ms);
    EXPECT_EQ(times, (std::vector<std::int64_t>{200, 400, 410, 420, 430}));
}

TEST(MessageLoop, TickEnteredAgainInsideAMessageBoxWhileTheOuterTickWaits) {
    HeadlessPlatform p;
    p.setMessageBoxOpenMs(1000);
    Recorder window(p);
    bool tickInProgress = false;
    int nestedWhileInProgress = 0;
    int completedTicks = 0;
    window.react = [&](const Message& m) {
        if (m.type != MessageType::Timer) return;
        if (tickInProgress) {
            ++nestedWhileInProgress;
            return;
        }
        tickInProgress = true;
        if (completedTicks == 0) p.modalUi().showMessageBox("Buffer is full!", BoxOwner::Window);
        tickInProgress = false;
        ++completedTicks;
    };
    p.loop().setTimer(1, 200);
    p.stopAt(1500);
    EXPECT_EQ(p.loop().run(), 0);

    // Box open from 200 to 1200: the timers of 400..1000 re-enter the procedure, nested.
    EXPECT_EQ(nestedWhileInProgress, 4);
    int nestedSeen = 0;
    for (const Seen& s : window.seen)
        if (s.depth == 1) {
            EXPECT_EQ(s.message.type, MessageType::Timer);
            ++nestedSeen;
        }
    EXPECT_EQ(nestedSeen, 4);
    EXPECT_EQ(completedTicks, 3);  // the boxed tick finished at 1200, then those of 1200 and 1400
    ASSERT_EQ(p.records(headless::Record::Kind::MessageBox).size(), 1u);
    EXPECT_EQ(p.records(headless::Record::Kind::MessageBox)[0].timeMs, 200);
    EXPECT_EQ(p.records(headless::Record::Kind::MessageBox)[0].owner, BoxOwner::Window);
}

TEST(MessageLoop, QuitInsideNestedModalsEndsEveryLoopWithItsCode) {
    HeadlessPlatform p;
    p.setMessageBoxOpenMs(10000);
    Recorder window(p);
    int boxesReturned = 0;
    window.react = [&](const Message& m) {
        if (m.type == MessageType::Timer && window.depth == 1) {
            p.modalUi().showMessageBox("outer", BoxOwner::None);
            ++boxesReturned;
        } else if (m.type == MessageType::Timer && window.depth == 2) {
            p.modalUi().showMessageBox("inner", BoxOwner::Window);
            ++boxesReturned;
        } else if (m.type == MessageType::KeyDown && m.param == keyEscape) {
            p.loop().postQuit(5);
        }
    };
    p.loop().setTimer(1, 200);
    p.postAt(700, {MessageType::KeyDown, keyEscape});
    EXPECT_EQ(p.loop().run(), 5);
    EXPECT_EQ(boxesReturned, 2);
    EXPECT_EQ(p.nowMs(), 700);
    EXPECT_EQ(p.openModals(), 0);
}

TEST(MessageLoop, CloseRequestDestroysTheWindowAndNothingReachesItAfterwards) {
    HeadlessPlatform p;
    Recorder window(p);
    window.react = [&](const Message& m) {
        if (m.type == MessageType::Destroy) p.loop().postQuit(0);
    };
    p.loop().setTimer(1, 100);
    p.postAt(250, {MessageType::Close, 0});
    p.postAt(250, {MessageType::KeyDown, 66});
    p.stopAt(1000, 9);
    EXPECT_EQ(p.loop().run(), 0);
    const std::vector<MessageType> expected = {MessageType::Timer, MessageType::Timer,
                                               MessageType::Close, MessageType::Destroy};
    EXPECT_EQ(window.types(), expected);
    EXPECT_TRUE(p.loop().destroyed());
}

TEST(MessageLoop, RunWithNothingScheduledEnds) {
    HeadlessPlatform p;
    Recorder window(p);
    p.loop().post({MessageType::KeyDown, 1});
    EXPECT_EQ(p.loop().run(), 0);
    EXPECT_EQ(window.seen.size(), 1u);
}

}  // namespace
}  // namespace vesk::platform
