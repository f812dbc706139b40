// backup_report: prints the XML report of each backup file named on the command line to
// standard output, with a progress bar on standard error while a file is read.
//
//   backup_report FILE...
//
// Exit status: 0 when every backup was read to its end, 1 when a report tells of a fault, 2 for
// a usage error.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kestle/kestle.h"

namespace {

// The argument as a wide text: through the locale, or byte by byte when it does not convert.
std::wstring widen(char const* arg) {
  std::wstring wide(std::strlen(arg) + 1, L'\0');
  std::size_t n = std::mbstowcs(wide.data(), arg, wide.size());
  if (n == static_cast<std::size_t>(-1))
    return std::wstring(arg, arg + std::strlen(arg));
  wide.resize(n);
  return wide;
}

// UTF-8 of a wide text, whatever the locale; a value that is no character becomes U+FFFD.
std::string utf8(wchar_t const* text) {
  std::string out;
  for (; *text != 0; ++text) {
    auto c = static_cast<std::uint32_t>(*text);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
      c = 0xFFFD;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// A bar of 40 cells with the percentage and the current unit, redrawn in place.
class ProgressBar final : public BuRdr::Progress {
 public:
  std::uint32_t total(unsigned long long size) override {
    size_ = size;
    draw(0, L"");
    return 10;  // redraw at most ten times a second
  }

  bool progress(unsigned long long bytesdone, wchar_t const* what) override {
    draw(bytesdone, what);
    return true;
  }

  // Ends the bar's line, if one was drawn.
  void finish() {
    if (!drawn_)
      return;
    draw(size_, L"");
    std::fputc('\n', stderr);
  }

 private:
  void draw(unsigned long long done, wchar_t const* what) {
    constexpr int kCells = 40;
    unsigned long long const percent = size_ > 0 ? (done >= size_ ? 100 : done * 100 / size_) : 100;
    int const filled = static_cast<int>(percent * kCells / 100);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(kCells, ' ');
    std::string unit = utf8(what).substr(0, 30);
    std::fprintf(stderr, "\r[%s] %3llu%%  %-30s", bar.c_str(), percent, unit.c_str());
    std::fflush(stderr);
    drawn_ = true;
  }

  unsigned long long size_ = 0;
  bool drawn_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE...\n", argv[0]);
    return 2;
  }
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    std::wstring file = widen(argv[i]);
    ProgressBar bar;
    WString report = BuRdr::report(file.c_str(), bar);
    bar.finish();
    std::wstring text = static_cast<wchar_t const*>(report);
    if (text.find(L"\n <finished ") == std::wstring::npos)
      status = 1;
    std::string out = utf8(text.c_str());
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fputc('\n', stdout);
  }
  return status;
}
