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

// Hands freed memory back to the system when the allocator holds more than 64 MB of it: after frames of
// one size were freed, the allocator serves that size from its heap and keeps what is freed there, so the
// frames of a long acquisition would stay resident after they are closed.
void returnFreedMemory();

} // namespace lastframes
