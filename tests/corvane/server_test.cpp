// corvane as a process, read by raw loopback clients: pacing, framing and
// the queue bound under a stalled reader, clients that flood it, the client
// cap and the stalled clients that make way past it, clean shutdown, music
// decoded into the two channels' spectra, and the command line's errors.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "corvane_process.h"
#include "track_line.h"

using cvtest::Corvane;
using cvtest::FRAME;

namespace {

using Clock = std::chrono::steady_clock;

// Every frame of the test pattern is one byte value repeated.
bool uniform(const uint8_t* frame) { return std::all_of(frame, frame + FRAME, [&](uint8_t b) { return b == frame[0]; }); }

// Every frame of a stream read from its first byte is whole.
::testing::AssertionResult wholeFrames(const std::vector<uint8_t>& stream) {
    for (size_t at = 0; at + FRAME <= stream.size(); at += FRAME)
        if (!uniform(&stream[at])) return ::testing::AssertionFailure() << "the frame at byte " << at << " is cut";
    return ::testing::AssertionSuccess();
}

// Reads whatever arrives for `seconds`.
std::vector<uint8_t> readAll(int fd, double seconds, bool* closed = nullptr) {
    std::vector<uint8_t> bytes(1 << 22);
    bytes.resize(lvtest::readFor(fd, bytes.data(), bytes.size(), seconds, closed));
    return bytes;
}

// Reads and throws away what comes on the sockets it is given, on a thread
// of its own, as clients that keep up do; counts each one's bytes.
class KeepReading {
public:
    KeepReading() : mThread([this] { loop(); }) {}
    ~KeepReading() {
        mStop = true;
        mThread.join();
    }
    void add(int fd) {
        std::lock_guard<std::mutex> lock(mMutex);
        mBytes[fd] = 0;
    }
    void remove(int fd) {
        std::lock_guard<std::mutex> lock(mMutex);
        mBytes.erase(fd);
    }
    // How many have not ended.
    size_t open() {
        std::lock_guard<std::mutex> lock(mMutex);
        return mBytes.size();
    }
    size_t bytes(int fd) {
        std::lock_guard<std::mutex> lock(mMutex);
        return mBytes.count(fd) ? mBytes[fd] : 0;
    }

private:
    void loop() {
        std::vector<uint8_t> scratch(64 * 1024);
        while (!mStop) {
            std::vector<pollfd> fds;
            {
                std::lock_guard<std::mutex> lock(mMutex);
                for (const auto& [fd, n] : mBytes) fds.push_back({fd, POLLIN, 0});
            }
            poll(fds.data(), fds.size(), 20);
            std::lock_guard<std::mutex> lock(mMutex);
            for (const pollfd& p : fds) {
                const ssize_t n = (p.revents & POLLIN) && mBytes.count(p.fd)
                                      ? recv(p.fd, scratch.data(), scratch.size(), MSG_DONTWAIT)
                                      : -1;
                if (n > 0) mBytes[p.fd] += size_t(n);
                if (n == 0) mBytes.erase(p.fd);   // ended: nothing more to read
            }
        }
    }

    std::mutex mMutex;
    std::map<int, size_t> mBytes;
    std::atomic<bool> mStop{false};
    std::thread mThread;   // last: it starts when the rest is ready
};

// What the track port says while the test pattern plays.
constexpr char kPatternLine[] = "{\"title\":\"Framing test pattern\",\"artist\":\"corvane\",\"album\":\"\"}\n";

int argmax(const uint8_t* bins, int count) { return int(std::max_element(bins, bins + count) - bins); }

}  // namespace

// One server for the readers' ways. A stalled reader neither delays the
// others nor loses its framing. Then far more short visits than the server
// takes clients at once, each with whole frames from its first byte, and as
// many to the track port, each with its line; after them (and the two
// above) the full 64 still fit, and while they all read the 65th is turned
// away until one leaves. When they stop reading, a newcomer takes the place
// of one that has read nothing for a while, never that of one that reads.
TEST(CorvaneServer, StalledClientsKeepTheirFramingAndThoseThatLeaveAreForgottenSixtyFourAtATime) {
    constexpr double kRate = 500.0;
    Corvane server({"--pattern", "--mute", "--rate", "500", "--port", "0"});
    const int port = server.waitForPort();
    ASSERT_GT(port, 0);
    // A small receive buffer, so that the stall reaches the server quickly.
    const Clock::time_point connected = Clock::now();
    const int stalled = lvtest::connectClient(port, 4096);
    const int steady = lvtest::connectClient(port);
    ASSERT_GE(stalled, 0);
    ASSERT_GE(steady, 0);

    // The stalled client reads nothing while the steady one reads for three
    // seconds. Frames counted over them: far more than a held-up server
    // sends, and never more than the server's ticks.
    std::vector<uint8_t> stream = readAll(steady, 3.0);
    const double seconds = std::chrono::duration<double>(Clock::now() - connected).count();
    const double frames = double(stream.size() / FRAME);
    EXPECT_GT(frames, kRate * seconds * 0.3) << "the steady client was held up";
    EXPECT_LE(frames, kRate * seconds + 8);
    EXPECT_TRUE(wholeFrames(stream)) << "steady client";
    std::set<uint8_t> values;   // frame k is k mod 256: over hundreds of frames, every byte value
    for (size_t at = 0; at < stream.size(); at += FRAME) values.insert(stream[at]);
    EXPECT_EQ(values.size(), 256u);

    // Resumed: everything from the first byte of the connection on is whole
    // frames; what was kept for it is its queue and the kernel's buffers,
    // then it skips to the present.
    std::vector<uint8_t> resumed = readAll(stalled, 0.5);
    ASSERT_GT(resumed.size(), 100 * FRAME);
    ASSERT_TRUE(wholeFrames(resumed)) << "stalled client";
    size_t kept = 1;
    while (kept * FRAME < resumed.size() && uint8_t(resumed[(kept - 1) * FRAME] + 1) == resumed[kept * FRAME]) ++kept;
    EXPECT_LE(kept, 8u + 64u) << "frames kept for a stalled client: its queue of 8 and some 64 KiB in the kernel";
    close(stalled);
    close(steady);

    uint8_t frame[FRAME];
    for (int visit = 0; visit < 100; ++visit) {
        const int fd = lvtest::connectClient(port);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(lvtest::readFor(fd, frame, FRAME, 5.0), FRAME) << "visit " << visit;
        EXPECT_TRUE(uniform(frame));
        // Some leave with unread frames (a reset), some after a half-close.
        if (visit % 2) shutdown(fd, SHUT_WR);
        close(fd);
        // The track port's visitors read their line whole, so that they leave
        // with a plain end of stream, no reset.
        const int tracks = lvtest::connectClient(port + TRACK_PORT_OFFSET);
        std::string line(sizeof kPatternLine - 1, '\0');
        line.resize(lvtest::readFor(tracks, reinterpret_cast<uint8_t*>(line.data()), line.size(), 5.0));
        ASSERT_EQ(line, kPatternLine) << "track visit " << visit;
        close(tracks);
    }
    // The full 64 keep reading, so none of them may make way.
    KeepReading reading;
    std::vector<int> clients;
    for (int i = 0; i < 64; ++i) {
        clients.push_back(lvtest::connectClient(port));
        ASSERT_EQ(lvtest::readFor(clients.back(), frame, FRAME, 5.0), FRAME) << "client " << i;
        reading.add(clients.back());
    }
    // A client that only half-closes still reads.
    shutdown(clients[0], SHUT_WR);
    const size_t before = reading.bytes(clients[0]);
    EXPECT_TRUE(lvtest::waitFor([&] { return reading.bytes(clients[0]) > before + 50 * FRAME; }, 10.0));
    // One too many: its connection ends before a single byte.
    const int extra = lvtest::connectClient(port);
    bool closed = false;
    EXPECT_EQ(lvtest::readFor(extra, frame, FRAME, 5.0, &closed), 0u);
    EXPECT_TRUE(closed);
    close(extra);
    // One leaves, and its place is free again.
    reading.remove(clients.back());
    close(clients.back());
    clients.pop_back();
    // The server learns of the departure on its next send, whenever a busy
    // machine lets it run: newcomers turned away until then are tried
    // again, for up to ten seconds.
    const auto admitted = [&](double seconds) {
        for (const auto until = Clock::now() + std::chrono::duration<double>(seconds); Clock::now() < until;) {
            const int next = lvtest::connectClient(port);
            if (lvtest::readFor(next, frame, FRAME, 1.0) == FRAME) return next;
            close(next);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    };
    const int newcomer = admitted(10.0);
    EXPECT_GE(newcomer, 0) << "the place of a client that left was not freed";
    close(newcomer);

    // All but one stop reading, and the table fills again: a newcomer is let
    // in in place of one that has read nothing for a while, never the one
    // that reads; the one let go sees its stream end.
    for (size_t i = 1; i < clients.size(); ++i) reading.remove(clients[i]);
    const int filler = admitted(10.0);
    ASSERT_GE(filler, 0);
    const int late = admitted(30.0);
    EXPECT_GE(late, 0) << "clients that never read lock the newcomers out";
    close(late);
    const size_t readSoFar = reading.bytes(clients[0]);
    EXPECT_TRUE(lvtest::waitFor([&] { return reading.bytes(clients[0]) > readSoFar + 50 * FRAME; }, 10.0))
        << "the client that reads was let go";
    reading.remove(clients[0]);
    clients.push_back(filler);
    for (size_t i = 1; i < clients.size(); ++i) reading.add(clients[i]);
    EXPECT_TRUE(lvtest::waitFor([&] { return reading.open() < clients.size() - 1; }, 10.0))
        << "no client that reads nothing was let go";
    for (int fd : clients) close(fd);
}

TEST(CorvaneServer, ClientsThatSendAreCutOffAndNeverStallTheOthers) {
    constexpr int kRate = 100;
    Corvane server({"--pattern", "--mute", "--rate", std::to_string(kRate), "--port", "0"});
    const int port = server.waitForPort();
    ASSERT_GT(port, 0);
    const int reader = lvtest::connectClient(port);
    ASSERT_GE(reader, 0);

    // Four clients that send as fast as loopback takes it, and come back
    // whenever they are cut off.
    std::atomic<bool> done{false};
    std::atomic<int> cutOff{0};
    std::vector<std::thread> flooders;
    for (int i = 0; i < 4; ++i)
        flooders.emplace_back([&] {
            const std::vector<uint8_t> junk(64 * 1024, 'x');
            int fd = lvtest::connectClient(port);
            while (!done && fd >= 0) {
                pollfd p{fd, POLLOUT, 0};
                poll(&p, 1, 10);
                if (send(fd, junk.data(), junk.size(), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0 || errno == EAGAIN) continue;
                ++cutOff;
                close(fd);
                fd = lvtest::connectClient(port);
            }
            if (fd >= 0) close(fd);
        });

    // Frames counted over several seconds: a stalled server would send a
    // handful, a working one nearly all.
    const Clock::time_point start = Clock::now();
    std::vector<uint8_t> stream = readAll(reader, 4.0);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    done = true;
    for (std::thread& t : flooders) t.join();
    close(reader);
    EXPECT_GT(double(stream.size() / FRAME), kRate * seconds * 0.3) << "the sending clients held the server up";
    EXPECT_TRUE(wholeFrames(stream));
    EXPECT_GE(cutOff.load(), 4) << "a client that keeps sending is dropped";
}

// The test pattern, and music (the demo song) whose decoding thread waits
// for room in the sound's queue until the stop wakes it. And while it
// starts: a sound server that takes the connection and never answers holds
// corvane in libpulse's connect for 30 s; a stop signal must end it there as
// it would while serving. The test is that sound server: a socket that
// listens and never accepts (the kernel completes the connect).
TEST(CorvaneServer, StopSignalsEndItCleanlyWhileItStartsOrServesAndCloseTheConnections) {
    lvtest::TempDir dir;
    const std::string path = dir / "native";
    const int silent = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(silent, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(silent, 8), 0);
    for (int sig : {SIGTERM, SIGINT}) {
        {
            Corvane server({"--capture", "--port", "0"}, {"PULSE_SERVER=unix:" + path});
            pollfd waiting{silent, POLLIN, 0};
            ASSERT_EQ(poll(&waiting, 1, 20000), 1) << "corvane never called on the sound server; " << server.errors();
            server.signal(sig);
            EXPECT_EQ(server.wait(10.0), 0) << strsignal(sig) << " while it waits for the sound server; stderr: "
                                            << server.errors();
            EXPECT_NE(server.errors().find("stopped"), std::string::npos) << server.errors();
            EXPECT_EQ(server.output(), "") << "it never served";
            // The connection it left behind, so that the next one is seen.
            const int left = accept(silent, nullptr, nullptr);
            if (left >= 0) close(left);
        }
        for (const char* feed : {"--pattern", "--loop"}) {
            Corvane server({feed, "--mute", "--rate", "200", "--port", "0"});
            const int port = server.waitForPort();
            ASSERT_GT(port, 0);
            // What one player opens: two frame connections and one for the
            // track names, counted apart.
            const int a = lvtest::connectClient(port);
            const int b = lvtest::connectClient(port);
            const int names = lvtest::connectClient(port + 1);
            uint8_t frame[FRAME];
            ASSERT_EQ(lvtest::readFor(a, frame, FRAME, 5.0), FRAME);
            ASSERT_EQ(lvtest::readFor(b, frame, FRAME, 5.0), FRAME);
            EXPECT_TRUE(lvtest::waitFor(
                [&] { return server.errors().find("2 frame clients and 1 track client connected") != std::string::npos; },
                10.0))
                << server.errors();
            close(names);
            server.signal(sig);
            EXPECT_EQ(server.wait(10.0), 0) << strsignal(sig) << " " << feed << "; stderr: " << server.errors();
            for (int fd : {a, b}) {
                bool closed = false;
                readAll(fd, 5.0, &closed);
                EXPECT_TRUE(closed) << "a client's connection stayed open after " << strsignal(sig);
                close(fd);
            }
        }
    }
    close(silent);
}

TEST(CorvaneServer, MusicFilesBecomeEachChannelsSpectrumAndUnplayableOnesAreSkipped) {
    lvtest::TempDir dir;
    // 1 kHz on the left, 5 kHz on the right: bins 23 and 116 (43.07 Hz apart).
    std::vector<float> music(44100 * 2);
    for (size_t i = 0; i < music.size() / 2; ++i) {
        music[2 * i] = 0.5f * float(std::sin(2 * M_PI * 1000.0 * double(i) / 44100.0));
        music[2 * i + 1] = 0.5f * float(std::sin(2 * M_PI * 5000.0 * double(i) / 44100.0));
    }
    lvtest::writeWav(dir / "tones.wav", music);
    std::ofstream(dir / "garbage.mp3") << "not music at all";

    Corvane server({"--mute", "--rate", "100", "--port", "0", dir / "missing.flac", dir / "garbage.mp3",
                    dir / "tones.wav"});
    const int port = server.waitForPort();
    ASSERT_GT(port, 0);
    const int client = lvtest::connectClient(port);
    ASSERT_GE(client, 0);
    // The second of music plays out in real time, then the server leaves.
    bool closed = false;
    std::vector<uint8_t> bytes = readAll(client, 10.0, &closed);
    close(client);
    EXPECT_TRUE(closed);
    EXPECT_EQ(server.wait(5.0), 0) << server.errors();

    int tonal = 0;
    for (size_t at = 0; at + FRAME <= bytes.size(); at += FRAME) {
        const uint8_t* left = &bytes[at];
        const uint8_t* right = &bytes[at + 512];
        if (left[argmax(left, 256)] < 100) continue;   // the silence around the music
        ++tonal;
        EXPECT_NEAR(argmax(left, 256), 23, 1) << "frame " << at / FRAME;
        EXPECT_NEAR(argmax(right, 256), 116, 1) << "frame " << at / FRAME;
    }
    EXPECT_GE(tonal, 40) << "a second at 100 frames a second";
    EXPECT_LE(bytes.size() / FRAME, 300u);
    const std::string errors = server.errors();
    EXPECT_NE(errors.find("missing.flac"), std::string::npos) << errors;
    EXPECT_NE(errors.find("garbage.mp3"), std::string::npos) << errors;
}

TEST(CorvaneCommandLine, ErrorsSayWhatToDo) {
    lvtest::TempDir dir;
    std::ofstream(dir / "noise.ogg") << "not an ogg file";
    const int holder = lvtest::holdPort(0);
    ASSERT_GE(holder, 0);
    const std::string port = std::to_string(lvtest::portOf(holder));
    struct Case {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> said;   // on stdout for --help, else on stderr
    };
    const Case cases[] = {
        {{"--help"}, 0, {"7737", "--pattern"}},   // the default port
        {{"--rate", "fast"}, 2, {}},
        {{"--bogus"}, 2, {}},
        // Numbers are the whole text, without spaces or signs around them.
        {{"--pattern", "--mute", "--port", "0", "--rate", " 60"}, 2, {"not \" 60\""}},
        {{"--pattern", "--mute", "--port", "+0"}, 2, {}},
        // A port someone else holds: named, with the way out (the slowest
        // rate taken on the way).
        {{"--pattern", "--rate", "1", "--port", port}, 1, {port, "--port"}},
        // The player's word for --mute is taken too.
        {{"--no-audio", "--port", "0", dir / "noise.ogg"}, 1, {"nothing could be played"}},
        {{"--mute", "--port", "0", dir / "no such folder"}, 1, {"nothing to play"}},
    };
    for (const Case& c : cases) {
        Corvane corvane(c.args);
        EXPECT_EQ(corvane.wait(20.0), c.status) << c.args.back();
        const std::string said = c.status == 0 ? corvane.output() : corvane.errors();
        for (const std::string& part : c.said) EXPECT_NE(said.find(part), std::string::npos) << said;
        EXPECT_TRUE(c.status == 0 || corvane.output().empty()) << "a failed start claims to listen";
    }
    close(holder);
}
