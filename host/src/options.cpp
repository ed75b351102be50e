#include "options.h"

#include "command_line.h"

namespace {

bool parseSize(const std::string& s, int& w, int& h) {
    size_t x = s.find_first_of("xX");
    return x != std::string::npos && parseIntIn(s.substr(0, x), 64, 8192, w) &&
           parseIntIn(s.substr(x + 1), 64, 8192, h);
}

}  // namespace

const char* usageText() {
    return R"(Usage: lumenvortex [OPTIONS] [FILE|FOLDER ...]

Plays music and shows the Lumenvortex visualizer in a window. Files play in
the order given; a folder plays the audio files inside it (and its
subfolders) sorted by name. Anything FFmpeg reads plays: mp3, flac, ogg,
opus, m4a/aac, wav and more. Names, artists and albums come from the tags;
cover art from the file, else cover.jpg, cover.png or folder.jpg beside it.
Without files the built-in demo song "Lumen Drift" plays.

Playing:
  --loop               start the list again when it ends
  --no-audio           keep the sound device closed (the music runs silently)
  --fullscreen         start in full screen
  --size WxH           window size, and video size with --render
                       (default 1280x720)

Live sound:
  --capture [SOURCE]   show what the computer is playing, read from a
                       PulseAudio or PipeWire source; by default the monitor
                       of the default output
  --list-sources       list the sources --capture can read, and exit
  --source corvane[:PORT]
                       show the spectrum a Corvane server streams on this
                       computer (default port 7737); the server plays the
                       music, so give the files to corvane, not here

Rendering a video (no window, no sound device needed; runs as fast as the
machine draws, and the same input always gives the same frames; Ctrl+C
stops early and keeps a playable video of what was drawn):
  --render OUT.mp4     H.264 video with AAC sound (.mp4, .mkv or .mov)
  --frames DIR         numbered PNG frames instead (DIR/frame-000000.png ...),
                       with the sound in DIR/audio.wav
  --fps N              frames per second, 1 to 60 (default 60)
  --duration SECONDS   stop after this much of the music
  --crf N              video quality, 0 (lossless) to 51 (default 18)
  --preset NAME        x264 speed: ultrafast ... veryslow (default veryfast)

Other:
  --plugin PATH        the visualizer plug-in to load (default: Lumenvortex.so
                       beside this program, then $LUMENVORTEX_PLUGIN)
  --verbose            FFmpeg's messages and what the plug-in asks for
  -h, --help           this text
  --version            the version

Keys in the window:
  f, F11               full screen on and off
  space                pause and play
  n, Right             next track
  Esc, Ctrl+Q          quit
  the visualizer's own keys:
  m next mode, c mode change on new tracks on/off, p noise flow on/off,
  h next palette, a / s more / fewer particles, + / - input gain,
  r reset particles and gain, i show the track again, / help panel,
  q antialiasing on/off

Environment:
  LUMENVORTEX_PLUGIN   the plug-in file (or its folder) when none is beside
                       the program
  PULSE_SERVER         the sound server for --capture
  DISPLAY              the X display (Wayland desktops: through XWayland)
)";
}

bool parseOptions(int argc, char** argv, Options& o, std::string& error) {
    o = Options{};
    CommandLine args(argc, argv);
    while (args.next()) {
        const std::string& a = args.arg();
        const std::string& name = args.name();
        auto value = [&](std::string& out) { return args.value(out, error); };
        std::string v;
        if (args.isInput()) {
            o.inputs.push_back(a);
        } else if (a == "-h" || a == "--help") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (a == "--loop") {
            o.loop = true;
        } else if (a == "--no-audio") {
            o.noAudio = true;
        } else if (a == "--fullscreen") {
            o.fullscreen = true;
        } else if (a == "--verbose") {
            o.verbose = true;
        } else if (a == "--list-sources") {
            o.listSources = true;
        } else if (name == "--capture") {
            o.capture = true;
            o.captureSource = args.optionalValue();
        } else if (name == "--source") {
            if (!value(v)) return false;
            const std::string prefix = "corvane";
            int port = DEFAULT_CORVANE_PORT;
            bool ok = v.compare(0, prefix.size(), prefix) == 0 &&
                      (v.size() == prefix.size() ||
                       (v[prefix.size()] == ':' && parseIntIn(v.substr(prefix.size() + 1), 1, 65535, port)));
            if (!ok) {
                error = "--source takes corvane or corvane:PORT (a port from 1 to 65535), not \"" + v + "\"";
                return false;
            }
            o.corvanePort = port;
        } else if (name == "--size") {
            if (!value(v)) return false;
            if (!parseSize(v, o.width, o.height)) {
                error = "--size takes WIDTHxHEIGHT, each 64 to 8192 (like 1280x720), not \"" + v + "\"";
                return false;
            }
            o.sizeGiven = true;
        } else if (name == "--fps") {
            if (!value(v)) return false;
            // The plug-in starts a frame at most every 16 ms of its clock; asked
            // for more, its clock would run ahead of the video's.
            if (!parseIntIn(v, 1, 60, o.fps)) {
                error = "--fps takes a whole number from 1 to 60 (the visualizer draws at most 60 frames a second), "
                        "not \"" + v + "\"";
                return false;
            }
        } else if (name == "--duration") {
            if (!value(v)) return false;
            if (!parseNumberIn(v, 1e-3, 1e7, o.durationSeconds)) {
                error = "--duration takes a number of seconds above 0, not \"" + v + "\"";
                return false;
            }
        } else if (name == "--crf") {
            if (!value(v)) return false;
            if (!parseIntIn(v, 0, 51, o.crf)) {
                error = "--crf takes a whole number from 0 to 51, not \"" + v + "\"";
                return false;
            }
        } else if (name == "--preset") {
            if (!value(o.preset)) return false;
        } else if (name == "--render") {
            if (!value(o.renderPath)) return false;
        } else if (name == "--frames") {
            if (!value(o.framesDir)) return false;
        } else if (name == "--plugin") {
            if (!value(o.pluginPath)) return false;
        } else {
            error = "unknown option " + a;
            return false;
        }
    }
    if (o.capture && !o.inputs.empty()) {
        error = "--capture shows the sound the computer plays; it takes no files (a source name goes right after it)";
        return false;
    }
    if (o.corvanePort && (o.capture || !o.inputs.empty() || o.renders())) {
        error = "--source corvane shows what a running corvane server streams; the server plays the music, so "
                "give the files (or --capture) to corvane, and it cannot be combined with --render or --frames";
        return false;
    }
    if (o.capture && o.renders()) {
        error = "--capture shows live sound; it cannot be combined with --render or --frames";
        return false;
    }
    if (!o.renderPath.empty() && (o.width % 2 || o.height % 2)) {
        error = "--size must be even in both directions for an H.264 video (like 1280x720)";
        return false;
    }
    return true;
}
