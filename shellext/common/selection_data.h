// Selection formats that other programs hand over (CF_HDROP and "Shell IDList Array"). Their blocks
// come from any process: every count, offset and terminator is checked against the block's own
// size before anything is read.
#pragma once
#include <windows.h>
#include <cstddef>
#include <string>
#include <vector>

namespace dv {

// The names of a CF_HDROP block of size bytes (wide or ANSI), each whole. False when the header,
// the offset of the list or the list's terminators do not lie within the block.
bool ParseDropFiles(const void* block, size_t size, std::vector<std::wstring>& names);

// True when a "Shell IDList Array" block of size bytes is sound: its count, every offset and every
// item list up to its terminator lie within the block.
bool IsSoundIdListArray(const void* block, size_t size);

// The same checks on the block of a global memory handle.
bool ReadDropFiles(HGLOBAL memory, std::vector<std::wstring>& names);
bool IsSoundIdListArray(HGLOBAL memory);

} // namespace dv
