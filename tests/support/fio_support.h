// Helpers for the file-layer tests: whole-file access by path and the process's descriptor count.
#pragma once

#include <filesystem>
#include <string>

#include "kestle/platform/control.h"

namespace kestle_test {

// The number of descriptors open in this process now (entries of /proc/self/fd).
int openDescriptorCount();

// Replaces the file's content with `bytes`.
void writeWholeFile(std::filesystem::path const& path, std::string const& bytes);

// The file's whole content ("" when it cannot be read).
std::string readWholeFile(std::filesystem::path const& path);

// Fault-hook answers: refuse the call with `code`; cut a transfer to `count` bytes.
Platform::FileFault failWith(unsigned long code);
Platform::FileFault cutTo(long long count);

}  // namespace kestle_test
