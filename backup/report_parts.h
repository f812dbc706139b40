// The two small implementations that BuRdr::report plugs into the reader: ReportSink, the error
// sink that writes error elements, and ReportStore, the restore that writes the start, total and
// finished elements, counts units and bytes, and forwards total and progress to the caller.
// Both share one ReportState and append to one text. Not exported; defined inline so that
// tests can build them directly.
#pragma once

#include <cstdint>

#include "kestle/backup.h"
#include "kestle/errors.h"
#include "kestle/strings.h"

namespace BuRdr {

// What sink and store know of the read so far.
struct ReportState {
  std::uint32_t unitcount_ = 0;      // units begun
  unsigned long long netbytes_ = 0;  // data bytes delivered
  WString unit_;                     // texts of the unit most recently begun
  WString name_;
};

namespace report_detail {

constexpr unsigned long kApplicationBit = 1ul << 29;

// Appends  name="value"  (the caller gives the leading blank or line break in name).
inline void appendAttribute(WString& out, wchar_t const* name, unsigned long long value) {
  out += name;
  out += WString(L"=\"", value);
  out += L"\"";
}
inline void appendAttribute(WString& out, wchar_t const* name, wchar_t const* value) {
  out += name;
  out += L"=\"";
  out += value;
  out += L"\"";
}

}  // namespace report_detail

// Turns every fault into an error element; stops the read at the first nonzero code.
class ReportSink final : public ErrorSink {
 public:
  ReportSink(WString& out, ReportState& state) : ok_(true), out_(&out), state_(&state) {}

  void error(unsigned long code, wchar_t const* text) override {
    using report_detail::appendAttribute;
    WString& out = *out_;
    out += L"\n <error";
    WString description;
    if (code != 0) {
      ok_ = false;
      if ((code & report_detail::kApplicationBit) != 0) {
        appendAttribute(out, L" pf", code & 0xDFFFFFFFul);
      } else {
        appendAttribute(out, L" code", code);
        description = ErrorDescription::formatMessage(code);
      }
    }
    if (state_->unit_.filled()) {
      if (code != BackupAborted) {
        appendAttribute(out, L"\n  unit", state_->unit_);
        if (state_->name_.filled())
          appendAttribute(out, L"\n  name", state_->name_);
      }
      if (state_->unitcount_ != 0)
        appendAttribute(out, L"\n  unitsdone", state_->unitcount_ - 1ull);
      if (state_->netbytes_ != 0)
        appendAttribute(out, L"\n  netbytes", state_->netbytes_);
    }
    bool const hasText = text != nullptr && text[0] != 0;
    if (!hasText && !description.filled()) {
      out += L"/>";
      return;
    }
    out += L">";
    if (hasText) {
      out += L"\n  <text>";
      out += text;
      out += L"</text>";
    }
    if (description.filled()) {
      out += L"\n  <text>";
      out += description;
      out += L"</text>";
    }
    out += L"\n </error>";
  }

  bool ok() const override { return ok_; }

 private:
  bool ok_;
  WString* out_;
  ReportState* state_;
};

// Writes the start, total and finished elements and keeps the counts for the error elements.
class ReportStore final : public Restore {
 public:
  ReportStore(WString& out, ReportState& state, Progress& progress)
      : out_(&out), state_(&state), progress_(&progress) {}

  bool start(Clock::UniversalTime const& stamp, wchar_t const* productcode) override {
    using report_detail::appendAttribute;
    *out_ += L"\n <start";
    appendAttribute(*out_, L" bustart", FString::iso8601(stamp, false));
    appendAttribute(*out_, L" productcode", productcode);
    *out_ += L" />";
    return true;
  }

  void finished(unsigned long long bytesdone) override {
    using report_detail::appendAttribute;
    *out_ += L"\n <finished";
    appendAttribute(*out_, L" bytesdone", bytesdone);
    appendAttribute(*out_, L" unitcount", static_cast<unsigned long long>(state_->unitcount_));
    appendAttribute(*out_, L" netbytes", state_->netbytes_);
    *out_ += L" />";
  }

  void unit(wchar_t const* unit, wchar_t const* name, XBuffer&) override {
    state_->unit_ = unit;
    state_->name_ = name;
    ++state_->unitcount_;
  }

  void data(std::uint32_t length, char const*) override { state_->netbytes_ += length; }

  std::uint32_t total(unsigned long long size) override {
    *out_ += L"\n <total";
    report_detail::appendAttribute(*out_, L" size", size);
    *out_ += L" />";
    return progress_->total(size);
  }

  bool progress(unsigned long long bytesdone, wchar_t const* what) override {
    return progress_->progress(bytesdone, what);
  }

 private:
  WString* out_;
  ReportState* state_;
  Progress* progress_;
};

}  // namespace BuRdr
