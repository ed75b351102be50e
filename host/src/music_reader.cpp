#include "music_reader.h"

#include <algorithm>

void MusicReader::decodeTo(long long position) {
    std::vector<float> chunk(4096 * 2);
    while (!ended && end() < position) {
        size_t n = program.read(chunk.data(), 4096);
        if (n == 0) {
            lv::TrackMeta meta;
            if (program.next(meta))
                changes.push_back({end(), meta});
            else
                ended = true;
            continue;
        }
        frames.insert(frames.end(), chunk.begin(), chunk.begin() + long(n) * 2);
    }
}

void MusicReader::window(long long endPosition, float* out) const {
    for (int i = 0; i < WINDOW_FRAMES; ++i) {
        long long p = endPosition - WINDOW_FRAMES + i;
        if (p < start || p >= end()) {
            out[2 * i] = out[2 * i + 1] = 0.0f;
        } else {
            out[2 * i] = frames[size_t(p - start) * 2];
            out[2 * i + 1] = frames[size_t(p - start) * 2 + 1];
        }
    }
}

void MusicReader::forget(long long position) {
    long long drop = std::min(position, end()) - start;
    if (drop < 65536) return;   // trim in big steps: erasing the front moves the rest
    frames.erase(frames.begin(), frames.begin() + drop * 2);
    start += drop;
}
