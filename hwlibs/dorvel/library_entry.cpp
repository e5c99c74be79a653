// The module tvkHwDorvel.so: its settings file beside it, its debug log, the card behind the DioCard
// layer, and the function table that getMandatoryFuncs hands out.
#include <atomic>
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

DorvelLibrary& library()
{
    static DorvelLibrary instance = [] {
        const std::string ini = settingsPath();
        return DorvelLibrary(makeCard(ini), std::make_shared<DebugLog>("__debug_dorvelhwlib.log"), ini);
    }();
    return instance;
}

std::atomic<int> threadSerial{0};

// hwSetCb of the kit, with the line the debug log keeps of it.
int hwSetCb(HwCallback callback)
{
    thread_local const int thread = ++threadSerial;
    if (DebugLog* log = library().log())
        log->write("(_%d_) hwSetCallback - callback: %p ...\n", thread, reinterpret_cast<void*>(callback));
    return library().setCallback(callback);
}

} // namespace

extern "C" TVK_EXPORT _HwFuncTable* getMandatoryFuncs(void)
{
    static _HwFuncTable table = [] {
        _HwFuncTable t = *hwkit::funcTable<&library>();
        t.hwSetCb = &hwSetCb;
        return t;
    }();
    return &table;
}
