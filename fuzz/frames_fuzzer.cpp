// The Corvane frame reader over a real loopback connection: the harness is
// the server, and sends the input's bytes in the input's pieces, calling
// update() between them as frames would.
//
// Only the reader's public face is used (construct on a port, update, the
// two spectra), so the harness holds for any way of reading the stream that
// keeps its promise: the spectrum is always a whole frame that was sent
// (all zero before the first), frames are never shown out of order, and once
// everything sent has arrived and been read, the newest whole frame shows.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "inputs.h"
#include "soundsSource.h"

namespace {

constexpr size_t kFrame = 1024;

int gListener = -1;
int gPort = 0;

void listenOnLoopback() {
    gListener = socket(AF_INET, SOCK_STREAM, 0);
    FUZZ_CHECK(gListener >= 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = 0;   // any free port
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    FUZZ_CHECK(bind(gListener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
    FUZZ_CHECK(listen(gListener, 4) == 0);
    socklen_t length = sizeof address;
    FUZZ_CHECK(getsockname(gListener, reinterpret_cast<sockaddr*>(&address), &length) == 0);
    gPort = ntohs(address.sin_port);
}

class Stream {
public:
    explicit Stream(const SoundsSourceCorvane& source) : mSource(source) {}

    void sent(const std::vector<uint8_t>& bytes) { mBytes.insert(mBytes.end(), bytes.begin(), bytes.end()); }
    size_t wholeFrames() const { return mBytes.size() / kFrame; }

    // The spectrum is frame mShown or a later whole frame; remembers which.
    void checkShowsSentFrame() {
        uint8_t now[kFrame];
        std::memcpy(now, mSource.getLeftSpectrumData(), 512);
        std::memcpy(now + 512, mSource.getRightSpectrumData(), 512);
        if (mShown < 0) {
            static const uint8_t kSilence[kFrame] = {};
            if (std::memcmp(now, kSilence, kFrame) == 0) return;
        }
        for (size_t k = size_t(mShown < 0 ? 0 : mShown); k < wholeFrames(); ++k) {
            if (std::memcmp(now, &mBytes[k * kFrame], kFrame) == 0) {
                mShown = long(k);
                return;
            }
        }
        FUZZ_CHECK(!"the spectrum is not a whole frame sent at or after the one shown before");
    }

    // By content: a stream may repeat a frame, and the reader may have shown
    // either copy.
    bool showsNewest() const {
        const size_t newest = (wholeFrames() - 1) * kFrame;
        return std::memcmp(mSource.getLeftSpectrumData(), &mBytes[newest], 512) == 0 &&
               std::memcmp(mSource.getRightSpectrumData(), &mBytes[newest + 512], 512) == 0;
    }

private:
    const SoundsSourceCorvane& mSource;
    std::vector<uint8_t> mBytes;
    long mShown = -1;   // index of the frame shown; -1 for the silence before any
};

// One connection in a few hundred thousand is refused on a busy machine
// (the reader cannot say why): only a reader that never connects is wrong.
SoundsSourceCorvane* connectSource(int* server) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        auto* source = new SoundsSourceCorvane("127.0.0.1", gPort);
        if (source->isValid()) {
            *server = accept(gListener, nullptr, nullptr);
            FUZZ_CHECK(*server >= 0);
            return source;
        }
        delete source;
    }
    FUZZ_CHECK(!"the reader could not connect to the harness's listener in three tries");
    return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    listenOnLoopback();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const lvfuzz::FramesInput in = lvfuzz::readFrames(data, size);
    int server = -1;
    SoundsSourceCorvane* source = connectSource(&server);
    Stream stream(*source);
    stream.checkShowsSentFrame();

    for (const lvfuzz::FrameStep& step : in.steps) {
        size_t at = 0;
        while (at < step.bytes.size()) {
            // A reader that keeps up never fills the connection; one that
            // does not is made to read, as the frame loop would.
            const ssize_t n = send(server, step.bytes.data() + at, step.bytes.size() - at, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0) {
                stream.sent({step.bytes.begin() + long(at), step.bytes.begin() + long(at) + n});
                at += size_t(n);
            } else {
                source->update();
                stream.checkShowsSentFrame();
            }
        }
        for (unsigned u = 0; u < step.updates; ++u) {
            source->update();
            stream.checkShowsSentFrame();
        }
    }
    if (in.flags & lvfuzz::kFramesCloseAtEnd) shutdown(server, SHUT_WR);

    // Reading on, the newest whole frame shows, and a partial frame after it
    // never does. Loopback delivers at once but promises no time: a reader
    // gets two seconds to catch up.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (stream.wholeFrames() > 0 && !stream.showsNewest()) {
        FUZZ_CHECK(std::chrono::steady_clock::now() < deadline);
        source->update();
        stream.checkShowsSentFrame();
    }

    delete source;
    // Reset rather than close: no TIME_WAIT left behind for each input.
    linger reset{1, 0};
    setsockopt(server, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    close(server);
    return 0;
}
