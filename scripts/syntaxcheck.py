#!/usr/bin/env python3
"""Compiles, for errors alone, each of the project's files in a configured tree's
compile_commands.json that a second tree does not already build, with warnings as errors.

make libcxx runs it on a tree configured with clang and libc++, for the files whose Qt (built
against libstdc++ on Debian) keeps them out of the libc++ build.

Usage: syntaxcheck.py TREE [BUILT_TREE] [JOBS]
"""
import concurrent.futures
import json
import os
import shlex
import subprocess
import sys

ROOT = os.path.realpath(os.path.join(os.path.dirname(__file__), ".."))


def entries(tree):
    with open(os.path.join(tree, "compile_commands.json")) as f:
        return json.load(f)


def path_of(entry):
    return os.path.realpath(os.path.join(entry["directory"], entry["file"]))


def syntax_only(entry):
    args = entry["arguments"] if "arguments" in entry else shlex.split(entry["command"])
    if os.path.basename(args[0]) == "ccache":
        args = args[1:]
    out = [args[0], "-fsyntax-only", "-Werror"]
    skip = False
    for arg in args[1:]:
        if skip:
            skip = False
        elif arg in ("-o", "-MF", "-MT", "-MQ"):
            skip = True
        elif arg not in ("-c", "-MD", "-MMD"):
            out.append(arg)
    return out


def check(entry):
    run = subprocess.run(syntax_only(entry), cwd=entry["directory"], capture_output=True, text=True)
    return path_of(entry), run.returncode, run.stdout + run.stderr


def main():
    tree = sys.argv[1]
    built = {path_of(e) for e in entries(sys.argv[2])} if len(sys.argv) > 2 else set()
    jobs = int(sys.argv[3]) if len(sys.argv) > 3 else os.cpu_count()
    todo = {}
    # Generated files (moc's, embedded tables) are not ours to keep warning-free.
    for entry in entries(tree):
        path = path_of(entry)
        if path.startswith(ROOT + os.sep) and not path.startswith(os.path.realpath(tree) + os.sep):
            if path not in built and os.path.exists(path):
                todo.setdefault(path, entry)
    failed = 0
    with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
        for path, status, output in pool.map(check, todo.values()):
            if status != 0:
                failed += 1
                print(f"syntaxcheck: {os.path.relpath(path, ROOT)} FAILED\n{output}", flush=True)
    print(f"syntaxcheck: {len(todo) - failed} of {len(todo)} files compile cleanly")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
