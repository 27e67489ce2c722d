#!/usr/bin/env bash
# Takes the README's screenshots: each window on the emulated module under a virtual display, a
# frame captured, read and viewed, and the pins of a capture in GTKWave. Needs xvfb, xdotool,
# imagemagick and gtkwave:
#   sudo apt-get install xvfb xdotool imagemagick gtkwave
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin="$top/build/src/programs"
out="$top/docs"
mkdir -p "$out"

# Button centres in pixels (the layout's twips / 15).
capture="408 356"
read_frame="408 388"
view="408 420"

shoot() {
    local program=$1 wait_for_frame=$2 file=$3
    xvfb-run -a -s "-screen 0 800x600x24" bash -c "
        '$bin/$program' --emulator 2>/dev/null &
        sleep 2
        xdotool mousemove $capture click 1; sleep 0.5
        xdotool mousemove $read_frame click 1; sleep $wait_for_frame
        xdotool mousemove $view click 1; sleep 3
        import -window root /tmp/shot-\$\$.png
        convert /tmp/shot-\$\$.png -crop 657x504+0+0 +repage '$out/$file'
        rm -f /tmp/shot-\$\$.png
        kill %1"
}

shoot SPI 2 spi-window.png
# At 2400 baud a frame of a few kilobytes takes about 20 seconds to arrive.
shoot comtrak 25 comtrak-window.png
# The pins of a register write, the capture command and the first frame bytes, as GTKWave shows
# them: access-numbered times, so the picture is the same every time.
shoot_vcd() {
    local work
    work=$(mktemp -d)
    (cd "$work" && "$bin/camctl" --emulator=spi --vcd=c.vcd --vcd-time=accesses --quiet \
        capture -n 1 -o f%d.jpg > /dev/null)
    cat > "$work/view.tcl" << 'EOF'
gtkwave::addSignalsFromList {lpt1.cs lpt1.sck lpt1.mosi lpt1.miso lpt1.ready lpt1.register_write lpt1.command lpt1.frame}
gtkwave::setZoomRangeTimes 360 610
EOF
    xvfb-run -a -s "-screen 0 1000x420x24" bash -c "
        gtkwave -S '$work/view.tcl' '$work/c.vcd' > /dev/null 2>&1 &
        sleep 8
        import -window root '$out/vcd-gtkwave.png'
        kill %1"
    rm -rf "$work"
}

shoot_vcd
echo "wrote $out/spi-window.png, $out/comtrak-window.png and $out/vcd-gtkwave.png"
