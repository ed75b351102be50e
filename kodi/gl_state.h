// The GL state a host's frame and the visualizer's frame each rely on, for
// sharing one context: Kodi draws its GUI and its OSD around the
// visualisation in the same context, and each side must find the state it
// left. A frame of the visualizer is
//
//   GlState host = GlState::capture();
//   mine.apply();          // what the visualizer left last frame
//   ... draw ...
//   mine = GlState::capture();
//   host.apply();          // Kodi's, as it was
//
// The framebuffers bound for drawing and reading are the host's on both
// sides: the visualizer draws into whatever the host has bound, and only the
// host's own state puts a binding back.
//
// Works in either client API (desktop GL, compatibility or core profile, and
// OpenGL ES 3), through libepoxy, with the context current on this thread.
#pragma once

namespace lvkodi {

struct GlState {
    // Capabilities, in the order of kCapabilities (gl_state.cpp).
    static constexpr int kCapabilityCount = 7;
    bool enabled[kCapabilityCount] = {false, false, false, false, false, false, true};
    int blendSrcRgb = 1, blendDstRgb = 0, blendSrcAlpha = 1, blendDstAlpha = 0;   // GL_ONE, GL_ZERO
    int blendEquationRgb = 0x8006, blendEquationAlpha = 0x8006;                   // GL_FUNC_ADD
    bool depthMask = true;
    int depthFunc = 0x0201;                                                        // GL_LESS
    bool colorMask[4] = {true, true, true, true};
    float clearColor[4] = {0, 0, 0, 0};
    float clearDepth = 1.0f;
    int cullFace = 0x0405, frontFace = 0x0901;                                     // GL_BACK, GL_CCW
    int viewport[4] = {0, 0, 0, 0};
    int scissor[4] = {0, 0, 0, 0};
    int program = 0, vertexArray = 0, arrayBuffer = 0;
    int activeTexture = 0x84C0;                                                    // GL_TEXTURE0
    int texture2D[2] = {0, 0};                                                     // units 0 and 1
    int unpackAlignment = 4, unpackRowLength = 0, packAlignment = 4;
    float lineWidth = 1.0f;
    int polygonMode = 0x1B02;                                                      // GL_FILL (desktop only)
    int drawFramebuffer = 0, readFramebuffer = 0;
    bool hasFramebuffers = false;   // only a captured state binds its framebuffers back

    // What the current context holds now.
    static GlState capture();
    // Sets all of it; the framebuffers only when hasFramebuffers.
    void apply() const;
    bool operator==(const GlState&) const = default;
};

// The swap above as a scope: while it lives, `mine` is in place; when it
// goes, what the plug-in left is kept in `mine` and the host's state is back.
class PluginStateScope {
public:
    explicit PluginStateScope(GlState& mine) : mMine(mine), mHost(GlState::capture()) { mMine.apply(); }
    ~PluginStateScope() {
        mMine = GlState::capture();
        mMine.hasFramebuffers = false;   // the next frame draws into whatever the host binds then
        mHost.apply();
    }
    PluginStateScope(const PluginStateScope&) = delete;
    PluginStateScope& operator=(const PluginStateScope&) = delete;
    const GlState& host() const { return mHost; }

private:
    GlState& mMine;
    const GlState mHost;
};

}  // namespace lvkodi
