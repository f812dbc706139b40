// Reads a record file back: a run, single records, and the verified read, compared.
#include "record_read_demo.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "kestle/kestle.h"

namespace {

// The record as printable text: control bytes and the trailing zeros as dots.
std::string printable(char const* record, unsigned length) {
  std::string text(record, length);
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
      c = '.';
  return text;
}

}  // namespace

bool runRecordReadDemo(FioFile* file, unsigned int nrecs, char const* expected) {
  unsigned const length = Fbuflen(file, 1);
  std::string run(Fbuflen(file, nrecs), '\0');
  unsigned nread = 0;
  bool eof = false;
  Fmultiread(file, 1, nrecs, run.data(), nread, eof);
  std::printf("Fmultiread of %u records: %u read%s\n", nrecs, nread, eof ? ", end of file" : "");
  bool ok = nread == nrecs && !eof;
  if (expected != nullptr && std::memcmp(run.data(), expected, run.size()) != 0) {
    std::printf("the records differ from what was written\n");
    ok = false;
  }

  std::string single(length, '\0');
  for (unsigned rec = 1; rec <= nrecs; ++rec) {
    Fread(file, rec, single.data(), eof);
    bool const same = !eof && single == run.substr((rec - 1) * length, length);
    std::printf("  record %u: \"%s\"%s\n", rec, printable(single.data(), length).c_str(),
                same ? "" : " (differs from the run)");
    ok = ok && same;
  }
  Fread(file, nrecs + 1, single.data(), eof);
  std::printf("record %u: %s\n", nrecs + 1, eof ? "end of file" : "unexpectedly there");
  ok = ok && eof;

  // The verified read reads the range twice and logs any difference between the two copies.
  bool const previous = SetReadWithCopyBuffer(true);
  std::string verified(run.size(), '\0');
  Fmultiread(file, 1, nrecs, verified.data(), nread, eof);
  SetReadWithCopyBuffer(previous);
  bool const same = nread == nrecs && verified == run;
  std::printf("verified read: %s\n", same ? "the same records" : "different records");
  return ok && same;
}
