#include "computepass.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Each invocation takes this many points, a workgroup's width apart, so that
// neighbouring invocations read neighbouring points.
constexpr int kGroupSize = 64;
constexpr int kPointsPerInvocation = 16;
constexpr int kPointsPerGroup = kGroupSize * kPointsPerInvocation;

// The points are read through a buffer texture: llvmpipe fetches texels
// about a fifth faster than it loads from a storage buffer.
constexpr const char* kRasterise = R"(
layout(local_size_x = GROUP_SIZE) in;
uniform samplerBuffer xyz;
layout(std430, binding = 1) buffer Lit { uint lit[]; };
uniform mat4 transform; // projection times modelview
uniform ivec4 viewport;
uniform uint first; // the slice's first float in xyz
uniform uint count;
void main()
{
    uint begin = gl_WorkGroupID.x * uint(GROUP_SIZE * PER_INVOCATION);
    uint end = min(count, begin + uint(GROUP_SIZE * PER_INVOCATION));
    for (uint i = begin + gl_LocalInvocationID.x; i < end; i += uint(GROUP_SIZE)) {
        int at = int(first + 3u * i);
        vec4 clip = transform * vec4(texelFetch(xyz, at).x, texelFetch(xyz, at + 1).x,
                                     texelFetch(xyz, at + 2).x, 1.0);
        if (any(greaterThan(abs(clip.xy), vec2(clip.w))) || clip.z < -clip.w || clip.z >= clip.w)
            continue;
        ivec2 pixel = ivec2(floor((clip.xy / clip.w * 0.5 + 0.5) * vec2(viewport.zw)));
        if (pixel.x < viewport.z && pixel.y < viewport.w) // not on the right or top face
            lit[pixel.y * viewport.z + pixel.x] = 1u;
    }
}
)";

constexpr const char* kResolve = R"(
layout(local_size_x = 8, local_size_y = 8) in;
layout(std430, binding = 1) buffer Lit { uint lit[]; };
layout(rgba8, binding = 0) writeonly uniform image2D picture;
uniform ivec4 viewport;
void main()
{
    ivec2 pixel = ivec2(gl_GlobalInvocationID.xy);
    if (pixel.x >= viewport.z || pixel.y >= viewport.w)
        return;
    int at = pixel.y * viewport.z + pixel.x;
    imageStore(picture, pixel, lit[at] != 0u ? vec4(1, 0, 0, 1) : vec4(0, 0, 0, 1));
    lit[at] = 0u;
}
)";

GLuint Program(const GLFunctions& gl, const char* header, const char* source)
{
    const GLuint shader = gl.CreateShader(GL_COMPUTE_SHADER);
    const char* parts[] = {header, source};
    gl.ShaderSource(shader, 2, parts, nullptr);
    gl.CompileShader(shader);
    const GLuint program = gl.CreateProgram();
    gl.AttachShader(program, shader);
    gl.LinkProgram(program);
    gl.DeleteShader(shader);
    GLint linked = GL_FALSE;
    gl.GetProgramiv(program, GL_LINK_STATUS, &linked);
    if (linked == GL_TRUE)
        return program;
    gl.DeleteProgram(program);
    return 0;
}

GLuint Groups(int count, int perGroup)
{
    return static_cast<GLuint>((count + perGroup - 1) / perGroup);
}

} // namespace

std::unique_ptr<ComputePass> ComputePass::Make(const GLFunctions& gl)
{
    const bool core = gl.Version() >= 43;
    if (!core && !(gl.Version() >= 42 && gl.HasExtension("GL_ARB_compute_shader") &&
                   gl.HasExtension("GL_ARB_shader_storage_buffer_object") &&
                   gl.HasExtension("GL_ARB_texture_buffer_range")))
        return nullptr;
    std::unique_ptr<ComputePass> pass(new ComputePass(gl));
    if (!pass->Build())
        return nullptr;
    return pass;
}

bool ComputePass::Build()
{
    const std::string header =
        std::string(gl_.Version() >= 43
                        ? "#version 430\n"
                        : "#version 420\n#extension GL_ARB_compute_shader : require\n"
                          "#extension GL_ARB_shader_storage_buffer_object : require\n") +
        "#define GROUP_SIZE " + std::to_string(kGroupSize) + "\n#define PER_INVOCATION " +
        std::to_string(kPointsPerInvocation) + "\n";
    rasterise_ = Program(gl_, header.c_str(), kRasterise);
    resolve_ = Program(gl_, header.c_str(), kResolve);
    if (!rasterise_ || !resolve_)
        return false;
    const char* names[] = {"transform", "viewport", "first", "count"};
    for (std::size_t i = 0; i < uniforms_.size(); ++i)
        uniforms_[i] = gl_.GetUniformLocation(rasterise_, names[i]);
    resolveViewport_ = gl_.GetUniformLocation(resolve_, "viewport");
    gl_.GenBuffers(1, &lit_);
    gl_.GenBuffers(1, &points_);
    glGenTextures(1, &texture_);
    GLint alignment = 4, texels = 1 << 16;
    glGetIntegerv(GL_TEXTURE_BUFFER_OFFSET_ALIGNMENT, &alignment);
    glGetIntegerv(GL_MAX_TEXTURE_BUFFER_SIZE, &texels);
    offsetAlignment_ = std::max(alignment, 4);
    // A slice's floats and the alignment's slack fit in one buffer texture;
    // 4M points is far more than a slice of bounded time takes on any machine.
    mostPerSlice_ =
        std::min(4 << 20, (texels - offsetAlignment_ / 4) / 3 / kPointsPerGroup * kPointsPerGroup);
    pinned_ = gl_.HasExtension("GL_AMD_pinned_memory");
    if (!pinned_)
        CopySlices();
    return mostPerSlice_ > 0;
}

void ComputePass::CopySlices()
{
    pinned_ = false;
    gl_.DeleteBuffers(1, &points_); // it may have been a refused pin
    gl_.GenBuffers(1, &points_);
    gl_.BindBuffer(GL_SHADER_STORAGE_BUFFER, points_);
    gl_.BufferData(GL_SHADER_STORAGE_BUFFER, GLsizeiptr{mostPerSlice_} * 12, nullptr,
                   GL_STREAM_DRAW);
}

ComputePass::~ComputePass()
{
    ReleasePoints();
    glDeleteTextures(1, &texture_);
    gl_.DeleteBuffers(1, &points_);
    gl_.DeleteBuffers(1, &lit_);
    gl_.DeleteProgram(rasterise_);
    gl_.DeleteProgram(resolve_);
}

void ComputePass::Begin(const Transform& transform, unsigned picture)
{
    const int pixels = transform.viewport[2] * transform.viewport[3];
    if (pixels != pixels_) {
        const std::vector<GLuint> unlit(static_cast<std::size_t>(std::max(pixels, 1)));
        gl_.BindBuffer(GL_SHADER_STORAGE_BUFFER, lit_);
        gl_.BufferData(GL_SHADER_STORAGE_BUFFER,
                       static_cast<GLsizeiptr>(unlit.size() * sizeof(GLuint)), unlit.data(),
                       GL_DYNAMIC_COPY);
        pixels_ = pixels;
        dirty_ = false;
    }
    if (dirty_)
        Resolve(transform, picture); // a part picture: its pixels unlit again
}

void ComputePass::ReleasePoints()
{
    if (reading_) {
        // Flushed, so that the wait ends on any driver.
        while (gl_.ClientWaitSync(reading_, GL_SYNC_FLUSH_COMMANDS_BIT, 1'000'000'000) ==
               GL_TIMEOUT_EXPIRED) {
        }
        gl_.DeleteSync(reading_);
        reading_ = nullptr;
    }
    if (pinnedBase_) {
        gl_.DeleteBuffers(1, &points_); // a pinned buffer cannot take other memory
        gl_.GenBuffers(1, &points_);
        pinnedBase_ = nullptr;
    }
}

bool ComputePass::Pin(unsigned long long points, const float* vertices, std::int64_t total)
{
    if (pinnedBase_ && points == pinnedVersion_ && vertices == pinnedVertices_ &&
        total == pinnedTotal_)
        return true;
    ReleasePoints();
    // Whole pages around the points: the driver maps memory by the page.
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(vertices) / page * page;
    const auto end =
        (reinterpret_cast<std::uintptr_t>(vertices + 3 * total) + page - 1) / page * page;
    // Errors left by other calls are not the pin's.
    while (glGetError() != GL_NO_ERROR) {
    }
    gl_.BindBuffer(GL_EXTERNAL_VIRTUAL_MEMORY_BUFFER_AMD, points_);
    gl_.BufferData(GL_EXTERNAL_VIRTUAL_MEMORY_BUFFER_AMD,
                   static_cast<GLsizeiptr>(std::max<std::uintptr_t>(end - begin, page)),
                   reinterpret_cast<const void*>(begin), GL_STREAM_DRAW);
    gl_.BindBuffer(GL_EXTERNAL_VIRTUAL_MEMORY_BUFFER_AMD, 0);
    // Mesa refuses a pin of 4 GB or more; a GPU's driver may refuse memory
    // it cannot map.
    if (glGetError() != GL_NO_ERROR)
        return false;
    pinnedBase_ = reinterpret_cast<const char*>(begin);
    pinnedVersion_ = points;
    pinnedVertices_ = vertices;
    pinnedTotal_ = total;
    return true;
}

void ComputePass::BindPoints(unsigned long long points, const float* vertices, std::int64_t total,
                             std::int64_t first, int count)
{
    const auto bytes = [](int n) { return static_cast<GLsizeiptr>(n) * 12; };
    if (pinned_ && !Pin(points, vertices, total))
        CopySlices(); // from now on
    if (!pinned_) {
        gl_.BindBuffer(GL_SHADER_STORAGE_BUFFER, points_);
        gl_.BufferSubData(GL_SHADER_STORAGE_BUFFER, 0, bytes(count), vertices + 3 * first);
        gl_.TexBufferRange(GL_TEXTURE_BUFFER, GL_R32F, points_, 0, bytes(count));
        gl_.Uniform1ui(uniforms_[2], 0);
        return;
    }
    const auto offset = reinterpret_cast<const char*>(vertices + 3 * first) - pinnedBase_;
    const auto aligned = offset / offsetAlignment_ * offsetAlignment_;
    gl_.TexBufferRange(GL_TEXTURE_BUFFER, GL_R32F, points_, aligned,
                       offset - aligned + bytes(count));
    gl_.Uniform1ui(uniforms_[2], static_cast<GLuint>((offset - aligned) / 4));
}

void ComputePass::Draw(const Transform& transform, unsigned long long points, const float* vertices,
                       std::int64_t total, std::int64_t first, int count)
{
    gl_.UseProgram(rasterise_);
    // One matrix, multiplied in float as Mesa's fixed function does.
    std::array<float, 16> product{};
    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 4; ++row)
            for (int k = 0; k < 4; ++k)
                product[static_cast<std::size_t>(column * 4 + row)] +=
                    transform.projection[k * 4 + row] * transform.modelview[column * 4 + k];
    gl_.UniformMatrix4fv(uniforms_[0], 1, GL_FALSE, product.data());
    const int* v = transform.viewport;
    gl_.Uniform4i(uniforms_[1], v[0], v[1], v[2], v[3]);
    gl_.BindBufferBase(GL_SHADER_STORAGE_BUFFER, 1, lit_);
    glBindTexture(GL_TEXTURE_BUFFER, texture_);
    // A dispatch has at most 65,535 groups in each dimension.
    for (int done = 0; done < count;) {
        const int part = std::min(count - done, 65535 * kPointsPerGroup);
        BindPoints(points, vertices, total, first + done, part);
        gl_.Uniform1ui(uniforms_[3], static_cast<GLuint>(part));
        gl_.DispatchCompute(Groups(part, kPointsPerGroup), 1, 1);
        done += part;
    }
    if (pinned_) { // what ReleasePoints waits for
        if (reading_)
            gl_.DeleteSync(reading_);
        reading_ = gl_.FenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    }
    // Detached, so that nothing refers to the points between frames.
    gl_.TexBufferRange(GL_TEXTURE_BUFFER, GL_R32F, 0, 0, 0);
    glBindTexture(GL_TEXTURE_BUFFER, 0);
    gl_.UseProgram(0);
    dirty_ = true;
}

void ComputePass::Resolve(const Transform& transform, unsigned picture)
{
    gl_.MemoryBarrier(GL_SHADER_STORAGE_BARRIER_BIT);
    gl_.UseProgram(resolve_);
    const int* v = transform.viewport;
    gl_.Uniform4i(resolveViewport_, v[0], v[1], v[2], v[3]);
    gl_.BindBufferBase(GL_SHADER_STORAGE_BUFFER, 1, lit_);
    gl_.BindImageTexture(0, picture, 0, GL_FALSE, 0, GL_WRITE_ONLY, GL_RGBA8);
    gl_.DispatchCompute(Groups(v[2], 8), Groups(v[3], 8), 1);
    gl_.UseProgram(0);
    gl_.MemoryBarrier(GL_FRAMEBUFFER_BARRIER_BIT | GL_SHADER_STORAGE_BARRIER_BIT);
    dirty_ = false;
}
