"""The logic of the release's scripts that new input can break: what a
copyright file, a link map, a Built-Using field, apt's output and a
buildinfo say, and which C library a sysroot takes."""

import contextlib
import importlib.machinery
import importlib.util
import io
import json
import re
import sys
import tempfile
import unittest
from pathlib import Path

sys.dont_write_bytecode = True
TOP = Path(__file__).resolve().parents[2]
FIXTURES = Path(__file__).resolve().parent / "fixtures"


def script(name):
    loader = importlib.machinery.SourceFileLoader(name, str(TOP / "packaging" / name))
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader(name, loader))
    loader.exec_module(module)
    return module


contents = script("contents")
sysroot = script("sysroot")
archive = sys.modules["archive"]


class ReleaseScripts(unittest.TestCase):
    def assert_table(self, function, table):
        for given, expected in table:
            with self.subTest(given=given):
                if isinstance(expected, str) and expected.startswith("fails: "):
                    with self.assertRaisesRegex(SystemExit, expected[len("fails: "):]):
                        function(*given)
                else:
                    self.assertEqual(function(*given), expected)

    def test_licence_of_a_copyright_file(self):
        common = contents.COMMON_LICENSES
        self.assert_table(lambda name: contents.licence_of((FIXTURES / f"{name}.copyright").read_text()), [
            (["dep5"], ("LGPL-2.1-or-later OR BSD-3-Clause", None)),
            (["later"], ("LGPL-2.1-or-later", common / "LGPL-2.1")),
            (["only"], ("GPL-2.0-only", common / "GPL-2")),
            (["runtime-exception"], ("GPL-3.0-or-later WITH GCC-exception-3.1", common / "GPL-3")),
            (["no-licence"], "fails: names no licence"),
            (["dep5-without-all-files"], "fails: without a Files: \\* stanza"),
        ])

    def test_files_that_a_link_map_names(self):
        libc = "/usr/lib/x86_64-linux-gnu"
        self.assert_table(lambda name: contents.linked_files(FIXTURES / f"{name}.map"), [
            (["static"], ({f"{libc}/libc.a": ["libc-start.o", "check_fds.o"], f"{libc}/rcrt1.o": [],
                           "/usr/lib/gcc/x86_64-linux-gnu/12/libgcc_eh.a": ["unwind-dw2.o"]}, True)),
            (["dynamic"], ({f"{libc}/Scrt1.o": []}, False)),
            (["no-files"], "fails: names nothing outside the build"),
        ])

    def test_the_source_among_built_using_entries(self):
        sources = {"libc6-dev": "glibc", "libgcc-12-dev": "gcc-12"}
        glibc, linux, gcc = ("glibc", "2.36-8"), ("linux", "6.1.76-1"), ("gcc-12", "12.2.0-14")
        self.assert_table(lambda package, entries: contents.choose_built_using(package, entries, sources.get), [
            (["libc6-dev", []], None),
            (["gcc-mingw-w64-x86-64-posix", [gcc]], gcc),
            (["libc6-dev-s390x-cross", [linux, glibc]], glibc),
            (["libgcc-12-dev-s390x-cross:all", [gcc, glibc]], gcc),
            (["libfoo-s390x-cross", [linux, glibc]], "fails: none builds libfoo"),
        ])

    def test_the_versions_that_a_sysroot_takes(self):
        native = {"libc6": "2.36-9+deb12u14", "libc6-dev": "2.36-9+deb12u14", "linux-libc-dev": "6.1.194-1"}
        current = {"libc6": ["2.36-9+deb12u14", "2.36-8"], "libc6-dev": ["2.36-8", "2.36-9+deb12u14"],
                   "linux-libc-dev": ["6.1.194-1", "6.1.176-1"]}
        lagging = {"libc6": ["2.36-9+deb12u7", "2.36-8"], "libc6-dev": ["2.36-8", "2.36-9+deb12u7"],
                   "linux-libc-dev": ["6.1.176-1", "6.1.192-3"]}
        failed = ["security armhf Packages (File has unexpected size)"]
        chosen = {"libc6": "2.36-9+deb12u14", "libc6-dev": "2.36-9+deb12u14"}
        self.assert_table(lambda available, failures: sysroot.choose("armhf", native, available, failures), [
            ([current, []], ({**chosen, "linux-libc-dev": "6.1.194-1"}, [])),
            ([{**current, "linux-libc-dev": lagging["linux-libc-dev"]}, failed],
             ({**chosen, "linux-libc-dev": "6.1.192-3"},
              ["armhf's archive has no linux-libc-dev 6.1.194-1, this machine's: taking its newest, 6.1.192-3"])),
            ([lagging, []], ({"libc6": "2.36-9+deb12u7", "libc6-dev": "2.36-9+deb12u7", "linux-libc-dev": "6.1.192-3"}, [
                "armhf's archive has no libc6 and libc6-dev 2.36-9+deb12u14, this machine's: "
                "taking its newest, 2.36-9+deb12u7",
                "armhf's archive has no linux-libc-dev 6.1.194-1, this machine's: taking its newest, 6.1.192-3"])),
            ([lagging, failed], "fails: 2.36-9\\+deb12u14, this machine's, is not in the indexes that downloaded, "
                                "and these failed: security armhf Packages"),
            ([{**current, "libc6": ["2.36-8"]}, []], ({**chosen, "libc6": "2.36-8", "libc6-dev": "2.36-8",
                                                        "linux-libc-dev": "6.1.194-1"}, [
                "armhf's archive has no libc6 and libc6-dev 2.36-9+deb12u14, this machine's: taking its newest, 2.36-8"])),
            ([{}, []], "fails: armhf: the archive has no libc6 and libc6-dev$"),
        ])

    def test_indexes_that_failed_to_download(self):
        self.assert_table(lambda name: archive.failed_indexes((FIXTURES / name).read_text()), [
            (["apt-update.out"], [
                "file:/srv/mirror/security bookworm-security/main armhf Packages "
                "(File has unexpected size (271000 != 270345). Mirror sync in progress?)",
                "file:/nonexistent bookworm Release (File not found - /nonexistent/dists/bookworm/Release "
                "(2: No such file or directory))"]),
            (["sysroots.buildinfo"], []),
        ])

    def test_the_debs_that_a_buildinfo_names(self):
        self.assert_table(lambda arch: sysroot.as_built(FIXTURES / "sysroots.buildinfo", arch), [
            (["s390x"], {"libc6": ("2.36-8", "2" * 64), "linux-libc-dev": ("6.1.176-1", "3" * 64)}),
            (["armhf"], {"libc6": ("2.36-9+deb12u14", "1" * 64)}),
            (["arm64"], "fails: names no package of a sysroot for arm64"),
        ])

    def test_the_c_libraries_that_a_release_may_carry(self):
        def checked(programs, sources):
            """PROGRAMS: (glibc version, the version its archive lacked)."""
            with tempfile.TemporaryDirectory() as directory:
                files = [{"name": f"{n}.deb", "properties": [
                    {"name": "compare-dates:program", "value": "static"},
                    *([{"name": contents.LACKS, "value": lacks}] if lacks else [])], "components": [{
                        "name": "glibc", "version": version, "licenses": [{"expression": "LGPL-2.1-or-later"}],
                        "properties": [{"name": "compare-dates:linked", "value": "/usr/lib/libc.a: 9 members"},
                                       {"name": "compare-dates:source-required", "value": "true"}]}]}
                    for n, (version, lacks) in enumerate(programs)]
                Path(directory, "r.cdx.json").write_text(json.dumps({"components": files}))
                for version in sources:
                    Path(directory, f"glibc_{version}.dsc").write_text(f"Source: glibc\nVersion: {version}\n")
                with contextlib.redirect_stdout(io.StringIO()):
                    contents.check(directory)
            return "passes"

        current, older = "2.36-9+deb12u14", "2.36-9+deb12u7"
        self.assert_table(checked, [
            ([[(current, None), (current, None)], [current]], "passes"),
            ([[(current, None), (older, None)], [current, older]], "fails: carry different C libraries"),
            ([[(current, None), (older, current)], [current, older]], "passes"),
            ([[(current, None), (older, current)], [current]], "fails: " + re.escape(f"glibc_{older}.dsc, the source")),
            ([[(current, None)], [current, older]], "fails: " + re.escape(f"glibc_{older}.dsc is not the source")),
        ])


if __name__ == "__main__":
    unittest.main()
