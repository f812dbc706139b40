// The raw file layer: one file opened through up to four platform handles, so that up to four
// positioned reads of it run at once while writes go through one handle.
//
// Fio::open hands out a Fio::FIOWRAP* that the caller owns and gives back to Fio::close, which
// destroys it and sets the caller's pointer to null. Every operation returns a system error code:
// 0 for success, the platform's code unchanged, or NoHandleError (0x20002720) for a null handle
// and for a read that finds no free slot.
//
// Threads:
//  - read, read2, write, flush, getSize and setSize may run at the same time on one handle from
//    any threads. open and close may not overlap any other operation on the same handle; the
//    caller serialises them.
//  - A read takes one of four gate units (a fifth concurrent read waits for one), then tries the
//    four slot mutexes in order 0, 1, 2, 3 and transfers through the first slot it gets. Slot 0
//    is the main handle; slots 1 to 3 are read handles, opened by the first read that takes the
//    slot. When every slot is busy (a write or a resize holds one while reads hold the others)
//    the read sleeps and tries again; only when it has found no slot for about a second does it
//    report and fail with NoHandleError, so that a slot held for ever still shows.
//  - Writes and size changes go first: from the moment one asks for the main handle until its
//    transfer is done, reads that have not yet taken a slot wait for it (reads already in a slot
//    finish first). Reads that arrive while no write waits never wait for a slot of their own.
//  - A write holds slot 0's mutex and, once its positioning has succeeded, closes the read
//    handles, taking each one's mutex and so waiting for reads running through it, before it
//    writes. Lock order: slot 0 before slots 1 to 3, which are taken one at a time.
//  - flush, getSize and setSize act on the main handle without its slot mutex.
//
// Reports (module "fiowrap", flag true): no slot for about a second ("Fio::read" 231,
// "Fio::read2" 276, text the file name); failed flush of the main handle before a read-handle read
// (211, 252); failed read-handle open (221, 263, with the file name); failed read-handle close in
// close (122, "Fio::close", the code as the value) and in closeReadHandles (67, with the file
// name).
//
// Record locks: the layer opens and closes descriptors of the file as it runs (read handles open
// on first use and close before every write). Closing any descriptor of a file drops every POSIX
// (fcntl F_SETLK) record lock that the process holds on that file, whichever descriptor took it.
// A process that locks byte ranges of a file it also uses through this layer must therefore use
// open-file-description locks (F_OFD_SETLK, F_OFD_SETLKW), which belong to the descriptor that
// took them and survive the layer's closes; flock locks survive them too.
#pragma once

#include <atomic>

#include "kestle/export.h"
#include "kestle/fileopen.h"
#include "kestle/mutexlazy.h"
#include "kestle/semaphore.h"
#include "kestle/strings.h"

namespace Fio {

// The slot mutex of a raw file handle: a MutexLazy with recursion checking, the empty name and
// statistic 19, under which contended waits for a slot are timed.
class KESTLE_API FioMutex : public MutexLazy {
 public:
  FioMutex();
  ~FioMutex() override;
};

class FIOWRAP;

// Opens the file `name` with the platform's parameters, passed on unchanged, and stores a new
// handle in `wrap`. On failure `wrap` is null and the platform's code is returned (2 for a
// missing file); nothing is allocated. If building the handle throws (out of memory), the file
// is closed again and the exception passes on, leaving `wrap` as it was.
KESTLE_API unsigned long open(wchar_t const* name, Access access, Sharing sharing,
                              OpenFlag openFlag, FIOWRAP*& wrap, bool flag);

// Closes every platform handle of the file, destroys the handle and sets `wrap` to null. The
// result is the main handle's close code (0 when it closed); a read handle that fails to close
// is reported and does not change the result. The read handles are closed also when the main
// handle's close fails. A null `wrap` gives NoHandleError and changes nothing.
KESTLE_API unsigned long close(FIOWRAP*& wrap);

// A copy of the name given to open; "(no_handle)" for a null handle.
KESTLE_API WString name(FIOWRAP* wrap);

// Makes what was written durable (through the main handle); the first flush of a file that
// open created also makes its name in the directory durable. Marks the file flushed even when
// the platform's flush fails.
KESTLE_API unsigned long flush(FIOWRAP* wrap);

// The file's size in bytes; `size` is set only on success.
KESTLE_API unsigned long getSize(FIOWRAP* wrap, unsigned long long& size);

// Closes the read handles, marks the file unflushed, and gives the file `size` bytes.
KESTLE_API unsigned long setSize(FIOWRAP* wrap, unsigned long long size);

// Reads up to `length` bytes at byte offset `position` into `buffer`; `got` receives the count
// (fewer than asked without an error: the file ended). `got` is 0 whenever nothing was read.
// The first read through a read handle after a write or resize flushes the main handle first
// (for visibility only; nothing is written out). NoHandleError after about a second without a
// free slot is a busy file, not a failure: the caller may simply read again.
KESTLE_API unsigned long read(FIOWRAP* wrap, unsigned long long position, char* buffer,
                              unsigned int length, unsigned int& got);

// As read, but the platform reads the range twice, into `buffer` and then into `copy` (both
// `length` bytes), so that the caller can compare the two.
KESTLE_API unsigned long read2(FIOWRAP* wrap, unsigned long long position, char* buffer, char* copy,
                               unsigned int length, unsigned int& got);

// Writes `length` bytes of `data` at byte offset `position` through the main handle; `written`
// receives the count (0 whenever nothing was written). A write whose positioning fails closes
// nothing, marks nothing and writes nothing.
KESTLE_API unsigned long write(FIOWRAP* wrap, unsigned long long position, char const* data,
                               unsigned int length, unsigned int& written);

// The raw file handle. Made only by Fio::open and destroyed only by Fio::close; its fields are
// the layer's own.
class KESTLE_API FIOWRAP {
 public:
  FIOWRAP(FIOWRAP const&) = delete;
  FIOWRAP& operator=(FIOWRAP const&) = delete;

  // Closes the open read handles (slots 1 to 3), taking each one's slot mutex in turn with a
  // blocking obtain, so it waits for a read running through that handle (also one still opening
  // it). A handle that fails to close is reported and its
  // slot emptied all the same. Never holds more than one of the three mutexes.
  void closeReadHandles();

 private:
  struct ReadSite;
  struct WriteTurn;

  friend unsigned long open(wchar_t const*, Access, Sharing, OpenFlag, FIOWRAP*&, bool);
  friend unsigned long close(FIOWRAP*&);
  friend WString name(FIOWRAP*);
  friend unsigned long flush(FIOWRAP*);
  friend unsigned long getSize(FIOWRAP*, unsigned long long&);
  friend unsigned long setSize(FIOWRAP*, unsigned long long);
  friend unsigned long read(FIOWRAP*, unsigned long long, char*, unsigned int, unsigned int&);
  friend unsigned long read2(FIOWRAP*, unsigned long long, char*, char*, unsigned int,
                             unsigned int&);
  friend unsigned long write(FIOWRAP*, unsigned long long, char const*, unsigned int,
                             unsigned int&);

  FIOWRAP(wchar_t const* name, void* mainHandle);
  ~FIOWRAP();

  // The body of read and read2: gate, slot, flush check, handle, positioned transfer.
  unsigned long positionedRead(ReadSite const& site, unsigned long long position, char* buffer,
                               char* copy, unsigned int length, unsigned int& got);

  static constexpr int kSlots = 4;

  WString fileName_;
  Semaphore readGate_;  // kSlots units; each read holds one for its whole run
  std::atomic<void*>
      handles_[kSlots];          // [0] the main handle; [1..3] read handles, null until needed
  FioMutex mutexes_[kSlots];     // mutexes_[i] guards handles_[i] and its position
  std::atomic<bool> unflushed_;  // written or resized since the main handle's last flush
  // Writes and size changes that have asked for the main handle, and those of them that are
  // done. A read waits until every one that had asked when it came is done.
  std::atomic<unsigned> writesAsked_;
  std::atomic<unsigned> writesDone_;
};

}  // namespace Fio
