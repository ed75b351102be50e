// Which of the three drawings of the scene runs. The scene decides what to
// draw the same way under each; they differ only in how it reaches GL:
//
//   reference  immediate mode and display lists, fixed function: the
//              literal drawing the others are held to
//   batched    the same shapes built on the CPU into one vertex array per
//              pass (drawBatch.h), still fixed function (the default)
//   gles       the batched passes' vertices uploaded to buffer objects and
//              drawn with shaders on OpenGL ES 3.0 (glesRenderer.h); needs
//              an ES 3 context
//
// useRenderer() is the one place the choice is made; everything else asks
// rendererIsGles() or reads the scene's mBatchedDraw flags it sets.
#pragma once

enum RendererKind { RENDERER_REFERENCE, RENDERER_BATCHED, RENDERER_GLES };

extern RendererKind gRenderer;

// Picks the drawing: sets the wells' and particles' mBatchedDraw (off for
// the reference) and routes the kit to the ES renderer for gles. The scene
// objects made later (resetScene) follow the choice too. Make the GL objects
// for the new choice with the applet's setupPostGL in a context of its API.
void useRenderer(RendererKind kind);
inline bool rendererIsGles() { return gRenderer == RENDERER_GLES; }

// "reference", "batched", "gles". parseRenderer returns false (and leaves
// *kind) for any other name.
const char* rendererName(RendererKind kind);
bool parseRenderer(const char* name, RendererKind* kind);
