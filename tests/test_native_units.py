"""Runs the C++ unit tests of the module's pure pieces (version rule, quoting, process scan)."""
import os
import shutil
import subprocess

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))


@pytest.mark.skipif(shutil.which("cmake") is None, reason="cmake is needed to build the unit tests")
def test_native_units(tmp_path):
    build = tmp_path / "build"
    subprocess.run(["cmake", "-S", os.path.join(HERE, "native"), "-B", str(build),
                    "-DCMAKE_BUILD_TYPE=Debug"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(build)], check=True, stdout=subprocess.DEVNULL)
    work = tmp_path / "work"
    work.mkdir()
    result = subprocess.run([str(build / "orvane_unit"), str(work)], stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, universal_newlines=True, timeout=120)
    assert result.returncode == 0, result.stdout
    assert result.stdout.rstrip().endswith("0 failed")
