// Load and unload of a library file.
//
// State needs no work at load: every library keeps it in zero-initialized
// statics, so a fresh load (including one after an unload) starts from
// all-zero state. At unload the library releases the buffers it still owns.
#include "library.h"

#if defined(_WIN32)

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "runtime.h"

// The entry point that the Windows loader calls; not exported. The run-time
// services live in the process's C run-time DLL, which the loader has loaded
// and initialized as an import before this runs: a missing one fails the load
// without DllMain. What is left to do at attach is the loading thread's
// floating-point precision.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        fcs::rt::attach_thread();
        return TRUE;
    case DLL_PROCESS_DETACH:
        // An unload (FreeLibrary) releases the buffers. At process exit
        // (reserved not null) the system takes the whole address space back,
        // and other threads may have stopped holding the heap's lock: nothing
        // is touched then.
        if (!reserved) fcs::release_at_unload();
        return TRUE;
    default:  // thread attach and detach change nothing
        return TRUE;
    }
}

#else

namespace {

__attribute__((destructor)) void on_unload() { fcs::release_at_unload(); }

}  // namespace

#endif
