#!/usr/bin/env python3
"""scripts/check-layers on planted trees: every form of an upward include fails for its own
reason, and includes that point down or sideways within the rules pass.

Usage: check_layers_test.py CHECK_LAYERS_SCRIPT [unittest arguments]
"""
import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = None


def check(files):
    """Runs the check on a tree holding `files` (path: text); its exit code and error lines."""
    with tempfile.TemporaryDirectory() as root:
        for path, text in files.items():
            os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
            with open(os.path.join(root, path), "w") as f:
                f.write(text)
        run = subprocess.run([sys.executable, SCRIPT, root], capture_output=True, text=True)
        return run.returncode, run.stderr.splitlines()


class APlantedUpwardIncludeFails(unittest.TestCase):
    def assertRefused(self, files, reason):
        code, lines = check(files)
        self.assertEqual(code, 1, lines)
        self.assertIn(reason, lines)
        self.assertEqual(lines[-1].split(" include(s) point up")[0], str(len(lines) - 1), lines)

    def test_quoted_from_the_root(self):
        self.assertRefused({"camera/planted.cpp": '#include "model/property.h"\n'},
                           'camera/planted.cpp:1: camera/ includes #include "model/property.h"')

    def test_angle_brackets(self):
        self.assertRefused({"camera/planted.h": "#pragma once\n#  include <model/property.h>\n"},
                           "camera/planted.h:2: camera/ includes #  include <model/property.h>")

    def test_relative_paths_that_climb_into_another_layer(self):
        self.assertRefused({"model/planted.cpp": '#include "../app/main_window.h"\n'},
                           'model/planted.cpp:1: model/ includes #include "../app/main_window.h"')
        self.assertRefused({"base/deep/planted.cpp": '#include "../../imaging/./image_io.h"\n'},
                           'base/deep/planted.cpp:1: base/ includes #include "../../imaging/./image_io.h"')

    def test_a_test_above_its_layer(self):
        self.assertRefused({"tests/camera/planted_test.cpp": '#include <gtest/gtest.h>\n#include "model/floor.h"\n'},
                           'tests/camera/planted_test.cpp:2: a test of camera/ includes #include "model/floor.h"')

    def test_support_code_that_a_lower_test_compiles_in(self):
        files = {"tests/base/planted_test.cpp": '#include "support/helper.h"\n',
                 "tests/support/helper.h": '#pragma once\n#include "support/deeper.h"\n',
                 "tests/support/helper.cpp": '#include "support/helper.h"\n',
                 "tests/support/deeper.h": "#pragma once\n",
                 "tests/support/deeper.cpp": '#include "support/deeper.h"\n#include "app/gui_helpers.h"\n'}
        self.assertRefused(files, 'tests/support/deeper.cpp:2: a test of base/ includes #include "app/gui_helpers.h" '
                                  "(taken in by tests/base/planted_test.cpp)")

    def test_seam_dialogs_only_from_the_model_up(self):
        self.assertRefused({"tests/camera/planted_test.cpp": '#include "app/dialog_progress.h"\n'},
                           'tests/camera/planted_test.cpp:1: a test of camera/ includes #include "app/dialog_progress.h"')
        self.assertRefused({"tests/model/planted_test.cpp": '#include "app/main_window.h"\n'},
                           'tests/model/planted_test.cpp:1: a test of model/ includes #include "app/main_window.h"')


class IncludesThatPointDownPass(unittest.TestCase):
    def test_every_form(self):
        files = {"base/a.h": "#pragma once\n",
                 "imaging/b.h": "#pragma once\n",
                 "imaging/b.cpp": '#include "b.h"\n#include "imaging/b.h"\n#include <base/a.h>\n#include "../base/a.h"\n'
                                  "#include <QString>\n#include <gtest/gtest.h>\n",
                 "app/x.cpp": '#include "model/y.h"\n#include "../base/a.h"\n',
                 "tests/imaging/b_test.cpp": '#include "imaging/b.h"\n#include "support/helper.h"\n',
                 "tests/support/helper.h": '#pragma once\n#include "base/a.h"\n',
                 "tests/support/helper.cpp": '#include "support/helper.h"\n#include "imaging/b.h"\n',
                 "tests/support/model_helper.cpp": '#include "model/y.h"\n',
                 "tests/model/y_test.cpp": '#include "app/dialog_progress.h"\n#include "app/custom_file_dialog.h"\n',
                 "tests/main/test_main.cpp": '#include "app/dialog_progress.h"\n'}
        self.assertEqual(check(files), (0, []))


if __name__ == "__main__":
    SCRIPT = sys.argv.pop(1)
    unittest.main()
