#!/usr/bin/env python3
"""The artwork generator's images.S as C++ arrays, for targets whose
assembler has no .incbin (WebAssembly). Reads which symbol includes which
file and the size it checks; writes the same symbols."""
import re
import sys


def main(source, target):
    text = open(source, encoding="utf-8").read()
    entries = re.findall(r'^(\w+):\n\s*\.incbin "([^"]+)"\n\s*\.if \. - \1 - (\d+)', text, re.M)
    if not entries:
        sys.exit(f"{source}: no .incbin entries found: rebuild lv-artwork-gen")
    out = ["// Generated from images.S by web/artwork_to_cpp.py.", "#include <cstddef>", ""]
    for name, path, size in entries:
        data = open(path, "rb").read()
        if len(data) != int(size):
            sys.exit(f"{path} is not {size} bytes: rebuild lv-artwork-gen")
        out.append(f"alignas(64) unsigned char {name}[{len(data)}] = {{")
        for i in range(0, len(data), 32):
            out.append(",".join(str(b) for b in data[i:i + 32]) + ",")
        out.append("};")
        out.append(f"extern const size_t {name}Size = {len(data)};")
        out.append("")
    with open(target, "w", encoding="utf-8") as f:
        f.write("\n".join(out))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
