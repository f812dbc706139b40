// String handles: PString (narrow text), WStringImpl (the body of a wide text) and WString (the
// handle used everywhere), plus the platform's text formatting (FString, ErrorDescription).
//
// Texts in memory are wchar_t strings. Accessors never answer null: a string with no body or no
// text answers a static empty text. Storage comes from the accounted allocation; a failed
// allocation throws std::bad_alloc. A string is not shared between threads without the caller's
// own locking.
#pragma once

#include <cstdint>
#include <string>

#include "kestle/export.h"

namespace Clock {
class UniversalTime;
}

// A narrow text: a length and a zero-terminated character array (or null).
class KESTLE_API PString {
 public:
  PString() = default;
  PString(char const* s);  // NOLINT(google-explicit-constructor): texts convert implicitly
  PString(PString const& other);
  ~PString();

  operator char const*() const;  // the text, or "" when there is none
  unsigned length() const;
  bool filled() const;  // a text whose first character is not zero

  PString& operator=(char const* s);
  PString& operator=(PString const& other);
  PString& operator+=(char const* s);
  PString& operator+=(char c);  // appends one character, also a zero one
  PString& operator+=(PString const& other);
  PString& ins(char const* s);  // puts s in front of the content

 private:
  void set(char const* text, unsigned n);
  void concat(char const* text, unsigned n);
  void insert(char const* text, unsigned n);
  static unsigned asciilen(char const* text);

  unsigned length_ = 0;
  char* text_ = nullptr;
};

// The body of a wide text. Created, copied and released by WString; short texts live in the
// inline storage, longer ones in an accounted block.
class KESTLE_API WStringImpl {
 public:
  static constexpr unsigned kInlineUnits = 15;

  WStringImpl() = default;
  WStringImpl(WStringImpl const&) = delete;
  ~WStringImpl();

  operator wchar_t const*() const;  // the text, or L"" when there is none
  unsigned length() const;
  bool filled() const;

  WStringImpl& operator=(wchar_t c);  // one unit; the zero unit empties the string
  WStringImpl& operator=(WStringImpl const& other);
  WStringImpl& operator+=(wchar_t c);  // the zero unit adds nothing
  WStringImpl& operator+=(WStringImpl const& other);
  WStringImpl& ins(wchar_t c);
  WStringImpl& ins(WStringImpl const& other);

  // Appends the first n units of text (which may lie inside this string).
  void concat(wchar_t const* text, unsigned n);

 private:
  friend class WString;
  wchar_t const* even_s() const;
  void set(wchar_t c);
  void set(wchar_t const* text, unsigned n);
  void insert(wchar_t const* text, unsigned n);
  wchar_t* reserve(unsigned units);  // storage for `units` units plus the terminator

  std::uintptr_t capacity_ = 0;  // storage management: units the current storage can hold
  wchar_t* text_ = nullptr;
  unsigned length_ = 0;
  wchar_t inline_[kInlineUnits + 1] = {};
};

// A wide text handle: a pointer to its body, null while it has never held text.
class KESTLE_API WString {
 public:
  WString() = default;
  WString(WString const& other);
  WString(WString&& other) noexcept;
  WString(wchar_t const* text);  // NOLINT(google-explicit-constructor)
  // Joins up to five texts in order; a null pointer stands for an absent text.
  WString(wchar_t const* t1, wchar_t const* t2, wchar_t const* t3 = nullptr,
          wchar_t const* t4 = nullptr, wchar_t const* t5 = nullptr);
  // The text followed by the number in decimal, without leading zeros.
  WString(wchar_t const* text, unsigned long long number);
  ~WString();

  operator wchar_t const*() const;  // the text, or L"" when there is none
  bool filled() const;
  unsigned length() const;

  WString& operator=(wchar_t const* text);
  WString& operator=(WString const& other);
  WString& operator=(WString&& other) noexcept;
  WString& operator+=(wchar_t const* text);
  WString& operator+=(WString const& other);
  WString& ins(wchar_t const* text);  // puts text in front of the content

 private:
  WStringImpl* body();  // the body, created on first need
  WStringImpl* body_ = nullptr;
};

// The platform's number and time formatting.
class KESTLE_API FString {
 public:
  // value in the radix (2 to 36, digits above 9 as capital letters), left-filled with `fill` to at
  // least `width` characters. numstr reads the value as unsigned; signednumstr writes "-" before
  // a negative value: "-005" with fill '0', "  -5" with any other fill.
  static WString numstr(unsigned long long value, unsigned radix, unsigned width, wchar_t fill);
  static WString signednumstr(long long value, unsigned radix, unsigned width, wchar_t fill);
  // "YYYY-MM-DDThh:mm:ss.cc" followed by "Z" or the zone offset; "" for a stamp that is not
  // filled.
  static WString iso8601(Clock::UniversalTime const& stamp, bool flag);
  // The UTF-8 bytes of a wide text (null gives ""), the encoding the platform writes file names,
  // reports and log lines in. No unit is lost: a lone surrogate is written in its three-byte form
  // and only a value above U+10FFFF, which no character has, becomes '?'.
  static std::string utf8(wchar_t const* text);
};

// The text of a system error code (platform codes and the library's own).
class KESTLE_API ErrorDescription {
 public:
  ErrorDescription() = default;
  ErrorDescription(ErrorDescription const&) = default;
  ErrorDescription& operator=(ErrorDescription const&) { return *this; }
  ErrorDescription& operator=(ErrorDescription&&) { return *this; }
  static WString formatMessage(unsigned long code);
};
