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
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = i % 2 ? -float(i / 2) : float(i / 2);
    lv::TrackMeta one, two;
    one.title = "one", two.title = "two";
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

// Captured sound is heard as it comes, unless the picture is held back
// (--delay): then the window ends that much earlier, even two seconds back,
// further than the history holds by default; and a track named while
// capturing shows when its first frame is seen, not before.
TEST(PlaybackBuffer, CapturedSoundIsShownTheDelayLater) {
    constexpr long long kDelay = 2 * SAMPLE_RATE;
    PlaybackBuffer b(4096, 4096);
    b.setCaptureDelay(kDelay);
    lv::TrackMeta live, named;
    live.title = "Live sound", named.title = "Named";
    b.startTrack(live);
    std::vector<float> chunk(441 * 2);
    const PlaybackBuffer::Clock::time_point t0 = PlaybackBuffer::Clock::now();
    long long captured = 0;
    auto capture = [&](long long frames) {
        for (long long n = 0; n < frames; n += 441) {
            for (size_t i = 0; i < 441; ++i) chunk[i * 2] = chunk[i * 2 + 1] = float(captured + (long long)i);
            captured += 441;
            b.played(chunk.data(), 441, t0);
        }
    };
    capture(3 * SAMPLE_RATE);
    b.startTrack(named);
    PlaybackBuffer::Snapshot s;
    b.snapshot(t0, s);
    EXPECT_EQ(s.position, captured - kDelay);
    EXPECT_EQ(s.window[(WINDOW_FRAMES - 1) * 2], float(captured - kDelay - 1)) << "the history reaches back far enough";
    EXPECT_EQ(b.trackMeta(s.track).title, "Live sound") << "the new name waits for its sound";
    capture(kDelay);
    b.snapshot(t0, s);
    EXPECT_EQ(b.trackMeta(s.track).title, "Named");
}

// A skip jumps to the track queued after the one heard; on the last track
// it changes nothing, and the track plays to its end.
TEST(PlaybackBuffer, ASkipJumpsToTheNextTrackAndOnTheLastOneChangesNothing) {
    // Track one's frames hold 1000 + their position, track two's 2000 + it.
    std::vector<float> one(1000 * 2), two(1000 * 2);
    for (size_t i = 0; i < one.size(); ++i) one[i] = 1000.0f + float(i / 2), two[i] = 2000.0f + float(i / 2);
    PlaybackBuffer b(8192, 8192);
    b.startTrack(lv::TrackMeta{});
    ASSERT_TRUE(b.push(one.data(), 1000));
    b.startTrack(lv::TrackMeta{});
    ASSERT_TRUE(b.push(two.data(), 1000));
    b.finish();

    std::vector<float> out(100 * 2);
    PlaybackBuffer::Snapshot s;
    const PlaybackBuffer::Clock::time_point t0 = PlaybackBuffer::Clock::now();
    b.pull(out.data(), 100, t0, 0);
    b.snapshot(t0, s);
    EXPECT_EQ(s.track, 0);
    b.skip();
    b.pull(out.data(), 100, t0, 0);
    EXPECT_EQ(out[0], 2000.0f) << "the rest of track one is dropped";
    b.snapshot(t0 + std::chrono::milliseconds(3), s);   // 132 frames on: into the second pull
    EXPECT_EQ(s.track, 1);
    b.skip();
    for (float expected = 2100.0f; expected < 3000.0f; expected += 100.0f) {
        b.pull(out.data(), 100, t0, 0);
        EXPECT_EQ(out[0], expected) << "the last track plays on";
        EXPECT_EQ(out[99 * 2], expected + 99.0f);
    }
    b.snapshot(t0 + std::chrono::seconds(1), s);
    EXPECT_EQ(s.track, 1);
    EXPECT_TRUE(s.over) << "and ends where it ends";

    // Before the end is known, the decoding thread answers a skip: the next
    // chunk is refused whole, then either the next track starts (and what
    // was queued of this one is dropped) or none follows and the chunk is
    // pushed again, the track going on without a gap.
    for (const bool follows : {true, false}) {
        PlaybackBuffer c(8192, 8192);
        c.startTrack(lv::TrackMeta{});
        ASSERT_TRUE(c.push(one.data(), 500));
        c.pull(out.data(), 100, t0, 0);
        c.skip();
        EXPECT_FALSE(c.push(one.data() + 500 * 2, 500));
        follows ? c.startTrack(lv::TrackMeta{}) : c.lastTrack();
        ASSERT_TRUE(follows ? c.push(two.data(), 1000) : c.push(one.data() + 500 * 2, 500));
        c.pull(out.data(), 100, t0, 0);
        EXPECT_EQ(out[0], follows ? 2000.0f : 1100.0f) << follows;
        EXPECT_TRUE(c.push(one.data(), 1)) << "the skip is answered";
    }
}
