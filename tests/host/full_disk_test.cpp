// A render onto a disk that fills up: it ends with a message that names the
// file and the cause, exits 1, and leaves what it wrote. The disk is a small
// tmpfs mounted in a mount namespace of the test's own, so nothing outlives it.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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

struct Result {
    int status = -1;
    std::string errors;
};

// The player with `args` (no quoting needed), its stderr kept.
Result runPlayer(const std::string& args) {
    const char* bin = std::getenv("LV_BINARY_DIR");
    const std::string errPath = (fs::temp_directory_path() / ("full-disk-" + std::to_string(getpid()))).string();
    const std::string player = (bin ? std::string(bin) + "/bin/" : "") + "lumenvortex";
    const int status = std::system((player + " " + args + " 2>" + errPath).c_str());
    Result r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, {}};
    std::stringstream err;
    err << std::ifstream(errPath).rdbuf();
    r.errors = err.str();
    fs::remove(errPath);
    return r;
}

bool wholePng(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return bytes.size() > 20 && bytes.compare(1, 3, "PNG") == 0 && bytes.compare(bytes.size() - 8, 4, "IEND") == 0;
}

}  // namespace

TEST(FullDisk, ARenderEndsWithAClearErrorAndKeepsWhatItWrote) {
    auto failsClearly = [](const Result& r, const std::string& file) {
        EXPECT_EQ(r.status, 1) << r.errors;
        EXPECT_NE(r.errors.find(file), std::string::npos) << r.errors;
        EXPECT_NE(r.errors.find("No space left on device"), std::string::npos) << r.errors;
    };
    SmallDisk disk;
    if (disk.path.empty()) {
        // /dev/full, under the video's name, still shows the message.
        const fs::path link = fs::temp_directory_path() / ("full-disk-" + std::to_string(getpid()) + ".mp4");
        fs::create_symlink("/dev/full", link);
        failsClearly(runPlayer("--render " + link.string() + " --size 160x100 --duration 2"), link.string());
        fs::remove(link);
        GTEST_SKIP() << disk.error << ": what a render keeps was not checked";
    }

    // A video: the file named, the cause said, exit 1, the bytes written left.
    const std::string video = disk.path + "/out.mp4";
    failsClearly(runPlayer("--render " + video + " --size 160x100 --duration 20"), video);
    ASSERT_TRUE(fs::exists(video));
    EXPECT_GT(fs::file_size(video), 100'000u);
    fs::remove(video);

    // Frames: those written before the disk filled stay, each whole, in an
    // unbroken run from the first.
    const fs::path frames = disk.path + "/frames";
    const Result r = runPlayer("--frames " + frames.string() + " --size 160x100 --duration 20");
    failsClearly(r, frames.string());
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
