// The Kodi add-on's host (kodi/visualizer.h) in GL contexts made as Kodi
// makes its own: EGL on Mesa, a desktop 3.3 core profile (Kodi on the Linux
// desktop) and OpenGL ES 3.0 (Kodi on the Raspberry Pi), each drawing into a
// multisampled framebuffer object that stands for Kodi's, with Kodi's
// viewport a rectangle inside it. What Kodi relies on: its GL state as it
// was, nothing drawn outside its viewport; what people see: the presets, the
// settings, a cover that may be anything, and the same picture as
// lv-snapshot's.
#include <epoxy/gl.h>    // before any other GL header: the host's GL is loaded as Kodi's add-ons load it
#include <epoxy/egl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "field_scenario.h"
#include "gl_test_env.h"
#include "glesRenderer.h"
#include "iTunesUtilities.h"
#include "lumenvortexApplet.h"
#include "lv/gl_context.h"
#include "lv/image.h"
#include "program_test_support.h"
#include "renderer.h"
#include "visualizer.h"

extern PaddedTexture gAlbumCoverTexture;   // the plug-in's cover, as its overlay draws it

namespace {

enum class Api { CORE, ES };
const char* name(Api api) { return api == Api::CORE ? "desktop 3.3 core" : "OpenGL ES 3.0"; }

// Kodi's framebuffer and viewport: a canvas of WIDTH x HEIGHT with a margin
// around it that belongs to Kodi alone.
const int WIDTH = 1120, HEIGHT = 700, MARGIN_X = 40, MARGIN_Y = 30;
const int FB_WIDTH = WIDTH + 2 * MARGIN_X, FB_HEIGHT = HEIGHT + 2 * MARGIN_Y;
const float KODI_CLEAR[4] = {0.2f, 0.4f, 0.6f, 1.0f};

// An EGL context of `api` on Mesa's surfaceless platform, current, with a
// 4x multisampled framebuffer (colour and depth) bound and Kodi's viewport set.
class HostContext {
public:
    explicit HostContext(Api api) {
        mDisplay = eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        EGLint major = 0, minor = 0;
        if (mDisplay == EGL_NO_DISPLAY || !eglInitialize(mDisplay, &major, &minor)) return;
        const bool es = api == Api::ES;
        eglBindAPI(es ? EGL_OPENGL_ES_API : EGL_OPENGL_API);
        const EGLint configAttrs[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE,
                                      es ? EGL_OPENGL_ES3_BIT : EGL_OPENGL_BIT, EGL_NONE};
        EGLConfig config;
        EGLint count = 0;
        if (!eglChooseConfig(mDisplay, configAttrs, &config, 1, &count) || count < 1) return;
        const EGLint coreAttrs[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 3,
                                    EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT, EGL_NONE};
        const EGLint esAttrs[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 0, EGL_NONE};
        mContext = eglCreateContext(mDisplay, config, EGL_NO_CONTEXT, es ? esAttrs : coreAttrs);
        if (mContext == EGL_NO_CONTEXT || !eglMakeCurrent(mDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, mContext)) return;
        mFbo = framebuffer(4, mColor, mDepth);
        mResolveFbo = framebuffer(0, mResolveColor, mResolveDepth);
        glBindFramebuffer(GL_FRAMEBUFFER, mFbo);
        glViewport(MARGIN_X, MARGIN_Y, WIDTH, HEIGHT);
        clear();
        mOk = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE && glGetError() == GL_NO_ERROR;
    }
    ~HostContext() {
        if (mContext == EGL_NO_CONTEXT) return;
        eglMakeCurrent(mDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, mContext);
        for (GLuint fbo : {mFbo, mResolveFbo}) glDeleteFramebuffers(1, &fbo);
        for (GLuint rb : {mColor, mDepth, mResolveColor, mResolveDepth}) glDeleteRenderbuffers(1, &rb);
        eglMakeCurrent(mDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(mDisplay, mContext);
    }
    bool ok() const { return mOk; }

    // Kodi's whole framebuffer in its own colour.
    void clear() {
        glDisable(GL_SCISSOR_TEST);
        glClearColor(KODI_CLEAR[0], KODI_CLEAR[1], KODI_CLEAR[2], KODI_CLEAR[3]);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }

    // The whole framebuffer, resolved, row 0 at the top; the host's bindings stay.
    std::vector<uint8_t> read(int x = 0, int y = 0, int w = FB_WIDTH, int h = FB_HEIGHT) {
        GLint draw = 0, readBinding = 0, pack = 4;
        glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &draw);
        glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &readBinding);
        glGetIntegerv(GL_PACK_ALIGNMENT, &pack);
        GLboolean scissor = glIsEnabled(GL_SCISSOR_TEST);
        glDisable(GL_SCISSOR_TEST);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, mFbo);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, mResolveFbo);
        glBlitFramebuffer(0, 0, FB_WIDTH, FB_HEIGHT, 0, 0, FB_WIDTH, FB_HEIGHT, GL_COLOR_BUFFER_BIT, GL_NEAREST);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, mResolveFbo);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        std::vector<uint8_t> rows(size_t(w) * h * 4), flipped(rows.size());
        glReadPixels(x, y, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rows.data());
        for (int r = 0; r < h; r++)
            std::copy_n(rows.data() + size_t(r) * w * 4, w * 4, flipped.data() + size_t(h - 1 - r) * w * 4);
        glPixelStorei(GL_PACK_ALIGNMENT, pack);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, GLuint(draw));
        glBindFramebuffer(GL_READ_FRAMEBUFFER, GLuint(readBinding));
        if (scissor) glEnable(GL_SCISSOR_TEST);
        return flipped;
    }
    std::vector<uint8_t> readViewport() { return read(MARGIN_X, MARGIN_Y, WIDTH, HEIGHT); }

private:
    GLuint framebuffer(int samples, GLuint& color, GLuint& depth) {
        GLuint fbo = 0;
        glGenFramebuffers(1, &fbo);
        glBindFramebuffer(GL_FRAMEBUFFER, fbo);
        glGenRenderbuffers(1, &color);
        glBindRenderbuffer(GL_RENDERBUFFER, color);
        glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, GL_RGBA8, FB_WIDTH, FB_HEIGHT);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color);
        glGenRenderbuffers(1, &depth);
        glBindRenderbuffer(GL_RENDERBUFFER, depth);
        glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, GL_DEPTH_COMPONENT24, FB_WIDTH, FB_HEIGHT);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth);
        glBindRenderbuffer(GL_RENDERBUFFER, 0);
        return fbo;
    }

    EGLDisplay mDisplay = EGL_NO_DISPLAY;
    EGLContext mContext = EGL_NO_CONTEXT;
    GLuint mFbo = 0, mColor = 0, mDepth = 0, mResolveFbo = 0, mResolveColor = 0, mResolveDepth = 0;
    bool mOk = false;
};

// What Kodi's GUI leaves bound when it asks for a frame: its own program,
// vertex array, buffer and textures, and state the scene must not inherit.
struct KodiObjects {
    GLuint program = 0, vao = 0, buffer = 0, textures[2] = {0, 0};
    KodiObjects() {
        const char* vs = "void main() { gl_Position = vec4(0.0); }";
        const char* fs = "void main() {}";
        const std::string version = epoxy_is_desktop_gl() ? "#version 330 core\n" : "#version 300 es\n";
        program = glCreateProgram();
        for (auto [type, body] : {std::pair{GL_VERTEX_SHADER, vs}, std::pair{GL_FRAGMENT_SHADER, fs}}) {
            GLuint shader = glCreateShader(type);
            const std::string text = version + (type == GL_FRAGMENT_SHADER ? "precision mediump float;\n" : "") + body;
            const char* src = text.c_str();
            glShaderSource(shader, 1, &src, nullptr);
            glCompileShader(shader);
            glAttachShader(program, shader);
            glDeleteShader(shader);
        }
        glLinkProgram(program);
        glGenVertexArrays(1, &vao);
        glGenBuffers(1, &buffer);
        glGenTextures(2, textures);
    }
    ~KodiObjects() {
        glDeleteProgram(program);
        glDeleteVertexArrays(1, &vao);
        glDeleteBuffers(1, &buffer);
        glDeleteTextures(2, textures);
    }
    // Everything the scene draws with, set otherwise.
    void bindHostile() {
        glUseProgram(program);
        glBindVertexArray(vao);
        glBindBuffer(GL_ARRAY_BUFFER, buffer);
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, textures[0]);
        glActiveTexture(GL_TEXTURE1);
        glBindTexture(GL_TEXTURE_2D, textures[1]);
        glEnable(GL_BLEND);
        glBlendFuncSeparate(GL_ONE_MINUS_DST_COLOR, GL_SRC_COLOR, GL_ZERO, GL_ONE);
        glBlendEquationSeparate(GL_FUNC_REVERSE_SUBTRACT, GL_MAX);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_NEVER);
        glDepthMask(GL_FALSE);
        glEnable(GL_CULL_FACE);
        glCullFace(GL_FRONT_AND_BACK);
        glFrontFace(GL_CW);
        glEnable(GL_STENCIL_TEST);
        glEnable(GL_SCISSOR_TEST);
        glScissor(MARGIN_X + 10, MARGIN_Y + 10, 300, 200);
        glColorMask(GL_TRUE, GL_FALSE, GL_TRUE, GL_FALSE);
        glClearColor(0.9f, 0.1f, 0.1f, 1.0f);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glViewport(MARGIN_X, MARGIN_Y, WIDTH, HEIGHT);
    }
};

bool same(const uint8_t* p, const float rgba[4]) {
    for (int i = 0; i < 3; i++)
        if (std::abs(int(p[i]) - int(std::lround(rgba[i] * 255))) > 1) return false;
    return true;
}

// A frame at 60 frames per second, on a clock the test moves.
struct VirtualClock {
    long long micros = 0;
    static long long now(void* self) { return static_cast<VirtualClock*>(self)->micros; }
    static void sleep(void* self, long long us) { static_cast<VirtualClock*>(self)->micros += us > 0 ? us : 0; }
};

// A stereo second of a 110 Hz tone, as Kodi hands PCM over, in pieces.
void feedTone(lvkodi::Visualizer& v) {
    std::vector<float> pcm(2 * 576);
    static long long at = 0;
    for (size_t i = 0; i < pcm.size() / 2; i++, at++) pcm[2 * i] = pcm[2 * i + 1] = 0.6f * std::sin(at * 0.01567f);
    v.audioData(pcm.data(), pcm.size());
}

lv::TrackMeta track(const std::string& title) {
    lv::TrackMeta meta;
    meta.title = title;
    meta.artist = "The Test Band";
    meta.album = "Songs for Tests";
    return meta;
}

// Kodi's state, hostile to the scene, is what it finds after every frame,
// track change and cover, in either API; nothing outside the viewport is
// drawn and the viewport is.
TEST(KodiVisualizer, PutsBackKodisStateAndDrawsOnlyInItsViewport) {
    for (Api api : {Api::CORE, Api::ES}) {
        SCOPED_TRACE(name(api));
        HostContext host(api);
        ASSERT_TRUE(host.ok()) << "no " << name(api) << " context: install libegl-mesa0 and libgl1-mesa-dri";
        KodiObjects kodi;
        lvkodi::Visualizer v;
        ASSERT_TRUE(v.ready()) << v.lastError();
        v.start(2);
        lvtest::TempDir dir;
        const std::string cover = dir.path() + "/cover.png";
        std::vector<uint8_t> red(64 * 64 * 4, 200);
        ASSERT_TRUE(lvtest::writePNG(cover, red.data(), 64, 64));
        for (int frame = 0; frame < 8; frame++) {
            kodi.bindHostile();
            const lvkodi::GlState before = lvkodi::GlState::capture();
            if (frame == 3) {
                v.updateAlbumart(cover);
                v.updateTrack(track("A Song"));
            }
            feedTone(v);
            ASSERT_TRUE(v.render()) << v.lastError();
            const lvkodi::GlState after = lvkodi::GlState::capture();
            EXPECT_TRUE(before == after) << "frame " << frame << " changed Kodi's GL state";
            EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR)) << "frame " << frame;
        }
        EXPECT_NE(gAlbumCoverTexture.texID, 0u) << "the cover did not reach the overlay";
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        const std::vector<uint8_t> fb = host.read();
        int outside = 0, insideKodi = 0;
        for (int y = 0; y < FB_HEIGHT; y++) {
            for (int x = 0; x < FB_WIDTH; x++) {
                const bool in = x >= MARGIN_X && x < MARGIN_X + WIDTH && y >= MARGIN_Y && y < MARGIN_Y + HEIGHT;
                const bool kodis = same(fb.data() + (size_t(y) * FB_WIDTH + x) * 4, KODI_CLEAR);
                if (!in && !kodis) outside++;
                if (in && kodis) insideKodi++;
            }
        }
        EXPECT_EQ(outside, 0) << "pixels drawn outside Kodi's viewport";
        EXPECT_LT(insideKodi, WIDTH * HEIGHT / 100) << "the viewport still shows Kodi's colour: nothing was drawn";
        // Closing the visualisation leaves Kodi's context current, its state untouched.
        kodi.bindHostile();
        const lvkodi::GlState open = lvkodi::GlState::capture();
        const EGLContext current = eglGetCurrentContext();
        v.stop();
        EXPECT_EQ(eglGetCurrentContext(), current) << "hide released Kodi's context";
        EXPECT_TRUE(lvkodi::GlState::capture() == open) << "hide changed Kodi's GL state";
        EXPECT_EQ(v.frames(), 8u);
    }
}

// The shaders' language follows the context: GLSL ES 3.00 on ES and where a
// desktop driver takes it, GLSL 3.30 on a desktop driver without ES 3
// compatibility (ctest runs this binary again with Mesa told to hide it).
TEST(KodiVisualizer, ShadersFollowTheContext) {
    const char* hidden = std::getenv("MESA_EXTENSION_OVERRIDE");
    const bool noEs3 = hidden && std::string(hidden).find("-GL_ARB_ES3_compatibility") != std::string::npos;
    for (Api api : {Api::CORE, Api::ES}) {
        SCOPED_TRACE(name(api));
        HostContext host(api);
        ASSERT_TRUE(host.ok());
        EXPECT_STREQ(glesShaderVersion(), api == Api::CORE && noEs3 ? "#version 330 core\n" : "#version 300 es\n");
        lvkodi::Visualizer v;
        ASSERT_TRUE(v.render()) << v.lastError();
        EXPECT_TRUE(glesRenderer.mReady) << "the shaders did not build";
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }
}

// The presets are the seven modes; next, previous, random and load reach
// them; locked, a new track keeps the mode, unlocked it moves on.
TEST(KodiVisualizer, PresetsAreTheModesAndLockKeepsTheModeOnNewTracks) {
    HostContext host(Api::CORE);
    ASSERT_TRUE(host.ok());
    lvkodi::Visualizer v;
    ASSERT_EQ(lvkodi::Visualizer::presetNames().size(), size_t(gMode.modeCount()));
    ASSERT_TRUE(v.render()) << v.lastError();
    for (int i : {4, 0, 6, 2}) {
        EXPECT_TRUE(v.loadPreset(i));
        EXPECT_EQ(v.activePreset(), i);
    }
    EXPECT_FALSE(v.loadPreset(7));
    EXPECT_FALSE(v.loadPreset(-1));
    EXPECT_EQ(v.activePreset(), 2);
    EXPECT_TRUE(v.loadPreset(6));
    EXPECT_TRUE(v.nextPreset());
    EXPECT_EQ(v.activePreset(), 0);
    EXPECT_TRUE(v.prevPreset());
    EXPECT_EQ(v.activePreset(), 6);
    for (int i = 0; i < 10; i++) {
        const int was = v.activePreset();
        EXPECT_TRUE(v.randomPreset());
        EXPECT_NE(v.activePreset(), was) << "a random preset that changes nothing";
    }
    EXPECT_TRUE(v.lockPreset(true));
    EXPECT_TRUE(v.locked());
    const int locked = v.activePreset();
    v.updateTrack(track("One"));
    v.updateTrack(track("Two"));
    EXPECT_EQ(v.activePreset(), locked);
    EXPECT_TRUE(v.lockPreset(false));
    EXPECT_FALSE(v.locked());
    v.updateTrack(track("Three"));
    EXPECT_EQ(v.activePreset(), (locked + 1) % gMode.modeCount());
    ASSERT_TRUE(v.render()) << v.lastError();
}

// The settings reach the scene at once, in range whatever Kodi stored.
TEST(KodiVisualizer, SettingsApplyAtOnceAndInRange) {
    HostContext host(Api::ES);
    ASSERT_TRUE(host.ok());
    lvkodi::Visualizer v;
    ASSERT_TRUE(v.render()) << v.lastError();
    lvkodi::Settings s;
    s.particles = 1225;
    s.gainSteps = 3;
    s.flow = !gMode.perlinFlow();
    s.palette = (colors.index + 2) % lvkodi::Settings::kPalettes;
    v.apply(s);
    EXPECT_EQ(particleControl.total, 1225);
    EXPECT_NEAR(sounds.multi, 0.5f * std::pow(1.25f, 3), 1e-4);
    EXPECT_EQ(gMode.perlinFlow(), s.flow);
    EXPECT_EQ(colors.index, s.palette);
    EXPECT_TRUE(v.current() == s);
    lvkodi::Settings wild;
    wild.particles = 100000;
    wild.gainSteps = -99;
    wild.palette = 17;
    v.apply(wild);
    EXPECT_EQ(particleControl.total, lvkodi::Settings::kMaxParticles);
    EXPECT_EQ(v.current().gainSteps, lvkodi::Settings::kMinGainSteps);
    EXPECT_EQ(colors.index, lvkodi::Settings::kPalettes - 1);
    v.apply(lvkodi::Settings());
    EXPECT_TRUE(v.current() == lvkodi::Settings());
    ASSERT_TRUE(v.render()) << v.lastError();
}

// Kodi names the cover by a path: whatever lies there, a bad one is no
// cover, and the track still shows.
TEST(KodiVisualizer, AHostileCoverIsNoCover) {
    HostContext host(Api::CORE);
    ASSERT_TRUE(host.ok());
    lvkodi::Visualizer v;
    ASSERT_TRUE(v.render()) << v.lastError();
    lvtest::TempDir dir;
    auto write = [&](const std::string& name, const std::string& bytes) {
        std::ofstream(dir.path() + "/" + name, std::ios::binary) << bytes;
        return dir.path() + "/" + name;
    };
    // A PNG header that claims 100000 x 100000 pixels, then nothing.
    std::string huge("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\x01\x86\xa0\0\x01\x86\xa0\x08\x06\0\0\0\0\0\0\0", 33);
    const std::vector<std::string> covers = {
        "",
        dir.path() + "/missing.jpg",
        dir.path(),
        "/dev/zero",
        write("truncated.jpg", std::string("\xff\xd8\xff\xe0\0\x10JFIF", 10)),
        write("huge.png", huge),
        write("text.png", "not a picture at all"),
    };
    for (const std::string& cover : covers) {
        SCOPED_TRACE(cover);
        v.updateAlbumart(cover);
        v.updateTrack(track("Cover " + cover));
        ASSERT_TRUE(v.render()) << v.lastError();
        EXPECT_EQ(gAlbumCoverTexture.texID, 0u);
    }
}

// The add-on's drawing is lv-snapshot's: the scripted run, each mode, drawn
// by the shader renderer in a desktop core profile into Kodi's framebuffer
// at Kodi's viewport through the host's-context port, with Kodi's hostile
// state between the frames, is within 45 dB of lv-snapshot's OpenGL ES
// picture.
TEST(KodiVisualizer, DrawsLvSnapshotsPictureInEveryMode) {
    const char* bin = std::getenv("LV_BINARY_DIR");
    ASSERT_TRUE(bin) << "run under ctest, which says where lv-snapshot is";
    const int FRAME = 60;
    const std::string dir = lvtest::outputDir() + "/kodi-snapshot";
    const std::string command = std::string(bin) + "/bin/lv-snapshot " + dir + " --renderer gles --frame " +
                                std::to_string(FRAME) + " > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    HostContext host(Api::CORE);
    ASSERT_TRUE(host.ok());
    KodiObjects kodi;
    LVPort port{};
    port.kind = LV_PORT_CURRENT_CONTEXT;
    port.width = FB_WIDTH;
    port.height = FB_HEIGHT;
    std::string error;
    lvgl::PixelFormat* format = lvgl::choosePixelFormat(&port, false, lvgl::Api::DESKTOP_GL, error);
    ASSERT_TRUE(format) << error;
    lvgl::Context* context = lvgl::createContext(format, error);
    lvgl::destroyPixelFormat(format);
    const int rect[4] = {MARGIN_X, MARGIN_Y, WIDTH, HEIGHT};
    ASSERT_TRUE(context && lvgl::setDrawable(context, &port, error) && lvgl::enableBufferRect(context, error) &&
                lvgl::setBufferRect(context, rect, error) && lvgl::updateContext(context, error))
        << error;
    useRenderer(RENDERER_GLES);
    // The scripted run makes its applet the global one while it lives; the
    // plug-in's own, from an earlier test in this process, comes back after.
    LumenvortexApplet* const plugins = gApplet;
    for (int mode = 0; mode < 7; mode++) {
        lvkodi::GlState mine;
        std::optional<lvscenario::ScriptedRun> run;
        for (int n = 0; n <= FRAME; n++) {
            kodi.bindHostile();
            lvkodi::PluginStateScope scope(mine);
            ASSERT_TRUE(lvgl::makeCurrent(context, error)) << error;
            if (n == 0) {
                run.emplace(WIDTH, HEIGHT);
                for (int m = 0; m < mode; m++) run->applet.keyPressed('m');
                continue;
            }
            // As lv-snapshot: the frames before the last only move the field.
            if (n < FRAME) glScissor(0, 0, 0, 0);
            run->frame(n);
        }
        std::vector<uint8_t> picture = host.readViewport();
        run.reset();
        for (size_t i = 3; i < picture.size(); i += 4) picture[i] = 255;
        // Both pictures as PNG files and read back alike (the reader halves
        // pictures over 1024 pixels wide).
        const std::string drawnPath = dir + "/kodi-mode-" + std::to_string(mode) + ".png";
        ASSERT_TRUE(lvtest::writePNG(drawnPath, picture.data(), WIDTH, HEIGHT));
        const lvimage::Image snapshot = lvtest::readPNG(dir + "/mode-" + std::to_string(mode) + ".png");
        const lvimage::Image drawn = lvtest::readPNG(drawnPath);
        ASSERT_GT(snapshot.width, 0);
        ASSERT_EQ(snapshot.width, drawn.width);
        ASSERT_EQ(snapshot.height, drawn.height);
        const double db = lvtest::psnr(drawn.rgba, snapshot.rgba);
        EXPECT_GE(db, 45.0) << "mode " << mode << " (see " << dir << ")";
        std::printf("mode %d: the add-on's drawing against lv-snapshot's, PSNR %.1f dB\n", mode, db);
    }
    useRenderer(RENDERER_BATCHED);
    gApplet = plugins;
    lvgl::destroyContext(context);
}

}  // namespace
