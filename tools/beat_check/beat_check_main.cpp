// lv-beat-check: runs the visualizer's own analyser on the spectrum the
// player would send for some music, and says how often each of the five
// sections beats and how close the bands come to the top. For tuning the
// spectrum scale without drawing anything.
//
//   lv-beat-check [--gain G] [--fps N] [--timeline] [FILE ...]   (no file: the demo song)
//                 [--floor DB] [--bytes-per-db B] [--tilt DB_PER_OCTAVE]   other scales to try
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lumenvortexApplet.h"
#include "program.h"
#include "spectrum_analyzer.h"

int main(int argc, char** argv) {
    float gain = Sounds::DEFAULT_MULTI;
    int fps = 60;
    bool timeline = false;
    float floorDb = SpectrumAnalyzer::FLOOR_DB, bytesPerDb = SpectrumAnalyzer::BYTES_PER_DB,
          tilt = SpectrumAnalyzer::TILT_DB_PER_OCTAVE;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--gain" && i + 1 < argc) gain = float(std::atof(argv[++i]));
        else if (a == "--fps" && i + 1 < argc) fps = std::atoi(argv[++i]);
        else if (a == "--timeline") timeline = true;
        else if (a == "--floor" && i + 1 < argc) floorDb = float(std::atof(argv[++i]));
        else if (a == "--bytes-per-db" && i + 1 < argc) bytesPerDb = float(std::atof(argv[++i]));
        else if (a == "--tilt" && i + 1 < argc) tilt = float(std::atof(argv[++i]));
        else if (a == "-h" || a == "--help") {
            std::puts("usage: lv-beat-check [--gain G] [--fps N] [--timeline] [--floor DB] [--bytes-per-db B] "
                      "[--tilt DB_PER_OCTAVE] [FILE ...]");
            return 0;
        } else files.push_back(a);
    }
    if (fps <= 0) fps = 60;
    lv::setMediaVerbose(false);

    VirtualClock clock;
    clock.install();
    SoundsSourceiTunes source;
    sounds.setSource(&source);

    std::vector<std::string> paths = files;
    if (paths.empty()) paths.push_back("");
    for (const std::string& path : paths) {
        Program program(path.empty() ? std::vector<std::string>{} : std::vector<std::string>{path}, false);
        lv::TrackMeta meta;
        if (!program.next(meta)) continue;
        std::vector<float> music;
        std::vector<float> chunk(8192);
        for (size_t n; (n = program.read(chunk.data(), 4096)) > 0;)
            music.insert(music.end(), chunk.begin(), chunk.begin() + long(n) * 2);
        const long long total = (long long)music.size() / 2;

        // A fresh analyser per file: gain as asked, no beat memory.
        for (SoundSection* s : sounds.soundSections) {
            s->peak = 0;
            s->beatCounter = 0;
            s->numBeats = 0;
            s->lastBeatTimer = int32_t(millis());
        }
        sounds.multi = gain;

        SpectrumAnalyzer analyzer;
        analyzer.mFloorDb = floorDb;
        analyzer.mBytesPerDb = bytesPerDb;
        analyzer.mTiltDbPerOctave = tilt;
        unsigned char spectrum[2][512], waveform[2][512];
        float window[WINDOW_FRAMES * 2];
        double sumLevel[5] = {}, overThreshold[5] = {}, sumBytes[5] = {};
        double sumMaxed = 0, sum255 = 0;
        int maxMaxed = 0, frames = 0;
        int beatsBefore[5] = {};
        for (int s = 0; s < 5; ++s) beatsBefore[s] = sounds.soundSections[size_t(s)]->numBeats;
        for (long long f = 0;; ++f) {
            long long pos = f * SAMPLE_RATE / fps;
            if (pos >= total) break;
            for (int i = 0; i < WINDOW_FRAMES; ++i) {
                long long p = pos - WINDOW_FRAMES + i;
                window[2 * i] = p >= 0 ? music[size_t(p) * 2] : 0.0f;
                window[2 * i + 1] = p >= 0 ? music[size_t(p) * 2 + 1] : 0.0f;
            }
            analyzer.compute(window, spectrum, waveform);
            source.updateSpectrumData(spectrum);
            clock.advanceMicros(1000000 / fps);
            int before[5];
            for (int s = 0; s < 5; ++s) before[s] = sounds.soundSections[size_t(s)]->numBeats;
            sounds.exist();
            ++frames;
            sumMaxed += sounds.totalMaxed;
            maxMaxed = std::max(maxMaxed, sounds.totalMaxed);
            sum255 += (spectrum[0][255] + spectrum[1][255]) * 0.5;
            std::string marks;
            for (int s = 0; s < 5; ++s) {
                SoundSection* sec = sounds.soundSections[size_t(s)];
                sumLevel[s] += sec->average[0];
                if (sec->average[0] > 16.0f - 2.0f * s) overThreshold[s] += 1;
                for (int b = sec->indexStart; b < sec->indexEnd; ++b)
                    sumBytes[s] += (spectrum[0][b] + spectrum[1][b]) * 0.5 / sec->indexTotal;
                marks += sec->numBeats != before[s] ? char('0' + s) : '.';
            }
            if (timeline && marks != ".....")
                std::printf("%7.2f s  %s  levels %5.1f %5.1f %5.1f %5.1f %5.1f\n", double(pos) / SAMPLE_RATE,
                            marks.c_str(), sounds.soundSections[0]->average[0], sounds.soundSections[1]->average[0],
                            sounds.soundSections[2]->average[0], sounds.soundSections[3]->average[0],
                            sounds.soundSections[4]->average[0]);
        }
        double seconds = double(total) / SAMPLE_RATE;
        std::printf("%s (%.1f s, gain %.3f)\n", meta.title.c_str(), seconds, gain);
        std::printf("  section  threshold  beats  every(s)  mean level  frames over  mean byte\n");
        for (int s = 0; s < 5; ++s) {
            int beats = sounds.soundSections[size_t(s)]->numBeats - beatsBefore[s];
            std::printf("  %7d  %9d  %5d  %8.2f  %10.1f  %10.0f%%  %9.1f\n", s, 16 - 2 * s, beats,
                        beats ? seconds / beats : 0.0, sumLevel[s] / frames, 100.0 * overThreshold[s] / frames,
                        sumBytes[s] / frames);
        }
        std::printf("  bands at the top: %.1f on average, %d at most (of 256); bin 255 byte %.1f on average\n",
                    sumMaxed / frames, maxMaxed, sum255 / frames);
    }
    return 0;
}
