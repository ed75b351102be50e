#include "part_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace lv {

namespace {

// `path` through its links, so that a link to an output is followed as an
// open for writing would follow it.
std::string throughLinks(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

}  // namespace

bool PartFile::create(const std::string& path, std::string& why) {
    target = throughLinks(path);
    part.clear();
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    struct stat old {};
    const bool replaces = stat(target.c_str(), &old) == 0;
    // The new file takes the old one's place without writing into it: one
    // this user may not write stays refused, as a plain open would refuse it.
    if (replaces && access(target.c_str(), W_OK) != 0) {
        why = std::strerror(errno);
        return false;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate =
            folder + "." + name + "." + std::to_string(getpid()) + "-" + std::to_string(attempt) + ".part";
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) {
            why = std::strerror(errno);
            return false;
        }
        ::close(fd);
        part = candidate;
        mode = replaces ? int(old.st_mode & 07777) : -1;
        return true;
    }
    why = "no free name for a file beside it";
    return false;
}

bool PartFile::settle(bool keep, std::string& error) {
    if (part.empty()) return true;
    const std::string done = std::move(part);
    part.clear();
    if (!keep) {
        ::unlink(done.c_str());
        return true;
    }
    // The old file's mode only now: while written, the part is its writer's.
    if (mode >= 0) chmod(done.c_str(), mode_t(mode));
    if (std::rename(done.c_str(), target.c_str()) == 0) return true;
    error = "cannot put " + target + " in place: " + std::strerror(errno) + " (it is kept as " + done + ")";
    return false;
}

}  // namespace lv
