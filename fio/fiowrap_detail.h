// What the raw file layer's source files share: its module name, statistics and open parameters.
#pragma once

#include "kestle/fileopen.h"
#include "kestle/fiowrap.h"
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

// A read that finds no slot it may take sleeps this long before it looks again ...
inline constexpr unsigned kSlotRetryMs = 1;
// ... and gives up, with a report, after this many milliseconds of such sleeps.
inline constexpr unsigned kSlotWaitBoundMs = 1000;

}  // namespace kestle_detail::fiowrap

// A write's or size change's turn on the main handle, from before it asks for slot 0's mutex to
// the end of its transfer. While turns are open, reads that came after they were asked for wait
// (Fio::read), so that a writer is not starved by reads that keep taking slot 0.
struct Fio::FIOWRAP::WriteTurn {
  explicit WriteTurn(FIOWRAP& wrap) : wrap_(wrap) { wrap_.writesAsked_.fetch_add(1); }
  ~WriteTurn() { wrap_.writesDone_.fetch_add(1); }
  WriteTurn(WriteTurn const&) = delete;
  WriteTurn& operator=(WriteTurn const&) = delete;

 private:
  FIOWRAP& wrap_;
};
