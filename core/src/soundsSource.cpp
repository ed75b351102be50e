#include "soundsSource.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

SoundsSource::SoundsSource() {
    std::memset(mLeftSpectrumData, 0, sizeof mLeftSpectrumData);
    std::memset(mRightSpectrumData, 0, sizeof mRightSpectrumData);
}

void SoundsSourceiTunes::updateSpectrumData(const unsigned char (*spectrumData)[512]) {
    // A render message without data keeps the spectrum it had.
    if (!spectrumData) return;
    std::memcpy(mLeftSpectrumData, spectrumData[0], sizeof mLeftSpectrumData);
    std::memcpy(mRightSpectrumData, spectrumData[1], sizeof mRightSpectrumData);
}

namespace {

// A server whose listen backlog is full drops the handshake, and a plain
// connect retries it for minutes on the caller's (the frame's) thread; so the
// socket is non-blocking and the handshake gets a bound.
bool connectWithin(int fd, const sockaddr_in& address, int timeoutMs) {
    if (connect(fd, (const sockaddr*)&address, sizeof address) == 0) return true;
    if (errno != EINPROGRESS) return false;
    pollfd p{fd, POLLOUT, 0};
    int ready;
    do ready = poll(&p, 1, timeoutMs);
    while (ready < 0 && errno == EINTR);
    int error = 0;
    socklen_t length = sizeof error;
    return ready > 0 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

}  // namespace

SoundsSourceCorvane::SoundsSourceCorvane(const char* /*host: always the loopback*/, int port)
    : mSocketFD(-1), mValid(false), mRawDataBufferOffset(0) {
    std::memset(mRawDataBuffer, 0, sizeof mRawDataBuffer);
    if (port < 1 || port > 65535) return;  // nothing could listen there; stay silent

    mSocketFD = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (mSocketFD < 0) return;

    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons((uint16_t)port);
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    mValid = connectWithin(mSocketFD, address, CONNECT_TIMEOUT_MS);
}

SoundsSourceCorvane::~SoundsSourceCorvane() {
    if (mSocketFD >= 0) close(mSocketFD);
}

void SoundsSourceCorvane::update() {
    if (!mValid) return;

    // Everything waiting is read, so that a pause (the server's or ours) is
    // made up at once rather than trailed for the rest of the session: each
    // whole frame is applied as it completes and the newest stays. Reads
    // never wait, and stop after MAX_BYTES_PER_UPDATE so that a flood cannot
    // hold up a frame; the rest is read on the next call.
    for (int budget = MAX_BYTES_PER_UPDATE; budget > 0;) {
        ssize_t got = recv(mSocketFD, mRawDataBuffer + mRawDataBufferOffset,
                           FRAME_SIZE - mRawDataBufferOffset, MSG_DONTWAIT);
        if (got <= 0) return;  // closed, nothing more yet, or an error: keep what we have

        budget -= (int)got;
        mRawDataBufferOffset += (int)got;
        if (mRawDataBufferOffset > FRAME_SIZE) throw std::out_of_range("CorvaneInstance");
        if (mRawDataBufferOffset == FRAME_SIZE) {
            frameCompleted();
            mRawDataBufferOffset = 0;
        }
    }
}

void SoundsSourceCorvane::frameCompleted() {
    std::memcpy(mLeftSpectrumData, mRawDataBuffer, 512);
    std::memcpy(mRightSpectrumData, mRawDataBuffer + 512, 512);
}
