#!/bin/sh
# Builds the tool and starts it against three simulated cameras, in a scratch
# folder (demo/) that holds the two firmware images as a technician's would.
set -eu
cd "$(dirname "$0")"
cmake --preset default >/dev/null
cmake --build --preset default >/dev/null
rm -rf demo && mkdir demo
cp build/default/firmware/*.bin demo/
cd demo
KVX_SIM_CAMERA=../simcam/profiles/demo.txt exec ../build/default/q713-update
