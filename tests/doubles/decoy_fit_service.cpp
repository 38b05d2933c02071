// A library file named like the fit service that lacks its export.
extern "C" __attribute__((visibility("default"))) int fcs_test_decoy() { return 1; }
