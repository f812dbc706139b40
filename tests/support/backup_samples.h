// The backups committed to the tree, made by the test writer: the sample backup of the examples
// and the seed corpus of the backup fuzz target. A test checks that the committed files are
// exactly what these functions make; a disabled test of the same program rewrites them.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "support/backup_writer.h"

namespace kestle_test {

// examples/sample.bak: three small units, one of them without data chunks.
BackupImage sampleBackup();

// fuzz/corpus/backup_fuzz/<name>: good, damaged and hostile backups.
std::vector<std::pair<std::string, Bytes>> backupFuzzSeeds();

}  // namespace kestle_test
