// The small members of the string handles: accessors, tests, and the forms that only forward to
// the platform's primitives. None of them allocates except through those primitives.
#include "kestle/strings.h"

namespace {
char const kEmptyNarrow[1] = {0};
wchar_t const kEmptyWide[1] = {0};
}  // namespace

// ---- PString -------------------------------------------------------------------------------

PString::operator char const*() const {
  return text_ != nullptr ? text_ : kEmptyNarrow;
}
unsigned PString::length() const {
  return length_;
}
bool PString::filled() const {
  return text_ != nullptr && text_[0] != 0;
}

PString& PString::operator=(char const* s) {
  set(s != nullptr ? s : kEmptyNarrow, asciilen(s));
  return *this;
}

PString& PString::operator=(PString const& other) {
  if (this != &other)
    set(other.text_ != nullptr ? other.text_ : kEmptyNarrow, other.length_);
  return *this;
}

PString& PString::operator+=(char const* s) {
  concat(s != nullptr ? s : kEmptyNarrow, asciilen(s));
  return *this;
}

// A narrow character is appended as it is, so a zero character adds one character.
PString& PString::operator+=(char c) {
  concat(&c, 1);
  return *this;
}

PString& PString::operator+=(PString const& other) {
  concat(other.text_ != nullptr ? other.text_ : kEmptyNarrow, other.length_);
  return *this;
}

PString& PString::ins(char const* s) {
  insert(s != nullptr ? s : kEmptyNarrow, asciilen(s));
  return *this;
}

// ---- WStringImpl ---------------------------------------------------------------------------

WStringImpl::operator wchar_t const*() const {
  return text_ != nullptr ? text_ : kEmptyWide;
}
unsigned WStringImpl::length() const {
  return length_;
}
bool WStringImpl::filled() const {
  return text_ != nullptr && text_[0] != 0;
}
wchar_t const* WStringImpl::even_s() const {
  return inline_;
}

// A wide zero unit stands for "no character": assigning it empties the string.
void WStringImpl::set(wchar_t c) {
  set(&c, c != 0 ? 1 : 0);
}

WStringImpl& WStringImpl::operator=(wchar_t c) {
  set(c);
  return *this;
}

WStringImpl& WStringImpl::operator=(WStringImpl const& other) {
  if (this != &other)
    set(other.text_ != nullptr ? other.text_ : kEmptyWide, other.length_);
  return *this;
}

WStringImpl& WStringImpl::operator+=(wchar_t c) {
  concat(&c, c != 0 ? 1 : 0);
  return *this;
}

WStringImpl& WStringImpl::operator+=(WStringImpl const& other) {
  concat(other.text_ != nullptr ? other.text_ : kEmptyWide, other.length_);
  return *this;
}

WStringImpl& WStringImpl::ins(wchar_t c) {
  insert(&c, c != 0 ? 1 : 0);
  return *this;
}

WStringImpl& WStringImpl::ins(WStringImpl const& other) {
  insert(other.text_ != nullptr ? other.text_ : kEmptyWide, other.length_);
  return *this;
}

// ---- WString -------------------------------------------------------------------------------

WString::operator wchar_t const*() const {
  return body_ != nullptr ? static_cast<wchar_t const*>(*body_) : kEmptyWide;
}
bool WString::filled() const {
  return body_ != nullptr && body_->filled();
}
unsigned WString::length() const {
  return body_ != nullptr ? body_->length() : 0;
}
