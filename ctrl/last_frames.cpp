// TvkDevice: the frames of the last acquisition as clients read them back (copies, attributes, ids, files),
// the acquisition progress, and the super-matrix conversions that clients call directly.
#include "last_frames.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <thread>

#include "config_text.h"
#include "device.h"
#include "super_matrix.h"
#include "tvk_frame_info.h"
#include "pluginfw/tvk_utils.h"

namespace lastframes {

void dropFrameReference(TvkFrameInfo* frame)
{
    if (!frame)
        return;
    uint32_t count = 0;
    if (frame->getUID() != 0) {
        frame->close(&count, true);
        return;
    }
    // Not stored: a store's no-reference notification would only look for id 0 in vain.
    if (frame->getRefCount() <= 1) {
        TvkFrameInfo::deleteInstance(frame);
        return;
    }
    frame->close(&count, true);
}

void returnFreedMemory()
{
    constexpr size_t kTrimAbove = size_t(64) << 20;
    // Counting the free blocks walks the heap once; the trim itself only runs when it pays.
    if (mallinfo2().fordblks > kTrimAbove)
        malloc_trim(0);
}

} // namespace lastframes

namespace {

// Element size of a super-matrix element type: 1-byte types, i16, u32 and double; 0 for any other.
size_t matrixElementSize(int type)
{
    switch (type) {
    case TYPE_CHAR:
    case TYPE_UCHAR:
    case TYPE_BYTE: return 1;
    case TYPE_I16: return 2;
    case TYPE_U32: return 4;
    case TYPE_DOUBLE: return 8;
    default: return 0;
    }
}

bool overlaps(const void* a, const void* b, size_t bytes)
{
    const auto x = reinterpret_cast<uintptr_t>(a);
    const auto y = reinterpret_cast<uintptr_t>(b);
    return x < y + bytes && y < x + bytes;
}

} // namespace

// ---- frames of the last acquisition ----

int TvkDevice::checkFrameIndex(int frameIndex)
{
    if (frameIndex < 0)
        return setMessageF(TVK_ERR_PARAM, "Invalid frame index: %d.", frameIndex);
    return 0;
}

int TvkDevice::frameAt(int frameIndex, TvkFrameInfo** out)
{
    switch (acqKind_) {
    case 0:
    case 1:
        if (frameIndex < 0 || static_cast<uint32_t>(frameIndex) >= framesDone_)
            return setMessageF(TVK_ERR_NO_LAST_FRAME,
                               "Frame %d is not ready, frame buffer size: %d frames, filled: %d frames.",
                               frameIndex, acqKind_ == 0 ? frameCount_ : static_cast<int>(frames_.size()),
                               static_cast<int>(framesDone_));
        if (acqKind_ == 0) {
            TvkFrameInfo* frame = static_cast<size_t>(frameIndex) < frames_.size() ? frames_[frameIndex] : nullptr;
            if (!frame)
                return setMessage(TVK_ERR_NO_LAST_FRAME, "Frame is not ready.");
            *out = frame;
            return 0;
        }
        // The acquiring thread, inside cbAcqCompl of the frame just done, reads the frame in hand.
        if (frameInHand_ && static_cast<uint32_t>(frameIndex) + 1 == framesDone_ &&
            frameInHand_->getLockOwner() == std::this_thread::get_id()) {
            *out = frameInHand_;
            return 0;
        }
        return loadFrameFile(frameIndex, out);
    case 2:
        if (frames_.size() == 1 && frames_[0]) {
            if (frameIndex > 0)
                return setMessageF(TVK_ERR_NO_LAST_FRAME, "Frame %d is not available, only integral frame ready.",
                                   frameIndex);
            *out = frames_[0];
            return 0;
        }
        return setMessage(TVK_ERR_NO_LAST_FRAME, "Frame is not ready.");
    default:
        return setMessage(TVK_ERR_NO_LAST_FRAME, "No acquisition finished or in progress, cannot get frame.");
    }
}

int TvkDevice::loadFrameFile(int frameIndex, TvkFrameInfo** out)
{
    char indexed[512];
    const char* name = lastFileName_.c_str();
    if (frameCount_ >= 2) {
        const int digits = digitCount(static_cast<uint32_t>(frameCount_ - 1));
        if (!makeIndexedFileName(indexed, name, frameIndex, digits))
            return setMessageF(TVK_ERR_PARAM, "Cannot form the name of frame %d from \"%s\".", frameIndex, name);
        name = indexed;
    }
    if (frames_.empty())
        frames_.resize(1);
    // Only one loaded frame is kept.
    TvkFrameInfo* previous = frames_[0];
    frames_[0] = nullptr;
    lastframes::dropFrameReference(previous);

    TvkFrameInfo* frame = TvkFrameInfo::createInstance();
    if (!frame)
        return setMessageF(TVK_ERR_ALLOC, "Allocation of %d bytes failed.", static_cast<int>(sizeof(TvkFrameInfo)));
    if (const int r = frame->init(name, true)) {
        const std::string text = frame->getLastErr();
        TvkFrameInfo::deleteInstance(frame);
        return setMessage(r, text);
    }
    char frameName[32];
    std::snprintf(frameName, sizeof frameName, "Frame %u", static_cast<unsigned>(frameIndex));
    frame->setName(frameName);
    frame->setLogPath("Last acq. loaded frame");
    frame->setCreatorName("TvkCtrl");
    // Clients reach the frame by id, as they reach the frames of a memory acquisition: a frame store
    // registers it here and gives it that id (its release above took the previous one out of the store).
    notifyFrame(&CtrlCallbacks::frameCreated, frame);
    frames_[0] = frame;
    *out = frame;
    return 0;
}

int TvkDevice::getFrameData(void* buffer, uint32_t sizePixels, int frameIndex, int type)
{
    if (const int r = checkUsable())
        return r;
    if (const int r = checkFrameIndex(frameIndex))
        return r;
    if (!buffer)
        return setMessage(TVK_ERR_PARAM, "Invalid parameter (buffer is null).");
    if (sizePixels < pixelCount_)
        return setMessageF(TVK_ERR_BUFFER_SMALL, "Buffer is too small, current size: %d, required size: %d.",
                           static_cast<int>(sizePixels), static_cast<int>(pixelCount_));
    std::lock_guard<std::recursive_mutex> guard(frameMutex_);
    TvkFrameInfo* frame = nullptr;
    if (const int r = frameAt(frameIndex, &frame))
        return r;
    const uint64_t bytes = static_cast<uint64_t>(sizePixels) * (type == TYPE_I16 ? 2 : type == TYPE_U32 ? 4 : 8);
    uint32_t size = static_cast<uint32_t>(std::min<uint64_t>(bytes, 0xFFFFFFFFu));
    if (const int r = frame->getData(buffer, &size, type))
        return setMessage(r, frame->getLastErr());
    return 0;
}

int TvkDevice::saveFrame(const char* fileName, int frameIndex, uint32_t fileFlags)
{
    if (const int r = checkUsable())
        return r;
    if (!fileName)
        return setMessage(TVK_ERR_PARAM, "Filename must be supplied.");
    if (frameIndex < -1)
        return setMessageF(TVK_ERR_PARAM, "Invalid frame index: %d.", frameIndex);
    std::lock_guard<std::recursive_mutex> guard(frameMutex_);
    if (frameIndex == -1 && framesDone_ > 1 && acqKind_ != 2) {
        const uint32_t done = framesDone_;
        const int digits = digitCount(done - 1);
        for (uint32_t f = 0; f < done; ++f) {
            char indexed[512];
            if (!makeIndexedFileName(indexed, fileName, static_cast<int>(f), digits))
                return setMessageF(TVK_ERR_PARAM, "Cannot save frame to file: %s (the numbered file name is too long).",
                                   fileName);
            TvkFrameInfo* frame = nullptr;
            if (const int r = frameAt(static_cast<int>(f), &frame))
                return r;
            if (const int r = frame->save(indexed, fileFlags))
                return setMessageF(r, "Cannot save frame to file: %s (%s)", fileName, frame->getLastErr());
        }
        return 0;
    }
    TvkFrameInfo* frame = nullptr;
    if (const int r = frameAt(std::max(frameIndex, 0), &frame))
        return r;
    if (const int r = frame->save(fileName, fileFlags))
        return setMessageF(r, "Cannot save frame to file: %s (%s)", fileName, frame->getLastErr());
    return 0;
}

int TvkDevice::getFrameAttrib(int frameIndex, const char* name, void* data, uint32_t* size, int* type)
{
    if (const int r = checkUsable())
        return r;
    if (const int r = checkFrameIndex(frameIndex))
        return r;
    std::lock_guard<std::recursive_mutex> guard(frameMutex_);
    TvkFrameInfo* frame = nullptr;
    if (const int r = frameAt(frameIndex, &frame))
        return r;
    _Data_Types attribType = TYPE_UNKNOWN;
    const int r = frame->getAttribData(name, data, size, &attribType);
    if (r == 0 && type)
        *type = attribType;
    return r;
}

int TvkDevice::getFrameID(int frameIndex, uint32_t* frameId)
{
    if (const int r = checkUsable())
        return r;
    if (const int r = checkFrameIndex(frameIndex))
        return r;
    if (!frameId)
        return setMessage(TVK_ERR_PARAM, "Invalid parameter (frameId is null).");
    std::lock_guard<std::recursive_mutex> guard(frameMutex_);
    TvkFrameInfo* frame = nullptr;
    if (const int r = frameAt(frameIndex, &frame))
        return r;
    *frameId = frame->getUID();
    return 0;
}

int TvkDevice::getAcqInfo(int* frameIndex, int* frameCount, int* kind, int* framesDone)
{
    if (retired_)
        return TVK_ERR_DEV_INDEX;
    std::lock_guard<std::recursive_mutex> guard(frameMutex_);
    if (acqKind_ == -1)
        return TVK_ERR_GENERIC;
    if (frameIndex)
        *frameIndex = curFrame_;
    if (frameCount)
        *frameCount = frameCount_;
    if (kind)
        *kind = acqKind_;
    if (framesDone)
        *framesDone = static_cast<int>(framesDone_);
    return 0;
}

// ---- super-matrix conversions ----

int TvkDevice::convToSuperMatrix(const void* chips, void* matrix, uint32_t sizeBytes, int type)
{
    return convertSuperMatrix(chips, matrix, sizeBytes, type, true);
}

int TvkDevice::convFromSuperMatrix(const void* matrix, void* chips, uint32_t sizeBytes, int type)
{
    return convertSuperMatrix(matrix, chips, sizeBytes, type, false);
}

// Chip order to super matrix (toMatrix) or back. Devices without four chips keep chip order: the bytes are
// copied. Overlapping buffers are converted through a copy of the source.
int TvkDevice::convertSuperMatrix(const void* src, void* dst, uint32_t sizeBytes, int type, bool toMatrix)
{
    if (retired_)
        return TVK_ERR_DEV_INDEX;
    if (!src || !dst)
        return setMessage(TVK_ERR_PARAM, "Invalid parameter (buffer is null).");
    const int elementSize = type >= TYPE_BOOL && type <= TYPE_STRING ? typeElementSize(type) : 0;
    const uint64_t required = static_cast<uint64_t>(pixelCount_) * static_cast<uint64_t>(elementSize);
    if (sizeBytes < required)
        return setMessageF(TVK_ERR_BUFFER_SMALL, "Buffer is too small, current size: %d, required size: %d (in bytes).",
                           static_cast<int>(sizeBytes), static_cast<int>(required));
    if (settings_.chips != 4) {
        std::memmove(dst, src, sizeBytes);
        return 0;
    }
    const size_t size = matrixElementSize(type);
    if (size == 0)
        return setMessageF(TVK_ERR_PARAM, "Invalid buffer type: %d", type);
    const auto convert = toMatrix ? supermatrix::toMatrix : supermatrix::fromMatrix;
    if (overlaps(src, dst, supermatrix::kPixels * size)) {
        const auto* bytes = static_cast<const unsigned char*>(src);
        const std::vector<unsigned char> copy(bytes, bytes + supermatrix::kPixels * size);
        convert(copy.data(), dst, size);
    } else {
        convert(src, dst, size);
    }
    return 0;
}

int TvkDevice::setSuperMatrixPixCfg(const uint8_t* cfg, uint32_t size)
{
    Lock lock(*this);
    if (const int r = checkUsable())
        return r;
    if (!cfg || size != pixelCount_)
        return setMessageF(TVK_ERR_PARAM, "Invalid parameter, size of array of pix. cfgs.: %d , required: %d.",
                           cfg ? static_cast<int>(size) : 0, static_cast<int>(pixelCount_));
    {
        std::lock_guard<std::mutex> guard(pixMutex_);
        if (settings_.chips == 4)
            supermatrix::fromMatrix(cfg, settings_.pixelCfg.data(), 1);
        else
            std::memcpy(settings_.pixelCfg.data(), cfg, pixelCount_);
    }
    if (table_->hwSetPixelsCfg(hwId_, settings_.pixelCfg.data(), pixelCount_))
        return setMessageF(TVK_ERR_PIXCFG, "Pixel mask setting failed: %s", hwError().c_str());
    notify(&CtrlCallbacks::pixCfgChanged);
    return 0;
}

int TvkDevice::getSuperMatrixPixCfg(uint8_t* cfg, uint32_t size)
{
    if (const int r = checkUsable())
        return r;
    if (!cfg || size != pixelCount_)
        return setMessageF(TVK_ERR_BUFFER_SMALL, "Buffer is too small, current size: %d, required size: %d.",
                           cfg ? static_cast<int>(size) : 0, static_cast<int>(pixelCount_));
    std::lock_guard<std::mutex> guard(pixMutex_);
    if (settings_.chips == 4)
        supermatrix::toMatrix(settings_.pixelCfg.data(), cfg, 1);
    else
        std::memcpy(cfg, settings_.pixelCfg.data(), pixelCount_);
    return 0;
}
