// Record files: files of fixed-length records, opened by name and addressed by 1-based record
// number, optionally enciphered record by record with the record cipher (kestle/coding.h).
//
// FopenName hands out a FioFile* that the caller owns and gives back to Fclose, which writes
// what the write buffer holds, closes the file, destroys the handle and sets the pointer to null.
// Every other function takes a handle that FopenName returned and Fclose has not yet closed.
//
// Layout on disk: record r occupies `fysrecl` bytes at byte (r - 1) x fysrecl. On a plain file
// fysrecl is the logical record length; on an enciphered file it is one more, and each record is
// stored as the record cipher makes it under a key derived from the record number.
//
// Transfers retry: a lock violation (33) is waited out 70 ms at a time; a write that keeps coming
// back short is tried four times in all (with a tone and a line on the "fioErrorLog" channel of
// ERROR.LOG before each retry) and then fails with ShortWriteError; a full disk (112) fails at
// once. A read of a file that other threads keep busy waits for it (one report per read). Other
// failures are reported through SysFailure (module "fio") and retried a bounded number of
// times; a read that gives up then delivers what it has and never claims the end of the file.
//
// Threads: the handle has no lock of its own. Reads, Fwrite, Fmultiwrite and the size functions
// may run on several threads at once; the write buffer (Fbufwrite, Fflushbuf, Fflush) is used by
// one thread at a time; Fclose overlaps no other use of the handle.
#pragma once

#include "kestle/export.h"
#include "kestle/fileopen.h"
#include "kestle/strings.h"

// The record file handle. Opaque to callers; made by FopenName, destroyed by Fclose.
struct FioFile;

// ---- Handle -----------------------------------------------------------------------------------

// Opens `name` as a record file of `logrecl`-byte records, enciphered when `cypher` is set, and
// stores the new handle in `file`. Returns 0, or the raw layer's code when the file cannot be
// opened (`file` is then left as it was). A `logrecl` of 0 is reported and refused with
// InvalidParameter (87), likewise leaving `file` untouched; so is (without a report) an
// enciphered file with `logrecl` 0xFFFFFFFF, whose stored records would not fit 32 bits. The file's
// size is checked at once: a size that cannot be read or is not a whole number of records is
// reported (see Fsize), and the open still succeeds. The trailing flag is passed to the raw layer
// unchanged.
KESTLE_API unsigned long FopenName(wchar_t const* name, unsigned int logrecl, bool cypher,
                                   Sharing sharing, Access access, OpenFlag openFlag,
                                   FioFile*& file, bool);

// Writes the records held in the write buffer, closes the file, releases the handle and sets
// `file` to null. A failed close is reported with the file's name and code; the handle is
// released and the pointer nulled all the same. A null `file` does nothing.
KESTLE_API void Fclose(FioFile*& file);

// The name the file was opened with.
KESTLE_API WString FGetName(FioFile* file);

// The bytes a caller's buffer needs for `nrecs` records: nrecs x logrecl, modulo 2^32.
KESTLE_API unsigned int Fbuflen(FioFile* file, unsigned int nrecs);

// The key byte under which record `rec` (1-based) of an enciphered file is stored: the record's
// logrecl bytes enciphered with Coding::Encode under this key. With i = rec - 1, the low byte of
// i plus bits 8 to 14 plus bits 16 to 23, modulo 256; records 1, 256, 257 and 32768 get 0, 255,
// 1 and 126. Stored files depend on this rule, so it never changes.
constexpr unsigned char FrecordKey(unsigned int rec) {
  unsigned int const i = rec - 1u;
  return static_cast<unsigned char>(i + ((i & 0x7FFFu) >> 8) + (i >> 16));
}

// ---- Reads ------------------------------------------------------------------------------------

// Reads up to `nrecs` records from record `rec` into `buf` (Fbuflen(file, nrecs) bytes). `nread`
// receives the number of records delivered; `eof` is set when the file ended first. On an
// enciphered file a record that fails the cipher's check is logged and the range read again up
// to three times; a record still broken then is reported and the delivery ends before it:
// `nread` counts the records ahead of it and `eof` stays false. A read that gives up after its
// reported failures likewise ends the delivery with `eof` false. A null `buf` or a run passing
// record 0xFFFFFFFF (with `nrecs` > 0) is reported with InvalidParameter (87) and delivers
// nothing (`nread` 0, `eof` false). An enciphered read takes scratch memory only for the
// records the file holds.
KESTLE_API void Fmultiread(FioFile* file, unsigned int rec, unsigned int nrecs, void* buf,
                           unsigned int& nread, bool& eof);

// Reads the one record `rec` into `buf` (logrecl bytes); `eof` is set when none was delivered
// (also after a reported failure, and for a null `buf`, which is reported with 87).
KESTLE_API void Fread(FioFile* file, unsigned int rec, void* buf, bool& eof);

// Process-wide read switches, all off at load. Each stores its argument and returns the previous
// value. Extended logging adds the thread id and details to broken-record texts; either
// copy-buffer switch makes enciphered reads read the range twice and compare the two copies, and
// "use" deciphers from the second copy.
KESTLE_API bool SetReadExtendedLogging(bool on);
KESTLE_API bool SetReadWithCopyBuffer(bool on);
KESTLE_API bool SetReadUseCopyBuffer(bool on);

// ---- Writes and the write buffer --------------------------------------------------------------

// Writes the one record at `data` (logrecl bytes) as record `recno`, past the write buffer. A
// failure is reported with the file's name and code (87 for a null `data` or record 0).
KESTLE_API void Fwrite(FioFile* file, unsigned int recno, void* data);

// Writes `nrecs` records from `data` as records recno .. recno + nrecs - 1 in one transfer, past
// the write buffer. `err` receives 0 or the error code (112 disk full, ShortWriteError, 87 for a
// record number of 0, a null `data`, a run passing record 0xFFFFFFFF or a transfer of 4 GiB or
// more, in each case with nothing written or allocated); nothing is reported.
KESTLE_API void Fmultiwrite(FioFile* file, unsigned int recno, unsigned int nrecs, void* data,
                            unsigned long& err);

// Puts the one record at `data` into the write buffer as record `recno`. The buffer gathers
// consecutive records and writes each run in one transfer: when the next record does not
// continue the run, when the buffer is full and another record arrives, and on Fflush, Fflushbuf
// and Fclose. `nrecs` is the buffer capacity in records the caller wants; it only ever grows
// (records held when it grows are written first). An `nrecs` of 0 is reported; the record is
// then buffered with the capacity there is, or written at once when there is no buffer. Records
// held in the buffer are not seen by reads or Fsize until they are written. A null `data` is
// reported with 87 and changes nothing.
KESTLE_API void Fbufwrite(FioFile* file, unsigned int recno, unsigned int nrecs, void* data);

// Writes what the write buffer holds and releases the buffer. A failed write is reported and the
// run dropped.
KESTLE_API void Fflushbuf(FioFile* file);

// Writes what the write buffer holds (keeping the buffer) and makes the file's data durable. A
// failure of either is reported.
KESTLE_API void Fflush(FioFile* file);

// ---- Size in records --------------------------------------------------------------------------

// The number of whole records in the file. A size that cannot be read is reported and gives 0; a
// size that is not a whole number of records is reported and the whole records are counted. A
// count beyond 2^32 - 1 gives 2^32 - 1.
KESTLE_API void Fsize(FioFile* file, unsigned int& nrecs);

// Makes the file exactly nrecs records long (64-bit byte size), cutting or extending it with
// zeros. A failure is reported. Records held in the write buffer are neither written nor dropped.
KESTLE_API void FSetSize(FioFile* file, unsigned int nrecs);

// As FSetSize, but returns the error code (0 for success) and reports nothing.
KESTLE_API unsigned long FSetNewSize(FioFile* file, unsigned int nrecs);
