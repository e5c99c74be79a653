// Matrix transfers through the matrix port with their counter check, and the chip-ID read.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "counter_streams.h"
#include "dorvel_device.h"
#include "wire.h"

namespace dorvel {

namespace {

// Runs the clean-up after a failure without losing the failure's text.
template <typename F>
int keepingError(hwkit::Device& device, int code, F cleanUp)
{
    const std::string text = device.lastError();
    cleanUp();
    return device.setError(code, "%s", text.c_str());
}

} // namespace

// Writes the control word, then the same word with the go bit cleared: the readout system starts it.
int DorvelDevice::sendMatrixCommand(uint16_t word)
{
    if (const int r = writeRegister(wire::kRegControl, word))
        return r;
    return writeRegister(wire::kRegControl, static_cast<uint16_t>(word & ~wire::kCtlGo));
}

int DorvelDevice::readMatrix(uint16_t* buffer, uint32_t count)
{
    if (!transfer_)
        return fail(kErrGeneric, "Device is not initialized (hwInit).");
    const uint32_t required = pixelCount();
    if (!buffer || count < required)
        return fail(kErrParam, "Supplied buffer is too small, size: %u, required: %u", buffer ? count : 0, required);
    if (const int r = resetLine(wire::kLineReadout))
        return r;
    if (const int r = sendMatrixCommand(controlWord()))
        return r;
    // From here on a failed transfer pulses the reset line before it returns, so that the readout system
    // does not stay in the middle of it.
    auto failed = [this](int r) { return keepingError(*this, r, [this] { resetLine(wire::kLineReadout); }); };
    if (const int r = nidaq(DioCall::PortOut, card_.portOut(board_, wire::kAddressPort, wire::kMatrixRead)))
        return failed(r);
    if (const int r = waitForBusy(0))
        return failed(r);
    if (const int r = readData(transferWords_, transfer_))
        return failed(r);
    uint32_t counter = 0;
    if (const int r = readRegister(wire::kRegCounter, &counter))
        return failed(r);
    if (const int r = counterCheck(counter, wire::matrixCounter(chips(), chipType())))
        return failed(r);
    int16_t bad = 0;
    const size_t streamBytes = static_cast<size_t>(chips()) * wire::chipStreamBytes(chipType());
    if (!decodeMatrix(wire::bytesOf(transfer_), streamBytes, chips(), chipType(), buffer, &bad))
        return fail(kErrConversion, "Unexpected value: %hd for conversion", bad);
    return 0;
}

int DorvelDevice::writeMatrix(const uint16_t* buffer, uint32_t count)
{
    if (!transfer_)
        return fail(kErrGeneric, "Device is not initialized (hwInit).");
    const uint32_t required = pixelCount();
    if (!buffer || count < required)
        return fail(kErrParam, "Supplied buffer is too small, size: %u, required: %u", buffer ? count : 0, required);
    const uint32_t modulo = chipType() < 2 ? 8001 : 11811;
    for (uint32_t i = 0; i < required; ++i)
        if (buffer[i] >= modulo)
            return fail(kErrConversion, "Unexpected value: %hd for conversion", static_cast<int16_t>(buffer[i]));
    std::memset(transfer_, 0, size_t{transferWords_} * 2);
    if (!encodeMatrix(buffer, chips(), chipType(), wire::bytesOf(transfer_), size_t{transferWords_} * 2))
        return fail(kErrConversion, "Unexpected value: %hd for conversion", static_cast<int16_t>(buffer[0]));
    if (const int r = sendMatrixCommand(controlWord() | wire::kCtlWrite))
        return r;
    if (const int r = resetLine(wire::kLineReadout))
        return r;
    // From here on a failed transfer pulses the reset line before it returns, as a finished one does.
    auto failed = [this](int r) { return keepingError(*this, r, [this] { resetLine(wire::kLineReadout); }); };
    if (const int r = nidaq(DioCall::PortOut, card_.portOut(board_, wire::kAddressPort, wire::kMatrixWrite)))
        return failed(r);
    if (const int r = writeData(transferWords_, transfer_))
        return failed(r);
    uint32_t counter = 0;
    if (const int r = readRegister(wire::kRegCounter, &counter))
        return failed(r);
    if (const int r = counterCheck(counter, wire::matrixCounter(chips(), chipType())))
        return failed(r);
    return resetLine(wire::kLineReadout);
}

int DorvelDevice::readChipId()
{
    if (chipType() < 2) {
        std::snprintf(devInfo_.chipboardId, sizeof devInfo_.chipboardId, "%d", board_ + 1000);
        return 0;
    }
    if (const int r = sendMatrixCommand(controlWord() | wire::kCtlChipId))
        return r;
    if (const int r = nidaq(DioCall::PortOut, card_.portOut(board_, wire::kAddressPort, wire::kMatrixRead)))
        return r;
    if (const int r = waitForBusy(0))
        return r;
    std::vector<uint16_t> words(wire::chipIdWords(chips()));
    if (const int r = readData(static_cast<uint32_t>(words.size()), words.data()))
        return r;
    wire::ChipIdFields id;
    if (!wire::gatherChipId(words.data(), words.size(), chips() - 1, &id))
        return fail(kErrParam, "Invalid parameter: chip-ID bits of chip %d", chips() - 1);
    // Only 2048 and above can lose it: smaller wafer numbers with bit 0x10 are kept as they are.
    if ((id.wafer & 0x10) && id.wafer != 4095 && id.wafer >= 2048)
        id.wafer -= 2048;
    const int letter = std::isalnum(id.letter) ? id.letter : '?';
    std::snprintf(devInfo_.chipboardId, sizeof devInfo_.chipboardId, "%c%02d - W%04d", letter, id.number, id.wafer);
    return 0;
}

} // namespace dorvel
