// backup extract: each unit's data and info into files of their own in one directory.
//
// The unit names come from the file, so they are treated as hostile: a name that could leave the
// directory or hide in a listing is replaced, files are created only inside the directory's open
// descriptor, never through a symbolic link and never over an existing file unless forced, and
// data go to disk chunk by chunk as the reader delivers them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_set>

#include "backup_sink.h"
#include "commands.h"

namespace kestle_tool {
namespace {

// The file name stem of a unit, or "" when the name is not safe as one: empty, "." or "..", a
// path separator, a control character, a value that is no character, or too long for the file
// system with the ".info" suffix.
std::string safeStem(std::wstring_view unit) {
  if (unit.empty() || unit == L"." || unit == L"..")
    return {};
  for (wchar_t c : unit) {
    auto const u = static_cast<std::uint32_t>(c);
    if (c == L'/' || c == L'\\' || u < 0x20 || (u >= 0x7F && u < 0xA0) ||
        (u >= 0xD800 && u < 0xE000) || u > 0x10FFFF)
      return {};
  }
  std::string stem = FString::utf8(std::wstring(unit).c_str());
  return stem.size() + 5 > NAME_MAX ? std::string() : stem;
}

// Writes all of bytes to fd; false with errno set when the system refuses.
bool writeAll(int fd, char const* bytes, std::size_t length) {
  while (length > 0) {
    ssize_t const n = ::write(fd, bytes, length);
    if (n < 0 && errno == EINTR)
      continue;
    if (n == 0)
      errno = EIO;
    if (n <= 0)
      return false;
    bytes += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

class Extractor final : public BuRdr::Restore {
 public:
  Extractor(std::string file, int dir, bool force, PrintingSink& sink)
      : file_(std::move(file)), dir_(dir), force_(force), sink_(sink) {}
  ~Extractor() { abandon("its data could not be read to the end"); }

  bool start(Clock::UniversalTime const&, wchar_t const*) override { return started = true; }
  void finished(unsigned long long) override { finishedRead = true; }

  void unit(wchar_t const* unit, wchar_t const*, XBuffer& info) override {
    ++index_;
    std::string stem = safeStem(unit);
    if (stem.empty() || used_.count(stem) != 0) {
      std::string const why = stem.empty() ? "an unsafe name" : "the name of an earlier unit";
      stem = "unit-" + std::to_string(index_);
      for (int k = 2; used_.count(stem) != 0; ++k)
        stem = "unit-" + std::to_string(index_) + "-" + std::to_string(k);
      fail(file_, "unit \"" + shown(unit) + "\" has " + why + "; written as " + stem + ".dat and " +
                      stem + ".info");
    }
    used_.insert(stem);
    stem_ = stem;
    infoBytes_ = info.len();
    dataBytes_ = 0;
    int const infoFd = create(stem + ".info");
    if (infoFd < 0)
      return skip();
    created_ = 1;
    bool const wrote = writeAll(infoFd, info.len() != 0 ? info.at(0) : "", info.len());
    int const err = errno;
    if (::close(infoFd) != 0 || !wrote)
      return writeFailed(stem + ".info", wrote ? errno : err);
    data_ = create(stem + ".dat");
    if (data_ < 0) {
      removeCurrent();
      return skip();
    }
    created_ = 2;
  }

  void data(std::uint32_t length, char const* bytes) override {
    if (data_ < 0)
      return;
    if (length != 0) {
      dataBytes_ += length;
      if (!writeAll(data_, bytes, length))
        writeFailed(stem_ + ".dat", errno);
      return;
    }
    int const fd = data_;
    data_ = -1;
    if (::close(fd) != 0)
      return writeFailed(stem_ + ".dat", errno);
    created_ = 0;
    progress_.clear();
    std::printf("%s.dat %llu bytes, %s.info %u bytes\n", stem_.c_str(), dataBytes_, stem_.c_str(),
                infoBytes_);
  }

  std::uint32_t total(unsigned long long size) override { return progress_.total(size); }
  bool progress(unsigned long long done, wchar_t const* what) override {
    return progress_.progress(done, what);
  }

  bool started = false;
  bool finishedRead = false;
  bool skipped = false;

 private:
  // DIR/name, new. With force, whatever has the name is removed first, so a symbolic link is
  // replaced, not followed; O_EXCL | O_NOFOLLOW hold also if one appears in between.
  int create(std::string const& name) {
    if (force_ && ::unlinkat(dir_, name.c_str(), 0) != 0 && errno != ENOENT) {
      fail(file_, "cannot replace " + name + ": " + std::strerror(errno));
      return -1;
    }
    int fd =
        ::openat(dir_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
      fail(file_, "cannot create " + name + ": " + std::strerror(errno) +
                      (errno == EEXIST ? " (--force replaces it)" : ""));
    return fd;
  }

  void skip() {
    skipped = true;
    fail(file_, "unit " + stem_ + " skipped");
  }

  // A unit that cannot be written whole leaves no files behind, and the read stops.
  void writeFailed(std::string const& name, int err) {
    fail(file_, "cannot write " + name + ": " + std::strerror(err));
    abandon("it could not be written");
    sink_.stop();
  }

  void abandon(char const* why) {
    if (created_ == 0)
      return;
    removeCurrent();
    skipped = true;
    fail(file_, "unit " + stem_ + " removed: " + why);
  }

  // Removes the files this program made for the current unit, and only those.
  void removeCurrent() {
    if (data_ >= 0)
      ::close(data_);
    data_ = -1;
    if (created_ >= 2)
      ::unlinkat(dir_, (stem_ + ".dat").c_str(), 0);
    if (created_ >= 1)
      ::unlinkat(dir_, (stem_ + ".info").c_str(), 0);
    created_ = 0;
  }

  std::string file_;
  int dir_;
  bool force_;
  PrintingSink& sink_;
  BarProgress progress_;
  std::unordered_set<std::string> used_;  // one entry per unit written, like the files on disk
  unsigned long long index_ = 0;
  std::string stem_;
  int data_ = -1;    // the current unit's data file, while it is being written
  int created_ = 0;  // files made for the current unit: 1 the info file, 2 both
  unsigned infoBytes_ = 0;
  unsigned long long dataBytes_ = 0;
};

}  // namespace

int extractBackup(std::string const& file, std::string const& dir, bool force) {
  auto name = fileName(file);
  if (!name)
    return kUnusable;
  if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
    fail(dir, std::string("cannot make the directory: ") + std::strerror(errno));
    return kUnusable;
  }
  int const dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) {
    fail(dir, std::string("cannot open the directory: ") + std::strerror(errno));
    return kUnusable;
  }
  PrintingSink sink(file);
  int status;
  {
    Extractor extractor(file, dirFd, force, sink);
    BuRdr::reader(name->c_str(), sink, extractor);
    status = backupStatus(extractor.started, extractor.finishedRead);
    if (status == kSound && extractor.skipped)
      status = kDamaged;
  }
  ::close(dirFd);
  return status;
}

}  // namespace kestle_tool
