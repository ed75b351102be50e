/* What a path that is there, but is no plain file, is: in the same words
 * wherever a program reads music or writes a video, frames or sound. A pipe
 * would hold an open until its other end comes, and nothing can be read
 * twice or written back into from a device or socket.
 */
#pragma once

#include <sys/stat.h>

namespace lv {

// The sentence for `mode` ("it is a named pipe, not a file"); nullptr for a
// plain file.
inline const char* notAFile(mode_t mode) {
    if (S_ISREG(mode)) return nullptr;
    if (S_ISDIR(mode)) return "it is a folder, not a file";
    if (S_ISFIFO(mode)) return "it is a named pipe, not a file";
    return "it is a device or socket, not a file";
}

}  // namespace lv
