#!/bin/sh
# Builds and runs every test.
set -eu
cd "$(dirname "$0")"
cmake --preset default
cmake --build --preset default
ctest --preset default
