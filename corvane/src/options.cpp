#include "options.h"


namespace corvane {

const char* usageText() {
    static const std::string text = fillIn(R"(Usage: corvane [OPTIONS] [FILE|FOLDER ...]

The Corvane spectrum server. Plays music and streams its spectrum to every
visualizer that connects to it over TCP on 127.0.0.1 (this machine only).

Each frame is {FRAME} bytes with no header: {BINS} bytes of the left channel's
spectrum, then {BINS} of the right, one byte (0-255) per frequency bin, bin 0
first, bins {BIN_HZ} Hz apart. Frames follow one another on the connection; a
client finds them by counting bytes from the start. A client that stops
reading has whole frames dropped for it, never parts of one, and never holds
up the others.

What plays goes out beside the frames, on the next port (the frame port + 1):
its title, artist and album as one line of UTF-8 JSON when a client connects,
and again at every track change.

Files play in the order given; a folder plays the audio files inside it (and
its subfolders) sorted by name; files that cannot be played are skipped.
Anything FFmpeg reads plays: mp3, flac, ogg, opus, m4a/aac, wav and more.
Without files the built-in demo song "Lumen Drift" plays, over and over.
corvane exits when the music is over (unless --loop), or on Ctrl+C.

Serving:
  --port N             the TCP port on 127.0.0.1 (default {PORT}); 0 picks a
                       free one. The port is printed on start:
                       "corvane: listening on 127.0.0.1:PORT"
  --rate HZ            frames a second to every client (default 60)

Music:
  --mute               keep the sound device closed; the music still runs at
                       its real pace (the player's word too); --no-audio is
                       the same
  --loop               start the list again when it ends

Live sound:
  --capture [SOURCE]   the spectrum of what the computer is playing, read
                       from a PulseAudio or PipeWire source; by default the
                       monitor of the default output
  --list-sources       list the sources --capture can read, and exit

Diagnostics:
  --pattern            a framing test signal instead of music: every byte of
                       frame k is k mod 256 (k counts the frames sent since
                       start), so a client can check that it cuts the stream
                       at frame boundaries and see which frames it missed
  --verbose            FFmpeg's messages
  -h, --help           this text
  --version            the version

Watching it: run the player with the network source, e.g.
  corvane song.mp3 &
  lumenvortex --source corvane
)",
                                           {{"FRAME", std::to_string(2 * SPECTRUM_BINS)},
                                            {"BINS", std::to_string(SPECTRUM_BINS)},
                                            {"BIN_HZ", std::to_string(SAMPLE_RATE / WINDOW_FRAMES)},
                                            {"PORT", std::to_string(DEFAULT_CORVANE_PORT)}});
    return text.c_str();
}

bool parseOptions(int argc, char** argv, Options& o, std::string& error) {
    o = Options{};
    std::vector<OptionRule> table = commonOptionRules(o);
    table.insert(table.end(), {
        flagOption("--mute", o.mute, "--no-audio"),
        flagOption("--pattern", o.pattern),
        intOption("--port", 0, 65535, o.port, "a port number from 1 to 65535 (or 0 for any free one)"),
        numberOption("--rate", 1.0, 1000.0, o.rate, "frames a second from 1 to 1000 (like 60)"),
    });
    if (!readCommandLine(argc, argv, table, o.inputs, error)) return false;
    if (o.capture && !o.inputs.empty()) {
        error = "--capture serves the sound the computer plays; it takes no files (a source name goes right after it)";
        return false;
    }
    if (o.pattern && (o.capture || !o.inputs.empty())) {
        error = "--pattern sends the test signal alone; leave out --capture and the files";
        return false;
    }
    return true;
}

}  // namespace corvane
