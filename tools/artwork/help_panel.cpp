// The help panel: a 256 x 256 translucent black card with the title block in
// its top quarter and the key help below, drawn with Cairo and set in Gillius
// ADF through Pango (any sans face when that family is missing).
//
// Text is rendered with grey-scale anti-aliasing, vertical-only hinting and
// fixed 1 px = 1 unit sizes, so the same fonts give the same bytes.
#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "artwork.h"

namespace artwork {

namespace {

constexpr int SIZE = 256;
constexpr double BACKDROP_ALPHA = 112.0;
constexpr const char* FAMILY = "Gillius ADF,Gillius ADF No2,Sans";

struct KeyLine {
    const char* key;   // empty: the gap between the two groups
    const char* text;
};

const KeyLine KEY_LINES[] = {
    {"?", "Toggle help screen"},
    {"C", "Toggle auto-cycle (on by default)"},
    {"M", "Change mode"},
    {"", ""},
    {"+/-", "Increase or decrease the intensity"},
    {"A/S", "Add or Subtract particles (100 at a time)"},
    {"R", "Reset the particles and intensity"},
    {"I", "Display track information"},
};

class Text {
public:
    explicit Text(cairo_t* cr) : mCr(cr), mLayout(pango_cairo_create_layout(cr)) {
        cairo_font_options_t* options = cairo_font_options_create();
        cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
        cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
        cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
        PangoContext* context = pango_layout_get_context(mLayout);
        pango_cairo_context_set_font_options(context, options);
        pango_cairo_context_set_resolution(context, 72.0);
        pango_layout_context_changed(mLayout);
        cairo_font_options_destroy(options);
    }
    ~Text() { g_object_unref(mLayout); }
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;

    // Sets the face and the text; returns the ink-independent logical size.
    std::pair<int, int> set(const char* text, double pixels, PangoWeight weight = PANGO_WEIGHT_NORMAL) {
        PangoFontDescription* font = pango_font_description_from_string(FAMILY);
        pango_font_description_set_absolute_size(font, pixels * PANGO_SCALE);
        pango_font_description_set_weight(font, weight);
        pango_layout_set_font_description(mLayout, font);
        pango_font_description_free(font);
        pango_layout_set_text(mLayout, text, -1);
        int w = 0, h = 0;
        pango_layout_get_pixel_size(mLayout, &w, &h);
        return {w, h};
    }

    int baseline() const { return pango_layout_get_baseline(mLayout) / PANGO_SCALE; }

    // Draws the current text with its baseline at (x, baselineY), over a
    // faint shadow one pixel down and right that keeps thin strokes readable
    // where the panel lies over bright particles.
    void draw(double x, double baselineY, double grey) {
        cairo_set_source_rgba(mCr, 0, 0, 0, 0.55);
        cairo_move_to(mCr, x + 1, baselineY - baseline() + 1);
        pango_cairo_show_layout(mCr, mLayout);
        cairo_set_source_rgb(mCr, grey, grey, grey);
        cairo_move_to(mCr, x, baselineY - baseline());
        pango_cairo_show_layout(mCr, mLayout);
    }

private:
    cairo_t* mCr;
    PangoLayout* mLayout;
};

// The largest size, at most maxPixels, at which text fits in maxWidth.
double fittingSize(Text& t, const char* text, double maxPixels, int maxWidth, PangoWeight weight) {
    double px = maxPixels;
    while (px > 6 && t.set(text, px, weight).first > maxWidth) px -= 0.5;
    return px;
}

// A five-pointed star, point up, with a thin circle around it.
void drawEmblem(cairo_t* cr, double cx, double cy, double outer) {
    const double inner = outer * 0.40;
    cairo_new_path(cr);
    for (int k = 0; k < 10; ++k) {
        double r = (k % 2 == 0) ? outer : inner;
        double a = -M_PI / 2 + k * M_PI / 5;
        cairo_line_to(cr, cx + r * std::cos(a), cy + r * std::sin(a));
    }
    cairo_close_path(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_fill(cr);
    cairo_new_path(cr);
    cairo_arc(cr, cx, cy, outer + 3.5, 0, 2 * M_PI);
    cairo_set_line_width(cr, 1.25);
    cairo_stroke(cr);
}

// Cairo keeps premultiplied native-endian ARGB; the embedded images carry
// straight RGBA, which the GL's blending multiplies itself.
Bytes toStraightRGBA(cairo_surface_t* surface) {
    cairo_surface_flush(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    Bytes out(SIZE * SIZE * 4);
    for (int y = 0; y < SIZE; ++y) {
        for (int x = 0; x < SIZE; ++x) {
            uint32_t px;
            std::memcpy(&px, data + y * stride + 4 * x, 4);
            uint32_t a = px >> 24;
            uint8_t* o = out.data() + 4 * (y * SIZE + x);
            if (a == 0) {
                o[0] = o[1] = o[2] = 255;
            } else {
                for (int c = 0; c < 3; ++c) {
                    uint32_t v = (px >> (16 - 8 * c)) & 0xFF;
                    o[c] = static_cast<uint8_t>(std::min<uint32_t>(255, (v * 255 + a / 2) / a));
                }
            }
            o[3] = static_cast<uint8_t>(a);
        }
    }
    return out;
}

}  // namespace

Bytes infoPanelImage(const std::string& versionText) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, SIZE, SIZE);
    cairo_t* cr = cairo_create(surface);

    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_rgba(cr, 0, 0, 0, BACKDROP_ALPHA / 255.0);
    cairo_paint(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);

    // ---- title block, the top quarter
    drawEmblem(cr, 34, 32, 19);
    {
        Text t(cr);
        const double left = 66;
        const int room = SIZE - static_cast<int>(left) - 8;
        t.set("the Lumenvortex team presents", 9.5);
        t.draw(left, 17, 1.0);
        double px = fittingSize(t, "Lumenvortex", 30, room, PANGO_WEIGHT_NORMAL);
        t.set("Lumenvortex", px);
        t.draw(left - 1, 42, 1.0);
        t.set(versionText.c_str(), 10);
        t.draw(left, 56, 0.62);
    }
    // A hairline under the title block.
    cairo_set_source_rgba(cr, 1, 1, 1, 0.35);
    cairo_rectangle(cr, 14, 66, SIZE - 28, 1);
    cairo_fill(cr);

    // ---- key help: right-aligned labels, left-aligned texts
    {
        Text t(cr);
        const double keyRight = 38;
        const double textLeft = 46;
        const int room = SIZE - static_cast<int>(textLeft) - 6;
        double px = 12;
        for (const KeyLine& line : KEY_LINES) {
            if (*line.text) px = std::min(px, fittingSize(t, line.text, 12, room, PANGO_WEIGHT_NORMAL));
        }
        const int count = static_cast<int>(sizeof KEY_LINES / sizeof KEY_LINES[0]);
        const double pitch = 21;
        const double firstBaseline = 68 + (SIZE - 68 - count * pitch) / 2 + pitch * 0.7;
        for (int k = 0; k < count; ++k) {
            const KeyLine& line = KEY_LINES[k];
            if (!*line.text) continue;
            double baseline = std::round(firstBaseline + k * pitch);
            int keyWidth = t.set(line.key, px, PANGO_WEIGHT_BOLD).first;
            t.draw(keyRight - keyWidth, baseline, 1.0);
            t.set(line.text, px);
            t.draw(textLeft, baseline, 1.0);
        }
    }

    cairo_destroy(cr);
    Bytes out = toStraightRGBA(surface);
    cairo_surface_destroy(surface);
    out.push_back(0);   // the array's spare byte, past the image
    return out;
}

}  // namespace artwork
