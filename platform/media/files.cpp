// Playlists, stand-in titles and cover pictures beside the music.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <cerrno>
#include <iterator>
#include <set>
#include <system_error>

#include "lv/media.h"

namespace fs = std::filesystem;

namespace lv {

namespace {

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Bigger than any scan of a sleeve; a file named cover.jpg that is not one
// must not be read into memory for every track of its folder.
constexpr size_t kMaxCoverBytes = size_t(64) << 20;

// With read(2), not a stream: libstdc++'s filebuf throws from underflow on
// a read error (a failing disk, a dropped share, /proc/self/mem) whatever
// the stream's exception mask. The bound holds for what is read, not only
// for what stat says: files under /proc and /sys say 0.
bool readWholeFile(const std::string& path, std::vector<unsigned char>& out, std::string& error) {
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "not a regular file";
        return false;
    }
    size_t have = 0;
    out.resize(std::min<size_t>(size_t(st.st_size), kMaxCoverBytes) + 1);
    for (;;) {
        if (have == out.size()) {
            if (have > kMaxCoverBytes) {
                out.clear();
                error = "larger than a cover can be (64 MiB)";
                return false;
            }
            out.resize(std::min<size_t>(kMaxCoverBytes + 1, std::max<size_t>(have * 2, 1 << 16)));
        }
        const ssize_t n = ::read(fd, out.data() + have, out.size() - have);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            out.clear();
            error = std::strerror(errno);
            return false;
        }
        have += size_t(n);
    }
    out.resize(have);
    return true;
}

// One walk over the folders of a play list. Links may lead back up the tree
// (a link to "." or ".."), so each folder is walked once and each file
// listed once, known by device and inode whatever name leads to it.
struct Walk {
    const PlaylistBounds& bounds;
    std::vector<std::string>& out;
    std::vector<std::string>& problems;
    std::chrono::steady_clock::time_point deadline;
    std::set<std::pair<dev_t, ino_t>> seen;
    size_t entries = 0;
    bool stopped = false;

    Walk(const PlaylistBounds& b, std::vector<std::string>& o, std::vector<std::string>& p)
        : bounds(b), out(o), problems(p),
          deadline(std::chrono::steady_clock::now() +
                   std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                       std::chrono::duration<double>(std::max(0.0, b.maxSeconds)))) {}

    // False for a file or folder met before (or one that cannot be stat'ed).
    bool firstVisit(const fs::path& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 && seen.insert({st.st_dev, st.st_ino}).second;
    }

    // False once the walk is over its bounds, with `more` names on top of
    // those looked at so far.
    bool withinBounds(const fs::path& top, size_t more) {
        if (stopped) return false;
        const bool tooMany = entries + more > bounds.maxEntries;
        if (!tooMany && std::chrono::steady_clock::now() < deadline) return true;
        stopped = true;
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g", bounds.maxSeconds);
        problems.push_back("stopped looking in " + top.string() + " after " +
                           (tooMany ? std::to_string(bounds.maxEntries) + " files and folders"
                                    : std::string(seconds) + " seconds") +
                           ": playing what was found so far (name smaller folders to play the rest)");
        return false;
    }

    // Folders are walked in name order, files and subfolders interleaved, so
    // "01 Intro.flac" plays before "CD2/..." as a file manager lists them.
    void folder(const fs::path& dir, const fs::path& top) {
        std::error_code ec;
        std::vector<fs::directory_entry> names;
        for (fs::directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec), end;
             !ec && it != end; it.increment(ec)) {
            if (!withinBounds(top, names.size() + 1)) return;
            names.push_back(*it);
        }
        if (ec) {
            problems.push_back("cannot read the folder " + dir.string() + ": " + ec.message());
            return;
        }
        std::sort(names.begin(), names.end(), [](const fs::directory_entry& a, const fs::directory_entry& b) {
            return a.path().filename().string() < b.path().filename().string();
        });
        for (const auto& e : names) {
            if (!withinBounds(top, 1)) return;
            ++entries;
            std::error_code tec;
            if (e.is_directory(tec)) {
                if (firstVisit(e.path())) folder(e.path(), top);
            } else if (e.is_regular_file(tec) &&
                       (looksLikeAudioFile(e.path().filename().string()) || holdsSound(e.path().string()))) {
                if (firstVisit(e.path())) out.push_back(e.path().string());
            }
        }
    }
};

}  // namespace

CoverImage findCoverBeside(const std::string& audioPath) {
    std::error_code ec;
    fs::path dir = fs::path(audioPath).parent_path();
    if (dir.empty()) dir = ".";
    static const char* const kNames[] = {"cover.jpg", "cover.jpeg", "cover.png", "folder.jpg", "folder.jpeg",
                                         "folder.png"};
    std::vector<fs::path> found(std::size(kNames));
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = lower(it->path().filename().string());
        for (size_t i = 0; i < std::size(kNames); ++i)
            if (name == kNames[i] && found[i].empty()) found[i] = it->path();
    }
    for (const fs::path& p : found) {
        if (p.empty()) continue;
        CoverImage c;
        std::string ignored;   // an unreadable picture is no cover; the next name may be one
        if (!readWholeFile(p.string(), c.bytes, ignored)) continue;
        c.format = sniffImageFormat(c.bytes.data(), c.bytes.size());
        if (c.format != ImageFormat::NoImage) return c;
    }
    return {};
}

CoverImage readCoverFile(const std::string& path, std::string& error) {
    CoverImage c;
    if (!readWholeFile(path, c.bytes, error)) return {};
    c.format = sniffImageFormat(c.bytes.data(), c.bytes.size());
    if (c.empty()) {
        error = "neither JPEG nor PNG";
        return {};
    }
    return c;
}

std::string titleFromPath(const std::string& path) {
    fs::path p(path);
    std::string stem = p.stem().string();
    return stem.empty() ? p.filename().string() : stem;
}

bool looksLikeAudioFile(const std::string& name) {
    static const char* const kExtensions[] = {
        ".mp3", ".flac", ".ogg", ".oga", ".opus", ".m4a", ".m4b", ".aac", ".mp4", ".wav", ".wave", ".aif",
        ".aiff", ".aifc", ".wma", ".ape", ".wv", ".mka", ".mpc", ".ac3", ".caf", ".alac", ".spx", ".tta",
        ".webm", ".mp2", ".dsf", ".au", ".w64", ".amr", ".tak", ".shn", ".dts", ".voc", ".ra",
        // tracker modules, through libopenmpt
        ".xm", ".mod", ".s3m", ".it", ".mptm"};
    std::string l = lower(name);
    for (const char* ext : kExtensions) {
        size_t n = std::strlen(ext);
        if (l.size() > n && l.compare(l.size() - n, n, ext) == 0) return true;
    }
    return false;
}

std::vector<std::string> expandPlaylist(const std::vector<std::string>& paths, std::vector<std::string>& problems,
                                        const PlaylistBounds& bounds) {
    std::vector<std::string> out;
    Walk walk(bounds, out, problems);
    for (const std::string& p : paths) {
        std::error_code ec;
        fs::file_status st = fs::status(p, ec);
        if (ec || !fs::exists(st)) {
            problems.push_back("no such file or folder: " + p);
        } else if (fs::is_directory(st)) {
            if (walk.stopped) continue;
            // A folder named twice plays twice, as a file named twice does.
            walk.seen.clear();
            walk.firstVisit(p);
            size_t before = out.size();
            walk.folder(p, p);
            if (out.size() == before && !walk.stopped) problems.push_back("no audio files in the folder " + p);
        } else {
            out.push_back(p);
        }
    }
    return out;
}

}  // namespace lv
