#!/bin/sh
# Fetches the real signed files the tests check against, with `npm pack`, into a cache
# folder (never into the repository), and checks each file against its pinned SHA-256.
# Usage: fetch-fixtures.sh [DEST]   (default: $XDG_CACHE_HOME/varko/fixtures)
# Exit status: 0 all present and checked, 2 the registry could not be reached, 1 otherwise.
set -eu
dest=${1:-${XDG_CACHE_HOME:-$HOME/.cache}/varko/fixtures}
mkdir -p "$dest"
# Tests run in parallel and each may call this: one fetches, the others wait and reuse.
if command -v flock >/dev/null 2>&1; then
    exec 9>"$dest/.lock"
    flock 9
fi
command -v npm >/dev/null 2>&1 || { echo "fetch-fixtures: npm is not installed" >&2; exit 2; }

fetch() {
    package=$1 file=$2 sum=$3
    dir="$dest/$(printf '%s' "$package" | tr '/@' '__')"
    stamp="$dir/.sha256"
    # Every test process calls this, and hashing a few hundred megabytes each time is slow:
    # a stamp that names the sum and is no older than the file stands for the check.
    if [ -f "$dir/$file" ] && [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$sum" ] && ! [ "$dir/$file" -nt "$stamp" ]; then
        return 0
    fi
    if [ -f "$dir/$file" ] && printf '%s  %s\n' "$sum" "$dir/$file" | sha256sum -c --status; then
        printf '%s\n' "$sum" >"$stamp"
        return 0
    fi
    rm -rf "$dir"
    mkdir -p "$dir"
    if ! tgz=$(cd "$dir" && npm pack --silent "$package" 2>/dev/null); then
        echo "fetch-fixtures: $package: the npm registry cannot be reached" >&2
        rm -rf "$dir"
        exit 2
    fi
    tar xzf "$dir/$tgz" -C "$dir"
    rm -f "$dir/$tgz"
    if ! printf '%s  %s\n' "$sum" "$dir/$file" | sha256sum -c --status; then
        echo "fetch-fixtures: $package: $file does not have the pinned SHA-256" >&2
        rm -rf "$dir"
        exit 1
    fi
    printf '%s\n' "$sum" >"$stamp"
    echo "$dir/$file"
}

# Universal, Developer ID, hardened runtime, timestamped.
fetch @sentry/cli-darwin@3.8.0 package/bin/sentry-cli 2c26914636c47ab9bf9e710484ad7b44d371cbec8bd29cafb36b3cf877bf4285
# arm64, ad hoc and linker-signed.
fetch @esbuild/darwin-arm64@0.28.2 package/bin/esbuild 10b6243df618d374bb2d5c9cfbe7052e1405f6aa4e53a6164f11a91b9f2e1384
# Universal: the x86_64 slice unsigned, the arm64 slice ad hoc.
fetch fsevents@2.3.3 package/fsevents.node 40f2f51199e4f5fc46fa6b985fb3461bb63e6cd86c62bfa9bcee45ed4438d5fb
# x86_64, Developer ID, hardened runtime, timestamped; its CMS is BER with indefinite lengths.
fetch @oven/bun-darwin-x64@1.4.5 package/bin/bun 88f97645b270aef20f9f9442f1658461cab3e7128e658af4615144e3396f084a
# arm64, Developer ID, hardened runtime, BER CMS, no entitlements.
fetch @typescript/native-preview-darwin-arm64@7.0.0-dev.20260707.2 package/lib/tsgo 63d89ecb27497f264b4c3ecb0e4f6d2cf09896803a81fff027ecfb336f8974e2
# Universal: the x86_64 slice unsigned, the arm64 slice ad hoc and linker-signed.
fetch @mariozechner/clipboard-darwin-universal@0.3.9 package/clipboard.darwin-universal.node 36c72d4328ec4cf02669a1644f58b018044182c45c307e15f863acc01df08fec
# arm64, ad hoc and linker-signed, large.
fetch @biomejs/cli-darwin-arm64@2.6.9 package/biome 7c046458c6505ebb043f2e3402f17fbe185bf311e288ed51ed80cc38b102c6f5
