#!/bin/sh
# Builds the tool and starts it against three simulated cameras, in a scratch
# folder (demo/) that holds the two firmware images as a technician's would.
# The build (preset demo) leaves the tests out, so it needs only cmake, ninja
# and g++, which it installs as root with apt when they are missing; only what
# the demo runs is built, so a fresh clone shows the banner in seconds.
set -eu
cd "$(dirname "$0")"
need=
for tool in cmake:cmake ninja:ninja-build g++:g++; do
    command -v "${tool%%:*}" >/dev/null || need="$need ${tool#*:}"
done
if [ -n "$need" ]; then
    if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
        echo "Installing:$need"
        apt-get update -qq || apt-get update -qq || true
        # shellcheck disable=SC2086
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $need >/dev/null
    else
        echo "The demo needs:$need. Install them as root with: apt-get install -y$need" >&2
        exit 1
    fi
fi
cmake --preset demo >/dev/null
cmake --build --preset demo --target q713-update KvxQ713 simcam_firmware >/dev/null
rm -rf demo && mkdir demo
cp build/demo/firmware/*.bin demo/
cd demo
KVX_SIM_CAMERA=../simcam/profiles/demo.txt exec ../build/demo/q713-update
