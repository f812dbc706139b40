// The platform's file-opening parameters, as Fio::open, FopenName and the platform's FioOpen take
// them. Values outside the listed ones make FioOpen fail with InvalidParameter (87), except
// Sharing, whose every value is accepted.
#pragma once

// How the file is opened for transfers.
enum class Access : unsigned {
  Read = 0,       // reads only; writes and size changes fail with InvalidHandle (6)
  Write = 1,      // writes and size changes only; reads fail with InvalidHandle (6)
  ReadWrite = 2,  // both
};

// What other openers of the same file may do. The value is recorded with the handle; Linux
// locks nothing for it, so it restricts no one.
enum class Sharing : unsigned {
  Exclusive = 0,
  AllowRead = 2,       // other readers
  AllowReadWrite = 4,  // other readers and writers
};

// Whether the file must exist, may be created, or is emptied.
enum class OpenFlag : unsigned {
  OpenExisting = 0,      // fails with FileNotFound (2) when the file is missing
  OpenOrCreate = 1,      // creates an empty file when it is missing
  CreateNew = 2,         // fails with FileExists (80) when the file exists
  CreateOrTruncate = 3,  // creates the file, or empties an existing one (needs write access)
};
