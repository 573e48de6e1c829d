#!/usr/bin/env python3
"""Fails when a file includes a header from a layer above its own, or when a file outside the
platform includes a system header. The layers, lowest first, and what each may include:"""
import pathlib
import re
import sys

ALLOWED = {
    "platform": {"platform"},
    "workspace": {"platform", "workspace"},
    "iperf": {"platform", "workspace", "iperf"},
    "service": {"platform", "workspace", "iperf", "service"},
    "probes": {"platform", "workspace", "probes"},
    "testrun": {"platform", "workspace", "iperf", "service", "probes", "testrun"},
    "app": {"platform", "workspace", "iperf", "service", "probes", "testrun", "app"},
    "controls": {"platform", "controls"},
    "window": {"platform", "workspace", "iperf", "service", "probes", "testrun", "app",
               "controls", "window"},
}
# The test programs mirror the layers and may also reach their own helpers and the stand-ins.
TEST_EXTRAS = {"support", "tools"}
# Headers of the operating system: only the platform may include them.
SYSTEM_HEADER = re.compile(
    r"^(unistd|fcntl|poll|dlfcn|spawn|signal|pthread|netdb|pwd|grp|dirent|termios|windows|"
    r"winsock2|ws2tcpip|shellapi|winreg|process|io)\.h$|^(sys|netinet|arpa|linux)/")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def problems_of(path, layer, allowed, may_include_system):
    found = []
    for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
        match = INCLUDE.match(line)
        if not match:
            continue
        kind, header = match.groups()
        if kind == '"' and "/" in header:
            target = header.split("/", 1)[0]
            if target in ALLOWED and target not in allowed:
                found.append(f"{path}:{number}: {layer} includes {header} from a layer above")
        elif kind == "<" and SYSTEM_HEADER.search(header) and not may_include_system:
            found.append(f"{path}:{number}: {layer} includes the system header <{header}>")
    return found


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")
    problems = []
    for layer, allowed in ALLOWED.items():
        for path in sorted((root / "src" / layer).rglob("*")):
            if path.suffix in (".h", ".cpp"):
                problems += problems_of(path, layer, allowed, layer == "platform")
        for path in sorted((root / "tests" / layer).rglob("*")):
            if path.suffix in (".h", ".cpp"):
                problems += problems_of(path, "tests/" + layer, allowed | TEST_EXTRAS, True)
    for problem in problems:
        print(problem)
    print(f"layering: {len(problems)} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
