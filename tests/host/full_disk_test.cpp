// A render onto a disk that fills up: it ends with a message that names the
// file and the cause, exits 1, and leaves what it wrote. The disk is a small
// tmpfs mounted in a mount namespace of the test's own, so nothing outlives it.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "program_test_support.h"

namespace fs = std::filesystem;

namespace {

// A 256 KB tmpfs, or the reason there can be none.
struct SmallDisk {
    std::string path, error;

    SmallDisk() {
        std::string dir = (fs::temp_directory_path() / "full-disk-XXXXXX").string();
        if (!mkdtemp(dir.data())) {
            error = std::strerror(errno);
            return;
        }
        if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=256k") != 0) {
            error = std::string("cannot mount a small tmpfs (") + std::strerror(errno) + "; it needs root)";
            rmdir(dir.c_str());
            return;
        }
        path = dir;
    }
    ~SmallDisk() {
        if (path.empty()) return;
        umount(path.c_str());
        rmdir(path.c_str());
    }
};

// The player writing `seconds` of 160 x 100 frames to `path` (a video or a folder).
lvtest::RunResult render(const std::string& option, const std::string& path, const char* seconds) {
    return lvtest::run({lvtest::binary("lumenvortex"), option, path, "--size", "160x100", "--duration", seconds});
}

bool wholePng(const fs::path& file) {
    const std::string bytes = lvtest::readFile(file);
    return bytes.size() > 20 && bytes.compare(1, 3, "PNG") == 0 && bytes.compare(bytes.size() - 8, 4, "IEND") == 0;
}

}  // namespace

TEST(FullDisk, ARenderEndsWithAClearErrorAndKeepsWhatItWrote) {
    auto failsClearly = [](const lvtest::RunResult& r, const std::string& file) {
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find(file), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
    };
    SmallDisk disk;
    if (disk.path.empty()) {
        // /dev/full, under the video's name, still shows the message.
        const fs::path link = fs::temp_directory_path() / ("full-disk-" + std::to_string(getpid()) + ".mp4");
        fs::create_symlink("/dev/full", link);
        failsClearly(render("--render", link.string(), "2"), link.string());
        fs::remove(link);
        GTEST_SKIP() << disk.error << ": what a render keeps was not checked";
    }

    // A video: the file named, the cause said, exit 1, the bytes written left.
    const std::string video = disk.path + "/out.mp4";
    failsClearly(render("--render", video, "20"), video);
    ASSERT_TRUE(fs::exists(video));
    EXPECT_GT(fs::file_size(video), 100'000u);
    fs::remove(video);

    // Frames: those written before the disk filled stay, each whole, in an
    // unbroken run from the first.
    const fs::path frames = disk.path + "/frames";
    failsClearly(render("--frames", frames.string(), "20"), frames.string());
    int kept = 0;
    for (const auto& entry : fs::directory_iterator(frames))
        if (entry.path().extension() == ".png") {
            ++kept;
            EXPECT_TRUE(wholePng(entry.path())) << entry.path();
        }
    EXPECT_GT(kept, 0);
    char last[32];
    std::snprintf(last, sizeof last, "frame-%06d.png", kept - 1);
    EXPECT_TRUE(fs::exists(frames / last)) << "the frames kept are not numbered from 0";
}
