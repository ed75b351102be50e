#include "corvane_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace cvtest {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string corvanePath() {
    if (const char* bin = std::getenv("LV_BINARY_DIR")) return std::string(bin) + "/bin/corvane";
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "corvane").string();
}

}  // namespace

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "corvane-test-XXXXXX").string();
    if (mkdtemp(pattern.data())) mPath = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (!mPath.empty()) std::filesystem::remove_all(mPath, ignored);
}

Corvane::Corvane(const std::vector<std::string>& args) {
    std::vector<std::string> all{corvanePath()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (mDir / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (mDir / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int failed = posix_spawn(&mPid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed) {
        mPid = -1;
        ADD_FAILURE() << "cannot run " << argv[0] << ": " << std::strerror(failed) << " (build the corvane target)";
    }
}

Corvane::~Corvane() {
    signal(SIGKILL);
    wait(10.0);
}

int Corvane::waitForPort(double timeoutSeconds) {
    const std::string prefix = "corvane: listening on 127.0.0.1:";
    const Clock::time_point start = Clock::now();
    std::string out;
    // Until the whole line is there, or corvane has ended without it.
    auto running = [&] {
        siginfo_t info{};
        return mPid > 0 && waitid(P_PID, id_t(mPid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
    };
    while ((out = output()).find('\n') == std::string::npos && secondsSince(start) < timeoutSeconds && running())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    out = output();
    const int port = out.rfind(prefix, 0) == 0 ? std::atoi(out.c_str() + prefix.size()) : 0;
    if (port <= 0) ADD_FAILURE() << "corvane did not say where it listens; stdout: \"" << out << "\"; stderr: " << errors();
    return std::max(port, 0);
}

void Corvane::signal(int sig) {
    if (mPid > 0 && mStatus < 0) kill(mPid, sig);
}

int Corvane::wait(double timeoutSeconds) {
    const Clock::time_point start = Clock::now();
    while (mPid > 0 && mStatus < 0 && secondsSince(start) <= timeoutSeconds) {
        int status = 0;
        if (waitpid(mPid, &status, WNOHANG) == mPid)
            mStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return mStatus;
}

std::string Corvane::output() const { return readText(mDir / "stdout"); }
std::string Corvane::errors() const { return readText(mDir / "stderr"); }

int connectClient(int port, int receiveBuffer) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
    if (fd >= 0) close(fd);
    return -1;
}

size_t readFor(int fd, uint8_t* out, size_t size, double timeoutSeconds, bool* closed) {
    size_t got = 0;
    if (closed) *closed = false;
    const Clock::time_point start = Clock::now();
    while (got < size) {
        const int left = int((timeoutSeconds - secondsSince(start)) * 1000);
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, left) < 0) break;
        if (!(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
        const ssize_t n = recv(fd, out + got, size - got, 0);
        if (n <= 0) {
            if (closed) *closed = true;
            break;
        }
        got += size_t(n);
    }
    return got;
}

void writeWav(const std::string& path, const std::vector<float>& stereo) {
    std::ofstream wav(path, std::ios::binary);
    auto put = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) wav.put(char((v >> (8 * i)) & 0xFF));
    };
    const uint32_t dataBytes = uint32_t(stereo.size() * 2);
    wav << "RIFF";
    put(36 + dataBytes, 4);
    wav << "WAVEfmt ";
    put(16, 4);          // format block size
    put(1, 2);           // PCM
    put(2, 2);           // channels
    put(44100, 4);       // frames a second
    put(44100 * 4, 4);   // bytes a second
    put(4, 2);           // bytes a frame
    put(16, 2);          // bits a sample
    wav << "data";
    put(dataBytes, 4);
    for (float v : stereo) put(uint32_t(uint16_t(int16_t(std::lround(std::clamp(v, -1.0f, 1.0f) * 32767)))), 2);
}

}  // namespace cvtest
