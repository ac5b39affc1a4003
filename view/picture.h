// The picture of the points the view presents: drawn offscreen in slices of
// bounded time across frames, and presented only once complete. An unchanged
// scene costs a copy of the last picture, and none once the screen shows it.
// The points are rasterised by a compute shader where the context has them,
// with GL_POINTS into a framebuffer object elsewhere (OpenGL 3.0), and
// without framebuffer objects every frame draws all points into the back
// buffer instead. The way is chosen once, from what the context offers.
#pragma once

#include "computepass.h"
#include "glfunctions.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>

class Picture
{
public:
    // Needs a current context, whose resources it owns until destroyed.
    Picture();
    // Needs that context to be current.
    ~Picture();
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    // Draws what is left of the picture of `count` points (x, y, z each) of
    // version `points`, as the current matrices and viewport show them, for
    // about a slice's time; a scene changed since starts it again. Then puts
    // the last complete picture into the back buffer.
    void Draw(unsigned long long points, const float* vertices, std::int64_t count);
    // Puts the last complete picture into the back buffer, if the screen
    // does not show it yet; black until there is one.
    void Present();
    // Before the points last drawn are moved or freed: see ComputePass.
    void ReleasePoints()
    {
        if (compute_)
            compute_->ReleasePoints();
    }

    // Whether the back buffer holds what the screen does not show yet: a new
    // picture, or any after an expose. Every frame does without them.
    bool Unshown() const { return unshown_ > 0 || way_ == Way::Direct; }
    void Shown() { unshown_ = std::max(0, unshown_ - 1); }
    void Exposed() { unshown_ = kPresents; }

    // Whether pictures are drawn offscreen, and so may take several frames.
    bool Offscreen() const { return way_ != Way::Direct; }

private:
    enum class Way
    {
        Direct,  // every frame draws all points into the back buffer
        Points,  // GL_POINTS offscreen
        Compute, // a compute shader offscreen
    };
    struct Scene
    {
        unsigned long long points = 0;
        std::array<float, 16> modelview{};
        std::array<float, 16> projection{};
        std::array<int, 4> viewport{};
        bool operator==(const Scene&) const = default;
    };
    struct Buffer
    {
        unsigned framebuffer = 0;
        unsigned colour = 0; // a texture, which a compute shader can write
        unsigned depth = 0;  // a renderbuffer, for GL_POINTS
        int width = 0;
        int height = 0;
        Scene scene;
    };
    bool Begin(Buffer& buffer, const Scene& scene);
    void DrawDirect(const float* vertices, std::int64_t count);
    void DrawSlice(const Scene& scene, const float* vertices, std::int64_t count, int slice);
    void Free();

    GLFunctions gl_;
    Way way_ = Way::Direct;
    std::unique_ptr<ComputePass> compute_;
    int depthFormat_ = 0;
    std::array<Buffer, 2> buffers_;
    int drawing_ = 0; // the one being drawn; the other is the last complete one
    bool started_ = false;
    bool complete_ = false; // the other holds a complete picture
    // The driver takes a window's new size only at the swap after it: a
    // picture new or exposed is presented twice, the second time whole.
    static constexpr int kPresents = 2;
    int unshown_ = kPresents; // presents to come
    std::int64_t drawn_ = 0;  // points drawn of the picture being drawn
    double pointsPerMs_ = 5000;
};
