// verify, dump and size: the record file commands.
#include <algorithm>
#include <cstdio>

#include "commands.h"
#include "output.h"
#include "record_reader.h"

namespace kestle_tool {
namespace {

// Opens the file named by args; on failure says why and leaves the reader closed.
bool openRecords(RecordFileArgs const& args, RecordReader& reader) {
  auto name = fileName(args.file);
  if (!name)
    return false;
  unsigned long const code = reader.open(*name, args.recordLength, args.enciphered);
  if (code != 0)
    fail(args.file, "cannot open the record file", code);
  return code == 0;
}

// Reads the records and reports a failed transfer; false when one failed.
bool readRecords(RecordFileArgs const& args, RecordReader& reader, unsigned long long first,
                 unsigned long long count, std::function<void(Record const&)> const& visit) {
  unsigned long long failedAt = 0;
  unsigned long const code = reader.read(first, count, visit, failedAt);
  if (code != 0)
    fail(args.file, "cannot read from record " + std::to_string(failedAt), code);
  return code == 0;
}

void printRemainder(RecordReader const& reader) {
  if (reader.remainder() != 0)
    std::printf("remainder: %llu bytes after record %llu, not a whole record\n", reader.remainder(),
                reader.records());
}

// Sixteen bytes a line: offset, hexadecimal, and the printable ones as characters.
void printHex(std::string_view bytes) {
  for (std::size_t line = 0; line < bytes.size(); line += 16) {
    std::string_view part = bytes.substr(line, 16);
    std::printf("  %04zx ", line);
    for (std::size_t i = 0; i < 16; ++i) {
      if (i < part.size())
        std::printf(" %02x", static_cast<unsigned char>(part[i]));
      else
        std::printf("   ");
    }
    std::printf("  |");
    for (char c : part)
      std::putchar(c >= 0x20 && c < 0x7F ? c : '.');
    std::printf("|\n");
  }
}

void printRecord(Record const& r, bool hex) {
  if (!r.sound) {
    std::printf("record %llu: broken%s\n", r.number, r.zeros ? ", all zeros" : "; stored bytes:");
    if (!r.zeros)
      printHex(r.stored);
    return;
  }
  // Text records are often padded with zeros; the padding is counted, not shown.
  std::string_view text = r.plain;
  while (!text.empty() && text.back() == 0)
    text.remove_suffix(1);
  bool const printable =
      !hex && std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
  if (!printable) {
    std::printf("record %llu:\n", r.number);
    printHex(r.plain);
  } else if (text.size() == r.plain.size()) {
    std::printf("record %llu: \"%.*s\"\n", r.number, static_cast<int>(text.size()), text.data());
  } else {
    std::printf("record %llu: \"%.*s\" and %zu zero bytes\n", r.number,
                static_cast<int>(text.size()), text.data(), r.plain.size() - text.size());
  }
}

}  // namespace

int verifyRecords(RecordFileArgs const& args) {
  RecordReader reader;
  if (!openRecords(args, reader))
    return kUnusable;
  ProgressBar bar(reader.records());
  unsigned long long broken = 0;
  bool const read = readRecords(args, reader, 1, reader.records(), [&](Record const& r) {
    bar.update(r.number);
    if (r.sound)
      return;
    ++broken;
    bar.clear();
    std::printf("record %llu: broken%s\n", r.number, r.zeros ? ", all zeros" : "");
  });
  bar.clear();
  if (!read)
    return kDamaged;
  std::printf("%llu records of %u bytes", reader.records(), args.recordLength);
  if (args.enciphered)
    std::printf(" (%u stored): %llu sound, %llu broken\n", reader.storedLength(),
                reader.records() - broken, broken);
  else
    std::printf(" read; plain records carry no check\n");
  printRemainder(reader);
  return broken == 0 && reader.remainder() == 0 ? kSound : kDamaged;
}

int dumpRecords(RecordFileArgs const& args, unsigned long long from, unsigned long long count,
                bool hex) {
  RecordReader reader;
  if (!openRecords(args, reader))
    return kUnusable;
  unsigned long long const records = reader.records();
  unsigned long long const available = from <= records ? records - from + 1 : 0;
  unsigned long long const shown = count == 0 ? available : std::min(count, available);
  bool damaged = false;
  bool const read = readRecords(args, reader, from, shown, [&](Record const& r) {
    damaged |= !r.sound;
    printRecord(r, hex);
  });
  if (!read)
    return kDamaged;
  if (shown < count || available == 0) {
    fail(args.file, "the file has " + std::to_string(records) + " records; record " +
                        std::to_string(from + shown) + " and later do not exist");
    damaged = true;
  }
  return damaged ? kDamaged : kSound;
}

int sizeRecords(RecordFileArgs const& args) {
  RecordReader reader;
  if (!openRecords(args, reader))
    return kUnusable;
  std::printf("records: %llu\nbytes: %llu\n", reader.records(), reader.bytes());
  printRemainder(reader);
  return kSound;
}

}  // namespace kestle_tool
