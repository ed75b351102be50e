// Relocatable memory blocks ("handles") as the host interface passes them:
// cover art crosses from host to plug-in in a handle, and the plug-in
// disposes of it. A Handle points at a record whose first member is the data
// pointer, so *handle is the data, as hosts and plug-ins expect. Both sides
// include this header, so allocation and release always match.
//
// NewHandle returns null when the size is absurd or memory is short;
// GetHandleSize(null) is 0; DisposeHandle(null) does nothing.
#pragma once

#include <cstddef>
#include <cstdlib>

#include "iTunesAPI.h"

namespace lv_handle_detail {
struct Block {
    char* data;     // must stay first: a Handle is &block->data
    size_t size;
};
constexpr size_t kMaxHandleSize = size_t(1) << 30;   // 1 GiB: anything larger is an error
}  // namespace lv_handle_detail

inline Handle NewHandle(size_t size) {
    using lv_handle_detail::Block;
    if (size > lv_handle_detail::kMaxHandleSize) return nullptr;
    Block* b = static_cast<Block*>(std::malloc(sizeof(Block)));
    if (!b) return nullptr;
    b->data = static_cast<char*>(std::malloc(size ? size : 1));
    if (!b->data) {
        std::free(b);
        return nullptr;
    }
    b->size = size;
    return &b->data;
}

inline size_t GetHandleSize(Handle h) {
    return h ? reinterpret_cast<lv_handle_detail::Block*>(h)->size : 0;
}

inline void DisposeHandle(Handle h) {
    if (!h) return;
    auto* b = reinterpret_cast<lv_handle_detail::Block*>(h);
    std::free(b->data);
    std::free(b);
}

// Blocks never move here; locking is kept so that callers read as they would
// against a host whose blocks do.
inline void HLock(Handle) {}
inline void HUnlock(Handle) {}

// Artwork format codes a host may report with "covr".
constexpr OSType kCoverArtJPEG = FourCC("JPEG");
constexpr OSType kCoverArtPNG = FourCC("PNGf");
