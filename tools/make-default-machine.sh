#!/usr/bin/env bash
# Makes the sample machine machines/default: Windows NT 3.51 on x86, the
# user an administrator, the spooler running. Run from anywhere after a
# build; an existing machines/default is replaced.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -x build/bin/winsim ]; then
    echo "make-default-machine: build/bin/winsim is not built (run 'make build' first)" >&2
    exit 1
fi
rm -rf machines/default
build/bin/winsim new machines/default --os nt351 --arch x86 --user admin
build/bin/winsim show machines/default | head -n 1
