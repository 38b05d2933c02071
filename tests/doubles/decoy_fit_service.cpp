// A library file named like the fit service that lacks its export.
#include "fit_service.h"

FCS_SERVICE_EXPORT int fcs_test_decoy() { return 1; }
