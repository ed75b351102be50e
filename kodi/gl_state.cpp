#include "gl_state.h"

#include <epoxy/gl.h>

namespace lvkodi {

namespace {

// Index i of GlState::enabled. Dithering is on in a fresh context; the rest off.
constexpr GLenum kCapabilities[GlState::kCapabilityCount] = {
    GL_BLEND, GL_DEPTH_TEST, GL_CULL_FACE, GL_SCISSOR_TEST, GL_STENCIL_TEST, GL_POLYGON_OFFSET_FILL, GL_DITHER};

void setEnabled(GLenum cap, bool on) {
    if (on) glEnable(cap);
    else glDisable(cap);
}

int integer(GLenum name) {
    GLint value = 0;
    glGetIntegerv(name, &value);
    return value;
}

}  // namespace

GlState GlState::capture() {
    GlState s;
    for (int i = 0; i < kCapabilityCount; i++) s.enabled[i] = glIsEnabled(kCapabilities[i]);
    s.blendSrcRgb = integer(GL_BLEND_SRC_RGB);
    s.blendDstRgb = integer(GL_BLEND_DST_RGB);
    s.blendSrcAlpha = integer(GL_BLEND_SRC_ALPHA);
    s.blendDstAlpha = integer(GL_BLEND_DST_ALPHA);
    s.blendEquationRgb = integer(GL_BLEND_EQUATION_RGB);
    s.blendEquationAlpha = integer(GL_BLEND_EQUATION_ALPHA);
    GLboolean mask[4] = {GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE};
    glGetBooleanv(GL_DEPTH_WRITEMASK, mask);
    s.depthMask = mask[0];
    s.depthFunc = integer(GL_DEPTH_FUNC);
    glGetBooleanv(GL_COLOR_WRITEMASK, mask);
    for (int i = 0; i < 4; i++) s.colorMask[i] = mask[i];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, s.clearColor);
    glGetFloatv(GL_DEPTH_CLEAR_VALUE, &s.clearDepth);
    s.cullFace = integer(GL_CULL_FACE_MODE);
    s.frontFace = integer(GL_FRONT_FACE);
    glGetIntegerv(GL_VIEWPORT, s.viewport);
    glGetIntegerv(GL_SCISSOR_BOX, s.scissor);
    s.program = integer(GL_CURRENT_PROGRAM);
    s.vertexArray = integer(GL_VERTEX_ARRAY_BINDING);
    s.arrayBuffer = integer(GL_ARRAY_BUFFER_BINDING);
    s.activeTexture = integer(GL_ACTIVE_TEXTURE);
    for (int unit = 0; unit < 2; unit++) {
        glActiveTexture(GLenum(GL_TEXTURE0 + unit));
        s.texture2D[unit] = integer(GL_TEXTURE_BINDING_2D);
    }
    glActiveTexture(GLenum(s.activeTexture));
    s.unpackAlignment = integer(GL_UNPACK_ALIGNMENT);
    s.unpackRowLength = integer(GL_UNPACK_ROW_LENGTH);
    s.packAlignment = integer(GL_PACK_ALIGNMENT);
    glGetFloatv(GL_LINE_WIDTH, &s.lineWidth);
    if (epoxy_is_desktop_gl()) {
        GLint modes[2] = {GL_FILL, GL_FILL};   // core profiles answer one value, older ones two
        glGetIntegerv(GL_POLYGON_MODE, modes);
        s.polygonMode = modes[0];
    }
    s.drawFramebuffer = integer(GL_DRAW_FRAMEBUFFER_BINDING);
    s.readFramebuffer = integer(GL_READ_FRAMEBUFFER_BINDING);
    s.hasFramebuffers = true;
    return s;
}

void GlState::apply() const {
    for (int i = 0; i < kCapabilityCount; i++) setEnabled(kCapabilities[i], enabled[i]);
    glBlendFuncSeparate(GLenum(blendSrcRgb), GLenum(blendDstRgb), GLenum(blendSrcAlpha), GLenum(blendDstAlpha));
    glBlendEquationSeparate(GLenum(blendEquationRgb), GLenum(blendEquationAlpha));
    glDepthMask(depthMask);
    glDepthFunc(GLenum(depthFunc));
    glColorMask(colorMask[0], colorMask[1], colorMask[2], colorMask[3]);
    glClearColor(clearColor[0], clearColor[1], clearColor[2], clearColor[3]);
    glClearDepthf(clearDepth);
    glCullFace(GLenum(cullFace));
    glFrontFace(GLenum(frontFace));
    if (viewport[2] > 0 && viewport[3] > 0) glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
    if (scissor[2] >= 0 && scissor[3] >= 0) glScissor(scissor[0], scissor[1], scissor[2], scissor[3]);
    glUseProgram(GLuint(program));
    // The element buffer belongs to the vertex array: binding it brings its own.
    glBindVertexArray(GLuint(vertexArray));
    glBindBuffer(GL_ARRAY_BUFFER, GLuint(arrayBuffer));
    for (int unit = 0; unit < 2; unit++) {
        glActiveTexture(GLenum(GL_TEXTURE0 + unit));
        glBindTexture(GL_TEXTURE_2D, GLuint(texture2D[unit]));
    }
    glActiveTexture(GLenum(activeTexture));
    glPixelStorei(GL_UNPACK_ALIGNMENT, unpackAlignment);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, unpackRowLength);
    glPixelStorei(GL_PACK_ALIGNMENT, packAlignment);
    glLineWidth(lineWidth);
    if (epoxy_is_desktop_gl()) glPolygonMode(GL_FRONT_AND_BACK, GLenum(polygonMode));
    if (hasFramebuffers) {
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, GLuint(drawFramebuffer));
        glBindFramebuffer(GL_READ_FRAMEBUFFER, GLuint(readFramebuffer));
    }
}

}  // namespace lvkodi
