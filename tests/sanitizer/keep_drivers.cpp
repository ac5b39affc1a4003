// Sanitizer builds only. Mesa keeps some blocks that only its driver's own
// static data points to; Qt closes the display at exit and the driver is
// unloaded with it, after which LeakSanitizer finds those blocks unreachable
// and reports them as leaks of an unnamed module (112 bytes from llvmpipe,
// also in a program of a few lines with nothing but a QOpenGLContext). Left
// loaded to the end, the driver's data still holds them, as it does while
// the program runs.
#include <cstring>

#include <dlfcn.h>
#include <link.h>

extern "C" int dlclose(void* handle)
{
    using Close = int (*)(void*);
    static const auto next = reinterpret_cast<Close>(::dlsym(RTLD_NEXT, "dlclose"));
    link_map* module = nullptr;
    if (::dlinfo(handle, RTLD_DI_LINKMAP, &module) == 0 && module &&
        std::strstr(module->l_name, "_dri.so"))
        return 0;
    return next(handle);
}
