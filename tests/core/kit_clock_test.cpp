// The millisecond clock: its origin, its sources, and the absorption of
// clock steps that would otherwise stall the frame pacing.
#include <gtest/gtest.h>

#include <vector>

#include "libp5.h"

namespace {

// A scripted time source (the last reading repeats). Stands in for the wall
// clock, which a test cannot set back.
struct ScriptedClock {
    std::vector<long long> readings;
    size_t next = 0;

    static long long now(void* user) {
        auto* self = static_cast<ScriptedClock*>(user);
        return self->readings[std::min(self->next++, self->readings.size() - 1)];
    }
    static void sleep(void*, long long) {}
};

class KitClock : public testing::Test {
protected:
    void TearDown() override { setClockSource(nullptr); }
};

}  // namespace

TEST_F(KitClock, CountStartsAtZeroAndNeverGoesBack) {
    ScriptedClock clock{{1000000, 1005000, 1012000, 1002000, 1003000, 1020000}};
    ClockSource source{ScriptedClock::now, ScriptedClock::sleep, &clock};
    setClockSource(&source);
    std::vector<long> seen;
    for (size_t i = 0; i < clock.readings.size(); ++i) seen.push_back(millis());
    // 0, +5, +7, step back 10 ms (dropped), +1, +17.
    EXPECT_EQ(seen, (std::vector<long>{0, 5, 12, 12, 13, 30}));

    // The wall clock's path: agreeing clocks pass, a step back holds the
    // count, a leap forward takes the steady clock's interval.
    const long long frame = 16667, hour = 3600LL * 1000000;
    EXPECT_EQ(absorbWallClockStep(frame + 900, frame), frame + 900);
    EXPECT_EQ(absorbWallClockStep(-hour + frame, frame), 0);
    EXPECT_EQ(absorbWallClockStep(hour + frame, frame), frame);
    EXPECT_EQ(absorbWallClockStep(frame, hour), hour);   // set back by less than the interval
    EXPECT_EQ(absorbWallClockStep(hour, -5), 0);
}

TEST_F(KitClock, VirtualClockRunsOnlyWhenToldOrSlept) {
    VirtualClock clock;
    clock.setMicros(5000000);
    clock.install();
    EXPECT_EQ(millis(), 0);
    sleepMicros(8333);
    sleepMicros(-5000);   // a negative sleep is no sleep
    clock.advanceMicros(1500000);
    EXPECT_EQ(millis(), 1508);
}
