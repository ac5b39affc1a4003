#include "picture.h"

#include <algorithm>
#include <chrono>
#include <climits>

namespace {

// How long a frame may spend on a picture, so that keys, clicks and paints
// waiting meanwhile are handled soon.
constexpr double kSliceMs = 12;
// llvmpipe draws small slices of GL_POINTS faster than large ones: 10M
// points took 0.7 s in slices of 25,000, 1.2 s in one call.
constexpr int kMostPointsPerSlice = 32768;

} // namespace

Picture::Picture()
{
    // Framebuffer objects and their blit came with OpenGL 3.0.
    if (gl_.Version() < 30)
        return;
    compute_ = ComputePass::Make(gl_);
    way_ = compute_ ? Way::Compute : Way::Points;
    // As deep as the window's depth buffer, so that depths compare alike.
    GLint bits = 24;
    gl_.GetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_DEPTH,
                                            GL_FRAMEBUFFER_ATTACHMENT_DEPTH_SIZE, &bits);
    depthFormat_ = bits >= 32   ? GL_DEPTH_COMPONENT32
                   : bits >= 24 ? GL_DEPTH_COMPONENT24
                                : GL_DEPTH_COMPONENT16;
}

Picture::~Picture()
{
    Free();
}

void Picture::Free()
{
    for (Buffer& buffer : buffers_) {
        if (buffer.framebuffer == 0)
            continue;
        gl_.DeleteFramebuffers(1, &buffer.framebuffer);
        glDeleteTextures(1, &buffer.colour);
        if (buffer.depth)
            gl_.DeleteRenderbuffers(1, &buffer.depth);
        buffer = {};
    }
    compute_.reset();
}

bool Picture::Begin(Buffer& buffer, const Scene& scene)
{
    const int width = std::max(scene.viewport[2], 1);
    const int height = std::max(scene.viewport[3], 1);
    if (buffer.framebuffer == 0) {
        gl_.GenFramebuffers(1, &buffer.framebuffer);
        glGenTextures(1, &buffer.colour);
        glBindTexture(GL_TEXTURE_2D, buffer.colour);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        if (way_ == Way::Points)
            gl_.GenRenderbuffers(1, &buffer.depth);
    }
    gl_.BindFramebuffer(GL_FRAMEBUFFER, buffer.framebuffer);
    if (buffer.width != width || buffer.height != height) {
        glBindTexture(GL_TEXTURE_2D, buffer.colour);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                     nullptr);
        glBindTexture(GL_TEXTURE_2D, 0);
        gl_.FramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, buffer.colour,
                                 0);
        if (buffer.depth) {
            gl_.BindRenderbuffer(GL_RENDERBUFFER, buffer.depth);
            gl_.RenderbufferStorage(GL_RENDERBUFFER, static_cast<GLenum>(depthFormat_), width,
                                    height);
            gl_.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER,
                                        buffer.depth);
        }
        buffer.width = width;
        buffer.height = height;
        if (gl_.CheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
            gl_.BindFramebuffer(GL_FRAMEBUFFER, 0);
            return false;
        }
    }
    if (way_ == Way::Compute)
        compute_->Begin({scene.modelview.data(), scene.projection.data(), scene.viewport.data()},
                        buffer.colour);
    else
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    gl_.BindFramebuffer(GL_FRAMEBUFFER, 0);
    buffer.scene = scene;
    started_ = true;
    drawn_ = 0;
    return true;
}

void Picture::DrawDirect(const float* vertices, std::int64_t count)
{
    glEnableClientState(GL_VERTEX_ARRAY);
    // A draw call counts its points in an int.
    for (std::int64_t drawn = 0; drawn < count; drawn += INT_MAX) {
        glVertexPointer(3, GL_FLOAT, 0, vertices + 3 * drawn);
        glDrawArrays(GL_POINTS, 0,
                     static_cast<GLsizei>(std::min<std::int64_t>(count - drawn, INT_MAX)));
    }
    glDisableClientState(GL_VERTEX_ARRAY);
}

void Picture::DrawSlice(const Scene& scene, const float* vertices, std::int64_t count, int slice)
{
    if (way_ == Way::Compute) {
        compute_->Draw({scene.modelview.data(), scene.projection.data(), scene.viewport.data()},
                       scene.points, vertices, count, drawn_, slice);
        return;
    }
    Buffer& buffer = buffers_[static_cast<std::size_t>(drawing_)];
    gl_.BindFramebuffer(GL_FRAMEBUFFER, buffer.framebuffer);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, vertices + 3 * drawn_);
    glDrawArrays(GL_POINTS, 0, slice);
    glDisableClientState(GL_VERTEX_ARRAY);
    gl_.BindFramebuffer(GL_FRAMEBUFFER, 0);
}

void Picture::Draw(unsigned long long points, const float* vertices, std::int64_t count)
{
    if (way_ == Way::Direct) {
        DrawDirect(vertices, count);
        return;
    }
    Scene scene;
    scene.points = points;
    glGetFloatv(GL_MODELVIEW_MATRIX, scene.modelview.data());
    glGetFloatv(GL_PROJECTION_MATRIX, scene.projection.data());
    glGetIntegerv(GL_VIEWPORT, scene.viewport.data());
    Buffer& buffer = buffers_[static_cast<std::size_t>(drawing_)];
    const bool shown = complete_ && buffers_[static_cast<std::size_t>(1 - drawing_)].scene == scene;
    if (shown) {
        Present();
        return;
    }
    if ((!started_ || !(buffer.scene == scene)) && !Begin(buffer, scene)) {
        // A framebuffer the driver cannot draw into: draw as without one,
        // from this frame on.
        Free();
        way_ = Way::Direct;
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        DrawDirect(vertices, count);
        return;
    }
    // Slices sized from how fast the last ones went; each is finished
    // before the next, so that the time is spent here and not later.
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto since = [](Clock::time_point t) {
        return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
    };
    const int most = way_ == Way::Compute ? compute_->MostPerSlice() : kMostPointsPerSlice;
    double last = 0; // the last slice's time
    for (bool first = true; drawn_ < count; first = false) {
        const double left = kSliceMs - since(start);
        if (!first && left < std::max(last, 1.0))
            break;
        // Half the frame's time at most, so that a slice slower than
        // the ones before keeps the frame near its time. At least 1024
        // points, but never past the last one.
        const int slice = static_cast<int>(std::min<std::int64_t>(
            std::max(static_cast<int>(pointsPerMs_ * std::clamp(left, 1.0, kSliceMs / 2)), 1024),
            std::min<std::int64_t>(count - drawn_, most)));
        const auto sliceStart = Clock::now();
        DrawSlice(scene, vertices, count, slice);
        glFinish();
        last = since(sliceStart);
        pointsPerMs_ = (pointsPerMs_ + slice / std::max(last, 0.05)) / 2;
        drawn_ += slice;
    }
    if (drawn_ >= count) {
        if (way_ == Way::Compute)
            compute_->Resolve(
                {scene.modelview.data(), scene.projection.data(), scene.viewport.data()},
                buffer.colour);
        complete_ = true;
        unshown_ = kPresents;
        started_ = false;
        drawing_ = 1 - drawing_;
    }
    Present();
}

void Picture::Present()
{
    if (way_ == Way::Direct || unshown_ == 0)
        return;
    if (!complete_) {
        glClear(GL_COLOR_BUFFER_BIT);
        return;
    }
    const Buffer& shown = buffers_[static_cast<std::size_t>(1 - drawing_)];
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    gl_.BindFramebuffer(GL_READ_FRAMEBUFFER, shown.framebuffer);
    gl_.BlitFramebuffer(0, 0, shown.width, shown.height, viewport[0], viewport[1],
                        viewport[0] + viewport[2], viewport[1] + viewport[3], GL_COLOR_BUFFER_BIT,
                        GL_NEAREST);
    gl_.BindFramebuffer(GL_READ_FRAMEBUFFER, 0);
}
