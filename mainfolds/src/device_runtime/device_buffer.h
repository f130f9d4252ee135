#pragma once

#include <cstddef>

namespace quendel::device {

// Checked staging of float buffers on the active runtime. A failing call is
// reported with `line` (see checkDeviceCall) and gives false; a null device
// buffer gives false without a report or a call.

/// Frees a held buffer, unchecked, and forgets it.
void releaseBuffer(float*& buffer);

/// Replaces `buffer` (freed first) by a new one of `count` floats. After a
/// failure `buffer` holds what the runtime left in it.
bool reallocateBuffer(float*& buffer, std::size_t count, int line);

bool clearBuffer(float* buffer, std::size_t count, int line);
bool uploadToBuffer(float* buffer, const float* values, std::size_t count, int line);
bool downloadFromBuffer(float* values, const float* buffer, std::size_t count, int line);

}  // namespace quendel::device
