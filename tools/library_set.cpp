#include "library_set.h"

#include "failure.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace fcs::host {

LibraryFile::LibraryFile(const std::string& folder, const std::string& name)
    : path_(folder + "/" + FCS_LIBRARY_PREFIX + name + FCS_LIBRARY_SUFFIX) {
    // RTLD_LOCAL: each library keeps its own names, as the libraries share
    // export names (calcRealACFmtau, realACFrawArrIO, file2acf, ...).
    handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* why = dlerror();
        throw Failure("cannot load library " + name + " from " + path_ + ": " + (why ? why : "unknown reason") +
                      " (give the folder of the library files with --lib-dir)");
    }
}

LibraryFile::~LibraryFile() {
    if (handle_) dlclose(handle_);
}

void* LibraryFile::find(const char* symbol) const {
    dlerror();
    void* address = dlsym(handle_, symbol);
    if (!address) throw Failure("library " + path_ + " lacks the export " + symbol);
    return address;
}

// Export NAME of library file FILE, typed from the api header of NS.
#define FCS_RESOLVE(file, ns, name) (file).get<ns##_api::name##_fn>(#name)

LibrarySet::LibrarySet(const std::string& folder)
    : folder_(folder),
      corvanel_file_(folder, "Corvanel"),
      dromilt_file_(folder, "Dromilt"),
      plavenne_file_(folder, "Plavenne"),
      quenbar_file_(folder, "Quenbar"),
      quenlith_file_(folder, "Quenlith"),
      trelvin_file_(folder, "Trelvin"),
      vennitch_file_(folder, "Vennitch") {
    corvanel.file2acf = FCS_RESOLVE(corvanel_file_, corvanel, file2acf);

    dromilt.calcRealACFmtau = FCS_RESOLVE(dromilt_file_, dromilt, calcRealACFmtau);
    dromilt.calcRealACFdutyFactor = FCS_RESOLVE(dromilt_file_, dromilt, calcRealACFdutyFactor);
    dromilt.setupRealDromilt = FCS_RESOLVE(dromilt_file_, dromilt, setupRealDromilt);
    dromilt.realACFrawArrIO = FCS_RESOLVE(dromilt_file_, dromilt, realACFrawArrIO);
    dromilt.resetrealACF = FCS_RESOLVE(dromilt_file_, dromilt, resetrealACF);
    dromilt.getACFcnt = FCS_RESOLVE(dromilt_file_, dromilt, getACFcnt);
    dromilt.fitRealDromilt = FCS_RESOLVE(dromilt_file_, dromilt, fitRealDromilt);
    dromilt.freeRealDromilt = FCS_RESOLVE(dromilt_file_, dromilt, freeRealDromilt);

    plavenne.realACFnormArrIO = FCS_RESOLVE(plavenne_file_, plavenne, realACFnormArrIO);

    quenbar.file2acf = FCS_RESOLVE(quenbar_file_, quenbar, file2acf);
    quenbar.clearQuenbar = FCS_RESOLVE(quenbar_file_, quenbar, clearQuenbar);

    quenlith.setupQuenlith = FCS_RESOLVE(quenlith_file_, quenlith, setupQuenlith);
    quenlith.addpntArrIO = FCS_RESOLVE(quenlith_file_, quenlith, addpntArrIO);

    trelvin.calcTrelvin = FCS_RESOLVE(trelvin_file_, trelvin, calcTrelvin);
    trelvin.setupTrelvin = FCS_RESOLVE(trelvin_file_, trelvin, setupTrelvin);
    trelvin.trelvin = FCS_RESOLVE(trelvin_file_, trelvin, trelvin);

    vennitch.connect = FCS_RESOLVE(vennitch_file_, vennitch, connect);
    vennitch.reset = FCS_RESOLVE(vennitch_file_, vennitch, reset);
}

std::string program_folder() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    std::string file(path, static_cast<std::size_t>(n));
    const auto slash = file.rfind('/');
    return slash == std::string::npos ? "." : file.substr(0, slash);
}

std::string default_library_folder() { return program_folder() + "/" + FCS_HOST_LIBRARY_FOLDER; }

}  // namespace fcs::host
