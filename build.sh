#!/usr/bin/env bash
# Builds dovrikna.dll and dovrikna-try.exe for 32-bit and 64-bit Windows into
# out/x86 and out/x64. With --all it also builds every test program. Run as
# root, it first installs the packages it lacks (tools/install-deps); as
# another user it names them.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
"$root/tools/install-deps" --missing
targets=(--target dovrikna dovrikna_try)
[ "${1:-}" = "--all" ] && targets=()

configure() { # build-dir toolchain full-tests
    cmake -S "$root" -B "$1" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$2" \
        -DDOVRIKNA_FULL_TESTS="$3" >/dev/null
}

configure "$root/build/win32" mingw-i686.cmake ON
configure "$root/build/win64" mingw-x86_64.cmake ON
for arch in win32 win64; do
    cmake --build "$root/build/$arch" -j "$(nproc)" "${targets[@]}"
done

mkdir -p "$root/out/x86" "$root/out/x64"
cp "$root/build/win32/bin/dovrikna.dll" "$root/build/win32/bin/dovrikna-try.exe" "$root/out/x86/"
cp "$root/build/win64/bin/dovrikna.dll" "$root/build/win64/bin/dovrikna-try.exe" "$root/out/x64/"
echo "Built out/x86 and out/x64: dovrikna.dll, dovrikna-try.exe"
