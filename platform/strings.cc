// The platform's part of the string types: storage management, construction, copying and the
// primitives set / concat / insert. Every primitive accepts a source that lies inside the string
// it changes (s += s, s.ins(s)), because it copies before it releases old storage.
#include <cstring>
#include <cwchar>

#include "kestle/alloc.h"
#include "kestle/strings.h"
#include "platform/text_util.h"

// ---- PString -------------------------------------------------------------------------------

PString::PString(char const* s) {
  if (s != nullptr)
    set(s, asciilen(s));
}

PString::PString(PString const& other) {
  if (other.text_ != nullptr)
    set(other.text_, other.length_);
}

PString::~PString() {
  kestle::release(text_);
}

unsigned PString::asciilen(char const* text) {
  return text == nullptr ? 0 : static_cast<unsigned>(std::strlen(text));
}

void PString::set(char const* text, unsigned n) {
  char* fresh = static_cast<char*>(kestle::allocate(std::size_t{n} + 1));
  if (n != 0)
    std::memcpy(fresh, text, n);
  fresh[n] = 0;
  kestle::release(text_);
  text_ = fresh;
  length_ = n;
}

void PString::concat(char const* text, unsigned n) {
  char* fresh = static_cast<char*>(kestle::allocate(std::size_t{length_} + n + 1));
  if (length_ != 0)
    std::memcpy(fresh, text_, length_);
  if (n != 0)
    std::memcpy(fresh + length_, text, n);
  fresh[length_ + n] = 0;
  kestle::release(text_);
  text_ = fresh;
  length_ += n;
}

void PString::insert(char const* text, unsigned n) {
  char* fresh = static_cast<char*>(kestle::allocate(std::size_t{length_} + n + 1));
  if (n != 0)
    std::memcpy(fresh, text, n);
  if (length_ != 0)
    std::memcpy(fresh + n, text_, length_);
  fresh[length_ + n] = 0;
  kestle::release(text_);
  text_ = fresh;
  length_ += n;
}

// ---- WStringImpl ---------------------------------------------------------------------------

WStringImpl::~WStringImpl() {
  if (text_ != inline_)
    kestle::release(text_);
}

wchar_t* WStringImpl::reserve(unsigned units) {
  if (units <= kInlineUnits)
    return inline_;
  return static_cast<wchar_t*>(kestle::allocate((std::size_t{units} + 1) * sizeof(wchar_t)));
}

void WStringImpl::set(wchar_t const* text, unsigned n) {
  // Source and destination may overlap when the text lies in this string: the inline storage
  // is filled with memmove, and heap storage is always fresh.
  wchar_t* fresh = n <= kInlineUnits ? inline_ : reserve(n);
  if (n != 0)
    std::wmemmove(fresh, text, n);
  fresh[n] = 0;
  if (text_ != nullptr && text_ != inline_ && text_ != fresh)
    kestle::release(text_);
  text_ = fresh;
  length_ = n;
  capacity_ = fresh == inline_ ? kInlineUnits : n;
}

void WStringImpl::concat(wchar_t const* text, unsigned n) {
  unsigned total = length_ + n;
  if (text_ != nullptr && total <= capacity_) {
    std::wmemmove(text_ + length_, text, n);
    text_[total] = 0;
    length_ = total;
    return;
  }
  wchar_t* fresh = reserve(total);
  if (length_ != 0 && fresh != text_)
    std::wmemcpy(fresh, text_, length_);
  if (n != 0)
    std::wmemmove(fresh + length_, text, n);
  fresh[total] = 0;
  if (text_ != nullptr && text_ != inline_ && text_ != fresh)
    kestle::release(text_);
  text_ = fresh;
  length_ = total;
  capacity_ = fresh == inline_ ? kInlineUnits : total;
}

void WStringImpl::insert(wchar_t const* text, unsigned n) {
  unsigned total = length_ + n;
  // Always build the result in fresh or scratch storage: the inserted text may be this string.
  wchar_t scratch[kInlineUnits + 1];
  wchar_t* fresh =
      total <= kInlineUnits
          ? scratch
          : static_cast<wchar_t*>(kestle::allocate((std::size_t{total} + 1) * sizeof(wchar_t)));
  if (n != 0)
    std::wmemcpy(fresh, text, n);
  if (length_ != 0)
    std::wmemcpy(fresh + n, text_, length_);
  fresh[total] = 0;
  if (text_ != nullptr && text_ != inline_)
    kestle::release(text_);
  if (fresh == scratch) {
    std::wmemcpy(inline_, scratch, std::size_t{total} + 1);
    text_ = inline_;
    capacity_ = kInlineUnits;
  } else {
    text_ = fresh;
    capacity_ = total;
  }
  length_ = total;
}

// ---- WString -------------------------------------------------------------------------------

namespace {
unsigned lengthOf(wchar_t const* text) {
  return text == nullptr ? 0 : static_cast<unsigned>(std::wcslen(text));
}
}  // namespace

WStringImpl* WString::body() {
  if (body_ == nullptr)
    body_ = kestle::make<WStringImpl>();
  return body_;
}

WString::WString(WString const& other) {
  if (other.body_ != nullptr && other.body_->text_ != nullptr) {
    body()->set(other.body_->text_, other.body_->length_);
  }
}

WString::WString(WString&& other) noexcept : body_(other.body_) {
  other.body_ = nullptr;
}

WString::WString(wchar_t const* text) {
  if (text != nullptr)
    body()->set(text, lengthOf(text));
}

WString::WString(wchar_t const* t1, wchar_t const* t2, wchar_t const* t3, wchar_t const* t4,
                 wchar_t const* t5) {
  for (wchar_t const* t : {t1, t2, t3, t4, t5}) {
    if (t != nullptr)
      body()->concat(t, lengthOf(t));
  }
}

WString::WString(wchar_t const* text, unsigned long long number) {
  wchar_t digits[24];
  unsigned n = 0;
  do {
    digits[n++] = static_cast<wchar_t>(L'0' + number % 10);
    number /= 10;
  } while (number != 0);
  wchar_t ordered[24];
  for (unsigned i = 0; i < n; ++i)
    ordered[i] = digits[n - 1 - i];
  WStringImpl* b = body();
  if (text != nullptr)
    b->concat(text, lengthOf(text));
  b->concat(ordered, n);
}

WString::~WString() {
  kestle::destroy(body_);
}

WString& WString::operator=(wchar_t const* text) {
  if (text == nullptr) {
    if (body_ != nullptr)
      body_->set(L"", 0);
  } else {
    body()->set(text, lengthOf(text));
  }
  return *this;
}

WString& WString::operator=(WString const& other) {
  if (this == &other)
    return *this;
  if (other.body_ == nullptr || other.body_->text_ == nullptr) {
    if (body_ != nullptr)
      body_->set(L"", 0);
  } else {
    body()->set(other.body_->text_, other.body_->length_);
  }
  return *this;
}

WString& WString::operator=(WString&& other) noexcept {
  if (this != &other) {
    kestle::destroy(body_);
    body_ = other.body_;
    other.body_ = nullptr;
  }
  return *this;
}

WString& WString::operator+=(wchar_t const* text) {
  if (text != nullptr)
    body()->concat(text, lengthOf(text));
  return *this;
}

WString& WString::operator+=(WString const& other) {
  if (other.body_ != nullptr && other.body_->text_ != nullptr) {
    body()->concat(other.body_->text_, other.body_->length_);
  }
  return *this;
}

WString& WString::ins(wchar_t const* text) {
  if (text != nullptr)
    body()->insert(text, lengthOf(text));
  return *this;
}

// ---- FString -------------------------------------------------------------------------------

namespace {
WString format(unsigned long long magnitude, bool negative, unsigned radix, unsigned width,
               wchar_t fill) {
  if (radix < 2 || radix > 36)
    radix = 10;
  wchar_t digits[72];
  unsigned n = 0;
  do {
    unsigned d = static_cast<unsigned>(magnitude % radix);
    digits[n++] = static_cast<wchar_t>(d < 10 ? L'0' + d : L'A' + d - 10);
    magnitude /= radix;
  } while (magnitude != 0);
  // A '0' fill goes between the sign and the digits ("-005"); any other fill goes in front of
  // the sign ("  -5").
  bool zeroFill = fill == L'0';
  if (negative && !zeroFill)
    digits[n++] = L'-';
  WString out;
  wchar_t chunk[65];
  unsigned used = 0;
  auto put = [&](wchar_t c) {
    chunk[used++] = c;
    if (used == 64) {
      chunk[used] = 0;
      out += chunk;
      used = 0;
    }
  };
  if (negative && zeroFill)
    put(L'-');
  for (unsigned i = n + (negative && zeroFill ? 1 : 0); i < width; ++i)
    put(fill);
  for (unsigned i = n; i > 0; --i)
    put(digits[i - 1]);
  chunk[used] = 0;
  out += chunk;
  return out;
}
}  // namespace

WString FString::numstr(unsigned long long value, unsigned radix, unsigned width, wchar_t fill) {
  return format(value, false, radix, width, fill);
}

std::string FString::utf8(wchar_t const* text) {
  return kestle_detail::toUtf8(text);
}

WString FString::signednumstr(long long value, unsigned radix, unsigned width, wchar_t fill) {
  bool negative = value < 0;
  unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(value)
                                          : static_cast<unsigned long long>(value);
  return format(magnitude, negative, radix, width, fill);
}
