#include "offscreen_canvas.h"

#include <GL/gl.h>

namespace lvscenario {

OffscreenCanvas::~OffscreenCanvas() {
    std::string ignored;   // nothing to be done about a failed release on the way out
    if (mContext) lvgl::makeCurrent(nullptr, ignored);
    lvgl::destroyContext(mContext);
    lvgl::destroyPixelFormat(mFormat);
}

bool OffscreenCanvas::open(int width, int height, bool multisample, std::string& error, lvgl::Api api) {
    port.kind = LV_PORT_OFFSCREEN;
    port.width = width;
    port.height = height;
    if (!port.frameReady) {
        pixels.assign(size_t(width) * size_t(height) * 4, 0);
        port.pixels = pixels.data();
    }
    std::string why;
    const char* step = nullptr;
    mFormat = multisample ? lvgl::choosePixelFormat(&port, true, api, why) : nullptr;
    if (!mFormat) mFormat = lvgl::choosePixelFormat(&port, false, api, why);
    if (!mFormat) step = "no pixel format";
    if (!step && !(mContext = lvgl::createContext(mFormat, why))) step = "no context";
    if (!step && !lvgl::setDrawable(mContext, &port, why)) step = "cannot attach the port";
    if (!step && !lvgl::makeCurrent(mContext, why)) step = "cannot make the context current";
    if (!step && !lvgl::updateContext(mContext, why)) step = "no canvas";
    if (step) {
        error = std::string(step) + ": " + why;
        return false;
    }
    glViewport(0, 0, width, height);
    return true;
}

bool OffscreenCanvas::makeCurrent(std::string& error) { return lvgl::makeCurrent(mContext, error); }

bool OffscreenCanvas::present(std::string& error) {
    std::string why;
    if (lvgl::swapBuffers(mContext, why)) return true;
    error = "cannot read the frame back: " + why;
    return false;
}

}  // namespace lvscenario
