#include "random.h"

namespace fcs::host {

ZigguratTables::ZigguratTables() {
    // Normal: 128 layers of equal area vn; dn is the start of the tail.
    const double m1 = 2147483648.0;
    double dn = 3.442619855899, tn = dn;
    const double vn = 9.91256303526217e-3;
    const double qn = vn / std::exp(-0.5 * dn * dn);
    kn[0] = static_cast<std::uint32_t>((dn / qn) * m1);
    kn[1] = 0;
    wn[0] = qn / m1;
    wn[127] = dn / m1;
    fn[0] = 1.0;
    fn[127] = std::exp(-0.5 * dn * dn);
    for (int i = 126; i >= 1; --i) {
        dn = std::sqrt(-2.0 * std::log(vn / dn + std::exp(-0.5 * dn * dn)));
        kn[i + 1] = static_cast<std::uint32_t>((dn / tn) * m1);
        tn = dn;
        fn[i] = std::exp(-0.5 * dn * dn);
        wn[i] = dn / m1;
    }

    // Exponential: 256 layers of equal area ve; de is the start of the tail.
    const double m2 = 4294967296.0;
    double de = 7.697117470131487, te = de;
    const double ve = 3.949659822581572e-3;
    const double qe = ve / std::exp(-de);
    ke[0] = static_cast<std::uint32_t>((de / qe) * m2);
    ke[1] = 0;
    we[0] = qe / m2;
    we[255] = de / m2;
    fe[0] = 1.0;
    fe[255] = std::exp(-de);
    for (int i = 254; i >= 1; --i) {
        de = -std::log(ve / de + std::exp(-de));
        ke[i + 1] = static_cast<std::uint32_t>((de / te) * m2);
        te = de;
        fe[i] = std::exp(-de);
        we[i] = de / m2;
    }
}

const ZigguratTables& ziggurat_tables() {
    static const ZigguratTables tables;
    return tables;
}

}  // namespace fcs::host
