// The record cipher over a run of records: what the record layer uses to encipher and decipher a
// whole transfer in one pass instead of one exported call per record. Record r of a run takes
// key firstKey + r (mod 256); the caller splits its transfers where its keys do not follow on.
// Each record's bytes are exactly those of Coding::Encode / Coding::Decode under its key.
#pragma once

namespace kestle_detail::cipher {

// Enciphers `count` records of `len` >= 1 bytes, packed at in, into `len` + 1 bytes each, packed
// at out. in and out must not overlap.
void EncodeRun(char const* in, char* out, unsigned len, unsigned count, unsigned char firstKey);

// Deciphers `count` records of `len` + 1 bytes, packed at in, into `len` bytes each, packed at
// out, and returns how many pass their check before the first that fails (count when all pass).
// The failing record is written out as Coding::Decode writes it; the records after it are not
// touched. in and out must not overlap.
unsigned DecodeRun(char const* in, char* out, unsigned len, unsigned count, unsigned char firstKey);

}  // namespace kestle_detail::cipher
