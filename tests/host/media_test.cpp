// Music in: files the tests encode with FFmpeg, decoded back through the
// player's media layer, with their tags, covers and folders.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "host_test_support.h"
#include "lv/media.h"
#include "spectrum.h"

using hosttest::AudioSpec;
using hosttest::TempDir;

namespace {

std::vector<float> decodeAll(lv::AudioDecoder& d) {
    std::vector<float> all, chunk(4096 * 2);
    for (size_t n; (n = d.read(chunk.data(), 4096)) > 0;) all.insert(all.end(), chunk.begin(), chunk.begin() + long(n) * 2);
    return all;
}

void make(const std::string& path, const AudioSpec& spec) {
    std::string error;
    ASSERT_TRUE(hosttest::makeAudioFile(path, spec, error)) << error;
}

}  // namespace

TEST(Media, EveryCommonFormatDecodesTo44kStereo) {
    TempDir dir;
    struct Case {
        std::string file, codec;
        int rate, channels;
    };
    const std::vector<Case> cases = {{"a.flac", "flac", 44100, 2}, {"b.mp3", "mp3", 44100, 2},
                                     {"c.opus", "opus", 48000, 1}, {"d.m4a", "aac", 48000, 2},
                                     {"e.ogg", "vorbis", 22050, 2}, {"f.wav", "pcm", 32000, 1}};
    for (const Case& c : cases) {
        AudioSpec spec;
        spec.codec = c.codec;
        spec.sampleRate = c.rate;
        spec.channels = c.channels;
        spec.seconds = 2.0;
        make(dir / c.file, spec);
        lv::AudioDecoder d;
        ASSERT_TRUE(d.open(dir / c.file)) << d.error();
        std::vector<float> pcm = decodeAll(d);
        EXPECT_FALSE(d.failed()) << c.file << ": " << d.error();
        // Two seconds at 44.1 kHz, give or take the codec's padding.
        EXPECT_NEAR(double(pcm.size() / 2), 88200.0, 88200.0 * 0.04) << c.file;
        ASSERT_GT(pcm.size(), size_t(44100 * 2));
        // The 1 kHz tone comes out at 1 kHz, in both channels (mono spread to both).
        SpectrumAnalyzer analyzer;
        uint8_t spectrum[2][512], waveform[2][512];
        analyzer.compute(&pcm[44100 * 2 - SpectrumAnalyzer::WINDOW_FRAMES * 2], spectrum, waveform);
        for (int ch = 0; ch < 2; ++ch)
            EXPECT_EQ(std::max_element(spectrum[ch], spectrum[ch] + 512) - spectrum[ch], 23) << c.file << " ch " << ch;
    }
}

TEST(Media, TagsAndTheEmbeddedCoverComeWithTheTrack) {
    TempDir dir;
    AudioSpec flac;
    flac.tags = {{"title", "Nachtfahrt \xC3\xBC"}, {"artist", "Die Testband"}, {"album", "Proben"},
                 {"track", "3/12"}, {"date", "2019-05-01"}};
    flac.picture = hosttest::solidPng(32, 0, 200, 0);
    make(dir / "tagged.flac", flac);
    AudioSpec mp3 = flac;
    mp3.codec = "mp3";
    mp3.picture = hosttest::solidJpeg(32, 200, 0, 0);
    make(dir / "tagged.mp3", mp3);

    lv::TrackMeta meta;
    std::string error;
    ASSERT_TRUE(lv::probeTrack(dir / "tagged.flac", meta, error)) << error;
    EXPECT_EQ(meta.title, "Nachtfahrt \xC3\xBC");
    EXPECT_EQ(meta.artist, "Die Testband");
    EXPECT_EQ(meta.album, "Proben");
    EXPECT_EQ(meta.trackNumber, 3);
    EXPECT_EQ(meta.year, 2019);
    EXPECT_NEAR(double(meta.durationMs), 1000.0, 30.0);
    EXPECT_EQ(meta.cover.format, lv::ImageFormat::Png);
    EXPECT_EQ(meta.cover.bytes, flac.picture);

    lv::AudioDecoder d;
    ASSERT_TRUE(d.open(dir / "tagged.mp3")) << d.error();
    EXPECT_EQ(d.meta().title, "Nachtfahrt \xC3\xBC");
    EXPECT_EQ(d.meta().cover.format, lv::ImageFormat::Jpeg);
    EXPECT_EQ(d.meta().cover.bytes, mp3.picture);
}

TEST(Media, UntaggedFilesTakeTheirNameAndAPictureBesideThem) {
    TempDir dir;
    std::filesystem::create_directories(dir / "album");
    AudioSpec wav;
    wav.codec = "pcm";
    make(dir / "album/03 Night Drive.wav", wav);
    auto folderJpg = hosttest::solidJpeg(16, 10, 20, 30);
    hosttest::writeFile(dir / "album/Folder.JPG", folderJpg);
    lv::TrackMeta meta;
    std::string error;
    ASSERT_TRUE(lv::probeTrack(dir / "album/03 Night Drive.wav", meta, error)) << error;
    EXPECT_EQ(meta.title, "03 Night Drive");
    EXPECT_EQ(meta.artist, "");
    EXPECT_EQ(meta.cover.format, lv::ImageFormat::Jpeg);
    EXPECT_EQ(meta.cover.bytes, folderJpg);

    // cover.png wins over folder.jpg; a picture that is not one is passed over.
    auto coverPng = hosttest::solidPng(16, 1, 2, 3);
    hosttest::writeFile(dir / "album/cover.png", coverPng);
    hosttest::writeFile(dir / "album/cover.jpg", std::string("not a picture"));
    ASSERT_TRUE(lv::probeTrack(dir / "album/03 Night Drive.wav", meta, error));
    EXPECT_EQ(meta.cover.bytes, coverPng);
}

TEST(Media, FoldersBecomeTheirAudioFilesInNameOrder) {
    TempDir dir;
    std::filesystem::create_directories(dir / "music/B side");
    for (const char* name : {"music/02 two.mp3", "music/01 one.FLAC", "music/B side/01 three.ogg",
                             "music/notes.txt", "music/cover.jpg", "loose.wav"})
        hosttest::writeFile(dir / name, std::string("x"));
    std::vector<std::string> problems;
    auto list = lv::expandPlaylist({dir / "loose.wav", dir / "music", dir / "missing.mp3"}, problems);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0], dir / "loose.wav");
    EXPECT_EQ(list[1], dir / "music/01 one.FLAC");
    EXPECT_EQ(list[2], dir / "music/02 two.mp3");
    EXPECT_EQ(list[3], dir / "music/B side/01 three.ogg");
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("missing.mp3"), std::string::npos);
}

TEST(Media, DamagedFilesFailWithAMessageNamingThem) {
    TempDir dir;
    hosttest::writeFile(dir / "text.mp3", std::string("This is a shopping list, not a song.\n"));
    lv::AudioDecoder d;
    EXPECT_FALSE(d.open(dir / "text.mp3"));
    EXPECT_NE(d.error().find("text.mp3"), std::string::npos) << d.error();
    EXPECT_EQ(d.read(nullptr, 0), 0u);

    EXPECT_FALSE(d.open(dir / "nowhere.flac"));
    EXPECT_NE(d.error().find("No such file"), std::string::npos) << d.error();

    // A real FLAC header followed by noise: it may open, but it does not play.
    AudioSpec spec;
    spec.seconds = 3.0;
    make(dir / "good.flac", spec);
    auto bytes = hosttest::readFile(dir / "good.flac");
    ASSERT_GT(bytes.size(), 400u);
    uint32_t x = 12345;
    for (size_t i = 200; i < bytes.size(); ++i) {
        x = x * 1664525u + 1013904223u;
        bytes[i] = uint8_t(x >> 24);
    }
    hosttest::writeFile(dir / "noise.flac", bytes);
    if (d.open(dir / "noise.flac")) {
        decodeAll(d);
        EXPECT_TRUE(d.failed());
    }
    EXPECT_NE(d.error().find("noise.flac"), std::string::npos) << d.error();
}
