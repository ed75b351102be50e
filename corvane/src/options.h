// The command line of corvane, the spectrum server.
#pragma once

#include <string>
#include <vector>

#include "audio_constants.h"
#include "command_line.h"
#include "manual.h"

namespace corvane {

constexpr double DEFAULT_RATE = 60.0;

struct Options : CommonOptions {
    int port = DEFAULT_CORVANE_PORT;   // 0: any free port
    double rate = DEFAULT_RATE;        // frames a second
    bool mute = false;                 // real-time pace without the sound device
    bool pattern = false;              // the framing test signal instead of music
};

// False with `error` set on a bad command line (the caller points at --help).
bool parseOptions(int argc, char** argv, Options& options, std::string& error);
// --help, the man page and the bash completion; the table is bound to `options`.
Manual manual(Options& options);

}  // namespace corvane
