// What the raw file layer's source files share: its module name, statistics and open parameters.
#pragma once

#include "kestle/fileopen.h"
#include "kestle/stat.h"

namespace kestle_detail::fiowrap {

// The module name of every report the raw file layer makes.
inline constexpr wchar_t kModule[] = L"fiowrap";

// Contended waits for a slot mutex.
inline constexpr Stat::Id kSlotWaitStat = 19;
// Reads that run through a read handle (slots 1 to 3).
inline constexpr Stat::Id kReadHandleUseStat = 89;
// Opening a read handle, counted and timed.
inline constexpr Stat::Id kReadHandleOpenStat = 90;

// A read handle only reads, and lets every other opener read and write.
inline constexpr Access kReadHandleAccess = Access::Read;
inline constexpr Sharing kReadHandleSharing = Sharing::AllowReadWrite;
inline constexpr OpenFlag kReadHandleOpenFlag = OpenFlag::OpenExisting;

}  // namespace kestle_detail::fiowrap
