// DioCard: the digital I/O card under the readout system, as the register protocol uses it. One virtual
// function per driver call, by its role; each returns the driver's 16-bit status (0 success) and is named
// by dioCallName() in messages. The only backend is the simulated card (sim/sim_card.h); a driver for a
// real card would go behind this class (README.md says why there is none on Linux).
//
// Block transfers run in the background: blockIn/blockOut start one on a handshake group, blockCheck tells
// how many words remain, blockClear ends it early. The buffer must stay alive until the transfer has ended
// or was cleared. Transfer buffers come from allocateBuffer, as a driver may need memory of its own kind.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dorvel {

enum class DioCall {
    BoardInit,   // board initialisation: tells the card's type code
    Version,     // driver version
    PortConfig,  // DIG_Prt_Config
    LineConfig,  // DIG_Line_Config
    PortOut,     // DIG_Out_Prt
    GroupConfig, // DIG_Grp_Config
    GroupMode,   // DIG_Grp_Mode
    DeviceInfo,  // Set_DAQ_Device_Info
    BlockIn,     // DIG_Block_In
    BlockOut,    // DIG_Block_Out
    BlockCheck,  // DIG_Block_Check
    BlockClear,  // DIG_Block_Clear
    LineOut,     // DIG_Out_Line
    LineIn,      // DIG_In_Line
};

// The driver's name of a call, as messages give it ("DIG_Out_Prt", "Get_NI_DAQ_Version", ...).
const char* dioCallName(DioCall call);
// The call with that name; false when no call has it.
bool dioCallByName(const char* name, DioCall* call);

class DioCard {
public:
    virtual ~DioCard() = default;

    virtual int16_t driverVersion(uint32_t* raw) = 0;
    // typeCode receives the card's device type code; a failure means no usable card at that number.
    virtual int16_t initBoard(uint16_t board, int16_t* typeCode) = 0;
    virtual int16_t portConfig(uint16_t board, int16_t port, int16_t mode, int16_t dir) = 0;
    virtual int16_t lineConfig(uint16_t board, int16_t port, int16_t line, int16_t dir) = 0;
    virtual int16_t portOut(uint16_t board, int16_t port, int32_t pattern) = 0;
    virtual int16_t groupConfig(uint16_t board, int16_t group, int16_t size, int16_t port, int16_t dir) = 0;
    virtual int16_t groupMode(uint16_t board, int16_t group, int16_t type, int16_t edge, int16_t reqPolarity,
                              int16_t ackPolarity, int16_t settleTime) = 0;
    virtual int16_t setDeviceInfo(uint16_t board, uint32_t infoType, uint32_t value) = 0;
    virtual int16_t blockIn(uint16_t board, int16_t group, uint16_t* buffer, uint32_t count) = 0;
    virtual int16_t blockOut(uint16_t board, int16_t group, const uint16_t* buffer, uint32_t count) = 0;
    virtual int16_t blockCheck(uint16_t board, int16_t group, uint32_t* remaining) = 0;
    virtual int16_t blockClear(uint16_t board, int16_t group) = 0;
    virtual int16_t lineOut(uint16_t board, int16_t port, int16_t line, int16_t state) = 0;
    virtual int16_t lineIn(uint16_t board, int16_t port, int16_t line, int16_t* state) = 0;

    // Memory for block transfers of `words` 16-bit words; null when it cannot be had.
    virtual uint16_t* allocateBuffer(size_t words);
    virtual void releaseBuffer(uint16_t* buffer);

    // False when the backend knows that no board is set up at all (a simulated card of none): the library
    // then has no devices, reports no error and writes no debug log. A driver that can only probe says true.
    virtual bool hasBoards() const { return true; }
};

} // namespace dorvel
