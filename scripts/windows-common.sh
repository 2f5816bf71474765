# Sourced by scripts/windows and scripts/test-windows: finds and unpacks the Qt for Windows,
# installs the Debian packages, cross-builds with cmake/mingw-w64.cmake. Expects $repo.

win_root=${LUVRIN_WINDOWS_BUILD_DIR:-$repo/build-win}
win_build=$win_root/build
# The unit test programs that are built for Windows and run under wine (the widget tests need Qt
# Test, which the Qt for Windows lacks; the end-to-end tests are POSIX).
windows_unit_tests=(platform_tests runtime_tests files_tests output_tests engine_tests editor_tests
                    generator_tests driver_tests commands_tests stub_tests fixtures_tests)
qt_archive_name=qt6.4.2-mingw-w64.tar.xz
win_packages=(g++-mingw-w64-x86-64-posix wine wine64 nsis qt6-translations-l10n
              qt6-base-dev-tools python3 xdotool qlcplus-data)

# Tells what is missing and how to get it.
explain_missing_qt() {
  cat >&2 <<EOF
No Qt for Windows found. The Windows build needs Qt 6.4.2 cross-built for x86_64-w64-mingw32
(Core, Gui, Widgets, SerialPort, Network; no ICU), as the archive $qt_archive_name:
  - set LUVRIN_QT_WINDOWS to the archive, to the folder holding it, or to its unpacked
    qt6-mingw folder; or
  - put the archive in ../shared/toolchains/ beside this repository.
To make one on Debian 12: build-qt-mingw.sh (kept beside the archive) does every step as root:
it installs g++-mingw-w64-x86-64-posix, fetches Debian's qt6-base 6.4.2 source, configures
qtbase with -DQT_HOST_PATH=/usr, ICU, OpenGL and TLS off, Network on, builds and installs it
(about 35 minutes on two cores), then builds qtserialport v6.4.2 with the installed qt-cmake;
pack the resulting qt6-mingw folder with tar -cJf $qt_archive_name qt6-mingw.
EOF
}

# Sets qt_dir to an unpacked Qt for Windows, unpacking the archive into $win_root when it is
# new or changed. Returns 1 when there is none.
find_windows_qt() {
  local given=${LUVRIN_QT_WINDOWS:-} archive=
  if [[ -n $given ]]; then
    if [[ -f $given/lib/cmake/Qt6/Qt6Config.cmake ]]; then
      qt_dir=$(cd "$given" && pwd)
      return 0
    elif [[ -f $given/qt6-mingw/lib/cmake/Qt6/Qt6Config.cmake ]]; then
      qt_dir=$(cd "$given/qt6-mingw" && pwd)
      return 0
    elif [[ -f $given ]]; then
      archive=$given
    elif [[ -f $given/$qt_archive_name ]]; then
      archive=$given/$qt_archive_name
    else
      echo "LUVRIN_QT_WINDOWS=$given holds no Qt for Windows" >&2
    fi
  fi
  if [[ -z $archive && -f $repo/../shared/toolchains/$qt_archive_name ]]; then
    archive=$repo/../shared/toolchains/$qt_archive_name
  fi
  if [[ -z $archive ]]; then
    explain_missing_qt
    return 1
  fi
  local id stamp=$win_root/qt6-mingw.from
  id="$(readlink -f "$archive") $(stat -c '%s %Y' "$archive")"
  if [[ ! -f $win_root/qt6-mingw/lib/cmake/Qt6/Qt6Config.cmake ||
        $(cat "$stamp" 2>/dev/null) != "$id" ]]; then
    echo "Unpacking $archive into $win_root"
    rm -rf "$win_root/qt6-mingw"
    mkdir -p "$win_root"
    tar -C "$win_root" -xJf "$archive"
    echo "$id" >"$stamp"
  fi
  qt_dir=$win_root/qt6-mingw
}

windows_install_deps() {
  "$repo/scripts/install-deps" "${win_packages[@]}"
}

# The compiler cache, where there is one: a cross build from nothing takes minutes.
launcher_options=()
if command -v ccache >/dev/null; then
  launcher_options=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

# GoogleTest for Windows, from Debian's sources, with the same cross compiler.
build_windows_gtest() {
  local gtest=$win_root/gtest
  [[ -f $gtest/lib/libgtest.a ]] && return 0
  cmake -S /usr/src/googletest -B "$win_root/gtest-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" -DLUVRIN_QT_WINDOWS="$qt_dir" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$gtest" \
    "${launcher_options[@]}" >/dev/null
  cmake --build "$win_root/gtest-build" -j 2
  cmake --install "$win_root/gtest-build" >/dev/null
}

# Cross-builds the given targets (all of them when none) in Release.
build_windows() {
  build_windows_gtest
  cmake -S "$repo" -B "$win_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" -DLUVRIN_QT_WINDOWS="$qt_dir" \
    -DLUVRIN_WINDOWS_PREFIXES="$win_root/gtest" "${launcher_options[@]}" >/dev/null
  local targets=() t
  for t in "$@"; do targets+=(--target "$t"); done
  cmake --build "$win_build" -j 2 "${targets[@]}"
}

# Sets windows_dll_folders to the folders the Windows programs' DLLs come from: Qt's, then the
# compiler's run-time.
find_windows_dll_folders() {
  local gcc_dir
  gcc_dir=$(ls -d /usr/lib/gcc/x86_64-w64-mingw32/*-posix | sort -V | tail -1)
  windows_dll_folders=("$qt_dir/bin" "$gcc_dir" /usr/x86_64-w64-mingw32/lib)
}

# Copies into folder $1 the DLLs that the programs and plugins $2... import, followed through the
# DLLs found; Windows' own are told apart by wine's copies of them (Debian's folder, upstream's).
ship_windows_dlls() {
  local dest=$1 from=() f wine_dlls=
  shift
  find_windows_dll_folders
  for f in "${windows_dll_folders[@]}"; do from+=(--from "$f"); done
  for f in /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows; do
    [[ -d $f ]] && { wine_dlls=$f; break; }
  done
  [[ -n $wine_dlls ]] || { echo "wine's Windows DLLs not found" >&2; return 1; }
  "$repo/scripts/windows-dlls" "${from[@]}" --windows "$wine_dlls" "$dest" "$@"
}

# A new wine prefix in folder $1, set up as Windows 10 (Qt 6 expects it); exported.
make_wine_prefix() {
  export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wine winecfg -v win10 >/dev/null 2>&1
}

# Where wine finds the DLLs of programs run from the build folder (needs WINEPREFIX).
windows_dll_path() {
  local f path=()
  find_windows_dll_folders
  for f in "${windows_dll_folders[@]}"; do path+=("$(winepath -w "$f")"); done
  (IFS=';'; echo "${path[*]}")
}
