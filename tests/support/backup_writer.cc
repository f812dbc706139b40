#include "support/backup_writer.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <tuple>

namespace kestle_test {

namespace {

void putWord(char* p, std::uint32_t w) {
  std::memcpy(p, &w, 4);
}
std::uint32_t getWord(char const* p) {
  std::uint32_t w;
  std::memcpy(&w, p, 4);
  return w;
}

}  // namespace

Clock::UniversalTime stampOf(long long year, unsigned month, unsigned day, unsigned hour,
                             unsigned minute, unsigned second, unsigned hundredths,
                             std::int32_t zone) {
  Clock::DateTimeCtor p;
  std::tie(p.year, p.month, p.day, p.hour, p.minute, p.second, p.hundredths, p.zone) =
      std::tie(year, month, day, hour, minute, second, hundredths, zone);
  return p.stamp();
}

BackupImage& BackupImage::setLength(std::size_t i, std::uint32_t length) {
  putWord(&bytes.at(chunks.at(i).offset), length ^ chunks.at(i).mask);
  return *this;
}

BackupImage BackupWriter::build() const {
  BackupImage image;
  Bytes& out = image.bytes;
  static char const kLead[] = "Kestle test backup: this leading block is never read.";
  out.assign(128, '\x5A');
  std::memcpy(out.data(), kLead, sizeof kLead - 1);
  Bytes header = encipheredHeader(header_);
  out.insert(out.end(), header.begin(), header.end());

  Random::PFRandom random;
  random.seed(header_.stamp.date + header_.stamp.time + header_.stamp.zone);
  auto chunk = [&](std::uint32_t mask, Bytes const& bytes) {
    std::size_t const offset = out.size();
    appendChunk(out, mask, bytes.data(), static_cast<std::uint32_t>(bytes.size()), 0xA5);
    image.chunks.push_back(ChunkPlace{offset, mask, out.size() - 4});
  };
  for (std::vector<Bytes> const& unit : units_) {
    std::uint32_t mask = random.next();
    for (Bytes const& bytes : unit)
      chunk(mask, bytes);
    chunk(mask, {});  // the unit's closing chunk
  }
  chunk(random.next(), {});  // the end marker
  return image;
}

Bytes encipheredHeader(BackupHeader const& header) {
  char plain[127];
  std::memset(plain, header.tail, sizeof plain);
  plain[0] = static_cast<char>(header.type);
  putWord(plain + 4, header.stamp.date);
  putWord(plain + 8, header.stamp.time);
  putWord(plain + 12, header.stamp.zone);
  std::memset(plain + 16, 0, 80);
  std::memcpy(plain + 16, header.product.data(),
              2 * std::min<std::size_t>(header.product.size(), 40));
  Bytes out(128);
  Coding::Encode(plain, out.data(), 127, 1);
  return out;
}

void appendChunk(Bytes& out, std::uint32_t mask, char const* data, std::uint32_t length,
                 unsigned char fill) {
  Bytes plain(data, data + length);
  plain.resize((length + 3u) & ~3u, static_cast<char>(fill));
  std::vector<std::uint32_t> words{length ^ mask};  // length field, data words, checksum word
  std::uint32_t sum = length;
  for (std::size_t i = 0; i < plain.size(); i += 4) {
    std::uint32_t const w = getWord(plain.data() + i);
    sum += w;
    words.push_back(w ^ mask);
  }
  words.push_back(mask ^ sum);
  auto const* bytes = reinterpret_cast<char const*>(words.data());
  out.insert(out.end(), bytes, bytes + 4 * words.size());
}

Bytes unitHeaderBytes(std::wstring const& unit, std::wstring const& name, Bytes const& info) {
  XBuffer nested;
  if (!info.empty())
    nested.add(static_cast<unsigned>(info.size()), info.data());
  XBuffer b;
  b.addWStr(unit.c_str());
  b.addWStr(name.c_str());
  b.addBuffer(nested);
  return Bytes(b.at(0), b.at(0) + b.len());
}

Bytes patternBytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 gen(seed);
  Bytes out(n);
  for (char& c : out)
    c = static_cast<char>(gen());
  return out;
}

Bytes readFile(std::filesystem::path const& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(std::filesystem::path const& path, Bytes const& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out)
    throw std::runtime_error("cannot write " + path.string());
}

}  // namespace kestle_test
