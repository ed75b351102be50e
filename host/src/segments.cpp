#include "segments.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "audio_constants.h"
#include "command_line.h"
#include "lv/video_join.h"
#include "options.h"

namespace fs = std::filesystem;

namespace {

// The tag's words, in this order: "lumenvortex segment K/N frames A-B sound
// S continues C fingerprint HEX settings ...".
constexpr char kTagStart[] = "lumenvortex segment ";
// The container's own tags, which its muxer writes again.
const char* const kContainerTags[] = {"major_brand", "minor_version", "compatible_brands", "encoder",
                                      "creation_time", "description"};

// A whole number from the environment, or false.
bool environmentNumber(const char* name, long long& value) {
    const char* text = std::getenv(name);
    if (!text || !*text) return false;
    char* end = nullptr;
    value = std::strtoll(text, &end, 10);
    return end && *end == 0;
}

// K from a job array: Slurm's task id (from its array's first id), else
// Kubernetes' completion index (from 0).
bool indexFromJob(int& index, std::string& error) {
    long long id = 0, first = 0;
    if (environmentNumber("SLURM_ARRAY_TASK_ID", id)) {
        if (!environmentNumber("SLURM_ARRAY_TASK_MIN", first)) first = 1;
        index = int(id - first + 1);
        return true;
    }
    if (environmentNumber("JOB_COMPLETION_INDEX", id)) {
        index = int(id + 1);
        return true;
    }
    error = "--segment N takes K from a job array, but neither SLURM_ARRAY_TASK_ID nor JOB_COMPLETION_INDEX is set: "
            "give --segment K/N";
    return false;
}

}  // namespace

bool parseSegment(const std::string& value, int& index, int& count, std::string& error) {
    constexpr int kMostParts = 100000;
    const size_t slash = value.find('/');
    if (value == "auto") {
        long long n = 0;
        if (!environmentNumber("SLURM_ARRAY_TASK_COUNT", n) || !indexFromJob(index, error)) {
            error = "--segment auto reads a Slurm array's SLURM_ARRAY_TASK_ID and SLURM_ARRAY_TASK_COUNT, which are "
                    "not set: give --segment K/N";
            return false;
        }
        count = int(std::clamp<long long>(n, 0, kMostParts + 1LL));
    } else if (slash == std::string::npos) {
        if (!parseIntIn(value, 1, kMostParts, count)) {
            error = "--segment takes K/N (like 2/8), N or auto";
            return false;
        }
        if (!indexFromJob(index, error)) return false;
    } else if (!parseIntIn(value.substr(0, slash), 1, kMostParts, index) ||
               !parseIntIn(value.substr(slash + 1), 1, kMostParts, count)) {
        error = "--segment takes K/N, two whole numbers from 1 to " + std::to_string(kMostParts) + " (like 2/8)";
        return false;
    }
    if (count < 1 || count > kMostParts || index < 1 || index > count) {
        error = "--segment " + std::to_string(index) + "/" + std::to_string(count) +
                ": K must be from 1 to N (a job array's ids count from its first)";
        return false;
    }
    return true;
}

SegmentFrames segmentFrames(int index, int count, long long totalFrames) {
    SegmentFrames s;
    s.first = (index - 1) * totalFrames / count;
    s.end = index == count ? -1 : index * totalFrames / count;
    return s;
}

std::string formatSegmentTag(const SegmentTag& t) {
    std::ostringstream text;
    text << kTagStart << t.index << '/' << t.count << " frames " << t.first << '-';
    if (t.end >= 0) text << t.end;
    text << " sound " << t.soundFrom << " continues " << (t.continues ? 1 : 0) << " fingerprint " << t.fingerprint
         << " settings " << t.settings;
    return text.str();
}

bool parseSegmentTag(const std::string& text, SegmentTag& t) {
    if (text.compare(0, sizeof kTagStart - 1, kTagStart) != 0) return false;
    std::istringstream in(text.substr(sizeof kTagStart - 1));
    std::string frames, word[5];
    char slash = 0;
    int continues = 0;
    if (!(in >> t.index >> slash >> t.count >> word[0] >> frames >> word[1] >> t.soundFrom >> word[2] >> continues >>
          word[3] >> t.fingerprint >> word[4]) ||
        slash != '/' || word[0] != "frames" || word[1] != "sound" || word[2] != "continues" ||
        word[3] != "fingerprint" || word[4] != "settings")
        return false;
    std::getline(in >> std::ws, t.settings);
    t.continues = continues != 0;
    const size_t dash = frames.find('-');
    if (dash == std::string::npos) return false;
    t.first = std::atoll(frames.c_str());
    t.end = dash + 1 < frames.size() ? std::atoll(frames.c_str() + dash + 1) : -1;
    return true;
}

std::string renderSettings(const Options& o) {
    std::ostringstream text;
    text << o.width << 'x' << o.height << ' ' << o.fps << "fps crf " << o.crf << ' ' << o.preset << ' '
         << fs::path(o.renderPath).extension().string() << " duration " << o.durationSeconds << " highlight "
         << o.highlightSeconds << " renderer " << (o.renderer.empty() ? "default" : o.renderer) << " background "
         << o.background << (o.backgroundCover ? " cover" : "") << (o.backgroundImage.empty() ? "" : " image ")
         << fs::path(o.backgroundImage).filename().string() << (o.transparent ? " transparent" : "") << " version "
         << programVersion();
    return text.str();
}

bool segmentFingerprint(const std::vector<std::string>& paths, const std::string& settings, std::string& fingerprint,
                        std::string& error) {
    return lv::sha256Hex(paths, settings, fingerprint, error);
}

namespace {

std::string tagOf(const lv::VideoFileInfo& info, const char* key) {
    for (const auto& [k, v] : info.metadata)
        if (k == key) return v;
    return "";
}

}  // namespace

bool segmentDone(const std::string& path, const SegmentTag& wanted) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return false;
    lv::VideoFileInfo info;
    std::string error;
    SegmentTag there;
    return lv::readVideoInfo(path, info, error) && parseSegmentTag(tagOf(info, "description"), there) &&
           there.index == wanted.index && there.count == wanted.count && there.first == wanted.first &&
           there.end == wanted.end && there.fingerprint == wanted.fingerprint && info.frames > 0;
}

namespace {

struct Part {
    std::string path;
    lv::VideoFileInfo info;
    SegmentTag tag;
};

// The parts against each other: one render's, each once, all of them, in
// order. The sentence says which is wrong.
bool checkParts(const std::vector<Part>& parts, std::string& error) {
    const SegmentTag& first = parts[0].tag;
    for (size_t i = 0; i < parts.size(); ++i) {
        const Part& p = parts[i];
        if (p.tag.fingerprint != first.fingerprint || p.tag.count != first.count) {
            error = p.path + " is a part of another render (other music or options) than " + parts[0].path +
                    ": give the parts of one render";
            return false;
        }
        for (size_t j = 0; j < i; ++j)
            if (parts[j].tag.index == p.tag.index) {
                error = p.path + " is part " + std::to_string(p.tag.index) + " again (as " + parts[j].path +
                        "): give each part once";
                return false;
            }
    }
    if (int(parts.size()) != first.count) {
        std::string missing;
        for (int k = 1; k <= first.count; ++k)
            if (std::none_of(parts.begin(), parts.end(), [k](const Part& p) { return p.tag.index == k; }))
                missing += (missing.empty() ? "" : ", ") + std::to_string(k);
        error = "the render has " + std::to_string(first.count) + " parts; part " + missing +
                " is missing: render it with --segment K/" + std::to_string(first.count) + " first";
        return false;
    }
    for (size_t i = 0; i < parts.size(); ++i)
        if (parts[i].tag.index != int(i) + 1) {
            error = "the parts are out of order: " + parts[i].path + " is part " +
                    std::to_string(parts[i].tag.index) + " but comes " + std::to_string(i + 1) +
                    (i ? "th" : "st") + ": give them in order (1 to N)";
            return false;
        }
    return true;
}

// The whole render's chapters: each part's from where it begins, the one
// at a part's start left out when its track began in the part before.
std::vector<lv::VideoChapter> wholeChapters(const std::vector<Part>& parts) {
    std::vector<lv::VideoChapter> all;
    for (const Part& p : parts) {
        const long long fromMs = (p.tag.soundFrom - parts[0].tag.soundFrom) * 1000 / SAMPLE_RATE;
        for (const lv::VideoChapter& c : p.info.chapters) {
            if (c.startMs == 0 && p.tag.continues && !all.empty()) continue;
            all.push_back({fromMs + c.startMs, c.title});
        }
    }
    if (all.size() == 1) all.clear();   // one track: no chapters, as a whole render writes
    return all;
}

}  // namespace

int runJoin(const std::vector<std::string>& args) {
    auto say = [](const std::string& m) { std::fprintf(stderr, "lumenvortex: %s\n", m.c_str()); };
    if (args.size() < 2) {
        say("--join takes the video to write and the parts' videos: lumenvortex --join OUT.mp4 PART1.mp4 PART2.mp4 ...");
        return 2;
    }
    const std::string out = args[0];
    std::vector<Part> parts;
    std::string error;
    for (size_t i = 1; i < args.size(); ++i) {
        Part p{args[i], {}, {}};
        std::error_code ec;
        if (!fs::is_regular_file(p.path, ec)) {
            say("part " + p.path + " is missing: render it first (--segment K/N)");
            return 2;
        }
        if (!lv::readVideoInfo(p.path, p.info, error)) {
            say(error);
            return 2;
        }
        if (!parseSegmentTag(tagOf(p.info, "description"), p.tag)) {
            say(p.path + " is no part of a render (made without --segment): give the videos --segment K/N wrote");
            return 2;
        }
        if (fs::exists(out, ec) && fs::equivalent(out, p.path, ec)) {
            say("the joined video would be written over " + p.path + ", one of the parts: give it another name");
            return 2;
        }
        parts.push_back(std::move(p));
    }
    if (!checkParts(parts, error)) {
        say(error);
        return 2;
    }
    std::vector<lv::JoinPart> join;
    for (size_t i = 0; i < parts.size(); ++i)
        join.push_back({parts[i].path, i + 1 < parts.size() ? parts[i + 1].tag.soundFrom - parts[i].tag.soundFrom : -1});
    std::vector<std::pair<std::string, std::string>> metadata;
    for (const auto& [key, value] : parts[0].info.metadata)
        if (std::none_of(std::begin(kContainerTags), std::end(kContainerTags),
                         [&key](const char* k) { return key == k; }))
            metadata.push_back({key, value});
    if (!lv::joinVideos(join, out, metadata, wholeChapters(parts), error)) {
        say(error);
        std::error_code ec;
        say(out + " is not written" + (fs::exists(out, ec) ? " (the file there is left as it was)" : ""));
        return 1;
    }
    std::error_code ec;
    std::printf("wrote %s (%zu parts joined)\n", fs::absolute(out, ec).c_str(), parts.size());
    return std::fflush(stdout) == 0 ? 0 : 1;
}
