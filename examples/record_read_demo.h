// The read-back part of the tour of Kestle.
#pragma once

struct FioFile;

// Reads records 1 .. nrecs of an open record file back three ways: as one run with Fmultiread,
// one at a time with Fread, and with the verified read (two copies compared) switched on for the
// run. Prints the records as text and checks that the three ways agree, that a read past the
// end says so, and, when `expected` is given (nrecs x the record length bytes), that the records
// are what was written. Returns true when every check holds.
bool runRecordReadDemo(FioFile* file, unsigned int nrecs, char const* expected = nullptr);
