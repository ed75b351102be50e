// Covers and strings that the seed generator writes as corpora and the soak
// feeds the plug-in: pictures made in memory by the tests' picture makers,
// damaged copies of them, and host strings in several scripts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lvfuzz {

struct Sample {
    std::string name;
    std::vector<uint8_t> bytes;
};

// JPEG (baseline, progressive, Adobe CMYK) and PNG, from 1 x 1 up.
std::vector<Sample> goodCovers();
// Truncated, corrupt, oversized by their headers, and not pictures at all.
// Each must decode to nothing, quickly, without a crash.
std::vector<Sample> hostileCovers();
// Latin, CJK, right-to-left, combining marks, emoji (surrogate pairs), lone
// surrogates, an embedded U+0000 and the full 255 units.
std::vector<std::u16string> sampleStrings();

}  // namespace lvfuzz
