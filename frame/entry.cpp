// Load and unload of a library file.
//
// State needs no work at load: every library keeps it in zero-initialized
// statics, so a fresh load (including one after an unload) starts from
// all-zero state. At unload the library releases the buffers it still owns.
#include "library.h"

namespace {

__attribute__((destructor)) void on_unload() { fcs::release_at_unload(); }

}  // namespace
