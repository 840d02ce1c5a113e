# Sourced by the Wine benchmarks: reads which Windows the engine build targets (a 32-bit or
# a 64-bit image) and sets what the benchmark's own helper programs are built with, so that
# they match the engine:
#   bench_wine_target BUILD   sets BENCH_CXX and BENCH_CC (MinGW compilers) and exports
#                             KEM_WINE_ARCH=win64 for a 64-bit build (the harness's prefix),
#                             and BENCH_NSIS_TARGET, the makensis target of a peer installer of
#                             the same architecture (Debian's nsis has amd64 stubs and plug-ins),
#                             and BENCH_BUILD_BITS, "32-bit" or "64-bit", for the report.
bench_wine_target() {
  local exe=$1/src/launcher/kemstub.exe
  # The optional header's magic: 0x10B for a 32-bit image, 0x20B for a 64-bit one.
  local pe magic
  pe=$(od -An -t u4 -j 60 -N 4 "$exe" | tr -d ' ')
  magic=$(od -An -t x2 -j $((pe + 24)) -N 2 "$exe" | tr -d ' ')
  if [ "$magic" = 020b ]; then
    BENCH_CXX=x86_64-w64-mingw32-g++
    BENCH_CC=x86_64-w64-mingw32-gcc
    BENCH_NSIS_TARGET=amd64-unicode
    BENCH_BUILD_BITS=64-bit
    export KEM_WINE_ARCH=win64
  else
    BENCH_CXX=i686-w64-mingw32-g++
    BENCH_CC=i686-w64-mingw32-gcc
    BENCH_NSIS_TARGET=x86-unicode
    BENCH_BUILD_BITS=32-bit
    unset KEM_WINE_ARCH
  fi
}
