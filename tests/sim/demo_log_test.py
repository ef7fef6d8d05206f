#!/usr/bin/env python3
"""The demo's printout of the activity log: control bytes never reach the terminal raw, and the
heading says what happened."""

import contextlib
import io
import os
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "sim"))

import demo_log  # noqa: E402

START = b"2026/12/07 14:00:00  WinSock initialize\r\n"
RUN = START + (b"2026/12/07 14:00:05  Local Host Name get\r\n"
               b"2026/12/07 14:00:06 PC -> Device QUIT\r\n"
               b"2026/12/07 14:00:06 PC <- Device 221 Goodbye.\r\n")


class Escape(unittest.TestCase):
    def test_rows(self):
        rows = [
            (b"PC <- Device \xff\xfb\x01\xff\xfd\x03\r\n", "PC <- Device \\xff\\xfb\\x01\\xff\\xfd\\x03\n"),
            (b"a\x1b[2Jb\x07\x00\x7f", "a\\x1b[2Jb\\x07\\x00\\x7f"),
            (b"lone\rreturn\ttab", "lone\\x0dreturn\\x09tab"),
            (b"CWD \\UpdateBx\r\n", "CWD \\UpdateBx\n"),
            (b"", ""),
        ]
        for data, expected in rows:
            with self.subTest(data=data):
                self.assertEqual(demo_log.escape(data), expected)
                self.assertTrue(all(c == "\n" or " " <= c < "\x7f" for c in demo_log.escape(data)))


class Heading(unittest.TestCase):
    def test_rows(self):
        rows = [
            (START, True, "no update was run"),
            (START, False, "no update was run"),
            (RUN, True, "failed run"),
            (RUN, False, "successful run"),
            (START + b"2026/12/07 14:00:05 IP(1) Address Error.\r\n", True, "failed run"),
        ]
        for data, left, expected in rows:
            with self.subTest(data=data, left=left):
                self.assertIn(expected, demo_log.heading(data, left))

    def test_kept_link_keeps_the_entries_written_after_it_and_the_deletion(self):
        with tempfile.TemporaryDirectory() as folder:
            log = os.path.join(folder, demo_log.LOG_NAME)
            kept = os.path.join(folder, "kept.txt")
            with open(log, "wb") as f:
                f.write(START)
            os.link(log, kept)
            with open(log, "ab") as f:
                f.write(RUN[len(START):])
            self.assertIn("failed run", self._printed(folder, kept))
            os.remove(log)
            printed = self._printed(folder, kept)
            self.assertIn("successful run", printed)
            self.assertIn("PC <- Device 221 Goodbye.", printed)

    @staticmethod
    def _printed(folder, kept):
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            demo_log.print_kept(folder, [kept])
        return out.getvalue()


if __name__ == "__main__":
    unittest.main()
