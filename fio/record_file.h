// The record file handle and what every part of the record layer shares: the record geometry,
// the record key, the scratch buffer of enciphered transfers, the module name of reports and the
// two log channels.
//
// Geometry: record r (1-based) begins at byte (r - 1) x fysrecl_, computed in 64 bits so a record
// file may exceed 4 GiB. A transfer of n records moves n x fysrecl_ bytes; the layer refuses a
// transfer whose byte count does not fit 32 bits rather than let it wrap. A caller's buffer holds
// n x logrecl_ bytes, record i at offset i x logrecl_. On an enciphered file fysrecl_ is
// logrecl_ + 1: the record cipher adds one check byte.
#pragma once

#include <cstddef>
#include <cstdint>

#include "coding/cipher_run.h"

#include "kestle/alloc.h"
#include "kestle/fio.h"
#include "kestle/fiowrap.h"
#include "kestle/strings.h"

namespace kestle_detail::record {

// The module name of every report the record layer makes, and the source name of its log lines.
inline constexpr wchar_t kModule[] = L"fio";
inline constexpr char kLogSource[] = "fio";

// Bytes of physical records an enciphered transfer handles in the caller's frame; beyond this one
// heap block of exactly the needed size is taken.
inline constexpr unsigned kScratchBytes = 8192;

// The key byte under which record `rec` (1-based) is enciphered; the rule is public (FrecordKey)
// because the layout of an enciphered file is.
constexpr unsigned char recordKey(unsigned rec) {
  return FrecordKey(rec);
}

// Numbers in the record layer's report and log texts: decimal, or hexadecimal for byte positions
// and addresses; no padding.
inline WString decimal(unsigned long long value) {
  return FString::numstr(value, 10, 0, L' ');
}
inline WString hex(unsigned long long value) {
  return FString::numstr(value, 16, 0, L' ');
}

// How many records from `rec` on have keys that follow one another (k, k + 1, ...): all up to
// the next record index that is a multiple of 256, where the upper bits of the rule step in.
constexpr unsigned keyRunLength(unsigned rec) {
  return 256u - ((rec - 1u) & 0xFFu);
}

// Enciphers `count` records of `logrecl` bytes from record `rec` on, packed at plain, into their
// file form at physical, with one cipher pass per stretch of following keys.
inline void encipherRecords(unsigned rec, unsigned count, unsigned logrecl, char const* plain,
                            char* physical) {
  while (count > 0) {
    unsigned const n = count < keyRunLength(rec) ? count : keyRunLength(rec);
    kestle_detail::cipher::EncodeRun(plain, physical, logrecl, n, recordKey(rec));
    plain += static_cast<std::size_t>(n) * logrecl;
    physical += static_cast<std::size_t>(n) * (logrecl + 1);
    rec += n;
    count -= n;
  }
}

// Deciphers `count` records from record `rec` on, the reverse of encipherRecords, and returns how
// many pass their check before the first that fails. The failing record is written out; no
// record after it is.
inline unsigned decipherRecords(unsigned rec, unsigned count, unsigned logrecl,
                                char const* physical, char* plain) {
  unsigned done = 0;
  while (done < count) {
    unsigned const left = count - done;
    unsigned const n = left < keyRunLength(rec) ? left : keyRunLength(rec);
    unsigned const good =
        kestle_detail::cipher::DecodeRun(physical, plain, logrecl, n, recordKey(rec));
    done += good;
    if (good < n)
      return done;
    physical += static_cast<std::size_t>(n) * (logrecl + 1);
    plain += static_cast<std::size_t>(n) * logrecl;
    rec += n;
  }
  return done;
}

// The two log channels of the record layer, both into "ERROR.LOG". The line number belongs to
// the channel. Short-write retries go to the error channel; broken records and copy-buffer
// differences to the warning channel.
void logError(wchar_t const* text);
void logWarning(wchar_t const* text);

// The physical records of one enciphered transfer: kScratchBytes in the owner's frame when they
// fit, else one accounted block of exactly `bytes`, released when the buffer goes out of scope
// (also when an exception passes). The contents start undefined.
class ScratchBuffer {
 public:
  explicit ScratchBuffer(unsigned bytes)
      : block_(bytes > kScratchBytes ? static_cast<char*>(kestle::allocate(bytes)) : nullptr) {}
  ~ScratchBuffer() { kestle::release(block_); }
  ScratchBuffer(ScratchBuffer const&) = delete;
  ScratchBuffer& operator=(ScratchBuffer const&) = delete;

  char* data() { return block_ != nullptr ? block_ : frame_; }

 private:
  char* block_;
  alignas(64) char frame_[kScratchBytes];
};

// How many times one transfer is reported and tried again after a failure that is neither a lock
// violation nor (for writes) a full disk or a short count. The platform's report returns, so an
// unbounded loop would turn a lasting fault (a write-only file read, a vanished disk) into an
// endless stream of reports; after this many the transfer gives up.
inline constexpr unsigned kReportedRetryLimit = 10;

}  // namespace kestle_detail::record

// The record file handle: a raw file joined with the record geometry, the cipher switch and a
// write buffer. Fields 1 to 4 are fixed from open to close, so reads may use them from several
// threads at once; fields 5 to 8 belong to the write buffer, which one thread at a time uses.
struct FioFile {
  Fio::FIOWRAP* fio_;         // the raw file; owned
  bool cypher_;               // records are enciphered
  unsigned int logrecl_;      // bytes of a record as the caller sees it
  unsigned int fysrecl_;      // bytes of a record in the file: logrecl_ + 1 when enciphered
  unsigned int bufcapacity_;  // write buffer capacity in records; 0: no buffer
  char* buffer_;              // bufcapacity_ x fysrecl_ bytes of records in file form; owned
  unsigned int bufcount_;     // records held, the consecutive run from bufstart_
  unsigned int bufstart_;     // number of the first held record while bufcount_ > 0

  // ---- Geometry ----

  // Byte position of record `rec` in the file (64-bit).
  unsigned long long recordPosition(unsigned int rec) const {
    return static_cast<unsigned long long>(rec - 1u) * fysrecl_;
  }
  // Whether a run of `nrecs` records from `rec` ends at or before record 0xFFFFFFFF; the next
  // record number would wrap to 0 and its position to far beyond every record.
  static bool runFits(unsigned int rec, unsigned int nrecs) {
    return nrecs == 0 || nrecs - 1u <= 0xFFFFFFFFu - rec;
  }
  // Stores nrecs x fysrecl_ in `nbytes` and returns true, or returns false when the product does
  // not fit 32 bits (such a transfer is refused).
  bool physicalBytes(unsigned int nrecs, unsigned int& nbytes) const {
    unsigned long long const product = static_cast<unsigned long long>(nrecs) * fysrecl_;
    if (product > 0xFFFFFFFFull)
      return false;
    nbytes = static_cast<unsigned int>(product);
    return true;
  }

  // ---- Byte transfers ----

  // Reads `nbytes` (a whole number of physical records, else reported) from record `rec` into
  // `dest`; returns the bytes read, fewer when the file ends first. A lock violation is waited
  // out (70 ms, no limit, silently). A busy file (NoHandleError: no slot came free for a while)
  // is reported once per call and read again without limit. Any other failure is reported and
  // the read tried again, up to kReportedRetryLimit reports, after which the read gives up: it
  // returns the bytes of the failed call (0) and sets `*gaveUp`, so that the caller does not
  // take the short count for the end of the file. `gaveUp` may be null; it is cleared first.
  unsigned int readBytes(unsigned int rec, void* dest, unsigned int nbytes, bool* gaveUp = nullptr);
  // As readBytes, through the raw two-buffer read that fills `original` and `copy` with the same
  // range.
  unsigned int readBytes2(unsigned int rec, char* original, char* copy, unsigned int nbytes,
                          bool* gaveUp = nullptr);
  // Writes `nbytes` from `src` at record `rec`. Returns 0; 112 when the disk is full; the
  // short-write code when the raw write kept coming back short (four tries); 87 for record 0, a
  // null `src` with bytes to write, or a run passing record 0xFFFFFFFF (nothing is written);
  // otherwise the last code after kReportedRetryLimit reported failures.
  unsigned long writeBytes(unsigned int rec, void const* src, unsigned int nbytes);

  // ---- Enciphered transfers ----

  // Reads and deciphers `nrecs` records from `rec` into `out`, starting with attempt `attempt`.
  void multiReadCypher(unsigned int attempt, unsigned int rec, unsigned int nrecs, void* out,
                       unsigned int& nread, bool& eof);
  // The same, reading the range into two buffers and logging where they differ.
  void multiReadCypher2(unsigned int attempt, unsigned int rec, unsigned int nrecs, void* out,
                        unsigned int& nread, bool& eof);
  // Enciphers `nrecs` records from `data`, each under its record's key, and writes them in one
  // transfer. Returns writeBytes's code, 0 for nrecs 0, or 87 (before anything is allocated)
  // when the byte count does not fit 32 bits, `data` is null or the run passes record
  // 0xFFFFFFFF.
  unsigned long multiWriteCypher(unsigned int recno, unsigned int nrecs, void const* data);

  // ---- Write buffer ----

  // Writes the held run in one transfer and empties the buffer (keeping it). A failure is
  // reported and the run dropped.
  void flushBuffer();
};

// The text that describes how `original` and `copy` differ over `length` bytes, read from the
// file at `position` for a read that started at record `rec`.
WString bufferDifferenceText(bool begin, unsigned int rec, unsigned long long position,
                             WString const& name, char const* original, char const* copy,
                             unsigned int length);
