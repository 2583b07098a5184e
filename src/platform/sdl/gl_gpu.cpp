// The GPU interface on an OpenGL 3.3 core context. Entry points come from libOpenGL, which
// dispatches to whatever context (GLX or EGL) is current on the thread.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
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
flat out vec4 vUnit;
void main() {
    gl_Position = aPosition;
    vColour = aColour;
    vTexCoord = aTexCoord;
    uint mode = aMode & 0xFFu;
    uint unit = aMode >> 8;
    vUnit = vec4(unit == 0u ? 1.0 : 0.0, unit == 1u ? 1.0 : 0.0, unit == 2u ? 1.0 : 0.0,
                 unit == 3u ? 1.0 : 0.0);
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
// a batch of one texture, like any full-screen picture, uses the one-sample program.
constexpr int kMaxBatchTextures = 4;

std::string fragmentShader(int units) {
    std::string text = R"(#version 330 core
in vec4 vColour;
in vec2 vTexCoord;
flat in vec2 vWeights;
flat in vec4 vUnit;
uniform sampler2D uTexture[)" +
                       std::to_string(units) + R"(];
out vec4 fragColour;
void main() {
    vec4 t = )";
    if (units == 1) {
        text += "textureLod(uTexture[0], vTexCoord, 0.0);\n";
    } else {
        static const char* const kComponent[] = {"x", "y", "z", "w"};
        for (int i = 0; i < units; ++i) {
            text += std::string(i ? " + " : "") + "textureLod(uTexture[" + std::to_string(i) +
                    "], vTexCoord, 0.0) * vUnit." + kComponent[i];
        }
        text += ";\n";
    }
    text +=
        R"(    fragColour = vec4(mix(t.rgb, vColour.rgb, vWeights.x), vColour.a * mix(1.0, t.a, vWeights.y));
}
)";
    return text;
}

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

GLuint compileShader(GLenum kind, const char* text, std::string& error) {
    GLuint shader = glCreateShader(kind);
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[1024] = {};
        glGetShaderInfoLog(shader, sizeof log - 1, nullptr, log);
        error = std::string("shader does not compile: ") + log;
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

struct TextureEntry {
    GLuint texture = 0;
    GLuint framebuffer = 0;   // render targets only
    GLuint depthStencil = 0;  // render targets only
    int32_t width = 0;
    int32_t height = 0;
    bool opaque = false;  // every texel's alpha is 255
};

struct TargetFrame {
    GLuint framebuffer = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t viewport[4] = {0, 0, 0, 0};
    bool flipped = false;
};

class GlGpu final : public Gpu {
  public:
    ~GlGpu() override {
        for (auto& [id, entry] : textures_) {
            release(entry);
        }
        if (vertexBuffer_) glDeleteBuffers(1, &vertexBuffer_);
        if (vertexArray_) glDeleteVertexArrays(1, &vertexArray_);
        for (GLuint program : programs_) {
            if (program) glDeleteProgram(program);
        }
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

        GLuint vs = compileShader(GL_VERTEX_SHADER, kVertexShader, error);
        if (!vs) return false;
        for (size_t i = 0; i < std::size(programs_); ++i) {
            const int units = kProgramUnits[i];
            const std::string text = fragmentShader(units);
            programs_[i] = linkProgram(vs, text.c_str(), error);
            if (!programs_[i]) break;
            glUseProgram(programs_[i]);
            for (int unit = 0; unit < units; ++unit) {
                const std::string name = "uTexture[" + std::to_string(unit) + "]";
                glUniform1i(glGetUniformLocation(programs_[i], name.c_str()), unit);
            }
        }
        glDeleteShader(vs);
        if (!programs_[std::size(programs_) - 1]) return false;

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
        glGenRenderbuffers(1, &entry.depthStencil);
        glBindRenderbuffer(GL_RENDERBUFFER, entry.depthStencil);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, width, height);
        glBindRenderbuffer(GL_RENDERBUFFER, 0);
        glGenFramebuffers(1, &entry.framebuffer);
        glBindFramebuffer(GL_FRAMEBUFFER, entry.framebuffer);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, entry.texture,
                               0);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER,
                                  entry.depthStencil);
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
        if (texture != 0) {
            auto it = textures_.find(texture);
            if (it == textures_.end()) return;
            glTexture = it->second.texture;
            opaqueTexture = it->second.opaque;
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
        // Quads that sample no texture join any batch; the others one that samples their
        // texture or still has a unit free.
        int unit = glTexture == 0 ? 0 : batchUnit(glTexture);
        if (!pending_.empty() &&
            (!(pendingState_ == want) || pending_.size() + 6 > kMaxBatchVertices || unit < 0)) {
            flush();
            unit = glTexture == 0 ? 0 : batchUnit(glTexture);
        }
        if (pending_.empty()) pendingState_ = want;
        const uint32_t shading = static_cast<uint32_t>(mode) | static_cast<uint32_t>(unit) << 8;
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
        // The strip 0-1-2-3 as two triangles.
        static constexpr int kOrder[6] = {0, 1, 2, 2, 1, 3};
        for (int i : kOrder)
            pending_.push_back(corner[i]);
    }

    void flush() override {
        if (pending_.empty()) return;
        applyState(pendingState_, false);
        size_t program = 0;
        while (kProgramUnits[program] < batchTextureCount_)
            ++program;
        glUseProgram(programs_[program]);
        // Units the batch does not use repeat its last texture (their weight is 0).
        for (int unit = 0; unit < kProgramUnits[program]; ++unit) {
            glActiveTexture(GL_TEXTURE0 + unit);
            glBindTexture(GL_TEXTURE_2D,
                          batchTextureCount_ == 0
                              ? 0
                              : batchTextures_[std::min(unit, batchTextureCount_ - 1)]);
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
    }

    void applyViewport() {
        const TargetFrame& f = current();
        // The interface counts from the top; GL from the bottom unless the target is flipped.
        const int32_t y = f.flipped ? f.viewport[1] : f.height - (f.viewport[1] + f.viewport[3]);
        glViewport(f.viewport[0], y, f.viewport[2], f.viewport[3]);
    }

    // The unit a texture samples from in the pending batch, adding it when a unit is free;
    // -1 when the batch is full.
    int batchUnit(GLuint texture) {
        for (int i = 0; i < batchTextureCount_; ++i) {
            if (batchTextures_[i] == texture) return i;
        }
        if (batchTextureCount_ == kMaxBatchTextures) return -1;
        batchTextures_[batchTextureCount_] = texture;
        return batchTextureCount_++;
    }

    static GLuint linkProgram(GLuint vertexShader, const char* fragmentText, std::string& error) {
        GLuint fs = compileShader(GL_FRAGMENT_SHADER, fragmentText, error);
        if (!fs) return 0;
        GLuint program = glCreateProgram();
        glAttachShader(program, vertexShader);
        glAttachShader(program, fs);
        glLinkProgram(program);
        glDeleteShader(fs);
        GLint linked = 0;
        glGetProgramiv(program, GL_LINK_STATUS, &linked);
        if (!linked) {
            char log[1024] = {};
            glGetProgramInfoLog(program, sizeof log - 1, nullptr, log);
            error = std::string("shader program does not link: ") + log;
            glDeleteProgram(program);
            return 0;
        }
        return program;
    }

    // Texture units of each program: a batch uses the first program with enough of them.
    static constexpr int kProgramUnits[] = {1, 2, kMaxBatchTextures};

    GpuCaps caps_;
    GLuint programs_[std::size(kProgramUnits)] = {};
    GLuint vertexArray_ = 0;
    GLuint vertexBuffer_ = 0;
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
