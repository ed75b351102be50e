#include "host_test_support.h"

#include <fcntl.h>
#include <jpeglib.h>
#include <poll.h>
#include <sys/prctl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "lv/capture.h"
#include "lv/video_out.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libswresample/swresample.h>
}

extern char** environ;

namespace fs = std::filesystem;

namespace hosttest {

namespace {

std::string avError(int code) {
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buffer, sizeof buffer);
    return buffer;
}

// The environment with `changes` applied ("NAME=value" sets, "NAME=" removes).
std::vector<std::string> environmentWith(const std::vector<std::string>& changes) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.push_back(*e);
    for (const std::string& c : changes) {
        std::string name = c.substr(0, c.find('=') + 1);
        std::erase_if(env, [&](const std::string& e) { return e.compare(0, name.size(), name) == 0; });
        if (c.size() > name.size()) env.push_back(c);
    }
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> p;
    for (std::string& s : strings) p.push_back(s.data());
    p.push_back(nullptr);
    return p;
}

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

// ---------------------------------------------------------------- files

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "lvhost-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    mPath = made ? made : pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(mPath, ec);
}

void writeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
}

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::vector<unsigned char> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string binary(const std::string& name) {
    // Test programs are built into bin/ beside the player and the plug-in.
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec && fs::exists(self.parent_path() / name)) return (self.parent_path() / name).string();
    const char* dir = std::getenv("LV_BINARY_DIR");
    return std::string(dir ? dir : ".") + "/bin/" + name;
}

bool waitForImpl(bool (*ready)(void*), void* user, double timeoutSeconds) {
    double end = now() + timeoutSeconds;
    for (;;) {
        if (ready(user)) return true;
        if (now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// ---------------------------------------------------------------- pictures

std::vector<unsigned char> solidPng(int size, unsigned char r, unsigned char g, unsigned char b) {
    std::vector<unsigned char> rgb(size_t(size) * size * 3);
    for (size_t i = 0; i < rgb.size(); i += 3) {
        rgb[i] = r;
        rgb[i + 1] = g;
        rgb[i + 2] = b;
    }
    std::vector<unsigned char> png;
    lv::encodePng(png, rgb.data(), size, size, 3);
    return png;
}

std::vector<unsigned char> solidJpeg(int size, unsigned char r, unsigned char g, unsigned char b) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&c, &out, &outSize);
    c.image_width = JDIMENSION(size);
    c.image_height = JDIMENSION(size);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 95, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<unsigned char> row(size_t(size) * 3);
    for (size_t i = 0; i < row.size(); i += 3) {
        row[i] = r;
        row[i + 1] = g;
        row[i + 2] = b;
    }
    while (c.next_scanline < c.image_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<unsigned char> bytes(out, out + outSize);
    jpeg_destroy_compress(&c);
    std::free(out);
    return bytes;
}

// ---------------------------------------------------------------- audio files

bool makeAudioFile(const std::string& path, const AudioSpec& spec, std::string& error) {
    const AVCodec* codec = nullptr;
    if (spec.codec == "flac") codec = avcodec_find_encoder(AV_CODEC_ID_FLAC);
    else if (spec.codec == "mp3") codec = avcodec_find_encoder_by_name("libmp3lame");
    else if (spec.codec == "opus") codec = avcodec_find_encoder_by_name("libopus");
    else if (spec.codec == "vorbis") codec = avcodec_find_encoder_by_name("libvorbis");
    else if (spec.codec == "aac") codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    else if (spec.codec == "pcm") codec = avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE);
    if (!codec) {
        error = "no encoder for " + spec.codec;
        return false;
    }
    AVFormatContext* oc = nullptr;
    int rc = avformat_alloc_output_context2(&oc, nullptr, nullptr, path.c_str());
    if (rc < 0) {
        error = "no container for " + path;
        return false;
    }
    AVCodecContext* enc = avcodec_alloc_context3(codec);
    AVStream* st = avformat_new_stream(oc, nullptr);
    enc->sample_rate = spec.sampleRate;
    enc->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&enc->ch_layout, spec.channels);
    enc->time_base = AVRational{1, spec.sampleRate};
    if (spec.codec == "mp3" || spec.codec == "aac" || spec.codec == "opus") enc->bit_rate = 128000;
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    rc = avcodec_open2(enc, codec, nullptr);
    AVStream* pic = nullptr;
    if (rc >= 0) {
        avcodec_parameters_from_context(st->codecpar, enc);
        st->time_base = enc->time_base;
        for (const auto& [k, v] : spec.tags) {
            av_dict_set(&oc->metadata, k.c_str(), v.c_str(), 0);
            av_dict_set(&st->metadata, k.c_str(), v.c_str(), 0);
        }
        if (!spec.picture.empty()) {
            pic = avformat_new_stream(oc, nullptr);
            pic->disposition = AV_DISPOSITION_ATTACHED_PIC;
            pic->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
            bool png = spec.picture.size() > 4 && spec.picture[1] == 'P' && spec.picture[2] == 'N';
            pic->codecpar->codec_id = png ? AV_CODEC_ID_PNG : AV_CODEC_ID_MJPEG;
            pic->codecpar->width = spec.pictureSide;
            pic->codecpar->height = spec.pictureSide;
            pic->time_base = AVRational{1, 90000};
        }
        rc = avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE);
    }
    if (rc >= 0) rc = avformat_write_header(oc, nullptr);
    AVPacket* pkt = av_packet_alloc();
    if (rc >= 0 && pic) {
        av_new_packet(pkt, int(spec.picture.size()));
        std::memcpy(pkt->data, spec.picture.data(), spec.picture.size());
        pkt->stream_index = pic->index;
        pkt->flags |= AV_PKT_FLAG_KEY;
        rc = av_interleaved_write_frame(oc, pkt);
    }
    SwrContext* swr = nullptr;
    AVChannelLayout inLayout;
    av_channel_layout_default(&inLayout, spec.channels);
    if (rc >= 0) rc = swr_alloc_set_opts2(&swr, &enc->ch_layout, enc->sample_fmt, spec.sampleRate, &inLayout,
                                          AV_SAMPLE_FMT_FLT, spec.sampleRate, 0, nullptr);
    if (rc >= 0) rc = swr_init(swr);
    AVFrame* frame = av_frame_alloc();
    const int frameSize = enc->frame_size > 0 ? enc->frame_size : 1024;
    const long long total = (long long)std::llround(spec.seconds * spec.sampleRate);
    std::vector<float> samples(size_t(frameSize) * spec.channels);
    auto drain = [&]() {
        while (rc >= 0) {
            int r = avcodec_receive_packet(enc, pkt);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
            if (r < 0) {
                rc = r;
                return;
            }
            av_packet_rescale_ts(pkt, enc->time_base, st->time_base);
            pkt->stream_index = st->index;
            rc = av_interleaved_write_frame(oc, pkt);
        }
    };
    for (long long done = 0; rc >= 0 && done < total; done += frameSize) {
        int n = int(std::min<long long>(frameSize, total - done));
        for (int i = 0; i < n; ++i) {
            double t = double(done + i) / spec.sampleRate;
            float v = spec.frequency > 0 ? spec.amplitude * float(std::sin(2.0 * M_PI * spec.frequency * t)) : 0.0f;
            for (int c = 0; c < spec.channels; ++c) samples[size_t(i) * spec.channels + c] = v;
        }
        av_frame_unref(frame);
        frame->format = enc->sample_fmt;
        frame->sample_rate = spec.sampleRate;
        av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout);
        frame->nb_samples = n;
        rc = av_frame_get_buffer(frame, 0);
        if (rc < 0) break;
        const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(samples.data())};
        rc = swr_convert(swr, frame->data, n, in, n);
        if (rc < 0) break;
        frame->pts = done;
        rc = avcodec_send_frame(enc, frame);
        drain();
    }
    if (rc >= 0) {
        avcodec_send_frame(enc, nullptr);
        drain();
    }
    if (rc >= 0) rc = av_write_trailer(oc);
    if (rc < 0) error = "cannot make " + path + ": " + avError(rc);
    av_frame_free(&frame);
    av_packet_free(&pkt);
    swr_free(&swr);
    avcodec_free_context(&enc);
    if (oc->pb) avio_closep(&oc->pb);
    avformat_free_context(oc);
    return rc >= 0;
}

// ---------------------------------------------------------------- processes

RunResult run(const std::vector<std::string>& args, const std::vector<std::string>& envChanges,
              double timeoutSeconds) {
    RunResult result;
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return result;
    std::vector<std::string> argv = args;
    std::vector<std::string> env = environmentWith(envChanges);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        close(outPipe[0]);
        close(errPipe[0]);
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0) dup2(devnull, 0);
        auto a = pointers(argv);
        auto e = pointers(env);
        execve(a[0], a.data(), e.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    double end = now() + timeoutSeconds;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    char buffer[65536];
    while (open > 0) {
        int wait = int(std::max(0.0, end - now()) * 1000);
        int n = poll(fds, 2, std::min(wait, 1000));
        if (n == 0 && now() > end) {
            kill(pid, SIGKILL);
            result.timedOut = true;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                (i == 0 ? result.out : result.err).append(buffer, size_t(got));
            }
        }
    }
    for (pollfd& f : fds)
        if (f.fd >= 0) close(f.fd);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

Child::Child(const std::vector<std::string>& args, const std::vector<std::string>& envChanges,
             const std::string& logPath) {
    std::vector<std::string> argv = args;
    std::vector<std::string> env = environmentWith(envChanges);
    mPid = fork();
    if (mPid == 0) {
        // A test that dies on the spot takes its services with it.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log >= 0) {
            dup2(log, 1);
            dup2(log, 2);
        }
        auto a = pointers(argv);
        auto e = pointers(env);
        execve(a[0], a.data(), e.data());
        _exit(127);
    }
}

Child::~Child() { stop(); }

Child::Child(Child&& other) noexcept : mPid(other.mPid), mStatus(other.mStatus) { other.mPid = -1; }

Child& Child::operator=(Child&& other) noexcept {
    if (this != &other) {
        stop();
        mPid = other.mPid;
        mStatus = other.mStatus;
        other.mPid = -1;
    }
    return *this;
}

bool Child::running() {
    if (mPid <= 0) return false;
    int status = 0;
    if (waitpid(mPid, &status, WNOHANG) == mPid) {
        mStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        mPid = -1;
        return false;
    }
    return true;
}

int Child::wait(double timeoutSeconds) {
    waitFor([&] { return !running(); }, timeoutSeconds);
    return mPid > 0 ? -1 : mStatus;
}

void Child::stop() {
    if (mPid <= 0) return;
    kill(mPid, SIGTERM);
    if (wait(5.0) < 0 && mPid > 0) {
        kill(mPid, SIGKILL);
        int status = 0;
        waitpid(mPid, &status, 0);
        mPid = -1;
    }
}

// ---------------------------------------------------------------- services

PulseDaemon::PulseDaemon() {
    const std::string dir = mDir.path();
    fs::create_directories(dir + "/run");
    fs::create_directories(dir + "/state");
    mChild = Child({"/usr/bin/pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                    "--disable-shm=true", "--use-pid-file=false", "--log-target=stderr",
                    "--load=module-native-protocol-unix socket=" + dir + "/native auth-anonymous=1",
                    "--load=module-null-sink sink_name=lvtest rate=44100 sink_properties=device.description=LvTest"},
                   {"HOME=" + dir, "XDG_RUNTIME_DIR=" + dir, "PULSE_RUNTIME_PATH=" + dir + "/run",
                    "PULSE_STATE_PATH=" + dir + "/state", "DISPLAY=", "DBUS_SESSION_BUS_ADDRESS=", "PULSE_SERVER="},
                   dir + "/daemon.log");
    setenv("PULSE_SERVER", server().c_str(), 1);
    // Ready when a client can list the sink's monitor.
    mOk = waitFor(
        [&] {
            lv::CaptureServerInfo info;
            std::string e;
            return mChild.running() && lv::queryCaptureSources(info, e) && info.defaultMonitor == "lvtest.monitor";
        },
        20.0);
    if (!mOk) {
        auto log = readFile(dir + "/daemon.log");
        mError = "pulseaudio did not come up: " + std::string(log.begin(), log.end());
    }
}

PulseDaemon::~PulseDaemon() {
    mChild.stop();
    unsetenv("PULSE_SERVER");
}

XvfbDisplay::XvfbDisplay(int width, int height) {
    // Xvfb picks a free display number itself and writes it to a pipe.
    int fds[2];
    if (pipe(fds) != 0) {
        mError = "no pipe";
        return;
    }
    std::string log = mDir.path() + "/xvfb.log";
    std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    mChild = Child({"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen, "-nolisten", "tcp",
                    "-noreset"},
                   {}, log);
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    double end = now() + 20.0;
    while (now() < end && number.find('\n') == std::string::npos) {
        if (poll(&p, 1, 500) > 0) {
            char c[16];
            ssize_t n = read(fds[0], c, sizeof c);
            if (n <= 0) break;
            number.append(c, size_t(n));
        }
    }
    close(fds[0]);
    if (number.empty() || number.find('\n') == std::string::npos) {
        auto text = readFile(log);
        mError = "Xvfb did not start: " + std::string(text.begin(), text.end());
        return;
    }
    mName = ":" + number.substr(0, number.find('\n'));
    mOk = true;
}

XvfbDisplay::~XvfbDisplay() { mChild.stop(); }

}  // namespace hosttest
