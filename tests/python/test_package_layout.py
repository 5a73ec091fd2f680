"""The velaro package reaches the compiled engine through one adapter module."""

import ast
import pathlib

import velaro

PACKAGE = pathlib.Path(velaro.__file__).resolve().parent


def test_only_the_adapter_imports_the_engine():
    importers = []
    for path in sorted(PACKAGE.glob("*.py")):
        for node in ast.walk(ast.parse(path.read_text())):
            names = []
            if isinstance(node, ast.Import):
                names = [a.name for a in node.names]
            elif isinstance(node, ast.ImportFrom):
                names = [node.module or ""] + [a.name for a in node.names]
            if any(n.split(".")[0] in ("_velaro", "_engine") for n in names):
                importers.append(path.name)
    assert sorted(set(importers)) == ["_backend.py"]
