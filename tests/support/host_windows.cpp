// The host side on Windows: the Windows loader (LoadLibrary), the C run-time's
// descriptors for the stream capture, CreateProcess for a fresh process.
//
// The libraries and the test programs share one C run-time, the system's
// msvcrt.dll (mingw-w64 links the compiler's own run-time libraries in, not
// the C library): one stdout and stderr, one table of descriptors. Moving
// descriptors 1 and 2 onto files therefore catches what a library prints,
// as it does with the POSIX descriptors on Linux.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "host.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace fcs::test {

namespace {

// A path for the wide Windows calls, with the separators that the loader
// compares module paths by.
std::wstring wide_path(const std::string& path) {
    std::wstring wide(path.size() + 1, L'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    if (n <= 0) throw std::runtime_error("not a path: " + path);
    wide.resize(static_cast<std::size_t>(n) - 1);
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    return wide;
}

std::string narrow(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return "";
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(n) - 1);
    return out;
}

void* open_library(const std::string& path) {
    HMODULE module = LoadLibraryExW(wide_path(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) throw std::runtime_error("cannot load " + path + ": error " + std::to_string(GetLastError()));
    return module;
}

HMODULE loaded_module(const std::string& path) { return GetModuleHandleW(wide_path(path).c_str()); }

// A new, empty file in the temporary folder, open for reading and writing in
// binary mode, deleted when its last descriptor is closed.
int temporary_descriptor() {
    wchar_t folder[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    if (GetTempPathW(MAX_PATH + 1, folder) == 0 || GetTempFileNameW(folder, L"fcs", 0, name) == 0) return -1;
    return _wopen(name, _O_RDWR | _O_BINARY | _O_TRUNC | _O_TEMPORARY, _S_IREAD | _S_IWRITE);
}

}  // namespace

Library::Library(std::string path) : path_(std::move(path)), handle_(open_library(path_)) {}

Library::~Library() {
    if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
}

void* Library::symbol(const char* name) const {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void Library::reload() {
    FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
    if (resident(path_)) throw std::runtime_error(path_ + " stayed loaded after its unload");
    handle_ = open_library(path_);
}

bool Library::resident(const std::string& path) { return loaded_module(path) != nullptr; }

void* Library::loaded_export(const std::string& path, const char* name) {
    HMODULE module = loaded_module(path);
    return module ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
}

std::string Library::file_holding(const void* address) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module))
        return "";
    wchar_t path[32768];
    const DWORD n = GetModuleFileNameW(module, path, sizeof path / sizeof path[0]);
    if (n == 0 || n >= sizeof path / sizeof path[0]) return "";
    return narrow(path);
}

// The files are binary, and the moved descriptors take that mode along: what
// arrives is what the library wrote, before any line-end translation that the
// text mode of the original descriptors would have made.
StreamCapture::StreamCapture() {
    std::fflush(stdout);
    std::fflush(stderr);
    for (int fd : {1, 2}) {
        files_[fd - 1] = temporary_descriptor();
        if (files_[fd - 1] < 0) throw std::runtime_error("no temporary file for the stream capture");
        saved_[fd - 1] = _dup(fd);
        _dup2(files_[fd - 1], fd);
        _setmode(fd, _O_BINARY);
    }
}

StreamCapture::~StreamCapture() {
    if (saved_[0] >= 0) take();
}

Printed StreamCapture::take() {
    std::fflush(stdout);
    std::fflush(stderr);
    std::string text[2];
    for (int i = 0; i < 2; ++i) {
        _dup2(saved_[i], i + 1);  // with the original descriptor's mode
        _close(saved_[i]);
        saved_[i] = -1;
        _lseek(files_[i], 0, SEEK_SET);
        char buffer[4096];
        for (int n; (n = _read(files_[i], buffer, sizeof buffer)) > 0;) text[i].append(buffer, static_cast<size_t>(n));
        _close(files_[i]);
        files_[i] = -1;
    }
    return {std::move(text[0]), std::move(text[1])};
}

TempDir::TempDir() {
    const auto base = std::filesystem::temp_directory_path();
    static unsigned serial = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto name = "fcs-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64()) +
                          "-" + std::to_string(serial++);
        const auto folder = base / name;
        if (std::filesystem::create_directory(folder)) {
            path_ = folder.string();
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> environment_entries() {
    std::vector<std::string> entries;
    wchar_t* block = GetEnvironmentStringsW();
    if (!block) return entries;
    for (const wchar_t* e = block; *e; e += wcslen(e) + 1)
        if (*e != L'=') entries.push_back(narrow(e));  // "=C:" and the like are the shell's, not variables
    FreeEnvironmentStringsW(block);
    return entries;
}

int run_this_program(const std::vector<std::string>& arguments, const std::vector<std::string>& environment) {
    char self[32768];
    const DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    if (n == 0 || n >= sizeof self) return -1;
    std::string command;
    command.append("\"").append(self).append("\"");
    for (const auto& a : arguments) command.append(" \"").append(a).append("\"");

    // The block lists the entries sorted by name, case ignored, as Windows keeps them.
    std::vector<std::string> sorted = environment;
    const auto upper_name = [](const std::string& entry) {
        std::string name = entry.substr(0, entry.find('='));
        for (auto& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return name;
    };
    std::stable_sort(sorted.begin(), sorted.end(),
                     [&](const std::string& a, const std::string& b) { return upper_name(a) < upper_name(b); });
    std::string block;
    for (const auto& e : sorted) block += e + '\0';
    block += '\0';

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    std::fflush(nullptr);
    if (!CreateProcessA(self, command.data(), nullptr, nullptr, TRUE, 0, block.data(), nullptr, &startup, &process))
        return -1;
    CloseHandle(process.hThread);
    DWORD code = 0;
    const bool waited = WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                        GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    return waited ? static_cast<int>(code) : -1;
}

std::size_t large_block_bytes() {
    std::size_t total = 0;
    MEMORY_BASIC_INFORMATION region;
    const char* at = nullptr;
    while (VirtualQuery(at, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        at = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    }
    return total;
}

namespace {

std::size_t refused_from = 0;

extern "C" void* __cdecl refusing_calloc(std::size_t count, std::size_t size) {
    if (size != 0 && count >= (refused_from + size - 1) / size) return nullptr;
    return std::calloc(count, size);
}

}  // namespace

bool refuse_allocations_from(const Library& lib, std::size_t bytes) {
    auto* base = reinterpret_cast<unsigned char*>(loaded_module(lib.path()));
    if (!base || bytes == 0) return false;
    refused_from = bytes;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const auto& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) return false;
    bool pointed = false;
    for (auto* dll = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress); dll->Name; ++dll) {
        const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + dll->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* import = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(import->Name), "calloc") != 0) continue;
            DWORD protection = 0;
            if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection)) return false;
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(&refusing_calloc);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
            pointed = true;
        }
    }
    return pointed;
}

}  // namespace fcs::test
