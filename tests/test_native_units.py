"""Runs the C++ unit tests of the module's pure pieces (version rule, quoting, process scan) and of
the stop command of both platforms against an embedded interpreter."""
import os
import shutil
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))

pytestmark = pytest.mark.skipif(shutil.which("cmake") is None,
                                reason="cmake is needed to build the unit tests")


@pytest.fixture(scope="module")
def native_build(tmp_path_factory):
    build = tmp_path_factory.mktemp("native") / "build"
    subprocess.run(["cmake", "-S", os.path.join(HERE, "native"), "-B", str(build),
                    "-DCMAKE_BUILD_TYPE=Debug", "-DPython_EXECUTABLE=" + sys.executable],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(build)], check=True, stdout=subprocess.DEVNULL)
    return build


def run_unit(program, workdir, env=None):
    result = subprocess.run([str(program), str(workdir)], stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, universal_newlines=True, timeout=120, env=env)
    assert result.returncode == 0, result.stdout
    assert result.stdout.rstrip().endswith("0 failed")


def test_pure_pieces(native_build, tmp_path):
    run_unit(native_build / "orvane_unit", tmp_path)


def test_stop_command_of_both_platforms(native_build, tmp_path):
    program = native_build / "orvane_stop_unit"
    if not program.exists():
        pytest.skip("this interpreter offers no library to embed")
    env = dict(os.environ, PYTHONHOME=sys.base_prefix)
    run_unit(program, tmp_path, env)
