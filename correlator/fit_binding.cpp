#include "fit_binding.h"

#include "service_loader.h"

namespace fcs::fit {

namespace {

// The cache: the service found by the first successful lookup, held until
// the library file is unloaded. Zero at load.
struct Binding {
    void* library;
    FitServiceFn* fit;
} binding;

// At unload the service is given back, so that it can leave the process too.
__attribute__((destructor)) void release_binding() {
    if (binding.library) close_service(binding.library);
    binding = {};
}

}  // namespace

std::int32_t run_fit_service(const double* x, const double* y, double* fitted, std::int32_t n,
                             std::int32_t max_iter, FitModel* model, double* a, std::int32_t ncoef,
                             double* mse) noexcept {
    if (!binding.fit) {
        void* library = open_service(kFitServiceFile);
        if (!library) return kServiceNotFound;
        void* fit = service_export(library, kFitServiceExport);
        if (!fit) {
            close_service(library);
            return kExportNotFound;
        }
        binding = {library, reinterpret_cast<FitServiceFn*>(fit)};
    }
    return binding.fit(x, y, fitted, n, max_iter, model, a, ncoef, mse);
}

}  // namespace fcs::fit
