// A writer of backup files (for tests, benchmarks, seeds, the sample) that records where every
// chunk lies so that tests can damage any part; and a recorder of the reader's pacing calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "kestle/kestle.h"

namespace kestle_test {

using Bytes = std::vector<char>;

// A stamp from calendar parts (zone as UniversalTime::zone).
Clock::UniversalTime stampOf(long long year, unsigned month, unsigned day, unsigned hour,
                             unsigned minute, unsigned second, unsigned hundredths,
                             std::int32_t zone = 0);
// Appends one chunk of length bytes under mask (padding with fill).
void appendChunk(Bytes& out, std::uint32_t mask, char const* data, std::uint32_t length,
                 unsigned char fill = 0);
// The serialised unit header: two wide strings and a nested buffer.
Bytes unitHeaderBytes(std::wstring const& unit, std::wstring const& name, Bytes const& info);
Bytes patternBytes(std::size_t n, std::uint32_t seed);
Bytes readFile(std::filesystem::path const& path);
void writeFile(std::filesystem::path const& path, Bytes const& bytes);

// The plain header of a backup. Every field may be set to a faulty value.
struct BackupHeader {
  unsigned char type = 13;  // plain byte 0
  Clock::UniversalTime stamp = stampOf(2024, 5, 17, 13, 45, 30, 25);
  std::u16string product = u"KESTLE TEST";  // first 40 units are written
  unsigned char tail = 0;                   // fill of plain bytes 96 to 126
};
// The 128 bytes of header 1 on disk.
Bytes encipheredHeader(BackupHeader const& header);

// Where one chunk lies: unit header, data chunks and closing chunk of each unit, then the end.
struct ChunkPlace {
  std::size_t offset;  // of the length field
  std::uint32_t mask;
  std::size_t checksum;  // offset of the checksum word, the chunk's last
};

// A written backup: its bytes and its chunks in file order.
struct BackupImage {
  Bytes bytes;
  std::vector<ChunkPlace> chunks;

  // Makes chunk i's length field announce `length` under its own mask.
  BackupImage& setLength(std::size_t i, std::uint32_t length);
  BackupImage& changeChecksum(std::size_t i) {
    ++bytes.at(chunks.at(i).checksum);
    return *this;
  }
};

// Builds a backup unit by unit; padding bytes get a nonzero fill.
class BackupWriter {
 public:
  explicit BackupWriter(BackupHeader header = BackupHeader()) : header_(std::move(header)) {}
  BackupWriter& unit(std::wstring const& unit, std::wstring const& name, Bytes const& info = {}) {
    return rawUnit(unitHeaderBytes(unit, name, info));
  }
  // Begins a unit whose header chunk holds exactly these bytes.
  BackupWriter& rawUnit(Bytes const& headerBytes) {
    units_.push_back({headerBytes});
    return *this;
  }
  BackupWriter& data(Bytes const& bytes) {
    units_.back().push_back(bytes);
    return *this;
  }
  BackupWriter& data(std::string const& text) { return data(Bytes(text.begin(), text.end())); }
  BackupImage build() const;

 private:
  BackupHeader header_;
  std::vector<std::vector<Bytes>> units_;  // each unit's header chunk, then its data chunks
};

// Records total and progress calls as lines; answers rate, then answers[n] (true when missing).
template <typename Base>
class RecordingPacing : public Base {
 public:
  std::uint32_t total(unsigned long long size) override {
    calls.push_back(L"total " + std::to_wstring(size));
    return rate;
  }
  bool progress(unsigned long long bytesdone, wchar_t const* what) override {
    calls.push_back(L"progress " + std::to_wstring(bytesdone) + L" " + what);
    return answered < answers.size() ? answers[answered++] : true;
  }

  std::vector<std::wstring> calls;
  std::uint32_t rate = 0;
  std::vector<bool> answers;
  std::size_t answered = 0;  // progress calls answered from answers
};

}  // namespace kestle_test
