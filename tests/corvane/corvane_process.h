// What the spectrum server's tests add to the programs' shared test support:
// corvane run as a real child process, and loopback clients that read its
// frames.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "audio_constants.h"
#include "program_test_support.h"

namespace cvtest {

// Bytes of one frame on the wire: both channels' spectra.
constexpr size_t FRAME = 2 * SPECTRUM_BINS;

// bin/corvane of the build, started with `args` and extra environment
// entries ("NAME=value"); stdout and stderr kept in files. Killed with the
// object if it still runs.
class Corvane {
public:
    explicit Corvane(const std::vector<std::string>& args, const std::vector<std::string>& env = {});
    ~Corvane();
    Corvane(const Corvane&) = delete;
    Corvane& operator=(const Corvane&) = delete;

    // Waits for the line that says where it listens; the port, or 0 (with a
    // test failure) when none came.
    int waitForPort(double timeoutSeconds = 20.0);
    void signal(int sig) { mChild.signal(sig); }
    // The exit status (128 + signal when killed); -1 while it runs.
    int wait(double timeoutSeconds) { return mChild.wait(timeoutSeconds); }
    std::string output() const { return lvtest::readFile(mDir / "stdout"); }
    std::string errors() const { return lvtest::readFile(mDir / "stderr"); }

private:
    lvtest::TempDir mDir;
    lvtest::Child mChild;
};

}  // namespace cvtest
