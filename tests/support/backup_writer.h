// A writer of backup files for tests, benchmarks, fuzz seeds and the sample backup; not part of
// the library. It writes the format the backup source reads, with the platform's generator for
// the masks and the serialisation buffers' encoding for unit headers, and records where every
// chunk lies so that tests can damage any part of a file precisely.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "kestle/kestle.h"

namespace kestle_test {

using Bytes = std::vector<char>;

// The plain header of a backup. Every field may be set to a faulty value.
struct BackupHeader {
  BackupHeader();                      // type 13, a filled stamp, product code "KESTLE TEST"
  unsigned char type = 13;             // plain byte 0
  unsigned char spare[3] = {};         // plain bytes 1 to 3, not interpreted by the reader
  Clock::UniversalTime stamp;          // date, time, zone words
  std::vector<std::uint16_t> product;  // UTF-16 units; the first 40 are written, zeros after
  unsigned char tail = 0;              // fill of plain bytes 96 to 126
};

// Where one chunk lies in a written backup.
struct ChunkPlace {
  enum class Kind { UnitHeader, Data, Closing, End };
  Kind kind;
  std::size_t offset;    // of the length field
  std::uint32_t length;  // data bytes
  std::uint32_t mask;
  std::size_t dataOffset() const { return offset + 4; }
  std::size_t checksumOffset() const;
  std::size_t end() const { return checksumOffset() + 4; }
};

// A written backup: its bytes and its chunks in file order, with knobs to damage it.
struct BackupImage {
  Bytes bytes;
  std::vector<ChunkPlace> chunks;

  // XORs the byte at offset with bits.
  void flip(std::size_t offset, unsigned char bits = 0xFF);
  // Makes chunk i's length field announce `length` under its own mask.
  void setLength(std::size_t i, std::uint32_t length);
  // Adds delta to data word w of chunk i (as stored, masked).
  void changeDataWord(std::size_t i, std::size_t w, std::uint32_t delta = 1);
  // Adds delta to chunk i's checksum word.
  void changeChecksum(std::size_t i, std::uint32_t delta = 1);
  // Keeps the first size bytes.
  void truncate(std::size_t size);
  // The first chunk of the given kind at or after chunk `from`.
  std::size_t find(ChunkPlace::Kind kind, std::size_t from = 0) const;

  void writeTo(std::filesystem::path const& path) const;
};

// Builds a backup unit by unit. Padding bytes are written with a nonzero fill so that their
// part in masking and summing is exercised.
class BackupWriter {
 public:
  explicit BackupWriter(BackupHeader header = BackupHeader());

  // Begins a unit with a header chunk of unit text, name text and info buffer.
  BackupWriter& unit(std::wstring const& unit, std::wstring const& name, Bytes const& info = {});
  // Begins a unit whose header chunk holds exactly these bytes.
  BackupWriter& rawUnit(Bytes const& headerBytes);
  // A data chunk of the current unit.
  BackupWriter& data(Bytes const& bytes);
  BackupWriter& data(std::string const& text);
  // Fill of the padding bytes.
  BackupWriter& padding(unsigned char fill);

  BackupImage build() const;

 private:
  struct Unit {
    Bytes header;
    std::vector<Bytes> data;
  };
  BackupHeader header_;
  std::vector<Unit> units_;
  unsigned char fill_ = 0xA5;
};

// The 128 bytes of header 1 on disk.
Bytes encipheredHeader(BackupHeader const& header);
// Appends one chunk of length bytes under mask (padding with fill).
void appendChunk(Bytes& out, std::uint32_t mask, char const* data, std::uint32_t length,
                 unsigned char fill = 0);
// The serialised unit header: two wide strings and a nested buffer.
Bytes unitHeaderBytes(std::wstring const& unit, std::wstring const& name, Bytes const& info);
// UTF-16 units of a wide text (characters above U+FFFF as surrogate pairs).
std::vector<std::uint16_t> utf16(std::wstring const& text);
// n bytes of a fixed pseudo-random pattern.
Bytes patternBytes(std::size_t n, std::uint32_t seed);

Bytes readFile(std::filesystem::path const& path);
void writeFile(std::filesystem::path const& path, Bytes const& bytes);

}  // namespace kestle_test
