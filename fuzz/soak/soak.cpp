// lv-soak: a host that loads Lumenvortex.so, as a player does, and for a
// given time sends it random messages: render frames with all sorts of
// spectra, idle messages, tracks with strings in every script and covers
// good and hostile, keys (q among them), window moves and resizes, hides and
// shows on new ports, the messages it ignores, and records it must refuse.
// The run is repeatable from its seed; the clock is virtual, so frames come
// as fast as the machine draws them and the overlay's timings are crossed
// often. It fails on any status the plug-in should not give and on a frame
// that was not presented; under AddressSanitizer, on any memory error.
//
// Usage: lv-soak [--seconds N] [--seed S]   (defaults: 60 s, seed 1)
// Prints the messages sent, the frames drawn and the resident memory after
// the first show, every minute and at the end.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "LumenvortexHost.h"
#include "iTunesAPI.h"
#include "lv/port.h"
#include "plugin_module.h"
#include "samples.h"

namespace {

// A line of /proc/self/status in KiB ("VmRSS", "RssAnon"), -1 if missing.
long statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    const std::string prefix = std::string(field) + ":";
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(prefix, 0) == 0) return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    return -1;
}

// Resident memory, and the part of it that is the process's own (not mapped
// files such as the fonts that text in a new script brings in).
std::string resident() {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f MiB (%.1f MiB anonymous)", statusKiB("VmRSS") / 1024.0,
                  statusKiB("RssAnon") / 1024.0);
    return text;
}

class Soak {
public:
    explicit Soak(unsigned seed) : mRandom(seed), mGoodCovers(lvfuzz::goodCovers()),
        mHostileCovers(lvfuzz::hostileCovers()), mStrings(lvfuzz::sampleStrings()) {}

    bool load();
    void step();
    void finish();

    long messages = 0;
    unsigned long frames = 0;
    int failures = 0;

private:
    int below(int n) { return int(mRandom() % unsigned(n)); }
    bool chance(int percent) { return below(100) < percent; }

    OSStatus send(OSType message, VisualPluginMessageInfo* info);
    void expect(const char* what, OSStatus got, OSStatus wanted);
    void show();
    void hide();
    void render();
    void track();
    void key();
    void moveWindow();
    void oddMessage();
    std::u16string randomString();
    void fillString(UniChar* field);

    std::mt19937 mRandom;
    std::vector<lvfuzz::Sample> mGoodCovers, mHostileCovers;
    std::vector<std::u16string> mStrings;

    PluginModule mModule;
    long long mMicros = 0;

    bool mShown = false;
    LVPort mPort{};
    std::vector<uint8_t> mPixels;
};

bool Soak::load() {
    const auto path = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "Lumenvortex.so";
    std::string error;
    if (!mModule.loadFrom(path, error)) {
        std::fprintf(stderr, "lv-soak: cannot load %s: %s (build the Lumenvortex target)\n", path.c_str(),
                     error.c_str());
        return false;
    }
    if (!mModule.setClock([](void* self) { return static_cast<Soak*>(self)->mMicros; },
                          [](void* self, long long us) { static_cast<Soak*>(self)->mMicros += us > 0 ? us : 0; },
                          this) ||
        !mModule.mAttachCorvane) {
        std::fprintf(stderr, "lv-soak: %s lacks its host extensions\n", path.c_str());
        return false;
    }
    messages += 2;   // "init" to the entry point, then to the handler
    if (!mModule.start(error)) {
        std::fprintf(stderr, "lv-soak: %s\n", error.c_str());
        return false;
    }
    show();
    return failures == 0;
}

OSStatus Soak::send(OSType message, VisualPluginMessageInfo* info) {
    ++messages;
    return mModule.send(message, info);
}

void Soak::expect(const char* what, OSStatus got, OSStatus wanted) {
    if (got == wanted) return;
    if (++failures <= 10) std::fprintf(stderr, "lv-soak: %s answered %d, not %d\n", what, int(got), int(wanted));
}

// A new port of a random size (sometimes without pixels: frames drawn and
// dropped) and a canvas somewhere inside it.
void Soak::show() {
    const int width = 64 + below(400), height = 64 + below(300);
    mPixels.assign(chance(10) ? 0 : size_t(width) * height * 4, 0);
    mPort = LVPort{};
    mPort.kind = LV_PORT_OFFSCREEN;
    mPort.width = width;
    mPort.height = height;
    mPort.pixels = mPixels.empty() ? nullptr : mPixels.data();
    const int left = below(width / 4), top = below(height / 4);
    auto info = zeroedRecord<VisualPluginMessageInfo>();
    info.u.showWindowMessage.port = &mPort;
    info.u.showWindowMessage.drawRect = Rect{SInt16(top), SInt16(left), SInt16(top + 48 + below(height - top - 47)),
                                             SInt16(left + 48 + below(width - left - 47))};
    info.u.showWindowMessage.options = UInt32(below(4));
    expect("show", send(FourCC("show"), &info), noErr);
    mShown = true;
}

void Soak::hide() {
    expect("hide", send(FourCC("hide"), nullptr), noErr);
    mShown = false;
}

void Soak::render() {
    auto data = zeroedRecord<RenderVisualData>();
    data.numSpectrumChannels = 2;
    data.numWaveformChannels = 2;
    const int shape = below(4), level = below(256);
    for (int channel = 0; channel < 2; ++channel)
        for (int bin = 0; bin < 512; ++bin) {
            const int value = shape == 0 ? 0 : shape == 1 ? level * 64 / (64 + bin) : shape == 2 ? below(256) : 255;
            data.spectrumData[channel][bin] = UInt8(value);
        }
    // Mostly a frame's time; now and then a jump across the overlay's fade.
    mMicros += chance(3) ? 1000LL * below(7000) : 17000;
    auto info = zeroedRecord<VisualPluginMessageInfo>();
    info.u.renderMessage.renderData = chance(5) ? nullptr : &data;
    const unsigned long before = mPort.frameCount;
    expect("vrnd", send(FourCC("vrnd"), &info), noErr);
    if (mPort.frameCount != before + 1) expect("vrnd presenting a frame", 1, 0);
    frames += mPort.frameCount - before;
}

std::u16string Soak::randomString() {
    if (chance(70)) return mStrings[size_t(below(int(mStrings.size())))];
    std::u16string s(size_t(below(256)), u' ');
    for (char16_t& c : s) c = char16_t(chance(80) ? 0x20 + below(0x5F) : below(0x10000));
    return s;
}

void Soak::fillString(UniChar* field) {
    const std::u16string s = randomString();
    std::copy(s.begin(), s.end(), field + 1);
    // A damaged record now and then: a length past the 255 units it holds.
    field[0] = chance(3) ? UniChar(256 + below(0xFF00)) : UniChar(s.size());
}

void Soak::track() {
    const int kind = below(10);
    if (kind < 6) mModule.mCoverArt = mGoodCovers[size_t(below(int(mGoodCovers.size())))].bytes;
    else if (kind < 9) mModule.mCoverArt = mHostileCovers[size_t(below(int(mHostileCovers.size())))].bytes;
    else mModule.mCoverArt.clear();
    mModule.mCoverArtFormat = FourCC("JPEG");
    mModule.mCoverArtStatus = chance(5) ? OSStatus(-1) : noErr;
    auto record = zeroedRecord<ITTrackInfo>();
    record.recordLength = sizeof record;
    fillString(record.name);
    fillString(record.artist);
    fillString(record.album);
    auto info = zeroedRecord<VisualPluginMessageInfo>();
    if (chance(50)) {
        info.u.playMessage.trackInfoUnicode = &record;
        expect("vply", send(FourCC("vply"), &info), noErr);
    } else {
        info.u.changeTrackMessage.trackInfoUnicode = &record;
        expect("ctrk", send(FourCC("ctrk"), &info), noErr);
    }
}

void Soak::key() {
    static const char kKeys[] = "iasp-+=mchr/?qQIMS";
    auto event = zeroedRecord<EventRecord>();
    event.what = chance(90) ? UInt16(chance(80) ? keyDown : autoKey) : UInt16(below(8));
    // The q key makes a new context: a rare key, as a person would press it.
    char c = kKeys[below(int(sizeof kKeys) - 1)];
    if ((c == 'q' || c == 'Q') && !chance(20)) c = 'm';
    event.message = chance(10) ? UInt32(mRandom()) : UInt32(uint8_t(c));
    auto info = zeroedRecord<VisualPluginMessageInfo>();
    info.u.eventMessage.event = &event;
    expect("vevt", send(FourCC("vevt"), &info), unimpErr);
}

// The canvas moves and resizes inside the port; now and then a rectangle no
// window has (empty, inside out, past the port's edge).
void Soak::moveWindow() {
    const int w = mPort.width, h = mPort.height;
    Rect r{};
    if (chance(90)) {
        const int left = below(w / 2), top = below(h / 2);
        r = Rect{SInt16(top), SInt16(left), SInt16(top + 16 + below(h - top - 15)), SInt16(left + 16 + below(w - left - 15))};
    } else {
        r = Rect{SInt16(below(h)), SInt16(below(w)), SInt16(below(2 * h) - h / 2), SInt16(below(2 * w) - w / 2)};
    }
    auto info = zeroedRecord<VisualPluginMessageInfo>();
    info.u.setWindowMessage.port = &mPort;
    info.u.setWindowMessage.drawRect = r;
    expect("swin", send(FourCC("swin"), &info), noErr);
}

void Soak::oddMessage() {
    static const OSType kIgnored[] = {FourCC("clr "), FourCC("cnfg"), FourCC("setp"), FourCC("von "),
                                      FourCC("voff"), FourCC("vpau"), FourCC("vunp"), FourCC("vstp")};
    static const OSType kNeedRecord[] = {FourCC("show"), FourCC("swin"), FourCC("vrnd"), FourCC("vply"), FourCC("ctrk")};
    auto info = zeroedRecord<VisualPluginMessageInfo>();
    switch (below(4)) {
    case 0:
        expect("an ignored message", send(kIgnored[below(8)], &info), noErr);
        break;
    case 1:
        expect("an unknown message", send(OSType(mRandom()) | 0x80000000u, &info), unimpErr);
        break;
    case 2:
        // Messages that need a record, without one.
        expect("a message without its record", send(kNeedRecord[below(5)], nullptr), paramErr);
        break;
    default:
        // A Corvane server that is not there, then the host's data again.
        mModule.attachCorvane(1 + below(1023));
        mModule.attachCorvane(0);
        break;
    }
}

void Soak::step() {
    const int pick = below(100);
    if (!mShown) {
        if (pick < 40) show();
        else if (pick < 70) expect("idle", send(FourCC("null"), nullptr), noErr);
        else if (pick < 85) track();
        else key();
        return;
    }
    if (pick < 70) render();
    else if (pick < 76) expect("idle", send(chance(50) ? FourCC("null") : FourCC("vupd"), nullptr), noErr);
    else if (pick < 82) track();
    else if (pick < 91) key();
    else if (pick < 96) moveWindow();
    else if (pick < 97) hide();
    else oddMessage();
}

void Soak::finish() {
    if (mShown) hide();
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 60;
    unsigned seed = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) seconds = std::atof(argv[++i]);
        else if (arg == "--seed" && i + 1 < argc) seed = unsigned(std::strtoul(argv[++i], nullptr, 10));
        else {
            std::fprintf(stderr, "usage: lv-soak [--seconds N] [--seed S]\n");
            return 2;
        }
    }
    unsetenv("DISPLAY");   // offscreen ports only: no window may open
    Soak soak(seed);
    if (!soak.load()) return 1;
    const std::string rssStart = resident();
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    // A line a minute on long runs: memory that keeps growing shows as it grows.
    auto report = start + std::chrono::minutes(1);
    for (auto now = start; now < end && soak.failures == 0; now = std::chrono::steady_clock::now()) {
        soak.step();
        if (now >= report) {
            std::printf("lv-soak: %ld messages, %lu frames, RSS %s\n", soak.messages, soak.frames, resident().c_str());
            std::fflush(stdout);
            report += std::chrono::minutes(1);
        }
    }
    soak.finish();
    const std::string rssEnd = resident();
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("lv-soak: %.0f s, seed %u: %ld messages sent, %lu frames drawn, RSS %s at start, %s at end\n", took,
                seed, soak.messages, soak.frames, rssStart.c_str(), rssEnd.c_str());
    if (soak.failures) {
        std::printf("lv-soak: %d unexpected answers (see above)\n", soak.failures);
        return 1;
    }
    return 0;
}
