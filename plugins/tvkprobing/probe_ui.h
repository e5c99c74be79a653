// What a probing run tells its window, and the one thing it asks of it. Called from the run's thread;
// an implementation queues the work to the GUI thread and never lets the run touch a widget.
#pragma once

#include <array>
#include <atomic>
#include <string>

namespace probing {

struct RunProgress {
    int tested = 0;
    int total = 0;
    std::array<int, 6> classCounts{}; // A .. E, no class
    std::string mapText;              // the wafer map's lines
    int mapColumns = 0;
};

class ProbeUi {
public:
    virtual ~ProbeUi() = default;
    // A line of the chip test's result list: the line of that name gets the value (added when new).
    virtual void result(const std::string& name, const std::string& value) = 0;
    virtual void clearResults() = 0;
    virtual void progress(const RunProgress& progress) = 0;
    // Shows a message box on the GUI thread and waits for its answer while abort stays clear; the
    // answer (uikit's codes), or 0 when the wait was aborted.
    virtual int messageBox(const std::string& text, unsigned type, const std::atomic<bool>& abort) = 0;
    // The run's last word, from its thread just before the thread ends.
    virtual void runEnded() {}
};

} // namespace probing
