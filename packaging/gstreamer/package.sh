#!/usr/bin/env bash
# Makes gstreamer1.0-lumenvortex_<version>_<arch>.deb from a build tree: the
# element installed with `cmake --install --component gstreamer`, stripped as
# Debian ships it, its copyright and changelog, and a control file whose
# Depends dpkg-shlibdeps computes (plus the Mesa drivers and the overlay's
# font, which no linker sees). Prints the package's path.
# Usage: packaging/gstreamer/package.sh BUILD_DIR OUT_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

version=$(sed -n 's/^Version: //p' "$build/packaging/gstreamer/control.in")
arch=$(dpkg --print-architecture)
root="$work/root"
DESTDIR="$root" cmake --install "$build" --component gstreamer --prefix /usr >/dev/null
module=$(find "$root/usr/lib" -name libgstlumenvortex.so)
[ -f "$module" ] || { echo "no libgstlumenvortex.so in the build's install: build the gstlumenvortex target" >&2; exit 1; }
strip --strip-unneeded --remove-section=.comment --remove-section=.note "$module"
doc="$root/usr/share/doc/gstreamer1.0-lumenvortex"
install -d "$doc"
install -m 644 "$build/packaging/copyright" "$doc/copyright"
gzip -9n <"$build/packaging/gstreamer/changelog" >"$doc/changelog.gz"
chmod 644 "$doc/changelog.gz"

# dpkg-shlibdeps reads debian/control from where it runs.
mkdir -p "$work/shlibs/debian"
printf 'Source: gstreamer1.0-lumenvortex\n\nPackage: gstreamer1.0-lumenvortex\nArchitecture: any\n' \
    >"$work/shlibs/debian/control"
shlibs=$(cd "$work/shlibs" && dpkg-shlibdeps -O "$module" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
depends="$shlibs, libegl-mesa0, libgl1-mesa-dri, fonts-adf-gillius"
size=$(du -sk --apparent-size "$root/usr" | cut -f1)

install -d -m 755 "$root/DEBIAN"
sed -e "s/@LV_DEB_ARCH@/$arch/" -e "s/@LV_INSTALLED_SIZE@/$size/" -e "s/@LV_DEPENDS@/$depends/" \
    "$build/packaging/gstreamer/control.in" >"$root/DEBIAN/control"
(cd "$root" && find usr -type f -exec md5sum {} + | sort -k2) >"$root/DEBIAN/md5sums"
chmod 644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"
find "$root" -type d -exec chmod 755 {} +
deb="$out/gstreamer1.0-lumenvortex_${version}_${arch}.deb"
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$deb"
