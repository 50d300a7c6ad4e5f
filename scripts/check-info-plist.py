#!/usr/bin/env python3
"""Checks the application bundle's Info.plist: a menu-bar application (no Dock icon) whose
executable, identifier and oldest macOS are the ones the build uses.

Usage: check-info-plist.py <Info.plist> <executable file name> <deployment target>
"""
import plistlib
import re
import sys


def problems(info, executable, deployment_target):
    expected = {
        "LSUIElement": True,
        "CFBundleExecutable": executable,
        "LSMinimumSystemVersion": deployment_target,
        "NSPrincipalClass": "NSApplication",
        "CFBundlePackageType": "APPL",
    }
    for key, value in expected.items():
        if info.get(key) != value:
            yield f"{key} is {info.get(key)!r}, expected {value!r}"
    identifier = info.get("CFBundleIdentifier", "")
    if not re.fullmatch(r"[A-Za-z0-9-]+(\.[A-Za-z0-9-]+)+", str(identifier)):
        yield f"CFBundleIdentifier {identifier!r} is not a reverse-DNS identifier"
    for key in ("CFBundleShortVersionString", "CFBundleVersion"):
        if not re.fullmatch(r"\d+(\.\d+){0,2}", str(info.get(key, ""))):
            yield f"{key} {info.get(key)!r} is not a version of up to three numbers"


def main(argv):
    if len(argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    path, executable, deployment_target = argv[1:]
    try:
        with open(path, "rb") as file:
            info = plistlib.load(file)
    except (OSError, plistlib.InvalidFileException, ValueError) as error:
        print(f"{path}: not a readable property list: {error}", file=sys.stderr)
        return 1
    found = list(problems(info, executable, deployment_target))
    for problem in found:
        print(f"{path}: {problem}", file=sys.stderr)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
