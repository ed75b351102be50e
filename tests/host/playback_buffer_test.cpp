// PlaybackBuffer, where decoding, the sound device and the picture meet: what
// the picture is told is being heard, and which track that is. Times are
// passed in, so the cases are exact.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "playback_buffer.h"

namespace {

using Clock = PlaybackBuffer::Clock;
using std::chrono::milliseconds;

lv::TrackMeta track(const std::string& title) {
    lv::TrackMeta m;
    m.title = title;
    return m;
}

// Frames whose left sample is their own position (right: minus it).
std::vector<float> ramp(long long from, size_t count) {
    std::vector<float> v(count * 2);
    for (size_t i = 0; i < count; ++i) {
        v[i * 2] = float(from + (long long)i);
        v[i * 2 + 1] = -float(from + (long long)i);
    }
    return v;
}

}  // namespace

TEST(PlaybackBuffer, HeardPositionFollowsTheDeviceLessItsLatency) {
    PlaybackBuffer b(8192, 8192);
    b.startTrack(track("one"));
    auto music = ramp(0, 8192);
    ASSERT_TRUE(b.push(music.data(), 8192));

    std::vector<float> out(2048 * 2);
    Clock::time_point t0 = Clock::now();
    b.pull(out.data(), 2048, t0, 0);   // frames 0..2047 go to the device
    EXPECT_EQ(out[2047 * 2], 2047.0f);
    b.pull(out.data(), 2048, t0, 1000);   // 2048..4095, which sound 1000 frames later
    PlaybackBuffer::Snapshot s;
    b.snapshot(t0, s);
    EXPECT_EQ(s.position, 2048 - 1000);
    // The window ends with the frame heard: its samples are the positions.
    EXPECT_EQ(s.window[(PlaybackBuffer::WINDOW_FRAMES - 1) * 2], float(2048 - 1000 - 1));
    EXPECT_EQ(s.window[(PlaybackBuffer::WINDOW_FRAMES - 1) * 2 + 1], -float(2048 - 1000 - 1));

    b.snapshot(t0 + milliseconds(10), s);   // 441 frames later
    EXPECT_EQ(s.position, 2048 - 1000 + 441);
    // Never past what the device has been given, never backwards.
    b.snapshot(t0 + milliseconds(1000), s);
    EXPECT_EQ(s.position, 4096);
    b.snapshot(t0 + milliseconds(20), s);
    EXPECT_EQ(s.position, 4096);
    EXPECT_EQ(s.track, 0);
    EXPECT_FALSE(s.over);
}

TEST(PlaybackBuffer, TrackChangesAndTheEndAreHeardWhenTheyPlay) {
    PlaybackBuffer b(8192, 8192);
    b.startTrack(track("one"));
    auto music = ramp(0, 3000);
    ASSERT_TRUE(b.push(music.data(), 3000));
    b.startTrack(track("two"));
    ASSERT_TRUE(b.push(music.data(), 1000));
    b.finish();

    std::vector<float> out(5000 * 2);
    Clock::time_point t0 = Clock::now();
    b.pull(out.data(), 5000, t0, 0);   // 4000 frames of music, then silence
    EXPECT_EQ(out[3999 * 2], 999.0f);
    EXPECT_EQ(out[4500 * 2], 0.0f);
    PlaybackBuffer::Snapshot s;
    b.snapshot(t0 + milliseconds(50), s);   // 2205
    EXPECT_EQ(s.track, 0);
    EXPECT_EQ(b.trackMeta(s.track).title, "one");
    b.snapshot(t0 + milliseconds(70), s);   // 3087
    EXPECT_EQ(s.track, 1);
    EXPECT_EQ(s.trackPosition, 87);
    EXPECT_FALSE(s.over);
    b.snapshot(t0 + milliseconds(100), s);   // 4410: past the last frame
    EXPECT_TRUE(s.over);
}

TEST(PlaybackBuffer, SkipJumpsToAQueuedTrackOrAbandonsTheCurrentOne) {
    PlaybackBuffer b(8192, 8192);
    b.startTrack(track("one"));
    auto music = ramp(0, 2000);
    ASSERT_TRUE(b.push(music.data(), 2000));
    b.startTrack(track("two"));
    auto second = ramp(100000, 1000);
    ASSERT_TRUE(b.push(second.data(), 1000));

    // The next track is already queued: what is left of this one is dropped.
    b.skip();
    std::vector<float> out(10 * 2);
    Clock::time_point t0 = Clock::now();
    b.pull(out.data(), 10, t0, 0);
    EXPECT_EQ(out[0], 100000.0f);
    PlaybackBuffer::Snapshot s;
    b.snapshot(t0 + milliseconds(1), s);
    EXPECT_EQ(s.track, 1);

    // Nothing queued after it: the decoding side is told to give the track up.
    b.skip();
    EXPECT_FALSE(b.push(second.data(), 10));
    b.startTrack(track("three"));
    EXPECT_TRUE(b.push(second.data(), 10));
}

TEST(PlaybackBuffer, PauseFreezesWhatIsHeard) {
    PlaybackBuffer b(8192, 8192);
    b.startTrack(track("one"));
    auto music = ramp(0, 4096);
    ASSERT_TRUE(b.push(music.data(), 4096));
    std::vector<float> out(4096 * 2);
    Clock::time_point t0 = Clock::now();
    b.pull(out.data(), 4096, t0, 0);
    PlaybackBuffer::Snapshot s;
    b.snapshot(t0 + milliseconds(10), s);
    b.setPaused(true);
    PlaybackBuffer::Snapshot later;
    b.snapshot(t0 + milliseconds(60), later);
    EXPECT_TRUE(later.paused);
    EXPECT_EQ(later.position, s.position);
}

TEST(PlaybackBuffer, CapturedSoundIsHeardAtOnceAndAFullQueueWaitsForTheDevice) {
    PlaybackBuffer capture(1024, 4096);
    auto live = ramp(0, 1500);
    capture.played(live.data(), 1500, Clock::now());
    PlaybackBuffer::Snapshot s;
    capture.snapshot(Clock::now(), s);
    EXPECT_EQ(s.position, 1500);
    EXPECT_EQ(s.window[(PlaybackBuffer::WINDOW_FRAMES - 1) * 2], 1499.0f);

    // A decoder ahead of the device waits; close() releases it.
    PlaybackBuffer b(1024, 4096);
    auto music = ramp(0, 4096);
    bool pushed = true;
    std::thread decoder([&] { pushed = b.push(music.data(), 4096); });
    std::vector<float> out(512 * 2);
    b.pull(out.data(), 512, Clock::now(), 0);   // room for some, not all
    b.close();
    decoder.join();
    EXPECT_FALSE(pushed);
}
