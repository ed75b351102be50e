// The player's command line.
#pragma once

#include <string>
#include <vector>

#include "audio_constants.h"
#include "command_line.h"
#include "manual.h"

// The exit status of a render that finished, but with files that were
// skipped or stopped short (1 is a failure, 2 a bad command line).
constexpr int EXIT_NOT_ALL_PLAYED = 3;
// The longest --delay: Bluetooth and TV outputs stay well within it.
constexpr int MAX_CAPTURE_DELAY_MS = 2000;

struct Options : CommonOptions {
    int corvanePort = 0;               // --source corvane[:PORT]: spectrum from a Corvane server
    std::string renderPath;            // --render OUT.mp4
    std::string framesDir;             // --frames DIR
    std::string format = "mp4";        // --format: the container of a --render folder's videos
    bool force = false;                // --force: clear the frames of an earlier render in DIR, replace the
                                       // videos of a --render folder
    int width = 1280;
    int height = 720;
    bool sizeGiven = false;
    int fps = 60;
    double durationSeconds = -1.0;     // --duration: render at most this much
    double highlightSeconds = -1.0;    // --highlight: the loudest stretch of each track, or -1
    int crf = 18;
    std::string preset = "veryfast";
    bool noAudio = false;              // --mute (the old --no-audio too)
    bool fullscreen = false;
    std::string pluginPath;
    int delayMs = 0;                   // --delay: the picture held back against captured sound
    std::string renderer;              // --renderer: empty for the plug-in's default
    long background = -1;              // --background #RRGGBB, -1 for the palette's
    std::string backgroundImage;       // --background IMAGE
    bool backgroundCover = false;      // --background cover
    bool transparent = false;          // --transparent: the light alone, with alpha
    std::string streamUrl;             // --stream URL: live to an RTMP or SRT server (the key as given)
    std::string streamKeyFile;         // --stream-key-file FILE
    int streamKbps = 4500;             // --bitrate: the stream's bound
    bool streamCrf = false;            // --crf given with --stream: constant quality within the bound
    std::vector<std::string> warnings;   // options given that do nothing in the mode chosen
    std::string segment;               // --segment as given: K/N, N or auto
    int segmentIndex = 0;              // --segment K/N: part K (from 1) of N; 0: the whole render
    int segmentCount = 0;
    bool join = false;                 // --join OUT PARTS...: the inputs are the video and the parts

    bool renders() const { return !renderPath.empty() || !framesDir.empty(); }
    bool streams() const { return !streamUrl.empty(); }
};

// False with `error` set on a bad command line (the caller points at --help).
bool parseOptions(int argc, char** argv, Options& options, std::string& error);
// --help, the man page and the bash completion; the table is bound to `options`.
Manual playerManual(Options& options);
