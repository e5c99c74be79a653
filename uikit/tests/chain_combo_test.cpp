// The chain chooser refilled on drop-down keeps the chain chosen and says when the choice had to change.
#include <gtest/gtest.h>

#include <QSignalSpy>

#include "chain_combo.h"
#include "fake_chains.h"

namespace {

TEST(ChainCombo, RefreshKeepsTheChosenChainAndSignalsAFallback)
{
    const _MgrFuncTable mgr = fakeChainTable();
    gFakeChains = {{4, "Flat field"}, {7, "Flat"}};
    CComboBoxFilterChains combo(&mgr);
    combo.fillChains();
    ASSERT_EQ(combo.count(), 3);
    EXPECT_EQ(combo.itemData(0).toInt(), 0);
    combo.setCurrentIndex(2);
    QSignalSpy changed(&combo, &CComboBoxFilterChains::chainChanged);

    combo.refresh();
    EXPECT_EQ(combo.currentText(), "Flat");
    EXPECT_EQ(combo.selectedChainId(), 7);
    EXPECT_EQ(changed.count(), 0);

    gFakeChains = {{4, "Flat field"}};
    combo.refresh();
    EXPECT_EQ(combo.currentText(), "None");
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(0).toInt(), 0);
}

} // namespace
