// Helpers shared by the acquisition engine and the frames of the last acquisition.
#pragma once

#include <cstdint>

class TvkFrameInfo;

namespace lastframes {

// Drops the device's own reference to a frame, clearing its persistent flag (close with force); a stored
// frame (one that a frame store gave an id in the frame-created callback) is then left to the store, which
// the frame's no-reference notification reaches. A frame that no store took has no other holder that could
// ever release it: when the device's reference is its last, it is deleted without notification.
void dropFrameReference(TvkFrameInfo* frame);

} // namespace lastframes
