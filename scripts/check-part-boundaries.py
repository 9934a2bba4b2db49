#!/usr/bin/python3
"""Checks that no part of the project reaches into another part's private sources.

A part is a top-level folder with a CMakeLists.txt (platform/, link/, driver/, ...); its
src/ folder is private to it: only the part itself, its tests and benchmarks may include
from there. Other parts use its include/ folder. Reported as breaches:

  - an #include that names or leads into another part's src/ (by a path from the source
    root such as "driver/src/x.hpp", or relative to the including file);
  - a CMake file of one part that names another part's src/ (an include folder or a source);
  - with --compile-commands: a compile command of one part's file whose include path holds
    another part's src/ (also one handed on by a library's PUBLIC include folders).

    check-part-boundaries.py SOURCE_DIR [--compile-commands FILE]
    check-part-boundaries.py --self-test

Exit status 0 when nothing is found, 1 with one line per breach.
"""

import argparse
import json
import os
import re
import shlex
import sys
import tempfile

SOURCE_SUFFIXES = (".c", ".cc", ".cpp", ".cxx", ".h", ".hh", ".hpp", ".hxx", ".ipp", ".inl")
INCLUDE_LINE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]', re.MULTILINE)
CMAKE_SOURCE_REF = re.compile(
    r"\$\{(?:PROJECT_SOURCE_DIR|CMAKE_SOURCE_DIR|Lyx_SOURCE_DIR)\}/([A-Za-z0-9_.-]+)/src\b")
CMAKE_RELATIVE_REF = re.compile(r"(?:\.\./)+([A-Za-z0-9_.-]+)/src\b")
INCLUDE_FLAGS = ("-I", "-isystem", "-iquote", "-idirafter")


def parts_of(root):
    return sorted(
        name for name in os.listdir(root)
        if not name.startswith(".") and not name.startswith("build")
        and os.path.isfile(os.path.join(root, name, "CMakeLists.txt")))


def part_of(root, path):
    """The top-level folder `path` lies in, or None outside the source tree."""
    rel = os.path.relpath(os.path.abspath(path), root)
    if rel == "." or rel.startswith(".."):
        return None
    return rel.split(os.sep)[0]


def private_part(root, parts, path):
    """The part whose src/ holds `path`, or None."""
    rel = os.path.relpath(os.path.normpath(path), root).split(os.sep)
    if len(rel) >= 2 and rel[0] in parts and rel[1] == "src":
        return rel[0]
    return None


def walk_files(root, part):
    for folder, dirs, files in os.walk(os.path.join(root, part)):
        dirs[:] = [d for d in dirs if not d.startswith(".")]
        for name in files:
            yield os.path.join(folder, name)


def check_sources(root, parts):
    breaches = []
    for part in parts:
        for path in walk_files(root, part):
            if not path.endswith(SOURCE_SUFFIXES):
                continue
            with open(path, encoding="utf-8", errors="replace") as f:
                text = f.read()
            for included in INCLUDE_LINE.findall(text):
                owner = private_part(root, parts,
                                     os.path.join(os.path.dirname(path), included))
                named = next((q for q in parts
                              if included.startswith(q + "/src/") or f"/{q}/src/" in included),
                             None)
                owner = owner or named
                if owner is not None and owner != part:
                    breaches.append(f"{os.path.relpath(path, root)}: #include \"{included}\" "
                                    f"reaches into {owner}/src")
    return breaches


def check_cmake(root, parts):
    breaches = []
    for part in parts:
        for path in walk_files(root, part):
            if os.path.basename(path) != "CMakeLists.txt" and not path.endswith(".cmake"):
                continue
            with open(path, encoding="utf-8", errors="replace") as f:
                text = f.read()
            named = set(CMAKE_SOURCE_REF.findall(text))
            for q in CMAKE_RELATIVE_REF.findall(text):
                named.add(q)
            for q in sorted(named):
                if q in parts and q != part:
                    breaches.append(f"{os.path.relpath(path, root)}: names {q}/src")
    return breaches


def include_dirs(entry):
    args = entry.get("arguments") or shlex.split(entry.get("command", ""))
    dirs = []
    i = 0
    while i < len(args):
        arg = args[i]
        for flag in INCLUDE_FLAGS:
            if arg == flag and i + 1 < len(args):
                dirs.append(args[i + 1])
                i += 1
                break
            if arg.startswith(flag) and len(arg) > len(flag) and flag == "-I":
                dirs.append(arg[len(flag):])
                break
        i += 1
    base = entry.get("directory", ".")
    return [os.path.normpath(os.path.join(base, d)) for d in dirs]


def check_compile_commands(root, parts, commands_file):
    with open(commands_file, encoding="utf-8") as f:
        entries = json.load(f)
    breaches = set()
    for entry in entries:
        source = os.path.join(entry.get("directory", "."), entry["file"])
        part = part_of(root, source)
        if part not in parts:
            continue
        for d in include_dirs(entry):
            owner = private_part(root, parts, d)
            if owner is not None and owner != part:
                breaches.add(f"{os.path.relpath(source, root)}: compiled with "
                             f"{os.path.relpath(d, root)} on its include path")
    return sorted(breaches)


def check(root, commands_file=None):
    root = os.path.abspath(root)
    parts = parts_of(root)
    breaches = check_sources(root, parts) + check_cmake(root, parts)
    if commands_file:
        breaches += check_compile_commands(root, parts, commands_file)
    return breaches


def self_test():
    """The checker on a small tree with one breach of each kind and allowed uses beside them."""
    with tempfile.TemporaryDirectory() as root:
        files = {
            "a/CMakeLists.txt": "add_library(a src/x.cpp)\n",
            "a/src/x.hpp": "",
            "a/include/a/api.hpp": "",
            "a/tests/own.cpp": '#include "../src/x.hpp"\n#include "x.hpp"\n',
            "b/CMakeLists.txt": "target_include_directories(b PRIVATE ${PROJECT_SOURCE_DIR}/a/src)\n",
            "b/src/y.cpp": '#include "../../a/src/x.hpp"\n#include "a/api.hpp"\n',
            "b/tests/t.cpp": '#include <vector>\n  #  include "a/src/x.hpp"\n',
            "b/tests/CMakeLists.txt": "add_executable(t ../../a/src/x.cpp)\n",
            "notes/readme.txt": "",
        }
        for name, text in files.items():
            path = os.path.join(root, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
        commands = os.path.join(root, "compile_commands.json")
        with open(commands, "w", encoding="utf-8") as f:
            json.dump([
                {"directory": root, "file": "b/src/y.cpp",
                 "command": f"c++ -I{root}/b/src -isystem {root}/a/src -c b/src/y.cpp"},
                {"directory": root, "file": "a/tests/own.cpp",
                 "arguments": ["c++", "-I", f"{root}/a/src", "-c", "a/tests/own.cpp"]},
            ], f)
        found = check(root, commands)
        expected = [
            'b/src/y.cpp: #include "../../a/src/x.hpp" reaches into a/src',
            'b/tests/t.cpp: #include "a/src/x.hpp" reaches into a/src',
            "b/CMakeLists.txt: names a/src",
            "b/tests/CMakeLists.txt: names a/src",
            "b/src/y.cpp: compiled with a/src on its include path",
        ]
        if sorted(found) != sorted(expected):
            print("self-test: expected", *expected, "found", *found, sep="\n  ")
            return 1
    print("self-test: every kind of breach found, allowed uses passed")
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("source_dir", nargs="?")
    parser.add_argument("--compile-commands")
    parser.add_argument("--self-test", action="store_true")
    args = parser.parse_args()
    if args.self_test:
        return self_test()
    if not args.source_dir:
        parser.error("SOURCE_DIR is needed")
    breaches = check(args.source_dir, args.compile_commands)
    for b in breaches:
        print(b)
    if breaches:
        print(f"{len(breaches)} breach(es) of part boundaries")
        return 1
    print("no part reaches into another part's src/")
    return 0


if __name__ == "__main__":
    sys.exit(main())
