"""The separator rule alone (splitter/src/detect.*), page and file step
together, on the table of tests/splitter/native/rule_table.cpp."""
from splitter_helpers import run_native


def test_rule_table(tmp_path):
    run_native(tmp_path, "rule_table", "detect.cpp")
