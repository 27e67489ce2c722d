#!/usr/bin/env bash
# Takes the README's screenshots: each window on the emulated module under a virtual display, a
# frame captured, read and viewed, in Russian and in English, and the pins of a capture in
# GTKWave. Needs xvfb, xdotool,
# imagemagick and gtkwave:
#   sudo apt-get install xvfb xdotool imagemagick gtkwave
# A picture replaces the one in docs/ only when it was made whole: its program still running when
# it was taken, and something on the screen.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin="$top/build/src/programs"
out="$top/docs"

missing=()
for tool in xvfb-run xdotool import convert gtkwave; do
    command -v "$tool" > /dev/null || missing+=("$tool")
done
for program in SPI comtrak camctl; do
    [ -x "$bin/$program" ] || missing+=("$bin/$program (build it first)")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "screenshots.sh: missing: ${missing[*]}" >&2
    echo "  sudo apt-get install xvfb xdotool imagemagick gtkwave" >&2
    exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

# Moves the picture taken at $1 to docs/$2 when it holds more than one colour.
keep() {
    local shot=$1 name=$2
    if [ ! -s "$shot" ] || [ "$(convert "$shot" -format '%[fx:standard_deviation>0]' info:)" != 1 ]; then
        echo "screenshots.sh: $name came out blank; docs/$name is left as it was" >&2
        return 1
    fi
    mv "$shot" "$out/$name"
}

# Runs the command $1 under a virtual display of size $2, then the steps $3, and takes the screen
# into $4 while the command still runs; fails when it had ended.
shoot_screen() {
    local command=$1 size=$2 steps=$3 shot=$4
    xvfb-run -a -s "-screen 0 ${size}x24" bash -c "
        $command > /dev/null 2>&1 &
        program=\$!
        $steps
        kill -0 \$program 2> /dev/null || { echo 'the program ended before the picture' >&2; exit 1; }
        import -window root '$shot'
        kill \$program"
}

# Button centres in pixels (the layout's twips / 15).
capture="408 356"
read_frame="408 388"
view="408 420"

shoot_window() {
    local program=$1 wait_for_frame=$2 file=$3 language=$4
    shoot_screen "'$bin/$program' --emulator --lang=$language" 800x600 "
        sleep 2
        xdotool mousemove $capture click 1; sleep 0.5
        xdotool mousemove $read_frame click 1; sleep $wait_for_frame
        xdotool mousemove $view click 1; sleep 3" "$work/screen.png"
    convert "$work/screen.png" -crop 657x504+0+0 +repage "$work/$file"
    keep "$work/$file" "$file"
}

shoot_window SPI 2 spi-window.png ru
shoot_window SPI 2 spi-window-en.png en
# At 2400 baud a frame of a few kilobytes takes about 20 seconds to arrive.
shoot_window comtrak 25 comtrak-window.png ru
shoot_window comtrak 25 comtrak-window-en.png en

# The pins of a register write, the capture command and the first frame bytes, as GTKWave shows
# them: access-numbered times, so the picture is the same every time.
(cd "$work" && "$bin/camctl" --emulator=spi --vcd=c.vcd --vcd-time=accesses --quiet \
    capture -n 1 -o f%d.jpg > /dev/null)
cat > "$work/view.tcl" << 'EOF'
gtkwave::addSignalsFromList {lpt1.cs lpt1.sck lpt1.mosi lpt1.miso lpt1.ready lpt1.register_write lpt1.command lpt1.frame}
gtkwave::setZoomRangeTimes 360 610
EOF
shoot_screen "gtkwave -S '$work/view.tcl' '$work/c.vcd'" 1000x420 "sleep 8" "$work/gtkwave.png"
keep "$work/gtkwave.png" vcd-gtkwave.png

echo "wrote in $out: spi-window.png, spi-window-en.png, comtrak-window.png, comtrak-window-en.png" \
    "and vcd-gtkwave.png"
