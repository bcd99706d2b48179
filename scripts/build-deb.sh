#!/usr/bin/env bash
# Builds the Debian package zelkor2d_<version>_<arch>.deb in build-deb/ (Release, Debian's hardening
# flags, binaries stripped) and checks it with lintian. Further arguments go to the CMake configure
# step, for example -DZELKOR2D_SENSOR_USB_IDS="1234:abcd".
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
scripts/install-deps.sh
scripts/install-deps.sh scripts/packages-deb.txt
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
# -fno-ident: no compiler version strings in a .comment section that stripping leaves behind.
cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release -DZELKOR2D_TESTS=OFF -DZELKOR2D_BENCH=OFF \
    -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS) -fno-ident" \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS) -fno-ident" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" "$@"
cmake --build build-deb --parallel "$(nproc)"
rm -f build-deb/zelkor2d_*.deb
(cd build-deb && cpack -G DEB)
deb=$(ls build-deb/zelkor2d_*.deb)
# Errors fail the build; the warnings and notes left are explained in the README.
lintian --info --display-info --fail-on error "$deb"
echo "built $deb"
