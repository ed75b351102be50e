#include "options.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <filesystem>

#include "highlight.h"
#include "lv/video_out.h"
#include "plugin_host.h"
#include "segments.h"
#include "sink_thread.h"
#include "stream.h"
#include "track_files.h"

namespace {

// The sizes people deliver music videos in, by the names they know them by:
// video sites' 16:9 steps, and the phone and feed formats.
struct SizePreset {
    const char* name;
    int width, height;
};
constexpr SizePreset kSizePresets[] = {
    {"720p", 1280, 720},     {"1080p", 1920, 1080},  {"1440p", 2560, 1440},   {"4k", 3840, 2160},
    {"vertical", 1080, 1920}, {"square", 1080, 1080}, {"portrait", 1080, 1350},
};

std::vector<std::string> sizePresetNames() {
    std::vector<std::string> names;
    for (const SizePreset& p : kSizePresets) names.push_back(p.name);
    return names;
}

bool parseSize(const std::string& s, int& w, int& h) {
    for (const SizePreset& p : kSizePresets) {
        if (strcasecmp(s.c_str(), p.name) == 0) {
            w = p.width;
            h = p.height;
            return true;
        }
    }
    size_t x = s.find_first_of("xX");
    return x != std::string::npos && parseIntIn(s.substr(0, x), 64, 8192, w) &&
           parseIntIn(s.substr(x + 1), 64, 8192, h);
}

// A file or folder name: "" is refused, not taken for "none given".
OptionRule pathOption(const std::string& name, std::string& target, const std::string& wants) {
    return {name, "", OptionRule::Takes::VALUE, [&target](const std::string& v) {
                target = v;
                return !v.empty();
            },
            wants};
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& w : words) text += (text.empty() ? "" : ", ") + w;
    return text;
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
    auto background = [&o](const std::string& v) {
        o.background = -1, o.backgroundImage.clear(), o.backgroundCover = false;
        if (v == "cover") return o.backgroundCover = true;
        if (v.empty() || v[0] != '#') {
            // A name that is no file is a mistake on the command line (a
            // colour's name, say); a file that is no picture is found later.
            std::error_code ec;
            o.backgroundImage = v;
            return !v.empty() && std::filesystem::exists(v, ec);
        }
        const bool hex = v.size() == 7 &&
                         std::all_of(v.begin() + 1, v.end(), [](unsigned char c) { return std::isxdigit(c); });
        if (hex) o.background = std::stol(v.substr(1), nullptr, 16);
        return hex;
    };
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
        OptionRule{"--size", "", Takes::VALUE, size,
                   "WIDTHxHEIGHT, each 64 to 8192 (like 1280x720), or one of " + joined(sizePresetNames())}
            .doc(kPlayingSection, "WxH|NAME",
                 "window size, and video size with --render (default 1280x720); or by name: 720p, 1080p, 1440p, "
                 "4k (3840x2160), vertical (1080x1920, for phones' short videos: the field keeps its width and the "
                 "track's name stays clear of the apps' buttons), square (1080x1080), portrait (1080x1350)")
            .completeWith(Completes::WORDS, sizePresetNames()),
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
        pathOption("--render", o.renderPath, "a file name for the video (like out.mp4)")
            .doc(kRenderSection, "OUT.mp4|DIR/",
                 "H.264 video with AAC sound (.mp4, .mkv or .mov), or VP9 with Opus (.webm). A folder (a name "
                 "ending in /, or a folder that is there) gets a video a track, \"NN Artist - Title.mp4\" (the file's "
                 "name for a track without tags; characters some file systems refuse become _), each tagged with its "
                 "track and cover; the scene runs on from track to track, so the videos played in turn are the whole "
                 "render. Videos already there are refused before anything is drawn (exit 2) unless --force")
            .completeWith(Completes::FILE),
        OptionRule{"--format", "", Takes::VALUE,
                   [&o](const std::string& v) {
                       o.format = v;
                       return std::find(trackFormats().begin(), trackFormats().end(), v) != trackFormats().end();
                   },
                   "mp4, mkv, webm or mov"}
            .doc(kRenderSection, "EXT",
                 "the container of a --render folder's videos: mp4 (the default), mkv, webm or mov (with "
                 "--transparent: webm or mov)")
            .completeWith(Completes::WORDS, trackFormats()),
        flagOption("--transparent", o.transparent)
            .doc(kRenderSection,
                 "leave the background out: the light alone, with alpha (straight, not premultiplied), for "
                 "compositing in an editor or OBS. A .webm video is VP9 with alpha and Opus sound, a .mov video "
                 "ProRes 4444 with AAC, --frames RGBA PNGs; .mp4 and .mkv (H.264) have no alpha. Laid over black "
                 "with normal blending it is the picture on a black background; over footage use normal blending, "
                 "or screen/add blending of an opaque render with --background '#000000'"),
        pathOption("--frames", o.framesDir, "a folder name for the frames")
            .doc(kRenderSection, "DIR",
                 "numbered PNG frames (DIR/frame-000000.png ...), with the sound in DIR/audio.wav; given with "
                 "--render, the one render makes both")
            .completeWith(Completes::FOLDER),
        flagOption("--force", o.force)
            .doc(kRenderSection,
                 "with --frames, first clear the frames an earlier render left in DIR (without it such a folder is "
                 "refused: old frames after the new ones would play as part of the video); with a --render folder, "
                 "replace the videos of the tracks that are there already"),
        // The plug-in starts a frame at most every 16 ms of its clock; asked
        // for more, its clock would run ahead of the video's.
        intOption("--fps", 1, 60, o.fps,
                  "a whole number from 1 to 60 (the visualizer draws at most 60 frames a second)")
            .doc(kRenderSection, "N", "frames per second, 1 to 60 (default 60)"),
        numberOption("--duration", 1e-3, 1e7, o.durationSeconds,
                     "a number of seconds from 0.001 to 10000000 (like 30 or 2.5)")
            .doc(kRenderSection, "SECONDS", "stop after this much of the music"),
        numberOption("--highlight", kHighlightMinSeconds, kHighlightMaxSeconds, o.highlightSeconds,
                     "a number of seconds from 5 to 180 (like 30)")
            .doc(kRenderSection, "SECONDS",
                 "only the loudest SECONDS of each track (5 to 180), by short-term loudness (EBU R128), starting on "
                 "a beat and faded in and out; the field is warmed up on the music before it. A video holds the "
                 "tracks' highlights one after another, a teaser with a chapter each; a track shorter than SECONDS "
                 "plays whole"),
        intOption("--crf", 0, 51, o.crf, "a whole number from 0 to 51")
            .doc(kRenderSection, "N", "video quality, 0 (lossless) to 51 (default 18)"),
        OptionRule{"--preset", "", Takes::VALUE,
                   [&o](const std::string& v) {
                       o.preset = v;
                       const std::vector<std::string>& names = lv::x264Presets();
                       return std::find(names.begin(), names.end(), v) != names.end();
                   },
                   "one of x264's presets (" + joined(lv::x264Presets()) + ")"}
            .doc(kRenderSection, "NAME", "x264 speed: ultrafast ... veryslow (default veryfast)")
            .completeWith(Completes::WORDS, lv::x264Presets()),
        OptionRule{"--renderer", "", Takes::VALUE, renderer, "reference, batched or gles"}
            .doc(kOtherSection, "NAME",
                 "how the picture is drawn: batched (the default; where GL draws on the CPU, as Mesa's llvmpipe does "
                 "without a GPU, the glows and ribbons are drawn by the visualizer itself, twice as fast: "
                 "LV_LIGHT_LAYER=0 leaves them to GL), reference (the literal fixed-function drawing) "
                 "or gles (shaders on OpenGL ES 3)")
            .completeWith(Completes::WORDS, {"reference", "batched", "gles"}),
        OptionRule{"--background", "", Takes::VALUE, background,
                   "a colour as #RRGGBB (like '#102040'), a JPEG or PNG file, or cover"}
            .doc(kPlayingSection, "#RRGGBB|IMAGE|cover",
                 "behind the field in place of the palette's slowly changing colour: one colour (quote it in a "
                 "shell: '#000000'), a JPEG or PNG picture scaled to cover the frame, or cover: each track's cover "
                 "art, blurred and dimmed (tracks without one keep the palette's colour)")
            .completeWith(Completes::FILE),
        OptionRule{"--segment", "", Takes::VALUE,
                   [&o](const std::string& v) {
                       o.segment = v;
                       return !v.empty();
                   },
                   "K/N (like 2/8), N or auto"}
            .doc(kRenderSection, "K/N|N|auto",
                 "render only part K of N equal parts of the render's frames, for a long render spread over cores or "
                 "machines (docs/rendering-at-scale.md); the scene is stepped to the part's first frame without "
                 "drawing, so its frames are the whole render's, and a part whose video is there already, made from "
                 "the same music and options, is not drawn again. N alone takes K from a job array "
                 "(SLURM_ARRAY_TASK_ID, else Kubernetes' JOB_COMPLETION_INDEX + 1); auto takes both from a Slurm "
                 "array. K/N given wins over the environment"),
        flagOption("--join", o.join)
            .doc(kRenderSection,
                 "lumenvortex --join OUT PART1 PART2 ...: the parts' videos (--segment) as one, without encoding the "
                 "picture again, with the whole render's sound, tags, cover and chapters. Parts missing, repeated, "
                 "out of order or of another render are refused (exit 2), and OUT is left as it was"),
        pathOption("--plugin", o.pluginPath, "the plug-in's file or folder")
            .doc(kOtherSection, "PATH",
                 "the visualizer plug-in to load (default: the one installed with this program, else Lumenvortex.so "
                 "beside it, then $LUMENVORTEX_PLUGIN)")
            .completeWith(Completes::FILE),
    });
    for (OptionRule& rule : streamOptionRules(o)) table.push_back(std::move(rule));
    return table;
}

// Options given that do nothing in the mode chosen: a line each, and the
// run goes on without them.
std::vector<std::string> idleOptions(const Options& o, const std::map<std::string, std::string>& given) {
    const bool window = !o.renders() && !o.streams(), folder = isFolderOutput(o.renderPath);
    const bool video = !o.renderPath.empty() || o.streams();
    const bool ownMusic = !o.capture && !o.corvanePort;
    const std::string mode = o.streams()          ? "with --stream"
                             : video              ? "with --render"
                             : o.renders()        ? "with --frames alone"
                             : o.capture          ? "with --capture"
                             : o.corvanePort      ? "with --source corvane"
                                                  : "in a window";
    const struct {
        const char* option;
        bool idle;
        const char* why;
    } rules[] = {
        {"--duration", window, "only a render (--render, --frames) stops early"},
        {"--highlight", window, "only a render (--render, --frames) picks a stretch of each track"},
        {"--highlight", !window && o.inputs.empty(), "the built-in demo song plays whole"},
        {"--fps", window, "only a render (--render, --frames) has a frame rate to choose"},
        {"--crf", !video, "only a --render video is encoded"},
        {"--transparent", window, "only a render (--render, --frames) has a background to leave out"},
        {"--preset", !video, "only a --render video is encoded"},
        {"--fullscreen", !window, "a render opens no window"},
        {"--mute", !window, "a render opens no sound device (the video keeps the sound)"},
        {"--mute", window && !ownMusic, "the player plays no sound of its own there"},
        {"--loop", o.renders(), "a render plays the list once"},
        {"--force", o.framesDir.empty() && !folder,
         "only --frames or a --render folder (DIR/) has earlier files to replace"},
        {"--format", !folder, "only a --render folder (DIR/) makes a file a track"},
        {"--loop", window && !ownMusic, "there is no list of the player's own to start again"},
    };
    std::vector<std::string> lines;
    for (const auto& r : rules) {
        const auto typed = given.find(r.option);   // named as the user wrote it: an alias, maybe
        if (r.idle && typed != given.end()) lines.push_back(typed->second + " does nothing " + mode + ": " + r.why);
    }
    return lines;
}

// The outputs of a render against each other and against what is on disk,
// before anything is drawn.
bool checkRenderOutputs(const Options& o, std::string& error) {
    namespace fs = std::filesystem;
    if (o.framesDir.empty()) return true;
    // Through links and "..", and whether there yet or not.
    auto resolved = [](const std::string& path) {
        std::error_code ec;
        fs::path p = fs::weakly_canonical(path, ec);
        if (!p.empty() && p.filename().empty()) p = p.parent_path();   // "DIR/"
        return ec ? fs::path() : p;
    };
    if (!o.renderPath.empty() && !resolved(o.renderPath).empty() &&
        resolved(o.renderPath) == resolved(o.framesDir)) {
        error = "--render and --frames both name " + o.renderPath +
                ": give the video and the frames' folder names of their own";
        return false;
    }
    if (o.force) return true;
    std::error_code ec;
    for (fs::directory_iterator e(o.framesDir, ec), end; !ec && e != end; e.increment(ec))
        if (e->is_regular_file(ec) && isFrameFileName(e->path().filename().string())) {
            error = "--frames " + o.framesDir +
                    " holds the frames of an earlier render: add --force to clear them, or name another folder";
            return false;
        }
    return true;
}

// --segment and --join: what they go with, and K and N from the job's
// environment.
bool checkSegmentOptions(Options& o, std::string& error) {
    if (o.join && (o.renders() || !o.segment.empty() || o.capture || o.corvanePort)) {
        error = "--join puts rendered parts together: it takes the video to write and the parts, and no other mode";
        return false;
    }
    if (o.segment.empty()) return true;
    if (!o.renders() || isFolderOutput(o.renderPath)) {
        error = "--segment renders a part of one video: give it with --render OUT.mp4 (one file) or --frames DIR";
        return false;
    }
    return parseSegment(o.segment, o.segmentIndex, o.segmentCount, error);
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
         "always gives the same frames; Ctrl+C, SIGTERM or a closed terminal (SIGHUP) stops it early and keeps a "
         "playable video of what was drawn. A file already named OUT is replaced only by a video that holds a frame "
         "and was written whole: a render that fails (a full disk, say) removes its unfinished video and leaves OUT "
         "as it was, and one that cannot write its messages (a closed pipe) goes on. A render plays the list once "
         "(--loop is left out). Off a terminal (a log, CI) its progress is a plain line about every 10 seconds; the "
         "closing line that names what was written goes to standard output, and a render that cannot write it "
         "exits 1."},
        {kStreamSection, kStreamSectionNote},
        {kOtherSection, ""},
    };
    m.options = optionTable(o);
    m.topics = {
        {"Keys in the window", "Letters work in either case.",
         {{"f, F11", "full screen on and off"},
          {"space", "pause and play (the title starts with a pause sign)"},
          {"n, Right", "next track (on the last one, nothing)"},
          {"Esc, Ctrl+Q", "quit"},
          {"m", "next mode"},
          {"c", "mode change on new tracks on and off"},
          {"p", "noise flow on and off"},
          {"h", "next palette"},
          {"a, s", "more, fewer particles"},
          {"+, =", "more input gain"},
          {"-", "less input gain"},
          {"r", "particles and gain back as they were"},
          {"i", "show the track's name again"},
          {"/, ?", "help panel on and off"},
          {"q", "antialiasing on and off"}}},
        {"Options that do not go together",
         "--capture takes no files; --source corvane takes neither files nor --capture (the server plays the music: "
         "give them to corvane); and a render draws files or the demo song, so --render and --frames go with neither "
         "--capture nor --source corvane. --stream goes with files or --capture, and with neither a render, --source corvane, "
         "--transparent (H.264 has no alpha) nor --highlight.",
         {}},
        {kExitStatusTopic, "",
         {{"0", "done"},
          {"1", "failed, said why (nothing could be played, say)"},
          {"2", "a mistake on the command line"},
          {std::to_string(EXIT_NOT_ALL_PLAYED),
           "a render finished, but files were skipped or stopped before the end their header states; they are "
           "listed at the end"},
          {"128+N", "a render stopped by signal N (130 for Ctrl+C, 129 for a closed terminal); what was drawn is "
                    "kept"}}},
        {kEnvironmentTopic, "",
         {{"LUMENVORTEX_PLUGIN", "the plug-in file (or its folder) when none is found with the program"},
          {"PULSE_SERVER", "the sound server for --capture"},
          {"DISPLAY", "the X display (Wayland desktops: through XWayland)"},
          {"SLURM_ARRAY_TASK_ID, SLURM_ARRAY_TASK_MIN, SLURM_ARRAY_TASK_COUNT",
           "a Slurm job array's task: K (and with --segment auto, N) of --segment"},
          {"JOB_COMPLETION_INDEX", "a Kubernetes Indexed Job's index from 0: K - 1 of --segment N, when no Slurm "
                                   "task is set"}}},
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
    std::map<std::string, std::string> given;
    if (!readCommandLine(argc, argv, optionTable(o), o.inputs, error, &given)) return false;
    std::error_code ignored;
    if (o.capture && !o.captureSource.empty() && std::filesystem::exists(o.captureSource, ignored)) {
        error = "--capture takes no files (a name after it is a sound source: --list-sources lists them); to play " +
                o.captureSource + ", leave out --capture";
        return false;
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
    if (o.transparent && (o.background >= 0 || o.backgroundCover || !o.backgroundImage.empty())) {
        error = "--transparent leaves the background out, --background puts one in: give one or the other";
        return false;
    }
    lv::VideoOptions video;
    video.width = o.width, video.height = o.height, video.fps = o.fps, video.crf = o.crf, video.preset = o.preset;
    video.alpha = o.transparent;
    if (isFolderOutput(o.renderPath) && o.transparent && (o.format == "mp4" || o.format == "mkv")) {
        error = "--render " + o.renderPath + " with --transparent: " + o.format +
                " videos (H.264) have no room for transparency: add --format webm (VP9 with alpha) or --format mov "
                "(ProRes 4444)";
        return false;
    }
    const std::string videoPath = isFolderOutput(o.renderPath)
                                      ? (std::filesystem::path(o.renderPath) / ("track." + o.format)).string()
                                      : o.renderPath;
    if (!o.renderPath.empty() && !lv::checkVideoSettings(videoPath, video, error)) {
        error = "--render " + o.renderPath + ": " + error;
        return false;
    }
    if (!checkRenderOutputs(o, error) || !checkSegmentOptions(o, error)) return false;
    if (!checkStreamOptions(o, given, error)) return false;
    o.warnings = idleOptions(o, given);
    return true;
}
