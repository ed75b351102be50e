// Sources of the spectrum: two channels of 512 unsigned bytes (bin 0 first).
//
//   SoundsSourceiTunes   pushed by the host with each render message
//   SoundsSourceCorvane  pulled over TCP from a local Corvane server in
//                        1024-byte frames (left 512, right 512)
//
// The analyser calls update() once a frame and reads the arrays. Failures
// leave the source invalid and the spectrum as it was (zero if nothing came).
#pragma once

class SoundsSource {
public:
    SoundsSource();
    virtual ~SoundsSource() {}
    virtual void update() = 0;

    const unsigned char* getLeftSpectrumData() const { return mLeftSpectrumData; }
    const unsigned char* getRightSpectrumData() const { return mRightSpectrumData; }

protected:
    unsigned char mLeftSpectrumData[512];
    unsigned char mRightSpectrumData[512];
};

class SoundsSourceiTunes : public SoundsSource {
public:
    SoundsSourceiTunes() {}
    void updateSpectrumData(const unsigned char (*spectrumData)[512]);
    void update() override {}
};

// The connection is made once, to 127.0.0.1 (the host argument is not
// consulted), waiting at most CONNECT_TIMEOUT_MS. update() never blocks: a stalled server leaves the frame loop
// running on the last complete frame. It reads all that is waiting (up to
// MAX_BYTES_PER_UPDATE) and shows the newest whole frame, so the spectrum
// never lags behind the server. The socket closes with the source.
class SoundsSourceCorvane : public SoundsSource {
public:
    static const int FRAME_SIZE = 1024;
    // About four seconds of frames at 60 a second: more than a socket holds
    // after a pause, little enough to read well within a frame.
    static const int MAX_BYTES_PER_UPDATE = 256 * FRAME_SIZE;
    // A loopback handshake takes microseconds; past this the server is not
    // taking connections, and the source stays invalid.
    static const int CONNECT_TIMEOUT_MS = 500;

    SoundsSourceCorvane(const char* host, int port);
    ~SoundsSourceCorvane() override;
    SoundsSourceCorvane(const SoundsSourceCorvane&) = delete;
    SoundsSourceCorvane& operator=(const SoundsSourceCorvane&) = delete;

    void update() override;
    void frameCompleted();
    bool isValid() const { return mValid; }

    int mSocketFD;
    bool mValid;
    unsigned char mRawDataBuffer[FRAME_SIZE];
    int mRawDataBufferOffset;
};
