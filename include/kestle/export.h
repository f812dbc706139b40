// Symbol export for libkestle.so. The library is built with -fvisibility=hidden; every type or
// function that callers may use carries KESTLE_API, and the linker's version script
// (cmake/kestle.map) lets only the public interface's names leave the library.
#pragma once

#define KESTLE_API __attribute__((visibility("default")))
