// TvkFrameInfo: the in-memory frame shared by the device-control library, the manager and the plug-ins.
// A width x height matrix of i16, u32 or double counts with a name, a creator name, a display path,
// named typed attributes, a data lock with an owner thread, a reference count and a raw-access count.
// Every method returns 0 or a negative code unless its comment says otherwise; failures that carry a text
// write "Frame <uid>: <message>" into the last-error text and pass it to cbErrMsg.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frame_source.h"
#include "platform/sync.h"
#include "tvk_export.h"
#include "tvk_frame.h"
#include "tvk_types.h"

class TVK_EXPORT TvkFrameInfo {
public:
    using CbErrMsg = void (*)(const char* text);
    using CbNoRef = void (*)(uint32_t uid);
    using CbDataChanged = void (*)(uint32_t uid);
    using CbAttrChanged = void (*)(_FrameAttribChange* change);

    // Class-wide notifications, set by the manager at its start; each is called only when set.
    static std::atomic<CbErrMsg> cbErrMsg;           // the whole last-error text after every failure with a text
    static std::atomic<CbNoRef> cbNoRef;             // close brought the reference count to 0 (once)
    static std::atomic<CbDataChanged> cbDataChanged; // after setData, setDataVal (lock held) and unlock (released)
    static std::atomic<CbAttrChanged> cbAttrChanged; // after an attribute change, attribute lock released

    static constexpr uint32_t kWaitForever = 0xFFFFFFFFu; // lock timeout without limit
    static constexpr size_t kLastErrSize = 4096;

    // A new empty frame (id 0, device index all bits set, counts 0, registered); null when memory is out.
    static TvkFrameInfo* createInstance();
    // Deep copy holding both locks of src (data lock first); id 0, reference count 1. Null on failure.
    static TvkFrameInfo* duplicateInstance(const TvkFrameInfo* src);
    static void deleteInstance(TvkFrameInfo* frame); // null is ignored

    TvkFrameInfo();
    virtual ~TvkFrameInfo();
    TvkFrameInfo(const TvkFrameInfo&) = delete;
    TvkFrameInfo& operator=(const TvkFrameInfo&) = delete;

    // Initialisation: each empties the frame first (data and attributes, without reports); on success the
    // frame is initialised with reference count 1. Frame buffers are zero-filled.
    int init(uint32_t width, uint32_t height, int type, bool keep); // -1 on a persistent frame
    int init(TvkFrameSource* dev, int type, bool keep);             // 256 x 256 or 512 x 512 by chip count
    int init(const char* fileName, bool keep);                      // from a frame or description file

    int getSize(uint32_t* width, uint32_t* height);
    int setSize(uint32_t width, uint32_t height);
    int getBuffType();           // the element type, -1 before the first initialisation
    int setBuffType(int newType);

    // Copy of the data converted to type (4, 7, 9); *size in: the buffer's bytes, out: the bytes required.
    int getData(void* buffer, uint32_t* size, int type);
    int setData(const void* data, uint32_t size);
    int setDataVal(int value); // every byte set to the low 8 bits of value
    // lock(timeoutMs), then the buffer itself; the caller must unlock.
    int getLockedBuffer(void** buffer, uint32_t* size, uint32_t timeoutMs);

    int lock(uint32_t timeoutMs); // kWaitForever waits without limit; else retried until timeoutMs passed
    int unlock();                 // owner only (TVK_ERR_NOT_LOCK_OWNER otherwise); then cbDataChanged
    std::thread::id getLockOwner() const; // default id when free

    uint32_t open(); // returns the new reference count
    // Drops one reference. -207 keeps the last reference of a persistent frame (unless force); a close
    // without any reference is refused with -2. cbNoRef is called once when the count reaches 0.
    int close(uint32_t* refCount, bool force);
    uint32_t incRawAccessCounter();
    uint32_t decRawAccessCounter();
    uint32_t getRawAccessCount() const;

    uint32_t getRefCount() const;
    uint32_t getUID() const;
    int setUID(uint32_t uid);
    uint32_t getDevID() const;
    int setDevID(uint32_t devId);
    bool getRegFlag() const;
    int setRegFlag(bool registered);
    bool isInit() const;
    // Text of the last failure. Read it in the thread that saw the failure; a failure in another thread
    // may replace it.
    const char* getLastErr() const;

    // Names: getName and getLogPath fill 512-character buffers, getCreatorName a 32-character one
    // (cut and terminated).
    int setName(const char* name);
    int setCreatorName(const char* name);
    int setLogPath(const char* path);
    int getName(char* buf);
    int getCreatorName(char* buf);
    int getLogPath(char* buf);

    // Attributes, ordered by byte-wise name. With external non-zero the frame adopts data (C allocator)
    // on success; on failure it stays the caller's. With external 0 and null data the value is zero-filled.
    int addAttrib(const char* name, const char* description, _Data_Types type, const void* data,
                  uint32_t count, int external);
    int removeAttrib(const char* name);
    int removeAllAttribs(bool notify);
    int setAttribData(const char* name, const void* data, uint32_t size);
    int getAttribData(const char* name, void* data, uint32_t* size, _Data_Types* type);
    // Enumeration in name order: 0 filled, 1 no (further) attribute, FRAME_ERR_NO_ATTRIB the cursor's attribute
    // is gone.
    // The cursor names the attribute last returned: it stays valid while the frame lives.
    int getFirstAttrib(int* cursor, _ExtFrameAttrib* out);
    int getNextAttrib(int* cursor, _ExtFrameAttrib* out);
    // Rewrites "Polarity", "Hw timer", "Acq mode", "DACs" and "Acq time" from the device.
    int updateTvkAttribs(TvkFrameSource* dev);

    // Frame files (FSAVE_ flags) and their description files.
    int save(const char* fileName, uint32_t flags);
    int load(const char* fileName, uint32_t flags);

    // State of the last save or load.
    uint32_t getFileFlags() const;
    std::string getDataFileName() const;
    std::string getDscFileName() const;

private:
    struct Attrib;
    struct AttribDeleter {
        void operator()(Attrib* a) const;
    };
    using AttribPtr = std::unique_ptr<Attrib, AttribDeleter>;
    class DataGuard;
    struct DscContent;

    // Errors: formats "Frame %u: " and the message, stores it, calls cbErrMsg; returns code.
    int fail(int code, const char* format, ...) __attribute__((format(printf, 3, 4)));
    int failParam(const char* what) { return fail(TVK_ERR_PARAM, "Invalid parameter value (%s).", what); }
    int setText(std::string& member, const char* text, const char* what);

    void emptyLocked();                     // data lock held
    void removeAllAttribsSilently();
    int allocateLocked(uint32_t width, uint32_t height, int type);
    void replaceBuffer(void* data, int type, uint32_t width, uint32_t height);
    void notifyAttrChange(const char* name, uint32_t size, int kind) const;
    int cursorOf(const std::string& name); // attribute lock held
    void fillExtAttrib(const Attrib& a, _ExtFrameAttrib* out) const;

    // Files (frame_file.cpp, frame_data_file.cpp, frame_dsc_file.cpp), all with the data lock held.
    int loadLocked(const std::string& fileName, uint32_t flags);
    int readDscFile(const std::string& path, DscContent* out);
    int initFromTextMatrix(const std::string& fileName);
    int writeFiles(const std::string& fileName, uint32_t flags, int targetType, std::string* dscNameOut);
    int buildDscText(const std::string& dataFileName, uint32_t flags, std::string* out);

    // Guarded by dataLock_.
    bool persistent_ = false;
    std::string dscFileName_;
    std::string dataFileName_;
    uint32_t fileFlags_ = 0;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    void* data_ = nullptr; // C allocator
    int type_ = -1;
    uint32_t bufSize_ = 0;
    uint32_t pixelCount_ = 0;

    // Counters and flags read without a lock; the reference count is changed under dataLock_.
    std::atomic<uint32_t> uid_{0};
    std::atomic<uint32_t> devId_{0xFFFFFFFFu};
    std::atomic<uint32_t> refCount_{0};
    std::atomic<int32_t> rawAccess_{0};
    std::atomic<bool> registered_{true};
    std::atomic<bool> initialised_{false};

    // Data lock: guards the data, size, type, file members and reference count; may be taken before
    // attrLock_, never after it. Its owner is the frame's lock owner.
    mutable plat::OwnedRecursiveMutex dataLock_;

    // Guarded by attrLock_.
    std::string name_;
    std::string creatorName_;
    std::string logPath_;
    std::map<std::string, AttribPtr> attribs_;
    std::vector<std::string> cursorNames_;   // attribute names handed out through cursors
    std::map<std::string, int> cursorIds_;   // name -> cursor value
    // Attribute lock: guards name_, creatorName_, logPath_, attribs_ and the cursor tables; nothing is
    // called out of the frame while it is held. Recursive without need: no method takes it while holding
    // it; a plain mutex would do.
    mutable std::recursive_mutex attrLock_;

    // Error lock: guards lastErr_ while a message is written into it.
    mutable std::mutex errLock_;
    char lastErr_[kLastErrSize] = {};
};
