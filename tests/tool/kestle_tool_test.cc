#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>

#include "kestle/kestle.h"
#include "support/backup_writer.h"
#include "support/guards.h"

namespace {
namespace fs = std::filesystem;
using namespace kestle_test;
using Result = std::tuple<int, std::string, std::string>;  // exit status, stdout, stderr

std::string text(fs::path const& path) {
  Bytes b = readFile(path);
  return std::string(b.begin(), b.end());
}

Result kestle(TempDir const& dir, std::string const& args) {
  std::string const cmd =
      "cd '" + dir.path().string() + "' && '" KESTLE_TOOL "' " + args + " >stdout.txt 2>stderr.txt";
  int const raw = std::system(cmd.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, text(dir.file("stdout.txt")),
          text(dir.file("stderr.txt"))};
}

// Seven enciphered 8-byte records: record 3 altered on disk, record 7 zeros from growing.
TEST(KestleToolTest, RecordFileCommands) {
  TempDir dir;
  char records[] = "apple\0\0\0banana\0\0cherry!!date0004\0\1\2\3\4\5\6\7fig\0\0\0\0\0";
  FioFile* file = nullptr;
  ASSERT_EQ(FopenName(dir.wfile("r.dat").c_str(), 8, true, Sharing::AllowRead, Access::ReadWrite,
                      OpenFlag::CreateOrTruncate, file, false),
            0u);
  unsigned long err = 1;
  Fmultiwrite(file, 1, 6, records, err);
  ASSERT_EQ(err, 0u);
  FSetSize(file, 7);
  Fclose(file);
  Bytes bytes = readFile(dir.file("r.dat"));
  bytes.at(2 * 9 + 4) ^= 0x20;
  writeFile(dir.file("r.dat"), bytes);

  EXPECT_EQ(kestle(dir, "verify r.dat --record-length 8 --enciphered"),
            Result(1,
                   "record 3: broken\nrecord 7: broken, all zeros\n"
                   "7 records of 8 bytes (9 stored): 5 sound, 2 broken\n",
                   ""));
  EXPECT_EQ(kestle(dir, "dump r.dat --record-length 8 --enciphered --from 4 --count 2"),
            Result(0,
                   "record 4: \"date0004\"\nrecord 5:\n"
                   "  0000  00 01 02 03 04 05 06 07                          |........|\n",
                   ""));
  EXPECT_EQ(kestle(dir, "dump r.dat --record-length 8 --enciphered --from 6 --count 3"),
            Result(1, "record 6: \"fig\" and 5 zero bytes\nrecord 7: broken, all zeros\n",
                   "kestle: r.dat: the file has 7 records; record 8 and later do not exist\n"));
  EXPECT_EQ(
      kestle(dir, "size r.dat --record-length 4"),
      Result(0, "records: 15\nbytes: 63\nremainder: 3 bytes after record 15, not a whole record\n",
             ""));
  EXPECT_EQ(std::get<0>(kestle(dir, "verify r.dat --record-length 4")), 1);
}

TEST(KestleToolTest, BackupListReportAndExtract) {
  TempDir dir;
  Bytes const info{1, 2, 3, 4, 5};
  Bytes const big = patternBytes(1500, 1);
  BackupWriter writer;
  writer.unit(L"customers", L"Customer register", info).data("1;Alice\n").data(big);
  writer.unit(L"../evil", L"hostile").data("x");
  writer.unit(L"\u20AC\u00A0", L"");  // a three-byte character and a no-break space are safe
  writeFile(dir.file("b.bak"), writer.build().bytes);

  EXPECT_EQ(
      kestle(dir, "backup list b.bak"),
      Result(
          0,
          "stamp: 2024-05-17T13:45:30.25Z\nproduct: KESTLE TEST\n"
          "unit \"customers\", description \"Customer register\", info 5 bytes, data 1508 bytes\n"
          "unit \"../evil\", description \"hostile\", info 0 bytes, data 1 bytes\n"
          "unit \"\u20AC\u00A0\", description \"\", info 0 bytes, data 0 bytes\n"
          "3 units, 1509 data bytes, " +
              std::to_string(fs::file_size(dir.file("b.bak"))) + " bytes read\n",
          ""));
  auto const [status, report, _] = kestle(dir, "backup report b.bak");
  EXPECT_EQ(status, 0);
  EXPECT_NE(report.find(" unitcount=\"3\" netbytes=\"1509\" />\n</backup>\n"), std::string::npos);

  EXPECT_EQ(kestle(dir, "backup extract b.bak out"),
            Result(0,
                   "customers.dat 1508 bytes, customers.info 5 bytes\nunit-2.dat 1 bytes, "
                   "unit-2.info 0 bytes\n\u20AC\u00A0.dat 0 bytes, \u20AC\u00A0.info 0 bytes\n",
                   "kestle: b.bak: unit \"../evil\" has an unsafe name; written as unit-2.dat and "
                   "unit-2.info\n"));
  EXPECT_EQ(text(dir.file("out/customers.dat")), "1;Alice\n" + std::string(big.begin(), big.end()));
  EXPECT_EQ(readFile(dir.file("out/customers.info")), info);
  EXPECT_EQ(text(dir.file("out/unit-2.dat")), "x");
  EXPECT_FALSE(fs::exists(dir.file("evil.dat")) || fs::exists(dir.file("evil.info")));

  // Existing files stay unless forced; forced, a symbolic link is replaced, never followed.
  writeFile(dir.file("victim"), Bytes{'v'});
  fs::remove(dir.file("out/\u20AC\u00A0.dat"));
  fs::create_symlink("../victim", dir.file("out/\u20AC\u00A0.dat"));
  auto const [again, _out, err] = kestle(dir, "backup extract b.bak out");
  EXPECT_EQ(again, 1);
  EXPECT_NE(err.find("cannot create customers.info: File exists"), std::string::npos);
  EXPECT_EQ(std::get<0>(kestle(dir, "backup extract b.bak out --force")), 0);
  EXPECT_EQ(text(dir.file("victim")), "v");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir.file("out/\u20AC\u00A0.dat"))));
}

TEST(KestleToolTest, FaultsAndUsageErrors) {
  TempDir dir;
  writeFile(dir.file("bad.bak"),
            BackupWriter().unit(L"u", L"n").data("abcd").build().changeChecksum(1).bytes);
  EXPECT_EQ(kestle(dir, "backup list bad.bak"),
            Result(1, "stamp: 2024-05-17T13:45:30.25Z\nproduct: KESTLE TEST\n",
                   "kestle: bad.bak: checksum failure (code 0x2000277E: " +
                       FString::utf8(ErrorDescription::formatMessage(BackupReadError)) + ")\n"));
  EXPECT_EQ(kestle(dir, "verify none.dat --record-length 8"),
            Result(2, "",
                   "kestle: none.dat: cannot open the record file (code 2: The system cannot find "
                   "the file specified.)\n"));
  for (char const* args :
       {"backup report none.bak", "", "verify r.dat", "dump r.dat --record-length 0", "frobnicate",
        "size r.dat --record-length x", "backup extract b.bak"})
    EXPECT_EQ(std::get<0>(kestle(dir, args)), 2) << args;
  EXPECT_FALSE(fs::exists(dir.file("ERROR.LOG")));
}

}  // namespace
