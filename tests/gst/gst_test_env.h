// Where the tests' GStreamer finds the element: the build's gst/ folder
// (beside bin/, where the test programs are), with a registry of its own,
// scanned in the test's process so that a sanitizer build's element loads
// beside its runtime. Set before gst_init, and inherited by the
// gst-launch-1.0 processes the tests start.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace lvtest {

inline void useTheBuildsElement() {
    const std::filesystem::path build = std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path();
    setenv("GST_PLUGIN_PATH", (build / "gst").c_str(), 1);
    setenv("GST_REGISTRY", (build / "gst" / "registry.bin").c_str(), 1);
    setenv("GST_REGISTRY_FORK", "no", 1);
}

}  // namespace lvtest
