// kestle: look at record files and backups without writing a program.
//
//   kestle verify FILE --record-length N [--enciphered]
//   kestle dump FILE --record-length N [--enciphered] [--from R] [--count C] [--hex]
//   kestle size FILE --record-length N [--enciphered]
//   kestle backup report|list FILE
//   kestle backup extract FILE DIR [--force]
//
// The command line is parsed by CLI11; every usage error ends with status 2.
#include <CLI/CLI.hpp>
#include <clocale>

#include "commands.h"
#include "output.h"
#include "record_reader.h"

namespace {
using namespace kestle_tool;

// The options every record file command takes.
CLI::App* recordCommand(CLI::App& app, char const* name, char const* what, RecordFileArgs& args) {
  CLI::App* sub = app.add_subcommand(name, what);
  sub->add_option("FILE", args.file, "the record file")->required();
  sub->add_option("--record-length", args.recordLength, "bytes of one record as written")
      ->required()
      ->check(CLI::Range(1u, RecordReader::kMaxRecordLength));
  sub->add_flag("--enciphered", args.enciphered,
                "records are enciphered (each is stored one byte longer)");
  return sub;
}
}  // namespace

int main(int argc, char** argv) {
  // File names cross the library as wide texts and reach the system as UTF-8 again.
  std::setlocale(LC_CTYPE, "C.UTF-8");

  CLI::App app("Looks at Kestle record files and backups.", "kestle");
  app.require_subcommand(1);
  bool errorLog = false;
  app.add_flag("--error-log", errorLog,
               "let the library write its reports to ERROR.LOG in the working directory too "
               "(by default they go to standard error only)");

  RecordFileArgs records;
  CLI::App* verify = recordCommand(
      app, "verify", "list the broken records; status 1 when any (or a part record) is found",
      records);
  CLI::App* dump = recordCommand(app, "dump", "print records, as text or in hexadecimal", records);
  unsigned long long from = 1, count = 0;
  bool hex = false;
  dump->add_option("--from", from, "the first record (default 1)")->check(CLI::PositiveNumber);
  dump->add_option("--count", count, "how many records (default: to the end)");
  dump->add_flag("--hex", hex, "every record in hexadecimal");
  CLI::App* size =
      recordCommand(app, "size", "count the records and the bytes beyond them", records);

  CLI::App* backup = app.add_subcommand("backup", "look at a backup file");
  backup->require_subcommand(1);
  std::string file, dir;
  bool force = false;
  CLI::App* report = backup->add_subcommand("report", "print the XML report of the backup");
  CLI::App* list = backup->add_subcommand("list", "list the stamp, product and units");
  CLI::App* extract =
      backup->add_subcommand("extract", "write each unit to DIR/<unit>.dat and DIR/<unit>.info");
  for (CLI::App* sub : {report, list, extract})
    sub->add_option("FILE", file, "the backup file")->required();
  extract->add_option("DIR", dir, "the directory to write into (made if missing)")->required();
  extract->add_flag("--force", force, "replace files that exist");

  try {
    app.parse(argc, argv);
  } catch (CLI::CallForHelp const& e) {
    return app.exit(e);
  } catch (CLI::ParseError const& e) {
    app.exit(e);
    return kUnusable;
  }

  if (!errorLog)
    reportToStandardError();
  if (verify->parsed())
    return verifyRecords(records);
  if (dump->parsed())
    return dumpRecords(records, from, count, hex);
  if (size->parsed())
    return sizeRecords(records);
  if (report->parsed())
    return reportBackup(file);
  if (list->parsed())
    return listBackup(file);
  return extractBackup(file, dir, force);
}
