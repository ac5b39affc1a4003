#include "picture.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

// How long a frame may spend on a picture, so that keys, clicks and paints
// waiting meanwhile are handled soon.
constexpr double kSliceMs = 12;
// llvmpipe draws small slices faster than large ones: 10M points took 0.7 s
// in slices of 25,000, 1.2 s in one call.
constexpr int kMostPerSlice = 32768;

} // namespace

TPicture::~TPicture()
{
    for (Buffer& buffer : buffers_) {
        if (buffer.framebuffer == 0)
            continue;
        glDeleteFramebuffers(1, &buffer.framebuffer);
        glDeleteRenderbuffers(2, buffer.renderbuffers.data());
    }
}

bool TPicture::Offscreen()
{
    if (offscreen_ < 0) {
        // Framebuffer objects and their blit came with OpenGL 3.0.
        const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
        int major = 0;
        offscreen_ = version && std::sscanf(version, "%d", &major) == 1 && major >= 3 ? 1 : 0;
        // As deep as the window's depth buffer, so that depths compare alike.
        GLint bits = 24;
        if (offscreen_ == 1)
            glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_DEPTH,
                                                  GL_FRAMEBUFFER_ATTACHMENT_DEPTH_SIZE, &bits);
        depthFormat_ = bits >= 32   ? GL_DEPTH_COMPONENT32
                       : bits >= 24 ? GL_DEPTH_COMPONENT24
                                    : GL_DEPTH_COMPONENT16;
    }
    return offscreen_ == 1;
}

void TPicture::Begin(Buffer& buffer, const Scene& scene)
{
    const int width = scene.viewport[2];
    const int height = scene.viewport[3];
    if (buffer.framebuffer == 0) {
        glGenFramebuffers(1, &buffer.framebuffer);
        glGenRenderbuffers(2, buffer.renderbuffers.data());
    }
    glBindFramebuffer(GL_FRAMEBUFFER, buffer.framebuffer);
    if (buffer.width != width || buffer.height != height) {
        const GLenum formats[] = {GL_RGBA8, static_cast<GLenum>(depthFormat_)};
        const GLenum attachments[] = {GL_COLOR_ATTACHMENT0, GL_DEPTH_ATTACHMENT};
        for (int i = 0; i < 2; ++i) {
            glBindRenderbuffer(GL_RENDERBUFFER, buffer.renderbuffers[static_cast<std::size_t>(i)]);
            glRenderbufferStorage(GL_RENDERBUFFER, formats[i], std::max(width, 1),
                                  std::max(height, 1));
            glFramebufferRenderbuffer(GL_FRAMEBUFFER, attachments[i], GL_RENDERBUFFER,
                                      buffer.renderbuffers[static_cast<std::size_t>(i)]);
        }
        buffer.width = width;
        buffer.height = height;
    }
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    buffer.scene = scene;
    started_ = true;
    drawn_ = 0;
}

void TPicture::Draw(unsigned long long points, const float* vertices, int count)
{
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, vertices);
    if (!Offscreen()) {
        glDrawArrays(GL_POINTS, 0, count);
        glDisableClientState(GL_VERTEX_ARRAY);
        return;
    }
    Scene scene;
    scene.points = points;
    glGetFloatv(GL_MODELVIEW_MATRIX, scene.modelview.data());
    glGetFloatv(GL_PROJECTION_MATRIX, scene.projection.data());
    glGetIntegerv(GL_VIEWPORT, scene.viewport.data());
    Buffer& buffer = buffers_[static_cast<std::size_t>(drawing_)];
    const bool shown = complete_ && buffers_[static_cast<std::size_t>(1 - drawing_)].scene == scene;
    if (!shown) {
        if (!started_ || !(buffer.scene == scene))
            Begin(buffer, scene);
        glBindFramebuffer(GL_FRAMEBUFFER, buffer.framebuffer);
        // Slices sized from how fast the last ones went; each is finished
        // before the next, so that the time is spent here and not later.
        using Clock = std::chrono::steady_clock;
        const auto start = Clock::now();
        const auto since = [](Clock::time_point t) {
            return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
        };
        while (drawn_ < count) {
            const double left = kSliceMs - since(start);
            if (left < 1 && drawn_ > 0)
                break;
            // At least 1024 points, but never past the last one.
            const int slice =
                std::min(std::max(static_cast<int>(pointsPerMs_ * std::max(left, 1.0)), 1024),
                         std::min(count - drawn_, kMostPerSlice));
            const auto sliceStart = Clock::now();
            glDrawArrays(GL_POINTS, drawn_, slice);
            glFinish();
            pointsPerMs_ = (pointsPerMs_ + slice / std::max(since(sliceStart), 0.05)) / 2;
            drawn_ += slice;
        }
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        if (drawn_ >= count) {
            complete_ = true;
            started_ = false;
            drawing_ = 1 - drawing_;
        }
    }
    glDisableClientState(GL_VERTEX_ARRAY);
    Present();
}

void TPicture::Present() const
{
    if (!complete_)
        return;
    const Buffer& shown = buffers_[static_cast<std::size_t>(1 - drawing_)];
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, shown.framebuffer);
    glBlitFramebuffer(0, 0, shown.width, shown.height, viewport[0], viewport[1],
                      viewport[0] + viewport[2], viewport[1] + viewport[3], GL_COLOR_BUFFER_BIT,
                      GL_NEAREST);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
}
