#include "options.h"


namespace corvane {

namespace {

constexpr char kServingSection[] = "Serving";

std::vector<OptionRule> optionTable(Options& o) {
    std::vector<OptionRule> table = commonOptionRules(o);
    optionRow(table, "--capture").help =
        "the spectrum of what the computer is playing, read from a PulseAudio or PipeWire source; by default the "
        "monitor of the default output, following it when another output is chosen. The track line names what a "
        "music player on the desktop says it plays (MPRIS on the session D-Bus; by default the one playing, of "
        "several the one that started last), else the source";
    table.insert(table.end(), {
        intOption("--port", 0, 65535, o.port, "a port number from 1 to 65535 (or 0 for any free one)")
            .doc(kServingSection, "N",
                 "the TCP port on 127.0.0.1 (default " + std::to_string(DEFAULT_CORVANE_PORT) +
                     "); 0 picks a free one. The port is printed on start: \"corvane: listening on "
                     "127.0.0.1:PORT\""),
        numberOption("--rate", 1.0, 1000.0, o.rate, "frames a second from 1 to 1000 (like 60)")
            .doc(kServingSection, "HZ", "frames a second to every client (default 60)"),
        flagOption("--mute", o.mute, "--no-audio")
            .doc(kPlayingSection, "keep the sound device closed; the music still runs at its real pace (the player's word too)"),
        flagOption("--pattern", o.pattern)
            .doc(kOtherSection,
                 "a framing test signal instead of music: every byte of frame k is k mod 256 (k counts the frames "
                 "sent since start), so a client can check that it cuts the stream at frame boundaries and see "
                 "which frames it missed"),
    });
    return table;
}

}  // namespace

Manual manual(Options& o) {
    Manual m;
    m.program = "corvane";
    m.summary = "spectrum server: plays music and streams its spectrum to visualizers";
    m.synopsis = "[OPTIONS] [FILE|FOLDER ...]";
    m.description = fillIn(
        "The Corvane spectrum server. Plays music and streams its spectrum to every visualizer that connects to it "
        "over TCP on 127.0.0.1 (this machine only).\n\n"
        "Each frame is {FRAME} bytes with no header: {BINS} bytes of the left channel's spectrum, then {BINS} of the "
        "right, one byte (0-255) per frequency bin, bin 0 first, bins {BIN_HZ} Hz apart. Frames follow one another "
        "on the connection; a client finds them by counting bytes from the start. A client that stops reading has "
        "whole frames dropped for it, never parts of one, and never holds up the others.\n\n"
        "What plays goes out beside the frames, on the next port (the frame port + 1): its title, artist and album "
        "as one line of UTF-8 JSON when a client connects, and again at every track change.\n\n"
        "Files play in the order given; a folder plays the audio files inside it (and its subfolders) sorted by "
        "name; files that cannot be played are skipped. Anything FFmpeg reads plays: mp3, flac, ogg, opus, m4a/aac, "
        "wav and more. Without files the built-in demo song \"Lumen Drift\" plays, over and over. corvane exits "
        "when the music is over (unless --loop), or on Ctrl+C.",
        {{"FRAME", std::to_string(2 * SPECTRUM_BINS)},
         {"BINS", std::to_string(SPECTRUM_BINS)},
         {"BIN_HZ", std::to_string(SAMPLE_RATE / WINDOW_FRAMES)}});
    m.sections = {{kServingSection, ""}, {kPlayingSection, ""}, {kLiveSection, ""}, {kOtherSection, ""}};
    m.options = optionTable(o);
    m.topics = {
        {"Watching it",
         "Run the player with the network source, e.g.\n  corvane song.mp3 &\n  lumenvortex --source corvane",
         {}},
        {kExitStatusTopic, "",
         {{"0", "the music is over, or stopped by Ctrl+C or SIGTERM"},
          {"1", "failed, said why (the port is taken, nothing could be played, say)"},
          {"2", "a mistake on the command line"}}},
        {kEnvironmentTopic, "", {{"PULSE_SERVER", "the sound server for --capture"}}},
        {kFilesTopic, "", {{"FILE, FOLDER", "the music given, and in a folder its audio files"}}},
        {"See also", "lumenvortex(1)", {}},
    };
    return m;
}

bool parseOptions(int argc, char** argv, Options& o, std::string& error) {
    o = Options{};
    if (!readCommandLine(argc, argv, optionTable(o), o.inputs, error)) return false;
    if (o.capture && !o.inputs.empty()) {
        error = "--capture serves the sound the computer plays; it takes no files (a source name goes right after it)";
        return false;
    }
    if (!o.player.empty() && !o.capture) {
        error = "--player names the music player whose track --capture serves; it goes with --capture";
        return false;
    }
    if (o.pattern && (o.capture || !o.inputs.empty())) {
        error = "--pattern sends the test signal alone; leave out --capture and the files";
        return false;
    }
    return true;
}

}  // namespace corvane
