// Backup reading: the backup source, the reader that hands a backup to a caller's Restore, and
// the XML report of a backup file. Writing backups is not part of this library.
//
// File layout (all integers unsigned, little-endian):
//   offset   0, 128 bytes  leading block, never read
//   offset 128, 128 bytes  header 1: 127 plain bytes enciphered with the record cipher
//                          (Coding::Encode) under key 1. Plain layout: type byte (13), 3 bytes
//                          not interpreted, the backup stamp (date, time, zone words), the
//                          product code as 40 UTF-16 units (ending at the first zero unit), 31
//                          bytes not interpreted
//   offset 256             chunks, grouped into units, to the end of the file
// A chunk of L data bytes (L < 0x8000000) under a 32-bit mask m: the word L ^ m; the data padded
// to P = L rounded up to a multiple of 4, every 32-bit word ^ m; the word m ^ S, where S is
// L plus the P/4 plain data words, modulo 2^32. A chunk with L = 0 is empty (8 bytes on disk).
// A unit is a unit-header chunk (two wide strings and a nested buffer, in the serialisation
// buffers' encoding), any number of non-empty data chunks and one empty chunk, all under one
// mask. One further empty chunk ends the backup. The masks are the successive values of
// Random::PFRandom seeded with date + time + zone of the stamp (mod 2^32): one per unit, then
// one for the final empty chunk.
//
// Everything here runs on the calling thread and takes no locks; a Source, a reader call or a
// report call is used by one thread at a time. Faults of the file are never thrown: they go to
// an ErrorSink. Callback objects belong to the caller and are used only during the call.
#pragma once

#include <cstdint>

#include "kestle/clock.h"
#include "kestle/export.h"
#include "kestle/random.h"
#include "kestle/strings.h"
#include "kestle/xbuffer.h"

// Receives the faults of a backup read. The caller owns the object; it is never deleted through
// this interface.
struct KESTLE_API ErrorSink {
  // One fault: a system error code and a text (both as described by the operation that reports).
  virtual void error(unsigned long code, wchar_t const* text) = 0;
  // True while reading may go on. The source and the reader ask it afresh before every step, so
  // turning false stops the read at the next step.
  virtual bool ok() const = 0;

 protected:
  ~ErrorSink() = default;
};

namespace BuRdr {

// Opens a backup file, checks and deciphers its header and hands out its chunks one at a time,
// unmasked and checksum-verified. Every fault goes to the sink, and every step runs only while
// the sink is ok. Owns its file handle; neither copied nor moved.
//
// Codes: BackupFormatError for an empty file, a short or faulty header and an implausible chunk
// length; BackupReadError for a short length field, a chunk the file ends inside, and a checksum
// failure; the platform's code for a failed file primitive. Texts of the source's own traps
// start with "BuSource ".
class KESTLE_API Source {
 public:
  // The buffer one chunk is read into: 1024 inline bytes, and heap storage (from the accounted
  // allocation) once a chunk needs more. Heap storage is kept and reused by later chunks until
  // release() or clear() or the Memo's end. A Memo is neither copied nor moved.
  class KESTLE_API Memo {
   public:
    static constexpr std::uint32_t kInlineBytes = 1024;

    Memo();  // all zeros: no heap storage, length 0
    ~Memo();
    Memo(Memo const&) = delete;
    Memo& operator=(Memo const&) = delete;

    // The chunk's data: length() meaningful bytes (followed by the unmasked padding and the raw
    // checksum word) at the heap storage if there is any, else in the inline bytes.
    char const* data() const { return heap_ != nullptr ? heap_ : local_; }
    std::uint32_t length() const { return length_; }
    // The size of the heap storage, 0 when there is none.
    std::uint32_t capacity() const { return capacity_; }

    // Releases the heap storage; the inline bytes serve again.
    void release();
    // Releases the heap storage and sets everything, the inline bytes included, to zero.
    void clear();

   private:
    friend class Source;
    alignas(32) char local_[kInlineBytes];
    std::uint32_t capacity_;
    char* heap_;
    std::uint32_t length_;
  };

  // Opens `file` for reading (an existing file, others may read it too) and learns its size.
  // A failed open traps the platform's code with "open " and the file name; a failed size
  // query traps with "size"; a file of 0 bytes traps BackupFormatError with "empty file " and
  // the name. When the sink is not ok after the open, no file is held.
  Source(ErrorSink& sink, wchar_t const* file);
  // Closes the file when one is held.
  ~Source();
  Source(Source const&) = delete;
  Source& operator=(Source const&) = delete;

  // Skips the leading block, reads and deciphers header 1, checks its type byte (13) and stamp
  // (date and time nonzero), and seeds the mask generator. Gives back the stamp (also when the
  // stamp is refused) and, for a good header, the product code. Returns whether the sink is ok
  // at the end; afterwards done() is 256.
  bool start(Clock::UniversalTime& stamp, WString& productcode);

  // Reads the next chunk under `mask` into memo. True: memo holds a verified chunk of
  // memo.length() bytes, possibly 0. With strict false, the file ending right after a length
  // field of 0 also counts as an empty chunk. Short transfers are continued. A length field of
  // 0x8000000 or more is refused before anything is allocated, so a chunk never takes more than
  // 128 MiB + 4 bytes; when even that cannot be allocated, NotEnoughMemory (8) is trapped.
  bool read(std::uint32_t mask, Memo& memo, bool strict);

  // The next mask: the next value of the seeded generator.
  std::uint32_t unmask();
  // The sink's ok.
  bool ok() const;
  // Passes a nonzero code with "BuSource " followed by text to the sink; a code of 0 does nothing.
  void trap(unsigned long code, wchar_t const* text);
  // The file's own modification stamp when the sink is ok and the platform gives it; otherwise
  // all three words 0. Reports nothing.
  Clock::UniversalTime fileStamp() const;
  // The bytes consumed so far, the skipped leading block included.
  unsigned long long done() const;
  // The file's size in bytes, as learned when it was opened.
  unsigned long long totalbytes() const;

 private:
  ErrorSink& sink_;
  void* handle_;
  unsigned long long size_;
  unsigned long long consumed_;
  Random::PFRandom random_;
};

// What a restore does with the content of a backup; implemented by the caller, who owns it.
// Texts, the info buffer and the bytes pointer are valid only during the call.
class KESTLE_API Restore {
 public:
  // The backup's stamp and product code, after the header was read. False ends the read at once.
  virtual bool start(Clock::UniversalTime const& stamp, wchar_t const* productcode) = 0;
  // The backup was read to its end; bytesdone is the number of bytes consumed (the file size).
  virtual void finished(unsigned long long bytesdone) = 0;
  // A unit begins: its unit text, name text and info buffer (the reader's; released after the
  // unit).
  virtual void unit(wchar_t const* unit, wchar_t const* name, XBuffer& info) = 0;
  // One data chunk of the current unit; length 0 is the unit's closing empty chunk.
  virtual void data(std::uint32_t length, char const* bytes) = 0;
  // The file's size, before the first unit. Answers the progress reports wanted per second, 0
  // for none.
  virtual std::uint32_t total(unsigned long long size) = 0;
  // Bytes consumed so far and "<unit text> <name text>". False aborts the read.
  virtual bool progress(unsigned long long bytesdone, wchar_t const* what) = 0;

 protected:
  ~Restore() = default;
};

// Reads the backup `file` from start to end into restore; faults go to sink. Calls, for a file
// that reads without fault: start, total, per unit: unit, one data per data chunk (interleaved
// with progress as often as total asked for, never after a unit header or a closing chunk),
// data with length 0; finally finished. Nothing is called on restore after finished, after a
// false start or progress, or after a fault. While the sink is ok, the reader itself reports
// BackupFormatError "unknown read problem 0" (a unit header or the final chunk fails to read),
// "unknown read problem 1" (a data chunk fails), "data after end of backup " and the number of
// bytes (the final empty chunk is not the end of the file), and BackupAborted "aborted" (progress
// answered false). An exception from a callback passes through after everything the reader
// holds is released and the file is closed.
KESTLE_API void reader(wchar_t const* file, ErrorSink& sink, Restore& restore);

// The caller's view of a report in progress; the caller owns it.
class KESTLE_API Progress {
 public:
  // The backup file's size. Answers the progress reports wanted per second, 0 for none.
  virtual std::uint32_t total(unsigned long long size) = 0;
  // Bytes consumed so far and "<unit text> <name text>". False aborts the read.
  virtual bool progress(unsigned long long bytesdone, wchar_t const* what) = 0;

 protected:
  ~Progress() = default;
};

// Reads the backup `file` without restoring anything and returns an XML document of what it
// holds and what went wrong: the opening line <backup fname="..." >, error elements for the
// faults of the open and the header, the start element (stamp and product code), the total
// element (file size), error elements for faults met in the units, the finished element when
// the backup was read to its end, and the closing line </backup> (no line feed after it). Texts
// are inserted without XML escaping. progress receives one total right after the start element
// and then progress calls at the rate total asked for; nothing when the file cannot be opened,
// is empty or has a bad header.
KESTLE_API WString report(wchar_t const* file, Progress& progress);

}  // namespace BuRdr
