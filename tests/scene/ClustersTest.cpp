// Chord thinning, cluster drops and their note-offs, the flash's exact arithmetic, the
// full cluster list, and the camera's breathing, on a bare root frame with a camera.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "scene/Clusters.h"

namespace vesk::scene {
namespace {

using Notes = std::vector<int>;

struct Tick {
    std::unique_ptr<PerformanceState> state = std::make_unique<PerformanceState>();
    ClusterState clusters;
    std::unique_ptr<retained::Frame> scene = retained::Frame::createRoot();
    retained::Frame* camera = &scene->createChild();

    void queue(const Notes& on, const Notes& off = {}) {
        state->noteOnCount = state->noteOffCount = 0;
        for (int n : on) state->noteOnQueue[std::size_t(state->noteOnCount++)] = std::uint8_t(n);
        for (int n : off) state->noteOffQueue[std::size_t(state->noteOffCount++)] = std::uint8_t(n);
    }
    void analyse(const Notes& on, const Notes& off = {}) {
        queue(on, off);
        analyseClusters(clusters, *state, scene.get());
    }
    Notes ons() const { return {state->noteOnQueue.begin(), state->noteOnQueue.begin() + state->noteOnCount}; }
    Notes offs() const { return {state->noteOffQueue.begin(), state->noteOffQueue.begin() + state->noteOffCount}; }
    Notes remembered() const {
        return {clusters.clusterNotes.begin(), clusters.clusterNotes.begin() + state->clusterCount};
    }
    std::uint32_t background() const { return scene->sceneBackground(); }
};

constexpr std::uint32_t sentinel = 0xFF123456u;

TEST(Clusters, NeighboursLoseTheirHigherNoteAndFlash) {
    struct Case {
        Notes on, kept, dropped;
        float flash;  // after the decay, from darkness
    };
    const Case cases[] = {
        {{60, 61}, {60}, {61}, 0.1f},
        {{61, 60}, {60}, {61}, 0.1f},
        {{60, 61, 62}, {60}, {61, 62}, 0.2f},  // 62 meets 60 once 61 has gone
        {{64, 62, 60}, {60}, {64, 62}, 0.2f},
        {{60, 72, 74, 73}, {60, 72}, {74, 73}, 0.2f},
        {{63, 62, 61, 60}, {60}, {63, 62, 61}, 0.3f},
        {{64, 60, 67}, {64, 60, 67}, {}, 0.0f},
        {{60, 60, 63}, {60, 60, 63}, {}, 0.0f},      // equal or three apart: no cluster
        {{255, 0, 254, 200, 201}, {255, 0, 254, 200}, {201}, 0.1f},  // unsigned bytes
    };
    for (const Case& c : cases) {
        Tick t;
        t.scene->setSceneBackground(sentinel);
        t.analyse(c.on);
        EXPECT_EQ(t.ons(), c.kept) << c.on[0];
        EXPECT_EQ(t.remembered(), c.dropped) << c.on[0];
        EXPECT_EQ(t.clusters.flashLevel, c.flash) << c.on[0];  // bit-exact
        const auto red = std::uint32_t(double(c.flash) * 255.0);
        EXPECT_EQ(t.background(), c.dropped.empty() ? sentinel : 0xFF000000u | red << 16) << c.on[0];
    }
}

TEST(Clusters, ALoneClusterFadesToBlackOnTheNextTick) {
    Tick t;
    t.analyse({60, 61});
    EXPECT_EQ(t.background(), 0xFF190000u);
    t.analyse({});
    EXPECT_EQ(t.clusters.flashLevel, 0.0f);
    EXPECT_EQ(t.background(), 0xFF000000u);
}

TEST(Clusters, FlashArithmeticIsSinglePrecisionHeldInDouble) {
    // A burst of three decays to a residue above zero (0.3f - 0.1f rounds up to the tie's
    // even neighbour), and a lone cluster on that residue gets no first-flash bump.
    Tick t;
    const struct {
        Notes on;
        std::uint32_t background;
    } ticks[] = {{{63, 62, 61, 60}, 0xFF4C0000u}, {{}, 0xFF330000u}, {{}, 0xFF190000u},
                 {{}, 0xFF000000u},               {{60, 61}, 0xFF000000u}};
    for (const auto& tick : ticks) {
        t.analyse(tick.on);
        EXPECT_EQ(t.background(), tick.background);
    }
    EXPECT_GT(t.clusters.flashLevel, 0.0f);
    EXPECT_LT(t.clusters.flashLevel, 1e-7f);

    t.clusters.flashLevel = 0.5f;  // the ceiling
    t.analyse({63, 62, 61, 60});
    EXPECT_EQ(t.clusters.flashLevel, 0.5f);
    EXPECT_EQ(t.background(), 0xFF7F0000u);
    t.analyse({});
    EXPECT_EQ(t.clusters.flashLevel, 0.4f);
    EXPECT_EQ(t.background(), 0xFF660000u);
}

TEST(Clusters, ChordThinningOnALargeFlakeReplayingForwards) {
    struct Case {
        int segments;
        ReplayMode mode;
        Notes on, kept;
    };
    const auto fwd = ReplayMode::ForwardMirrored;
    const Case cases[] = {
        {150, fwd, {60, 64, 67, 72}, {60, 67, 72}},  // high and low leave out the last note
        {101, fwd, {72, 60, 64, 67}, {72, 60, 67}},
        {150, fwd, {60, 60, 72, 64, 72, 50}, {60, 60, 72, 72, 50}},
        {150, ReplayMode::Backward, {60, 64, 67, 72}, {60, 64, 67, 72}},
        {100, fwd, {60, 64, 67, 72}, {60, 64, 67, 72}},
        {150, fwd, {60, 72}, {60, 72}},
    };
    for (const Case& c : cases) {
        Tick t;
        t.state->flake.segmentCount = c.segments;
        t.state->replayMode = c.mode;
        t.analyse(c.on, {50, 64});
        EXPECT_EQ(t.ons(), c.kept) << c.segments << " " << c.on[0];
        // A thinned 64 takes its queued note-off with it and does not flash.
        const Notes offs = c.kept.size() < c.on.size() ? Notes{50} : Notes{50, 64};
        EXPECT_EQ(t.offs(), offs);
        EXPECT_EQ(t.state->clusterCount, 0);
        EXPECT_EQ(t.clusters.flashLevel, 0.0f);
    }
}

TEST(Clusters, NoteOffsOfDroppedNotesAreTakenOrSwallowed) {
    Tick t;
    t.analyse({60, 61}, {61, 50, 61});  // already queued: its first note-off goes now
    EXPECT_EQ(t.offs(), (Notes{50, 61}));
    EXPECT_EQ(t.state->clusterCount, 0);

    t.analyse({70, 72});
    t.analyse({80, 81});
    EXPECT_EQ(t.remembered(), (Notes{72, 81}));
    t.analyse({}, {81, 60, 72, 72});  // later: swallowed, one note-off per drop
    EXPECT_EQ(t.offs(), (Notes{60, 72}));
    EXPECT_EQ(t.state->clusterCount, 0);

    t.analyse({70, 72});
    t.state->clusterCount = 0;  // a performance reset forgets the list
    t.analyse({}, {72});
    EXPECT_EQ(t.offs(), Notes{72});
}

TEST(Clusters, AFullListForgetsItsOldestNote) {
    Tick t;
    for (int i = 0; i < clusterNoteCapacity; ++i) t.clusters.clusterNotes[std::size_t(i)] = std::uint8_t(i);
    t.state->clusterCount = clusterNoteCapacity;
    t.analyse({60, 61});
    EXPECT_EQ(t.state->clusterCount, clusterNoteCapacity);
    EXPECT_EQ(t.clusters.clusterNotes[0], 1);
    EXPECT_EQ(t.clusters.clusterNotes[clusterNoteCapacity - 1], 61);
    t.analyse({}, {0, 61});  // 0 was forgotten: its note-off goes on to the matching
    EXPECT_EQ(t.offs(), Notes{0});
    EXPECT_EQ(t.state->clusterCount, clusterNoteCapacity - 1);
    EXPECT_EQ(t.remembered()[60], 62);  // 61's first entry went; the newest stays last
    EXPECT_EQ(t.remembered().back(), 61);

    // Counts outside their lists are held to them.
    t.state->clusterCount = 100000;
    t.queue({60, 61});
    t.state->noteOnCount = 100000;
    t.state->noteOffCount = -3;
    analyseClusters(t.clusters, *t.state, t.scene.get());
    EXPECT_LE(t.state->noteOnCount, noteQueueCapacity);
    EXPECT_EQ(t.state->noteOffCount, 0);
    EXPECT_EQ(t.state->clusterCount, clusterNoteCapacity);
}

TEST(Clusters, WithoutASceneTheStateStillMoves) {
    Tick t;
    t.queue({60, 61});
    analyseClusters(t.clusters, *t.state, nullptr);
    EXPECT_EQ(t.ons(), Notes{60});
    EXPECT_EQ(t.clusters.flashLevel, 0.1f);
    EXPECT_FALSE(breatheCamera(t.clusters, *t.state, nullptr, t.camera));
    EXPECT_FALSE(breatheCamera(t.clusters, *t.state, t.scene.get(), nullptr));
    EXPECT_EQ(t.state->cameraZ, -5.0f);
    t.state->cameraZ = -5.8f;
    EXPECT_FALSE(breatheCamera(t.clusters, *t.state, nullptr, nullptr));
    EXPECT_EQ(t.state->cameraZ, -5.6f);
}

TEST(Clusters, CameraBreathesInWithNotesAndOutInSilence) {
    struct Case {
        float startZ;
        int counter;
        std::vector<bool> notes;
        std::vector<float> z;
    };
    const Case cases[] = {
        {-5.8f, 0, {1, 1, 1, 1, 1}, {-5.6f, -5.4f, -5.2f, -5.0f, -5.0f}},
        {-5.0f, 0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         {-5.0f, -5.2f, -5.2f, -5.4f, -5.4f, -5.6f, -5.6f, -5.8f, -5.8f, -5.8f}},
        {-5.4f, 0, {0, 1, 0}, {-5.4f, -5.2f, -5.2f}},  // the note tick restarts the count
        {-5.4f, 1, {0, 0, 0}, {-5.6f, -5.6f, -5.8f}},
        {-7.0f, 1, {0}, {-5.8f}},  // off the ladder
        {-7.0f, 0, {1}, {-5.0f}},
    };
    for (const Case& c : cases) {
        Tick t;
        t.state->cameraX = 0.25f;
        t.state->cameraY = -0.5f;
        t.state->cameraZ = c.startZ;
        t.clusters.breathCounter = c.counter;
        for (std::size_t k = 0; k < c.notes.size(); ++k) {
            t.queue(c.notes[k] ? Notes{60} : Notes{});
            EXPECT_TRUE(breatheCamera(t.clusters, *t.state, t.scene.get(), t.camera));
            EXPECT_EQ(t.state->cameraZ, c.z[k]) << c.startZ << " tick " << k;
            const retained::Vector3 p = t.camera->worldTransform().transformPoint({0, 0, 0});
            EXPECT_EQ(p.x, 0.25f);
            EXPECT_EQ(p.y, -0.5f);
            EXPECT_EQ(p.z, c.z[k]);
        }
    }
}

}  // namespace
}  // namespace vesk::scene
