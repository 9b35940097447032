# shellcheck shell=bash
# The window's icon, Orbisk.png beside config.txt: missing, no file to read, or far too large.

test_MissingIcon() {
    rm "$WORK/Orbisk.png"
    run_window "region_size = 55"
    close_exits_zero
    expect_no_dialog
}

# An Orbisk.png that is no file to read, reached directly or through a link: the window opens without the icon
# and serves the close request.
test_IconNotARegularFile() {
    local kind
    with_display
    write_config "region_size = 55"
    for kind in pipe link-to-pipe; do
        rm -f "$WORK/Orbisk.png" "$WORK/pipe"
        case $kind in
        pipe) mkfifo "$WORK/Orbisk.png" ;;
        link-to-pipe) mkfifo "$WORK/pipe" && ln -s pipe "$WORK/Orbisk.png" ;;
        esac
        start_orbisk
        expect_drawn_and_closed "$WORK/$kind.png"
    done
}

# setup_huge_icon: Orbisk.png is a 10000 x 10000 PNG of one colour (ImageMagick's default limits refuse that size).
setup_huge_icon() {
    python3 - "$WORK/Orbisk.png" <<'PY'
import struct, sys, zlib
side = 10000
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
row = b"\0" + bytes([48, 128, 255, 255]) * side
packer = zlib.compressobj(9)
pixels = b"".join(packer.compress(row) for _ in range(side)) + packer.flush()
with open(sys.argv[1], "wb") as f:
    f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", pixels) + chunk(b"IEND", b""))
PY
}

# A valid icon far larger than any desktop shows is scaled down to one. Task bars find it in _NET_WM_ICON even
# without a window manager that lists the property as supported, as here.
test_HugeIcon() {
    local icon
    setup_huge_icon
    run_window "region_size = 55"
    # Decoding 400 MB of pixels takes seconds before the first frame.
    retry 120 shot_showing "$WID" "$WORK/shot.png" 1 || die "the window showed no particles"
    # The width, the height, then the first pixel as 0xAARRGGBB: opaque red 48, green 128, blue 255.
    icon=$(xprop -id "$WID" -notype 32c _NET_WM_ICON | cut -c 1-40)
    [[ $icon == "_NET_WM_ICON = 256, 256, $((0xFF3080FF)),"* ]] ||
        die "the window icon is not 256 x 256 pixels of the picture's colour: $icon"
    close_exits_zero
}

# A close request that is waiting before the first frame (the icon takes seconds to decode) ends the program
# quietly: the frame in which the window closes has nothing to draw into, which says nothing about the driver.
test_CloseBeforeFirstFrame() {
    setup_huge_icon
    run_window "region_size = 55"
    END_SECONDS=120 close_exits_zero
    ! grep -q "Drawing without" "$WORK/stderr" || die "standard error: $(cat "$WORK/stderr")"
}

# An icon whose pixels the memory cannot hold leaves the default icon, as one that cannot be read does: the window
# opens and serves the close request, and no box is shown. Its 400 MB of pixels fail to be allocated; nothing else
# the program allocates comes near 100 MB.
test_HugeIconWithoutMemory() {
    setup_huge_icon
    with_display
    write_config "region_size = 55"
    launch env LD_PRELOAD="$FAIL_ALLOC_LIBRARY" FAIL_ALLOCATIONS_ABOVE=100000000
    WID=$(orbisk_window)
    # Decoding the picture takes seconds before the first frame.
    retry 120 shot_showing "$WID" "$WORK/shot.png" 1 || die "the window showed no particles"
    [[ $(xprop -id "$WID" -notype 32c _NET_WM_ICON) != "_NET_WM_ICON = "* ]] || die "the window has an icon"
    close_exits_zero
    expect_no_dialog
}
