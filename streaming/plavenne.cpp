// Plavenne: the stand-alone normalizer. It keeps no state.
#include "Plavenne_api.h"
#include "library.h"
#include "normalize.h"

void fcs::release_at_unload() noexcept {}

void realACFnormArrIO(fcs_long* acfarr, double* nacfarr, fcs_long arrsize, fcs_ulonglong acnt,
                      fcs_ulonglong tcnt) noexcept {
    fcs::normalize_pairs(acfarr, nacfarr, arrsize, acnt, tcnt);
}
