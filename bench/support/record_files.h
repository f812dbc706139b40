// Record files for the record-layer benchmarks: the record length they all use, a reproducible
// record pattern, and an open record file in the scratch directory.
#pragma once

#include <vector>

#include "kestle/fio.h"

namespace kestle_bench {

constexpr unsigned kRecordLength = 100;

// n records of kRecordLength bytes whose bytes differ from record to record.
std::vector<char> records(unsigned n);

// A record file of kRecordLength-byte records, created (or truncated) in the scratch directory
// and open for the object's life. The program ends with a message if it cannot be opened.
class RecordFile {
 public:
  RecordFile(char const* leaf, bool cypher);
  ~RecordFile();
  RecordFile(RecordFile const&) = delete;
  RecordFile& operator=(RecordFile const&) = delete;
  FioFile* get() const { return file_; }

 private:
  FioFile* file_ = nullptr;
};

}  // namespace kestle_bench
