// Acting as a host: load a built library file, resolve its exports by name,
// reload it for a fresh state, and capture what a call prints on each stream.
// The platform's loader and streams are behind host_posix.cpp and
// host_windows.cpp.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fcs::test {

// Path of the built file of library <name> (for example "Corvanel").
std::string library_path(std::string_view name);

// Its file name alone: "libCorvanel.so", or "Corvanel.dll" on Windows.
std::string library_file_name(std::string_view name);

// The environment entry that makes the loader's ordinary search look in
// `folder` first, for a process started with it: LD_LIBRARY_PATH on Linux,
// PATH on Windows.
std::pair<std::string, std::string> loader_search_path_with(const std::string& folder);

class Library {
public:
    // Loads the file (dlopen with RTLD_NOW | RTLD_LOCAL, or LoadLibrary);
    // throws if it cannot.
    explicit Library(std::string path);
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // The export `name`, typed with the function type of the library's api
    // header. Throws if the library does not export it.
    template <class Fn>
    Fn* fn(const char* name) const {
        void* found = symbol(name);
        if (!found) throw std::runtime_error(path_ + " does not export " + name);
        return reinterpret_cast<Fn*>(found);
    }

    // The export `name`, or nullptr when the library has none.
    void* symbol(const char* name) const;

    // Unloads the file and loads it again; throws unless the unload really
    // took the file out of the process, so the new load starts from zero.
    void reload();

    const std::string& path() const { return path_; }

    // Whether the file is loaded in this process by anyone. A bare file name
    // matches a file of that name loaded from any folder.
    static bool resident(const std::string& path);

    // The export `name` of the file `path` when someone in this process has
    // it loaded, else nullptr. Takes no reference: valid while it stays loaded.
    static void* loaded_export(const std::string& path, const char* name);

    // Path of the loaded file that holds `address`, or "" if none does.
    static std::string file_holding(const void* address);

private:
    std::string path_;
    void* handle_ = nullptr;
};

// Resolves export NAME of library object LIB with its type from the api header
// of library NS (lower case; the types live in namespace NS_api):
// FCS_FN(lib, corvanel, setupRealACF)(1000, 0.05, 12.5).
#define FCS_FN(lib, ns, name) ((lib).fn<ns##_api::name##_fn>(#name))

struct Printed {
    std::string out;  // what went to standard output
    std::string err;  // what went to standard error
};

// Redirects standard output and standard error into files of their own for
// its lifetime; take() flushes the streams, restores them and returns what
// was written.
class StreamCapture {
public:
    StreamCapture();
    ~StreamCapture();
    StreamCapture(const StreamCapture&) = delete;
    StreamCapture& operator=(const StreamCapture&) = delete;
    Printed take();

private:
    int saved_[2] = {-1, -1};
    int files_[2] = {-1, -1};
};

template <class F>
Printed capture(F&& call) {
    StreamCapture streams;
    std::forward<F>(call)();
    return streams.take();
}

// `lines` as a file written through the platform's text mode holds them:
// every "\n" becomes "\r\n" on Windows and stays as it is elsewhere.
std::string text_file(std::string_view lines);

// Reads a whole file as bytes; throws if it cannot be opened.
std::string read_file(const std::string& path);

// Writes bytes to a file, replacing it.
void write_file(const std::string& path, std::string_view bytes);

// A fresh empty folder under the system's temporary folder, removed with
// everything in it when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

private:
    std::string path_;
};

// This process's environment, as "KEY=value" entries.
std::vector<std::string> environment_entries();

// Runs this test program again with `arguments` and exactly the environment
// `environment` ("KEY=value" entries), and waits for it. Returns its exit
// status, or -1 when it could not be started or did not exit normally.
int run_this_program(const std::vector<std::string>& arguments, const std::vector<std::string>& environment);

// Bytes of memory that this process holds in large blocks, which the
// allocator maps one by one (glibc's mapped chunks; on Windows all committed
// private memory), so that a large buffer shows as it comes and goes.
std::size_t large_block_bytes();

// From now on, every allocation of `bytes` or more that the library `lib`
// asks of the C library fails; meant for a child process that ends soon.
// On Linux the process's address space is capped at `bytes`; on Windows the
// library's import of calloc is pointed at one that refuses such blocks.
// False when the cap could not be set.
bool refuse_allocations_from(const Library& lib, std::size_t bytes);

}  // namespace fcs::test
