"""Writes the site's service worker: web/shell/sw.js with its markers
replaced by the site's files and a cache name made from their contents.

    python3 write_sw.py SW_TEMPLATE SITE_DIR   ->  SITE_DIR/sw.js
"""
import hashlib
import json
import os
import sys


def site_files(site):
    """Every file of the site but the worker itself, as page-relative
    addresses, sorted; the folder's own address ("./") stands for
    index.html, as visitors ask for it."""
    files = ["./"]
    for folder, _, names in os.walk(site):
        for name in names:
            path = os.path.relpath(os.path.join(folder, name), site).replace(os.sep, "/")
            if path != "sw.js":
                files.append(path)
    return sorted(files)


def main():
    template, site = sys.argv[1], sys.argv[2]
    files = site_files(site)
    digest = hashlib.sha256()
    for path in files[1:]:
        digest.update(path.encode())
        with open(os.path.join(site, path), "rb") as f:
            digest.update(f.read())
    with open(template, encoding="utf-8") as f:
        text = f.read()
    for marker in ("@CACHE@", "@FILES@"):
        if marker not in text:
            sys.exit(f"write_sw.py: {template} has no {marker}: it is not the worker's template")
    text = text.replace("@CACHE@", "lumenvortex-" + digest.hexdigest()[:16])
    text = text.replace("@FILES@", json.dumps(files))
    with open(os.path.join(site, "sw.js"), "w", encoding="utf-8") as f:
        f.write(text)


if __name__ == "__main__":
    main()
