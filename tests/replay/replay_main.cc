// Runs a fuzz target's entry point once for every file of a corpus directory. Any fault the
// target detects aborts the program; an empty corpus means the build lost its inputs: a failure.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size);

int main(int argc, char** argv) {
  if (argc != 2)
    return 2;
  size_t replayed = 0;
  for (auto const& entry : std::filesystem::recursive_directory_iterator(argv[1])) {
    if (!entry.is_regular_file())
      continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::vector<uint8_t> const bytes((std::istreambuf_iterator<char>(in)), {});
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    ++replayed;
  }
  std::printf("replayed %zu inputs\n", replayed);
  return replayed == 0 ? 1 : 0;
}
