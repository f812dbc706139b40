#include "record_reader.h"

#include <algorithm>

#include "kestle/kestle.h"

namespace kestle_tool {

RecordReader::~RecordReader() {
  if (file_ != nullptr)
    Fio::close(file_);
}

unsigned long RecordReader::open(std::wstring const& name, unsigned recordLength, bool enciphered) {
  logical_ = recordLength;
  stored_ = recordLength + (enciphered ? 1 : 0);
  enciphered_ = enciphered;
  unsigned long code = Fio::open(name.c_str(), Access::Read, Sharing::AllowReadWrite,
                                 OpenFlag::OpenExisting, file_, false);
  if (code == 0)
    code = Fio::getSize(file_, bytes_);
  return code;
}

unsigned long RecordReader::read(unsigned long long first, unsigned long long count,
                                 std::function<void(Record const&)> const& visit,
                                 unsigned long long& failedAt) {
  // About 64 KiB per transfer, and never less than one record.
  unsigned long long const perBatch = std::max(1u, (64u << 10) / stored_);
  std::vector<char> batch(perBatch * stored_);
  std::vector<char> plain(logical_);
  for (unsigned long long done = 0; done < count;) {
    unsigned long long const n = std::min(perBatch, count - done);
    unsigned long long const number = first + done;
    unsigned got = 0;
    unsigned long const code = Fio::read(file_, (number - 1) * stored_, batch.data(),
                                         static_cast<unsigned>(n * stored_), got);
    if (code != 0 || got < n * stored_) {
      failedAt = number;
      return code != 0 ? code : SysError::IoDevice;  // the file shrank while it was read
    }
    for (unsigned long long i = 0; i < n; ++i) {
      char const* stored = batch.data() + i * stored_;
      Record r{number + i, {stored, stored_}, {stored, logical_}, true, false};
      r.zeros = std::all_of(stored, stored + stored_, [](char c) { return c == 0; });
      if (enciphered_) {
        auto const key = FrecordKey(static_cast<unsigned>(r.number));
        r.sound = Coding::Decode(stored, plain.data(), logical_, key);
        r.plain = {plain.data(), logical_};
      }
      visit(r);
    }
    done += n;
  }
  return 0;
}

}  // namespace kestle_tool
