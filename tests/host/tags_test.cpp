// A rendered video as a media library reads it: the music's title, artist
// and album as the container's tags, its cover as the container's cover
// picture, and a chapter at each track of a play list, all read back with
// ffprobe from MP4 and Matroska files the player writes.
#include <gtest/gtest.h>

#include <filesystem>

#include "lv/media.h"
#include "lv/video_out.h"
#include "program_test_support.h"
#include "test_pictures.h"
#include "video_tags.h"

namespace fs = std::filesystem;
using lvtest::run;
using lvtest::TempDir;

namespace {

// The player rendering with `args` after --render; its message when it fails.
::testing::AssertionResult rendered(std::vector<std::string> args) {
    args.insert(args.begin(), {lvtest::binary("lumenvortex"), "--render"});
    const lvtest::RunResult r = run(args);
    return r.status == 0 ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << r.err;
}

// One line a stream, tag set or chapter, its entries separated by commas.
std::string probe(const std::string& file, const std::string& entries) {
    return run({"/usr/bin/ffprobe", "-v", "error", "-show_entries", entries, "-of", "csv=p=0", file}).out;
}
std::string tags(const std::string& file) { return probe(file, "format_tags=title,artist,album"); }
std::string streams(const std::string& file) { return probe(file, "stream=codec_name:stream_disposition=attached_pic"); }
std::string chapters(const std::string& file) { return probe(file, "chapter=start_time,end_time:chapter_tags=title"); }

const std::string kTitle = "Día de sol ☀️ 夏";

}  // namespace

// One song, its own tags and cover; the demo song has them too. The cover
// comes out byte for byte, after the video and the sound, so that players
// still take stream 0 for the picture.
TEST(VideoTags, OneSongGivesTheVideoItsTitleArtistAlbumAndCover) {
    TempDir dir;
    const std::vector<unsigned char> cover = lvtest::makeJPEG(48, 32, lvtest::solid({200, 40, 90, 255}));
    lvtest::makeTone(dir / "song.flac", 0.5, {{"title", kTitle}, {"artist", "Zoë"}, {"album", "Été"}}, cover);
    ASSERT_TRUE(rendered({dir / "song.mp4", "--size", "96x64", dir / "song.flac"}));
    EXPECT_EQ(tags(dir / "song.mp4"), kTitle + ",Zoë,Été\n");
    EXPECT_EQ(streams(dir / "song.mp4"), "h264,0\naac,0\nmjpeg,1\n");
    EXPECT_EQ(chapters(dir / "song.mp4"), "") << "one track needs no chapters";
    auto copied = run({"/usr/bin/ffmpeg", "-v", "error", "-i", dir / "song.mp4", "-map", "0:2", "-c", "copy", "-f",
                       "image2pipe", "-"});
    EXPECT_TRUE(copied.out == std::string(cover.begin(), cover.end())) << "the cover was changed on its way";

    ASSERT_TRUE(rendered({dir / "demo.mkv", "--duration", "0.3", "--size", "96x64"}));
    EXPECT_EQ(tags(dir / "demo.mkv"), "Lumen Drift,Lumenvortex,Demo\n");
    EXPECT_EQ(streams(dir / "demo.mkv"), "h264,0\naac,0\npng,1\n");
}

// Two songs: the first one's artist, album and cover, both titles, and a
// chapter at each song's first frame, in both containers that keep them.
// Cut before the second song, only what is heard is named.
TEST(VideoTags, APlayListGetsItsTitlesAndAChapterAtEachTrackAndAnAlbumItsName) {
    TempDir dir;
    lvtest::makeTone(dir / "1.flac", 1.0, {{"title", kTitle}, {"artist", "Zoë"}, {"album", "Été"}},
             lvtest::makePNG(16, 16, lvtest::solid({0, 90, 200, 255})));
    lvtest::makeTone(dir / "2.flac", 0.5, {{"title", "B"}, {"artist", "Other"}, {"album", "Else"}});
    for (const std::string name : {"list.mp4", "list.mkv"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(rendered({dir / name, "--size", "96x64", dir / "1.flac", dir / "2.flac"}));
        EXPECT_EQ(tags(dir / name), "\"" + kTitle + ", B\",Zoë,Été\n");
        // MP4 keeps its chapters in a text track of their own.
        EXPECT_EQ(streams(dir / name), name == "list.mp4" ? "h264,0\naac,0\nbin_data,0\npng,1\n"
                                                          : "h264,0\naac,0\npng,1\n");
        EXPECT_EQ(chapters(dir / name), "0.000000,1.000000," + kTitle + "\n1.000000,1.500000,B\n");
    }
    ASSERT_TRUE(rendered({dir / "cut.mp4", "--duration", "0.5", "--size", "96x64", dir / "1.flac", dir / "2.flac"}));
    EXPECT_EQ(tags(dir / "cut.mp4"), kTitle + ",Zoë,Été\n");
    EXPECT_EQ(chapters(dir / "cut.mp4"), "");

    // The tracks of one album are named by it: the album is the video's
    // title, and the artist the one they share, or "Various Artists".
    for (const char* folder : {"one", "various"}) {
        fs::create_directories(dir / folder);
        for (int i = 1; i <= 3; ++i) {
            const std::string artist = std::string(folder) == "one" || i == 1 ? "Zoë" : "Guest " + std::to_string(i);
            lvtest::makeTone(dir / folder + "/0" + std::to_string(i) + ".flac", 0.3,
                             {{"title", "Track 0" + std::to_string(i)}, {"artist", artist}, {"album", "Été"}});
        }
        ASSERT_TRUE(rendered({dir / folder + ".mp4", "--size", "64x64", dir / folder}));
    }
    EXPECT_EQ(tags(dir / "one.mp4"), "Été,Zoë,Été\n");
    EXPECT_EQ(tags(dir / "various.mp4"), "Été,Various Artists,Été\n");
    EXPECT_EQ(chapters(dir / "one.mp4"), "0.000000,0.300000,Track 01\n0.300000,0.600000,Track 02\n"
                                         "0.600000,0.900000,Track 03\n");
}

// A long list's title keeps whole titles and says there are more; one of
// exactly 120 bytes is whole, and one too long on its own is cut at a word,
// never inside a character. A title of 120 KB, on its own and in a list:
// the video's title and the chapter names keep to the length a library shows.
TEST(VideoTags, ALongTitleIsCutAtAWordAndEndsInAnEllipsisInTagsAndChapters) {
    const std::string full(117, 'x');
    EXPECT_EQ(joinTitles({full, "B"}), full + ", B");
    const std::string joined = joinTitles(std::vector<std::string>(40, "Ünïcode title"));
    const std::string end = "Ünïcode title, Ünïcode title …";
    EXPECT_LE(joined.size(), 130u);
    ASSERT_GT(joined.size(), end.size());
    EXPECT_EQ(joined.substr(joined.size() - end.size()), end);

    std::string words;
    while (words.size() < 1000) words += "Ünïcode ";
    for (const std::string& one : {joinTitles({words, "B"}), boundTag(words), boundTag(std::string(500, 'x'))}) {
        EXPECT_LE(one.size(), 130u);
        EXPECT_EQ(one.substr(one.size() - 4), " …") << one;
    }
    EXPECT_EQ(boundTag(words).find("Ünïcode …"), boundTag(words).size() - std::string("Ünïcode …").size());
    const std::string bounded = boundTag(std::string("a") + std::string(119, 'b').replace(118, 1, "é"));
    EXPECT_EQ(bounded, std::string("a") + std::string(118, 'b') + " …");
    EXPECT_EQ(sharedArtist({"A", "", "A"}), "A");

    TempDir dir;
    std::string huge;
    while (huge.size() < 120 * 1024) huge += "lá lá ";
    lvtest::makeTone(dir / "1.flac", 0.5, {{"title", huge}, {"artist", huge}});
    lvtest::makeTone(dir / "2.flac", 0.5, {{"title", huge}});
    ASSERT_TRUE(rendered({dir / "huge.mkv", "--size", "64x64", dir / "1.flac", dir / "2.flac"}));
    const std::string all = tags(dir / "huge.mkv") + chapters(dir / "huge.mkv");
    EXPECT_LT(all.size(), 1000u) << all.substr(0, 1000);
    EXPECT_NE(all.find("lá lá …"), std::string::npos) << all.substr(0, 1000);
}

// A cover the muxer cannot use is left out with a warning; the video, its
// tags and chapters are written all the same.
TEST(VideoTags, ABrokenCoverIsLeftOutAndTheVideoStillWritten) {
    TempDir dir;
    lv::VideoOptions options;
    options.width = options.height = 32;
    options.fps = 10;
    options.metadata = {{"title", kTitle}};
    options.cover = {0xFF, 0xD8, 0xFF, 0xE0, 'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c'};
    // A video of `frames` black frames, half a second of silence and two
    // chapters; the writer's one warning.
    auto write = [&](const std::string& file, int frames) {
        lv::VideoWriter writer;
        std::string error;
        EXPECT_TRUE(writer.open(file, options, error)) << error;
        std::vector<unsigned char> black(32 * 32 * 4, 0);
        std::vector<float> silence(lv::kMediaSampleRate / 2 * 2, 0.0f);
        for (int i = 0; i < frames; ++i) EXPECT_TRUE(writer.writeFrame(black.data(), error)) << error;
        EXPECT_TRUE(writer.writeAudio(silence.data(), silence.size() / 2, error)) << error;
        writer.setChapters({{0, "one"}, {200, "two"}});
        EXPECT_TRUE(writer.close(error)) << error;
        EXPECT_EQ(writer.warnings().size(), 1u);
        return writer.warnings().empty() ? std::string() : writer.warnings()[0];
    };
    const std::string damaged = write(dir / "broken.mp4", 5);
    EXPECT_NE(damaged.find("the cover's header is damaged"), std::string::npos) << damaged;
    EXPECT_EQ(streams(dir / "broken.mp4"), "h264,0\naac,0\nbin_data,0\n");
    EXPECT_EQ(tags(dir / "broken.mp4"), kTitle + "\n");
    EXPECT_EQ(chapters(dir / "broken.mp4"), "0.000000,0.200000,one\n0.200000,0.500000,two\n");

    // A cover wider than the containers can say is too large, not damaged.
    options.cover = lvtest::makePNG(70000, 1, lvtest::solid({1, 2, 3, 255}));
    const std::string large = write(dir / "wide.mkv", 2);
    EXPECT_NE(large.find("the cover is too large: 70000 x 1 pixels"), std::string::npos) << large;
    EXPECT_EQ(streams(dir / "wide.mkv"), "h264,0\naac,0\n");
}
