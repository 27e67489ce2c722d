#!/usr/bin/env bash
# Checks the arrows between the folders of src/: every `#include "folder/..."` in src/FOLDER must
# name FOLDER itself or a folder FOLDER may use. Names each include against the arrows (file,
# line, arrow) and exits 1 when there is one. The build keeps the same arrows by the include
# roots it gives each library (src/CMakeLists.txt).
#   scripts/check_layers.sh [TOP]     TOP: the repository (default: this script's)
set -euo pipefail
top=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
cd "$top"

# What each folder may include besides itself.
arrows='
programs: ui camctl startup session lpt serial frames protocol emulator
camctl: startup session lpt serial frames protocol
ui: startup session lpt serial frames protocol
session: lpt serial frames protocol
lpt: frames protocol
serial: frames protocol
frames: protocol
emulator: protocol
startup:
protocol:
'

find src -mindepth 2 -type f \( -name '*.h' -o -name '*.cpp' \) -print0 | sort -z |
    xargs -0 awk -v arrows="$arrows" '
        BEGIN {
            n = split(arrows, lines, "\n")
            for (i = 1; i <= n; ++i) {
                if (split(lines[i], parts, ":") < 2) continue
                allowed[parts[1]] = parts[2]
            }
        }
        FNR == 1 {
            split(FILENAME, path, "/")
            folder = path[2]
            if (!(folder in allowed) && !(folder in told)) {
                printf "src/%s: a folder with no arrows; add it to scripts/check_layers.sh\n", folder > "/dev/stderr"
                told[folder] = 1
                bad = 1
            }
        }
        /^[ \t]*#[ \t]*include[ \t]*"[^"\/]+\// {
            target = $0
            sub(/^[^"]*"/, "", target)
            sub(/\/.*/, "", target)
            if (target == folder || !(folder in allowed) || index(allowed[folder] " ", " " target " ")) next
            may = allowed[folder]
            sub(/^ +/, "", may)
            printf "%s:%d: %s -> %s is against the arrows (%s may include: %s)\n", FILENAME, FNR, folder, target, folder, (may == "" ? "nothing else" : may) > "/dev/stderr"
            bad = 1
        }
        END {
            if (bad) exit 1
            print "Includes in src/ follow the arrows."
        }' || exit 1
