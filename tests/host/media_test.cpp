// Music in: files the tests encode, decoded back through the player's media
// layer, and the folders they sit in.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "host_test_support.h"
#include "lv/media.h"
#include "fft_analyzer.h"
#include "test_pictures.h"

using hosttest::TempDir;

TEST(Media, EveryCommonFormatDecodesTo44kStereoWithTheToneInItsBin) {
    TempDir dir;
    const std::tuple<std::string, int, int> cases[] = {{"a.flac", 44100, 2}, {"b.mp3", 44100, 2}, {"c.opus", 48000, 1},
                                                       {"d.m4a", 48000, 2},  {"e.ogg", 22050, 2}, {"f.wav", 32000, 1}};
    for (const auto& [file, rate, channels] : cases) {
        hosttest::AudioSpec spec;
        spec.sampleRate = rate;
        spec.channels = channels;
        spec.seconds = 2.0;
        std::string error;
        ASSERT_TRUE(hosttest::makeAudioFile(dir / file, spec, error)) << error;
        lv::AudioDecoder d;
        ASSERT_TRUE(d.open(dir / file)) << d.error();
        std::vector<float> pcm, chunk(4096 * 2);
        for (size_t n; (n = d.read(chunk.data(), 4096)) > 0;) pcm.insert(pcm.end(), chunk.begin(), chunk.begin() + long(n) * 2);
        EXPECT_FALSE(d.failed()) << file << ": " << d.error();
        // Two seconds at 44.1 kHz, give or take the codec's padding.
        EXPECT_NEAR(double(pcm.size() / 2), 88200.0, 88200.0 * 0.04) << file;
        ASSERT_GT(pcm.size(), size_t(44100 * 2));
        // 1 kHz comes out at 1 kHz, in both channels (mono spread to both).
        SpectrumAnalyzer analyzer;
        uint8_t spectrum[2][512], waveform[2][512];
        analyzer.compute(&pcm[44100 * 2 - SpectrumAnalyzer::WINDOW_FRAMES * 2], spectrum, waveform);
        for (int ch = 0; ch < 2; ++ch)
            EXPECT_EQ(std::max_element(spectrum[ch], spectrum[ch] + 512) - spectrum[ch], 23) << file << " ch " << ch;
    }
}

TEST(Media, FoldersBecomeTheirAudioFilesInNameOrderAndLendUntaggedFilesTheirPicture) {
    TempDir dir;
    std::filesystem::create_directories(dir / "music/B side");
    for (const char* name : {"music/02 two.mp3", "music/01 one.FLAC", "music/B side/01 three.ogg", "music/notes.txt",
                             "music/cover.jpg", "loose.wav"})
        hosttest::writeFile(dir / name, "x");
    std::vector<std::string> problems;
    const auto list = lv::expandPlaylist({dir / "loose.wav", dir / "music", dir / "missing.mp3"}, problems);
    EXPECT_EQ(list, std::vector<std::string>({dir / "loose.wav", dir / "music/01 one.FLAC", dir / "music/02 two.mp3",
                                              dir / "music/B side/01 three.ogg"}));
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("missing.mp3"), std::string::npos);

    std::string error;
    ASSERT_TRUE(hosttest::makeAudioFile(dir / "music/03 Night Drive.wav", {}, error)) << error;
    const std::vector<uint8_t> folderJpg = lvtest::makeJPEG(16, 16, lvtest::solid({10, 20, 30, 255}));
    hosttest::writeFile(dir / "music/Folder.JPG", std::string(folderJpg.begin(), folderJpg.end()));
    hosttest::writeFile(dir / "music/cover.jpg", "not a picture");   // passed over
    lv::TrackMeta meta;
    ASSERT_TRUE(lv::probeTrack(dir / "music/03 Night Drive.wav", meta, error)) << error;
    EXPECT_EQ(meta.title, "03 Night Drive");
    EXPECT_EQ(meta.artist, "");
    EXPECT_EQ(meta.cover.format, lv::ImageFormat::Jpeg);
    EXPECT_EQ(meta.cover.bytes, folderJpg);
    // cover.png wins over folder.jpg.
    const std::vector<uint8_t> coverPng = lvtest::makePNG(16, 16, lvtest::solid({1, 2, 3, 255}));
    hosttest::writeFile(dir / "music/cover.png", std::string(coverPng.begin(), coverPng.end()));
    ASSERT_TRUE(lv::probeTrack(dir / "music/03 Night Drive.wav", meta, error));
    EXPECT_EQ(meta.cover.bytes, coverPng);
}
