#include "support/record_files.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/ratios.h"

namespace kestle_bench {

std::vector<char> records(unsigned n) {
  std::vector<char> data(static_cast<std::size_t>(n) * kRecordLength);
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>(i * 31 + i / kRecordLength);
  return data;
}

RecordFile::RecordFile(char const* leaf, bool cypher) {
  std::wstring const name = (scratchDir() / leaf).wstring();
  if (FopenName(name.c_str(), kRecordLength, cypher, Sharing::AllowReadWrite, Access::ReadWrite,
                OpenFlag::CreateOrTruncate, file_, false) != 0) {
    std::fprintf(stderr, "cannot open %s\n", leaf);
    std::exit(1);
  }
}

RecordFile::~RecordFile() {
  Fclose(file_);
}

}  // namespace kestle_bench
