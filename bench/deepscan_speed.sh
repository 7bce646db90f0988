#!/bin/sh
# -deepscan against cat over a planted 512 MiB image: bench/carve_speed.sh.
#
#   bench/deepscan_speed.sh [path/to/rook] [path/to/shortcut.lnk] [MIB]
exec sh "$(dirname "$0")/carve_speed.sh" -deepscan "$@"
