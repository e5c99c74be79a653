// The module tvkHwDorvel.so: its settings file beside it, its debug log, the card behind the DioCard
// layer, and the function table that getMandatoryFuncs hands out.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "dorvel_library.h"
#include "hwlibs/common/hw_func_table.h"
#include "sim/sim_card.h"
#include "tvk_export.h"

extern "C" TVK_EXPORT _HwFuncTable* getMandatoryFuncs(void);

namespace {

using namespace dorvel;

std::string settingsPath()
{
    return hwkit::settingsPathOf(reinterpret_cast<const void*>(&getMandatoryFuncs));
}

std::shared_ptr<DioCard> makeCard(const std::string& iniPath)
{
    SimCardConfig config;
    SimFaults faults;
    int faultBoard = 0;
    if (!iniPath.empty())
        readSimCardSettings(iniPath, &config, &faults, &faultBoard);
    auto card = std::make_shared<SimCard>(config);
    card->setFaults(static_cast<uint16_t>(faultBoard < 0 ? 0 : faultBoard), faults);
    return card;
}

// Library start: the card behind the library and the debug log, created (emptied) now in the current
// folder; without any board set up there is no log.
DorvelLibrary& library()
{
    static DorvelLibrary instance = [] {
        const std::string ini = settingsPath();
        std::shared_ptr<DioCard> card = makeCard(ini);
        std::shared_ptr<DebugLog> log;
        if (card->hasBoards())
            log = std::make_shared<DebugLog>("__debug_dorvelhwlib.log");
        return DorvelLibrary(std::move(card), std::move(log), ini);
    }();
    return instance;
}

std::atomic<int> threadSerial{0};

// hwSetCb of the kit, with the line the debug log keeps of it.
int hwSetCb(HwCallback callback)
{
    thread_local const int thread = ++threadSerial;
    if (DebugLog* log = library().log())
        log->write("(_%d_) hwSetCallback - callback: %#lx ...\n", thread,
                   static_cast<unsigned long>(reinterpret_cast<uintptr_t>(callback)));
    return library().setCallback(callback);
}

} // namespace

// The device-control library calls this once, right after loading the module: the library starts here.
extern "C" TVK_EXPORT _HwFuncTable* getMandatoryFuncs(void)
{
    library();
    static _HwFuncTable table = [] {
        _HwFuncTable t = *hwkit::funcTable<&library>();
        t.hwSetCb = &hwSetCb;
        return t;
    }();
    return &table;
}
