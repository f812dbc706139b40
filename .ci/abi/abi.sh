#!/usr/bin/env bash
# The exported interface of libkestle.so, kept in two files beside this script:
#   libkestle.symbols  every dynamic symbol the library defines (nm -D --defined-only), mangled,
#                      with its symbol version, one per line
#   libkestle.abi      the ABI of those symbols as libabigail's abidw describes it: functions,
#                      variables and the layout of every public type they reach
#
# Regenerate both after any change to the public interface (and commit them with that change):
#     .ci/abi/abi.sh update
# which copies the working tree to /tmp/kestle-abi/src, builds only the library there with the
# default preset (in /tmp/kestle-abi/build, kept between runs) and writes both files. abidw's
# output depends on the path of the sources, so building at one fixed place makes the files
# byte for byte the same on every machine with the same compiler (GCC 12, as the default preset
# uses) and abidw (Debian's abigail-tools). CI runs
#     .ci/abi/abi.sh check [BUILD_DIR]
# which compares build/default (or BUILD_DIR) with both files and fails on a symbol outside the
# list, a listed symbol that is gone, or any ABI change that abidiff finds; where that build lies
# does not matter to it.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
here="$root/.ci/abi"
mode=${1:-check}

exported() {
  nm -D --defined-only "$1" | awk '{print $NF}' | LC_ALL=C sort
}

# describe SOURCE_ROOT LIBRARY: the ABI of LIBRARY, with SOURCE_ROOT stripped from paths.
describe() {
  abidw --no-corpus-path --no-comp-dir-path --no-show-locs --type-id-style hash \
    --headers-dir "$1/include/kestle" --drop-private-types "$2" |
    sed "s|path='$1/|path='|"
}

case "$mode" in
  update)
    src=/tmp/kestle-abi/src
    rm -rf "$src"
    mkdir -p "$src"
    # Tracked and new files as they are in the working tree; tar keeps their times, so the kept
    # build recompiles only what changed.
    (cd "$root" && git ls-files -z --cached --others --exclude-standard |
      while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
      tar --null -T - -cf -) | tar -xf - -C "$src"
    cmake --preset default -S "$src" -B /tmp/kestle-abi/build >/dev/null
    cmake --build /tmp/kestle-abi/build --target kestle
    exported /tmp/kestle-abi/build/libkestle.so >"$here/libkestle.symbols"
    describe "$src" /tmp/kestle-abi/build/libkestle.so >"$here/libkestle.abi"
    echo "wrote $(wc -l <"$here/libkestle.symbols") symbols and the ABI of libkestle.so"
    ;;
  check)
    lib="${2:-$root/build/default}/libkestle.so"
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
    echo "usage: $0 check [BUILD_DIR] | update" >&2
    exit 2
    ;;
esac
