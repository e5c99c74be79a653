// TvkDevice: one detector device of one hardware library. It binds the library's table and the device's
// hardware id, keeps its description, acquisition settings, DACs and pixel configuration, its last message,
// the device lock through which clients own it, and runs acquisitions whose frames it keeps until the next.
//
// Devices are shared (std::shared_ptr): every call works on a reference it holds, so a device that the
// registry retires (reconnect, exit) lives on until the last call using it returns; a retired device
// refuses further calls with TVK_ERR_DEV_INDEX. Hardware callbacks reach a device only through its tag (see
// DeviceSignal), which is withdrawn before the device closes.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "dac_tables.h"
#include "device_callbacks.h"
#include "device_settings.h"
#include "frame_source.h"
#include "platform/sync.h"
#include "tvk_hw.h"

class ConfigText;
class HwLibrary;
class TvkFrameInfo;
namespace plat {
class SyncBatch;
}

// What a hardware callback may touch of its device. Owned by the device and by the tag registry, so a
// callback that arrives while the device goes away still finds live memory.
struct DeviceSignal {
    plat::Event acqEvent{false, false};        // auto reset: set by the hardware callback
    std::atomic<int> index{-1};
    std::atomic<int> acqMode{ACQMODE_MANUAL};  // mode of the coming exposure
    std::atomic<bool> hwTimerUsed{false};      // whether the coming exposure uses the hardware timer
    std::atomic<const CtrlCallbacks*> callbacks{nullptr};
};

class TvkDevice : public TvkFrameSource {
public:
    // Opens the device (hwInit, hwGetDevInfo), sizes it and initialises it from its configuration files.
    // isInitialised() tells whether that worked. callbacks may be null until attach().
    TvkDevice(int hwId, std::shared_ptr<HwLibrary> library, const CtrlCallbacks* callbacks, std::string moduleFolder);
    ~TvkDevice() override;
    TvkDevice(const TvkDevice&) = delete;
    TvkDevice& operator=(const TvkDevice&) = delete;

    // Registry side.
    void attach(int index, const CtrlCallbacks* callbacks); // gives the index, installs the hardware tag
    bool lockFor(std::chrono::milliseconds timeout);         // raw device lock, no checks
    void lockDevice() const;
    void unlockDevice() const;
    void markRetired() { retired_ = true; }
    void unlockAll(); // every level that the calling thread holds
    // Saves the configuration files, withdraws the hardware tag and closes the device; once only.
    // Call with the device lock held, or when no other reference exists.
    void close();
    // For exit: stops a running operation, retires the device and closes it when its lock comes free
    // within wait; otherwise the last reference closes it. An acquisition that starts meanwhile ends
    // aborted (TVK_ERR_ACQ_ABORTED).
    void retire(std::chrono::milliseconds wait);
    static int hwEventCallback(void* tag, int event, int param);

    bool isInitialised() const { return initialised_; }
    bool isRetired() const { return retired_; }
    int hwId() const { return hwId_; }
    const HwLibrary* library() const { return library_.get(); }
    int index() const { return index_; }
    int chips() const { return settings_.chips; }
    int chipType() const { return settings_.chipType; }
    uint32_t pixelCount() const { return pixelCount_; }
    const std::string& configFile() const { return cfgFile_; }
    const std::string& pixelCfgFile() const { return pixCfgFile_; }
    std::string defaultConfigFile() const;

    // Device message.
    int setMessage(int code, const std::string& text);
    int setMessageF(int code, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void message(int* code, std::string* text) const;

    // Initialisation and ownership.
    int initDevice(const char* cfgFile, bool reset);
    int revive();
    int tryLock(unsigned timeoutMs, int* locked);
    int release();
    int lockOwner(uint32_t* threadId);
    void abort() { abort_ = true; }
    bool abortRequested() const { return abort_; }
    // The acquisition event and the state that decides whether a start event ends the wait.
    DeviceSignal& signal() { return *signal_; }
    int getDevInfo(_DevInfo* info);
    int getTarvikInfo(int* chipCount, int* chipRows, char* chipboardId, char* interfaceName);

    // Acquisition settings.
    int setPolarity(int polarity);
    int setCST(int cst);
    int setAcqMode(int mode);
    int setHwTimer(int mode);
    int setAcqSpacing(int spacing);
    int setAutoConvToSM(int on);
    int getPolarity() const { return settings_.polarity == 1; }
    int getCST() const { return settings_.cst == 1; }
    int getAcqMode() const { return acqModeSent_; }
    int getHwTimer() const { return settings_.hwTimer; }
    int getAcqSpacing() const { return spacing_; }
    int getAutoConvToSM();

    // DACs.
    int setDACsDefault();
    int setDACs(const uint16_t* dacs, int size, int chip, int refChip, int refFlags);
    int getDACs(uint16_t* dacs, int size, int chip);
    int refreshDACs();
    int getSingleDACAnalog(double* values, int size, int dacIndex, int chip, int samples);
    int getDACsAnalog(double* values, int size, int chip);
    int getDACsNames(const char*** names, const int** bitWidths, int* dacCount);
    int setDACRefCoef(const double* coefs, int size, int set);
    int getDACRefCoef(double* coefs, int size, int set);
    int setExtDAC(int dacIndex, double value);
    int getExtDAC(int* dacIndex, double* value);
    // Sends the DAC values of all chips (dacCodes: one sense code per chip, or null).
    int sendDacs(bool notify, bool routeExtDac, int senseOn, const int* dacCodes, uint32_t testPulseColumns);

    // Pixel configuration.
    int setPixelsCfg(const uint8_t* cfg, uint32_t size, int chip);
    int getPixelsCfg(uint8_t* cfg, uint32_t size, int chip);
    int resetPixelsCfg(int chip);
    int refreshPixelsCfg();
    int loadPixelsCfg(const char* fileName, bool withDacs);
    int savePixelsCfg(const char* fileName, bool withDacs);
    int loadPixelsCfgAscii(const char* maskFile, const char* testFile, const char* thlAdjFile,
                           const char* fourthFile, bool withDacs);
    int savePixelsCfgAscii(const char* maskFile, const char* testFile, const char* thlAdjFile,
                           const char* fourthFile, bool withDacs);
    int sendPixelsCfg(bool notify, bool resetMatrix);

    // Configuration files and hardware-specific items.
    int loadConfig(const char* fileName);             // loadTvkCfg: read, then send the DACs
    int loadDeviceConfig(const std::string& path);    // read only; 0 or TVK_ERR_CFG_FILE, which changes nothing
    int saveConfig(const char* fileName);             // saveTvkCfg
    int saveDeviceConfig(const char* path);           // the writer; null or empty: the device's own file
    int saveConfigAsDefault();
    int loadDacsFile(const std::string& name);
    int saveDacsFile(const std::string& name);
    int getHwInfoCount(int* count);
    int getHwInfoItem(int index, HwInfoItem* item, int* dataSize);
    int setHwInfoItem(int index, const void* data, int dataSize);

    // Acquisitions (acq_engine.cpp). Each holds the device lock from start to end.
    int performFrameAcq(int frameCount, double acqTime, uint32_t fileFlags, const char* fileName);
    int performIntegralAcq(int frameCount, double acqTime, uint32_t fileFlags, const char* fileName);
    int performTestPulseAcq(double height, double period, uint32_t pulseCount, uint32_t columnMask);
    int performDigitalTest(int* goodPixels, uint32_t* frameId, bool keepAsLastAcq, double waitTime);
    int closeFrames(); // the export: under the device lock

    // Frames of the last acquisition and super-matrix conversions (last_frames.cpp). The getters take the
    // frame lock only, so they run while another thread acquires.
    int getFrameData(void* buffer, uint32_t sizePixels, int frameIndex, int type); // type 4, 7 or 9
    int saveFrame(const char* fileName, int frameIndex, uint32_t fileFlags);
    int getFrameAttrib(int frameIndex, const char* name, void* data, uint32_t* size, int* type);
    int getFrameID(int frameIndex, uint32_t* frameId);
    int getAcqInfo(int* frameIndex, int* frameCount, int* kind, int* framesDone);
    int convToSuperMatrix(const void* chips, void* matrix, uint32_t sizeBytes, int type);
    int convFromSuperMatrix(const void* matrix, void* chips, uint32_t sizeBytes, int type);
    int setSuperMatrixPixCfg(const uint8_t* cfg, uint32_t size);
    int getSuperMatrixPixCfg(uint8_t* cfg, uint32_t size);

    // TvkFrameSource.
    uint32_t frameDeviceIndex() const override { return static_cast<uint32_t>(index_.load()); }
    int frameChipCount() const override { return settings_.chips; }
    int32_t framePolarity() const override { return settings_.polarity; }
    int32_t frameHwTimer() const override { return settings_.hwTimer; }
    int32_t frameAcqMode() const override { return settings_.acqMode; }
    std::vector<uint16_t> frameDacs() const override;
    double frameAcqTime() const override { return acqTime_.load(); }

private:
    class Lock; // RAII device lock

    int checkUsable();   // TVK_ERR_DEV_INDEX retired, TVK_ERR_DEV_NOT_INIT not initialised (with the message)
    int notInitialised();
    int checkChip(int chip);
    int checkDacArray(const void* data, int size, int chip);
    int checkAcqArgs(int frameCount, double acqTime, bool fileMode, const char* fileName);
    int convertSuperMatrix(const void* src, void* dst, uint32_t sizeBytes, int type, bool toMatrix);
    std::string hwError();
    const CtrlCallbacks* callbacks() const { return callbacks_.load(); }
    void notify(std::atomic<TvkDevCallback> CtrlCallbacks::*member);
    // Reads a configuration file: 0, or TVK_ERR_CFG_FILE (with the message) when it cannot be read or
    // has none of its sections. Changes nothing.
    int readConfigFile(const std::string& path, ConfigText* text);
    int applyConfig(const ConfigText& text);
    void refuseConfigValue(std::string_view key, const std::string& value, const ConfigText& text);
    int forEachConfigItem(const std::function<void(int, const HwInfoItem&, std::vector<unsigned char>&)>& fn);
    int applyInterfaceItems(const ConfigText& text);
    int interfaceSection(std::string* out);
    int fetchHwInfo(int index, HwInfoItem* item, std::vector<unsigned char>* buffer);
    void applyBuiltInDefaults();
    void deriveAcqPars();
    int writeTextFile(const std::string& path, const std::string& text);

    // Acquisition steps (acq_engine.cpp), all with the device lock held.
    void clearAbort();
    void closeFramesLocked();
    int setAcqParameters(double acqTime);
    int exposeInto(uint16_t* buffer);
    int waitForExposure(double acqTime);
    int readMatrixInto(uint16_t* buffer);
    bool remapsReadout() const;
    int applySubMask(int spacing, int phase, bool testPulse);
    int restorePixelCfg();
    void copyPhase(uint16_t* frame, const uint16_t* readout, int spacing, int phase) const;
    int ensureBuffers();
    int createFrame(int type, const char* name, const std::string& logPath, TvkFrameInfo** out);
    void addStandardAttribs(TvkFrameInfo* frame);
    int addHwInfoAttribs(TvkFrameInfo* frame);
    int notifyFrame(std::atomic<TvkFrameCallback> CtrlCallbacks::*member, TvkFrameInfo* frame);
    int frameAcqLoop(int frameCount, bool fileMode, uint32_t fileFlags, const char* fileName, int spacing,
                     TvkFrameInfo** held, uint16_t** heldData, plat::SyncBatch* written);
    int integralLoop(int frameCount, int spacing, TvkFrameInfo* frame);
    int testPulseLoop(int spacing, uint32_t columnMask, double height, double period, uint32_t pulseCount,
                      TvkFrameInfo* frame);
    // Frames of the last acquisition (last_frames.cpp), frame lock held.
    int frameAt(int frameIndex, TvkFrameInfo** out);
    int loadFrameFile(int frameIndex, TvkFrameInfo** out);
    int checkFrameIndex(int frameIndex);

    const int hwId_;
    std::atomic<int> index_{-1};
    // The device lock: serialises the hardware and the settings; clients own it through tryLock/release.
    mutable plat::OwnedRecursiveMutex devLock_;
    mutable std::atomic<uint32_t> ownerTid_{0}; // thread id of the device lock's owner, 0 when free
    // Guards the bytes of the current pixel configuration against getPixelsCfg, which copies them
    // without the device lock; taken briefly, inside the device lock, by every change of those bytes.
    mutable std::mutex pixMutex_;
    // Guards msgText_ and msgCode_; no callback runs while it is held.
    mutable std::mutex msgMutex_;
    std::string msgText_;
    int msgCode_ = 0;

    std::shared_ptr<HwLibrary> library_;
    const _HwFuncTable* table_ = nullptr;
    std::shared_ptr<DeviceSignal> signal_;
    void* tag_ = nullptr;
    std::atomic<const CtrlCallbacks*> callbacks_{nullptr};

    _DevInfo devInfo_{};
    std::string interfaceName_;  // own copy; devInfo_.interfaceName points to a process-lifetime copy
    std::string chipboardId_;
    _AcqPars acqPars_{};
    std::atomic<int> acqModeSent_{-1}; // acqPars_.acqMode, for the unlocked getter
    DeviceSettings settings_;          // current
    DeviceSettings saved_;             // copy restored after sub-mask acquisitions
    const DacSet* dacSet_ = nullptr;
    const uint16_t* defaults_ = nullptr; // default DACs for the current polarity
    std::vector<double> refCoefs_;       // two sets of (chips - 1) pairs {gain, offset}
    uint32_t pixelCount_ = 0;

    std::string moduleFolder_;
    std::string cfgFile_;
    std::string pixCfgFile_;

    std::atomic<bool> initialised_{false};
    std::atomic<bool> retired_{false};
    bool closed_ = false;
    bool destroying_ = false;
    std::atomic<bool> abort_{false};
    std::atomic<int> spacing_{1};
    std::atomic<int> autoConvToSM_{1};

    // The frame lock: guards the acquisition progress, the frames of the last acquisition, the frame in
    // hand and the last file name. Taken after the device lock; an acquisition takes it while holding a
    // frame's data lock only for the frame in hand, which no other thread locks. Frame methods (and the
    // frames' notifications) may be called while it is held. Recursive: a message set while it is held
    // reaches the client's cbInfoMsg in this thread, and the client may ask this device for its frames again.
    mutable std::recursive_mutex frameMutex_;
    int acqKind_ = -1;          // -1 none, 0 frames in memory, 1 frames in files, 2 integral
    int frameCount_ = -1;
    int curFrame_ = -1;
    uint32_t framesDone_ = 0;
    std::vector<TvkFrameInfo*> frames_;  // each holds one reference of ours
    TvkFrameInfo* frameInHand_ = nullptr; // file mode: the frame reported by cbAcqCompl
    std::string lastFileName_;
    std::atomic<double> acqTime_{0.0}; // also read by frames (updateTvkAttribs) without a lock
    double startTime_ = 0.0;           // device lock

    // Read-out buffers (device lock): the raw read-out of a 4-chip device before remapping, and the
    // read-out of one sub-exposure or integral exposure.
    std::vector<uint16_t> remapBuffer_;
    std::vector<uint16_t> readoutBuffer_;
    std::mt19937 rng_; // digital-test patterns; device lock
};

// Holds the device lock for a scope.
class TvkDevice::Lock {
public:
    // A device being destroyed has no other user left; its lock may still be marked as held by a client
    // that lost the device to reconnect or exit, so it is not taken then.
    explicit Lock(const TvkDevice& device) : device_(device), take_(!device.destroying_)
    {
        if (take_)
            device_.lockDevice();
    }
    ~Lock()
    {
        if (take_)
            device_.unlockDevice();
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    const TvkDevice& device_;
    const bool take_;
};
