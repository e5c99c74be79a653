// The values behind the test-pulse parameters dialog (test_pulse_dlg.h): the device's limits, the label
// texts built from them, the values as the fields show them, and the conversion of the period between the
// caller's seconds and the dialog's microseconds. No windows.
#pragma once

#include <cstdint>
#include <string>

#include "tvk_mgr.h"

class TestPulseParsModel {
public:
    // Reads the limits of devId through table and prepares the values for showing: a height or period of
    // 0 becomes half its maximum, the period turns into microseconds. 0, or the table's code (nothing is
    // changed then); errorText() tells the user what went wrong.
    int init(const _MgrFuncTable* table);
    // The period back in seconds, after the fields were read into the values.
    void finish() { period /= 1e6; }

    // "Cannot read the information of device <devId> (error <rc>)."
    std::string errorText(int rc) const;

    // Shortest text that reads back to exactly the value.
    static std::string fieldText(double value);

    int devId = -1;
    double maxHeight = 0;  // [V]
    double maxPeriod = 0;  // [s]
    double height = 0;     // [V]
    double period = 0;     // [s] in the caller's hands, [us] while the dialog is open
    uint32_t count = 0;
    uint32_t maxCount = 0;
    int spacing = 0;       // passed through
    std::string heightLabel;
    std::string periodLabel;
    std::string countLabel;
};
