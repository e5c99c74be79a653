// The chain chooser refilled on drop-down keeps the chain chosen and says when the choice had to change.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSignalSpy>
#include <QWidget>

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

namespace {

// Two windows offer the chains; the editor removes the chain one of them has chosen and fires its event.
TEST(ChainCombo, FollowsTheEditorsEventAndFallsBackToNoneWithAMessage)
{
    const _MgrFuncTable mgr = fakeChainTableWithEvent();
    gFakeChains = {{4, "Flat field"}, {7, "StatsSave"}};
    gFakeSubscribers.clear();
    gFakeLog.clear();
    {
        QWidget control;
        control.setWindowTitle("Tarvik Control 0");
        auto* chosen = new CComboBoxFilterChains(&mgr, &control);
        QWidget preview;
        auto* other = new CComboBoxFilterChains(&mgr, &preview);
        ASSERT_EQ(gFakeSubscribers.size(), 1u) << "one subscription for the module, not one per chooser";
        chosen->fillChains();
        other->fillChains();
        chosen->setCurrentIndex(2);
        QSignalSpy changed(chosen, &CComboBoxFilterChains::chainChanged);

        gFakeChains = {{4, "Flat field"}, {7, "StatsSave"}, {9, "New"}};
        gFakeSubscribers.front()(9);
        QCoreApplication::processEvents();
        EXPECT_EQ(other->count(), 4) << "a new chain is offered without opening the list";
        EXPECT_EQ(chosen->selectedChainId(), 7);
        EXPECT_EQ(changed.count(), 0);

        gFakeChains = {{4, "Flat field"}, {9, "New"}};
        gFakeSubscribers.front()(7);
        QCoreApplication::processEvents();
        EXPECT_EQ(chosen->currentText(), "None");
        ASSERT_EQ(changed.count(), 1);
        EXPECT_EQ(changed.at(0).at(0).toInt(), 0) << "the window learns that no chain is chosen";
        EXPECT_EQ(gFakeLog, std::vector<std::string>{"Tarvik Control 0: The filter chain StatsSave no longer "
                                                     "exists; \"None\" is chosen instead."});
        EXPECT_EQ(other->currentText(), "None") << "a chooser on None stays there without a message";
    }
    EXPECT_TRUE(gFakeSubscribers.empty()) << "the last chooser unsubscribes";

    gFakeChainEvent = false; // the editor is not loaded: no subscription is tried
    CComboBoxFilterChains alone(&mgr);
    EXPECT_TRUE(gFakeSubscribers.empty());
    gFakeChainEvent = true;
}

} // namespace
