#include "probe_run.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "daq_ini_guard.h"
#include "platform/numbers.h"

namespace probing {

namespace {

constexpr unsigned kBoxOk = 0x0;
constexpr unsigned kBoxError = 0x10;
constexpr unsigned kBoxInformation = 0x40;
constexpr int kContactTries = 3;     // digital tests of a DAQ-card device before the chip test
constexpr int kCurrentReadCode = -1; // the code shown when the supply cannot be read
constexpr const char* kDorvel = "dorvel";

} // namespace

std::string refusalOf(const RunConfig& cfg)
{
    if (cfg.chip.outputDir.empty())
        return "Choose the output folder first.";
    if (!validWaferName(cfg.waferName))
        return "The wafer name must not be empty and must not contain '/' or \"..\".";
    return {};
}

ProbeRun::ProbeRun(const _MgrFuncTable* table, unsigned devId, ProbeUi* ui) : t_(table), dev_(devId), ui_(ui) {}

ProbeRun::~ProbeRun()
{
    requestAbort();
    waitForThread(*this);
}

void ProbeRun::abort()
{
    if (t_->tvkCtrlAbortOperation)
        t_->tvkCtrlAbortOperation(dev_);
}

bool ProbeRun::fail(const std::string& message, int code)
{
    ui_->messageBox(message + " (error code: " + std::to_string(code) + ")", kBoxOk | kBoxError, abortFlag());
    return false;
}

bool ProbeRun::command(const std::string& text, int code, const char* failure)
{
    const int rc = station_.command(text, code, abortFlag());
    if (rc == kStationDone)
        return true;
    if (rc != kStationAborted)
        fail(failure, rc);
    return false;
}

bool ProbeRun::pause(double seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (abortRequested())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return !abortRequested();
}

void ProbeRun::openSupplies()
{
    const StationSettings& s = cfg_.station;
    if (s.gpibVDDA <= 0 && s.gpibVDDD <= 0)
        return;
    if (!visa_.viOpen && !visa_.open(s.visaLibrary)) {
        ui_->result("Power supply", visa_.error());
        return;
    }
    if (s.gpibVDDA > 0 && !vdda_.open(&visa_, s.gpibVDDA))
        ui_->result("Power supply", vdda_.error());
    if (s.gpibVDDD > 0 && !vddd_.open(&visa_, s.gpibVDDD))
        ui_->result("Power supply", vddd_.error());
}

bool ProbeRun::readCurrent(double* mA)
{
    if (vdda_.isOpen() && vdda_.currentMa(mA))
        return true;
    return fail("Reading of current value failed, aborting...", kCurrentReadCode);
}

int ProbeRun::run()
{
    progress_ = RunProgress{};
    std::string error;
    if (DaqIniGuard::restoreLeftover(cfg_.daqIniPath, &error) != 0)
        ui_->result("DAQ-card settings", error);
    const std::string trace = cfg_.station.traceFile.empty() ? cfg_.chip.outputDir + "/probecom_trace.txt"
                                                             : cfg_.station.traceFile;
    if (!station_.open(cfg_.station.comPort, cfg_.station.comBaud, cfg_.station.comTimeout, trace)) {
        fail(station_.error(), kStationPortError);
        ui_->runEnded();
        return -1;
    }
    depScan_.bind(t_);
    if (cfg_.chip.showPreview)
        preview_.open(t_, dev_);
    openSupplies();
    const int rc = runDies();
    preview_.close();
    const std::atomic<bool> never{false};
    station_.command("prbup", kAwaitUp, never); // the needles leave the wafer on every way out
    station_.close();
    vdda_.close();
    vddd_.close();
    ui_->runEnded();
    return rc;
}

void ProbeRun::reportProgress(const WaferMap& map)
{
    progress_.tested = map.tested();
    progress_.total = map.tested() + map.remaining();
    progress_.mapText = map.text();
    progress_.mapColumns = map.columns();
    ui_->progress(progress_);
}

int ProbeRun::runDies()
{
    _DevInfo info{};
    dorvel_ = t_->tvkCtrlGetDevInfo(dev_, &info) == 0 && info.interfaceName &&
              std::strcmp(info.interfaceName, kDorvel) == 0;
    WaferMap map(cfg_.station.waferCols, cfg_.station.waferRows);
    reportProgress(map);
    int column = -1;
    int row = -1;
    while (map.nextDie(cfg_.station.dirReversed != 0, &column, &row)) {
        const int chipClass = testDie(map, column, row);
        if (chipClass < 0)
            return abortRequested() ? 1 : -1;
        ++progress_.classCounts[static_cast<size_t>(chipClass)];
        reportProgress(map);
        std::string error;
        if (map.writeFiles(cfg_.chip.outputDir, cfg_.waferName, cfg_.station.showChipClass != 0,
                           cfg_.station.showMeasCurrent != 0, &error) != 0)
            ui_->result("Wafer map", error);
    }
    return 0;
}

bool ProbeRun::contactByTouchDowns()
{
    for (int n = 1; n < cfg_.station.upDownCount; ++n)
        if (!command("prbup", kAwaitUp, "Move up failed, aborting...") ||
            !command("prbdn", kAwaitDown, "Move down failed, aborting..."))
            return false;
    return true;
}

// Lowers the needles until the analog current reaches the condition: 1 reached, 0 not within the
// steps, -1 the run ends.
int ProbeRun::currentSearch()
{
    double mA = 0;
    if (!readCurrent(&mA))
        return -1;
    for (int step = 0; mA < cfg_.station.currentCondition; ++step) {
        if (step >= cfg_.station.maxOvdSteps)
            return 0;
        if (!command("prbdn", kAwaitDown, "Move down failed, aborting...") || !readCurrent(&mA))
            return -1;
    }
    return 1;
}

int ProbeRun::contactByCurrent()
{
    const StationSettings& s = cfg_.station;
    for (int pass = 0; pass <= s.upDownCount; ++pass) {
        if (!command("prbtdm(ovd)", kAwaitMode, "Overdrive settings failed, aborting..."))
            return -1;
        const int found = currentSearch();
        if (found <= 0)
            return found;
        for (int k = 0; k < s.fixedOvdCount; ++k)
            if (!command("prbdn", kAwaitDown, "Move down failed, aborting..."))
                return -1;
        if (pass < s.upDownCount &&
            !(command("prbtdm(td)", kAwaitMode, "Overdrive settings failed, aborting...") &&
              command("prbup", kAwaitUp, "Move up failed, aborting...") &&
              command("prbdn", kAwaitDown, "Move down failed, aborting...")))
            return -1;
    }
    return 1;
}

bool ProbeRun::reconnect()
{
    const int rc = t_->tvkCtrlReconnectTvk(dev_);
    return rc == 0 || fail("Reconnecting the device failed, aborting...", rc);
}

// The device made ready for the chip test; false: the run ends.
bool ProbeRun::prepareDevice()
{
    if (!dorvel_)
        return reconnect();
    DaqIniGuard guard(cfg_.daqIniPath);
    if (guard.force(cfg_.station.waferType) != 0)
        return fail(guard.error(), -1);
    if (!reconnect())
        return false;
    if (cfg_.station.feedback)
        return true;
    if (!command("prbtdm(td)", kAwaitMode, "Overdrive settings failed, aborting..."))
        return false;
    for (int attempt = 1;; ++attempt) {
        int good = 0;
        if (t_->tvkCtrlPerformDigitalTest(dev_, &good, nullptr, 0, 0.0) == 0 || attempt >= kContactTries)
            return true; // the chip test reports a digital test that still fails
        if (!command("prbup", kAwaitUp, "Move up failed, aborting...") ||
            !command("prbdn", kAwaitDown, "Move down failed, aborting...") || !pause(cfg_.settleSeconds) || !reconnect())
            return false;
    }
}

// One die; its class (kNoClass when none), or -1 when the run ends.
int ProbeRun::testDie(WaferMap& map, int column, int row)
{
    const StationSettings& s = cfg_.station;
    if (!command("prbup", kAwaitUp, "Move up failed, aborting...") ||
        !command("prbcr(" + std::to_string(column + 1) + "," + std::to_string(row + 1) + ")", kAwaitMoveXY,
                 "Move XY failed, aborting...") ||
        !command("prbpos", kAwaitPos, "Getting XY failed, aborting...") ||
        !command("prbtdm(td)", kAwaitMode, "Overdrive settings failed, aborting...") ||
        !command("prbdn", kAwaitDown, "Move down failed, aborting..."))
        return -1;
    if (!s.feedback) {
        if (!contactByTouchDowns())
            return -1;
    } else if (s.maxOvdSteps > 0) {
        const int contact = contactByCurrent();
        if (contact < 0)
            return -1;
        if (contact == 0) { // no contact: no test on this die
            if (!command("prbup", kAwaitUp, "Move up failed, aborting..."))
                return -1;
            map.record(column, row, kNoClass, -1);
            return kNoClass;
        }
    }
    DieContext die{cfg_.waferName, dieTestName(cfg_.waferName, column, row)};
    if (vdda_.isOpen() && !vdda_.currentMa(&die.currentVdda))
        die.currentVdda = -1;
    if (vddd_.isOpen() && !vddd_.currentMa(&die.currentVddd))
        die.currentVddd = -1;
    if (s.showVerifyDlg) {
        ui_->messageBox("Verify the analog current!", kBoxOk | kBoxInformation, abortFlag());
        if (abortRequested())
            return -1;
    }
    if (!pause(cfg_.settleSeconds) || !prepareDevice() || abortRequested())
        return -1;
    ChipTest test(t_, dev_, cfg_.chip, &depScan_, &preview_, ui_, abortFlag());
    const int chipClass = test.run(die);
    if (abortRequested())
        return -1;
    map.record(column, row, chipClass, die.currentVdda);
    return chipClass;
}

} // namespace probing
