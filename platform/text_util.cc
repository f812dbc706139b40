#include "platform/text_util.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <mutex>

#include "kestle/platform/control.h"

namespace kestle_detail {
namespace {
std::mutex dirMutex;
std::filesystem::path& logDirectory() {
  static std::filesystem::path dir;
  return dir;
}

void putUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x110000) {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += '?';
  }
}

// Appends the escape of control character c (C0, DEL or C1) and returns true; false for any
// other character.
bool putEscape(std::string& out, char32_t c) {
  if (c >= 0x20 && c != 0x7F && (c < 0x80 || c >= 0xA0))
    return false;
  if (c == '\r') {
    out += "\\r";
  } else if (c == '\n') {
    out += "\\n";
  } else {
    static char const kHex[] = "0123456789ABCDEF";
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
  }
  return true;
}
}  // namespace

std::string lineUtf8(std::wstring const& text) {
  std::string out;
  for (wchar_t c : text) {
    if (!putEscape(out, static_cast<char32_t>(c)))
      putUtf8(out, static_cast<char32_t>(c));
  }
  return out;
}

std::string lineUtf8(std::string const& text) {
  std::string out;
  for (char c : text) {
    // Bytes of 0x80 and above belong to multi-byte characters: kept as they are.
    auto const byte = static_cast<unsigned char>(c);
    if (byte >= 0x80 || !putEscape(out, byte))
      out += c;
  }
  return out;
}

std::string toUtf8(wchar_t const* text) {
  std::string out;
  if (text == nullptr)
    return out;
  for (; *text != 0; ++text)
    putUtf8(out, static_cast<char32_t>(*text));
  return out;
}

std::string toUtf8(std::wstring const& text) {
  std::string out;
  for (wchar_t c : text)
    putUtf8(out, static_cast<char32_t>(c));
  return out;
}

bool appendLine(std::string const& path, std::string const& line) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0)
    return false;
  std::string whole = line + "\n";
  // O_APPEND and a single write keep lines of concurrent writers whole.
  ssize_t n;
  do {
    n = ::write(fd, whole.data(), whole.size());
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  return n == static_cast<ssize_t>(whole.size());
}

std::string logPath(wchar_t const* logFile) {
  std::filesystem::path name(toUtf8(logFile));
  if (name.is_absolute())
    return name.string();
  std::lock_guard<std::mutex> lock(dirMutex);
  if (logDirectory().empty())
    return name.string();
  return (logDirectory() / name).string();
}

std::string nowText() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

}  // namespace kestle_detail

namespace Platform {
void setLogDirectory(char const* dir) {
  std::lock_guard<std::mutex> lock(kestle_detail::dirMutex);
  kestle_detail::logDirectory() = dir != nullptr ? dir : "";
}
}  // namespace Platform
