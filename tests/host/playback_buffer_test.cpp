// PlaybackBuffer, where decoding, the sound device and the picture meet: what
// the picture is told is being heard, and which track that is. Times are
// passed in, so the arithmetic is exact.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "playback_buffer.h"

TEST(PlaybackBuffer, HeardIsWhatTheDeviceWasGivenLessItsLatencyOnTheClock) {
    // Frames whose left sample is their own position in the track (right: minus it).
    std::vector<float> ramp(3000 * 2);
    for (size_t i = 0; i < 3000; ++i) {
        ramp[i * 2] = float(i);
        ramp[i * 2 + 1] = -float(i);
    }
    lv::TrackMeta one, two;
    one.title = "one";
    two.title = "two";
    PlaybackBuffer b(8192, 8192);
    b.startTrack(one);
    ASSERT_TRUE(b.push(ramp.data(), 3000));
    b.startTrack(two);
    ASSERT_TRUE(b.push(ramp.data(), 1000));
    b.finish();

    std::vector<float> out(2048 * 2);
    const PlaybackBuffer::Clock::time_point t0 = PlaybackBuffer::Clock::now();
    b.pull(out.data(), 2048, t0, 0);   // frames 0..2047 go to the device
    EXPECT_EQ(out[2047 * 2], 2047.0f);
    b.pull(out.data(), 2048, t0, 1000);   // 2048..4095, sounding 1000 frames later; silence after 4000
    EXPECT_EQ(out[(3999 - 2048) * 2], 999.0f);
    EXPECT_EQ(out[(4000 - 2048) * 2], 0.0f);

    PlaybackBuffer::Snapshot s;
    auto at = [&](int ms) {
        b.snapshot(t0 + std::chrono::milliseconds(ms), s);
        return s.position;
    };
    EXPECT_EQ(at(0), 2048 - 1000);
    // The window ends with the frame heard: its samples are the positions.
    EXPECT_EQ(s.window[(WINDOW_FRAMES - 1) * 2], 1047.0f);
    EXPECT_EQ(s.window[(WINDOW_FRAMES - 1) * 2 + 1], -1047.0f);
    EXPECT_EQ(s.track, 0);
    EXPECT_EQ(b.trackMeta(s.track).title, "one");
    EXPECT_EQ(at(10), 1048 + 441);
    EXPECT_EQ(at(50), 1048 + 2205);
    EXPECT_EQ(s.track, 1);
    EXPECT_EQ(b.trackMeta(s.track).title, "two");
    EXPECT_EQ(b.trackMeta(0).title, "") << "a track no longer heard is let go (a looping list would pile up covers)";
    EXPECT_EQ(s.trackPosition, 1048 + 2205 - 3000);
    EXPECT_FALSE(s.over);
    // Never past what the device has been given, never backwards; the end is
    // heard when its last frame is.
    EXPECT_EQ(at(1000), 4096);
    EXPECT_TRUE(s.over);
    EXPECT_EQ(at(40), 4096);

    // Pushes that run past the end of the queue go on at its start, and the
    // device gets them in order.
    PlaybackBuffer small(5, 0);
    small.startTrack(one);
    for (size_t from = 0; from < 12; from += 3) {
        ASSERT_TRUE(small.push(&ramp[from * 2], 3));
        small.pull(out.data(), 3, t0, 0);
        const std::vector<float> want(ramp.begin() + long(from * 2), ramp.begin() + long(from * 2 + 6));
        EXPECT_EQ(std::vector<float>(out.begin(), out.begin() + 6), want) << "from frame " << from;
    }
}
