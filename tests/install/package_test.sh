#!/usr/bin/env bash
# The Debian package, checked without installing anything on this machine:
# cpack builds it from the build tree; its fields and file list are what a
# system expects; lintian finds no error; the desktop entry and the AppStream
# metainfo validate; the man pages and completions know every option --help
# lists; and the player unpacked with dpkg-deb into a temporary root, where
# no build tree and no $LUMENVORTEX_PLUGIN can help it, renders a video with
# the plug-in it was shipped with. So does one installed by cmake --install
# under another prefix.
# Usage: package_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
for tool in cpack dpkg-shlibdeps lintian desktop-file-validate appstreamcli groff ffprobe; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing: run scripts/setup" >&2; exit 1; }
done

version=$("$build/bin/lumenvortex" --version | awk '{print $2}')
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)

(cd "$build" && cpack --config CPackConfig.cmake -B "$tmp/cpack" >"$tmp/cpack.log" 2>&1) ||
    { cat "$tmp/cpack.log" >&2; echo "FAIL: cpack" >&2; exit 1; }
deb="$tmp/cpack/lumenvortex_${version}_${arch}.deb"
[ -f "$deb" ] || { ls "$tmp/cpack" >&2; echo "FAIL: no package named lumenvortex_${version}_${arch}.deb" >&2; exit 1; }

# --- control fields: one version, computed and run-time dependencies
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Version)" = "$version" ] || fail "Version $(field Version), the programs say $version"
[ "$(field Section)" = sound ] || fail "Section $(field Section)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
depends=$(field Depends)
for dep in libc6 libsdl2-2.0-0 libavcodec59 libegl-mesa0 libgl1-mesa-dri fonts-adf-gillius; do
    grep -qE "(^|, )$dep( |,|$)" <<<"$depends" || fail "Depends lacks $dep: $depends"
done
grep -q fonts-noto-color-emoji <<<"$(field Recommends)" || fail "Recommends lacks fonts-noto-color-emoji"

# --- the file list: the programs, the plug-in, the desktop files, nothing else
dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | sed 's#^\./##' | sort >"$tmp/files"
{
    printf '%s\n' usr/bin/corvane usr/bin/lumenvortex "usr/lib/$multiarch/lumenvortex/Lumenvortex.so" \
        usr/share/applications/lumenvortex.desktop \
        usr/share/bash-completion/completions/corvane usr/share/bash-completion/completions/lumenvortex \
        usr/share/doc/lumenvortex/changelog.gz usr/share/doc/lumenvortex/copyright \
        usr/share/man/man1/corvane.1.gz usr/share/man/man1/lumenvortex.1.gz \
        usr/share/metainfo/org.lumenvortex.Lumenvortex.metainfo.xml
    for size in 16 22 24 32 48 64 128 256 512; do
        echo "usr/share/icons/hicolor/${size}x${size}/apps/lumenvortex.png"
    done
} | sort >"$tmp/expected"
diff -u "$tmp/expected" "$tmp/files" >&2 || fail "the package's files (- expected, + in the package)"

# --- lintian: no error (it warns that it runs as root)
lintian --fail-on error "$deb" >"$tmp/lintian.log" 2>&1 || { cat "$tmp/lintian.log" >&2; fail "lintian"; }

root="$tmp/root"
dpkg-deb -x "$deb" "$root"

# --- desktop entry and metainfo
desktop-file-validate "$root/usr/share/applications/lumenvortex.desktop" >&2 || fail "desktop-file-validate"
grep -qx 'Exec=lumenvortex %F' "$root/usr/share/applications/lumenvortex.desktop" || fail "Exec is not 'lumenvortex %F'"
metainfo="$root/usr/share/metainfo/org.lumenvortex.Lumenvortex.metainfo.xml"
appstreamcli validate --no-net "$metainfo" >"$tmp/appstream.log" 2>&1 || { cat "$tmp/appstream.log" >&2; fail "appstreamcli validate"; }
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo's release is not $version"
for size in 16 48 256; do
    png="$root/usr/share/icons/hicolor/${size}x${size}/apps/lumenvortex.png"
    [ "$(file -b "$png" | grep -o "$size x $size")" = "$size x $size" ] || fail "icon $png: $(file -b "$png")"
done

# --- man pages and completions: every option --help lists, no roff warning
for program in lumenvortex corvane; do
    "$root/usr/bin/$program" --help | grep -oE '^  (-[a-zA-Z], )?--[a-z][a-z-]*' | grep -oE -- '--[a-z-]+' >"$tmp/options"
    [ "$(wc -l <"$tmp/options")" -ge 8 ] || fail "$program --help lists only $(wc -l <"$tmp/options") options"
    zcat "$root/usr/share/man/man1/$program.1.gz" >"$tmp/$program.1"
    LC_ALL=C.UTF-8 groff -man -ww -z -Tutf8 "$tmp/$program.1" 2>"$tmp/groff.log"
    [ ! -s "$tmp/groff.log" ] || { cat "$tmp/groff.log" >&2; fail "groff warns about $program(1)"; }
    LC_ALL=C.UTF-8 groff -man -Tutf8 -P-cbou "$tmp/$program.1" 2>/dev/null >"$tmp/$program.txt"
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES; do
        grep -q "^$section" "$tmp/$program.txt" || fail "$program(1) has no $section section"
    done
    # What bash offers after "--": the completion run as bash runs it.
    offered=$(bash -c 'source "$1"; COMP_WORDS=("$2" --); COMP_CWORD=1; "_$2"; printf "%s\n" "${COMPREPLY[@]}"' \
        _ "$root/usr/share/bash-completion/completions/$program" "$program")
    while read -r option; do
        grep -qE -- "^ *(-[a-zA-Z], )?${option}( |,|$)" "$tmp/$program.txt" || fail "$program(1) does not list $option"
        grep -qx -- "$option" <<<"$offered" || fail "the completion of $program does not offer $option"
    done <"$tmp/options"
done
grep -q '^KEYS IN THE WINDOW' "$tmp/lumenvortex.txt" || fail "lumenvortex(1) lists no keys"
complete_words() {   # what the completion offers for the words given, the last one being completed
    bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _lumenvortex; printf "%s\n" "${COMPREPLY[@]}"' \
        _ "$root/usr/share/bash-completion/completions/lumenvortex" lumenvortex "$@"
}
[ "$(complete_words --preset very | sort | tr '\n' ' ')" = "veryfast veryslow " ] || fail "--preset very: $(complete_words --preset very)"
mkdir "$tmp/songs" && touch "$tmp/songs/a song.flac"
[ "$(cd "$tmp" && complete_words songs/a)" = "songs/a song.flac" ] || fail "a file name with a space: $(cd "$tmp" && complete_words songs/a)"
[ -z "$(complete_words --fps 3)" ] || fail "--fps offers words: $(complete_words --fps 3)"

# --- the unpacked player renders with its own plug-in
cd "$tmp"
if ! env -u LUMENVORTEX_PLUGIN "$root/usr/bin/lumenvortex" --verbose --render "$tmp/two.mp4" --duration 2 \
        --fps 30 --size 320x240 >"$tmp/render.log" 2>&1; then
    cat "$tmp/render.log" >&2
    fail "the unpacked player did not render"
fi
grep -q "visualizer plug-in $root/usr/bin/../lib/$multiarch/lumenvortex/Lumenvortex.so" "$tmp/render.log" ||
    { grep "plug-in" "$tmp/render.log" >&2; fail "the unpacked player did not load the plug-in it was shipped with"; }
frames=$(ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$tmp/two.mp4" || true)
[ "$frames" = 60 ] || fail "the video has ${frames:-no} frames, not 60"

# --- cmake --install under another prefix, through DESTDIR: the same files,
# and the player there finds its plug-in too
DESTDIR="$tmp/staged" cmake --install "$build" --prefix /opt/lumenvortex >/dev/null
staged="$tmp/staged/opt/lumenvortex"
(cd "$staged" && find . -type f | sed 's#^\./#usr/#' | sort) >"$tmp/staged-files"
diff -u "$tmp/expected" "$tmp/staged-files" >&2 || fail "cmake --install --prefix /opt/lumenvortex (- in the package, + there)"
env -u LUMENVORTEX_PLUGIN "$staged/bin/lumenvortex" --verbose --render "$tmp/short.mp4" --duration 0.2 --fps 10 \
    --size 64x64 >"$tmp/staged.log" 2>&1 || { cat "$tmp/staged.log" >&2; fail "the player under /opt did not render"; }
grep -q "visualizer plug-in $staged/bin/../lib/$multiarch/lumenvortex/Lumenvortex.so" "$tmp/staged.log" ||
    fail "the player under /opt did not load its own plug-in"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "the package lumenvortex_${version}_${arch}.deb passes"
