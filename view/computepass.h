// The points rasterised by a compute shader, one pixel each: far faster than
// GL_POINTS where OpenGL runs on the processor (llvmpipe), and on GPUs too.
//
// The rule, the same as one-pixel GL_POINTS against a cleared depth buffer:
// a point inside the view volume (-w <= x, y <= w and -w <= z < w in clip
// coordinates) lights the pixel that holds its window coordinates; one
// outside it, or on its far plane, lights nothing. With every point red, which
// of several on one pixel is nearest cannot be seen, so no depth is kept: an
// atomic minimum of it made the pass about 1.5 times as slow on llvmpipe.
#pragma once

#include "glfunctions.h"

#include <array>
#include <cstdint>
#include <memory>

class ComputePass
{
public:
    // Null where the context has no compute shaders.
    static std::unique_ptr<ComputePass> Make(const GLFunctions& gl);
    // Needs the context it was made with to be current.
    ~ComputePass();
    ComputePass(const ComputePass&) = delete;
    ComputePass& operator=(const ComputePass&) = delete;

    struct Transform
    {
        const float* modelview;
        const float* projection;
        const int* viewport;
    };

    // A new picture of the viewport's size; `picture` may hold a part one.
    void Begin(const Transform& transform, unsigned picture);
    // Points [first, first + count) of the `total` points of version
    // `points`; the work is queued, not finished.
    void Draw(const Transform& transform, unsigned long long points, const float* vertices,
              std::int64_t total, std::int64_t first, int count);
    // Writes the picture into the RGBA8 texture `picture`, red where lit and
    // black elsewhere, and leaves every pixel unlit for the next one.
    void Resolve(const Transform& transform, unsigned picture);

    int MostPerSlice() const { return mostPerSlice_; }

    // Synchronisation, in one rule: where the driver reads the kept points
    // in place (pinned), a dispatch may read them after Draw has returned, and
    // AMD_pinned_memory leaves the waiting to us. Before the points drawn are
    // moved, grown, trimmed or freed, this is called: it waits for the
    // dispatches that read them, only where one may still run, and deletes
    // the pinned buffer, which never outlives their memory. A copied slice
    // needs no wait: the copy is made within the call.
    void ReleasePoints();

private:
    explicit ComputePass(const GLFunctions& gl) : gl_(gl) {}
    bool Build();
    void CopySlices();
    bool Pin(unsigned long long points, const float* vertices, std::int64_t total);
    void BindPoints(unsigned long long points, const float* vertices, std::int64_t total,
                    std::int64_t first, int count);

    const GLFunctions& gl_;
    unsigned rasterise_ = 0; // programs
    unsigned resolve_ = 0;
    std::array<int, 4> uniforms_{}; // transform, viewport, first, count
    int resolveViewport_ = -1;
    unsigned lit_ = 0; // a word a pixel, 0 where unlit
    int pixels_ = 0;
    bool dirty_ = false; // points drawn since the last resolve
    // The points: the kept points' own memory where the driver can read it
    // in place (AMD_pinned_memory, as llvmpipe offers), else a slice's copy.
    unsigned points_ = 0;
    unsigned texture_ = 0;             // a buffer texture of them
    bool pinned_ = false;              // until the driver refuses a pin
    GLsync reading_ = nullptr;         // after the last dispatch that read them in place
    const char* pinnedBase_ = nullptr; // null while nothing is pinned
    unsigned long long pinnedVersion_ = 0;
    const float* pinnedVertices_ = nullptr;
    std::int64_t pinnedTotal_ = -1;
    int offsetAlignment_ = 4;
    int mostPerSlice_ = 0;
};
