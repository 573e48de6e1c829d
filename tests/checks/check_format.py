#!/usr/bin/env python3
"""Fails when a source file of the project differs from what clang-format makes of it with the
.clang-format at the root; names each such file."""
import pathlib
import subprocess
import sys

FOLDERS = ("src", "tests", "tools", "bench")


def main():
    root = pathlib.Path(sys.argv[1])
    clang_format = sys.argv[2] if len(sys.argv) > 2 else "clang-format"
    unformatted = []
    checked = 0
    for folder in FOLDERS:
        for path in sorted((root / folder).rglob("*")):
            if path.suffix not in (".h", ".cpp") or "corpus" in path.parts:
                continue
            checked += 1
            original = path.read_bytes()
            formatted = subprocess.run([clang_format, "--style=file", "--assume-filename", str(path)],
                                       input=original, capture_output=True, check=True,
                                       cwd=root).stdout
            if formatted != original:
                unformatted.append(path.relative_to(root))
    for path in unformatted:
        print(f"not formatted: {path} (clang-format -i {path})")
    print(f"format: {checked} files checked, {len(unformatted)} not formatted")
    return 1 if unformatted else 0


if __name__ == "__main__":
    sys.exit(main())
