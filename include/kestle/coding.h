// Coding: the record cipher and the integer codes.
//
// The record cipher turns a block of len plain bytes into len + 1 enciphered bytes under a
// one-byte key and back. Enciphering exchanges the bytes pairwise from both ends, masks them with
// a fixed 257-byte key table and adds one checksum byte, by which deciphering tells whether the
// block came back intact. The key table is fixed for good: blocks written by any build of this
// library read back with every later one.
//
// An integer code is a short text of 4, 6, 8 or 10 hexadecimal digits standing for a 32-bit
// integer: its significant bytes, bit-rotated and enciphered under key 0, so a code checks itself.
//
// None of these functions keeps state or takes a lock; any number of threads may call them at
// once. They allocate nothing, except the text that Encode(int) returns.
#pragma once

#include "kestle/export.h"
#include "kestle/strings.h"

namespace Coding {

// Enciphers len bytes at in into len + 1 bytes at out under key. in and out may be the same
// buffer, which then holds len + 1 bytes. The pointers are not checked. A len of 0 is a caller
// error: it is reported through the platform (file "coding") and nothing is written.
KESTLE_API void Encode(char const* in, char* out, unsigned int len, unsigned char key);

// Deciphers len + 1 bytes at in (len is the plain length given to Encode) into exactly len bytes
// at out, which is written in full whatever the result. in and out may be the same buffer.
// Returns true when the checksum matches; false means the block was altered (any single changed
// byte is always caught). A len of 0 is reported like Encode's; nothing is written and the
// result is true.
KESTLE_API bool Decode(char const* in, char* out, unsigned int len, unsigned char key);

// The integer code of value: 4 characters for 0..255, 6 up to 65535, 8 up to 16777215 and 10 for
// larger and for every negative value. Digits are upper case.
KESTLE_API WString Encode(int value);

// The value of an integer code, upper or lower case digits alike; 0 for any text that is not a
// valid code (odd length, 2 characters or fewer, a character that is not a hexadecimal digit,
// a failed checksum, a null pointer). Only the first 10 characters are interpreted; a longer text
// of even length decodes as its first 10 characters.
KESTLE_API int Decode(wchar_t const* text);

}  // namespace Coding
