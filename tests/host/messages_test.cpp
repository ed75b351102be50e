// What the player and the spectrum server tell a user about the files they
// were given: files that cannot be played, files that stop before the end
// their header states, the render's progress and its end, and the help
// text against the combinations the command line refuses.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "program_test_support.h"
#include "progress.h"

namespace fs = std::filesystem;
using lvtest::run;
using lvtest::TempDir;

namespace {

std::string player() { return lvtest::binary("lumenvortex"); }

// corvane on the files, silent at the music's own pace, until the music is
// over: its messages.
std::string corvaneSays(const std::vector<std::string>& files) {
    std::vector<std::string> args = {lvtest::binary("corvane"), "--port", "0", "--mute"};
    args.insert(args.end(), files.begin(), files.end());
    const lvtest::RunResult r = run(args, {}, 60.0);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.err;
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

// Twenty seconds of mp3 cut to its first 64 KB (about four seconds): the
// header still states 0:20. The render says where the sound stopped, sums
// up at the end and exits with 3; corvane gives the same warning.
TEST(Messages, AFileCutShortIsNamedWithWhereItStoppedAgainstItsStatedLength) {
    TempDir dir;
    lvtest::ToneFile tone;
    tone.seconds = 20.0;
    std::string error;
    ASSERT_TRUE(lvtest::makeAudioFile(dir / "whole.mp3", tone, error)) << error;
    lvtest::writeFile(dir / "cut.mp3", lvtest::readFile(dir / "whole.mp3").substr(0, 64 * 1024));
    tone.seconds = 0.5;
    ASSERT_TRUE(lvtest::makeAudioFile(dir / "after.flac", tone, error)) << error;

    const auto r = run({player(), "--render", dir / "out.mp4", "--size", "64x64", "--fps", "10", dir / "cut.mp3",
                        dir / "after.flac"});
    EXPECT_EQ(r.status, 3) << r.err;
    const std::string warning = lineAbout(r.err, "cut.mp3");
    EXPECT_NE(warning.find("stops at 0:0"), std::string::npos) << warning;
    EXPECT_NE(warning.find("0:20"), std::string::npos) << warning;
    EXPECT_NE(r.err.find("1 file did not play in full:\n  " + dir / "cut.mp3"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("wrote "), std::string::npos) << "the video is kept all the same";
    EXPECT_EQ(lineAbout(corvaneSays({dir / "cut.mp3", dir / "after.flac"}), "cut.mp3"), warning);

    // Cut by --duration is not cut short.
    EXPECT_EQ(run({player(), "--render", dir / "out.mp4", "--size", "64x64", "--fps", "10", "--duration", "1",
                   dir / "cut.mp3"}).status, 0);
}

// A render whose frames slow from 10 to 70 ms as its scene fills (two
// minutes in all), with one frame that stalls for a second, timed on a clock
// the test moves. Off a terminal a plain line comes every 10 s; the time
// left in each is near what the frames would take at the pace of the
// moment, where the average since the start promises far less.
TEST(Messages, TheTimeLeftFollowsARenderThatSlowsDown) {
    constexpr long long total = 3000;
    auto frameSeconds = [](long long i) { return (i == 1500 ? 1.0 : 0.0) + 0.010 + 0.00002 * double(i); };
    double clock = 0.0;
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    {
        Progress progress(total, 60, {false, 10.0, [&] { return clock; }, out});
        for (long long i = 0; i < total; ++i) {
            clock += frameSeconds(i);
            progress.update(i + 1);
        }
    }
    std::fclose(out);
    std::istringstream lines(std::string(text, size));
    std::free(text);
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
}
