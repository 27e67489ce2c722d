#!/usr/bin/env bash
# Builds a simulator of your design behind the PC's parallel port, with Verilator:
#   scripts/build_hdl_sim.sh OUTPUT TOP FILE...
# TOP is your testbench's top module: it makes the clock and instantiates lpt_port_bridge
# (hdl/lpt_port_bridge.sv) and the design; FILE... are its sources (.sv, .v, and any C++ of
# yours). The bridge's sources are added. Run the simulator with +lpt_socket=PATH, then
# SPI --port-io=unix:PATH or camctl --spi --port-io=unix:PATH. Waveforms are built in (FST): a
# testbench that calls $dumpfile and $dumpvars writes one ($value$plusargs("trace=%s", ...)
# gives +trace=FILE, as hdl/camera_module_tb.sv does).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [ $# -lt 3 ]; then
    echo "usage: $0 OUTPUT TOP FILE..." >&2
    exit 2
fi
output=$1
testbench=$2
shift 2
if ! command -v verilator > /dev/null; then
    echo "$0: needs Verilator 5 (sudo apt-get install verilator)" >&2
    exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
verilator --binary -j 0 --trace-fst --top-module "$testbench" --Mdir "$work" -o simulator \
    -CFLAGS "-std=c++20 -I$top/src -I$top/hdl/bridge" \
    "$top/hdl/lpt_port_bridge.sv" "$top/hdl/bridge/lpt_bridge_server.cpp" \
    "$top/hdl/bridge/lpt_port_bridge_dpi.cpp" "$@"
cp "$work/simulator" "$output"
echo "built $output"
