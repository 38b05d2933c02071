// Finding and opening a service's library file at run time. The one place
// that speaks to the system's loader; each platform has its own source file.
#pragma once

namespace fcs::fit {

// Opens the library file `file_name` and returns its handle, or nullptr when
// it is found nowhere. Looks, in this order: among the objects already loaded
// in the process under that name; beside the library file that holds this
// code; by the loader's ordinary search.
void* open_service(const char* file_name) noexcept;

// The export `name` of an opened service, or nullptr when it has none.
void* service_export(void* service, const char* name) noexcept;

// Gives back a handle from open_service.
void close_service(void* service) noexcept;

}  // namespace fcs::fit
