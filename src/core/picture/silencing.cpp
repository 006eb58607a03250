#include "core/picture/silencing.h"

#include <QtGlobal>

#include <cstdarg>
#ifdef Q_OS_UNIX
#include <dlfcn.h>
#endif

namespace pw {

void silenceImageLibraries()
{
#ifdef Q_OS_UNIX
    // The TIFF plugin and this program share one copy of libtiff, so its handlers set here are
    // the plugin's too. It stays loaded for the rest of the run.
    using Handler = void (*)(const char *, const char *, va_list);
    using SetHandler = Handler (*)(Handler);
    for (const char *name : {"libtiff.so.6", "libtiff.so.5", "libtiff.so"}) {
        void *library = ::dlopen(name, RTLD_LAZY | RTLD_GLOBAL);
        if (!library)
            continue;
        for (const char *setter : {"TIFFSetWarningHandler", "TIFFSetErrorHandler"})
            if (auto set = reinterpret_cast<SetHandler>(::dlsym(library, setter)))
                set(nullptr);
        break;
    }
#endif
}

}  // namespace pw
