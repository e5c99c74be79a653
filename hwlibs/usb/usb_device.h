// One readout box as a device of the hardware-library kit: its 31 info items, the acquisition start per
// mode, the matrix and DAC transfers, and the monitor thread that takes the box's own messages while no
// command runs.
//
// Locks, in nesting order: the kit's call lock (every API call), then the link's command lock (one box
// exchange), then values_ (the item values, the frame buffer, the flags and the pending callback
// events). The monitor thread takes only the command lock (by try-lock) and values_; the callback is
// called with none of the three held by the monitor, so that a subscriber may call the library on this
// device.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "box_link.h"
#include "usb_debug_log.h"
#include "hwlibs/codec/counter_codec.h"
#include "hwlibs/common/hw_items.h"
#include "link/ft_link.h"

namespace usb {

constexpr int kHwInfoCount = 31;

// What the device needs of its library.
class DeviceHost {
public:
    virtual ~DeviceHost() = default;
    virtual HwCallback callback() const = 0;
    virtual LinkBackend* backend() = 0;
};

class UsbDevice final : public hwkit::ItemDevice {
public:
    UsbDevice(int id, LinkInfo info, DeviceHost* host);
    ~UsbDevice() override;

    int id() const { return id_; }
    const LinkInfo& linkInfo() const { return info_; }
    bool seen = false; // marks of the enumeration, under its lock

    int init() override;
    int closeDevice() override;
    int getDevInfo(_DevInfo* info) override;
    int getAcqTime(double* time) override;
    int setAcqPars(const _AcqPars* pars) override;
    int startAcquisition() override;
    int stopAcquisition() override;
    int checkBusy(int* busy) override;
    int testPulses(double height, double period, uint32_t count) override;
    int setTvkDacs(const uint16_t* dacs, int dacCount, int senseOn, int extDacOn, const int* dacCodes,
                   uint32_t testPulseColumns) override;
    int getTvkDacVal(int chip, double* value) override;
    int setExtDac(double value) override;
    int setPixelsCfg(const uint8_t* cfg, uint32_t size) override;
    int resetMatrix() override;
    int readMatrix(uint16_t* buffer, uint32_t count) override;
    int writeMatrix(const uint16_t* buffer, uint32_t count) override;
    int generalReset() override;

    // The box left the bus: reported to the callback with event 3 (from the enumeration).
    void reportGone();
    // The box is on the bus (the enumeration found it) but the device's link to it is dead (it was
    // unplugged and plugged in again): the link is opened anew and the device initialised again. 0 when
    // there was nothing to do or the reopening worked; called with the call lock held.
    int reopenIfDead();
    // For tests: the executor of an open device (null while closed).
    BoxLink* link() { return link_.get(); }

private:
    struct Values;
    bool run(uint8_t code, const uint8_t* params = nullptr, size_t size = 0, Reply* reply = nullptr, int retries = 0,
             double timeout = -1);
    int failed(); // the negated error type of the link, its text as the device's error
    int invalid(const char* format, ...) __attribute__((format(printf, 2, 3)));
    int sendInterfaceDac(int channel, double volts);
    int readAdc();
    int scopeConfigure();
    int preAction();
    int coincidenceSetup();
    int readItem(int index, void* out);
    int writeItem(int index, const void* data);
    int applyItem(int index);
    int startByMode();
    bool decodeInto(const std::vector<uint8_t>& stream, std::vector<uint16_t>* counts);
    // The link failed and does not answer: ends a running acquisition (reported as finished), keeps the
    // text of the failure for every later call and logs the loss, once.
    void markLost(const std::string& cause);
    bool lost() const;
    int goneError(); // the device's error: the box is gone, a reconnect is needed
    void onMessage(BoxMessage&& message); // with the command lock held
    void deliverEvents();                 // with no lock of this device held by the caller's thread
    void monitor();
    void stopMonitor();
    void endIfFrameLost(BoxLink& link);
    static constexpr const char* kFrameLostText =
        "Frame lost: the link was resynchronized while the acquisition ran.";
    codec::CounterWidth width() const;
    uint8_t clockSetting() const;

    const int id_;
    const LinkInfo info_;
    DeviceHost* host_;
    DeviceLog log_;
    std::unique_ptr<BoxLink> link_;     // null while closed; replaced only under the call lock with the monitor stopped
    std::unique_ptr<Values> v_;
    mutable std::mutex values_;         // guards *v_, the frame and the flags below; nothing is called while held
    std::vector<uint16_t> frame_;
    bool frameReady_ = false;
    bool running_ = false;
    bool linkLost_ = false;             // the link failed and did not answer since: no command is sent
    std::string lostText_;              // why, for the device's messages
    bool frameLost_ = false;            // a resynchronisation ended the running acquisition
    bool shutterOpen_ = false;          // an exposure of no time ended at its start; stopping closes the shutter
    uint64_t resyncsAtStart_ = 0;       // the link's resynchronisations when the acquisition started
    std::deque<int> events_;            // callback events not yet delivered
    std::recursive_mutex delivering_;   // one deliverer at a time; recursive: a callback may deliver again
    _DevInfo devInfo_{};
    _AcqPars pars_{};                   // under the call lock
    std::atomic<int> acqMode_{ACQMODE_MANUAL}; // pars_.acqMode for the monitor
    bool polaritySent_ = false;
    int firmware_ = 0;
    double adcStamp_ = -1;
    std::thread monitor_;
    std::mutex monitorMutex_;           // guards stop_ and wake_ for the monitor's sleep
    std::condition_variable monitorWake_;
    bool stop_ = false;
    bool wake_ = false;                 // an acquisition started: the monitor polls at once
};

} // namespace usb
