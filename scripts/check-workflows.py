#!/usr/bin/env python3
"""Parses the CI workflows, which only a hosted runner executes, and checks that the macOS one
still does each thing it is there for: a syntax or naming slip would otherwise show only there."""
import pathlib
import sys

import yaml

root = pathlib.Path(__file__).resolve().parent.parent
failed = []
for path in sorted((root / ".github" / "workflows").glob("*.yml")):
    document = yaml.safe_load(path.read_text(encoding="utf-8"))
    # YAML 1.1 reads the bare key `on` as true.
    if not isinstance(document, dict) or "jobs" not in document or not (
        "on" in document or True in document
    ):
        failed.append(f"{path.name}: not a workflow")
        continue
    for name, job in document["jobs"].items():
        for step in job.get("steps", []):
            if not step.get("name") or not ("run" in step or "uses" in step):
                failed.append(f"{path.name}: job {name} has a step without a name or an action")

macos = yaml.safe_load((root / ".github/workflows/macos.yml").read_text(encoding="utf-8"))
job = macos["jobs"]["build"]
if not str(job.get("runs-on", "")).startswith("macos-"):
    failed.append("macos.yml: not on a macOS runner")
text = "\n".join(str(step.get("run", "")) + str(step.get("uses", "")) for step in job["steps"])
for needed in ("actions/checkout", "brew install", "cmake --build", "ctest", "-L macos", "cpack",
               "codesign --verify", "actions/upload-artifact"):
    if needed not in text:
        failed.append(f"macos.yml: no step does {needed!r}")

print("\n".join(failed) or "workflows: parsed and complete")
sys.exit(1 if failed else 0)
