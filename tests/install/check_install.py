"""`cmake --install` puts a complete Nimbrel under a prefix: the program, its string tables, the
desktop entry with its settings action, and the icon in every size."""

import configparser
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

BUILD = os.environ["NIMBREL_BUILD_DIR"]
SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


class InstallLayoutTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = tempfile.mkdtemp(prefix="nimbrel-install-")
        subprocess.run(["cmake", "--install", BUILD, "--prefix", cls.prefix], check=True,
                       stdout=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.prefix, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.prefix, *parts)

    def test_program_and_tables(self):
        self.assertTrue(os.access(self.path("bin", "nimbrel"), os.X_OK))
        for code in ("zh-Hant", "en", "ja", "ko"):
            self.assertTrue(os.path.isfile(self.path("share", "nimbrel", "translations", f"nimbrel_{code}.qm")), code)
        # Updates are unpacked, verified and swapped in-process: no helper programs are installed.
        self.assertFalse(os.path.exists(self.path("libexec", "nimbrel")))

    def test_desktop_entry_with_settings_action(self):
        entry = self.path("share", "applications", "org.nimbrel.Nimbrel.desktop")
        parser = configparser.RawConfigParser(strict=True)
        parser.optionxform = str
        with open(entry, encoding="utf-8") as f:
            parser.read_file(f)
        main = parser["Desktop Entry"]
        self.assertEqual(main["Type"], "Application")
        self.assertEqual(main["Icon"], "org.nimbrel.Nimbrel")
        # The build's configured prefix, not the temporary one: the entry names where the program will live.
        self.assertTrue(main["Exec"].endswith("/bin/nimbrel"), main["Exec"])
        self.assertIn("settings", main["Actions"].split(";"))
        self.assertEqual(parser["Desktop Action settings"]["Exec"], main["Exec"] + " --settings")
        validator = shutil.which("desktop-file-validate")
        if validator:
            result = subprocess.run([validator, entry], capture_output=True, text=True)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_icon_in_every_size(self):
        for size in SIZES:
            icon = self.path("share", "icons", "hicolor", f"{size}x{size}", "apps", "org.nimbrel.Nimbrel.png")
            with open(icon, "rb") as f:
                header = f.read(24)
            self.assertEqual(header[:8], b"\x89PNG\r\n\x1a\n", icon)
            width = int.from_bytes(header[16:20], "big")
            height = int.from_bytes(header[20:24], "big")
            self.assertEqual((width, height), (size, size), icon)


if __name__ == "__main__":
    sys.exit(unittest.main())
