// The OpenGL entry points above 1.1 the view calls, resolved once from the
// current context rather than linked, so that the program takes only what
// the driver offers. Which ones work depends on the context's version.
#pragma once

#include <GL/gl.h>
#include <GL/glext.h>

#include <string_view>

struct GLFunctions
{
    // Resolves every entry from the current context.
    GLFunctions();

    int Version() const { return version_; } // major * 10 + minor, 0 without a context
    bool HasExtension(std::string_view name) const;

    PFNGLGETSTRINGIPROC GetStringi;
    // Framebuffer objects (3.0).
    PFNGLGENFRAMEBUFFERSPROC GenFramebuffers;
    PFNGLDELETEFRAMEBUFFERSPROC DeleteFramebuffers;
    PFNGLBINDFRAMEBUFFERPROC BindFramebuffer;
    PFNGLFRAMEBUFFERTEXTURE2DPROC FramebufferTexture2D;
    PFNGLFRAMEBUFFERRENDERBUFFERPROC FramebufferRenderbuffer;
    PFNGLCHECKFRAMEBUFFERSTATUSPROC CheckFramebufferStatus;
    PFNGLGETFRAMEBUFFERATTACHMENTPARAMETERIVPROC GetFramebufferAttachmentParameteriv;
    PFNGLBLITFRAMEBUFFERPROC BlitFramebuffer;
    PFNGLGENRENDERBUFFERSPROC GenRenderbuffers;
    PFNGLDELETERENDERBUFFERSPROC DeleteRenderbuffers;
    PFNGLBINDRENDERBUFFERPROC BindRenderbuffer;
    PFNGLRENDERBUFFERSTORAGEPROC RenderbufferStorage;
    // Shaders and buffers (2.0, 1.5, 3.0).
    PFNGLCREATESHADERPROC CreateShader;
    PFNGLSHADERSOURCEPROC ShaderSource;
    PFNGLCOMPILESHADERPROC CompileShader;
    PFNGLDELETESHADERPROC DeleteShader;
    PFNGLCREATEPROGRAMPROC CreateProgram;
    PFNGLATTACHSHADERPROC AttachShader;
    PFNGLLINKPROGRAMPROC LinkProgram;
    PFNGLGETPROGRAMIVPROC GetProgramiv;
    PFNGLDELETEPROGRAMPROC DeleteProgram;
    PFNGLUSEPROGRAMPROC UseProgram;
    PFNGLGETUNIFORMLOCATIONPROC GetUniformLocation;
    PFNGLUNIFORMMATRIX4FVPROC UniformMatrix4fv;
    PFNGLUNIFORM4IPROC Uniform4i;
    PFNGLUNIFORM1UIPROC Uniform1ui;
    PFNGLGENBUFFERSPROC GenBuffers;
    PFNGLDELETEBUFFERSPROC DeleteBuffers;
    PFNGLBINDBUFFERPROC BindBuffer;
    PFNGLBUFFERDATAPROC BufferData;
    PFNGLBUFFERSUBDATAPROC BufferSubData;
    PFNGLBINDBUFFERBASEPROC BindBufferBase;
    PFNGLBINDBUFFERRANGEPROC BindBufferRange;
    // Compute shaders, images and buffer textures (4.2, 4.3).
    PFNGLDISPATCHCOMPUTEPROC DispatchCompute;
    PFNGLMEMORYBARRIERPROC MemoryBarrier;
    PFNGLBINDIMAGETEXTUREPROC BindImageTexture;
    PFNGLTEXBUFFERRANGEPROC TexBufferRange;
    // Fences (3.2).
    PFNGLFENCESYNCPROC FenceSync;
    PFNGLCLIENTWAITSYNCPROC ClientWaitSync;
    PFNGLDELETESYNCPROC DeleteSync;

private:
    int version_ = 0;
};
