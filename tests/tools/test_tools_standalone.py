"""The module's stand-alone block, started the two documented ways."""
import subprocess
import sys

from orvane_tools import standalone
from toolsupport import cli_env

# The documented recipe, word for word (the package docstring shows the same lines).
RECIPE = """\
import importlib.util
spec = importlib.util.find_spec("Orvane")
module = importlib.util.module_from_spec(spec)
module.__name__ = "__main__"
spec.loader.exec_module(module)
"""


def test_recipe_is_the_one_documented():
    # The package's documentation shows the recipe that the test below runs.
    assert "    " + RECIPE.rstrip().replace("\n", "\n    ") in standalone.__doc__


def test_block_runs_its_fixed_job(tmp_path, run_cli, orvane):
    # Its folders are Windows paths under D:\, which do not exist here: the job stops at the first
    # check and says so on standard output.
    recipe = subprocess.run([sys.executable, "-c", RECIPE + "print(sorted(set(vars(module)) & {'cutfun', 'urldb'}))"],
                            cwd=str(tmp_path), env=cli_env(), stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, universal_newlines=True, encoding="utf-8", timeout=60)
    assert recipe.returncode == 0, recipe.stderr
    lines = recipe.stdout.splitlines()
    assert lines[0] == "原PDF文件路径不存在"
    # The block binds its settings and its controller in the module namespace.
    assert lines[1:] == ["['cutfun', 'urldb']"]

    # The command prints the same, and ends as `orvane split` ends for a missing folder: refused input.
    command = run_cli("standalone", "--workdir", str(tmp_path))
    assert command.returncode == 4, command.stderr
    assert command.stdout == "原PDF文件路径不存在\n"

