// What the tests of the two programs (the player and the spectrum server)
// share: media files made with the ffmpeg tool or the video layer's WAV
// writer, the programs run as processes, and a real PulseAudio daemon
// started and stopped by the test itself. Pictures and the private Xvfb
// come from tests/platform (test_pictures.h, test_xserver.h).
//
//   TempDir                    a fresh folder, removed with everything in it
//   makeAudioFile(path, tone)  a sine (or silence) with tags and an attached
//                              picture; the file's extension picks container
//                              and codec (.flac .mp3 .opus .m4a .ogg .wav)
//   makeTone(path, seconds, tags, picture)  the same for the usual tone
//   writeWav(path, stereo)     samples as they are, through lv::WavWriter
//   run(args, env)             a program or a tool as a child process, its
//                              output and exit status
//   Child                      a child left running (the player in a window,
//                              the server)
//   PulseDaemon                pulseaudio on a private socket, with a null sink
//   SessionBus, FakePlayer     a private session D-Bus, and a music player on
//                              it that says over MPRIS what the test tells it
//   holdPort, connectClient    loopback sockets: a port held, a client
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "lv/media.h"

namespace lvtest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return mPath; }
    std::string operator/(const std::string& name) const { return mPath + "/" + name; }

private:
    std::string mPath;
};

// A sine tone file to make.
struct ToneFile {
    int sampleRate = lv::kMediaSampleRate;
    int channels = 2;
    double seconds = 1.0;
    double frequency = 1000.0;   // 0: silence
    double amplitude = 0.5;
    std::vector<std::pair<std::string, std::string>> tags;
    std::vector<unsigned char> picture;   // attached cover (JPEG or PNG bytes), empty for none
};

// False with ffmpeg's message on failure (a missing encoder, say).
bool makeAudioFile(const std::string& path, const ToneFile& tone, std::string& error);
// A stereo 1 kHz tone of `seconds` with `tags` and a cover; a test failure
// when it cannot be made.
void makeTone(const std::string& path, double seconds, std::vector<std::pair<std::string, std::string>> tags = {},
              std::vector<unsigned char> picture = {});

// Interleaved stereo at the media sample rate as a 16-bit WAV file.
void writeWav(const std::string& path, const std::vector<float>& stereo);

// A minimal FastTracker 2 module (.xm): one pattern of `rows` rows at speed 6
// and 125 BPM (0.12 s a row), a looped square wave struck on its first row.
// FFmpeg plays it through libopenmpt.
std::string trackerModule(int rows);

void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
// The hidden files an output is written under before it takes its name
// (".NAME.<pid>-<n>.part"), anywhere under `folder`.
std::vector<std::string> partsIn(const std::string& folder);

struct RunResult {
    int status = -1;   // exit code; 128 + signal when killed, -1 when it would not end
    std::string out;
    std::string err;
};

// Runs `args` (args[0] a path) with extra environment entries ("NAME=value",
// or "NAME=" to remove one); kills it after `timeoutSeconds`.
RunResult run(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
              double timeoutSeconds = 120.0);

// A child process with its output in files (stderr in outPath when errPath
// is empty), stopped with the object.
class Child {
public:
    Child(const std::vector<std::string>& args, const std::vector<std::string>& env, const std::string& outPath,
          const std::string& errPath = "");
    ~Child() { stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    bool running();
    // Waits up to `timeoutSeconds` for the exit; -1 if still running.
    int wait(double timeoutSeconds);
    void signal(int sig);
    void stop();   // SIGTERM, then SIGKILL if it lingers

private:
    int mPid = -1;
    int mStatus = -1;
};

// bin/<name> of the build: the programs and the plug-in, beside the tests.
std::string binary(const std::string& name);

// What ffprobe says of `file`'s `entries` (its -show_entries), one
// key=value a line; frames are counted, so nb_read_frames can be asked.
std::string probe(const std::string& file, const std::string& entries);

// Waits (polling) until `ready` is true or `timeoutSeconds` pass.
bool waitFor(const std::function<bool()>& ready, double timeoutSeconds);

// A loopback port nobody listens on (at the moment of asking).
int unusedPort();

// A socket listening on loopback `port` (0: any free one), as another
// program holding the port would; -1 when the port is taken.
int holdPort(int port);
int portOf(int fd);

// -1 when the connection fails. receiveBuffer > 0 is set before connecting.
int connectClient(int port, int receiveBuffer = 0);

// Reads until `size` bytes arrived, the peer closed (`closed`), or
// `timeoutSeconds` passed. Returns the bytes read.
size_t readFor(int fd, uint8_t* out, size_t size, double timeoutSeconds, bool* closed = nullptr);

// PulseAudio, started for the test alone: private runtime folder and socket,
// no autospawn, a null sink "lvtest" whose monitor is the default source to
// capture. Sets PULSE_SERVER for the process while it lives.
class PulseDaemon {
public:
    PulseDaemon();
    ~PulseDaemon();
    bool ok() const { return mOk; }
    const std::string& error() const { return mError; }
    std::string server() const { return "unix:" + mDir.path() + "/native"; }
    // Ends the daemon and starts it again on the same socket, as a desktop's
    // sound server restarts; false (error() says why) if it does not come back.
    bool restart();
    // The two halves of a restart, for a server that stays away a while.
    void stop();
    bool start();
    // pactl against this daemon; its output, or "" with a test failure.
    std::string pactl(const std::vector<std::string>& args);

private:

    TempDir mDir;
    std::unique_ptr<Child> mChild;
    bool mOk = false;
    std::string mError;
};

// dbus-daemon with a session bus of the test's own (what dbus-run-session
// starts), on a socket in a private folder. Sets DBUS_SESSION_BUS_ADDRESS
// for the process while it lives, so programs the test runs find it.
class SessionBus {
public:
    SessionBus();
    ~SessionBus();
    bool ok() const { return mOk; }
    const std::string& error() const { return mError; }
    std::string address() const { return "unix:path=" + mDir.path() + "/bus"; }

private:
    TempDir mDir;
    std::unique_ptr<Child> mChild;
    bool mOk = false;
    std::string mError;
};

// tests/support/fake_mpris_player.py on the session bus as
// org.mpris.MediaPlayer2.NAME. `json` sets what it says from the start
// ({"status":"Playing","title":"A","artist":["B"]}); change() changes it, as
// a player's next song or pause does, with PropertiesChanged.
class FakePlayer {
public:
    FakePlayer(const std::string& name, const std::string& json);
    ~FakePlayer();
    bool ok() const { return mOk; }
    std::string log() const;
    void change(const std::string& json);
    // Leaves the bus, as a player that quits.
    void quit();

private:
    TempDir mDir;
    std::unique_ptr<Child> mChild;
    int mControl = -1;
    bool mOk = false;
};

}  // namespace lvtest
