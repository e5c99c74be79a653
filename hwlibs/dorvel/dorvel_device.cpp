// The hardware functions of one readout system: hwInit (initHw), closing, the hardware-info items and the
// device description. The protocol and the sequences are in the files named in dorvel_device.h.
#include "dorvel_device.h"

#include <cstdio>
#include <cstring>

#include "platform/ini.h"
#include "platform/text_copy.h"
#include "pluginfw/value_text.h"
#include "wire.h"

namespace dorvel {

namespace {

constexpr const char* kInterfaceName = "dorvel";
constexpr int kMaxChips = 4;
constexpr size_t kChipIdMax = 64; // [Force] ChipID

// The refusals of the item functions.
const hwkit::ItemRules kItemRules{
    kErrParam,
    kErrParam,
    "Invalid parameter, HwInfoItem index (%d) out of range",
    "Invalid parameter.",
    "Supplied buffer is too small, size: %u, required: %u",
    "Invalid parameter, data size for HwInfoItem: %d, required: %d",
    "Invalid parameter.",
    "HwInfoItem \"%s\" cannot be changed.",
};

} // namespace

DorvelDevice::DorvelDevice(DeviceContext context, uint16_t board, const char* boardName)
    : ItemDevice(kItemRules, typeElementSize, [this](int code, const char* text) { return fail(code, "%s", text); }),
      context_(std::move(context)),
      card_(*context_.card),
      board_(board)
{
    declareItems({
        {"Nidaq version raw", TYPE_U32, 1, 0, "Nidaq version (raw value)", &nidaqVersionRaw_},
        {"Nidaq version", TYPE_STRING, 0, 0, "Nidaq version", nidaqVersion_, {},
         [this] { return static_cast<uint32_t>(std::strlen(nidaqVersion_) + 1); }},
        {"Nidaq error", TYPE_I32, 1, 0, "Last nidaq error code", &nidaqError_},
        {"Board num", TYPE_I32, 1, 0, "Nidaq board number", &boardNumber_},
        {"Board name", TYPE_CHAR, sizeof boardName_, 0, "Nidaq board name", boardName_},
        {"Dorvel major ver.", TYPE_BYTE, 1, 0, "Dorvel major version number", &dorvelMajor_},
        {"Dorvel minor ver.", TYPE_BYTE, 1, 0, "Dorvel minor version number", &dorvelMinor_},
        {"Dorvel clock", TYPE_DOUBLE, 1, 0, "Dorvel clock freq. [MHz]", &clockMHz_},
        {"Reset DORVEL", TYPE_BOOL, 1, 3,
         "Reset DORVEL before each acq. if HW timer is used (DORVEL timer workaround is active)", &resetDorvel_},
        {"Reset Tvk", TYPE_BOOL, 1, 3, "Reset Tvk before DACs are set.", &resetTvk_},
        {"PixCfg delay", TYPE_U32, 1, 3, "Delay in ms after setting pixels cfgs (threshold stabilization)",
         &pixCfgDelay_},
        {"Parallel reset", TYPE_BOOL, 1, 3, "Perform reset parallely", &parallelReset_},
        {"Tracing", TYPE_BOOL, 1, 3, "Log tracing information", &tracing_},
        {"CTPR overide", TYPE_U32, 1, 2, "Overides CTPR value (if <> 0)", &ctprOverride_},
    });
    boardNumber_ = board;
    plat::copyText(boardName_, boardName);
    nidaqVersionRaw_ = context_.driverVersion;
    std::snprintf(nidaqVersion_, sizeof nidaqVersion_, "%.*s", static_cast<int>(kVersionTextMax),
                  context_.driverVersionText.c_str());
    devInfo_.interfaceName = kInterfaceName;
    devInfo_.acqModeMask = ACQMODE_MANUAL | ACQMODE_EXTSHUTTER_FIXED;
    devInfo_.callbackSupported = 0;
    devInfo_.hwTimerMax = 4294.967295;
    devInfo_.hwTimerStep = 1e-6;
    devInfo_.maxTestPulseCount = 65535;
    devInfo_.maxTestPulseHeight = 2.2;
    devInfo_.maxTestPulsePeriod = 1.0;
    devInfo_.extDacMax = 2.2;
    devInfo_.extDacStep = 2.2 / 4095.0;
}

DorvelDevice::~DorvelDevice()
{
    releaseBuffers();
}

void DorvelDevice::releaseBuffers()
{
    card_.releaseBuffer(transfer_);
    transfer_ = nullptr;
    transferWords_ = 0;
}

void DorvelDevice::setChipData(int chipCount, int type)
{
    devInfo_.chipCount = chipCount;
    devInfo_.chipType = type;
    devInfo_.pixelCount = chipCount * 65536;
    devInfo_.rowLength = chipCount == 4 ? 512 : 256 * chipCount;
    devInfo_.chipRows = chipCount == 4 ? 2 : 1;
}

void DorvelDevice::readForce(int* tvkVersion, int* numberOfChips, std::string* chipId)
{
    *tvkVersion = 0;
    *numberOfChips = 0;
    chipId->clear();
    if (context_.iniPath.empty())
        return;
    const char* file = context_.iniPath.c_str();
    *tvkVersion = plat::getProfileInt("Force", "TvkVersion", 0, file);
    *numberOfChips = plat::getProfileInt("Force", "NumberOfChips", 0, file);
    char id[kChipIdMax + 1] = "";
    plat::getProfileString("Force", "ChipID", "", id, sizeof id, file);
    *chipId = id;
}

// initHw: the board, the readout system's version and chip data, its clock, the chip-board id, and the
// transfer buffer. A reconnect of a closed (or still open) device comes here again.
int DorvelDevice::init()
{
    trace("hwInit...");
    releaseBuffers();
    int tvkVersion = 0;
    int numberOfChips = 0;
    std::string chipId;
    readForce(&tvkVersion, &numberOfChips, &chipId);
    if (const int r = initBoard())
        return r;
    if (const int r = generalResetSequence())
        return r;
    if (const int r = getDorvelVersion())
        return r;

    int type = wire::versionChipType(versionWord_);
    int chipCount = wire::versionChips(versionWord_);
    if (tvkVersion != 0)
        type = tvkVersion;
    if (numberOfChips >= 1)
        chipCount = numberOfChips;
    if (type < 1 || type > 3)
        return fail(kErrParam, "Invalid parameter, chip type: %d (supported: 1, 2, 3)", type);
    if (chipCount < 1 || chipCount > kMaxChips)
        return fail(kErrParam, "Invalid parameter, number of chips: %d (supported: 1-%d)", chipCount, kMaxChips);
    setChipData(chipCount, type);

    if (const int r = readSpeedTest())
        return r;
    if (!chipId.empty())
        plat::copyText(devInfo_.chipboardId, chipId);
    else if (const int r = readChipId())
        return r;

    const uint32_t words = wire::transferWords(chipCount, type);
    transfer_ = card_.allocateBuffer(words);
    if (!transfer_)
        return fail(kErrMemory, "Memory allocation of %d bytes failed.", static_cast<int>(words * 2));
    transferWords_ = words;
    return 0;
}

// The record and its id stay for the next hwInit; only the transfer buffer goes.
int DorvelDevice::closeDevice()
{
    trace("hwCloseDevice...");
    releaseBuffers();
    return 0;
}

int DorvelDevice::getDevInfo(_DevInfo* info)
{
    if (!info)
        return fail(kErrParam, "Invalid parameter.");
    devInfo_.clockMHz = clockMHz_;
    *info = devInfo_;
    return 0;
}

} // namespace dorvel
