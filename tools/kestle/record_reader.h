// Reads a record file through the library's raw layer, a batch of records per transfer, and hands
// out every record as stored and, on an enciphered file, deciphered under its record's key.
//
// It reads the stored bytes itself rather than through Fmultiread because a checker must see a
// broken record: the record layer retries a broken record with waits, reports it and leaves it
// out of the delivered run, so neither its number nor its stored bytes would reach the caller.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace Fio {
class FIOWRAP;
}

namespace kestle_tool {

// One record; the views live until the visitor returns.
struct Record {
  unsigned long long number;  // 1-based
  std::string_view stored;    // the bytes in the file
  std::string_view plain;     // deciphered, or the stored bytes of a plain file
  bool sound;                 // the cipher's check holds (always true on a plain file)
  bool zeros;                 // every stored byte is 0, as a file grown by a resize leaves it
};

class RecordReader {
 public:
  // Records from 1 to this many bytes are accepted; larger ones are taken for a mistake.
  static constexpr unsigned kMaxRecordLength = 16u << 20;

  RecordReader() = default;
  ~RecordReader();
  RecordReader(RecordReader const&) = delete;
  RecordReader& operator=(RecordReader const&) = delete;

  // Opens an existing file for reading (others may go on writing it) and learns its size.
  // Returns 0 or the library's code.
  unsigned long open(std::wstring const& name, unsigned recordLength, bool enciphered);

  unsigned long long bytes() const { return bytes_; }
  unsigned storedLength() const { return stored_; }
  unsigned long long records() const { return bytes_ / stored_; }
  unsigned long long remainder() const { return bytes_ % stored_; }

  // Calls visit for `count` records from record `first` (both within the file). Returns 0, or
  // the code of the transfer that failed and sets `failedAt` to the first record it held.
  unsigned long read(unsigned long long first, unsigned long long count,
                     std::function<void(Record const&)> const& visit, unsigned long long& failedAt);

 private:
  Fio::FIOWRAP* file_ = nullptr;
  unsigned logical_ = 0;
  unsigned stored_ = 1;
  bool enciphered_ = false;
  unsigned long long bytes_ = 0;
};

}  // namespace kestle_tool
