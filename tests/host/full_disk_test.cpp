// A render onto a disk that fills up: it ends with a message that names the
// file and the cause, exits 1, keeps the whole frames it wrote and replaces
// no file that was there. The disk is a small
// tmpfs mounted in a mount namespace of the test's own, so nothing outlives it.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "lv/video_out.h"
#include "program_test_support.h"
#include "test_pictures.h"

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

bool wholePng(const fs::path& file) {
    const std::string bytes = lvtest::readFile(file);
    return bytes.size() > 20 && bytes.compare(1, 3, "PNG") == 0 && bytes.compare(bytes.size() - 8, 4, "IEND") == 0;
}

}  // namespace

TEST(FullDisk, ARenderEndsWithAClearErrorAndKeepsWhatItWrote) {
    // The player writing 20 s of 160 x 100 frames to `file` (a video or a
    // folder) fails, naming the file and the cause.
    auto failsClearly = [](const char* option, const std::string& file) -> std::string {
        const lvtest::RunResult r =
            lvtest::run({lvtest::binary("lumenvortex"), option, file, "--size", "160x100", "--duration", "20"});
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find(file), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
        return r.err;
    };
    SmallDisk disk;
    // (/dev/full is no stand-in: a render refuses to write into a device.)
    if (disk.path.empty()) GTEST_SKIP() << disk.error;

    // A video: the file named, the cause said, exit 1, and the unfinished
    // video (no player reads one without its index) removed; a video
    // already under the name stays as it was.
    const std::string keep = disk.path + "/keep.mp4";
    const lvtest::RunResult small =
        lvtest::run({lvtest::binary("lumenvortex"), "--render", keep, "--size", "64x64", "--duration", "0.2"});
    ASSERT_EQ(small.status, 0) << small.err;
    const std::string keptVideo = lvtest::readFile(keep);
    for (const std::string& video : {keep, disk.path + "/out.mp4"}) {
        const std::string err = failsClearly("--render", video);
        EXPECT_NE(err.find("the unfinished video is removed" +
                           (video == keep ? "; " + keep + " is left as it was" : std::string())),
                  std::string::npos) << err;
        EXPECT_EQ(lvtest::partsIn(disk.path), std::vector<std::string>{});
    }
    EXPECT_FALSE(fs::exists(disk.path + "/out.mp4"));
    EXPECT_TRUE(lvtest::readFile(keep) == keptVideo) << "the video already there was changed";
    fs::remove(keep);

    // Frames: those written before the disk filled stay, each whole, in an
    // unbroken run from the first.
    // The sound of an earlier render stays as it was.
    const fs::path frames = disk.path + "/frames";
    fs::create_directory(frames);
    lvtest::writeFile(frames / "audio.wav", "old sound");
    failsClearly("--frames", frames.string());
    EXPECT_EQ(lvtest::readFile(frames / "audio.wav"), "old sound");
    EXPECT_EQ(lvtest::partsIn(disk.path), std::vector<std::string>{});
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
    fs::remove_all(frames);

    // Each container meets the full disk within a few seconds of media; an
    // MP4's cover (a stream that sends no more after its one picture) must
    // not hold the interleaving back until the end.
    for (const char* name : {"cover.mp4", "cover.mkv", "cover.mov"}) {
        SCOPED_TRACE(name);
        const std::string file = disk.path + "/" + name;
        lv::VideoOptions options;
        options.width = 160, options.height = 100, options.fps = 30;
        options.cover = lvtest::makePNG(16, 16, lvtest::solid({0, 90, 200, 255}));
        lv::VideoWriter writer;
        std::string error;
        ASSERT_TRUE(writer.open(file, options, error)) << error;
        // Noise, which the encoder cannot make small.
        uint32_t seed = 1;
        auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
        std::vector<unsigned char> picture(size_t(options.width) * options.height * 4);
        std::vector<float> sound(size_t(lv::kMediaSampleRate / options.fps) * 2);
        int frames = 0;
        bool ok = true;
        while (ok && frames < 20 * options.fps) {
            for (unsigned char& b : picture) b = (unsigned char)(next() >> 24);
            for (float& s : sound) s = float(int(next() >> 16) - 32768) / 65536.0f;
            ok = writer.writeFrame(picture.data(), error) && writer.writeAudio(sound.data(), sound.size() / 2, error);
            ++frames;
        }
        EXPECT_FALSE(ok) << "20 s of noise fitted in 256 KB";
        EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
        EXPECT_LT(frames, 3 * options.fps) << "the disk was found full only " << frames << " frames in";
        EXPECT_FALSE(writer.close(error));
        EXPECT_FALSE(fs::exists(file)) << "an unfinished video took the name";
        EXPECT_EQ(lvtest::partsIn(disk.path), std::vector<std::string>{});
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(disk.path)) fs::remove(entry.path(), ec);
    }
}
