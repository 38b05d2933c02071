// Service lookup with the POSIX loader (dlopen, dladdr).
#include "service_loader.h"

#include <dlfcn.h>

#include <cstring>

namespace fcs::fit {

namespace {

// The file `file_name` in the folder of the library file that holds this
// code, opened; nullptr when that file is absent or the path does not fit.
void* open_beside_this_library(const char* file_name) noexcept {
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&open_service), &info) == 0 || !info.dli_fname) return nullptr;
    const char* slash = std::strrchr(info.dli_fname, '/');
    if (!slash) return nullptr;  // no folder known: left to the ordinary search
    const std::size_t folder = static_cast<std::size_t>(slash - info.dli_fname) + 1;
    const std::size_t name = std::strlen(file_name);
    char path[4096];
    if (folder + name + 1 > sizeof path) return nullptr;
    std::memcpy(path, info.dli_fname, folder);
    std::memcpy(path + folder, file_name, name + 1);
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

}  // namespace

void* open_service(const char* file_name) noexcept {
    // RTLD_NOLOAD matches an object loaded under that name or SONAME, wherever
    // its file lies, and only adds a reference to it.
    if (void* loaded = dlopen(file_name, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD)) return loaded;
    if (void* beside = open_beside_this_library(file_name)) return beside;
    return dlopen(file_name, RTLD_NOW | RTLD_LOCAL);
}

void* service_export(void* service, const char* name) noexcept { return dlsym(service, name); }

void close_service(void* service) noexcept { dlclose(service); }

}  // namespace fcs::fit
