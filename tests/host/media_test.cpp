// Music in: files the tests encode, decoded back through the player's media
// layer, and the folders they sit in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unistd.h>
#include <limits>
#include <numeric>

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

// Everything a file gives, and whether (and what) its decoder said was wrong;
// `whole`: a file that must decode without a word.
struct Decoded {
    std::vector<float> pcm;
    bool failed = false;
    std::string error;
};

Decoded decode(const std::string& path, bool whole = false) {
    lv::AudioDecoder d;
    EXPECT_TRUE(d.open(path)) << d.error();
    Decoded r;
    std::vector<float> chunk(4096 * 2);
    for (size_t n; (n = d.read(chunk.data(), 4096)) > 0;)
        r.pcm.insert(r.pcm.end(), chunk.begin(), chunk.begin() + long(n) * 2);
    r.failed = d.failed(), r.error = d.error();
    EXPECT_FALSE(whole && r.failed) << path << ": " << r.error;
    return r;
}

std::vector<float> decodeAll(const std::string& path) { return decode(path, true).pcm; }

float peak(const std::vector<float>& pcm) {
    float m = 0.0f;
    for (float v : pcm) m = std::max(m, std::fabs(v));
    return m;
}

}  // namespace

// Every common format, and damaged samples and absurd rates, come out as
// playable 44.1 kHz stereo.
TEST(Media, EveryCommonFormatAndDamagedSamplesAndAbsurdRatesDecodeTo44kStereo) {
    TempDir dir;
    const std::tuple<std::string, int, int> cases[] = {{"a.flac", SAMPLE_RATE, 2}, {"b.mp3", SAMPLE_RATE, 2},
                                                       {"c.opus", 48000, 1},       {"d.m4a", 48000, 2},
                                                       {"e.ogg", 22050, 2},        {"f.wav", 32000, 1}};
    for (const auto& [file, rate, channels] : cases) {
        lvtest::ToneFile tone;
        tone.sampleRate = rate, tone.channels = channels, tone.seconds = 2.0;
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

// Where a list ends: a looping one whose files hold no sound after one
// pass; the demo alone after exactly the length its tags give, a skip
// changing nothing. `n` on the last track: the files after it that cannot be
// played are tried (and named), and the track playing goes on from where it
// was; a looping list starts again.
TEST(Media, WhereAListEndsAndASkipFromItsLastPlayableTrackKeepsItPlaying) {
    TempDir dir;
    std::vector<std::string> warnings;
    auto listen = [&](Program& p) { p.mWarn = [&](const std::string& m) { warnings.push_back(m); }; };
    writeFloatWav(dir / "empty.wav", SAMPLE_RATE, {});   // opens, then gives nothing
    Program silent({dir / "empty.wav"}, true);
    listen(silent);
    lv::TrackMeta meta, skipped;
    std::vector<float> chunk(1000 * 2);
    int opened = 0;
    for (; opened < 3 && silent.next(meta); ++opened) EXPECT_EQ(silent.read(chunk.data(), 32), 0u);
    EXPECT_EQ(opened, 1) << "a pass without sound must end the loop";
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("empty.wav"), std::string::npos) << warnings[0];

    Program demo({}, false);
    ASSERT_TRUE(demo.next(meta));
    EXPECT_FALSE(demo.skip(skipped));
    long long played = 0;
    for (size_t n; (n = demo.read(chunk.data(), 1000)) > 0;) played += (long long)n;
    EXPECT_EQ(played, meta.durationMs * SAMPLE_RATE / 1000);
    EXPECT_FALSE(demo.next(meta));

    lvtest::makeTone(dir / "a.wav", 1.0);
    lvtest::writeFile(dir / "broken.mp3", "");
    const std::vector<float> whole = decodeAll(dir / "a.wav");
    ASSERT_GE(whole.size(), 4000u);
    Program list({dir / "a.wav", dir / "broken.mp3"}, false);
    listen(list);
    ASSERT_TRUE(list.next(meta));
    ASSERT_EQ(list.read(chunk.data(), 1000), 1000u);
    EXPECT_FALSE(list.skip(meta));
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_NE(warnings[1].find("broken.mp3"), std::string::npos) << warnings[1];
    ASSERT_EQ(list.read(chunk.data(), 1000), 1000u);
    EXPECT_TRUE(std::equal(chunk.begin(), chunk.end(), whole.begin() + 2000)) << "not where it was";

    Program looping({dir / "a.wav"}, true);
    ASSERT_TRUE(looping.next(meta));
    ASSERT_EQ(looping.read(chunk.data(), 1000), 1000u);
    EXPECT_TRUE(looping.skip(meta));
    ASSERT_EQ(looping.read(chunk.data(), 1000), 1000u);
    EXPECT_TRUE(std::equal(chunk.begin(), chunk.end(), whole.begin())) << "a looping list starts again";
}

// A folder becomes the files in it that FFmpeg plays, in name order and
// whatever their names: a tracker module, a Wave64 file, a module under a
// name no format claims. Pictures, text and a video with no sound are passed
// over without a word; a file named as music that is not music is listed, to
// be named when its turn comes. Links that lead back up the tree: each
// folder is walked once and each file listed once, and nothing is said about
// it. The walk as a whole is bounded, and says so when it stops early.
TEST(Media, FoldersBecomeWhatFFmpegPlaysInNameOrderOnceEachWithinBoundsAndLendTheirPicture) {
    namespace fs = std::filesystem;
    TempDir dir;
    fs::create_directories(dir / "music/B side");
    for (const char* name : {"music/02 two.mp3", "music/01 one.FLAC", "music/B side/01 three.ogg", "music/notes.txt",
                             "music/README", "music/cover.jpg", "loose.wav"})
        lvtest::writeFile(dir / name, "x");
    lvtest::writeFile(dir / "music/03 song.xm", lvtest::trackerModule(16));
    lvtest::makeTone(dir / "music/04 wave.w64", 0.5);
    lvtest::writeFile(dir / "music/05 tune.dat", lvtest::trackerModule(8));
    const std::vector<uint8_t> png = lvtest::makePNG(16, 16, lvtest::solid({1, 2, 3, 255}));
    lvtest::writeFile(dir / "music/back.png", std::string(png.begin(), png.end()));
    ASSERT_EQ(lvtest::run({"/usr/bin/ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=d=0.2:s=32x32",
                           dir / "music/clip.mkv"}).status, 0);
    std::vector<std::string> problems;
    std::vector<std::string> want = {dir / "loose.wav"};
    for (const char* name :
         {"01 one.FLAC", "02 two.mp3", "03 song.xm", "04 wave.w64", "05 tune.dat", "B side/01 three.ogg"})
        want.push_back(dir / "music/" + name);
    EXPECT_EQ(lv::expandPlaylist({dir / "loose.wav", dir / "music", dir / "missing.mp3"}, problems), want);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("missing.mp3"), std::string::npos);
    // Sixteen rows of 0.12 s and the last note's tail, and sound in them.
    const std::vector<float> pcm = decodeAll(dir / "music/03 song.xm");
    EXPECT_NEAR(double(pcm.size() / 2), 2.0 * SAMPLE_RATE, 0.15 * SAMPLE_RATE);
    EXPECT_GT(peak(pcm), 0.05f);

    fs::create_directories(dir / "links/sub");
    for (const char* name : {"links/a.wav", "links/sub/b.flac"}) lvtest::writeFile(dir / name, "x");
    for (auto [to, link] : {std::pair{".", "links/self"}, {".", "links/again"}, {"..", "links/sub/up"}})
        fs::create_directory_symlink(to, dir / link);
    fs::create_symlink("a.wav", dir / "links/alias.wav");
    const std::vector<std::string> links = {dir / "links/a.wav", dir / "links/sub/b.flac"};
    problems.clear();
    EXPECT_EQ(lv::expandPlaylist({dir / "links"}, problems), links);
    // A folder named twice plays twice, as a file named twice does.
    want = links;
    want.insert(want.end(), links.begin(), links.end());
    EXPECT_EQ(lv::expandPlaylist({dir / "links", dir / "links"}, problems), want);
    // The five names of links/ and the two of links/sub: seven fit, six do not.
    lv::PlaylistBounds bounds;
    bounds.maxEntries = 7;
    EXPECT_EQ(lv::expandPlaylist({dir / "links"}, problems, bounds).size(), 2u);
    EXPECT_TRUE(problems.empty()) << problems[0];
    bounds.maxEntries = 6;
    EXPECT_EQ(lv::expandPlaylist({dir / "links"}, problems, bounds), std::vector<std::string>({links[0]}));
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("stopped looking in " + dir / "links" + " after 6 files and folders"), std::string::npos)
        << problems[0];
    problems.clear();
    bounds = {};
    bounds.maxSeconds = 0.0;
    EXPECT_TRUE(lv::expandPlaylist({dir / "links"}, problems, bounds).empty());
    ASSERT_EQ(problems.size(), 1u) << "no \"no audio files\" besides the bound's sentence";
    EXPECT_NE(problems[0].find("stopped looking in " + dir / "links" + " after 0 seconds"), std::string::npos)
        << problems[0];

    // An untagged file is named by its file, and lent its folder's picture
    // (music/cover.jpg, no picture, passed over).
    lvtest::makeTone(dir / "music/03 Night Drive.wav", 1.0);
    const std::vector<uint8_t> folderJpg = lvtest::makeJPEG(16, 16, lvtest::solid({10, 20, 30, 255}));
    lvtest::writeFile(dir / "music/Folder.JPG", std::string(folderJpg.begin(), folderJpg.end()));
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
    // A track named without its folder finds its picture in the current one.
    const fs::path here = fs::current_path();
    fs::current_path(dir / "music");
    const lv::CoverImage bare = lv::findCoverBeside("03 Night Drive.wav");
    fs::current_path(here);
    EXPECT_EQ(bare.bytes, coverPng);
    // A cover.jpg that fails to read (EIO from its first byte, though its
    // size says 0, as a failing disk or a share gone away) is no cover: the
    // next name is taken.
    fs::create_directory(dir / "failing");
    lvtest::makeTone(dir / "failing/song.wav", 0.5);
    ASSERT_EQ(symlink("/proc/self/mem", (dir / "failing/cover.jpg").c_str()), 0);
    EXPECT_TRUE(lv::findCoverBeside(dir / "failing/song.wav").empty());
    ASSERT_TRUE(lv::probeTrack(dir / "failing/song.wav", meta, error)) << error;
    EXPECT_TRUE(meta.cover.empty());
    lvtest::writeFile(dir / "failing/folder.png", std::string(coverPng.begin(), coverPng.end()));
    EXPECT_EQ(lv::findCoverBeside(dir / "failing/song.wav").bytes, coverPng);
}

// Surround sound mixed to stereo as FFmpeg mixes it (ITU-R BS.775 weights,
// scaled so that no output can exceed full scale): every channel of a 5.1
// and a 7.1 file at 0.9 of full scale, in phase, the worst case for a mix.
TEST(Media, SurroundIsMixedDownWithoutClippingAtTheLevelOfFFmpegsOwnDownmix) {
    TempDir dir;
    for (const std::string layout : {"5.1", "7.1"}) {
        SCOPED_TRACE(layout);
        // (aevalsrc gives the channels past its one expression the same.)
        const std::string file = dir / (layout + ".flac");
        ASSERT_EQ(lvtest::run({"/usr/bin/ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                               "aevalsrc=0.9*sin(2*PI*440*t):c=" + layout + ":s=44100:d=1", file}).status, 0);
        const std::vector<float> ours = decodeAll(file);
        // FFmpeg's downmix to 16-bit, as `ffmpeg -i x -ac 2 x.wav` makes it.
        const std::string raw =
            lvtest::run({"/usr/bin/ffmpeg", "-v", "error", "-i", file, "-ac", "2", "-f", "s16le", "-"}).out;
        ASSERT_FALSE(ours.empty());
        ASSERT_GT(raw.size(), 4000u);
        const double ourPower = std::inner_product(ours.begin(), ours.end(), ours.begin(), 0.0);
        double theirPower = 0.0;
        for (size_t i = 0; i + 1 < raw.size(); i += 2) {
            const double v = int16_t(uint16_t(uint8_t(raw[i]) | uint8_t(raw[i + 1]) << 8)) / 32768.0;
            theirPower += v * v;
        }
        EXPECT_LT(peak(ours), 0.99f) << "the mix reaches full scale";
        const double difference =
            10.0 * std::log10((ourPower / double(ours.size())) / (theirPower / double(raw.size() / 2)));
        EXPECT_NEAR(difference, 0.0, 1.0) << "dB louder than FFmpeg's downmix";
    }
}

// Sound missing from the middle of a file (its middle 40 % zeroed) is named
// with its place and length, whatever header the file has: an mp3 of
// constant bit rate, with a Xing header, or of variable bit rate with none;
// a FLAC file; and only as missing, not as cut short too. Songs joined end
// to end with their tags between are whole. Sound missing from the end
// of a file whose header states its length is said with where it stops.
TEST(Media, SoundMissingInTheMiddleOrAtTheEndIsSaidWhereWhateverTheHeader) {
    TempDir dir;
    const std::vector<std::vector<std::string>> encodings = {
        {"cbr.mp3", "-c:a", "libmp3lame", "-b:a", "128k"},
        {"xing.mp3", "-c:a", "libmp3lame", "-q:a", "4"},
        {"vbr.mp3", "-c:a", "libmp3lame", "-q:a", "4", "-write_xing", "0"},
        {"lossless.flac"}};
    for (const auto& options : encodings) {
        const std::string whole = dir / ("whole-" + options[0]), damaged = dir / options[0];
        std::vector<std::string> args = {"/usr/bin/ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=f=1000:d=20",
                                         "-ac", "2"};
        args.insert(args.end(), options.begin() + 1, options.end());
        args.push_back(whole);
        ASSERT_EQ(lvtest::run(args).status, 0);
        decodeAll(whole);   // whole, it plays without a word
        std::string bytes = lvtest::readFile(whole);
        std::fill(bytes.begin() + long(bytes.size() * 3 / 10), bytes.begin() + long(bytes.size() * 7 / 10), '\0');
        lvtest::writeFile(damaged, bytes);
        const Decoded d = decode(damaged);
        EXPECT_NEAR(double(d.pcm.size() / 2), 12.0 * SAMPLE_RATE, 0.5 * SAMPLE_RATE) << options[0];
        EXPECT_TRUE(d.failed) << options[0];
        // Frames the damage reaches into are lost whole: a part of a second either way.
        int missing = 0, minutes = -1, seconds = -1;
        ASSERT_EQ(d.error.rfind(damaged + " is damaged: ", 0), 0u) << d.error;
        ASSERT_EQ(std::sscanf(d.error.c_str() + damaged.size(), " is damaged: %d s missing after %d:%d", &missing,
                              &minutes, &seconds), 3) << d.error;
        EXPECT_NEAR(missing, 8, 1) << d.error;
        EXPECT_NEAR(minutes * 60 + seconds, 6, 1) << d.error;
        // What is missing inside is no shortfall at the end, header or none.
        EXPECT_EQ(d.error.find("stops at"), std::string::npos) << d.error;
    }
    {
        // Songs joined end to end, each with its ID3 tag between, worth
        // seconds of sound: whole. The tags hold lyrics, or a cover of noise
        // (whose bytes look like frames here and there).
        uint32_t seed = 1;
        const std::vector<uint8_t> noise = lvtest::makePNG(160, 160, [&](int, int) {
            seed = seed * 1664525u + 1013904223u;
            return lvtest::RGBA{uint8_t(seed >> 24), uint8_t(seed >> 16), uint8_t(seed >> 8), 255};
        });
        lvtest::makeTone(dir / "lyrics.mp3", 5.0, {{"title", "Side"}, {"lyrics", std::string(40000, 'l')}});
        lvtest::makeTone(dir / "cover.mp3", 5.0, {{"title", "Side"}}, noise);
        for (const char* name : {"lyrics.mp3", "cover.mp3"}) {
            const std::string side = lvtest::readFile(dir / name);
            lvtest::writeFile(dir / "joined.mp3", side + side + side);
            const std::vector<float> joined = decodeAll(dir / "joined.mp3");
            EXPECT_NEAR(double(joined.size() / 2), 15.0 * SAMPLE_RATE, 0.5 * SAMPLE_RATE) << name;
            EXPECT_LE(peak(joined), 0.6f) << name << ": a tag was played as sound";
        }
    }
    // Twenty seconds cut to ten, in the formats whose header states the
    // length of their sound; one WAV with a chunk of odd size (and its pad
    // byte) before its sound.
    for (const char* name : {"cut.wav", "cut.w64", "cut.caf", "cut.aiff", "cut.au", "odd-chunk.wav"}) {
        lvtest::makeTone(dir / name, 20.0);
        std::string bytes = lvtest::readFile(dir / name);
        if (std::string(name) == "odd-chunk.wav") {
            bytes.insert(12, std::string("odd \x03\0\0\0abc\0", 12));
            const uint32_t riff = uint32_t(bytes.size() - 8);
            std::memcpy(&bytes[4], &riff, 4);
            lvtest::writeFile(dir / name, bytes);
            decodeAll(dir / name);   // whole, it plays without a word
        }
        lvtest::writeFile(dir / name, bytes.substr(0, bytes.size() / 2));
        const Decoded cut = decode(dir / name);
        EXPECT_TRUE(cut.failed) << name;
        EXPECT_EQ(cut.error.rfind(dir / name + " stops at 0:10 of the 0:20 its header states", 0), 0u) << cut.error;
    }
    // A minute of mp3 cut to its first five sixths: ten seconds short is far
    // more than a codec's padding, on a long file as on a short one.
    lvtest::makeTone(dir / "minute.mp3", 60.0);
    const std::string minute = lvtest::readFile(dir / "minute.mp3");
    lvtest::writeFile(dir / "minute.mp3", minute.substr(0, minute.size() * 5 / 6));
    const Decoded cut = decode(dir / "minute.mp3");
    EXPECT_TRUE(cut.failed);
    EXPECT_NE(cut.error.find("stops at 0:5"), std::string::npos) << cut.error;
    EXPECT_NE(cut.error.find("of the 1:00 its header states"), std::string::npos) << cut.error;
}
