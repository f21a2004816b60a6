#!/usr/bin/env bash
# Cross-builds the splitter's libraries for Windows, statically, from Debian's own source packages at
# the versions the Linux build uses: zlib (Debian's libz-mingw-w64-dev, not rebuilt), libjpeg-turbo,
# freetype, qpdf, poppler (its C++ front end and the Splash renderer; no fontconfig, cairo, glib,
# Qt, boost, nss, lcms, openjpeg, curl, png or tiff), zxing-cpp (its readers only), leptonica (no
# image format libraries: the splitter hands it pixels from memory) and tesseract (no OpenMP, no
# training tools, no libarchive, curl or graphics window). poppler's C++ front end wants iconv, which
# mingw lacks: packaging/windows/iconv/ provides the UTF-8 <-> UTF-16 conversions it uses.
#
#   scripts/build-windows-deps.sh [--triplet i686-w64-mingw32|x86_64-w64-mingw32] [--print-prefix]
#
# The result is a prefix (include/, lib/, licenses/, toolchain.cmake) in a cache outside the clone,
# keyed by the triplet, the source versions, the compiler's version and this recipe's number, so a
# machine builds each set once; a second run prints the prefix at once. The last line printed is
# the prefix (with --print-prefix it is all that is printed, and nothing is built).
# Environment: ORVANE_WINDOWS_DEPS_CACHE (default /var/cache/orvane/windows-deps when it holds this
# build or can be written, else ~/.cache/orvane/windows-deps), ORVANE_BUILD_JOBS (default 2).
#
# zxing-cpp: Debian's mirror here serves the .dsc of its source package but answers 404 for its
# orig tarball, and github is out of reach. When Debian's source cannot be fetched, upstream's
# release as published on PyPI is used instead: the sdist of the `zxing-cpp` package carries the
# C++ core under core/. 2.1.0 is the release nearest Debian's 1.4 whose sdist has it (1.4.0's and
# 2.0.0's do not); it is pinned by its SHA256. licenses/SOURCES.txt names the source that was used.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# Bumped whenever the options below change what is built.
RECIPE=3
TRIPLET=i686-w64-mingw32
PRINT_ONLY=0
while [[ $# -gt 0 ]]; do
    case "$1" in
        --triplet) TRIPLET="${2:?--triplet needs a value}"; shift ;;
        --print-prefix) PRINT_ONLY=1 ;;
        -h|--help) sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed -e '$d' -e 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "build-windows-deps: unknown option '$1'" >&2; exit 2 ;;
    esac
    shift
done
JOBS="${ORVANE_BUILD_JOBS:-2}"
# Debian's own cmake (3.25): a newer one first on PATH refuses libjpeg-turbo's minimum version.
CMAKE=/usr/bin/cmake

MACHINE_CACHE=/var/cache/orvane/windows-deps
USER_CACHE="${XDG_CACHE_HOME:-$HOME/.cache}/orvane/windows-deps"

# "source-package version" of the package that the Linux build links.
source_of() {
    dpkg-query -W -f='${source:Package} ${source:Version}\n' "$1" 2>/dev/null ||
        { echo "build-windows-deps: $1 is not installed (scripts/setup.sh installs it)" >&2; return 1; }
}

read -r QPDF_SRC QPDF_VER < <(source_of libqpdf-dev)
read -r JPEG_SRC JPEG_VER < <(source_of libjpeg62-turbo-dev)
read -r POPPLER_SRC POPPLER_VER < <(source_of libpoppler-cpp-dev)
read -r FREETYPE_SRC FREETYPE_VER < <(source_of libfreetype-dev)
read -r ZLIB_SRC ZLIB_VER < <(source_of libz-mingw-w64-dev)
read -r ZXING_SRC ZXING_VER < <(source_of libzxing-dev)
read -r LEPT_SRC LEPT_VER < <(source_of libleptonica-dev)
read -r TESS_SRC TESS_VER < <(source_of libtesseract-dev)
ZXING_PYPI_VER=2.1.0
ZXING_PYPI_SHA256=7a8a468b420bf391707431d5a0dd881cb41033ae15f87820d93d5707c7bc55bc
ZXING_PYPI_URL=https://files.pythonhosted.org/packages/94/06/bb28c6f7bb4eee6fd6e791d3b1bbaa0171ff0e862d10cf148fd66c3d7061/zxing-cpp-$ZXING_PYPI_VER.tar.gz
command -v "$TRIPLET-g++-posix" >/dev/null ||
    { echo "build-windows-deps: $TRIPLET-g++-posix is missing (scripts/setup.sh installs it)" >&2; exit 1; }
ARCH_NAME="${TRIPLET%%-*}"
ARCH_NAME="${ARCH_NAME/_/-}"
GCC_VER="$(dpkg-query -W -f='${Version}' "g++-mingw-w64-$ARCH_NAME-posix" 2>/dev/null)"
GCC_VER="${GCC_VER:-$("$TRIPLET-g++-posix" -dumpfullversion)}"

MANIFEST="triplet $TRIPLET
recipe $RECIPE
compiler $TRIPLET-g++-posix $GCC_VER
$ZLIB_SRC $ZLIB_VER
$JPEG_SRC $JPEG_VER
$FREETYPE_SRC $FREETYPE_VER
$QPDF_SRC $QPDF_VER
$POPPLER_SRC $POPPLER_VER
$LEPT_SRC $LEPT_VER
$TESS_SRC $TESS_VER
$ZXING_SRC $ZXING_VER, else PyPI zxing-cpp $ZXING_PYPI_VER $ZXING_PYPI_SHA256
iconv $(cat "$ROOT"/packaging/windows/iconv/iconv.[ch] | sha256sum | cut -c1-12)
toolchain $(sha256sum <"$ROOT/packaging/windows/mingw-toolchain.cmake" | cut -c1-12)"
KEY="$TRIPLET-$(sha256sum <<<"$MANIFEST" | cut -c1-16)"
# The machine's cache when it holds this build or can be written (root), else the user's own.
if [[ -n "${ORVANE_WINDOWS_DEPS_CACHE:-}" ]]; then
    CACHE="$ORVANE_WINDOWS_DEPS_CACHE"
elif [[ -f "$MACHINE_CACHE/$KEY/.complete" ]] ||
     { mkdir -p "$MACHINE_CACHE" 2>/dev/null && [[ -w "$MACHINE_CACHE" ]]; }; then
    CACHE="$MACHINE_CACHE"
else
    CACHE="$USER_CACHE"
fi
PREFIX="$CACHE/$KEY"

if [[ $PRINT_ONLY -eq 1 ]]; then
    echo "$PREFIX"
    exit 0
fi

if [[ -f "$PREFIX/.complete" ]]; then
    echo "windows deps: cached ($KEY)"
    echo "$PREFIX"
    exit 0
fi
mkdir -p "$CACHE"
exec 9>"$CACHE/.lock"
# Another build of the same machine (a second CI run) waits instead of building twice.
flock 9
if [[ -f "$PREFIX/.complete" ]]; then
    echo "windows deps: cached ($KEY)"
    echo "$PREFIX"
    exit 0
fi

WORK="$CACHE/$KEY.build"
# Built in place (paths inside the installed files stay right); complete once .complete exists.
STAGE="$PREFIX"
rm -rf "$WORK" "$STAGE"
mkdir -p "$WORK/src" "$STAGE/lib" "$STAGE/include" "$STAGE/licenses"
LOGS="$WORK/logs"
mkdir -p "$LOGS"
{ printf '%s\n' "# triplet $TRIPLET" "$MANIFEST"; } >"$STAGE/manifest.txt"
{ echo "set(ORVANE_MINGW_TRIPLET $TRIPLET)"; cat "$ROOT/packaging/windows/mingw-toolchain.cmake"; } \
    >"$STAGE/toolchain.cmake"
TOOLCHAIN="$STAGE/toolchain.cmake"
# pkg-config must not find the build machine's libraries (cairo, glib, nss ...).
export PKG_CONFIG_LIBDIR="$STAGE/lib/pkgconfig" PKG_CONFIG_PATH=""
# The cmake first on PATH may be a newer one; the libraries' own build steps call cmake by name.
export PATH="/usr/bin:$PATH"
T_ALL=$SECONDS

# run_logged NAME COMMAND...: the command's output to a log, shown when it fails.
run_logged() {
    local name="$1"; shift
    if ! "$@" >>"$LOGS/$name.log" 2>&1 </dev/null; then
        echo "build-windows-deps: $name failed; last lines of $LOGS/$name.log:" >&2
        tail -n 40 "$LOGS/$name.log" >&2
        exit 1
    fi
}

# fetch SOURCE VERSION: Debian's source package, unpacked with Debian's patches; prints its folder.
fetch() {
    local src="$1" ver="$2" dir
    (cd "$WORK/src" && run_logged "fetch-$src" apt-get source -q --only-source "$src=$ver")
    dir="$(find "$WORK/src" -mindepth 1 -maxdepth 1 -type d -name "$src-*" | head -n 1)"
    [[ -n "$dir" ]] || { echo "build-windows-deps: apt-get source $src=$ver unpacked nothing" >&2; exit 1; }
    echo "$dir"
}

# zxing_source: zxing-cpp's source folder, Debian's when the mirror has it, else the pinned PyPI
# sdist (see the top of this file); sets ZXING_FROM, the line SOURCES.txt gets.
zxing_source() {
    local debian="$WORK/src/zxing-debian" sdist="$WORK/src/zxing-cpp-$ZXING_PYPI_VER.tar.gz" dir
    mkdir -p "$debian"
    if (cd "$debian" && apt-get source -q --only-source "$ZXING_SRC=$ZXING_VER") >>"$LOGS/fetch-$ZXING_SRC.log" 2>&1 </dev/null &&
       dir="$(find "$debian" -mindepth 1 -maxdepth 1 -type d -name "$ZXING_SRC-*" | head -n 1)" && [[ -n "$dir" ]]; then
        ZXING_FROM="$ZXING_SRC $ZXING_VER"
        ZXING_DIR="$dir"
        return 0
    fi
    echo "windows deps: Debian's $ZXING_SRC $ZXING_VER could not be fetched; PyPI's zxing-cpp $ZXING_PYPI_VER instead"
    run_logged "fetch-$ZXING_SRC" curl -fsSL --retry 3 -o "$sdist" "$ZXING_PYPI_URL"
    if ! sha256sum -c --quiet <<<"$ZXING_PYPI_SHA256  $sdist" >>"$LOGS/fetch-$ZXING_SRC.log" 2>&1; then
        echo "build-windows-deps: $ZXING_PYPI_URL does not have SHA256 $ZXING_PYPI_SHA256" >&2
        exit 1
    fi
    tar -xzf "$sdist" -C "$WORK/src"
    ZXING_FROM="$ZXING_SRC $ZXING_PYPI_VER (upstream's release, the PyPI sdist zxing-cpp-$ZXING_PYPI_VER.tar.gz, SHA256 $ZXING_PYPI_SHA256)"
    ZXING_DIR="$WORK/src/zxing-cpp-$ZXING_PYPI_VER"
}

# licence SOURCE VERSION FOLDER FILE...: the licence texts of a bundled library, with where it came from.
licence() {
    local src="$1" ver="$2" from="$3" f; shift 3
    mkdir -p "$STAGE/licenses/$src"
    for f in "$@"; do
        [[ -f "$from/$f" ]] && cp "$from/$f" "$STAGE/licenses/$src/$(basename "$f")"
    done
    echo "$src $ver" >>"$STAGE/licenses/SOURCES.txt"
}

# cmake_build NAME SOURCE-FOLDER OPTIONS...: configure, build and install into the stage prefix.
cmake_build() {
    local name="$1" src="$2" t0=$SECONDS; shift 2
    run_logged "$name" "$CMAKE" -S "$src" -B "$WORK/build-$name" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$STAGE" -DBUILD_SHARED_LIBS=OFF "$@"
    run_logged "$name" "$CMAKE" --build "$WORK/build-$name" -j "$JOBS"
    run_logged "$name" "$CMAKE" --install "$WORK/build-$name"
    echo "built $name in $((SECONDS - t0)) s"
}

echo "windows deps: building $KEY into $CACHE ($JOBS jobs)"
printf '%s\n' "$MANIFEST" | sed 's/^/  /'

# zlib: Debian's mingw build, copied so that the prefix is complete by itself.
cp "/usr/$TRIPLET/lib/libz.a" "$STAGE/lib/libz.a"
cp /usr/"$TRIPLET"/include/zlib.h /usr/"$TRIPLET"/include/zconf.h "$STAGE/include/"
mkdir -p "$STAGE/licenses/$ZLIB_SRC"
cp /usr/share/doc/libz-mingw-w64/copyright "$STAGE/licenses/$ZLIB_SRC/copyright"
echo "$ZLIB_SRC $ZLIB_VER" >>"$STAGE/licenses/SOURCES.txt"

# iconv: our own conversions, for poppler's C++ front end.
t0=$SECONDS
"$TRIPLET-gcc-posix" -O2 -Wall -Wextra -c "$ROOT/packaging/windows/iconv/iconv.c" -o "$WORK/iconv.o"
"$TRIPLET-ar" rcs "$STAGE/lib/libiconv.a" "$WORK/iconv.o"
cp "$ROOT/packaging/windows/iconv/iconv.h" "$STAGE/include/iconv.h"

# Text recognition first: the longest build and the likeliest to fail, so a failure shows early.
# Both are built to compute floats as x86_64 does (SSE2, no x87 excess precision), so that a page
# gives the same text under Windows as on Linux; the SIMD kernels tesseract picks at run time are
# compiled as usual, and nothing is compiled for the build machine's own processor (-march=native).
ocr_flags=""
[[ $ARCH_NAME == i686 ]] && ocr_flags="-msse2 -mfpmath=sse"
dir="$(fetch "$LEPT_SRC" "$LEPT_VER")"
cmake_build leptonica "$dir" -DSW_BUILD=OFF -DBUILD_PROG=OFF -DCMAKE_C_FLAGS="$ocr_flags" \
    -DCMAKE_DISABLE_FIND_PACKAGE_GIF=ON -DCMAKE_DISABLE_FIND_PACKAGE_JPEG=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_PNG=ON -DCMAKE_DISABLE_FIND_PACKAGE_TIFF=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_ZLIB=ON -DCMAKE_DISABLE_FIND_PACKAGE_PkgConfig=ON \
    -DWEBP_INCLUDE_DIR=NOTFOUND -DWEBPMUX_INCLUDE_DIR=NOTFOUND -DJP2K_INCLUDE_DIR=NOTFOUND
licence "$LEPT_SRC" "$LEPT_VER" "$dir" leptonica-license.txt debian/copyright

dir="$(fetch "$TESS_SRC" "$TESS_VER")"
# `Ws2_32` as written there is not found on a case-sensitive file system (mingw's is libws2_32.a).
sed -i 's/\bWs2_32\b/ws2_32/' "$dir/CMakeLists.txt"
cmake_build tesseract "$dir" -DSW_BUILD=OFF -DOPENMP_BUILD=OFF -DBUILD_TRAINING_TOOLS=OFF \
    -DBUILD_TESTS=OFF -DGRAPHICS_DISABLED=ON -DDISABLE_ARCHIVE=ON -DDISABLE_CURL=ON \
    -DENABLE_LTO=OFF -DFAST_FLOAT=ON -DENABLE_OPENCL=OFF -DINSTALL_CONFIGS=OFF \
    -DCOMPILER_SUPPORTS_MARCH_NATIVE=OFF -DCMAKE_DISABLE_FIND_PACKAGE_TIFF=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_OpenMP=ON -DCMAKE_CXX_FLAGS="$ocr_flags"
licence "$TESS_SRC" "$TESS_VER" "$dir" LICENSE AUTHORS debian/copyright

# zxing-cpp next: the library most likely to need a new source, so a failure shows early.
# A release build (NDEBUG): no assertion of the reader can end the program.
zxing_source
if [[ -f "$ZXING_DIR/core/src/ReadBarcode.h" && ! -f "$ZXING_DIR/example/CMakeLists.txt" ]]; then
    zxing_cmake="$ZXING_DIR/core"  # the sdist: its top CMakeLists.txt builds the Python module
else
    zxing_cmake="$ZXING_DIR"
fi
cmake_build zxing-cpp "$zxing_cmake" -DBUILD_READERS=ON -DBUILD_WRITERS=OFF -DBUILD_EXAMPLES=OFF \
    -DBUILD_BLACKBOX_TESTS=OFF -DBUILD_UNIT_TESTS=OFF -DBUILD_PYTHON_MODULE=OFF -DBUILD_DEPENDENCIES=LOCAL
mkdir -p "$STAGE/licenses/$ZXING_SRC"
cp /usr/share/common-licenses/Apache-2.0 "$STAGE/licenses/$ZXING_SRC/LICENSE-Apache-2.0"
[[ -f "$ZXING_DIR/debian/copyright" ]] && cp "$ZXING_DIR/debian/copyright" "$STAGE/licenses/$ZXING_SRC/copyright"
{
    echo "$ZXING_FROM: under the Apache License 2.0, its full text in LICENSE-Apache-2.0."
    echo
    echo "The copyright notices of its sources:"
    grep -rhoE 'Copyright (\([cC]\) )?[0-9]{4}[^*]*' "$ZXING_DIR/core/src" | sed 's/[ .]*$//' | sort -u | sed 's/^/  /'
    if [[ -f "$ZXING_DIR/core/src/libzueci/zueci.c" ]]; then
        echo
        echo "core/src/libzueci is under the BSD-3-Clause licence (the identifier its sources carry):"
        sed 's/^/  /' "$ROOT/packaging/windows/BSD-3-Clause-libzueci.txt"
        echo
        echo "Its UTF-8 decoder (core/src/libzueci/zueci.c, core/src/Utf.cpp) carries this notice:"
        sed -n '/Copyright (c) 2008-2009 Bjoern/,/decoder\/dfa/p' "$ZXING_DIR/core/src/libzueci/zueci.c"
    fi
} >"$STAGE/licenses/$ZXING_SRC/NOTICE.txt"
echo "$ZXING_FROM" >>"$STAGE/licenses/SOURCES.txt"

dir="$(fetch "$JPEG_SRC" "$JPEG_VER")"
cmake_build libjpeg-turbo "$dir" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF \
    -DWITH_SIMD=OFF -DWITH_JPEG8=OFF
licence "$JPEG_SRC" "$JPEG_VER" "$dir" LICENSE.md README.ijg debian/copyright

dir="$(fetch "$FREETYPE_SRC" "$FREETYPE_VER")"
cmake_build freetype "$dir" -DFT_DISABLE_BZIP2=ON -DFT_DISABLE_PNG=ON -DFT_DISABLE_HARFBUZZ=ON \
    -DFT_DISABLE_BROTLI=ON -DFT_REQUIRE_ZLIB=ON
licence "$FREETYPE_SRC" "$FREETYPE_VER" "$dir" LICENSE.TXT docs/FTL.TXT docs/GPLv2.TXT debian/copyright

dir="$(fetch "$QPDF_SRC" "$QPDF_VER")"
# A configure check names `Advapi32`; on a case-sensitive file system that library is not found,
# the check fails and every later check fails with it. mingw's file is libadvapi32.a.
sed -i 's/\bAdvapi32\b/advapi32/' "$dir/CMakeLists.txt"
t0=$SECONDS
run_logged qpdf "$CMAKE" -S "$dir" -B "$WORK/build-qpdf" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$STAGE" -DBUILD_SHARED_LIBS=OFF \
    -DBUILD_STATIC_LIBS=ON -DUSE_IMPLICIT_CRYPTO=OFF -DREQUIRE_CRYPTO_NATIVE=ON \
    -DREQUIRE_CRYPTO_OPENSSL=OFF -DREQUIRE_CRYPTO_GNUTLS=OFF -DBUILD_DOC=OFF -DINSTALL_MANUAL=OFF \
    -DINSTALL_EXAMPLES=OFF -DZLIB_LIBRARY="$STAGE/lib/libz.a" -DZLIB_INCLUDE_DIR="$STAGE/include" \
    -DJPEG_LIBRARY="$STAGE/lib/libjpeg.a" -DJPEG_INCLUDE_DIR="$STAGE/include"
# Only the library: qpdf's programs and tests are not needed here.
run_logged qpdf "$CMAKE" --build "$WORK/build-qpdf" -j "$JOBS" --target libqpdf
run_logged qpdf "$CMAKE" --install "$WORK/build-qpdf" --component dev
run_logged qpdf "$CMAKE" --install "$WORK/build-qpdf" --component lib
echo "built qpdf in $((SECONDS - t0)) s"
licence "$QPDF_SRC" "$QPDF_VER" "$dir" LICENSE.txt NOTICE.md Artistic-2.0 debian/copyright

dir="$(fetch "$POPPLER_SRC" "$POPPLER_VER")"
# Static: the C++ front end's export header must not declare dllimport, in poppler's own build and
# in the programs that include it.
cmake_build poppler "$dir" -DCMAKE_CXX_FLAGS=-DPOPPLER_CPP_STATIC_DEFINE \
    -DENABLE_UNSTABLE_API_ABI_HEADERS=OFF -DENABLE_CPP=ON -DENABLE_UTILS=OFF -DENABLE_GLIB=OFF \
    -DENABLE_GOBJECT_INTROSPECTION=OFF -DENABLE_QT5=OFF -DENABLE_QT6=OFF -DENABLE_BOOST=OFF \
    -DENABLE_CMS=none -DENABLE_LIBOPENJPEG=none -DENABLE_DCTDECODER=libjpeg -DENABLE_LIBCURL=OFF \
    -DENABLE_ZLIB=ON -DENABLE_RELOCATABLE=OFF -DWITH_NSS3=OFF -DWITH_Cairo=OFF -DWITH_TIFF=OFF \
    -DWITH_PNG=OFF -DWITH_GLIB=OFF -DWITH_GObjectIntrospection=OFF -DBUILD_GTK_TESTS=OFF \
    -DBUILD_QT5_TESTS=OFF -DBUILD_QT6_TESTS=OFF -DBUILD_CPP_TESTS=OFF -DBUILD_MANUAL_TESTS=OFF \
    -DRUN_GPERF_IF_PRESENT=OFF -DFONT_CONFIGURATION=win32 \
    -DICONV_INCLUDE_DIR="$STAGE/include" -DICONV_LIBRARIES="$STAGE/lib/libiconv.a" \
    -DJPEG_LIBRARY="$STAGE/lib/libjpeg.a" -DJPEG_INCLUDE_DIR="$STAGE/include" \
    -DZLIB_LIBRARY="$STAGE/lib/libz.a" -DZLIB_INCLUDE_DIR="$STAGE/include" \
    -DFREETYPE_LIBRARY="$STAGE/lib/libfreetype.a" -DFREETYPE_INCLUDE_DIRS="$STAGE/include/freetype2"
sed -i '1i #ifndef POPPLER_CPP_STATIC_DEFINE\n#define POPPLER_CPP_STATIC_DEFINE\n#endif' \
    "$STAGE/include/poppler/cpp/poppler_cpp_export.h"
licence "$POPPLER_SRC" "$POPPLER_VER" "$dir" COPYING COPYING3 README.contributors debian/copyright

# The compiler's own runtime, linked into the program: libstdc++ and libgcc (GCC's runtime library
# exception) and libwinpthread (mingw-w64).
for pkg in "gcc-mingw-w64-$ARCH_NAME-posix-runtime" "mingw-w64-$ARCH_NAME-dev"; do
    read -r src ver < <(source_of "$pkg")
    mkdir -p "$STAGE/licenses/$src"
    cp "/usr/share/doc/$pkg/copyright" "$STAGE/licenses/$src/copyright"
    echo "$src $ver" >>"$STAGE/licenses/SOURCES.txt"
done

echo "built in $((SECONDS - T_ALL)) s" >"$STAGE/build-time.txt"
touch "$STAGE/.complete"
rm -rf "$WORK"
echo "windows deps: built in $((SECONDS - T_ALL)) s, $(du -sh "$PREFIX" | cut -f1)"
echo "$PREFIX"
