// Loading the seven library files at run time, as any host does: each file is
// opened by path and its exports are found by name, typed with the function
// types of the library's api header. Nothing is linked.
#pragma once

#include "Corvanel_api.h"
#include "Dromilt_api.h"
#include "Plavenne_api.h"
#include "Quenbar_api.h"
#include "Quenlith_api.h"
#include "Trelvin_api.h"
#include "Vennitch_api.h"

#include <string>

namespace fcs::host {

// One opened library file; closed when the object goes away.
class LibraryFile {
public:
    // Opens <folder>/lib<name>.so; throws Failure naming the file and the
    // loader's reason when it cannot.
    LibraryFile(const std::string& folder, const std::string& name);
    ~LibraryFile();
    LibraryFile(const LibraryFile&) = delete;
    LibraryFile& operator=(const LibraryFile&) = delete;

    // The export `symbol` with the type Fn; throws Failure when the file
    // lacks it.
    template <class Fn>
    Fn* get(const char* symbol) const {
        return reinterpret_cast<Fn*>(find(symbol));
    }

    const std::string& path() const { return path_; }

private:
    void* find(const char* symbol) const;
    std::string path_;
    void* handle_ = nullptr;
};

// The exports the program calls, grouped by library.
struct Corvanel {
    corvanel_api::file2acf_fn* file2acf;
};
struct Dromilt {
    dromilt_api::calcRealACFmtau_fn* calcRealACFmtau;
    dromilt_api::calcRealACFdutyFactor_fn* calcRealACFdutyFactor;
    dromilt_api::setupRealDromilt_fn* setupRealDromilt;
    dromilt_api::realACFrawArrIO_fn* realACFrawArrIO;
    dromilt_api::resetrealACF_fn* resetrealACF;
    dromilt_api::getACFcnt_fn* getACFcnt;
    dromilt_api::fitRealDromilt_fn* fitRealDromilt;
    dromilt_api::freeRealDromilt_fn* freeRealDromilt;
};
struct Plavenne {
    plavenne_api::realACFnormArrIO_fn* realACFnormArrIO;
};
struct Quenbar {
    quenbar_api::file2acf_fn* file2acf;
    quenbar_api::clearQuenbar_fn* clearQuenbar;
};
struct Quenlith {
    quenlith_api::setupQuenlith_fn* setupQuenlith;
    quenlith_api::addpntArrIO_fn* addpntArrIO;
};
struct Trelvin {
    trelvin_api::calcTrelvin_fn* calcTrelvin;
    trelvin_api::setupTrelvin_fn* setupTrelvin;
    trelvin_api::trelvin_fn* trelvin;
};
struct Vennitch {
    vennitch_api::connect_fn* connect;
    vennitch_api::reset_fn* reset;
};

// All seven files, opened from one folder, with every export above resolved.
// A missing file or export is reported before anything runs.
class LibrarySet {
public:
    explicit LibrarySet(const std::string& folder);

    const std::string& folder() const { return folder_; }

    Corvanel corvanel;
    Dromilt dromilt;
    Plavenne plavenne;
    Quenbar quenbar;
    Quenlith quenlith;
    Trelvin trelvin;
    Vennitch vennitch;

private:
    std::string folder_;
    LibraryFile corvanel_file_, dromilt_file_, plavenne_file_, quenbar_file_, quenlith_file_, trelvin_file_,
        vennitch_file_;
};

// The folder that the program looks in when no --lib-dir is given: the build's
// library folder, found relative to the program's own file.
std::string default_library_folder();

// The folder that holds the program's own file.
std::string program_folder();

}  // namespace fcs::host
