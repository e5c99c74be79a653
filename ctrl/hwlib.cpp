#include "hwlib.h"

#include <cstring>

namespace {

constexpr size_t kMaxHwText = 4095;

// Names of the table's functions in table order, for the message about a missing one.
const char* const kFunctionNames[] = {
    "hwGetFirst", "hwGetNext", "hwInit", "hwSetCb", "hwSetCbTag", "hwGetHwInfoCount", "hwGetHwInfoFlags",
    "hwGetHwInfo", "hwSetHwInfo", "hwGetDevInfo", "hwGetAcqTime", "hwSetAcqPars", "hwStartAcquisition",
    "hwStopAcquisition", "hwTestPulses", "hwSetTvkDACs", "hwGetTvkDacVal", "hwSetExtDac", "hwSetPixelsCfg",
    "hwResetMatrix", "hwReadMatrix", "hwWriteMatrix", "hwGeneralReset", "hwGetLastErrorGeneral",
    "hwGetLastError", "hwCheckBusy", "hwCloseDevice"};
static_assert(sizeof(kFunctionNames) / sizeof(kFunctionNames[0]) == (sizeof(_HwFuncTable) - 8) / 8);

// The name of the first null entry, or null when the table is complete.
const char* missingFunction(const _HwFuncTable& table)
{
    const auto* base = reinterpret_cast<const unsigned char*>(&table) + offsetof(_HwFuncTable, hwGetFirst);
    for (size_t i = 0; i < sizeof(kFunctionNames) / sizeof(kFunctionNames[0]); ++i) {
        void* entry = nullptr;
        std::memcpy(&entry, base + i * sizeof(void*), sizeof entry);
        if (!entry)
            return kFunctionNames[i];
    }
    return nullptr;
}

} // namespace

std::string hwText(const char* text)
{
    if (!text)
        return {};
    return std::string(text, strnlen(text, kMaxHwText));
}

std::shared_ptr<HwLibrary> HwLibrary::load(const std::string& path, int* code, std::string* message)
{
    auto fail = [&](int c, std::string text) -> std::shared_ptr<HwLibrary> {
        *code = c;
        *message = std::move(text);
        return nullptr;
    };
    auto lib = std::make_shared<HwLibrary>();
    if (!lib->module_.open(path))
        return fail(TVK_ERR_LIB_LOAD, "Cannot load library " + path + " (" + lib->module_.error() + ")");
    auto entry = reinterpret_cast<GetMandatoryFuncsFn>(lib->module_.symbol(TVK_HW_ENTRY_NAME));
    if (!entry)
        return fail(TVK_ERR_LIB_INIT, "Initialization of HW library " + path + " has failed (" + lib->module_.error() + ").");
    const _HwFuncTable* table = entry();
    if (!table)
        return fail(TVK_ERR_LIB_INIT, "Initialization of HW library " + path + " has failed (no function table).");
    if (table->size < sizeof(_HwFuncTable))
        return fail(TVK_ERR_LIB_INIT, "Initialization of HW library " + path + " has failed (function table of " +
                              std::to_string(table->size) + " bytes, " + std::to_string(sizeof(_HwFuncTable)) +
                              " required).");
    if (const char* missing = missingFunction(*table))
        return fail(TVK_ERR_LIB_INIT, "Initialization of HW library " + path + " has failed (" + missing +
                              " is missing from its function table).");
    lib->table_ = table;
    return lib;
}
