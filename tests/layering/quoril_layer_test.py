#!/usr/bin/env python3
"""cmake/QuorilLayer.cmake on tiny projects: a link to a layer that is not below is refused when
the project is configured, and a call into a higher layer fails the layer's link probe.

Usage: quoril_layer_test.py CMAKE QUORIL_LAYER_CMAKE [unittest arguments]
"""
import os
import subprocess
import sys
import tempfile
import unittest

CMAKE = None
MODULE = None


def project(layers, extra=""):
    """A project with one library per entry of `layers` (folder: (LINKS, source text))."""
    files = {"CMakeLists.txt": "cmake_minimum_required(VERSION 3.25)\nproject(Tiny LANGUAGES CXX)\n"
                               f"include([[{MODULE}]])\n"
                               + "".join(f"add_subdirectory({folder})\n" for folder in layers) + extra}
    for folder, (links, source) in layers.items():
        files[f"{folder}/CMakeLists.txt"] = f"quoril_layer(quoril_{folder} LINKS {links})\n"
        files[f"{folder}/{folder}.cpp"] = source
    return files


def run(files, build):
    """Configures (and builds when asked) the project; the failing step's name and its output."""
    with tempfile.TemporaryDirectory() as root:
        for path, text in files.items():
            os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
            with open(os.path.join(root, path), "w") as f:
                f.write(text)
        steps = [("configure", [CMAKE, "-S", root, "-B", root + "/build", "-G", "Ninja"])]
        if build:
            steps.append(("build", [CMAKE, "--build", root + "/build"]))
        for step, command in steps:
            done = subprocess.run(command, capture_output=True, text=True)
            if done.returncode != 0:
                return step, done.stdout + done.stderr
        return None, ""


class QuorilLayer(unittest.TestCase):
    def test_links_to_a_layer_that_is_not_below_are_refused_at_configuration(self):
        refusal = ("quoril_camera (camera/) links quoril_model (model/), which is not below it: a layer links only "
                   "the layers below it, from the lowest: base < numerics < imaging < camera < model < export < "
                   "editor < viewers < app")
        for extra in ("", "target_link_libraries(quoril_camera PRIVATE quoril_model)\n"):
            links = "" if extra else "quoril_model"
            step, output = run(project({"camera": (links, "int camera() { return 1; }\n"),
                                        "model": ("quoril_camera", "int model() { return 2; }\n")}, extra), False)
            self.assertEqual(step, "configure", output)
            self.assertIn(refusal, " ".join(output.split()))
        step, output = run(project({"tools": ("", "int tools() { return 4; }\n")}), False)
        self.assertEqual(step, "configure")
        self.assertIn("is not a layer's folder", output)

    def test_a_call_into_a_higher_layer_fails_the_link_probe(self):
        # A member declared in the model and defined in the export layer, as a model call would use it.
        header = "struct Property { int exportTar(); };\n"
        model = header + "int model() { return Property().exportTar(); }\n"
        export = header + "int Property::exportTar() { return 5; }\n"
        step, output = run(project({"model": ("", model), "export": ("quoril_model", export)}), True)
        self.assertEqual(step, "build", output)
        self.assertIn("FAILED: model/quoril_model_link_probe", output)
        self.assertIn("undefined reference to `Property::exportTar()'", output)
        downward = "int model();\n" + export + "int use() { return model(); }\n"
        step, output = run(project({"model": ("", header + "int model() { return 2; }\n"),
                                    "export": ("quoril_model", downward)}), True)
        self.assertIsNone(step, output)


if __name__ == "__main__":
    CMAKE, MODULE = sys.argv.pop(1), os.path.abspath(sys.argv.pop(1))
    unittest.main()
