// Playlists, stand-in titles and cover pictures beside the music.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "lv/media.h"

namespace fs = std::filesystem;

namespace lv {

namespace {

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Bigger than any scan of a sleeve; a file named cover.jpg that is not one
// must not be read into memory for every track of its folder.
constexpr std::uintmax_t kMaxCoverBytes = 64u << 20;

bool readWholeFile(const fs::path& path, std::vector<unsigned char>& out) {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec || size > kMaxCoverBytes) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Folders are walked in name order, files and subfolders interleaved, so
// "01 Intro.flac" plays before "CD2/..." as a file manager lists them.
void collect(const fs::path& dir, std::vector<std::string>& out, std::vector<std::string>& problems, int depth) {
    if (depth > 32) return;   // a link loop
    std::error_code ec;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec), end; !ec && it != end;
         it.increment(ec))
        entries.push_back(*it);
    if (ec) {
        problems.push_back("cannot read the folder " + dir.string() + ": " + ec.message());
        return;
    }
    std::sort(entries.begin(), entries.end(),
              [](const fs::directory_entry& a, const fs::directory_entry& b) {
                  return a.path().filename().string() < b.path().filename().string();
              });
    for (const auto& e : entries) {
        std::error_code tec;
        if (e.is_directory(tec))
            collect(e.path(), out, problems, depth + 1);
        else if (e.is_regular_file(tec) && looksLikeAudioFile(e.path().filename().string()))
            out.push_back(e.path().string());
    }
}

}  // namespace

CoverImage findCoverBeside(const std::string& audioPath) {
    std::error_code ec;
    fs::path dir = fs::path(audioPath).parent_path();
    if (dir.empty()) dir = ".";
    static const char* const kNames[] = {"cover.jpg", "cover.jpeg", "cover.png", "folder.jpg", "folder.jpeg",
                                         "folder.png"};
    std::vector<fs::path> found(std::size(kNames));
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = lower(it->path().filename().string());
        for (size_t i = 0; i < std::size(kNames); ++i)
            if (name == kNames[i] && found[i].empty()) found[i] = it->path();
    }
    for (const fs::path& p : found) {
        if (p.empty()) continue;
        CoverImage c;
        if (!readWholeFile(p, c.bytes)) continue;
        c.format = sniffImageFormat(c.bytes.data(), c.bytes.size());
        if (c.format != ImageFormat::NoImage) return c;
    }
    return {};
}

CoverImage readCoverFile(const std::string& path) {
    CoverImage c;
    std::error_code ec;
    if (!fs::is_regular_file(path, ec) || !readWholeFile(path, c.bytes)) return {};
    c.format = sniffImageFormat(c.bytes.data(), c.bytes.size());
    return c.empty() ? CoverImage{} : c;
}

std::string titleFromPath(const std::string& path) {
    fs::path p(path);
    std::string stem = p.stem().string();
    return stem.empty() ? p.filename().string() : stem;
}

bool looksLikeAudioFile(const std::string& name) {
    static const char* const kExtensions[] = {
        ".mp3", ".flac", ".ogg", ".oga", ".opus", ".m4a", ".m4b", ".aac", ".mp4", ".wav", ".wave", ".aif",
        ".aiff", ".aifc", ".wma", ".ape", ".wv", ".mka", ".mpc", ".ac3", ".caf", ".alac", ".spx", ".tta",
        ".webm", ".mp2", ".dsf", ".au"};
    std::string l = lower(name);
    for (const char* ext : kExtensions) {
        size_t n = std::strlen(ext);
        if (l.size() > n && l.compare(l.size() - n, n, ext) == 0) return true;
    }
    return false;
}

std::vector<std::string> expandPlaylist(const std::vector<std::string>& paths, std::vector<std::string>& problems) {
    std::vector<std::string> out;
    for (const std::string& p : paths) {
        std::error_code ec;
        fs::file_status st = fs::status(p, ec);
        if (ec || !fs::exists(st)) {
            problems.push_back("no such file or folder: " + p);
        } else if (fs::is_directory(st)) {
            size_t before = out.size();
            collect(p, out, problems, 0);
            if (out.size() == before) problems.push_back("no audio files in the folder " + p);
        } else {
            out.push_back(p);
        }
    }
    return out;
}

}  // namespace lv
