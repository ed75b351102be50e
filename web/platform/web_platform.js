// The platform layer's browser half (linked with --js-library): what only
// the browser offers to web/platform/*.cpp. Kept to canvas 2D text, the
// screen's size and the WebGL renderer's name.
mergeInto(LibraryManager.library, {
  $lvText: {
    canvas: null,
    context: function (width, height) {
      if (!lvText.canvas) {
        lvText.canvas = typeof OffscreenCanvas !== 'undefined' ? new OffscreenCanvas(1, 1)
                                                                : document.createElement('canvas');
      }
      const c = lvText.canvas;
      if (c.width < width) c.width = width;
      if (c.height < height) c.height = height;
      return c.getContext('2d', { willReadFrequently: true });
    },
    font: function (family, pixelSize) { return pixelSize + 'px ' + family; },
  },

  lv_web_text_draw__deps: ['$lvText'],
  lv_web_text_draw: function (utf8, family, pixelSize, rgba, width, height, x, baseline, out) {
    const g = lvText.context(width, height);
    if (!g) return 0;
    g.setTransform(1, 0, 0, 1, 0, 0);
    g.clearRect(0, 0, width, height);
    g.font = lvText.font(UTF8ToString(family), pixelSize);
    g.textBaseline = 'alphabetic';
    g.direction = 'inherit';
    const c = HEAPF64.subarray(rgba >> 3, (rgba >> 3) + 4);
    const byte = (v) => Math.round(Math.min(Math.max(v, 0), 1) * 255);
    g.fillStyle = 'rgba(' + byte(c[0]) + ',' + byte(c[1]) + ',' + byte(c[2]) + ',' + Math.min(Math.max(c[3], 0), 1) + ')';
    g.fillText(UTF8ToString(utf8), x, baseline);
    HEAPU8.set(g.getImageData(0, 0, width, height).data, out);
    return 1;
  },

  lv_web_text_measure__deps: ['$lvText'],
  lv_web_text_measure: function (utf8, family, pixelSize, metrics) {
    const g = lvText.context(1, 1);
    if (!g) return 0;
    g.font = lvText.font(UTF8ToString(family), pixelSize);
    const m = g.measureText(UTF8ToString(utf8));
    const ascent = m.fontBoundingBoxAscent !== undefined ? m.fontBoundingBoxAscent : m.actualBoundingBoxAscent;
    const descent = m.fontBoundingBoxDescent !== undefined ? m.fontBoundingBoxDescent : m.actualBoundingBoxDescent;
    HEAPF64[metrics >> 3] = m.width;
    HEAPF64[(metrics >> 3) + 1] = ascent;
    HEAPF64[(metrics >> 3) + 2] = descent;
    return 1;
  },

  lv_web_screen_size: function (width, height) {
    const ratio = window.devicePixelRatio || 1;
    HEAP32[width >> 2] = Math.round(window.screen.width * ratio);
    HEAP32[height >> 2] = Math.round(window.screen.height * ratio);
  },

  lv_web_gl_renderer: function (out, capacity) {
    const gl = GLctx;
    let name = 'WebGL 2';
    if (gl) {
      const info = gl.getExtension('WEBGL_debug_renderer_info');
      name = String(gl.getParameter(info ? info.UNMASKED_RENDERER_WEBGL : gl.RENDERER));
    }
    stringToUTF8(name, out, capacity);
  },
});
