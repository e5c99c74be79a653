// The simulated readout box: answers every command the library sends, following the wire details of
// wire.h, keeps the matrices written to it, counts a fixed pattern into enabled pixels at each exposure,
// sends trigger, interval and frame messages by itself as time passes, and misbehaves on request.
//
// Pattern: exposure n (counted from 0 at each open) leaves (7 row + 3 col + 1000 chip + n) modulo the
// number of counter states in every enabled pixel (row, col within the chip); a pulse train adds its
// count to every enabled pixel whose test-pulse input is on, from counters cleared at its start (chip types 2 and 3: in the columns of the
// DAC block's column mask, bit col % 32).
//
// All state is guarded by one mutex; the link side may be called from any thread.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/ft_link.h"
#include "box_wire.h"

namespace usb::sim {

enum class Fault {
    None,
    Garbage,     // bytes that are no reply before the reply
    FlipBits,    // the echoed code arrives with its top bit flipped
    StaleReply,  // the reply to the previous command comes first
    PartialSync, // no reply, and the next sync reply is preceded by the start of the sync string
    DeviceError, // the box reports an error for the command
    Stall,       // no reply at all
    ShortRead,   // half of the reply, then nothing
    Unplug,      // the box is gone
};
// "garbage", "flip", "stale", "partialsync", "deviceerror", "stall", "shortread", "unplug"; None otherwise.
Fault faultFromName(const std::string& name);

struct BoxConfig {
    int chips = 1;        // 1, 2 or 4
    int chipType = 1;     // 1-3
    std::string chipboardId = "S01-W0001"; // letter, two digits, "-W", wafer number; "" for unset
    std::string firmware = "1.1.5";
    std::string serial = "SIM0001";
    std::string description = "Tarvik2 Simulated box";
};

class SimBox {
public:
    explicit SimBox(BoxConfig config);

    const BoxConfig& config() const { return config_; }
    LinkInfo info() const { return {config_.description, config_.serial}; }

    // ---- the link side ----
    int open(); // a fresh session: exposure count 0, buffers empty
    int write(const uint8_t* data, uint32_t size, uint32_t* written);
    int queueDepth(uint32_t* bytes);
    int read(uint8_t* buffer, uint32_t wanted, uint32_t* got);
    int purge();

    // ---- faults ----
    // The fault hits the command that follows afterCommands further commands (sync commands not counted),
    // and the repeat - 1 commands after it.
    void injectFault(Fault fault, int afterCommands = 0, int repeat = 1);
    // Unplugging ends every link open to the box, as on the bus: plugged in again, the box is reached
    // only through a link opened anew.
    void unplug();
    void plugIn();
    bool plugged() const;
    uint64_t plugCount() const; // times the box was unplugged; a link belongs to one value of it

    // ---- what the box sends by itself, at a test's call ----
    // The reply of "Interval measure" nobody asked for: an interval of that many seconds the box measured.
    void sendIntervalMeasure(double seconds);

    // ---- what the box holds ----
    std::vector<uint16_t> matrixCodes() const;
    std::vector<uint8_t> pixelConfigs() const;
    uint64_t received(uint8_t code) const; // commands of a code received
    std::string commandLog() const;        // every command code received, in order (sync included)
    std::vector<uint8_t> lastParams(uint8_t code) const; // parameters of the last command of a code
    int exposures() const;

private:
    void pump(double now);                       // time-driven events
    void handle(uint8_t code, const uint8_t* params, size_t size);
    void reply(uint8_t code, const std::vector<uint8_t>& params, const std::string& status = wire::kStatusOk);
    void send(const std::vector<uint8_t>& bytes);
    void sendText(const std::string& text);
    void sendFrame(double seconds);
    void sendScope();
    std::vector<uint8_t> matrixReply() const;     // 32-bit length, FromReadout stream
    std::vector<uint8_t> scopeBlock() const;
    void startExposure(double seconds, bool timed, double now);
    void finishExposure(double now);
    void countPattern();
    size_t requestLength(uint8_t code) const;
    codec::CounterWidth width() const { return wire::counterWidth(config_.chipType); }

    const BoxConfig config_;
    mutable std::mutex m_; // guards everything below
    bool plugged_ = true;
    uint64_t unplugs_ = 0;
    std::vector<uint8_t> rx_;
    std::deque<uint8_t> tx_;
    std::vector<uint8_t> lastReply_;
    std::vector<uint16_t> matrix_;  // codes
    std::vector<uint8_t> config8_; // pixel configuration bytes
    std::vector<wire::DacRecord> dacs_;
    std::vector<uint64_t> received_;
    std::vector<std::vector<uint8_t>> lastParams_;
    std::string log_;
    int exposures_ = 0;
    uint16_t frameId_ = 0;
    // fault state
    Fault fault_ = Fault::None;
    int faultAfter_ = 0;
    int faultRepeat_ = 0;
    bool partialSyncArmed_ = false;
    // timers and acquisition
    uint64_t timerTicks_[2] = {20000000, 20000000}; // timers 0 and 1
    uint64_t autoEraseTicks_ = 0;
    uint8_t trigger_ = 0;
    uint8_t todo_ = 0;
    uint8_t clock_ = 0;
    uint16_t scopeSamples_ = 450;
    uint8_t bias_ = 0;
    uint16_t interfaceDac_[2] = {0, 0};
    bool exposing_ = false, timed_ = false, waitingTrigger_ = false, triggerStops_ = false;
    double exposureStart_ = 0, exposureEnd_ = 0, triggerAt_ = 0, nextInterval_ = 0;
    double lastDuration_ = 0;
};

// The boxes of the simulated backend, shared by the library and the tests.
class SimBackend final : public LinkBackend {
public:
    void setBoxes(std::vector<std::shared_ptr<SimBox>> boxes);
    std::vector<std::shared_ptr<SimBox>> boxes() const;
    int enumerate(std::vector<LinkInfo>* found) override;
    int open(const LinkInfo& box, std::unique_ptr<FtLink>* link) override;

private:
    mutable std::mutex m_; // guards boxes_
    std::vector<std::shared_ptr<SimBox>> boxes_;
};

} // namespace usb::sim
