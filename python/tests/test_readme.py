"""The README's Python example runs and prints what the README shows."""

import os
import re
import subprocess
import sys

from conftest import SOURCE_DIR, child_env


def test_readme_example_prints_what_the_readme_shows(tmp_path):
    text = (SOURCE_DIR / "README.md").read_text()
    section = text[text.index("## From Python"):]
    code = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    shown = re.search(r"prints the most probable factors first:\n\n((?:    .*\n)+)", section).group(1)
    done = subprocess.run([sys.executable, "-c", code], cwd=tmp_path, capture_output=True, text=True,
                          timeout=120, env=child_env())
    assert done.returncode == 0, done.stderr
    want = [line[4:] for line in shown.splitlines()]
    assert done.stdout.splitlines()[:len(want)] == want
