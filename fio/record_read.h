// What the two enciphered reads share: the process-wide read switches, the retry schedule of a
// broken record, and the pass that deciphers the physical records of one attempt.
//
// A pass deciphers record after record into the caller's buffer. The first record that fails
// the cipher's check ends the pass: on attempts 1 to 3 with a warning and a retry of the whole
// range, on the fourth with a report, after which the delivery ends at that record. Records
// before it keep their places; nothing after it is delivered, so a caller never finds one record
// in the place of another.
#pragma once

#include "fio/record_file.h"

namespace kestle_detail::record {

// The read switches, read with relaxed ordering: a change takes effect for reads that start
// after it, and no other memory is published through them.
bool readExtendedLogging();
bool readWithCopyBuffer();
bool readUseCopyBuffer();

// A broken record is retried on this many attempts; the next attempt reports it.
inline constexpr unsigned kRetriedAttempts = 3;
// The wait before attempt a + 1 is a x this many milliseconds: 10, 20, 30.
inline constexpr unsigned kRetryStepMs = 10;

// The most records one transfer of `file` can hold with a 32-bit byte count.
inline unsigned int fittingRecords(FioFile const& file, unsigned int nrecs) {
  unsigned int const most = 0xFFFFFFFFu / file.fysrecl_;
  return nrecs < most ? nrecs : most;
}

// How many of `nrecs` records from `rec` an enciphered read takes scratch room for: all that a
// 32-bit byte count holds while they fit the frame's buffer; beyond that, no more than the file
// holds from `rec` now, so that a huge count on a short file allocates nothing for records that
// do not exist. `beyondEnd` tells whether records were left out for lying past the end.
unsigned int scratchRecords(FioFile const& file, unsigned int rec, unsigned int nrecs,
                            bool& beyondEnd);

// The `eof` of an enciphered read whose pass said `passEof`: set when records were left out for
// lying past the end, cleared when the transfer gave up after its reports (that says nothing
// about the file's end, and a caller that believed it might cut the file or append over records).
inline bool endOfFile(bool passEof, bool beyondEnd, bool gaveUp) {
  return !gaveUp && (passEof || beyondEnd);
}

// Where a record still broken after the retries is reported.
struct BrokenReport {
  wchar_t const* function;
  unsigned line;
};

// Deciphers attempt `attempt` of a read of `nrecs` records from `rec`, of which the file gave
// `got` whole records, into `out`. Physical record i is taken from `original`, or from `copy`
// when `copy` is set and the use-copy switch is on at that record. Sets `nread` and `eof`.
// Returns true when the pass found a broken record that is to be read again.
bool decipherPass(FioFile const& file, BrokenReport const& report, unsigned int attempt,
                  unsigned int rec, unsigned int nrecs, unsigned int got, char const* original,
                  char const* copy, char* out, unsigned int& nread, bool& eof);

// Makes bytes [filled, total) of `buffer` zero: what a short read left unwritten compares equal
// in both buffers of a verified read and never holds an earlier attempt's bytes.
void zeroTail(char* buffer, unsigned int filled, unsigned int total);

}  // namespace kestle_detail::record
