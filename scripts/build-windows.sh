#!/usr/bin/env bash
# Cross-builds for 64-bit Windows on Debian 12: oa-cleanup.exe (the Win32 window, and the
# window-less mode), oa-store.exe and the tests, statically linked, in build-windows/ (or $1),
# then packs both programs into a zip and an MSI in build-windows/package/.
# SQLite and pugixml are built from Debian's own source packages (a deb-src list of the build's
# own, never the machine's), GoogleTest from /usr/src/googletest; everything lands in
# BUILD/deps/prefix, which the toolchain file searches instead of the machine's /usr.
# Run as root (or with sudo at hand) the first time, to install the packages.
# OA_SIGN_CERT and OA_SIGN_KEY sign the programs and the MSI (see scripts/package-windows.sh).
# OA_DEBUG_INFO=0 builds without debug information (about a third less compile time; the
# packaged programs are stripped either way).
set -euo pipefail

cd "$(dirname "$0")/.."
top=$PWD
build=$(realpath -m "${1:-build-windows}")
deps=$build/deps
prefix=$deps/prefix
toolchain=$top/cmake/mingw-w64-x86_64.cmake
jobs=${OA_JOBS:-2}

PACKAGES=(
  cmake ninja-build ccache dpkg-dev tcl
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  wine wine64 fonts-wine winbind
  nlohmann-json3-dev libcli11-dev googletest
  imagemagick xxd xvfb xdotool x11-utils jq wixl msitools zip unzip osslsigncode openssl
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -q
  "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
fi

mkdir -p "$deps/src" "$prefix/include" "$prefix/lib"

# Debian's source packages, through an index of the build's own.
fetch_source() {
  local package=$1
  local apt=$deps/apt
  if [ ! -f "$apt/updated" ]; then
    mkdir -p "$apt/lists/partial"
    cat >"$apt/sources.list" <<'EOF'
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm-updates main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian-security bookworm-security main
EOF
    apt-get "${APT_OPTS[@]}" update -q
    touch "$apt/updated"
  fi
  (cd "$deps/src" && apt-get "${APT_OPTS[@]}" source -q "$package")
}
APT_OPTS=(
  -o "Dir::Etc::SourceList=$deps/apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
  -o "Dir::State::Lists=$deps/apt/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=
  -o APT::Sandbox::User=root
)

cc=x86_64-w64-mingw32-gcc-posix
ar=x86_64-w64-mingw32-gcc-ar-posix

# SQLite: the amalgamation made from Debian's tree, compiled with the options Debian builds with.
if [ ! -f "$prefix/lib/libsqlite3.a" ]; then
  [ -n "$(ls -d "$deps"/src/sqlite3-*/ 2>/dev/null)" ] || fetch_source sqlite3
  src=$(ls -d "$deps"/src/sqlite3-*/ | head -n1)
  if [ ! -f "$src/sqlite3.c" ]; then
    (cd "$src" && ./configure --disable-tcl >/dev/null && make -j"$jobs" sqlite3.c >/dev/null)
  fi
  # The -DSQLITE_* options of Debian's own build (debian/rules), so both platforms behave alike.
  mapfile -t sqlite_flags < <(grep -o -- '-DSQLITE_[A-Z0-9_]*\(=[0-9A-Za-z_]*\)\?' \
    "$src/debian/rules" | grep -v -e LOAD_EXTENSION -e ENABLE_ICU | sort -u)
  echo "SQLite options: ${sqlite_flags[*]}"
  "$cc" -O2 -DSQLITE_OS_WIN=1 -DSQLITE_THREADSAFE=1 "${sqlite_flags[@]}" -DSQLITE_OMIT_LOAD_EXTENSION \
    -c "$src/sqlite3.c" -o "$deps/sqlite3.o"
  cp "$src/sqlite3.h" "$src/sqlite3ext.h" "$prefix/include/"
  rm -f "$prefix/lib/libsqlite3.a"
  "$ar" rcs "$prefix/lib/libsqlite3.a" "$deps/sqlite3.o"
fi

# pugixml, with its own CMake project.
if [ ! -f "$prefix/lib/libpugixml.a" ]; then
  [ -n "$(ls -d "$deps"/src/pugixml-*/ 2>/dev/null)" ] || fetch_source pugixml
  src=$(ls -d "$deps"/src/pugixml-*/ | head -n1)
  cmake -S "$src" -B "$deps/pugixml-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DPUGIXML_BUILD_TESTS=OFF \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib >/dev/null
  cmake --build "$deps/pugixml-build" -j"$jobs"
  cmake --install "$deps/pugixml-build" >/dev/null
fi

# GoogleTest from Debian's source copy.
if [ ! -f "$prefix/lib/libgtest.a" ]; then
  cmake -S /usr/src/googletest -B "$deps/googletest-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF \
    -Dgtest_disable_pthreads=OFF -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib \
    >/dev/null
  cmake --build "$deps/googletest-build" -j"$jobs"
  cmake --install "$deps/googletest-build" >/dev/null
fi

# The header-only libraries as they are, with package files that point at the prefix only.
header_only() {
  local name=$1 target=$2 dir=$3
  # Copied once, with their times, so that a second run recompiles nothing.
  [ -d "$prefix/include/$dir" ] || cp -a "/usr/include/$dir" "$prefix/include/$dir"
  mkdir -p "$prefix/lib/cmake/$name"
  cat >"$prefix/lib/cmake/$name/${name}Config.cmake" <<EOF
if(NOT TARGET $target)
  add_library($target INTERFACE IMPORTED)
  set_target_properties($target PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "$prefix/include")
endif()
EOF
}
header_only nlohmann_json nlohmann_json::nlohmann_json nlohmann
header_only CLI11 CLI11::CLI11 CLI

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$top}
flags=()
if [ "${OA_DEBUG_INFO:-1}" = 0 ]; then
  flags=("-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG")
fi
# Warnings are errors where the caller asks for it (CI does).
flags+=("-DOA_WERROR=${OA_WERROR:-OFF}")
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DOA_WINDOWS_DEPS="$prefix" -DOA_WINDOW=ON "${launcher[@]}" "${flags[@]}"
cmake --build "$build" -j"$jobs" ${OA_TARGETS:+--target $OA_TARGETS}
# A build of chosen targets is for iterating; the packages need the whole build.
[ -n "${OA_TARGETS:-}" ] || bash "$top/scripts/package-windows.sh" "$build"
