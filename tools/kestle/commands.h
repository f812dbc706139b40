// The kestle program's commands. Each returns the exit status (kSound, kDamaged, kUnusable);
// results go to standard output, errors and warnings to standard error.
#pragma once

#include <string>

namespace kestle_tool {

// A record file as the user names it: path, logical record length, enciphered or not.
struct RecordFileArgs {
  std::string file;
  unsigned recordLength = 0;
  bool enciphered = false;
};

// Lists each broken record and a summary; a trailing part record counts as damage.
int verifyRecords(RecordFileArgs const& args);
// Prints `count` records from record `from` (all to the end when count is 0): as text where they
// are printable, else (or always with hex) as hexadecimal.
int dumpRecords(RecordFileArgs const& args, unsigned long long from, unsigned long long count,
                bool hex);
// Prints the number of records, the bytes and the remainder beyond the last whole record.
int sizeRecords(RecordFileArgs const& args);

// Prints the XML report of a backup.
int reportBackup(std::string const& file);
// Prints the backup's stamp and product code and, per unit, its name, description, info size and
// data bytes.
int listBackup(std::string const& file);
// Writes each unit's data to DIR/<unit>.dat and its info to DIR/<unit>.info, never outside DIR
// and never over an existing file unless `force`.
int extractBackup(std::string const& file, std::string const& dir, bool force);

}  // namespace kestle_tool
