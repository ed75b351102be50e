// The live window's title, pointer and frame rate. See desktop.h.
#include "desktop.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include "lv/utf.h"

namespace desktop {
namespace {

// The text as Latin-1 bytes, or nothing when a character lies beyond U+00FF
// (or the bytes are not UTF-8): in the C locale, as the player runs, Xlib
// would take the UTF-8 bytes themselves for Latin-1 and show "CafÃ©".
std::optional<std::string> latin1(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out += char(c);
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size() && (utf8[i + 1] & 0xC0) == 0x80) {
            out += char(((c & 0x03) << 6) | (utf8[++i] & 0x3F));
        } else {
            return std::nullopt;
        }
    }
    return out;
}

void setText(Display* d, Window w, Atom property, Atom type, const std::string& bytes) {
    XChangeProperty(d, w, property, type, 8, PropModeReplace, reinterpret_cast<const unsigned char*>(bytes.data()),
                    int(bytes.size()));
}

}  // namespace

std::string windowTitle(const lv::TrackMeta& meta, bool paused) {
    const std::string program = "Lumenvortex";
    std::string title = lv::boundTag(meta.title);
    if (!meta.artist.empty() && meta.artist != program)
        title += (title.empty() ? "" : " \xE2\x80\x93 ") + lv::boundTag(meta.artist);   // en dash
    title = title.empty() ? program : title + " \xC2\xB7 " + program;      // middle dot
    return paused ? "\xE2\x8F\xB8 " + title : title;                         // U+23F8 pause symbol
}

// SDL sets these through the locale's converters, and the player keeps the C
// locale: WM_NAME then holds UTF-8 bytes typed as Latin-1 and _NET_WM_NAME
// is not written at all. Written here as bytes, whatever the locale.
void setX11Title(void* display, unsigned long window, const std::string& utf8) {
    auto* d = static_cast<Display*>(display);
    if (!d || !window) return;
    const Atom utf8String = XInternAtom(d, "UTF8_STRING", False);
    setText(d, window, XInternAtom(d, "_NET_WM_NAME", False), utf8String, utf8);
    setText(d, window, XInternAtom(d, "_NET_WM_ICON_NAME", False), utf8String, utf8);
    const std::optional<std::string> plain = latin1(utf8);
    for (Atom property : {Atom(XA_WM_NAME), Atom(XA_WM_ICON_NAME)})
        setText(d, window, property, plain ? Atom(XA_STRING) : utf8String, plain ? *plain : utf8);
    XFlush(d);
}

bool pointerShown(bool fullscreen, Clock::duration sinceMotion) {
    return !fullscreen && sinceMotion < POINTER_IDLE;
}

std::optional<double> FrameRateMeter::tick(Clock::time_point now, bool drew) {
    if (drew) ++mFrames;
    const Clock::duration elapsed = now - mStart;
    if (elapsed < PERIOD) return std::nullopt;
    const long long frames = mFrames;
    mStart = now;
    mFrames = 0;
    if (frames == 0) return std::nullopt;
    return double(frames) / std::chrono::duration<double>(elapsed).count();
}

}  // namespace desktop
