// A rendered video as a media library reads it: the music's title, artist
// and album as the container's tags, its cover as the container's cover
// picture, and a chapter at each track of a play list, all read back with
// ffprobe from MP4 and Matroska files the player writes.
#include <gtest/gtest.h>

#include <cctype>
#include <sstream>

#include "lv/media.h"
#include "lv/video_out.h"
#include "program_test_support.h"
#include "test_pictures.h"
#include "video_tags.h"

using lvtest::run;
using lvtest::TempDir;

namespace {

std::string player() { return lvtest::binary("lumenvortex"); }

std::string probe(const std::string& file, const std::vector<std::string>& what) {
    std::vector<std::string> args{"/usr/bin/ffprobe", "-v", "error"};
    args.insert(args.end(), what.begin(), what.end());
    args.insert(args.end(), {"-of", "default=noprint_wrappers=1", file});
    return run(args).out;
}

// Matroska spells its tag names in capitals: lower case here for both.
std::string tags(const std::string& file) {
    std::istringstream in(probe(file, {"-show_entries", "format_tags=title,artist,album"}));
    std::string out, line;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        for (size_t i = 0; i < eq && i < line.size(); ++i) line[i] = char(std::tolower((unsigned char)line[i]));
        out += line + "\n";
    }
    return out;
}

// "codec:attached_pic" for each stream, in order.
std::vector<std::string> streams(const std::string& file) {
    std::istringstream in(probe(file, {"-show_entries", "stream=codec_name:stream_disposition=attached_pic"}));
    std::vector<std::string> out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("codec_name=", 0) == 0) out.push_back(line.substr(11));
        else if (line.rfind("DISPOSITION:attached_pic=", 0) == 0 && !out.empty()) out.back() += ":" + line.substr(25);
    }
    return out;
}

struct Chapter {
    double start, end;
    std::string title;
};

std::vector<Chapter> chapters(const std::string& file) {
    std::istringstream in(probe(file, {"-show_entries", "chapter=start_time,end_time:chapter_tags=title"}));
    std::vector<Chapter> out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("start_time=", 0) == 0) out.push_back({std::stod(line.substr(11)), 0.0, ""});
        else if (line.rfind("end_time=", 0) == 0 && !out.empty()) out.back().end = std::stod(line.substr(9));
        else if (line.rfind("TAG:title=", 0) == 0 && !out.empty()) out.back().title = line.substr(10);
    }
    return out;
}

void makeTone(const std::string& path, double seconds, std::vector<std::pair<std::string, std::string>> tags,
              std::vector<unsigned char> picture = {}) {
    lvtest::ToneFile tone;
    tone.seconds = seconds;
    tone.tags = std::move(tags);
    tone.picture = std::move(picture);
    std::string error;
    ASSERT_TRUE(lvtest::makeAudioFile(path, tone, error)) << error;
}

const std::string kTitle = "Día de sol ☀️ 夏";

}  // namespace

// One song, its own tags and cover; the demo song has them too. The cover
// comes out byte for byte, after the video and the sound, so that players
// still take stream 0 for the picture.
TEST(VideoTags, OneSongGivesTheVideoItsTitleArtistAlbumAndCover) {
    TempDir dir;
    const std::vector<unsigned char> cover = lvtest::makeJPEG(48, 32, lvtest::solid({200, 40, 90, 255}));
    makeTone(dir / "song.flac", 0.5, {{"title", kTitle}, {"artist", "Zoë"}, {"album", "Été"}}, cover);
    auto r = run({player(), "--render", dir / "song.mp4", "--size", "96x64", dir / "song.flac"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(tags(dir / "song.mp4"), "tag:title=" + kTitle + "\ntag:artist=Zoë\ntag:album=Été\n");
    EXPECT_EQ(streams(dir / "song.mp4"), (std::vector<std::string>{"h264:0", "aac:0", "mjpeg:1"}));
    EXPECT_TRUE(chapters(dir / "song.mp4").empty()) << "one track needs no chapters";
    auto copied = run({"/usr/bin/ffmpeg", "-v", "error", "-i", dir / "song.mp4", "-map", "0:2", "-c", "copy", "-f",
                       "image2pipe", "-"});
    EXPECT_TRUE(copied.out == std::string(cover.begin(), cover.end())) << "the cover was changed on its way";

    auto demo = run({player(), "--render", dir / "demo.mkv", "--duration", "0.3", "--size", "96x64"});
    ASSERT_EQ(demo.status, 0) << demo.err;
    EXPECT_EQ(tags(dir / "demo.mkv"), "tag:title=Lumen Drift\ntag:artist=Lumenvortex\ntag:album=Demo\n");
    EXPECT_EQ(streams(dir / "demo.mkv"), (std::vector<std::string>{"h264:0", "aac:0", "png:1"}));
}

// Two songs: the first one's artist, album and cover, both titles, and a
// chapter at each song's first frame, in both containers that keep them.
TEST(VideoTags, APlayListGetsBothTitlesAndAChapterAtEachTrack) {
    TempDir dir;
    makeTone(dir / "1.flac", 1.0, {{"title", kTitle}, {"artist", "Zoë"}, {"album", "Été"}},
             lvtest::makePNG(16, 16, lvtest::solid({0, 90, 200, 255})));
    makeTone(dir / "2.flac", 0.5, {{"title", "B"}, {"artist", "Other"}, {"album", "Else"}});
    for (const std::string name : {"list.mp4", "list.mkv"}) {
        SCOPED_TRACE(name);
        auto r = run({player(), "--render", dir / name, "--size", "96x64", dir / "1.flac", dir / "2.flac"});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string t = tags(dir / name);
        EXPECT_NE(t.find("title=" + kTitle + ", B\n"), std::string::npos) << t;
        for (const char* want : {"artist=Zoë\n", "album=Été\n"})
            EXPECT_NE(t.find(want), std::string::npos) << want << " in\n" << t;
        const auto s = streams(dir / name);
        ASSERT_FALSE(s.empty());
        EXPECT_EQ(s.front(), "h264:0");
        EXPECT_EQ(s.back(), "png:1");
        const auto c = chapters(dir / name);
        ASSERT_EQ(c.size(), 2u);
        EXPECT_EQ(c[0].title, kTitle);
        EXPECT_EQ(c[0].start, 0.0);
        EXPECT_NEAR(c[1].start, 1.0, 1.0 / 60);
        EXPECT_EQ(c[1].title, "B");
        EXPECT_NEAR(c[1].end, 1.5, 1.0 / 60);
    }

    // Cut before the second song: only what is heard is named.
    auto cut = run({player(), "--render", dir / "cut.mp4", "--duration", "0.5", "--size", "96x64", dir / "1.flac",
                    dir / "2.flac"});
    ASSERT_EQ(cut.status, 0) << cut.err;
    EXPECT_NE(tags(dir / "cut.mp4").find("title=" + kTitle + "\n"), std::string::npos) << tags(dir / "cut.mp4");
    EXPECT_TRUE(chapters(dir / "cut.mp4").empty());
}

// A long list's title keeps whole titles, and says there are more.
TEST(VideoTags, ALongListsTitleEndsInAnEllipsis) {
    EXPECT_EQ(joinTitles({"A"}), "A");
    EXPECT_EQ(joinTitles({"A", "B", "C"}), "A, B, C");
    const std::vector<std::string> many(40, "Ünïcode title");
    const std::string joined = joinTitles(many);
    EXPECT_LE(joined.size(), 130u);
    const std::string end = "Ünïcode title …";
    ASSERT_GT(joined.size(), end.size());
    EXPECT_EQ(joined.substr(joined.size() - end.size()), end);
}

// A cover the muxer cannot use is left out with a warning; the video is
// written all the same.
TEST(VideoTags, ABrokenCoverIsLeftOutAndTheVideoStillWritten) {
    TempDir dir;
    lv::VideoOptions options;
    options.width = 32;
    options.height = 32;
    options.fps = 10;
    options.metadata = {{"title", kTitle}};
    options.cover = {0xFF, 0xD8, 0xFF, 0xE0, 'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c'};
    lv::VideoWriter writer;
    std::string error;
    ASSERT_TRUE(writer.open(dir / "broken.mp4", options, error)) << error;
    std::vector<unsigned char> black(32 * 32 * 4, 0);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(writer.writeFrame(black.data(), error)) << error;
    std::vector<float> silence(lv::kMediaSampleRate / 2 * 2, 0.0f);
    ASSERT_TRUE(writer.writeAudio(silence.data(), silence.size() / 2, error)) << error;
    writer.setChapters({{0, "one"}, {200, "two"}});
    ASSERT_TRUE(writer.close(error)) << error;
    ASSERT_EQ(writer.warnings().size(), 1u);
    EXPECT_NE(writer.warnings()[0].find("the cover's header is damaged"), std::string::npos) << writer.warnings()[0];
    EXPECT_EQ(streams(dir / "broken.mp4"), (std::vector<std::string>{"h264:0", "aac:0", "bin_data:0"}));
    EXPECT_EQ(tags(dir / "broken.mp4"), "tag:title=" + kTitle + "\n");
    const auto c = chapters(dir / "broken.mp4");
    ASSERT_EQ(c.size(), 2u);
    EXPECT_NEAR(c[1].start, 0.2, 1e-6);
    EXPECT_NEAR(c[1].end, 0.5, 1e-6);
}
