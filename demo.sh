#!/bin/sh
# Builds the tool and starts it against three simulated cameras, in a scratch
# folder (demo/) that holds the two firmware images as a technician's would.
# Only what the demo runs is built, so a fresh clone shows the banner in seconds.
set -eu
cd "$(dirname "$0")"
cmake --preset default >/dev/null
cmake --build --preset default --target q713-update KvxQ713 simcam_firmware >/dev/null
rm -rf demo && mkdir demo
cp build/default/firmware/*.bin demo/
cd demo
KVX_SIM_CAMERA=../simcam/profiles/demo.txt exec ../build/default/q713-update
