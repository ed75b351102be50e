// Outputs written under a hidden name beside the one given, which they take
// only when done, so that a write that fails or is stopped leaves a file
// already under the name as it was. Used by the video writer and the WAV
// beside the frames; nothing outside this folder includes it.
#pragma once

#include <string>

namespace lv {

struct PartFile {
    std::string target;   // the given name, through any links
    std::string part;     // beside it, hidden; empty once settled
    int mode = -1;        // the mode of the file it replaces, given as it settles

    // Makes `part`, a new empty file beside `path` (".NAME.<pid>-<n>.part")
    // that is no one else's; it takes the mode of the file it replaces.
    // False with `why` set when none can be made, or when this user may
    // not write the file it would replace.
    bool create(const std::string& path, std::string& why);
    // `keep`: the part takes the target's name; otherwise it is removed.
    // False, with the part kept and `error` naming both, when the rename
    // fails. Does nothing once settled.
    bool settle(bool keep, std::string& error);
};

}  // namespace lv
