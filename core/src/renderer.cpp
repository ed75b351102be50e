#include "renderer.h"

#include <cstring>

#include "lumenvortexApplet.h"

RendererKind gRenderer = RENDERER_BATCHED;

void useRenderer(RendererKind kind) {
    gRenderer = kind;
    particleControl.mBatchedDraw = kind != RENDERER_REFERENCE;
    gravityControl.mBatchedDraw = kind != RENDERER_REFERENCE;
}

const char* rendererName(RendererKind kind) {
    switch (kind) {
    case RENDERER_REFERENCE: return "reference";
    case RENDERER_GLES: return "gles";
    default: return "batched";
    }
}

bool parseRenderer(const char* name, RendererKind* kind) {
    if (!name) return false;
    for (RendererKind k : {RENDERER_REFERENCE, RENDERER_BATCHED, RENDERER_GLES}) {
        if (std::strcmp(name, rendererName(k)) == 0) {
            *kind = k;
            return true;
        }
    }
    return false;
}
