// Acting as a host: load a built library file, resolve its exports by name,
// reload it for a fresh state, and capture what a call prints on each stream.
#pragma once

#include <dlfcn.h>

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace fcs::test {

// Path of the built file of library <name> (for example "Corvanel").
std::string library_path(std::string_view name);

class Library {
public:
    // Loads the file (RTLD_NOW | RTLD_LOCAL); throws if it cannot.
    explicit Library(std::string path);
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // The export `name`, typed with the function type of the library's api
    // header. Throws if the library does not export it.
    template <class Fn>
    Fn* fn(const char* name) const {
        void* symbol = dlsym(handle_, name);
        if (!symbol) throw std::runtime_error(path_ + " does not export " + name);
        return reinterpret_cast<Fn*>(symbol);
    }

    // Unloads the file and loads it again; throws unless the unload really
    // took the file out of the process, so the new load starts from zero.
    void reload();

    const std::string& path() const { return path_; }

    // Whether the file is loaded in this process by anyone.
    static bool resident(const std::string& path);

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

}  // namespace fcs::test
