#include "platform/AlsaLibraryMessages.h"

#include <dlfcn.h>

#include <mutex>

namespace tollvane {

namespace {

void ignoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

void quietAlsaLibraryMessages() {
    static std::once_flag once;
    std::call_once(once, [] {
        using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
        using SetHandler = int (*)(Handler);
        if (void* symbol = dlsym(RTLD_DEFAULT, "snd_lib_error_set_handler")) {
            reinterpret_cast<SetHandler>(symbol)(&ignoreAlsaMessage);
        }
    });
}

}  // namespace tollvane
