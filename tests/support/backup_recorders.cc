#include "support/backup_recorders.h"

#include <cstdio>

namespace kestle_test {

void RecordingSink::error(unsigned long code, wchar_t const* text) {
  faults_.push_back(Fault{code, text != nullptr ? text : L"(null)"});
  if (code != 0 && stopOnError_)
    ok_ = false;
}

std::vector<std::wstring> RecordingSink::lines() const {
  std::vector<std::wstring> out;
  for (Fault const& f : faults_) {
    wchar_t code[32];
    std::swprintf(code, 32, L"%lX ", f.code);
    out.push_back(code + f.text);
  }
  return out;
}

bool RecordingRestore::start(Clock::UniversalTime const& s, wchar_t const* productcode) {
  stamp = s;
  calls.push_back(std::wstring(L"start ") + productcode);
  return startAnswer;
}

void RecordingRestore::finished(unsigned long long bytesdone) {
  calls.push_back(L"finished " + std::to_wstring(bytesdone));
}

void RecordingRestore::unit(wchar_t const* unit, wchar_t const* name, XBuffer& info) {
  calls.push_back(std::wstring(L"unit ") + unit + L"|" + name + L"|" + std::to_wstring(info.len()));
  infos.emplace_back(info.len() > 0 ? info.at(0) : "", info.len());
  if (onUnit)
    onUnit();
}

void RecordingRestore::data(std::uint32_t length, char const* bytes) {
  calls.push_back(L"data " + std::to_wstring(length));
  chunks.emplace_back(bytes, length);
  if (onData)
    onData(length);
}

std::uint32_t RecordingRestore::total(unsigned long long size) {
  calls.push_back(L"total " + std::to_wstring(size));
  return rate;
}

bool RecordingRestore::progress(unsigned long long bytesdone, wchar_t const* what) {
  calls.push_back(L"progress " + std::to_wstring(bytesdone) + L" " + what);
  unsigned const n = progressCalls++;
  return n < progressAnswers.size() ? progressAnswers[n] : true;
}

void spinTicks(unsigned long long ticks) {
  unsigned long long const begin = SystemTimer::counter();
  while (SystemTimer::counter() - begin <= ticks) {
  }
}

}  // namespace kestle_test
