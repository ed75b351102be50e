#include "options.h"

#include "plugin_host.h"

namespace {

bool parseSize(const std::string& s, int& w, int& h) {
    size_t x = s.find_first_of("xX");
    return x != std::string::npos && parseIntIn(s.substr(0, x), 64, 8192, w) &&
           parseIntIn(s.substr(x + 1), 64, 8192, h);
}

constexpr char kRenderSection[] = "Rendering a video";

std::vector<OptionRule> optionTable(Options& o) {
    std::vector<OptionRule> table = commonOptionRules(o);
    using Takes = OptionRule::Takes;
    using Completes = OptionRule::Completes;
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
    auto renderer = [&o](const std::string& v) {
        o.renderer = v;
        return v == "reference" || v == "batched" || v == "gles";
    };
    optionRow(table, "--capture").help =
        "show what the computer is playing, read from a PulseAudio or PipeWire source; by default the monitor of the "
        "default output, following it when another output is chosen. The track shown is what a music player on the "
        "desktop says it plays (MPRIS on the session D-Bus): title, artist, album and a cover from a local file "
        "(http(s) covers are not downloaded); without one, the source's name";
    optionRow(table, "--verbose").help =
        "FFmpeg's messages, what the plug-in asks for and, in a window, the frame rate every 5 seconds";
    table.insert(table.end(), {
        flagOption("--mute", o.noAudio, "--no-audio")
            .doc(kPlayingSection, "keep the sound device closed (the music runs silently; corvane's word too)"),
        flagOption("--fullscreen", o.fullscreen).doc(kPlayingSection, "start in full screen"),
        OptionRule{"--size", "", Takes::VALUE, size, "WIDTHxHEIGHT, each 64 to 8192 (like 1280x720)"}
            .doc(kPlayingSection, "WxH", "window size, and video size with --render (default 1280x720)"),
        OptionRule{"--source", "", Takes::VALUE, source, "corvane or corvane:PORT (a port from 1 to 65535)"}
            .doc(kLiveSection, "corvane[:PORT]",
                 "show the spectrum a Corvane server streams on this computer (default port " +
                     std::to_string(DEFAULT_CORVANE_PORT) +
                     "); the server plays the music, so give the files to corvane, not here")
            .completeWith(Completes::WORDS, {"corvane"}),
        intOption("--delay", 0, MAX_CAPTURE_DELAY_MS, o.delayMs,
                  "a whole number of milliseconds from 0 to " + std::to_string(MAX_CAPTURE_DELAY_MS))
            .doc(kLiveSection, "MS",
                 "with --capture, hold the picture back MS milliseconds (0 to " + std::to_string(MAX_CAPTURE_DELAY_MS) +
                     ") for outputs that add latency the sound server does not know of (Bluetooth, a TV)"),
        textOption("--render", o.renderPath)
            .doc(kRenderSection, "OUT.mp4", "H.264 video with AAC sound (.mp4, .mkv or .mov)")
            .completeWith(Completes::FILE),
        textOption("--frames", o.framesDir)
            .doc(kRenderSection, "DIR",
                 "numbered PNG frames (DIR/frame-000000.png ...), with the sound in DIR/audio.wav; given with "
                 "--render, the one render makes both")
            .completeWith(Completes::FOLDER),
        // The plug-in starts a frame at most every 16 ms of its clock; asked
        // for more, its clock would run ahead of the video's.
        intOption("--fps", 1, 60, o.fps,
                  "a whole number from 1 to 60 (the visualizer draws at most 60 frames a second)")
            .doc(kRenderSection, "N", "frames per second, 1 to 60 (default 60)"),
        numberOption("--duration", 1e-3, 1e7, o.durationSeconds,
                     "a number of seconds from 0.001 to 10000000 (like 30 or 2.5)")
            .doc(kRenderSection, "SECONDS", "stop after this much of the music"),
        intOption("--crf", 0, 51, o.crf, "a whole number from 0 to 51")
            .doc(kRenderSection, "N", "video quality, 0 (lossless) to 51 (default 18)"),
        textOption("--preset", o.preset)
            .doc(kRenderSection, "NAME", "x264 speed: ultrafast ... veryslow (default veryfast)")
            .completeWith(Completes::WORDS, {"ultrafast", "superfast", "veryfast", "faster", "fast", "medium", "slow",
                                             "slower", "veryslow", "placebo"}),
        OptionRule{"--renderer", "", Takes::VALUE, renderer, "reference, batched or gles"}
            .doc(kOtherSection, "NAME",
                 "how the picture is drawn: batched (the default), reference (the literal fixed-function drawing) "
                 "or gles (shaders on OpenGL ES 3)")
            .completeWith(Completes::WORDS, {"reference", "batched", "gles"}),
        textOption("--plugin", o.pluginPath)
            .doc(kOtherSection, "PATH",
                 "the visualizer plug-in to load (default: the one installed with this program, else Lumenvortex.so "
                 "beside it, then $LUMENVORTEX_PLUGIN)")
            .completeWith(Completes::FILE),
    });
    return table;
}

}  // namespace

Manual playerManual(Options& o) {
    Manual m;
    m.program = "lumenvortex";
    m.summary = "music visualizer: plays music and draws it, in a window or into a video";
    m.synopsis = "[OPTIONS] [FILE|FOLDER ...]";
    m.description =
        "Plays music and shows the Lumenvortex visualizer in a window. Files play in the order given; a folder plays "
        "the audio files inside it (and its subfolders) sorted by name. Anything FFmpeg reads plays: mp3, flac, ogg, "
        "opus, m4a/aac, wav and more. Names, artists and albums come from the tags; cover art from the file, else "
        "cover.jpg, cover.png or folder.jpg beside it. Without files the built-in demo song \"Lumen Drift\" plays.";
    m.sections = {
        {kPlayingSection, ""},
        {kLiveSection, ""},
        {kRenderSection,
         "A render needs no window and no sound device; it runs as fast as the machine draws, and the same input "
         "always gives the same frames; Ctrl+C stops early and keeps a playable video of what was drawn; a file "
         "already named OUT is replaced only once a frame is drawn. A render plays the list once (--loop is left "
         "out). Off a terminal (a log, CI) its progress is a plain line about every 10 seconds."},
        {kOtherSection, ""},
    };
    m.options = optionTable(o);
    m.topics = {
        {"Keys in the window", "",
         {{"f, F11", "full screen on and off"},
          {"space", "pause and play"},
          {"n, Right", "next track"},
          {"Esc, Ctrl+Q", "quit"},
          {"m", "next mode"},
          {"c", "mode change on new tracks on and off"},
          {"p", "noise flow on and off"},
          {"h", "next palette"},
          {"a, s", "more, fewer particles"},
          {"+, -", "more, less input gain"},
          {"r", "reset particles and gain"},
          {"i", "show the track again"},
          {"/", "help panel"},
          {"q", "antialiasing on and off"}}},
        {"Options that do not go together",
         "--capture takes no files; --source corvane takes neither files nor --capture (the server plays the music: "
         "give them to corvane); and a render draws files or the demo song, so --render and --frames go with neither "
         "--capture nor --source corvane.",
         {}},
        {kExitStatusTopic, "",
         {{"0", "done"},
          {"1", "failed, said why (nothing could be played, say)"},
          {"2", "a mistake on the command line"},
          {std::to_string(EXIT_NOT_ALL_PLAYED),
           "a render finished, but files were skipped or stopped before the end their header states; they are "
           "listed at the end"},
          {"128+N", "a render stopped by signal N (130 for Ctrl+C); what was drawn is kept"}}},
        {kEnvironmentTopic, "",
         {{"LUMENVORTEX_PLUGIN", "the plug-in file (or its folder) when none is found with the program"},
          {"PULSE_SERVER", "the sound server for --capture"},
          {"DISPLAY", "the X display (Wayland desktops: through XWayland)"}}},
        {kFilesTopic, "",
         {{"FILE, FOLDER", "the music given, and in a folder its audio files"},
          {"cover.jpg, cover.png, folder.jpg", "a track's cover art when its file has none, beside the file"},
          {"Gillius ADF, Noto Color Emoji",
           "the fonts the track names are drawn in, found through fontconfig (fonts-adf-gillius, "
           "fonts-noto-color-emoji); others stand in when they are missing"},
          {std::string(kInstalledPluginFolder) + "/Lumenvortex.so",
           "the visualizer plug-in, from the folder this program is in; else Lumenvortex.so beside the program"}}},
        {"See also", "corvane(1)", {}},
    };
    return m;
}

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
    if ((o.delayMs || !o.player.empty()) && !o.capture) {
        error = o.delayMs ? "--delay holds the picture back against live sound; it goes with --capture (a file "
                            "plays in exact sync)"
                          : "--player names the desktop player whose track --capture shows; it goes with --capture";
        return false;
    }
    if (!o.renderPath.empty() && (o.width % 2 || o.height % 2)) {
        error = "--size must be even in both directions for an H.264 video (like 1280x720)";
        return false;
    }
    return true;
}
