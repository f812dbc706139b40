// The backup part of the tour of Kestle.
#pragma once

// Reads the backup at samplePath twice: once through BuRdr::reader with a small Restore that
// lists the units and their data, and once through BuRdr::report, whose XML it prints.
void runBackupDemo(char const* samplePath);
