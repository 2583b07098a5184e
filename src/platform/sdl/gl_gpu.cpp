// The GPU interface on an OpenGL 3.3 core context. Entry points come from libOpenGL, which
// dispatches to whatever context (GLX or EGL) is current on the thread.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <string>
#include <unordered_map>

#include "platform/gpu.h"

namespace vaxo2::platform {

namespace {

const char* const kVertexShader = R"(#version 330 core
layout(location = 0) in vec4 aPosition;
layout(location = 1) in vec4 aColour;
layout(location = 2) in vec2 aTexCoord;
layout(location = 3) in uint aMode;
out vec4 vColour;
out vec2 vTexCoord;
flat out vec2 vWeights;
flat out uint vUnit;
void main() {
    gl_Position = aPosition;
    vColour = aColour;
    vTexCoord = aTexCoord;
    // The low byte is the shading mode, the next one the texture unit within the batch.
    uint mode = aMode & 0xFFu;
    vUnit = aMode >> 8;
    // x: how much of the colour comes from the vertex instead of the texture; y: how much the
    // texture's alpha counts (modes: 0 texture alpha x vertex alpha, 1 vertex alpha only,
    // 2 vertex colour, 3 vertex colour with texture alpha x vertex alpha: glyph coverage in
    // the quad's own tint, so glyphs of every colour share their page and their draw call).
    vWeights = vec2(mode >= 2u ? 1.0 : 0.0, (mode == 0u || mode == 3u) ? 1.0 : 0.0);
}
)";

// One texture per draw, and the shading chosen by weights rather than branches: a software
// rasterizer runs every branch of a fragment program for every pixel, so a program that picked
// one of several textures (or modes) with branches cost each full-screen quad many times over.
// Sampled at level 0: the textures have no other.
//
// Glyphs are the exception: a page of text whose glyphs sit on two or more glyph pages would
// otherwise change texture (and draw call) at almost every character. A batch may therefore
// hold up to kMaxBatchTextures textures, drawn by a program that samples every one of them and
// keeps the quad's own (weights again, no branches). Only such batches pay the extra samples;
// a batch of one texture, like any full-screen picture, uses a one-sample program.
constexpr int kMaxBatchTextures = 8;

std::string fragmentShader(int units) {
    std::string text = R"(#version 330 core
in vec4 vColour;
in vec2 vTexCoord;
flat in vec2 vWeights;
flat in uint vUnit;
uniform sampler2D uTexture[)" +
                       std::to_string(units) + R"(];
out vec4 fragColour;
void main() {
    vec4 t = )";
    if (units == 1) {
        text += "textureLod(uTexture[0], vTexCoord, 0.0);\n";
    } else {
        for (int i = 0; i < units; ++i) {
            const std::string n = std::to_string(i);
            text += std::string(i ? " + " : "") + "textureLod(uTexture[" + n +
                    "], vTexCoord, 0.0) * float(vUnit == " + n + "u)";
        }
        text += ";\n";
    }
    text +=
        R"(    fragColour = vec4(mix(t.rgb, vColour.rgb, vWeights.x), vColour.a * mix(1.0, t.a, vWeights.y));
}
)";
    return text;
}

// Texture times vertex colour, nothing else: the common picture draw.
const char* const kPlainFragmentShader = R"(#version 330 core
in vec4 vColour;
in vec2 vTexCoord;
uniform sampler2D uTexture;
out vec4 fragColour;
void main() {
    fragColour = texture(uTexture, vTexCoord) * vColour;
}
)";

GLenum glFunc(StencilFunc f) {
    switch (f) {
        case StencilFunc::Never:
            return GL_NEVER;
        case StencilFunc::Less:
            return GL_LESS;
        case StencilFunc::Equal:
            return GL_EQUAL;
        case StencilFunc::LessEqual:
            return GL_LEQUAL;
        case StencilFunc::Greater:
            return GL_GREATER;
        case StencilFunc::NotEqual:
            return GL_NOTEQUAL;
        case StencilFunc::GreaterEqual:
            return GL_GEQUAL;
        case StencilFunc::Always:
            break;
    }
    return GL_ALWAYS;
}

GLenum glOp(StencilOp op) {
    switch (op) {
        case StencilOp::Zero:
            return GL_ZERO;
        case StencilOp::Replace:
            return GL_REPLACE;
        case StencilOp::Increment:
            return GL_INCR;
        case StencilOp::Decrement:
            return GL_DECR;
        case StencilOp::Invert:
            return GL_INVERT;
        case StencilOp::Keep:
            break;
    }
    return GL_KEEP;
}

// Row-vector product a * b of two row-order matrices.
GpuMatrix multiply(const GpuMatrix& a, const GpuMatrix& b) {
    GpuMatrix r{};
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            float s = 0.0f;
            for (int k = 0; k < 4; ++k) {
                s += a[i * 4 + k] * b[k * 4 + j];
            }
            r[i * 4 + j] = s;
        }
    }
    return r;
}

constexpr GpuMatrix kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// Whether a shader compiled (or, with `program`, a program linked). If not, its log goes into
// `error` and the object is deleted.
bool stepPassed(GLuint object, bool program, std::string& error) {
    GLint ok = 0;
    if (program) {
        glGetProgramiv(object, GL_LINK_STATUS, &ok);
    } else {
        glGetShaderiv(object, GL_COMPILE_STATUS, &ok);
    }
    if (ok) return true;
    char log[1024] = {};
    if (program) {
        glGetProgramInfoLog(object, sizeof log - 1, nullptr, log);
        glDeleteProgram(object);
    } else {
        glGetShaderInfoLog(object, sizeof log - 1, nullptr, log);
        glDeleteShader(object);
    }
    error =
        std::string(program ? "shader program does not link: " : "shader does not compile: ") + log;
    return false;
}

GLuint compileShader(GLenum kind, const char* text, std::string& error) {
    GLuint shader = glCreateShader(kind);
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    return stepPassed(shader, false, error) ? shader : 0;
}

// A program of the vertex shader and `fragmentText`, whose sampler uniform `uTexture` (an
// array of `units` when there are several) samples units 0, 1...
GLuint buildProgram(const char* fragmentText, int units, std::string& error) {
    GLuint vs = compileShader(GL_VERTEX_SHADER, kVertexShader, error);
    if (!vs) return 0;
    GLuint fs = compileShader(GL_FRAGMENT_SHADER, fragmentText, error);
    if (!fs) {
        glDeleteShader(vs);
        return 0;
    }
    GLuint program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glLinkProgram(program);
    glDeleteShader(vs);
    glDeleteShader(fs);
    if (!stepPassed(program, true, error)) return 0;
    glUseProgram(program);
    glUniform1i(glGetUniformLocation(program, "uTexture"), 0);
    for (int unit = 1; unit < units; ++unit) {
        const std::string name = "uTexture[" + std::to_string(unit) + "]";
        glUniform1i(glGetUniformLocation(program, name.c_str()), unit);
    }
    return program;
}

struct TextureEntry {
    GLuint texture = 0;
    GLuint framebuffer = 0;   // render targets only
    GLuint depthStencil = 0;  // render targets only, made when a draw first needs it
    int32_t width = 0;
    int32_t height = 0;
    bool opaque = false;  // every texel's alpha is 255
};

struct TargetFrame {
    GLuint framebuffer = 0;
    GpuTexture target = 0;  // 0: the window
    int32_t width = 0;
    int32_t height = 0;
    int32_t viewport[4] = {0, 0, 0, 0};
    bool flipped = false;
    // Depth and stencil as the last clear left them, everywhere, and nothing of them in GL's
    // buffer yet: draws whose tests that uniform content decides run without the tests (a
    // software rasterizer then neither reads nor writes the depth-stencil buffer), and the
    // buffer is filled only when a draw's outcome would depend on the pixel.
    bool depthStencilKnown = false;
    float depth = 1.0f;
    uint8_t stencil = 0;
};

class GlGpu final : public Gpu {
  public:
    ~GlGpu() override {
        for (auto& [id, entry] : textures_) {
            release(entry);
        }
        if (samplerLinear_) glDeleteSamplers(1, &samplerLinear_);
        if (samplerNearest_) glDeleteSamplers(1, &samplerNearest_);
        if (vertexBuffer_) glDeleteBuffers(1, &vertexBuffer_);
        if (vertexArray_) glDeleteVertexArrays(1, &vertexArray_);
        for (GLuint program : programs_) {
            if (program) glDeleteProgram(program);
        }
        if (plainProgram_) glDeleteProgram(plainProgram_);
    }

    bool init(std::string& error) {
        GLint major = 0, minor = 0;
        glGetIntegerv(GL_MAJOR_VERSION, &major);
        glGetIntegerv(GL_MINOR_VERSION, &minor);
        const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
        const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
        if (version == nullptr) {
            error = "no OpenGL context is current";
            return false;
        }
        caps_.version = version;
        caps_.renderer = renderer ? renderer : "";
        if (major < 3 || (major == 3 && minor < 3)) {
            error = "OpenGL 3.3 is needed, the context has " + caps_.version;
            return false;
        }
        GLint maxSize = 0;
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
        caps_.maxTextureSize = maxSize;
        GLint stencilBits = 0;
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_STENCIL,
                                              GL_FRAMEBUFFER_ATTACHMENT_STENCIL_SIZE, &stencilBits);
        while (glGetError() != GL_NO_ERROR) {
        }
        caps_.stencilBits = stencilBits;

        for (size_t i = 0; i < std::size(programs_); ++i) {
            programs_[i] =
                buildProgram(fragmentShader(kProgramUnits[i]).c_str(), kProgramUnits[i], error);
            if (!programs_[i]) return false;
        }
        plainProgram_ = buildProgram(kPlainFragmentShader, 1, error);
        if (!plainProgram_) return false;
        glUseProgram(programs_[0]);

        glGenVertexArrays(1, &vertexArray_);
        glBindVertexArray(vertexArray_);
        glGenBuffers(1, &vertexBuffer_);
        glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer_);
        glBufferData(GL_ARRAY_BUFFER, sizeof(PackedVertex) * 6, nullptr, GL_STREAM_DRAW);
        glEnableVertexAttribArray(0);
        glVertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, sizeof(PackedVertex),
                              reinterpret_cast<void*>(offsetof(PackedVertex, x)));
        // 0xAARRGGBB in little-endian memory is B, G, R, A: the BGRA component order.
        glEnableVertexAttribArray(1);
        glVertexAttribPointer(1, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(PackedVertex),
                              reinterpret_cast<void*>(offsetof(PackedVertex, diffuse)));
        glEnableVertexAttribArray(2);
        glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, sizeof(PackedVertex),
                              reinterpret_cast<void*>(offsetof(PackedVertex, u)));
        glEnableVertexAttribArray(3);
        glVertexAttribIPointer(3, 1, GL_UNSIGNED_INT, sizeof(PackedVertex),
                               reinterpret_cast<void*>(offsetof(PackedVertex, mode)));

        glGenSamplers(1, &samplerLinear_);
        glGenSamplers(1, &samplerNearest_);
        for (GLuint sampler : {samplerLinear_, samplerNearest_}) {
            const GLint filter = sampler == samplerNearest_ ? GL_NEAREST : GL_LINEAR;
            glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER, filter);
            glSamplerParameteri(sampler, GL_TEXTURE_MAG_FILTER, filter);
            glSamplerParameteri(sampler, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
            glSamplerParameteri(sampler, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        }
        glBindSampler(0, samplerLinear_);

        glDisable(GL_CULL_FACE);
        glDisable(GL_SCISSOR_TEST);
        glEnable(GL_DEPTH_CLAMP);
        glDepthFunc(GL_LEQUAL);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        applyState(requested_, /*force=*/true);
        if (glGetError() != GL_NO_ERROR) {
            error = "OpenGL set-up failed";
            return false;
        }
        return true;
    }

    const GpuCaps& caps() const override { return caps_; }

    GpuTexture createTexture(int32_t width, int32_t height, const uint8_t* bgra) override {
        if (!sizeAllowed(width, height)) return 0;
        TextureEntry entry;
        entry.width = width;
        entry.height = height;
        glGenTextures(1, &entry.texture);
        glBindTexture(GL_TEXTURE_2D, entry.texture);
        setSampling();
        while (glGetError() != GL_NO_ERROR) {
        }
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_BGRA, GL_UNSIGNED_BYTE, bgra);
        const bool ok = glGetError() == GL_NO_ERROR;
        glBindTexture(GL_TEXTURE_2D, 0);
        if (!ok) {
            release(entry);
            return 0;
        }
        entry.opaque = bgra != nullptr && allOpaque(bgra, static_cast<size_t>(width) * height);
        return store(entry);
    }

    bool updateTexture(GpuTexture texture, int32_t x, int32_t y, int32_t width, int32_t height,
                       const uint8_t* bgra) override {
        flush();
        auto it = textures_.find(texture);
        if (it == textures_.end() || bgra == nullptr || x < 0 || y < 0 || width <= 0 ||
            height <= 0 || x > it->second.width - width || y > it->second.height - height) {
            return false;
        }
        glBindTexture(GL_TEXTURE_2D, it->second.texture);
        glTexSubImage2D(GL_TEXTURE_2D, 0, x, y, width, height, GL_BGRA, GL_UNSIGNED_BYTE, bgra);
        glBindTexture(GL_TEXTURE_2D, 0);
        if (it->second.opaque) {
            for (int32_t row = 0; row < height && it->second.opaque; ++row) {
                it->second.opaque = allOpaque(bgra + static_cast<size_t>(row) * width * 4,
                                              static_cast<size_t>(width));
            }
        }
        return true;
    }

    GpuTexture createRenderTarget(int32_t width, int32_t height) override {
        if (!sizeAllowed(width, height)) return 0;
        flush();
        TextureEntry entry;
        entry.width = width;
        entry.height = height;
        while (glGetError() != GL_NO_ERROR) {
        }
        glGenTextures(1, &entry.texture);
        glBindTexture(GL_TEXTURE_2D, entry.texture);
        setSampling();
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_BGRA, GL_UNSIGNED_BYTE,
                     nullptr);
        glBindTexture(GL_TEXTURE_2D, 0);
        glGenFramebuffers(1, &entry.framebuffer);
        glBindFramebuffer(GL_FRAMEBUFFER, entry.framebuffer);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, entry.texture,
                               0);
        const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
        glBindFramebuffer(GL_FRAMEBUFFER, current().framebuffer);
        if (!complete || glGetError() != GL_NO_ERROR) {
            release(entry);
            return 0;
        }
        return store(entry);
    }

    void destroyTexture(GpuTexture texture) override {
        auto it = textures_.find(texture);
        if (it == textures_.end()) return;
        if (std::find(batchTextures_, batchTextures_ + batchTextureCount_, it->second.texture) !=
            batchTextures_ + batchTextureCount_) {
            flush();
        }
        // A target being drawn into stays bound until its end; never leave a dangling one.
        for (TargetFrame& frame : stack_) {
            if (it->second.framebuffer != 0 && frame.framebuffer == it->second.framebuffer) {
                frame.framebuffer = 0;
            }
        }
        release(it->second);
        textures_.erase(it);
    }

    bool textureSize(GpuTexture texture, int32_t& width, int32_t& height) const override {
        auto it = textures_.find(texture);
        if (it == textures_.end()) return false;
        width = it->second.width;
        height = it->second.height;
        return true;
    }

    void setDefaultTargetSize(int32_t width, int32_t height) override {
        flush();
        TargetFrame& base = stack_.front();
        base.width = std::max(0, width);
        base.height = std::max(0, height);
        if (stack_.size() == 1) applyViewport();
    }

    bool beginRenderTarget(GpuTexture target) override {
        auto it = textures_.find(target);
        if (it == textures_.end() || it->second.framebuffer == 0) return false;
        flush();
        TargetFrame frame;
        frame.framebuffer = it->second.framebuffer;
        frame.target = target;
        frame.width = it->second.width;
        frame.height = it->second.height;
        frame.viewport[2] = frame.width;
        frame.viewport[3] = frame.height;
        // Drawn upside down so that the texture's first row holds the top of the picture.
        frame.flipped = true;
        stack_.push_back(frame);
        bindCurrent();
        return true;
    }

    void endRenderTarget() override {
        if (stack_.size() <= 1) return;
        flush();
        stack_.pop_back();
        bindCurrent();
    }

    void setScissor(bool enabled, int32_t x, int32_t y, int32_t width, int32_t height) override {
        flush();
        scissor_ = enabled;
        scissorRect_[0] = x;
        scissorRect_[1] = y;
        scissorRect_[2] = std::max(0, width);
        scissorRect_[3] = std::max(0, height);
        applyScissor();
    }

    void setViewport(int32_t x, int32_t y, int32_t width, int32_t height) override {
        flush();
        TargetFrame& frame = current();
        frame.viewport[0] = x;
        frame.viewport[1] = y;
        frame.viewport[2] = std::max(0, width);
        frame.viewport[3] = std::max(0, height);
        applyViewport();
    }

    void viewport(int32_t& x, int32_t& y, int32_t& width, int32_t& height) const override {
        const TargetFrame& frame = stack_.back();
        x = frame.viewport[0];
        y = frame.viewport[1];
        width = frame.viewport[2];
        height = frame.viewport[3];
    }

    void clear(bool colour, float r, float g, float b, float a, bool depth, float depthValue,
               bool stencil, uint8_t stencilValue) override {
        flush();
        TargetFrame& frame = current();
        // Depth and stencil cleared together (or one of them while the other is still a known
        // value) need no work now: see TargetFrame.
        if ((depth && stencil) || (frame.depthStencilKnown && (depth || stencil))) {
            if (depth) frame.depth = depthValue;
            if (stencil) frame.stencil = stencilValue;
            frame.depthStencilKnown = true;
            depth = stencil = false;
        }
        GLbitfield mask = 0;
        if (colour) {
            glClearColor(r, g, b, a);
            mask |= GL_COLOR_BUFFER_BIT;
        }
        if (depth) {
            glDepthMask(GL_TRUE);
            glClearDepth(depthValue);
            mask |= GL_DEPTH_BUFFER_BIT;
        }
        if (stencil) {
            glStencilMask(0xFF);
            glClearStencil(stencilValue);
            mask |= GL_STENCIL_BUFFER_BIT;
        }
        if (mask != 0) glClear(mask);
        // Put the write masks back as the applied states have them.
        glDepthMask(applied_.depthWrite ? GL_TRUE : GL_FALSE);
        glStencilMask(applied_.stencil.writeMask);
    }

    void setViewMatrix(const GpuMatrix& view) override {
        view_ = view;
        viewProjection_ = multiply(view_, projection_);
    }
    void setProjectionMatrix(const GpuMatrix& projection) override {
        projection_ = projection;
        viewProjection_ = multiply(view_, projection_);
    }
    void setWorldMatrix(const GpuMatrix& world) override { world_ = world; }

    // States are recorded here and put into effect when the quads drawn under them are
    // submitted, so that quads between state changes that cancel out stay in one batch.
    void setDepthState(bool test, bool write) override {
        requested_.depthTest = test;
        requested_.depthWrite = write;
    }
    void setStencilState(const StencilState& s) override { requested_.stencil = s; }
    void setBlendMode(BlendMode mode) override { requested_.blend = mode; }

    void drawQuad(GpuTexture texture, const GpuVertex (&vertices)[4], ShadeMode mode) override {
        GLuint glTexture = 0;
        bool opaqueTexture = false;
        int32_t textureWidth = 0;
        int32_t textureHeight = 0;
        if (texture != 0) {
            auto it = textures_.find(texture);
            if (it == textures_.end()) return;
            glTexture = it->second.texture;
            opaqueTexture = it->second.opaque;
            textureWidth = it->second.width;
            textureHeight = it->second.height;
        }
        if (mode != ShadeMode::VertexColour && glTexture == 0) {
            mode = ShadeMode::VertexColour;
        }
        // A quad whose every fragment comes out with alpha 1 blends to exactly its own colour:
        // drawn without blending, the rasterizer need not read what lies beneath (a full-screen
        // background is most of a frame's work on a software rasterizer).
        DrawState want = requested_;
        if (want.blend != BlendMode::Off) {
            bool opaque =
                mode == ShadeMode::AlphaIgnore || mode == ShadeMode::VertexColour || opaqueTexture;
            for (const GpuVertex& v : vertices)
                opaque = opaque && (v.diffuse >> 24) == 0xFF;
            if (opaque) want.blend = BlendMode::Off;
        }
        const uint32_t shading = static_cast<uint32_t>(mode);
        // Transformed here so that quads with different world matrices share one draw.
        const GpuMatrix m = multiply(world_, viewProjection_);
        const float flip = current().flipped ? -1.0f : 1.0f;
        PackedVertex corner[4];
        for (int i = 0; i < 4; ++i) {
            const GpuVertex& v = vertices[i];
            corner[i].x = v.x * m[0] + v.y * m[4] + v.z * m[8] + m[12];
            corner[i].y = flip * (v.x * m[1] + v.y * m[5] + v.z * m[9] + m[13]);
            corner[i].z = v.x * m[2] + v.y * m[6] + v.z * m[10] + m[14];
            corner[i].w = v.x * m[3] + v.y * m[7] + v.z * m[11] + m[15];
            corner[i].diffuse = v.diffuse;
            corner[i].u = v.u;
            corner[i].v = v.v;
            corner[i].mode = shading;
        }
        if (!resolveDepthStencil(want, corner)) return;  // the stencil test rejects all of it
        if (glTexture != 0) {
            want.nearest = texelExact(corner, textureWidth, textureHeight);
            want.plain = mode == ShadeMode::TextureAlphaModulate;
            for (const GpuVertex& v : vertices)
                want.plain = want.plain && (v.diffuse & 0xFFFFFFu) == 0xFFFFFFu;
        } else if (!pending_.empty()) {
            want.nearest = pendingState_.nearest;  // samples nothing: joins either kind
        }
        if (!pending_.empty() &&
            (!(pendingState_ == want) || pending_.size() + 6 > kMaxBatchVertices)) {
            flush();
        }
        // Quads that sample no texture join any batch; the others one that samples their
        // texture or still has a unit free (the plain program has one unit).
        if (glTexture != 0) {
            const int units = want.plain ? 1 : kMaxBatchTextures;
            int unit = batchUnit(glTexture, units);
            if (unit < 0) {
                flush();
                unit = batchUnit(glTexture, units);
            }
            for (PackedVertex& c : corner)
                c.mode |= static_cast<uint32_t>(unit) << 8;
        }
        if (pending_.empty()) pendingState_ = want;
        // The strip 0-1-2-3 as two triangles.
        static constexpr int kOrder[6] = {0, 1, 2, 2, 1, 3};
        for (int i : kOrder)
            pending_.push_back(corner[i]);
    }

    void flush() override {
        if (pending_.empty()) return;
        applyState(pendingState_, false);
        GLuint program = plainProgram_;
        int units = 1;
        if (!pendingState_.plain) {
            size_t i = 0;
            while (kProgramUnits[i] < batchTextureCount_)
                ++i;
            program = programs_[i];
            units = kProgramUnits[i];
        }
        glUseProgram(program);
        // Units the batch does not use repeat its last texture (their weight is 0).
        const GLuint sampler = pendingState_.nearest ? samplerNearest_ : samplerLinear_;
        for (int unit = 0; unit < units; ++unit) {
            glActiveTexture(GL_TEXTURE0 + unit);
            glBindTexture(GL_TEXTURE_2D,
                          batchTextureCount_ == 0
                              ? 0
                              : batchTextures_[std::min(unit, batchTextureCount_ - 1)]);
            glBindSampler(unit, sampler);
        }
        glActiveTexture(GL_TEXTURE0);
        glBindVertexArray(vertexArray_);
        glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer_);
        // New storage each time: no wait for the previous draw to let go of the buffer.
        glBufferData(GL_ARRAY_BUFFER,
                     static_cast<GLsizeiptr>(pending_.size() * sizeof(PackedVertex)),
                     pending_.data(), GL_STREAM_DRAW);
        glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(pending_.size()));
        ++drawCalls_;
        pending_.clear();
        batchTextureCount_ = 0;
    }

    bool readPixels(std::vector<uint8_t>& rgba, int32_t& width, int32_t& height) override {
        flush();
        const TargetFrame& frame = current();
        width = frame.width;
        height = frame.height;
        if (width <= 0 || height <= 0) return false;
        const size_t row = static_cast<size_t>(width) * 4;
        rgba.assign(row * static_cast<size_t>(height), 0);
        if (frame.framebuffer == 0) glReadBuffer(GL_BACK);
        while (glGetError() != GL_NO_ERROR) {
        }
        glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        if (glGetError() != GL_NO_ERROR) return false;
        // GL rows run bottom to top; a flipped target already holds the top row first.
        if (!frame.flipped) {
            std::vector<uint8_t> line(row);
            for (int32_t y = 0; y < height / 2; ++y) {
                uint8_t* a = rgba.data() + row * static_cast<size_t>(y);
                uint8_t* b = rgba.data() + row * static_cast<size_t>(height - 1 - y);
                std::memcpy(line.data(), a, row);
                std::memcpy(a, b, row);
                std::memcpy(b, line.data(), row);
            }
        }
        return true;
    }

    void finish() override {
        flush();
        glFinish();
    }

    uint64_t drawCalls() const override { return drawCalls_; }

  private:
    struct PackedVertex {
        float x, y, z, w;
        uint32_t diffuse;
        float u, v;
        uint32_t mode;
    };

    struct DrawState {
        BlendMode blend = BlendMode::Off;
        StencilState stencil;
        bool depthTest = true;
        bool depthWrite = false;
        // Every pixel centre falls on a texel centre: nearest sampling gives the same pixels
        // as linear, at a fraction of a software rasterizer's cost.
        bool nearest = false;
        // The quad's colour is the texture's times the vertex colour (white vertices): drawn by
        // the plain program, which a software rasterizer runs on its fastest paths.
        bool plain = false;
        bool operator==(const DrawState&) const = default;
    };

    static constexpr size_t kMaxBatchVertices = 6 * 4096;

    void applyState(const DrawState& want, bool force) {
        if (force || want.depthTest != applied_.depthTest) {
            if (want.depthTest) {
                glEnable(GL_DEPTH_TEST);
            } else {
                glDisable(GL_DEPTH_TEST);
            }
        }
        if (force || want.depthWrite != applied_.depthWrite) {
            glDepthMask(want.depthWrite ? GL_TRUE : GL_FALSE);
        }
        const StencilState& s = want.stencil;
        if (force || !(s == applied_.stencil)) {
            if (s.enabled) {
                glEnable(GL_STENCIL_TEST);
            } else {
                glDisable(GL_STENCIL_TEST);
            }
            glStencilFunc(glFunc(s.func), s.reference, s.readMask);
            glStencilOp(glOp(s.failOp), glOp(s.depthFailOp), glOp(s.passOp));
            glStencilMask(s.writeMask);
        }
        if (force || want.blend != applied_.blend) {
            switch (want.blend) {
                case BlendMode::Off:
                    glDisable(GL_BLEND);
                    break;
                case BlendMode::Alpha:
                    glEnable(GL_BLEND);
                    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
                    break;
                case BlendMode::AlphaKeepCoverage:
                    glEnable(GL_BLEND);
                    glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE,
                                        GL_ONE_MINUS_SRC_ALPHA);
                    break;
            }
        }
        applied_ = want;
    }

    // Decides the depth and stencil work of a quad against a target whose depth-stencil content
    // is a known uniform value: the tests then come out the same at every pixel, so the quad is
    // drawn without them (or not at all), and a stencil write that covers the whole target only
    // changes the known value. Anything else fills the real buffer first. False: the quad draws
    // nothing.
    bool resolveDepthStencil(DrawState& want, const PackedVertex (&corner)[4]) {
        TargetFrame& frame = current();
        if (!frame.depthStencilKnown) {
            ensureDepthStencil(frame);
            return true;
        }
        // Depth is clamped to 0..1 and compared less-or-equal: against 1 or more every fragment
        // passes. Writes only happen where the test is on.
        bool real = want.depthTest && (want.depthWrite || frame.depth < 1.0f);
        uint8_t after = frame.stencil;
        bool passes = true;
        const StencilState& s = want.stencil;
        if (!real && s.enabled) {
            const uint8_t mine = s.reference & s.readMask;
            const uint8_t stored = frame.stencil & s.readMask;
            passes = compare(s.func, mine, stored);
            const uint8_t written =
                applyOp(passes ? s.passOp : s.failOp, frame.stencil, s.reference);
            after = static_cast<uint8_t>((written & s.writeMask) | (frame.stencil & ~s.writeMask));
            if (after != frame.stencil && !coversTarget(corner)) real = true;
        }
        if (real) {
            materializeDepthStencil(frame);
            return true;
        }
        frame.stencil = after;
        want.stencil = StencilState{};
        want.stencil.enabled = false;
        want.depthTest = false;
        want.depthWrite = false;
        return passes;
    }

    static bool compare(StencilFunc func, uint8_t mine, uint8_t stored) {
        switch (func) {
            case StencilFunc::Never:
                return false;
            case StencilFunc::Less:
                return mine < stored;
            case StencilFunc::Equal:
                return mine == stored;
            case StencilFunc::LessEqual:
                return mine <= stored;
            case StencilFunc::Greater:
                return mine > stored;
            case StencilFunc::NotEqual:
                return mine != stored;
            case StencilFunc::GreaterEqual:
                return mine >= stored;
            case StencilFunc::Always:
                break;
        }
        return true;
    }

    static uint8_t applyOp(StencilOp op, uint8_t value, uint8_t reference) {
        switch (op) {
            case StencilOp::Zero:
                return 0;
            case StencilOp::Replace:
                return reference;
            case StencilOp::Increment:
                return value == 255 ? value : static_cast<uint8_t>(value + 1);
            case StencilOp::Decrement:
                return value == 0 ? value : static_cast<uint8_t>(value - 1);
            case StencilOp::Invert:
                return static_cast<uint8_t>(~value);
            case StencilOp::Keep:
                break;
        }
        return value;
    }

    // Whether the quad covers every pixel centre of the current target (the viewport being the
    // whole target): the four points half a pixel in from its corners lie inside the quad.
    bool coversTarget(const PackedVertex (&corner)[4]) const {
        const TargetFrame& f = current();
        if (f.viewport[0] != 0 || f.viewport[1] != 0 || f.viewport[2] != f.width ||
            f.viewport[3] != f.height || f.width <= 0 || f.height <= 0) {
            return false;
        }
        double x[4], y[4];
        for (int i = 0; i < 4; ++i) {
            if (!(corner[i].w > 0.0f)) return false;
            x[i] = static_cast<double>(corner[i].x) / corner[i].w;
            y[i] = static_cast<double>(corner[i].y) / corner[i].w;
        }
        // The strip 0-1-2-3 outlines the polygon 0-1-3-2.
        static constexpr int kRing[5] = {0, 1, 3, 2, 0};
        const double px = 1.0 - 0.5 / f.width;
        const double py = 1.0 - 0.5 / f.height;
        double sign = 0.0;
        for (int e = 0; e < 4; ++e) {
            const int a = kRing[e];
            const int b = kRing[e + 1];
            for (const double cx : {-px, px}) {
                for (const double cy : {-py, py}) {
                    const double cross = (x[b] - x[a]) * (cy - y[a]) - (y[b] - y[a]) * (cx - x[a]);
                    if (cross == 0.0) continue;
                    if (sign == 0.0) sign = cross;
                    if ((cross > 0.0) != (sign > 0.0)) return false;
                }
            }
        }
        return sign != 0.0;
    }

    // Whether the quad puts its texels one to one on pixels: an axis-aligned rectangle on whole
    // pixels, as many pixels as texels on each side, texel edges on pixel edges.
    bool texelExact(const PackedVertex (&c)[4], int32_t textureWidth, int32_t textureHeight) const {
        const TargetFrame& f = current();
        double px[4], py[4], tx[4], ty[4];
        for (int i = 0; i < 4; ++i) {
            if (!(c[i].w > 0.0f) || c[i].w != c[0].w) return false;
            px[i] =
                f.viewport[0] + (static_cast<double>(c[i].x) / c[i].w + 1.0) * 0.5 * f.viewport[2];
            py[i] =
                f.viewport[1] + (static_cast<double>(c[i].y) / c[i].w + 1.0) * 0.5 * f.viewport[3];
            tx[i] = static_cast<double>(c[i].u) * textureWidth;
            ty[i] = static_cast<double>(c[i].v) * textureHeight;
        }
        auto same = [](double a, double b) { return std::abs(a - b) < 1e-3; };
        auto whole = [&same](double a) { return same(a, std::round(a)); };
        for (int i = 0; i < 4; ++i) {
            if (!whole(px[i]) || !whole(py[i]) || !whole(tx[i]) || !whole(ty[i])) return false;
        }
        // Corners 0-1 and 2-3 are rows, 0-2 and 1-3 columns, in the picture and on screen.
        if (!same(py[0], py[1]) || !same(py[2], py[3]) || !same(px[0], px[2]) ||
            !same(px[1], px[3]) || !same(ty[0], ty[1]) || !same(ty[2], ty[3]) ||
            !same(tx[0], tx[2]) || !same(tx[1], tx[3])) {
            return false;
        }
        return same(std::abs(px[1] - px[0]), std::abs(tx[1] - tx[0])) &&
               same(std::abs(py[2] - py[0]), std::abs(ty[2] - ty[0]));
    }

    // A render target gets its depth-stencil buffer when a draw first needs one.
    void ensureDepthStencil(const TargetFrame& frame) {
        if (frame.target == 0) return;
        auto it = textures_.find(frame.target);
        if (it == textures_.end() || it->second.depthStencil != 0) return;
        flush();
        TextureEntry& entry = it->second;
        glGenRenderbuffers(1, &entry.depthStencil);
        glBindRenderbuffer(GL_RENDERBUFFER, entry.depthStencil);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, entry.width, entry.height);
        glBindRenderbuffer(GL_RENDERBUFFER, 0);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER,
                                  entry.depthStencil);
    }

    // Puts the known depth and stencil values into the buffer, for draws that need it per pixel.
    void materializeDepthStencil(TargetFrame& frame) {
        flush();
        ensureDepthStencil(frame);
        frame.depthStencilKnown = false;
        glDepthMask(GL_TRUE);
        glClearDepth(frame.depth);
        glStencilMask(0xFF);
        glClearStencil(frame.stencil);
        glClear(GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        glDepthMask(applied_.depthWrite ? GL_TRUE : GL_FALSE);
        glStencilMask(applied_.stencil.writeMask);
    }

    bool sizeAllowed(int32_t width, int32_t height) const {
        return width > 0 && height > 0 && width <= caps_.maxTextureSize &&
               height <= caps_.maxTextureSize;
    }

    static void setSampling() {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    }

    static bool allOpaque(const uint8_t* bgra, size_t pixels) {
        for (size_t i = 0; i < pixels; ++i) {
            if (bgra[i * 4 + 3] != 0xFF) return false;
        }
        return true;
    }

    static void release(TextureEntry& entry) {
        if (entry.framebuffer) glDeleteFramebuffers(1, &entry.framebuffer);
        if (entry.depthStencil) glDeleteRenderbuffers(1, &entry.depthStencil);
        if (entry.texture) glDeleteTextures(1, &entry.texture);
        entry = TextureEntry{};
    }

    GpuTexture store(const TextureEntry& entry) {
        const GpuTexture id = nextId_++;
        textures_.emplace(id, entry);
        return id;
    }

    TargetFrame& current() { return stack_.back(); }
    const TargetFrame& current() const { return stack_.back(); }

    void bindCurrent() {
        glBindFramebuffer(GL_FRAMEBUFFER, current().framebuffer);
        applyViewport();
        applyScissor();
    }

    // Only the window's own target is limited (GL counts rows from the bottom).
    void applyScissor() {
        if (scissor_ && stack_.size() == 1) {
            const TargetFrame& f = current();
            glEnable(GL_SCISSOR_TEST);
            glScissor(scissorRect_[0], f.height - (scissorRect_[1] + scissorRect_[3]),
                      scissorRect_[2], scissorRect_[3]);
        } else {
            glDisable(GL_SCISSOR_TEST);
        }
    }

    void applyViewport() {
        const TargetFrame& f = current();
        // The interface counts from the top; GL from the bottom unless the target is flipped.
        const int32_t y = f.flipped ? f.viewport[1] : f.height - (f.viewport[1] + f.viewport[3]);
        glViewport(f.viewport[0], y, f.viewport[2], f.viewport[3]);
    }

    GpuCaps caps_;
    bool scissor_ = false;
    int32_t scissorRect_[4] = {0, 0, 0, 0};
    // The unit a texture samples from in the pending batch, adding it when fewer than `units`
    // are taken; -1 when they all are.
    int batchUnit(GLuint texture, int units) {
        for (int i = 0; i < batchTextureCount_; ++i) {
            if (batchTextures_[i] == texture) return i;
        }
        if (batchTextureCount_ >= units) return -1;
        batchTextures_[batchTextureCount_] = texture;
        return batchTextureCount_++;
    }

    // Texture units of the general programs: a batch uses the first with enough of them.
    static constexpr int kProgramUnits[] = {1, 2, 4, kMaxBatchTextures};
    GLuint programs_[std::size(kProgramUnits)] = {};
    GLuint plainProgram_ = 0;
    GLuint vertexArray_ = 0;
    GLuint vertexBuffer_ = 0;
    GLuint samplerLinear_ = 0;
    GLuint samplerNearest_ = 0;
    std::unordered_map<GpuTexture, TextureEntry> textures_;
    GpuTexture nextId_ = 1;
    std::vector<TargetFrame> stack_ = std::vector<TargetFrame>(1);
    GpuMatrix view_ = kIdentity;
    GpuMatrix projection_ = kIdentity;
    GpuMatrix viewProjection_ = kIdentity;
    GpuMatrix world_ = kIdentity;
    DrawState requested_;
    DrawState applied_;
    std::vector<PackedVertex> pending_;
    GLuint batchTextures_[kMaxBatchTextures] = {};  // what the pending quads sample
    int batchTextureCount_ = 0;
    DrawState pendingState_;
    uint64_t drawCalls_ = 0;
};

}  // namespace

std::unique_ptr<Gpu> createGlGpu(std::string& error) {
    auto gpu = std::make_unique<GlGpu>();
    if (!gpu->init(error)) {
        return nullptr;
    }
    return gpu;
}

}  // namespace vaxo2::platform
