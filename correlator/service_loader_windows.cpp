// Service lookup with the Windows loader (GetModuleHandleEx, LoadLibrary).
#include "service_loader.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstring>

namespace fcs::fit {

namespace {

// No error dialog while a file is looked for: a missing or damaged file is
// only a failed lookup.
class QuietLoads {
public:
    QuietLoads() { SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &saved_); }
    ~QuietLoads() { SetThreadErrorMode(saved_, nullptr); }
    QuietLoads(const QuietLoads&) = delete;
    QuietLoads& operator=(const QuietLoads&) = delete;

private:
    DWORD saved_ = 0;
};

// The module already loaded under `file_name`, with a reference taken.
HMODULE already_loaded(const char* file_name) noexcept {
    HMODULE module = nullptr;
    return GetModuleHandleExA(0, file_name, &module) ? module : nullptr;
}

// The file `file_name` in the folder of the library file that holds this
// code, loaded; nullptr when that file is absent or the path does not fit.
// Wide paths, so that any folder name works.
HMODULE load_beside_this_library(const char* file_name) noexcept {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&open_service), &self))
        return nullptr;
    wchar_t path[32768];
    const DWORD length = GetModuleFileNameW(self, path, sizeof path / sizeof path[0]);
    if (length == 0 || length >= sizeof path / sizeof path[0]) return nullptr;  // failed or cut short
    DWORD folder = length;
    while (folder > 0 && path[folder - 1] != L'\\' && path[folder - 1] != L'/') --folder;
    if (folder == 0) return nullptr;  // no folder known: left to the ordinary search
    const std::size_t name = std::strlen(file_name);
    if (folder + name + 1 > sizeof path / sizeof path[0]) return nullptr;
    for (std::size_t i = 0; i <= name; ++i) path[folder + i] = static_cast<unsigned char>(file_name[i]);  // ASCII name
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

void* open_service(const char* file_name) noexcept {
    const QuietLoads quiet;
    if (HMODULE loaded = already_loaded(file_name)) return loaded;
    if (HMODULE beside = load_beside_this_library(file_name)) return beside;
    return LoadLibraryA(file_name);
}

void* service_export(void* service, const char* name) noexcept {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(service), name));
}

void close_service(void* service) noexcept { FreeLibrary(static_cast<HMODULE>(service)); }

}  // namespace fcs::fit
