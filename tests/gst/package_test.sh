#!/usr/bin/env bash
# The GStreamer element's package, checked without installing anything:
# packaging/gstreamer/package.sh makes it from the build tree; its fields and
# files are what Debian's GStreamer expects; lintian finds no error; and with
# only the package unpacked in reach (a registry and plug-in path of its own,
# no build tree), gst-inspect-1.0 shows the element of class Visualization,
# gst-launch-1.0 renders a song to an H.264 video, and playbin plays the song
# with it as its visualisation.
# Usage: package_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
version=$(sed -n 's/^Version: //p' "$build/packaging/gstreamer/control.in")
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)

deb=$("$source/packaging/gstreamer/package.sh" "$build" "$tmp/out")
[ "$(basename "$deb")" = "gstreamer1.0-lumenvortex_${version}_${arch}.deb" ] || fail "the package is named $(basename "$deb")"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = gstreamer1.0-lumenvortex ] || fail "Package $(field Package)"
for dep in libgstreamer1.0-0 libgstreamer-plugins-base1.0-0 libegl-mesa0 libgl1-mesa-dri libfftw3-single3; do
    grep -qE "(^|, )$dep( |,|$)" <<<"$(field Depends)" || fail "Depends lacks $dep: $(field Depends)"
done
dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | sed 's#^\./##' | sort >"$tmp/files"
printf '%s\n' "usr/lib/$multiarch/gstreamer-1.0/libgstlumenvortex.so" \
    usr/share/doc/gstreamer1.0-lumenvortex/changelog.gz usr/share/doc/gstreamer1.0-lumenvortex/copyright |
    sort >"$tmp/expected"
diff -u "$tmp/expected" "$tmp/files" >&2 || fail "the package's files (- expected, + in the package)"
lintian --fail-on error,warning "$deb" >"$tmp/lintian.log" 2>&1 || { cat "$tmp/lintian.log" >&2; fail "lintian"; }

root="$tmp/root"
dpkg-deb -x "$deb" "$root"
cd "$tmp"
run_gst() {   # the unpacked element alone: no build tree, no user registry
    env -u GST_PLUGIN_PATH GST_PLUGIN_PATH="$root/usr/lib/$multiarch/gstreamer-1.0" GST_REGISTRY="$tmp/registry.bin" \
        GST_REGISTRY_FORK=no "$@"
}
run_gst gst-inspect-1.0 lumenvortex >"$tmp/inspect.log" 2>&1 || { cat "$tmp/inspect.log" >&2; fail "gst-inspect-1.0 lumenvortex"; }
grep -qE '^ +Klass +Visualization$' "$tmp/inspect.log" || fail "the element's class is not Visualization"
grep -q "Filename .*$root/usr/lib/$multiarch/gstreamer-1.0/libgstlumenvortex.so" "$tmp/inspect.log" ||
    fail "gst-inspect-1.0 found the element elsewhere: $(grep Filename "$tmp/inspect.log")"

ffmpeg -v error -f lavfi -i "sine=frequency=110:duration=2" -ac 2 -metadata title="Package Song" "$tmp/song.flac"
run_gst gst-launch-1.0 -q filesrc location="$tmp/song.flac" ! decodebin ! audioconvert ! lumenvortex ! \
    video/x-raw,width=320,height=180,framerate=30/1 ! videoconvert ! x264enc ! mp4mux ! \
    filesink location="$tmp/song.mp4" >"$tmp/launch.log" 2>&1 || { cat "$tmp/launch.log" >&2; fail "gst-launch-1.0"; }
frames=$(ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames -of csv=p=0 \
    "$tmp/song.mp4" || true)
[ "$frames" = 60 ] || fail "the video has ${frames:-no} frames, not 60"

run_gst gst-launch-1.0 -q playbin uri="file://$tmp/song.flac" flags=audio+vis vis-plugin=lumenvortex \
    audio-sink=fakesink "video-sink=multifilesink sync=false max-files=1 location=$tmp/frame-%05d" \
    >"$tmp/playbin.log" 2>&1 || { cat "$tmp/playbin.log" >&2; fail "playbin with vis-plugin=lumenvortex"; }
[ -f "$tmp/frame-00119" ] || fail "playbin's visualisation did not reach its 120th frame: $(ls "$tmp" | grep frame-)"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "the package gstreamer1.0-lumenvortex_${version}_${arch}.deb passes"
