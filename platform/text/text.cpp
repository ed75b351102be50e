// One line of text onto an RGBA bitmap with Pango and Cairo. See lv/text.h.
#include "lv/text.h"

#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>
#include <pango/pangofc-fontmap.h>

#include <cstdint>
#include <cstring>

namespace lvtext {
namespace {

// "GillSans" is the name the overlay asks for; Gillius ADF is the nearest
// face a Debian system has. The rule is appended to the system's own
// configuration, so every other family keeps its usual fallbacks.
const char kFontRules[] = R"(<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <alias binding="same">
    <family>GillSans</family>
    <prefer><family>Gillius ADF</family></prefer>
    <default><family>sans-serif</family></default>
  </alias>
  <alias binding="same">
    <family>Gill Sans</family>
    <prefer><family>Gillius ADF</family></prefer>
    <default><family>sans-serif</family></default>
  </alias>
</fontconfig>
)";

// The engine: a private fontconfig setup and the Pango font map built on it,
// made on first use and kept; the host process's own fontconfig is untouched.
struct Engine {
    FcConfig* config = nullptr;
    PangoFontMap* fontMap = nullptr;
    bool tried = false;
    std::string startError;   // why the engine could not start, for every later call

    ~Engine() {
        if (fontMap) g_object_unref(fontMap);
        if (config) FcConfigDestroy(config);
    }
};

Engine& engine() {
    static Engine e;
    if (e.tried) return e;
    e.tried = true;
    FcConfig* config = FcInitLoadConfig();
    if (!config) {
        e.startError = "fontconfig cannot load its configuration: install fontconfig-config";
        return e;
    }
    if (!FcConfigParseAndLoadFromMemory(config, reinterpret_cast<const FcChar8*>(kFontRules), FcTrue) ||
        !FcConfigBuildFonts(config)) {
        FcConfigDestroy(config);
        e.startError = "fontconfig cannot build its font list: install fonts-dejavu-core";
        return e;
    }
    PangoFontMap* map = pango_cairo_font_map_new_for_font_type(CAIRO_FONT_TYPE_FT);
    if (!map || !PANGO_IS_FC_FONT_MAP(map)) {
        if (map) g_object_unref(map);
        FcConfigDestroy(config);
        e.startError = "Pango has no fontconfig font map: install libpango-1.0-0 with its FreeType backend";
        return e;
    }
    pango_fc_font_map_set_config(PANGO_FC_FONT_MAP(map), config);
    e.config = config;
    e.fontMap = map;
    return e;
}

constexpr char kNoSize[] = "the text has no size: give the style a positive pixel size";

bool fail(std::string& error, const std::string& message) {
    error = message;
    return false;
}

PangoLayout* makeLayout(PangoContext* pctx, const char* family, double pixelSize) {
    PangoLayout* layout = pango_layout_new(pctx);
    PangoFontDescription* desc = pango_font_description_new();
    pango_font_description_set_family(desc, family && *family ? family : "sans-serif");
    pango_font_description_set_absolute_size(desc, pixelSize * PANGO_SCALE);
    pango_layout_set_font_description(layout, desc);
    pango_font_description_free(desc);
    // A line break in a track name is shown, not obeyed: one line per string.
    pango_layout_set_single_paragraph_mode(layout, TRUE);
    return layout;
}

}  // namespace

std::string resolvedFamily(const char* family) {
    Engine& e = engine();
    if (!e.fontMap) return "";
    PangoContext* pctx = pango_font_map_create_context(e.fontMap);
    PangoFontDescription* desc = pango_font_description_new();
    pango_font_description_set_family(desc, family && *family ? family : "sans-serif");
    pango_font_description_set_absolute_size(desc, 18 * PANGO_SCALE);
    std::string name;
    if (PangoFont* font = pango_font_map_load_font(e.fontMap, pctx, desc)) {
        PangoFontDescription* got = pango_font_describe(font);
        if (const char* f = pango_font_description_get_family(got)) name = f;
        pango_font_description_free(got);
        g_object_unref(font);
    }
    pango_font_description_free(desc);
    g_object_unref(pctx);
    return name;
}

bool measureTextLine(const char16_t* text, size_t length, const TextStyle& style, TextMetrics* out,
                     std::string& error) {
    if (!out) return fail(error, "nowhere to put the metrics: pass a TextMetrics");
    if (!(style.pixelSize > 0)) return fail(error, kNoSize);
    Engine& e = engine();
    if (!e.fontMap) return fail(error, e.startError);
    PangoContext* pctx = pango_font_map_create_context(e.fontMap);
    PangoLayout* layout = makeLayout(pctx, style.family, style.pixelSize);
    const std::string utf8 = lv::utf16ToUtf8(text, length);
    pango_layout_set_text(layout, utf8.data(), int(utf8.size()));
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    const double baseline = double(pango_layout_get_baseline(layout)) / PANGO_SCALE;
    out->width = double(logical.width) / PANGO_SCALE;
    out->ascent = baseline - double(logical.y) / PANGO_SCALE;
    out->descent = double(logical.y + logical.height) / PANGO_SCALE - baseline;
    out->unknownGlyphs = pango_layout_get_unknown_glyphs_count(layout);
    g_object_unref(layout);
    g_object_unref(pctx);
    return true;
}

bool drawTextLine(unsigned char* rgba, int width, int height, int bytesPerRow, double x, double baselineFromTop,
                  const char16_t* text, size_t length, const TextStyle& style, std::string& error) {
    if (!rgba || width <= 0 || height <= 0 || bytesPerRow < int64_t(width) * 4)
        return fail(error, "no bitmap to draw into: pass a positive size and rows of at least width * 4 bytes");
    if (!(style.pixelSize > 0)) return fail(error, kNoSize);
    if (!text || length == 0) return true;
    Engine& e = engine();
    if (!e.fontMap) return fail(error, e.startError);

    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return fail(error, "Cairo cannot make a surface of this size: out of memory");
    }
    // Cairo keeps premultiplied pixels as native-endian 32-bit ARGB words;
    // the bitmap keeps them as R, G, B, A bytes.
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    cairo_surface_flush(surface);
    for (int row = 0; row < height; ++row) {
        const unsigned char* src = rgba + size_t(row) * bytesPerRow;
        uint32_t* dst = reinterpret_cast<uint32_t*>(data + size_t(row) * stride);
        for (int col = 0; col < width; ++col, src += 4)
            dst[col] = (uint32_t(src[3]) << 24) | (uint32_t(src[0]) << 16) | (uint32_t(src[1]) << 8) | src[2];
    }
    cairo_surface_mark_dirty(surface);

    cairo_t* cr = cairo_create(surface);
    PangoContext* pctx = pango_font_map_create_context(e.fontMap);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    pango_cairo_context_set_font_options(pctx, options);
    cairo_font_options_destroy(options);
    pango_cairo_update_context(cr, pctx);

    const std::string utf8 = lv::utf16ToUtf8(text, length);
    PangoLayout* layout = makeLayout(pctx, style.family, style.pixelSize);
    pango_layout_set_text(layout, utf8.data(), int(utf8.size()));
    const double baseline = double(pango_layout_get_baseline(layout)) / PANGO_SCALE;
    cairo_set_source_rgba(cr, style.rgba[0], style.rgba[1], style.rgba[2], style.rgba[3]);
    cairo_move_to(cr, x, baselineFromTop - baseline);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
    g_object_unref(pctx);
    cairo_destroy(cr);

    cairo_surface_flush(surface);
    for (int row = 0; row < height; ++row) {
        const uint32_t* src = reinterpret_cast<const uint32_t*>(data + size_t(row) * stride);
        unsigned char* dst = rgba + size_t(row) * bytesPerRow;
        for (int col = 0; col < width; ++col, dst += 4) {
            const uint32_t p = src[col];
            dst[0] = (p >> 16) & 0xFF;
            dst[1] = (p >> 8) & 0xFF;
            dst[2] = p & 0xFF;
            dst[3] = p >> 24;
        }
    }
    cairo_surface_destroy(surface);
    return true;
}

}  // namespace lvtext
