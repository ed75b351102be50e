#include "track_files.h"

#include <strings.h>

#include <algorithm>
#include <filesystem>

#include "video_tags.h"

namespace fs = std::filesystem;

namespace {

// Names Windows keeps for devices, with or without an extension.
bool isDeviceName(const std::string& name) {
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
    const std::string base = name.substr(0, name.find('.'));
    for (const char* d : kDevices)
        if (strcasecmp(base.c_str(), d) == 0) return true;
    return base.size() == 4 && (strncasecmp(base.c_str(), "COM", 3) == 0 || strncasecmp(base.c_str(), "LPT", 3) == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

// Cut to `bytes` at a whole UTF-8 character.
std::string cutAtCharacter(std::string text, size_t bytes) {
    if (text.size() <= bytes) return text;
    size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text;
}

std::string trimEnd(std::string text) {
    while (!text.empty() && (text.back() == '.' || text.back() == ' ')) text.pop_back();
    return text;
}

}  // namespace

bool isFolderOutput(const std::string& renderPath) {
    std::error_code ec;
    return !renderPath.empty() && (renderPath.back() == '/' || fs::is_directory(renderPath, ec));
}

const std::vector<std::string>& trackFormats() {
    static const std::vector<std::string> formats = {"mp4", "mkv", "webm", "mov"};
    return formats;
}

std::string safeFileName(const std::string& name) {
    std::string safe;
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        safe += u < 0x20 || u == 0x7f || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos ? '_' : c;
    }
    safe = trimEnd(cutAtCharacter(trimEnd(safe), kMaxTrackFileBytes));
    if (safe.empty()) return "_";
    return isDeviceName(safe) ? "_" + safe : safe;
}

std::string trackFileName(int number, int count, const lv::TrackMeta& meta, const std::string& ext) {
    const int digits = std::max(2, int(std::to_string(count).size()));
    std::string numberText = std::to_string(number);
    numberText.insert(0, size_t(std::max(0, digits - int(numberText.size()))), '0');
    const std::string title = meta.title.empty() ? fs::path(meta.path).stem().string() : meta.title;
    const std::string stem = numberText + " " + (meta.artist.empty() ? title : meta.artist + " - " + title);
    return safeFileName(cutAtCharacter(stem, kMaxTrackFileBytes - 1 - ext.size())) + "." + ext;
}

bool TrackFiles::plan(const std::string& folder, const std::string& ext, const std::vector<std::string>& paths,
                      const lv::TrackMeta& first, long long limitMs, bool force, std::string& error) {
    mFolder = folder, mExt = ext;
    std::vector<lv::TrackMeta> tracks;
    if (paths.empty()) tracks.push_back(first);
    for (const std::string& path : paths) {
        lv::TrackMeta meta;
        std::string unread;   // said by the render when it comes to the track
        if (lv::probeTrack(path, meta, unread)) tracks.push_back(std::move(meta));
    }
    for (const lv::TrackMeta& meta : tracks) {
        const int number = int(mPlan.size()) + 1;
        mPlan.push_back({meta.path, (fs::path(folder) / trackFileName(number, int(tracks.size()), meta, ext)).string(),
                         number, meta.durationMs});
    }
    long long startMs = 0;   // past a track of unknown length, any later one may be heard
    for (const Planned& p : mPlan) {
        if (limitMs >= 0 && startMs >= limitMs) break;
        startMs = startMs < 0 || p.durationMs < 0 ? -1 : startMs + p.durationMs;
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(p.file, ec))) continue;
        for (const std::string& track : paths)
            if (fs::equivalent(track, p.file, ec)) {
                error = p.file + " would be written over " + track + ", which is one of the tracks: name another "
                                                                      "folder";
                return false;
            }
        if (!force) {
            error = p.file + " is there already: add --force to replace it, or name another folder";
            return false;
        }
    }
    return true;
}

lv::VideoWriter* TrackFiles::open(const lv::TrackMeta& meta, lv::VideoOptions options, std::string& error) {
    // The same file may be in the list twice: the next one of that name.
    auto planned = std::find_if(mPlan.begin() + long(mNext), mPlan.end(),
                                [&](const Planned& p) { return p.track == meta.path; });
    std::string path;
    int number;
    if (planned != mPlan.end()) {
        mNext = size_t(planned - mPlan.begin()) + 1;
        path = planned->file, number = planned->number;
    } else {   // a track that could not be probed ahead yet plays
        number = int(mNext) + 1;
        path = (fs::path(mFolder) / trackFileName(number, int(mPlan.size()), meta, mExt)).string();
    }
    describeMusic(options, meta, {}, -1);
    options.metadata.push_back({"track", std::to_string(number) + "/" + std::to_string(mPlan.size())});
    options.metadata.push_back({"comment", "Lumenvortex"});
    auto video = std::make_unique<lv::VideoWriter>();
    if (!video->open(path, options, error)) return nullptr;
    mFiles.push_back({path, std::move(video)});
    return mFiles.back().video.get();
}

bool TrackFiles::close(std::string& error, bool keep) {
    bool ok = true;
    for (File& f : mFiles) {
        if (f.video->partPath().empty()) continue;   // finished as the next began
        std::string closeError;
        if (!f.video->close(closeError, keep) && ok) {
            error = closeError;
            ok = false;
        }
    }
    return ok;
}

long long TrackFiles::framesWritten() const {
    long long frames = 0;
    for (const File& f : mFiles) frames += f.video->framesWritten();
    return frames;
}
