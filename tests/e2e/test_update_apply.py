"""Packaging refuses a build number the program was not compiled as. (The apply-update helper itself runs
for real in test_update_check, where the settings window's restart button hands over to it.)"""

import os
import subprocess
import unittest

from harness import BINARY, E2ETestCase, compiled_build

BUILD_DIR = os.path.dirname(os.path.dirname(os.path.abspath(BINARY)))
SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TEST_KEY = os.path.join(SOURCE_DIR, "tests", "keys", "TEST-ONLY-update-signing-key.pem")
PACKAGE = os.path.join(SOURCE_DIR, "scripts", "package")


class ApplyUpdate(E2ETestCase):
    def test_packaging_refuses_a_build_number_the_program_was_not_compiled_as(self):
        out = os.path.join(self.home.path, "release")
        compiled = compiled_build(BINARY)
        packaged = subprocess.run([PACKAGE, "--build-dir", BUILD_DIR, "--key", TEST_KEY, "--url-base",
                                   "https://updates.example.org/releases", "--output", out,
                                   "--build-number", str(compiled + 1)], capture_output=True, text=True, timeout=120)
        self.assertEqual(packaged.returncode, 1)
        self.assertIn(f"is not the build {os.path.abspath(BINARY)} was compiled as ({compiled})", packaged.stderr)
        self.assertFalse(os.path.exists(out), "nothing is written")


if __name__ == "__main__":
    unittest.main()
