// What the player and the spectrum server tell a user about the files they
// were given: files that cannot be played, files that stop before the end
// their header states, the render's progress and its end, and the help
// text against the combinations the command line refuses.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>

#include "program_test_support.h"
#include "progress.h"

namespace fs = std::filesystem;
using lvtest::run;
using lvtest::TempDir;

namespace {

std::string player() { return lvtest::binary("lumenvortex"); }

// The two programs on the same files, the player rendering a small video
// and corvane silent at the music's own pace until it is over, each run
// under `wrapper` (a command to run it with, or none).
lvtest::RunResult renderSays(const TempDir& dir, const std::vector<std::string>& files,
                             const std::vector<std::string>& wrapper = {}) {
    std::vector<std::string> args = wrapper;
    args.insert(args.end(), {player(), "--render", dir / "out.mp4", "--size", "64x64", "--fps", "10"});
    args.insert(args.end(), files.begin(), files.end());
    return run(args);
}

// What a render's progress says of its first `frames` frames of `total`
// (a terminal `columns` wide, or 0 for none), frame i taking seconds(i) on
// a clock the test moves.
std::string progressOf(long long total, int fps, int columns, long long frames,
                       const std::function<double(long long)>& seconds) {
    double clock = 0.0;
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    {
        Progress progress(total, fps, {columns > 0, 10.0, [&] { return clock; }, out, [&] { return columns; }});
        for (long long i = 0; i < frames; ++i) {
            clock += seconds(i);
            progress.update(i + 1);
        }
    }
    std::fclose(out);
    const std::string all(text, size);
    std::free(text);
    return all;
}

lvtest::RunResult corvaneSays(const std::vector<std::string>& files, const std::vector<std::string>& wrapper = {}) {
    std::vector<std::string> args = wrapper;
    args.insert(args.end(), {lvtest::binary("corvane"), "--port", "0", "--mute"});
    args.insert(args.end(), files.begin(), files.end());
    return run(args, {}, 60.0);
}

// The line that names `name`, without the program's name in front.
std::string lineAbout(const std::string& text, const std::string& name) {
    const size_t at = text.find(name);
    if (at == std::string::npos) return "(nothing about " + name + " in:\n" + text + ")";
    const size_t begin = text.rfind('\n', at) + 1, end = text.find('\n', at);
    const std::string line = text.substr(begin, end - begin);
    return line.substr(line.find(": ") + 2);
}

}  // namespace

// Each file that cannot be played gets a sentence that says what is wrong
// with it, the same in both programs, with "skipping it" since a playable
// file follows. Twenty seconds of mp3 cut to its first 64 KB (about four
// seconds) still states 0:20 in its header: it is named with where the sound
// stopped. The render lists them all at the end, keeps its video and exits
// with 3.
TEST(Messages, UnplayableAndCutShortFilesAreSaidWhatIsWrongInTheSameWordsByBothPrograms) {
    TempDir dir;
    lvtest::writeFile(dir / "empty.mp3", "");
    lvtest::writeFile(dir / "notes.mp3", "#EXTM3U\nsong one.mp3\nsong two.mp3\n");
    std::string noise(20000, '\0');
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = char((i * 2654435761u) >> 13);
    lvtest::writeFile(dir / "noise.mp3", noise);
    // A WAV whose sound is coded in a way (format tag 0x1234) no FFmpeg knows.
    lvtest::writeWav(dir / "alien.wav", std::vector<float>(4000, 0.0f));
    std::string alien = lvtest::readFile(dir / "alien.wav");
    lvtest::writeFile(dir / "alien.wav", alien.replace(20, 2, "\x34\x12"));   // the tag in the fmt chunk
    lvtest::makeTone(dir / "whole.mp3", 20.0);
    lvtest::writeFile(dir / "cut.mp3", lvtest::readFile(dir / "whole.mp3").substr(0, 64 * 1024));
    lvtest::makeTone(dir / "good.flac", 0.5);
    // No sound: an Ogg file whose stream ends before its first packet, and a video alone.
    ASSERT_EQ(run({"/usr/bin/ffmpeg", "-v", "error", "-f", "lavfi", "-i", "anullsrc", "-t", "0", dir / "silent.ogg"})
                  .status, 0);
    ASSERT_EQ(run({"/usr/bin/ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=d=0.2:s=32x32", dir / "video.mkv"})
                  .status, 0);
    // Nothing ever writes into the pipe: opening it for reading would wait forever.
    ASSERT_EQ(mkfifo((dir / "pipe.mp3").c_str(), 0600), 0);
    struct Case {
        const char* file;
        const char* says;
    };
    std::vector<Case> cases = {{"empty.mp3", "the file is empty"},
                 {"notes.mp3", "it holds text, not audio"},
                 {"noise.mp3", "not an audio file FFmpeg can read"},
                 {"alien.wav", "its audio is in a format this build of FFmpeg cannot decode"},
                 {"pipe.mp3", "it is a named pipe, not a file"},
                 {"silent.ogg", "it holds no sound"},
                 {"video.mkv", "it holds no sound"}};
    // Root reads any file; without the capability to override file modes it
    // meets a file with no read permission as a user would (unless setpriv
    // cannot drop it: then that file is left out).
    lvtest::writeFile(dir / "locked.mp3", "ID3");
    fs::permissions(dir / "locked.mp3", fs::perms::none);
    std::vector<std::string> wrapper, cat;
    if (geteuid() == 0)
        wrapper = {"/usr/bin/setpriv", "--bounding-set=-dac_override,-dac_read_search",
                   "--inh-caps=-dac_override,-dac_read_search"};
    cat = wrapper;
    cat.insert(cat.end(), {"/bin/cat", dir / "locked.mp3"});
    if (run(cat).status != 0) cases.push_back({"locked.mp3", "permission denied"});
    std::vector<std::string> files;
    for (const auto& c : cases) files.push_back(dir / c.file);
    files.insert(files.end(), {dir / "cut.mp3", dir / "good.flac"});
    const auto render = renderSays(dir, files, wrapper);
    const auto server = corvaneSays(files, wrapper);
    EXPECT_EQ(render.status, 3) << render.err;
    EXPECT_EQ(server.status, 0) << server.err;
    // The summary tells the files that never played from the one that stopped early.
    EXPECT_NE(render.err.find(std::to_string(cases.size()) + " files were skipped:"), std::string::npos) << render.err;
    EXPECT_NE(render.err.find("1 file did not play in full:\n  " + dir / "cut.mp3"), std::string::npos) << render.err;
    EXPECT_NE(render.out.find("wrote "), std::string::npos) << "the video is kept all the same";
    for (const auto& c : cases) {
        const std::string line = lineAbout(render.err, c.file);
        EXPECT_EQ(line.rfind("cannot play " + dir / c.file + ": " + c.says, 0), 0u) << line;
        EXPECT_NE(line.find("; skipping it"), std::string::npos) << line;
        EXPECT_EQ(lineAbout(server.err, c.file), line);
    }
    const std::string warning = lineAbout(render.err, "cut.mp3");
    EXPECT_NE(warning.find("stops at 0:0"), std::string::npos) << warning;
    EXPECT_NE(warning.find("0:20"), std::string::npos) << warning;
    EXPECT_EQ(lineAbout(server.err, "cut.mp3"), warning);

    // Cut by --duration is not cut short, nor is sound that ends before the
    // picture beside it.
    const auto limited = renderSays(dir, {"--duration", "1", dir / "cut.mp3"});
    EXPECT_EQ(limited.status, 0) << limited.err;
    ASSERT_EQ(run({"/usr/bin/ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=d=4:s=64x64", "-f", "lavfi", "-i",
                   "sine=d=1", "-c:v", "libx264", "-c:a", "aac", dir / "clip.mp4"}).status, 0);
    const auto clip = renderSays(dir, {dir / "clip.mp4"});
    EXPECT_EQ(clip.status, 0) << clip.err;
}

// A render whose frames slow from 10 to 70 ms as its scene fills (two
// minutes in all), with one frame that stalls for a second, timed on a clock
// the test moves. Off a terminal a plain line comes every 10 s; the time
// left in each is near what the frames would take at the pace of the
// moment, where the average since the start promises far less.
TEST(Messages, TheTimeLeftFollowsARenderThatSlowsDown) {
    constexpr long long total = 3000;
    auto frameSeconds = [](long long i) { return (i == 1500 ? 1.0 : 0.0) + 0.010 + 0.00002 * double(i); };
    std::istringstream lines(progressOf(total, 60, 0, total, frameSeconds));
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        long long done = 0;
        int minutes = 0, seconds = 0, leftMinutes = 0, leftSeconds = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "lumenvortex: rendered %lld of 3000 frames (%*d %%) in %d:%d", &done,
                              &minutes, &seconds), 3) << line;
        EXPECT_EQ(minutes * 60 + seconds, 10 * (count + 1)) << line;
        const size_t about = line.find(", about ");
        ASSERT_NE(about, std::string::npos) << line;
        ASSERT_EQ(std::sscanf(line.c_str() + about, ", about %d:%d left", &leftMinutes, &leftSeconds), 2) << line;
        const double left = leftMinutes * 60 + leftSeconds;
        const double atPaceNow = double(total - done) * frameSeconds(done);
        const double sinceStart = double(total - done) * (minutes * 60 + seconds) / double(done);
        EXPECT_GT(left, 0.8 * atPaceNow) << line;
        EXPECT_LT(left, 1.3 * atPaceNow + 1.0) << line << ": the stall swung it";
        EXPECT_GT(left - sinceStart, 0.5 * (atPaceNow - sinceStart)) << line;
    }
    EXPECT_GE(count, 11);

    // The rate itself: a frame stalled for a second after six seconds at 50
    // frames a second weighs as a second among the three it remembers.
    RecentRate rate;
    for (int i = 0; i < 60; ++i) rate.add(5, 0.1);
    EXPECT_NEAR(rate.framesPerSecond(), 50.0, 1e-6);
    rate.add(1, 1.0);
    EXPECT_GT(rate.framesPerSecond(), 30.0);
}

// The line on a terminal, for a render of three hours going at a third of
// real time, in terminals 120, 80 and 40 columns wide: it never reaches
// the last column (where the terminal would wrap it, and every redraw
// would scroll a new line), the bar gives way before the figures, the
// speed is the average the closing line gives, and hours read as hours.
TEST(Messages, TheProgressLineFitsItsTerminal) {
    constexpr int fps = 60;
    constexpr long long total = 3LL * 3600 * fps;
    for (const int columns : {120, 80, 40}) {
        SCOPED_TRACE(std::to_string(columns) + " columns");
        const std::string all = progressOf(total, fps, columns, 600, [](long long) { return 3.0 / fps; });
        std::string last;
        for (size_t at = all.find('\r'); at != std::string::npos; at = all.find('\r', at + 1)) {
            std::string line = all.substr(at + 1, all.find('\r', at + 1) - at - 1);
            ASSERT_EQ(line.find('\n'), std::string::npos) << line;
            if (line.size() >= 3 && line.compare(line.size() - 3, 3, "\033[K") == 0) line.resize(line.size() - 3);
            EXPECT_LT(line.size(), size_t(columns)) << line;
            last = line;
        }
        ASSERT_FALSE(last.empty()) << "no line drawn";
        EXPECT_NE(last.find("0.33x"), std::string::npos) << last;
        // 647400 frames at 20 a second: 8 h 59 min 30 s.
        EXPECT_NE(last.find("ETA 8:59:3"), std::string::npos) << last;
        EXPECT_EQ(last.find('[') != std::string::npos, columns >= 120) << last;
        EXPECT_EQ(last.find("fps") != std::string::npos, columns >= 80) << last;
    }
}

// --help states what the command line decides (Render.MistakesGetMessagesThatSayWhatToDo
// holds the command line to it) and what each exit status means.
TEST(Messages, TheHelpSaysWhichOptionsGoTogetherAndWhatEachExitStatusMeans) {
    std::string help;
    for (char c : run({player(), "--help"}).out)   // one line, however it wraps
        if (!std::isspace(static_cast<unsigned char>(c)) || (!help.empty() && help.back() != ' '))
            help += std::isspace(static_cast<unsigned char>(c)) ? ' ' : c;
    for (const char* said : {"given with --render, the one render makes both",
                             "--render and --frames go with neither --capture nor --source corvane",
                             "--capture takes no files", "--source corvane takes neither files nor --capture",
                             "2 a mistake on the command line", "3 a render finished, but files were skipped",
                             "a plain line about every 10 seconds",
                             "--mute, --no-audio keep the sound device closed (the music runs silently; corvane's "
                             "word too)",
                             // both keys the plug-in takes for each, and the player's own
                             "/, ? help panel on and off", "+, = more input gain", "q antialiasing on and off",
                             "n, Right next track (on the last one, nothing)", "Esc, Ctrl+Q quit"})
        EXPECT_NE(help.find(said), std::string::npos) << said << "\nin: " << help;
}
