// PNG frames through libpng's simplified API, and 16-bit WAV by hand.
#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "lv/file_kind.h"
#include "lv/video_out.h"
#include "part_file.h"
#include "lv/sample_format.h"

namespace lv {

namespace {

// A plain file to write, opened without waiting: a named pipe left under
// the name would hold a plain open until something read it, and a stop
// signal could not end that.
std::FILE* openOutput(const std::string& path, std::string& error) {
    struct stat st {};
    const char* what = stat(path.c_str(), &st) == 0 ? notAFile(st.st_mode) : nullptr;
    int fd = -1;
    if (!what) {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
        if (fd < 0 && errno == ENXIO) {   // made a pipe since, and nobody reads it
            what = notAFile(S_IFIFO);
        } else if (fd >= 0 && fstat(fd, &st) == 0 && (what = notAFile(st.st_mode))) {
            ::close(fd);
            fd = -1;
        }
    }
    if (what) {
        error = "cannot write " + path + ": " + what;
        return nullptr;
    }
    if (fd < 0 || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "wb");
    if (!file) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        ::close(fd);
    }
    return file;
}

}  // namespace

bool writePng(const std::string& path, const unsigned char* rgba, int width, int height, std::string& error) {
    return writePng(path, rgba, width, height, long(width) * 4, error);
}

bool writePng(const std::string& path, const unsigned char* rgba, int width, int height, long stride,
              std::string& error) {
    // libpng wants the lowest address and a negative stride for rows bottom up.
    const unsigned char* first = stride < 0 ? rgba + (height - 1) * stride : rgba;
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(width);
    image.height = png_uint_32(height);
    image.format = PNG_FORMAT_RGBA;
    std::FILE* file = openOutput(path, error);
    if (!file) return false;
    errno = 0;   // a value left from earlier would name the wrong cause
    bool ok = png_image_write_to_stdio(&image, file, 0, first, png_int_32(stride), nullptr);
    int cause = errno;
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        cause = errno;
    }
    if (!ok) {
        error = "cannot write " + path + ": " + (cause ? std::strerror(cause) : image.message);
        png_image_free(&image);
        std::remove(path.c_str());   // no half picture among the whole ones
    }
    return ok;
}

bool encodePng(std::vector<unsigned char>& out, const unsigned char* pixels, int width, int height, int channels) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(width);
    image.height = png_uint_32(height);
    image.format = channels == 3 ? PNG_FORMAT_RGB : PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    if (!png_image_write_get_memory_size(image, size, 0, pixels, width * channels, nullptr)) return false;
    out.resize(size);
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, pixels, width * channels, nullptr)) {
        out.clear();
        return false;
    }
    out.resize(size);
    return true;
}

namespace {
void put16(unsigned char* p, unsigned v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void put32(unsigned char* p, unsigned long v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void header(unsigned char (&h)[44], unsigned long long frames) {
    const unsigned long data = static_cast<unsigned long>(std::min<unsigned long long>(frames * 4, 0xFFFFFFF0ull - 36));
    std::memcpy(h, "RIFF", 4);
    put32(h + 4, 36 + data);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 16);
    put16(h + 20, 1);          // PCM
    put16(h + 22, kSampleChannels);
    put32(h + 24, kSampleRate);
    put32(h + 28, kSampleRate * 2 * kSampleChannels);   // bytes a second
    put16(h + 32, 2 * kSampleChannels);                 // bytes a frame
    put16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    put32(h + 40, data);
}
}  // namespace

WavWriter::~WavWriter() {
    std::string ignored;
    close(ignored, false);
}

bool WavWriter::open(const std::string& path, std::string& error) {
    std::string ignored;
    close(ignored, false);
    mPath = path;
    mFrames = 0;
    struct stat st {};
    if (stat(path.c_str(), &st) == 0)
        if (const char* what = notAFile(st.st_mode)) {
            error = "cannot write " + path + ": " + what;
            return false;
        }
    PartFile file;
    std::string why;
    if (!file.create(path, why)) {
        error = "cannot write " + path + ": " + why;
        return false;
    }
    mTarget = file.target;
    mPart = file.part;
    mMode = file.mode;
    mFile = openOutput(mPart, error);
    if (!mFile) {
        ::unlink(mPart.c_str());
        mPart.clear();
        return false;
    }
    unsigned char h[44];
    header(h, 0);
    if (std::fwrite(h, 1, sizeof h, mFile) != sizeof h) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool WavWriter::write(const float* frames, size_t count, std::string& error) {
    if (!mFile) {
        error = "cannot write " + mPath + ": the file is not open";
        return false;
    }
    if (count == 0) return true;   // fwrite may not be handed the null of an empty buffer
    std::vector<unsigned char> bytes(count * 4);
    for (size_t i = 0; i < count * 2; ++i) {
        float s = std::max(-1.0f, std::min(1.0f, frames[i]));
        long v = std::lround(s * 32767.0f);
        put16(&bytes[i * 2], static_cast<unsigned>(v & 0xFFFF));
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), mFile) != bytes.size()) {
        error = "cannot write " + mPath + ": " + std::strerror(errno);
        return false;
    }
    mFrames += count;
    return true;
}

bool WavWriter::close(std::string& error, bool keep) {
    if (!mFile) return true;
    unsigned char h[44];
    header(h, mFrames);
    bool ok = std::fseek(mFile, 0, SEEK_SET) == 0 && std::fwrite(h, 1, sizeof h, mFile) == sizeof h;
    ok = (std::fclose(mFile) == 0) && ok;
    mFile = nullptr;
    if (!ok) error = "cannot finish " + mPath + ": " + std::strerror(errno);
    PartFile file{mTarget, mPart, mMode};
    mPart.clear();
    // An unfinished file never takes the name.
    return file.settle(keep && ok, error) && ok;
}

}  // namespace lv
