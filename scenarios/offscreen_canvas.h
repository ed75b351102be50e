// A GL context drawing on the platform's offscreen port, made current, for
// the programs that draw the scene without a host: lv-snapshot and the
// drawing benchmarks. It is what the plug-in does on "show", minus the
// plug-in. Released (context, then pixel format) when it goes.
//
// Failure: open() returns false with `error` naming the step and the GL
// layer's own explanation; present() likewise.
#pragma once

#include <string>
#include <vector>

#include "lv/gl_context.h"
#include "lv/port.h"

namespace lvscenario {

class OffscreenCanvas {
public:
    // The port, to set up further (a frameReady call-back) before open().
    LVPort port{};
    std::vector<unsigned char> pixels;

    OffscreenCanvas() = default;
    OffscreenCanvas(const OffscreenCanvas&) = delete;
    OffscreenCanvas& operator=(const OffscreenCanvas&) = delete;
    ~OffscreenCanvas();

    // A width x height canvas (multisampled when asked and offered); the
    // viewport is the whole port, which updateContext leaves to the caller.
    // `api`: the context's client API (ES 3 for the ES renderer).
    bool open(int width, int height, bool multisample, std::string& error,
              lvgl::Api api = lvgl::Api::DESKTOP_GL);
    // Presents the frame: the port's pixels (or its frameReady call-back)
    // then hold it, row 0 at the top.
    bool present(std::string& error);
    // Makes this canvas's context current again (after another's).
    bool makeCurrent(std::string& error);

private:
    lvgl::PixelFormat* mFormat = nullptr;
    lvgl::Context* mContext = nullptr;
};

}  // namespace lvscenario
