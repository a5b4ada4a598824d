"""What the Python test suites share: the boardmill binary and the sample data set named on their
command line, and the sample converted into a temporary directory."""

import os
import subprocess
import sys
import tempfile

BOARDMILL = None
SAMPLE_DATA = None


def take_command_line():
    """Takes BOARDMILL_BINARY SAMPLE_DATA_DIR, the first two arguments of every suite."""
    global BOARDMILL, SAMPLE_DATA
    BOARDMILL, SAMPLE_DATA = sys.argv[1], sys.argv[2]


def run_boardmill(*arguments):
    return subprocess.run([BOARDMILL, *map(str, arguments)], capture_output=True, text=True)


def convert_sample(prefix, shards):
    """A new temporary directory, and its "out" holding the sample converted into `shards`
    shards."""
    temp = tempfile.mkdtemp(prefix=prefix)
    out = os.path.join(temp, "out")
    converted = run_boardmill(
        "convert", SAMPLE_DATA, out, "--shards", shards, "--min-free-space-gib", 0
    )
    assert converted.returncode == 0, converted.stderr
    return temp, out
