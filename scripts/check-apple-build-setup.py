#!/usr/bin/env python3
"""Checks the parts of the Mac build set-up that a Linux machine can read: the macOS presets
(only on a Mac; the sanitizer build without libFuzzer, which Apple clang lacks, and without
LeakSanitizer, which Apple's ASan refuses) and Objective-C++ enabled in the top-level
CMakeLists.txt, where CMake needs it.

Usage: check-apple-build-setup.py <source directory>
"""
import json
import pathlib
import re
import sys


def preset_problems(presets):
    configure = {p["name"]: p for p in presets.get("configurePresets", [])}

    def parents(name):
        inherits = configure[name].get("inherits", [])
        return inherits if isinstance(inherits, list) else [inherits]

    def resolved(name, key):
        # A preset's own settings over those it inherits.
        merged = {}
        for parent in parents(name):
            merged.update(resolved(parent, key))
        merged.update(configure[name].get(key, {}))
        return merged

    def condition(name):
        if "condition" in configure[name]:
            return configure[name]["condition"]
        return next((condition(p) for p in parents(name) if condition(p)), None)

    mac = [name for name in configure if name.startswith("macos") and
           not configure[name].get("hidden")]
    for name in ("macos-dev", "macos", "macos-release"):
        if name not in mac:
            yield f"configure preset {name} is missing"
    for name in mac:
        if condition(name) != {"type": "equals", "lhs": "${hostSystemName}", "rhs": "Darwin"}:
            yield f"configure preset {name} is not limited to macOS hosts"
        variables = resolved(name, "cacheVariables")
        if "$env{HOMEBREW_PREFIX}" not in variables.get("CMAKE_PREFIX_PATH", ""):
            yield f"configure preset {name} does not look in $HOMEBREW_PREFIX"
        flags = " ".join(str(v) for k, v in variables.items() if k.endswith("FLAGS"))
        if "fuzzer" in flags or variables.get("VELLORA_BUILD_FUZZERS", "OFF") != "OFF":
            yield f"configure preset {name} builds with libFuzzer"
    for test in presets.get("testPresets", []):
        if test.get("configurePreset") in mac:
            options = test.get("environment", {}).get("ASAN_OPTIONS", "")
            variables = resolved(test["configurePreset"], "cacheVariables")
            uses_asan = any("fsanitize=address" in str(v) for v in variables.values())
            if uses_asan and "detect_leaks=0" not in options:
                yield f"test preset {test['name']} asks Apple's ASan for leak checks"


def language_problems(source):
    for path in sorted(source.rglob("CMakeLists.txt")):
        relative = path.relative_to(source)
        if relative.parts[0] == "build":
            continue
        if re.search(r"enable_language\s*\(\s*OBJCXX", path.read_text()) and \
                relative != pathlib.Path("CMakeLists.txt"):
            yield f"{relative} enables OBJCXX; only the top-level CMakeLists.txt may"
    if not re.search(r"project\([^)]*\)\s*\nif\(APPLE\)[^\n]*\n(\s*#[^\n]*\n)*\s*enable_language"
                     r"\(OBJCXX\)", (source / "CMakeLists.txt").read_text()):
        yield "CMakeLists.txt does not enable OBJCXX on Apple right after project()"


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    source = pathlib.Path(argv[1])
    presets = json.loads((source / "CMakePresets.json").read_text())
    found = list(preset_problems(presets)) + list(language_problems(source))
    for problem in found:
        print(problem, file=sys.stderr)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
