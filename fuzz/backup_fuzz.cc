// Fuzz target: BuRdr::report over arbitrary bytes given as a backup file.
//
// Each input is written to a memory-backed file and reported. Whatever the bytes, the document
// must open with the backup line and close with "</backup>", hold either a finished element or
// error elements (never both, never neither), and a finished element must account for every
// byte of the file; the accounted heap must be back where it was. The first byte lies in the
// leading block, which the reader never looks at, so it steers the progress object instead:
// bit 0 asks for progress at the timer's finest rate, bits 1 to 3 choose the progress call that
// aborts (0: none). ASan (fuzz preset) catches any access outside a buffer. Violations trap
// rather than assert, so that release builds of the corpus replay check them too.
#include <cstddef>
#include <cstdint>
#include <string>

#include "kestle/kestle.h"
#include "support/memory_file.h"

namespace {

void check(bool ok) {
  if (!ok)
    __builtin_trap();
}

class SteeredProgress final : public BuRdr::Progress {
 public:
  explicit SteeredProgress(unsigned char control) : control_(control) {}

  std::uint32_t total(unsigned long long size) override {
    check(++totals_ == 1);
    size_ = size;
    if ((control_ & 1) == 0)
      return 0;
    unsigned long long const f = SystemTimer::frequency();
    return static_cast<std::uint32_t>(f < 0xFFFFFFFFull ? f : 0xFFFFFFFFull);
  }

  bool progress(unsigned long long bytesdone, wchar_t const* what) override {
    check(totals_ == 1 && bytesdone <= size_ && what != nullptr);
    return ++calls_ != ((control_ >> 1) & 7u);
  }

 private:
  unsigned char control_;
  unsigned totals_ = 0;
  unsigned calls_ = 0;
  unsigned long long size_ = 0;
};

bool contains(std::wstring const& text, wchar_t const* part) {
  return text.find(part) != std::wstring::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  static kestle_test::MemoryFile file;
  file.assign(data, size);
  long long const heldBefore = Heapwick::bytesHeld();
  {
    SteeredProgress progress(size > 0 ? data[0] : 0);
    WString report = BuRdr::report(file.path(), progress);
    std::wstring doc = static_cast<wchar_t const*>(report);

    std::wstring const opening = std::wstring(L"<backup fname=\"") + file.path() + L"\" >";
    check(doc.compare(0, opening.size(), opening) == 0);
    std::wstring const closing = L"\n</backup>";
    check(doc.size() >= opening.size() + closing.size() &&
          doc.compare(doc.size() - closing.size(), closing.size(), closing) == 0);
    bool const finished = contains(doc, L"\n <finished bytesdone=");
    bool const failed = contains(doc, L"\n <error");
    check(finished != failed);
    if (finished) {
      std::wstring const done = L"bytesdone=\"" + std::to_wstring(size) + L"\"";
      check(contains(doc, done.c_str()));
    }
  }
  check(Heapwick::bytesHeld() == heldBefore);
  return 0;
}
