// The verified read: the range is read into two buffers, which are compared before and after
// deciphering; where they differ is logged on the warning channel and the read goes on.
#include <cstdint>
#include <cstring>

#include "fio/record_file.h"
#include "fio/record_read.h"
#include "kestle/fiowrap.h"
#include "kestle/strings.h"
#include "kestle/system.h"
#include "kestle/thread.h"

namespace {

using kestle_detail::record::decimal;
using kestle_detail::record::hex;

WString address(char const* p) {
  return hex(reinterpret_cast<std::uintptr_t>(p));
}

}  // namespace

WString bufferDifferenceText(bool begin, unsigned int rec, unsigned long long position,
                             WString const& name, char const* original, char const* copy,
                             unsigned int length) {
  unsigned int count = 0;
  unsigned int first = length;
  unsigned int last = length;
  for (unsigned int j = 0; j < length; ++j) {
    if (original[j] == copy[j])
      continue;
    if (count == 0)
      first = j;
    last = j;
    ++count;
  }
  char const* const originalAt = count > 0 ? original + first : nullptr;
  char const* const copyAt = count > 0 ? copy + first : nullptr;

  WString text(L"Warning BROKEN FILE,", L" thread id ");
  text += decimal(static_cast<unsigned long long>(Thread::currentThreadId()));
  text += begin ? L" begin" : L" end";
  text += L" buffer vs. copy";
  // The original form ends in two blanks; log readers match these texts as they stand.
  text += kestle_detail::record::readUseCopyBuffer() ? L" (use copy) in " : L" (use original) in  ";
  text += name;
  text += L" reading started at record ";
  text += decimal(rec);
  text += L". Memory first difference org at 0x";
  text += address(originalAt);
  text += L", copy at 0x";
  text += address(copyAt);
  text += L", in file 0x";
  text += hex(position + first);
  text += L". Differences ";
  text += decimal(count);
  text += L" bytes in buffer of length ";
  text += decimal(length);
  text += L". First difference at (0-based) position ";
  text += decimal(first);
  text += L", last position ";
  text += decimal(last);
  text += L", length ";
  text += decimal(static_cast<unsigned int>(last - first + 1));
  return text;
}

void FioFile::multiReadCypher2(unsigned int attempt, unsigned int rec, unsigned int nrecs,
                               void* out, unsigned int& nread, bool& eof) {
  using namespace kestle_detail::record;
  static constexpr BrokenReport kReport{L"FioFile::multiReadCypher2", 646};
  bool beyondEnd = false;
  nrecs = scratchRecords(*this, rec, nrecs, beyondEnd);
  unsigned int const nbytes = nrecs * fysrecl_;
  unsigned long long const position = recordPosition(rec);
  for (;; ++attempt) {
    bool retry;
    {
      ScratchBuffer originalBuffer(nbytes);
      ScratchBuffer copyBuffer(nbytes);
      char* const original = originalBuffer.data();
      char* const copy = copyBuffer.data();
      bool gaveUp = false;
      unsigned int const bytes = readBytes2(rec, original, copy, nbytes, &gaveUp);
      zeroTail(original, bytes, nbytes);
      zeroTail(copy, bytes, nbytes);

      // The whole requested length is compared: past a short read both buffers hold zeros.
      bool const differedAtBegin = std::memcmp(original, copy, nbytes) != 0;
      if (differedAtBegin) {
        logWarning(
            bufferDifferenceText(true, rec, position, Fio::name(fio_), original, copy, nbytes));
      }
      retry = decipherPass(*this, kReport, attempt, rec, nrecs, bytes / fysrecl_, original, copy,
                           static_cast<char*>(out), nread, eof);
      eof = endOfFile(eof, beyondEnd, gaveUp);
      // Compared again whether or not the pass ended early: a difference that comes or goes
      // while the records are deciphered points at memory, not at the file.
      if (std::memcmp(original, copy, nbytes) != 0) {
        logWarning(
            bufferDifferenceText(false, rec, position, Fio::name(fio_), original, copy, nbytes));
      } else if (differedAtBegin) {
        logWarning(L"Difference at begin but not at end?!");
      }
    }
    if (!retry)
      return;
    SleepMs(attempt * kRetryStepMs);
  }
}
