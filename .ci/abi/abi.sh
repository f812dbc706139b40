#!/usr/bin/env bash
# The exported interface of libkestle.so, kept in two files beside this script:
#   libkestle.symbols  every dynamic symbol the library defines (nm -D --defined-only), mangled,
#                      with its symbol version, one per line
#   libkestle.abi      the ABI of those symbols as libabigail's abidw describes it: functions,
#                      variables and the layout of every public type they reach
#
# Regenerate both after any change to the public interface (and commit them with that change):
#     .ci/abi/abi.sh update [BUILD_DIR]
# which configures the default preset (in build/default, or in BUILD_DIR), builds only the library
# and writes both files. CI runs
#     .ci/abi/abi.sh check [BUILD_DIR]
# which fails on a symbol outside the list, a listed symbol that is gone, or any ABI change that
# abidiff finds. The files depend on the compiler of the default preset (GCC 12) and on abidw
# (Debian's abigail-tools), not on where the source or the build lies: source paths are stripped
# and type ids are hashes, so two builds in different directories give identical files.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
here="$root/.ci/abi"
mode=${1:-check}
build=${2:-$root/build/default}
lib="$build/libkestle.so"

exported() {
  nm -D --defined-only "$1" | awk '{print $NF}' | LC_ALL=C sort
}

describe() {
  abidw --no-corpus-path --no-comp-dir-path --no-show-locs --type-id-style hash \
    --headers-dir "$root/include/kestle" --drop-private-types "$1" |
    sed "s|path='$root/|path='|"
}

case "$mode" in
  update)
    if [ "$build" = "$root/build/default" ]; then
      cmake --preset default -S "$root" >/dev/null
    else
      cmake --preset default -S "$root" -B "$build" >/dev/null
    fi
    cmake --build "$build" --target kestle
    exported "$lib" >"$here/libkestle.symbols"
    describe "$lib" >"$here/libkestle.abi"
    echo "wrote $(wc -l <"$here/libkestle.symbols") symbols and the ABI of $lib"
    ;;
  check)
    status=0
    extra=$(LC_ALL=C comm -13 "$here/libkestle.symbols" <(exported "$lib"))
    missing=$(LC_ALL=C comm -23 "$here/libkestle.symbols" <(exported "$lib"))
    if [ -n "$extra" ]; then
      echo "exported but not part of the recorded interface:"
      c++filt <<<"$extra" | sed 's/^/  /'
      status=1
    fi
    if [ -n "$missing" ]; then
      echo "recorded in the interface but no longer exported:"
      c++filt <<<"$missing" | sed 's/^/  /'
      status=1
    fi
    if ! abidiff --headers-dir2 "$root/include/kestle" --drop-private-types \
      "$here/libkestle.abi" "$lib"; then
      echo "the ABI differs from .ci/abi/libkestle.abi"
      status=1
    fi
    if [ $status -ne 0 ]; then
      echo "an intended change of the interface runs .ci/abi/abi.sh update and commits the result"
      exit 1
    fi
    echo "libkestle.so: $(wc -l <"$here/libkestle.symbols") symbols, ABI as recorded"
    ;;
  *)
    echo "usage: $0 check|update [BUILD_DIR]" >&2
    exit 2
    ;;
esac
