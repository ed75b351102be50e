// The millisecond clock: its origin, its sources, and the absorption of
// clock steps that would otherwise stall the frame pacing.
#include <gtest/gtest.h>

#include <vector>

#include "libp5.h"

namespace {

// A scripted time source: each reading returns the next scripted value (the
// last one repeats), and the pacing's sleeps add to every later reading.
// Stands in for the wall clock, which a test cannot set back.
struct ScriptedClock {
    std::vector<long long> readings;
    size_t next = 0;
    long long slept = 0;

    static long long now(void* user) {
        auto* self = static_cast<ScriptedClock*>(user);
        long long t = self->readings[std::min(self->next, self->readings.size() - 1)];
        if (self->next < self->readings.size()) ++self->next;
        return t + self->slept;
    }
    static void sleep(void* user, long long micros) { static_cast<ScriptedClock*>(user)->slept += micros; }
    void install() {
        ClockSource source{now, sleep, this};
        setClockSource(&source);
    }
};

class KitClock : public testing::Test {
protected:
    void TearDown() override { setClockSource(nullptr); }
};

}  // namespace

TEST_F(KitClock, CountStartsAtZeroAndIgnoresBackwardSteps) {
    ScriptedClock clock;
    clock.readings = {1000000, 1005000, 1012000, 1002000, 1003000, 1020000};
    clock.install();
    std::vector<long> seen;
    for (size_t i = 0; i < clock.readings.size(); ++i) seen.push_back(millis());
    // 0, +5, +7, step back 10 ms (dropped), +1, +17.
    EXPECT_EQ(seen, (std::vector<long>{0, 5, 12, 12, 13, 30}));
}

TEST_F(KitClock, PacingLoopSurvivesAnHourBackwards) {
    // The frame pacing waits for 16 ms on millis() and sleeps 8333 µs at a
    // time. An hour's step back between two frames must not stall it.
    ScriptedClock clock;
    const long long hour = 3600LL * 1000000;
    clock.readings = {10 * hour, 10 * hour + 4000, 9 * hour + 4000};
    clock.install();
    long lastMillis = millis();
    int sleeps = 0;
    while (millis() - lastMillis < 16 && sleeps < 100) {
        sleepMicros(8333);
        ++sleeps;
    }
    EXPECT_LE(sleeps, 3);
    EXPECT_GE(millis(), 16);
}

TEST_F(KitClock, VirtualClockRunsOnlyWhenToldOrSlept) {
    VirtualClock clock;
    clock.setMicros(5000000);
    clock.install();
    EXPECT_EQ(millis(), 0);
    EXPECT_EQ(millis(), 0);
    sleepMicros(8333);
    sleepMicros(8333);
    EXPECT_EQ(millis(), 16);
    clock.advanceMicros(1500000);
    EXPECT_EQ(millis(), 1516);
    sleepMicros(-50);   // a negative sleep is no sleep
    EXPECT_EQ(millis(), 1516);

    resetMillis();
    EXPECT_EQ(millis(), 0);
    clock.advanceMicros(999);
    EXPECT_EQ(millis(), 0);
    clock.advanceMicros(1);
    EXPECT_EQ(millis(), 1);
}

TEST_F(KitClock, WallClockIsMonotonicFromZero) {
    setClockSource(nullptr);
    EXPECT_LE(millis(), 1);
    long previous = 0;
    for (int i = 0; i < 200; ++i) {
        long now = millis();
        ASSERT_GE(now, previous);
        previous = now;
    }
    sleepMicros(3000);
    EXPECT_GE(millis(), previous + 3);
    // The count is 64 bits wide here: it does not wrap after 24.8 days.
    static_assert(sizeof(long) == 8);
}

TEST(KitClockStep, AbsorbsStepsTheSteadyClockDidNotSee) {
    const long long frame = 16667;
    const long long hour = 3600LL * 1000000;
    // The clocks agree: the wall clock's interval is taken as it is,
    // including ordinary jitter and slewing between the two.
    EXPECT_EQ(absorbWallClockStep(frame, frame), frame);
    EXPECT_EQ(absorbWallClockStep(frame + 900, frame), frame + 900);
    EXPECT_EQ(absorbWallClockStep(10 * hour + 2000000, 10 * hour), 10 * hour + 2000000);
    // Set back: the count holds.
    EXPECT_EQ(absorbWallClockStep(-hour + frame, frame), 0);
    // Set forward (daylight saving, a clock correction): the steady clock's
    // interval replaces the leap.
    EXPECT_EQ(absorbWallClockStep(hour + frame, frame), frame);
    EXPECT_EQ(absorbWallClockStep(2 * WALL_CLOCK_STEP_SLACK_MICROS + frame, frame), frame);
    // A wall clock that lost most of a long interval.
    EXPECT_EQ(absorbWallClockStep(1000, 5000000), 5000000);
    // A steady clock that reports nonsense never makes the count go back.
    EXPECT_EQ(absorbWallClockStep(hour, -5), 0);
}
