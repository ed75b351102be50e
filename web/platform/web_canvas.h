// What the page's host chooses about the canvas's WebGL context before the
// plug-in makes it (web/platform/gl_context.cpp reads it).
#pragma once

namespace lvweb {

// An alpha channel the browser composites over the page: only when the
// frames are cleared to transparent (?background=transparent); opaque
// otherwise, which the browser composites faster.
extern bool gCanvasAlpha;

}  // namespace lvweb
