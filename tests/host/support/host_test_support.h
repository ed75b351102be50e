// What the player's tests share: media files made with FFmpeg's libraries,
// the player run as a process, and real services started and stopped by the
// test itself (a PulseAudio daemon with a null sink, an Xvfb display).
//
//   TempDir                    a fresh folder, removed with everything in it
//   makeAudioFile(path, spec)  encodes a sine (or silence) with tags and an
//                              attached picture; the container and codec
//                              follow spec.codec
//   solidPng / solidJpeg       a one-colour picture as file bytes
//   run(args, env)             the player or a tool as a child process, its
//                              output and exit status
//   PulseDaemon                pulseaudio on a private socket, with a null sink
//   XvfbDisplay                Xvfb on a free display number
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace hosttest {

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

struct AudioSpec {
    std::string codec = "flac";   // flac, mp3, opus (in ogg), aac (in m4a), pcm (in wav)
    int sampleRate = 44100;
    int channels = 2;
    double seconds = 1.0;
    double frequency = 1000.0;    // 0: silence
    float amplitude = 0.5f;
    std::vector<std::pair<std::string, std::string>> tags;
    std::vector<unsigned char> picture;   // attached cover (JPEG or PNG bytes), empty for none
    int pictureSide = 32;                 // its width and height
};

// False with a message on failure (a missing encoder, say).
bool makeAudioFile(const std::string& path, const AudioSpec& spec, std::string& error);

std::vector<unsigned char> solidPng(int size, unsigned char r, unsigned char g, unsigned char b);
std::vector<unsigned char> solidJpeg(int size, unsigned char r, unsigned char g, unsigned char b);

void writeFile(const std::string& path, const std::vector<unsigned char>& bytes);
void writeFile(const std::string& path, const std::string& text);
std::vector<unsigned char> readFile(const std::string& path);

struct RunResult {
    int status = -1;   // exit code; 128 + signal when killed
    std::string out;
    std::string err;
    bool timedOut = false;
};

// Runs `args` (args[0] a path) with extra environment entries ("NAME=value",
// or "NAME=" to remove one); kills it after `timeoutSeconds`.
RunResult run(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
              double timeoutSeconds = 120.0);

// A child left running (Xvfb, pulseaudio, the player in a window).
class Child {
public:
    Child() = default;
    Child(const std::vector<std::string>& args, const std::vector<std::string>& env, const std::string& logPath);
    ~Child();
    Child(Child&& other) noexcept;
    Child& operator=(Child&& other) noexcept;
    bool running();
    // Waits up to `timeoutSeconds` for the exit; -1 if still running.
    int wait(double timeoutSeconds);
    void stop();   // SIGTERM, then SIGKILL if it lingers
    int pid() const { return mPid; }

private:
    int mPid = -1;
    int mStatus = -1;
};

// bin/<name> of the build: the programs and the plug-in, beside the tests.
std::string binary(const std::string& name);

// Waits (polling) until `ready` is true or `timeoutSeconds` pass.
bool waitForImpl(bool (*ready)(void*), void* user, double timeoutSeconds);
template <class F>
bool waitFor(F ready, double timeoutSeconds) {
    return waitForImpl([](void* u) { return (*static_cast<F*>(u))(); }, &ready, timeoutSeconds);
}

// PulseAudio, started for the test alone: private runtime folder and socket,
// no autospawn, a null sink "lvtest" whose monitor is the default source to
// capture. `server()` is the PULSE_SERVER value. The daemon stops with the
// object.
class PulseDaemon {
public:
    PulseDaemon();
    ~PulseDaemon();
    bool ok() const { return mOk; }
    const std::string& error() const { return mError; }
    std::string server() const { return "unix:" + mDir.path() + "/native"; }

private:
    TempDir mDir;
    Child mChild;
    bool mOk = false;
    std::string mError;
};

// Xvfb on the first free display number from 90. `name()` is ":N".
class XvfbDisplay {
public:
    XvfbDisplay(int width = 1024, int height = 768);
    ~XvfbDisplay();
    bool ok() const { return mOk; }
    const std::string& error() const { return mError; }
    const std::string& name() const { return mName; }

private:
    TempDir mDir;
    Child mChild;
    std::string mName;
    bool mOk = false;
    std::string mError;
};

}  // namespace hosttest
