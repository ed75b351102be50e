// What the spectrum server's tests share: corvane run as a real child
// process, loopback clients that read its frames, and WAV files of music the
// tests make.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cvtest {

constexpr size_t FRAME = 1024;

// A fresh folder, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string operator/(const std::string& name) const { return mPath + "/" + name; }

private:
    std::string mPath;
};

// bin/corvane of the build ($LV_BINARY_DIR, else beside the test program),
// started with `args`; stdout and stderr kept in files.
class Corvane {
public:
    explicit Corvane(const std::vector<std::string>& args);
    ~Corvane();   // SIGKILL if it still runs
    Corvane(const Corvane&) = delete;
    Corvane& operator=(const Corvane&) = delete;

    // Waits for the line that says where it listens; the port, or 0 (with a
    // test failure) when none came.
    int waitForPort(double timeoutSeconds = 20.0);
    void signal(int sig);
    // The exit status (128 + signal when killed); -1 while it runs.
    int wait(double timeoutSeconds);
    std::string output() const;
    std::string errors() const;

private:
    TempDir mDir;
    int mPid = -1;
    int mStatus = -1;
};

// -1 when the connection fails. receiveBuffer > 0 is set before connecting.
int connectClient(int port, int receiveBuffer = 0);

// Reads until `size` bytes arrived, the peer closed (`closed`), or
// `timeoutSeconds` passed. Returns the bytes read.
size_t readFor(int fd, uint8_t* out, size_t size, double timeoutSeconds, bool* closed = nullptr);

// Interleaved stereo floats as a 16-bit PCM WAV file at 44.1 kHz.
void writeWav(const std::string& path, const std::vector<float>& stereo);

}  // namespace cvtest
