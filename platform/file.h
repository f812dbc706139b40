// The platform's raw file primitives over POSIX descriptors.
//
// A handle is an opaque pointer to the platform's own small object: the descriptor, the position
// of the next transfer and the file's name. FioOpen makes it and FioClose destroys it; whoever
// opened a handle owns it and closes it exactly once.
//
// Every primitive returns a system error code: 0 for success, otherwise the code of the failing
// system call (errno mapped as in platform/errno_code.h) or InvalidHandle (6) for a null handle,
// InvalidParameter (87) for an argument the platform refuses.
//
// Before it does anything, every primitive asks the file-fault hook of the platform control
// interface (Platform::setFileFaultHook). An answer with a nonzero code makes the primitive
// return that code without touching the file; an answer with count >= 0 cuts a transfer to that
// many bytes from the start of its range; `alter` runs after a read has filled its buffers.
//
// Threads: a handle keeps its position, so one handle serves one thread at a time (the raw file
// layer holds a slot mutex around each positioning and transfer). FioFlush, FioSize, FioSetSize
// and FioGetStamp do not use the position and may run on a handle while another thread
// transfers through it. Different handles are independent, also on the same file.
#pragma once

#include "kestle/fileopen.h"

namespace Clock {
class UniversalTime;
}

// Opens the file `name` and stores a new handle in `handle`; on failure stores null. `flag` is
// accepted and recorded; on Linux it changes nothing. The handle remembers whether this open
// created the file (see FioFlush). A directory is refused with
// AccessDenied (5); truncating (OpenFlag::CreateOrTruncate) needs write access, else 87.
// The position of a new handle is 0.
unsigned long FioOpen(wchar_t const* name, Access access, Sharing sharing, OpenFlag openFlag,
                      void*& handle, bool flag);

// Closes the handle, releases its object and sets `handle` to null, also when closing fails (as
// with close(2), the descriptor is gone either way) and also when the fault hook answers with a
// code. A null handle gives 6.
unsigned long FioClose(void*& handle);

// Sets the position of the handle's next transfer. A null handle gives 6, a position beyond the
// largest file offset gives 87. Nothing is read or written.
unsigned long FioSetPos(void* handle, unsigned long long position);

// Reads up to `length` bytes at the handle's position into `buffer` and advances the position by
// the count read, which `got` receives (also on failure: the bytes read before it). Fewer bytes
// than asked without an error means the file ended.
unsigned long FioRead(void* handle, char* buffer, unsigned length, unsigned& got);

// Reads the same range twice, first into `buffer`, then into `copy` (each `length` bytes long),
// with two separate reads of the file, so that a caller comparing the two sees a transfer that
// did not deliver the same bytes twice. `got` is the count of the first read; copy bytes the
// second read did not deliver up to `got` are zero. The position advances by `got`.
unsigned long FioRead2(void* handle, char* buffer, char* copy, unsigned length, unsigned& got);

// Writes `length` bytes of `data` at the handle's position and advances it by the count written,
// which `written` receives. A full disk gives 112 with the bytes written before it counted.
unsigned long FioWrite(void* handle, char const* data, unsigned length, unsigned& written);

// Makes the data written through any handle of the file durable (fdatasync). The first successful
// flush of a handle whose open created the file also syncs the file's directory, so that the new
// name survives a power loss; the fault hook is asked about that as a second Flush call, named
// after the directory. When the directory cannot be synced its code is the result and the next
// flush tries again.
unsigned long FioFlush(void* handle);

// Makes what was written through `handle` visible through every other handle of the file. On
// Linux all descriptors of a file read the same page cache, so this writes nothing out; it asks
// the fault hook (as a Flush) and checks the handle, nothing more.
unsigned long FioFlushVisible(void* handle);

// The file's size in bytes. `size` is set only on success.
unsigned long FioSize(void* handle, unsigned long long& size);

// Gives the file `size` bytes: cuts it, or extends it with zeros. Needs write access.
unsigned long FioSetSize(void* handle, unsigned long long size);

// The file's modification time as a universal time stamp: date day 1 = 1 January of year 1,
// time of day in hundredths of a second in UTC, zone 0. Because a time of 0 means "not set", a
// modification at exactly midnight is given as 8,640,000 (the end) of the day before. `stamp`
// is set only on success.
unsigned long FioGetStamp(void* handle, Clock::UniversalTime& stamp);
