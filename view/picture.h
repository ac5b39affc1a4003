// The picture of the points the view presents: drawn offscreen in slices of
// bounded time across frames, and presented only once complete. An unchanged
// scene costs a copy of the last picture. Without framebuffer objects, every
// frame draws all points into the back buffer instead.
#pragma once

#include <array>

class TPicture
{
public:
    TPicture() = default;
    // Needs the context the picture was drawn with to be current.
    ~TPicture();
    TPicture(const TPicture&) = delete;
    TPicture& operator=(const TPicture&) = delete;

    // Draws what is left of the picture of `count` points (x, y, z each) of
    // version `points`, as the current matrices and viewport show them, for
    // about a slice's time; a scene changed since starts it again. Then puts
    // the last complete picture into the back buffer.
    void Draw(unsigned long long points, const float* vertices, int count);
    // Puts the last complete picture into the back buffer.
    void Present() const;

    // Whether pictures are drawn offscreen, and so may take several frames.
    bool Offscreen();

private:
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
        unsigned int framebuffer = 0;
        std::array<unsigned int, 2> renderbuffers{}; // colour, depth
        int width = 0;
        int height = 0;
        Scene scene;
    };
    void Begin(Buffer& buffer, const Scene& scene);

    int offscreen_ = -1; // not yet known
    int depthFormat_ = 0;
    std::array<Buffer, 2> buffers_;
    int drawing_ = 0; // the one being drawn; the other is the last complete one
    bool started_ = false;
    bool complete_ = false; // the other holds a complete picture
    int drawn_ = 0;         // points drawn of the picture being drawn
    double pointsPerMs_ = 5000;
};
