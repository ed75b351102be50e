// Music in: files the tests encode, decoded back through the player's media
// layer, and the folders they sit in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#include "program_test_support.h"
#include "lv/media.h"
#include "fft_spectrum_analyzer.h"
#include "program.h"
#include "test_pictures.h"

using lvtest::TempDir;

namespace {

// A 32-bit float stereo WAV, as damaged or odd as the samples and rate make
// it: lv::WavWriter writes only clean 16-bit sound at the media rate.
void writeFloatWav(const std::string& path, int rate, const std::vector<float>& stereo) {
    std::string bytes = "RIFF....WAVEfmt ";
    auto put = [&](uint32_t v, int n) {
        for (int i = 0; i < n; ++i) bytes += char((v >> (8 * i)) & 0xFF);
    };
    put(16, 4), put(3, 2), put(2, 2), put(uint32_t(rate), 4), put(uint32_t(rate) * 8, 4), put(8, 2), put(32, 2);
    bytes += "data";
    put(uint32_t(stereo.size() * 4), 4);
    bytes.append(reinterpret_cast<const char*>(stereo.data()), stereo.size() * 4);
    const uint32_t riff = uint32_t(bytes.size() - 8);
    std::memcpy(&bytes[4], &riff, 4);
    lvtest::writeFile(path, bytes);
}

std::vector<float> decodeAll(const std::string& path) {
    lv::AudioDecoder d;
    EXPECT_TRUE(d.open(path)) << d.error();
    std::vector<float> pcm, chunk(4096 * 2);
    for (size_t n; (n = d.read(chunk.data(), 4096)) > 0;) pcm.insert(pcm.end(), chunk.begin(), chunk.begin() + long(n) * 2);
    EXPECT_FALSE(d.failed()) << path << ": " << d.error();
    return pcm;
}

}  // namespace

TEST(Media, EveryCommonFormatDecodesTo44kStereoWithTheToneInItsBin) {
    TempDir dir;
    const std::tuple<std::string, int, int> cases[] = {{"a.flac", SAMPLE_RATE, 2}, {"b.mp3", SAMPLE_RATE, 2},
                                                       {"c.opus", 48000, 1},       {"d.m4a", 48000, 2},
                                                       {"e.ogg", 22050, 2},        {"f.wav", 32000, 1}};
    for (const auto& [file, rate, channels] : cases) {
        lvtest::ToneFile tone;
        tone.sampleRate = rate;
        tone.channels = channels;
        tone.seconds = 2.0;
        std::string error;
        ASSERT_TRUE(lvtest::makeAudioFile(dir / file, tone, error)) << error;
        const std::vector<float> pcm = decodeAll(dir / file);
        // Two seconds at 44.1 kHz, give or take the codec's padding.
        EXPECT_NEAR(double(pcm.size() / 2), 2.0 * SAMPLE_RATE, 2.0 * SAMPLE_RATE * 0.04) << file;
        ASSERT_GT(pcm.size(), size_t(SAMPLE_RATE * 2));
        // 1 kHz comes out at 1 kHz, in both channels (mono spread to both).
        SpectrumAnalyzer analyzer;
        uint8_t spectrum[2][SPECTRUM_BINS], waveform[2][WAVEFORM_SAMPLES];
        analyzer.compute(&pcm[SAMPLE_RATE * 2 - WINDOW_FRAMES * 2], spectrum, waveform);
        for (int ch = 0; ch < 2; ++ch)
            EXPECT_EQ(std::max_element(spectrum[ch], spectrum[ch] + SPECTRUM_BINS) - spectrum[ch], 23) << file << " ch " << ch;
    }
}

TEST(Media, DamagedSamplesAndAbsurdRatesComeOutPlayable) {
    TempDir dir;
    // NaN and infinities (which the AAC encoder refuses) become silence,
    // overshoots full scale.
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const std::vector<float> damaged = {nan, inf, -inf, 4.0f, -3.0f, 0.25f};
    std::vector<float> samples;
    for (int i = 0; i < 1000; ++i) samples.insert(samples.end(), damaged.begin(), damaged.end());
    writeFloatWav(dir / "damaged.wav", SAMPLE_RATE, samples);
    const std::vector<float> pcm = decodeAll(dir / "damaged.wav");
    ASSERT_EQ(pcm.size(), samples.size());
    EXPECT_EQ(std::vector<float>(pcm.begin(), pcm.begin() + 6), std::vector<float>({0.0f, 0.0f, 0.0f, 1.0f, -1.0f, 0.25f}));

    // Ten samples a second: each packet becomes over a hundred thousand
    // frames, handed out a piece at a time and all of them in order.
    std::vector<float> slow(100 * 2);
    for (size_t i = 0; i < slow.size(); ++i) slow[i] = 0.5f * float(std::sin(double(i / 2) * 2.0 * M_PI / 20.0));
    writeFloatWav(dir / "slow.wav", 10, slow);
    const std::vector<float> stretched = decodeAll(dir / "slow.wav");
    EXPECT_NEAR(double(stretched.size() / 2), 10.0 * SAMPLE_RATE, 10.0 * SAMPLE_RATE * 0.01);
    // A 0.5 Hz sine: its peak a quarter period (0.5 s) in, its trough at 1.5 s.
    ASSERT_GT(stretched.size(), size_t(SAMPLE_RATE * 2 * 2));
    EXPECT_NEAR(stretched[SAMPLE_RATE / 2 * 2], 0.5f, 0.05f);
    EXPECT_NEAR(stretched[SAMPLE_RATE * 3 / 2 * 2], -0.5f, 0.05f);
}

// A minute of mp3 cut to its first five sixths: ten seconds short is far
// more than a codec's padding, on a long file as on a short one.
TEST(Media, AMinuteCutTenSecondsShortIsSaidToStopEarly) {
    TempDir dir;
    lvtest::makeTone(dir / "whole.mp3", 60.0);
    const std::string whole = lvtest::readFile(dir / "whole.mp3");
    lvtest::writeFile(dir / "cut.mp3", whole.substr(0, whole.size() * 5 / 6));
    lv::AudioDecoder d;
    ASSERT_TRUE(d.open(dir / "cut.mp3")) << d.error();
    std::vector<float> chunk(4096 * 2);
    while (d.read(chunk.data(), 4096) > 0) {}
    EXPECT_TRUE(d.failed());
    EXPECT_NE(d.error().find("stops at 0:5"), std::string::npos) << d.error();
    EXPECT_NE(d.error().find("of the 1:00 its header states"), std::string::npos) << d.error();
}

// Where a list ends: a looping one whose files hold no sound after one pass;
// the demo alone after exactly the length its tags give.
TEST(Media, ALoopingListWhoseFilesHoldNoSoundEndsAndTheDemoEndsAtItsLength) {
    TempDir dir;
    writeFloatWav(dir / "empty.wav", SAMPLE_RATE, {});   // opens, then gives nothing
    Program program({dir / "empty.wav"}, true);
    std::vector<std::string> warnings;
    program.mWarn = [&](const std::string& m) { warnings.push_back(m); };
    lv::TrackMeta meta;
    float frames[64];
    int opened = 0;
    for (; opened < 3 && program.next(meta); ++opened) EXPECT_EQ(program.read(frames, 32), 0u);
    EXPECT_EQ(opened, 1) << "a pass without sound must end the loop";
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("empty.wav"), std::string::npos) << warnings[0];

    Program demo({}, false);
    ASSERT_TRUE(demo.next(meta));
    std::vector<float> chunk(4096 * 2);
    long long played = 0;
    for (size_t n; (n = demo.read(chunk.data(), 4096)) > 0;) played += (long long)n;
    EXPECT_EQ(played, meta.durationMs * SAMPLE_RATE / 1000);
    EXPECT_FALSE(demo.next(meta));
}

TEST(Media, FoldersBecomeTheirAudioFilesInNameOrderAndLendUntaggedFilesTheirPicture) {
    TempDir dir;
    std::filesystem::create_directories(dir / "music/B side");
    for (const char* name : {"music/02 two.mp3", "music/01 one.FLAC", "music/B side/01 three.ogg", "music/notes.txt",
                             "music/cover.jpg", "loose.wav"})
        lvtest::writeFile(dir / name, "x");
    std::vector<std::string> problems;
    const auto list = lv::expandPlaylist({dir / "loose.wav", dir / "music", dir / "missing.mp3"}, problems);
    EXPECT_EQ(list, std::vector<std::string>({dir / "loose.wav", dir / "music/01 one.FLAC", dir / "music/02 two.mp3",
                                              dir / "music/B side/01 three.ogg"}));
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("missing.mp3"), std::string::npos);

    lvtest::makeTone(dir / "music/03 Night Drive.wav", 1.0);
    const std::vector<uint8_t> folderJpg = lvtest::makeJPEG(16, 16, lvtest::solid({10, 20, 30, 255}));
    lvtest::writeFile(dir / "music/Folder.JPG", std::string(folderJpg.begin(), folderJpg.end()));
    lvtest::writeFile(dir / "music/cover.jpg", "not a picture");   // passed over
    lv::TrackMeta meta;
    std::string error;
    ASSERT_TRUE(lv::probeTrack(dir / "music/03 Night Drive.wav", meta, error)) << error;
    EXPECT_EQ(meta.title, "03 Night Drive");
    EXPECT_EQ(meta.artist, "");
    EXPECT_EQ(meta.cover.format, lv::ImageFormat::Jpeg);
    EXPECT_EQ(meta.cover.bytes, folderJpg);
    // cover.png wins over folder.jpg.
    const std::vector<uint8_t> coverPng = lvtest::makePNG(16, 16, lvtest::solid({1, 2, 3, 255}));
    lvtest::writeFile(dir / "music/cover.png", std::string(coverPng.begin(), coverPng.end()));
    ASSERT_TRUE(lv::probeTrack(dir / "music/03 Night Drive.wav", meta, error));
    EXPECT_EQ(meta.cover.bytes, coverPng);
}
