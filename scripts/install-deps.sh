#!/bin/sh
# Installs the Debian packages that building, running and testing Varko need.
# Idempotent: when every package is present it returns without touching apt.
set -eu
packages="build-essential cmake ninja-build pkg-config ccache clang clang-format libclang-rt-14-dev
clang-19 libc++-19-dev libc++abi-19-dev
qt6-base-dev libpoppler-qt6-dev python3 python3-cryptography python3-jsonschema openssl libfast-float-dev libpugixml-dev libre2-dev libsimdjson-dev libssl-dev zlib1g-dev
libgtest-dev libgmock-dev libbenchmark-dev desktop-file-utils shared-mime-info
libsystemd-dev systemd systemd-journal-remote unrtf qt6-qpa-plugins xvfb xauth fonts-dejavu-core fonts-noto-color-emoji
appstream groff-base python3-yaml libsqlite3-dev libarchive-dev liblzma-dev cpio 7zip genisoimage"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
# npm fetches the real-world test files; a Node.js from elsewhere brings its own
# npm, which Debian's package would conflict with.
command -v npm >/dev/null 2>&1 || missing="$missing npm"
[ -z "$missing" ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages:$missing (run as root to install them)" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends $missing
