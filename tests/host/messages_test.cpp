// What the player and the spectrum server tell a user about the files they
// were given: files that cannot be played, files that stop before the end
// their header states, the render's progress and its end, and the help
// text against the combinations the command line refuses.
#include <gtest/gtest.h>

#include <filesystem>

#include "program_test_support.h"

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
