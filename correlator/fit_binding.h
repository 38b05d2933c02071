// The fit-service binding: every fit of a library calls the fit service
// through it. Compiled into each library that fits, so each has its own cache.
#pragma once

#include "fit_service.h"

#include <cstdint>

namespace fcs::fit {

inline constexpr std::int32_t kServiceNotFound = -5093;
inline constexpr std::int32_t kExportNotFound = -5094;

// Calls the fit service with the nine arguments unchanged and returns its
// status. The service is located at the first call and kept until the library
// is unloaded: first among the objects already loaded in the process, then
// beside this library's own file, then by the loader's ordinary search.
// Without a service file it returns kServiceNotFound, with a file lacking the
// export kExportNotFound; in both cases nothing is called or cached, and the
// next call searches again.
std::int32_t run_fit_service(const double* x, const double* y, double* fitted, std::int32_t n,
                             std::int32_t max_iter, FitModel* model, double* a, std::int32_t ncoef,
                             double* mse) noexcept;

}  // namespace fcs::fit
