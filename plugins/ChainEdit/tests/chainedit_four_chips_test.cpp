// The mask filter on a four-chip device, whose 512 x 512 frames take the super-matrix configuration.
#include <gtest/gtest.h>

#include "chainedit_app.h"
#include "mask_check.h"

using chaintest::Detector;
using chaintest::FilterApp;

namespace {

TEST(ChainEditFourChips, MaskUsesTheSuperMatrixConfiguration)
{
    FilterApp app("fourchips", Detector::FourChips);
    ASSERT_EQ(app.start(), 0) << app.log();
    _DevInfo info{};
    ASSERT_EQ(app.t().tvkCtrlGetDevInfo(0, &info), 0);
    ASSERT_EQ(info.pixelCount, 512 * 512);
    chaintest::checkMask(app, 512, true);
}

} // namespace
