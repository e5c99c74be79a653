// The mask filter on a device's own pixel configuration: shared by the single-chip and four-chip tests (each
// device kind runs in a process of its own, since the device-control library stays loaded with the
// hardware libraries of the first app folder).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chainedit_app.h"

namespace chaintest {

inline void checkMask(FilterApp& app, uint32_t side, bool superMatrix)
{
    std::vector<uint8_t> cfg(size_t(side) * side, 0x01);
    cfg[0] = 0x00;          // masked
    cfg[side + 3] = 0xFE;   // masked, other bits set
    cfg[cfg.size() - 1] = 0x00;
    const int rc = superMatrix ? app.t().tvkCtrlSetSuperMatrixPixCfg(0, cfg.data(), uint32_t(cfg.size()))
                               : app.t().tvkCtrlSetPixelsCfg(0, cfg.data(), uint32_t(cfg.size()), -1);
    ASSERT_EQ(rc, 0);
    struct Case {
        int type;
        double masked;
        double expected;
    };
    const Case cases[] = {{TYPE_U32, 2.6, 3}, {TYPE_U32, -4, 0}, {TYPE_I16, -2.5, -3}, {TYPE_DOUBLE, -2.5, -2.5}};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type) + " value " + std::to_string(c.masked));
        const int mask = app.newInstance("Tarvik mask", ("m" + std::to_string(n++)).c_str());
        ASSERT_EQ(app.setValue<double>(mask, 1, c.masked), 0);
        const uint32_t source = app.frame(side, side, c.type, std::vector<double>(size_t(side) * side, 7));
        uint32_t copy = 0;
        ASSERT_EQ(app.runChain({mask}, source, &copy), 0) << app.log();
        const std::vector<double> out = app.values(copy);
        for (size_t i = 0; i < out.size(); ++i)
            ASSERT_EQ(out[i], (cfg[i] & 1) ? 7 : c.expected) << i;
    }
    // A frame of another size than the device's matrix is refused.
    const int mask = app.funcId("Tarvik mask");
    const uint32_t other = app.frame(side / 2, side / 2, TYPE_U32, std::vector<double>(size_t(side) * side / 4, 7));
    uint32_t copy = 0;
    EXPECT_EQ(app.runChain({mask}, other, &copy), MGR_ERR_FILTER_FAILED);
    EXPECT_NE(app.log().find("does not match the pixel matrix"), std::string::npos);
}

} // namespace chaintest
