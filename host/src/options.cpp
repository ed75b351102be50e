#include "options.h"


namespace {

bool parseSize(const std::string& s, int& w, int& h) {
    size_t x = s.find_first_of("xX");
    return x != std::string::npos && parseIntIn(s.substr(0, x), 64, 8192, w) &&
           parseIntIn(s.substr(x + 1), 64, 8192, h);
}

}  // namespace

const char* usageText() {
    static const std::string text = fillIn(R"(Usage: lumenvortex [OPTIONS] [FILE|FOLDER ...]

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
                       computer (default port {PORT}); the server plays the
                       music, so give the files to corvane, not here

Rendering a video (no window, no sound device needed; runs as fast as the
machine draws, and the same input always gives the same frames; Ctrl+C
stops early and keeps a playable video of what was drawn; a file already
named OUT is replaced only once a frame is drawn):
  --render OUT.mp4     H.264 video with AAC sound (.mp4, .mkv or .mov)
  --frames DIR         numbered PNG frames (DIR/frame-000000.png ...), with
                       the sound in DIR/audio.wav; given with --render, the
                       one render makes both
  --fps N              frames per second, 1 to 60 (default 60)
  --duration SECONDS   stop after this much of the music
  --crf N              video quality, 0 (lossless) to 51 (default 18)
  --preset NAME        x264 speed: ultrafast ... veryslow (default veryfast)
  A render plays the list once (--loop is left out). Off a terminal (a log,
  CI) its progress is a plain line about every 10 seconds.

Other:
  --plugin PATH        the visualizer plug-in to load (default: Lumenvortex.so
                       beside this program, then $LUMENVORTEX_PLUGIN)
  --verbose            FFmpeg's messages, what the plug-in asks for and, in a
                       window, the frame rate every 5 seconds
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

Options that do not go together: --capture takes no files; --source corvane
takes neither files nor --capture (the server plays the music: give them to
corvane); and a render draws files or the demo song, so --render and
--frames go with neither --capture nor --source corvane.

Exit status:
  0                    done
  1                    failed, said why (nothing could be played, say)
  2                    a mistake on the command line
  {NOT_ALL}                    a render finished, but files were skipped or stopped
                       before the end their header states; they are listed
                       at the end
  128+N                a render stopped by signal N (130 for Ctrl+C); what
                       was drawn is kept

Environment:
  LUMENVORTEX_PLUGIN   the plug-in file (or its folder) when none is beside
                       the program
  PULSE_SERVER         the sound server for --capture
  DISPLAY              the X display (Wayland desktops: through XWayland)
)",
                                           {{"PORT", std::to_string(DEFAULT_CORVANE_PORT)},
                                            {"NOT_ALL", std::to_string(EXIT_NOT_ALL_PLAYED)}});
    return text.c_str();
}

namespace {

std::vector<OptionRule> optionTable(Options& o) {
    std::vector<OptionRule> table = commonOptionRules(o);
    using Takes = OptionRule::Takes;
    auto source = [&o](const std::string& v) {
        const std::string prefix = "corvane";
        int port = DEFAULT_CORVANE_PORT;
        bool ok = v.compare(0, prefix.size(), prefix) == 0 &&
                  (v.size() == prefix.size() ||
                   (v[prefix.size()] == ':' && parseIntIn(v.substr(prefix.size() + 1), 1, 65535, port)));
        if (ok) o.corvanePort = port;
        return ok;
    };
    auto size = [&o](const std::string& v) { return o.sizeGiven = parseSize(v, o.width, o.height); };
    table.insert(table.end(), {
        flagOption("--no-audio", o.noAudio),
        flagOption("--fullscreen", o.fullscreen),
        {"--source", "", Takes::VALUE, source, "corvane or corvane:PORT (a port from 1 to 65535)"},
        {"--size", "", Takes::VALUE, size, "WIDTHxHEIGHT, each 64 to 8192 (like 1280x720)"},
        // The plug-in starts a frame at most every 16 ms of its clock; asked
        // for more, its clock would run ahead of the video's.
        intOption("--fps", 1, 60, o.fps,
                  "a whole number from 1 to 60 (the visualizer draws at most 60 frames a second)"),
        numberOption("--duration", 1e-3, 1e7, o.durationSeconds, "a number of seconds above 0"),
        intOption("--crf", 0, 51, o.crf, "a whole number from 0 to 51"),
        textOption("--preset", o.preset),
        textOption("--render", o.renderPath),
        textOption("--frames", o.framesDir),
        textOption("--plugin", o.pluginPath),
    });
    return table;
}

}  // namespace

bool parseOptions(int argc, char** argv, Options& o, std::string& error) {
    o = Options{};
    if (!readCommandLine(argc, argv, optionTable(o), o.inputs, error)) return false;
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
