#include "program_test_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include <gtest/gtest.h>

#include "lv/capture.h"
#include "lv/video_out.h"

extern char** environ;

namespace fs = std::filesystem;

namespace lvtest {
namespace {

// A TCP socket on loopback `port`, listening or connected; -1 when that fails.
int loopbackSocket(int port, bool listening, int receiveBuffer = 0) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (receiveBuffer > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto* a = reinterpret_cast<const sockaddr*>(&addr);
    if (listening ? bind(fd, a, sizeof addr) == 0 && listen(fd, 1) == 0 : connect(fd, a, sizeof addr) == 0) return fd;
    close(fd);
    return -1;
}

}  // namespace


TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "lvtest-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    mPath = made ? made : pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(mPath, ec);
}

void writeFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> partsIn(const std::string& folder) {
    std::vector<std::string> parts;
    std::error_code ec;
    for (fs::recursive_directory_iterator e(folder, ec), end; !ec && e != end; e.increment(ec))
        if (e->path().extension() == ".part") parts.push_back(e->path());
    return parts;
}

std::string probe(const std::string& file, const std::string& entries) {
    return run({"/usr/bin/ffprobe", "-v", "error", "-count_frames", "-show_entries", entries, "-of",
                "default=noprint_wrappers=1", file})
        .out;
}

std::string binary(const std::string& name) {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec && fs::exists(self.parent_path() / name)) return (self.parent_path() / name).string();
    const char* dir = std::getenv("LV_BINARY_DIR");
    return std::string(dir ? dir : ".") + "/bin/" + name;
}

bool waitFor(const std::function<bool()>& ready, double timeoutSeconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (!ready()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

bool makeAudioFile(const std::string& path, const ToneFile& tone, std::string& error) {
    TempDir dir;
    std::string wave = std::to_string(tone.amplitude) + "*sin(2*PI*" + std::to_string(tone.frequency) + "*t)";
    for (int c = 1; c < tone.channels; ++c) wave += "|" + wave.substr(0, wave.find('|'));
    std::vector<std::string> args = {"/usr/bin/ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                                     "aevalsrc=" + wave + ":s=" + std::to_string(tone.sampleRate) +
                                         ":d=" + std::to_string(tone.seconds)};
    if (!tone.picture.empty()) {
        const std::string picture = dir / (tone.picture[1] == 'P' ? "cover.png" : "cover.jpg");
        writeFile(picture, std::string(tone.picture.begin(), tone.picture.end()));
        args.insert(args.end(), {"-i", picture, "-map", "0", "-map", "1", "-c:v", "copy", "-disposition:v",
                                 "attached_pic"});
    }
    for (const auto& [key, value] : tone.tags) args.insert(args.end(), {"-metadata", key + "=" + value});
    args.push_back(path);
    const RunResult r = run(args);
    if (r.status != 0) error = "ffmpeg could not make " + path + ": " + r.err;
    return r.status == 0;
}

void makeTone(const std::string& path, double seconds, std::vector<std::pair<std::string, std::string>> tags,
              std::vector<unsigned char> picture) {
    const ToneFile tone{.seconds = seconds, .tags = std::move(tags), .picture = std::move(picture)};
    std::string error;
    if (!makeAudioFile(path, tone, error)) ADD_FAILURE() << error;
}

void writeWav(const std::string& path, const std::vector<float>& stereo) {
    lv::WavWriter wav;
    std::string error;
    const bool ok = wav.open(path, error) && wav.write(stereo.data(), stereo.size() / 2, error) && wav.close(error);
    if (!ok) ADD_FAILURE() << "cannot write " << path << ": " << error;
}

std::string trackerModule(int rows) {
    std::string s;
    auto put = [&](uint32_t v, int n) {
        for (int i = 0; i < n; ++i) s += char((v >> (8 * i)) & 0xFF);
    };
    auto text = [&](const std::string& t, size_t n) {
        s += t.substr(0, n) + std::string(n - std::min(n, t.size()), '\0');
    };
    text("Extended Module: ", 17), text("lvtest", 20), s += '\x1a', text("lvtest", 20), put(0x104, 2);
    // Header: its size, one order, two channels, one pattern, one instrument,
    // linear frequencies, speed and tempo, then the order table.
    put(276, 4), put(1, 2), put(0, 2), put(2, 2), put(1, 2), put(1, 2), put(1, 2), put(6, 2), put(125, 2);
    s += std::string(256, '\0');
    std::string pattern;   // packed: 0x80 alone is an empty cell; 0x83 a note and an instrument follow
    for (int r = 0; r < rows; ++r) pattern += (r == 0 ? std::string("\x83\x31\x01", 3) : "\x80") + std::string("\x80");
    put(9, 4), put(0, 1), put(uint32_t(rows), 2), put(uint32_t(pattern.size()), 2);
    s += pattern;
    // The instrument: no envelopes, one sample header of 40 bytes.
    put(263, 4), text("square", 22), put(0, 1), put(1, 2), put(40, 4);
    s += std::string(96 + 96 + 14, '\0');
    put(0, 2), s += std::string(22, '\0');
    const int length = 32;
    put(length, 4), put(0, 4), put(length, 4), put(64, 1), put(0, 1), put(1, 1), put(128, 1), put(0, 1), put(0, 1);
    text("", 22);
    int previous = 0;   // 8-bit samples stored as differences
    for (int i = 0; i < length; ++i) {
        const int v = i < length / 2 ? 64 : -64;
        s += char((v - previous) & 0xFF);
        previous = v;
    }
    return s;
}

RunResult run(const std::vector<std::string>& args, const std::vector<std::string>& env, double timeoutSeconds) {
    TempDir dir;
    RunResult result;
    {
        Child child(args, env, dir / "out", dir / "err");
        result.status = child.wait(timeoutSeconds);
    }   // one that would not end is stopped here
    result.out = readFile(dir / "out");
    result.err = readFile(dir / "err");
    return result;
}

Child::Child(const std::vector<std::string>& args, const std::vector<std::string>& envChanges,
             const std::string& outPath, const std::string& errPath) {
    // The environment with `envChanges` applied ("NAME=value" sets, "NAME=" removes).
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.push_back(*e);
    for (const std::string& c : envChanges) {
        const std::string name = c.substr(0, c.find('=') + 1);
        std::erase_if(env, [&](const std::string& e) { return e.compare(0, name.size(), name) == 0; });
        if (c.size() > name.size()) env.push_back(c);
    }
    std::vector<char*> argv, envp;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    for (std::string& e : env) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    mPid = fork();
    if (mPid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);   // a test that dies on the spot takes its children with it
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = errPath.empty() ? out : open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(open("/dev/null", O_RDONLY), 0);
        dup2(out, 1);
        dup2(err, 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
}

bool Child::running() {
    int status = 0;
    if (mPid > 0 && waitpid(mPid, &status, WNOHANG) == mPid) {
        mStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        mPid = -1;
    }
    return mPid > 0;
}

int Child::wait(double timeoutSeconds) { return waitFor([&] { return !running(); }, timeoutSeconds) ? mStatus : -1; }

void Child::signal(int sig) {
    if (running()) kill(mPid, sig);
}

void Child::stop() {
    if (mPid <= 0) return;
    kill(mPid, SIGTERM);
    if (wait(5.0) < 0) {
        kill(mPid, SIGKILL);
        waitpid(mPid, nullptr, 0);
        mPid = -1;
    }
}

int holdPort(int port) { return loopbackSocket(port, true); }

int portOf(int fd) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    return ntohs(addr.sin_port);
}

int unusedPort() {
    const int fd = holdPort(0);
    const int port = portOf(fd);
    close(fd);
    return port;
}

int connectClient(int port, int receiveBuffer) { return loopbackSocket(port, false, receiveBuffer); }

size_t readFor(int fd, uint8_t* out, size_t size, double timeoutSeconds, bool* closed) {
    size_t got = 0;
    if (closed) *closed = false;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (got < size) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, int(left)) < 0) break;
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

namespace {

// A daemon with its log in `dir`/daemon.log, up once `ready` holds while it
// runs; `error` says what it logged when it does not come up.
std::unique_ptr<Child> startDaemon(const std::vector<std::string>& args, const std::vector<std::string>& env,
                                   const TempDir& dir, const std::function<bool()>& ready, const std::string& what,
                                   bool& ok, std::string& error) {
    auto child = std::make_unique<Child>(args, env, dir / "daemon.log");
    ok = waitFor([&] { return child->running() && ready(); }, 20.0);
    if (!ok) error = what + " did not come up: " + readFile(dir / "daemon.log");
    return child;
}

}  // namespace

PulseDaemon::PulseDaemon() {
    setenv("PULSE_SERVER", server().c_str(), 1);
    start();
}

bool PulseDaemon::start() {
    // Ready when a client can list the sink's monitor.
    mChild = startDaemon(
        {"/usr/bin/pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit", "--disable-shm=true",
         "--use-pid-file=false", "--log-target=stderr",
         "--load=module-native-protocol-unix socket=" + mDir.path() + "/native auth-anonymous=1",
         "--load=module-null-sink sink_name=lvtest rate=" + std::to_string(lv::kMediaSampleRate) +
             " sink_properties=device.description=LvTest"},
        {"HOME=" + mDir.path(), "XDG_RUNTIME_DIR=" + mDir.path(), "PULSE_RUNTIME_PATH=" + mDir.path(),
         "PULSE_STATE_PATH=" + mDir.path(), "DISPLAY=", "DBUS_SESSION_BUS_ADDRESS=", "PULSE_SERVER="},
        mDir,
        [] {
            lv::CaptureServerInfo info;
            std::string e;
            return lv::queryCaptureSources(info, e) && info.defaultMonitor == "lvtest.monitor";
        },
        "pulseaudio", mOk, mError);
    return mOk;
}

bool PulseDaemon::restart() {
    stop();
    return start();
}

void PulseDaemon::stop() {
    mChild.reset();
    mOk = false;
}

std::string PulseDaemon::pactl(const std::vector<std::string>& args) {
    std::vector<std::string> all{"/usr/bin/pactl"};
    all.insert(all.end(), args.begin(), args.end());
    const RunResult r = run(all, {"PULSE_SERVER=" + server()}, 30.0);
    EXPECT_EQ(r.status, 0) << "pactl failed: " << r.err;
    return r.status == 0 ? r.out : "";
}

// The daemon's own environment was copied when it started; mChild, declared
// after mDir, stops it before its folder goes.
PulseDaemon::~PulseDaemon() { unsetenv("PULSE_SERVER"); }

SessionBus::SessionBus() {
    mChild = startDaemon({"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + address()}, {},
                         mDir, [&] { return std::filesystem::exists(mDir / "bus"); },
                         "dbus-daemon (install dbus-daemon)", mOk, mError);
    setenv("DBUS_SESSION_BUS_ADDRESS", address().c_str(), 1);
}

SessionBus::~SessionBus() { unsetenv("DBUS_SESSION_BUS_ADDRESS"); }

FakePlayer::FakePlayer(const std::string& name, const std::string& json) {
    const std::string fifo = mDir / "control";
    mkfifo(fifo.c_str(), 0600);
    // Read-write: opening never waits for the other end, and writes never fail for want of a reader.
    mControl = open(fifo.c_str(), O_RDWR | O_CLOEXEC);
    // The system's python3, which has python3-dbus and python3-gi.
    mChild = std::make_unique<Child>(
        std::vector<std::string>{"/usr/bin/python3", binary("fake_mpris_player.py"), name, fifo, json},
        std::vector<std::string>{}, mDir / "out.log", mDir / "err.log");
    mOk = waitFor([&] { return readFile(mDir / "out.log").find("ready") != std::string::npos || !mChild->running(); },
                  30.0) &&
          mChild->running();
}

FakePlayer::~FakePlayer() {
    mChild.reset();
    if (mControl >= 0) close(mControl);
}

std::string FakePlayer::log() const { return readFile(mDir / "err.log"); }

void FakePlayer::change(const std::string& json) {
    const std::string line = json + "\n";
    EXPECT_EQ(write(mControl, line.data(), line.size()), ssize_t(line.size()));
}

void FakePlayer::quit() {
    change(R"({"quit":true})");
    EXPECT_NE(mChild->wait(20.0), -1) << "the fake player did not quit: " << log();
}

}  // namespace lvtest
