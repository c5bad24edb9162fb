"""The release's scripts: what they read of copyright files, link maps,
Built-Using fields and buildinfos, which versions they choose, what they
write, the arguments they take, and what they do with small signed
archives, made here, in the states that real archives reach."""

import contextlib
import hashlib
import importlib.machinery
import importlib.util
import io
import json
import lzma
import os
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import unittest
import zipfile
from pathlib import Path
from unittest import mock

sys.dont_write_bytecode = True
TOP = Path(__file__).resolve().parents[2]
FIXTURES = Path(__file__).resolve().parent / "fixtures"
GOLDEN = Path(__file__).resolve().parent / "golden"


def script(name):
    loader = importlib.machinery.SourceFileLoader(name, str(TOP / "packaging" / name))
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader(name, loader))
    loader.exec_module(module)
    return module


contents = script("contents")
sysroot = script("sysroot")


def run(*command, env=None, cwd=TOP):
    return subprocess.run([str(part) for part in command], cwd=cwd, capture_output=True, text=True,
                          env={**os.environ, **{k: str(v) for k, v in (env or {}).items()}}, stdin=subprocess.DEVNULL)


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

    def test_spdx_of_a_short_name(self):
        self.assert_table(contents.spdx_of_short_name, [
            (["GPL-2+"], "GPL-2.0-or-later"), (["LGPL-2.1"], "LGPL-2.1-only"), (["GFDL-1.3+ "], "GFDL-1.3-or-later"),
            (["Expat"], "MIT"), (["BSD-3-clause"], "BSD-3-Clause"), (["Apache-2.0"], "Apache-2.0"),
            (["MPL-2.0+"], "MPL-2.0+"), (["public-domain"], "LicenseRef-public-domain"), (["Zlib"], "LicenseRef-Zlib"),
            (["GCC exception"], "LicenseRef-GCC-exception"),
        ])

    def test_the_package_that_holds_a_file(self):
        sysroot_lib = FIXTURES / "sysroot/usr/lib/aarch64-linux-gnu"
        with mock.patch.dict(os.environ, {"DPKG_ROOT": str(FIXTURES / "machine")}):
            packages = contents.Packages(FIXTURES / "sysroot")
        self.assert_table(lambda path: (packages.owner(path), sorted(packages.of_sysroot)), [
            ([str(sysroot_lib / "libc.a")], ("libc6-dev:arm64", ["libc6-dev:arm64"])),
            (["/usr/lib/gcc-cross/aarch64-linux-gnu/12/libgcc.a"], ("libgcc-12-dev-arm64-cross", ["libc6-dev:arm64"])),
            (["/usr/lib/x86_64-linux-gnu/libgcc_s.so.1"], ("libgcc-12-dev:amd64", ["libc6-dev:arm64"])),
            ([str(sysroot_lib / "libc_nonshared.a")], "fails: no Debian package holds /usr/lib/aarch64-linux-gnu/libc_nonshared.a"),
            (["/usr/lib/gcc/x86_64-linux-gnu/12/libgcc.a"], "fails: no Debian package holds /usr/lib/gcc/x86_64-linux-gnu/12/libgcc.a,"),
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
            ([{**current, "linux-libc-dev": []}, failed],
             "fails: armhf: the archive has no linux-libc-dev; these indexes failed: security armhf"),
        ])

    def test_the_archives_that_the_scripts_fetch_from(self):
        archive = sys.modules["archive"]

        def entries(mirror, release="bookworm"):
            with mock.patch.dict(os.environ, {archive.MIRROR: mirror}), \
                    mock.patch.object(archive, "codename", lambda: release):
                lines, stanzas = archive.source_entries("deb-src", FIXTURES / "apt")
            return lines, [dict(stanza) for stanza in stanzas]

        debian, keyring = "file:/srv/debian", "/usr/share/keyrings/debian-archive-keyring.gpg"
        self.assert_table(entries, [
            ([""], ([f"deb-src [signed-by={keyring}] {debian} bookworm main",
                     f"deb-src {debian}-security bookworm-security main contrib", f"deb-src {debian} bookworm-backports main"],
                    [{"Types": "deb-src", "URIs": debian, "Suites": "bookworm-updates", "Components": "main",
                      "Signed-By": keyring}])),
            (["", "sid"], "fails: the machine's apt sources name no archive of sid$"),
            (["file:/srv/mirror"], (["deb-src file:/srv/mirror bookworm main"], [])),
            (["deb [arch=arm64] file:/srv/mirror stable main"], (["deb-src [arch=arm64] file:/srv/mirror stable main"], [])),
            ([str(FIXTURES / "mirror.list")], (["deb-src [trusted=yes] file:/srv/mirror stable main"], [])),
            ([str(FIXTURES / "mirror.sources")], ([], [{"Types": "deb-src", "URIs": "file:/srv/mirror", "Suites": "stable",
                                                          "Components": "main"}])),
            ([str(FIXTURES / "static.map")], "fails: static.map names no archive$"),
            (["/srv/mirror.list"], "fails: COMPARE_DATES_MIRROR names no file: /srv/mirror.list$"),
        ])

    def test_the_debs_that_a_buildinfo_names(self):
        self.assert_table(lambda arch: sysroot.as_built(FIXTURES / "sysroots.buildinfo", arch), [
            (["s390x"], {"libc6": ("2.36-8", "2" * 64), "linux-libc-dev": ("6.1.176-1", "3" * 64)}),
            (["armhf"], {"libc6": ("2.36-9+deb12u14", "1" * 64)}),
            (["arm64"], "fails: names no package of a sysroot for arm64"),
        ])

    def test_what_a_release_must_carry(self):
        def checked(programs, sources):
            """PROGRAMS: (file, glibc version, the version its archive lacked,
            the files beside the program in its tarball or zip)."""
            with tempfile.TemporaryDirectory() as directory:
                files = [{"name": name, "properties": [
                    {"name": "compare-dates:program", "value": "static"},
                    *([{"name": contents.LACKS, "value": lacks}] if lacks else [])], "components": [{
                        "name": "glibc", "version": version, "licenses": [{"expression": "LGPL-2.1-or-later"}],
                        "properties": [{"name": "compare-dates:linked", "value": "/usr/lib/libc.a: 9 members"},
                                       {"name": "compare-dates:source-required", "value": "true"}]}]}
                    for name, version, lacks, _ in programs]
                Path(directory, "r.cdx.json").write_text(json.dumps({"components": files}))
                for name, _, _, beside in programs:
                    with zipfile.ZipFile(Path(directory, name), "w") if name.endswith(".zip") else \
                            tarfile.open(Path(directory, name), "w:gz") if name.endswith(".tar.gz") else \
                            contextlib.nullcontext() as packed:
                        for inside, text in beside.items():
                            Path(directory, inside).write_text(text)
                            (packed.write if name.endswith(".zip") else packed.add)(Path(directory, inside), f"p/{inside}")
                for version in sources:
                    Path(directory, f"glibc_{version}.dsc").write_text(f"Source: glibc\nVersion: {version}\n")
                with contextlib.redirect_stdout(io.StringIO()) as said:
                    contents.check(directory)
            return said.getvalue()

        current, older = "2.36-9+deb12u14", "2.36-9+deb12u7"
        notices = {contents.NOTICES: f"\nglibc {current}\n\nThe full text of LGPL-2.1"}
        fine = f"1 static programs carry glibc {current}; the notices and the sources (glibc_{current}.dsc) are there\n"
        self.assert_table(checked, [
            ([[("a.deb", current, None, {})], [current]], fine),
            ([[("a.deb", current, None, {}), ("b.tar.gz", current, None, notices), ("c.zip", current, None, notices)],
              [current]], fine.replace("1 static", "3 static")),
            ([[("a.deb", current, None, {}), ("b.deb", older, None, {})], [current, older]], "fails: carry different C libraries"),
            ([[("a.deb", current, None, {}), ("b.deb", older, current, {})], [current, older]],
             f"b.deb: glibc {older}, as its archive has no {current}\n"
             + fine.replace(".dsc)", f".dsc, glibc_{older}.dsc)")),
            ([[("a.deb", current, None, {}), ("b.deb", older, current, {})], [current]],
             "fails: " + re.escape(f"glibc_{older}.dsc, the source")),
            ([[("a.deb", current, None, {})], [current, older]], "fails: " + re.escape(f"glibc_{older}.dsc is not the source")),
            ([[("a.deb", current, None, {})], []], "fails: " + re.escape(f"glibc_{current}.dsc, the source of glibc as linked, is not")),
            ([[("b.tar.gz", current, None, {contents.NOTICES: f"glibc {older}\nThe full text of "})], [current]],
             f"fails: contain:\n  b.tar.gz: {contents.NOTICES} does not name glibc {re.escape(current)}$"),
            ([[("c.zip", current, None, {contents.NOTICES: f"\nglibc {current}\n"})], [current]],
             f"fails: contain:\n  c.zip: {contents.NOTICES} lacks the text of LGPL-2.1-or-later$"),
            ([[("b.tar.gz", current, None, {"README": "glibc"})], [current]], f"fails: contain:\n  b.tar.gz holds no {contents.NOTICES}$"),
            ([[("c.zip", current, None, {"README": "glibc"})], [current]], f"fails: contain:\n  c.zip holds no {contents.NOTICES}$"),
        ])

    def test_the_notices_and_the_sbom_as_written(self):
        """Golden files: COMPARE_DATES_GOLDEN=write writes them anew, for review."""
        with tempfile.TemporaryDirectory() as directory, \
                mock.patch.dict(os.environ, {"DPKG_ROOT": str(FIXTURES / "machine")}), \
                mock.patch.object(contents, "COMMON_LICENSES", FIXTURES / "common-licenses"), \
                mock.patch.object(contents, "distro", lambda: "debian-12"):
            work = Path(directory)
            facts = []
            for kind, file in (("static", "compare-dates-1.4.2-linux-arm64.tar.gz"), ("dynamic", "compare-dates_1.4.2_arm64.deb")):
                (work / f"{kind}.map").write_text((FIXTURES / f"{kind}-arm64.map").read_text().replace("@SYSROOT@", str(FIXTURES / "sysroot")))
                (work / "release").mkdir(exist_ok=True)
                (work / "release" / file).write_text(kind)
                facts.append(work / f"{kind}.json")
                contents.main(["link", "--sysroot", str(FIXTURES / "sysroot"), str(work / f"{kind}.map"), file, "arm64", "1.4.2",
                               str(facts[-1]), *([str(work / contents.NOTICES)] if kind == "static" else [])])
            (work / "release/SHA256SUMS").write_text("")
            contents.main(["sbom", str(work / "release/release.cdx.json"), "1.4.2", "1765281600", str(work / "release"),
                           *map(str, facts)])
            for name in (contents.NOTICES, "release/release.cdx.json"):
                written = (work / name).read_text().replace(str(FIXTURES), "FIXTURES")
                if os.environ.get("COMPARE_DATES_GOLDEN") == "write":
                    (GOLDEN / Path(name).name).write_text(written)
                self.assertEqual(written, (GOLDEN / Path(name).name).read_text(), name)

    def test_arguments(self):
        """Wrong arguments get the usage on standard error, status 2, and nothing else."""
        def outcome(*command):
            done = run(*command)
            # A buildinfo names the release of the machine that wrote it.
            written = re.sub(r"^Build-Release: Debian GNU/Linux \d+[.\d]* \([a-z]+\)$", "Build-Release: -", done.stdout,
                             flags=re.M)
            return "usage" if (done.returncode, done.stdout, "usage:" in done.stderr) == (2, "", True) \
                else (done.returncode, written)

        buildinfo = FIXTURES / "sysroots.buildinfo"
        write = ["packaging/buildinfo", "write", buildinfo, "1.4.2", "c0ffee"]
        expected = (FIXTURES / "written.buildinfo").read_text()
        self.assert_table(outcome, [
            (["packaging/sysroot"], "usage"),
            (["packaging/sysroot", "arm64", "dir", "more"], "usage"),
            (["packaging/sysroot", "arm64", "--debs"], "usage"),
            (["packaging/sysroot", "arm64", "--as-built", buildinfo, "--debs", "a.deb"], "usage"),
            (["packaging/contents"], "usage"),
            (["packaging/contents", "link", "a.map"], "usage"),
            (["packaging/contents", "sbom", "out", "1.4.2", "0"], "usage"),
            (["packaging/contents", "check"], "usage"),
            (["packaging/contents", "copy"], "usage"),
            (["packaging/buildinfo", "field", buildinfo], "usage"),
            (["packaging/setup"], "usage"),
            (["packaging/setup", "everything"], "usage"),
            (["packaging/setup", "--list"], "usage"),
            (["packaging/release", "--quickly"], "usage"),
            (["packaging/release", "mips"], "usage"),
            (["packaging/verify"], "usage"),
            (["packaging/chroot", "--bind"], "usage"),
            ([".ci/on-debian"], "usage"),
            (["packaging/sysroot", "--help"], (0, run("packaging/sysroot", "-h").stdout)),
            (["packaging/buildinfo", "field", buildinfo, "Targets"], (0, "amd64 armhf s390x\n")),
            (["packaging/contents", "sources", "dist"], (0, "")),
            (["packaging/buildinfo", "field", buildinfo, "Commit"], (1, "")),
            (["packaging/buildinfo", "packages", buildinfo], (0, "libc6-dev 2.36-9+deb12u14\nzlib1g 1:1.2.13.dfsg-1\n"
                                                                "libc6:armhf 2.36-9+deb12u14\nlibc6:s390x 2.36-8\n"
                                                                "linux-libc-dev:s390x 6.1.176-1\n")),
            (["packaging/setup", "--targets"], (0, "amd64\narm64\narmhf\ni386\nppc64el\ns390x\nwindows\n")),
            ([*write, "--targets", "amd64", "arm64", "--sysroots", FIXTURES / "sysroot"], (0, expected)),
            ([*write, "--targets"], (0, expected.split("Targets:")[0] + "Targets:\n")),
        ])

def libc(version, *flags):
    return [f"libc6 {version} {' '.join(flags)}", f"libc6-dev {version}"]


NATIVE = {"libc6": "2.36-9", "libc6-dev": "2.36-9", "linux-libc-dev": "6.1.2-1"}
HEADERS = ["linux-libc-dev 6.1.2-1"]
IN_PLACE = libc("2.36-9") + HEADERS
SYSROOT = ["packaging/sysroot", "arm64", "{out}"]
SOURCES = ["packaging/contents", "sources", "{out}", "{facts}"]
FAILED = r"libc6 and libc6-dev 2.36-9, this machine's, is not in the indexes that downloaded, and these failed: file:\S+ "
LIBC_A = "libc6-dev:arm64: /usr/lib/aarch64-linux-gnu/libc.a\n"


class Archives(unittest.TestCase):
    """Small archives signed with a throwaway key, each suite in one of the
    states that real archives reach: "signed", "hash" (an index that is not
    the one its Release names), "untrusted" (signed by another key),
    "unsigned" (no Release). A package is "NAME VERSION [FLAGS]": "all" for
    its architecture, "link" for an absolute symlink, "lacks" for a file
    that the index lists and the pool lacks, "source" for a source
    package."""

    @classmethod
    def setUpClass(cls):
        cls.work = Path(tempfile.mkdtemp())
        for key in ("trusted", "untrusted"):
            (cls.work / key).mkdir(mode=0o700)
            run("gpg", "--homedir", cls.work / key, "--batch", "--passphrase", "", "--quick-gen-key", key, "ed25519")
        run("gpg", "--homedir", cls.work / "trusted", "--export", "--output", cls.work / "trusted.gpg")

    @classmethod
    def tearDownClass(cls):
        for key in ("trusted", "untrusted"):
            run("gpgconf", "--homedir", cls.work / key, "--kill", "gpg-agent")
        shutil.rmtree(cls.work)

    def package(self, pool, entry):
        name, version, *flags = entry.split()
        if "source" in flags:
            upstream = {f"{name}_{version.split('-')[0]}.orig.tar.xz": b"orig", f"{name}_{version}.debian.tar.xz": b"debian"}
            for file, data in upstream.items():
                (pool / file).write_bytes(data)
            sums = {kind: "".join(f"\n {digest(data).hexdigest()} {len(data)} {file}" for file, data in upstream.items())
                    for kind, digest in (("Checksums-Sha256", hashlib.sha256), ("Files", hashlib.md5))}
            (pool / f"{name}_{version}.dsc").write_text(f"Format: 3.0 (quilt)\nSource: {name}\nBinary: libc6\nArchitecture: any\n"
                                                        f"Version: {version}\nMaintainer: x <x@example.org>\n"
                                                        + "".join(f"{kind}:{lines}\n" for kind, lines in sums.items()))
            return [pool / next(iter(upstream))] if "lacks" in flags else []
        architecture = "all" if "all" in flags else "arm64"
        root = pool / "build"
        (root / "DEBIAN").mkdir(parents=True)
        (root / "DEBIAN/control").write_text(f"Package: {name}\nVersion: {version}\nArchitecture: {architecture}\n"
                                             "Maintainer: x <x@example.org>\nDescription: x\n"
                                             + ("Multi-Arch: same\n" if architecture != "all" else ""))
        held = root / {"libc6": "usr/lib/aarch64-linux-gnu/libc.so.6", "libc6-dev": "usr/lib/aarch64-linux-gnu/libc.a"}.get(
            name, "usr/include/linux/version.h")
        held.parent.mkdir(parents=True)
        held.write_text(entry)
        if name == "libc6":
            (root / "DEBIAN/shlibs").write_text(f"libc 6 libc6 (>= {version})\n")
        if "link" in flags:
            (root / "lib").mkdir()
            (root / "lib/ld-linux-aarch64.so.1").symlink_to("/usr/lib/aarch64-linux-gnu/libc.so.6")
        deb = pool / f"{name}_{version}_{architecture}.deb"
        run("dpkg-deb", "--root-owner-group", "-Zgzip", "--build", root, deb)
        shutil.rmtree(root)
        return [deb] if "lacks" in flags else []

    def archive(self, root, suites):
        lacking = []
        for suite, (state, packages) in suites.items():
            (root / "pool" / suite).mkdir(parents=True)
            for entry in packages:
                lacking += self.package(root / "pool" / suite, entry)
            dists = root / "dists" / suite
            for directory, kind, index in (("binary-arm64", "packages", "Packages"), ("source", "sources", "Sources")):
                (dists / "main" / directory).mkdir(parents=True)
                listed = run("apt-ftparchive", kind, f"pool/{suite}", cwd=root).stdout.encode()
                (dists / "main" / directory / index).write_bytes(listed)
                (dists / "main" / directory / f"{index}.xz").write_bytes(lzma.compress(listed))
            if state != "unsigned":
                (dists / "Release").write_text(run("apt-ftparchive", "-o", f"APT::FTPArchive::Release::Suite={suite}",
                                                   "release", dists).stdout)
                run("gpg", "--homedir", self.work / ("untrusted" if state == "untrusted" else "trusted"), "--batch",
                    "--clearsign", "--output", dists / "InRelease", dists / "Release")
            if state == "hash":
                for index in dists.glob("main/*/*.xz"):
                    index.write_bytes(lzma.compress(lzma.decompress(index.read_bytes()) + b"\n"))
        for path in lacking:
            path.unlink()
        (root / "sources.list").write_text("".join(f"deb [signed-by={self.work}/trusted.gpg] file:{root} {suite} main\n"
                                                   for suite in suites))

    def machine(self, root, architectures):
        """This machine's C library and kernel headers, each of amd64 but
        those of ARCHITECTURES."""
        installed = [(p, v, architectures.get(p, "amd64"), "install ok installed") for p, v in NATIVE.items()]
        others = [("libc6", "2.31-13", "i386", "install ok installed"), ("zlib1g", "1:1.2.13", "amd64", "install ok installed"),
                  ("linux-libc-dev", "5.10.1-1", "amd64", "deinstall ok config-files")]
        (root / "status").write_text("\n".join(f"Package: {p}\nStatus: {s}\nVersion: {v}\nArchitecture: {a}\n"
                                               for p, v, a, s in installed + others))
        (root / "apt.conf").write_text(f'APT::Architecture "amd64";\nDir::State::status "{root}/status";\n')
        return {"COMPARE_DATES_MIRROR": root / "sources.list", "APT_CONFIG": root / "apt.conf"}

    def outcome(self, out):
        """What a run left in OUT."""
        if not (out / "sysroot.json").exists():
            return {"files": sorted((file.name, file.is_symlink()) for file in out.iterdir()) if out.exists() else None}
        record = json.loads((out / "sysroot.json").read_text())
        return {"versions": {p["package"]: p["version"] for p in record["packages"]}, "c_library": record["c_library"],
                "links": {str(link.relative_to(out)): os.readlink(link) for link in out.rglob("*") if link.is_symlink()},
                "libc.a": run("dpkg-query", f"--root={out}", "-S", "/usr/lib/aarch64-linux-gnu/libc.a").stdout}

    def test_states_of_an_archive(self):
        debs = self.work / "debs"
        debs.mkdir()
        local = [str(self.package(debs, f"{entry} lacks")[0]) for entry in libc("2.36-9+changed")]
        built = ["--as-built", "{buildinfo}"]
        rows = [
            ("all in place", {"main": ("signed", IN_PLACE)}, {}, SYSROOT, 0, "^packaging/sysroot: arm64: libc6 2.36-9, "
             "libc6-dev 2.36-9, linux-libc-dev 6.1.2-1 in /", {"versions": NATIVE, "libc.a": LIBC_A, "links": {"lib": "usr/lib"},
                                                                 "c_library": {"version": "2.36-9", "native": "2.36-9"}}),
            ("native C library only in a suite whose index does not match its Release",
             {"main": ("signed", libc("2.36-8") + HEADERS), "security": ("hash", libc("2.36-9"))}, {}, SYSROOT, 1,
             FAILED + r"security/main arm64 Packages \(Hash Sum mismatch\)$", {"files": None}),
            ("native C library only in a suite signed by a key that the sources do not trust",
             {"main": ("signed", libc("2.36-8") + HEADERS), "security": ("untrusted", libc("2.36-9"))}, {}, SYSROOT, 1,
             FAILED + r"security InRelease \(.+\)$", {"files": None}),
            ("native C library only in a suite without a Release",
             {"main": ("signed", libc("2.36-8") + HEADERS), "security": ("unsigned", libc("2.36-9"))}, {}, SYSROOT, 1,
             FAILED + r"security Release \(File not found - .+\)$", {"files": None}),
            ("native headers only in a failed suite", {"main": ("signed", libc("2.36-9") + ["linux-libc-dev 6.1.1-1"]),
                                                       "security": ("hash", HEADERS)}, {}, SYSROOT, 0,
             r"an index failed to download: file:\S+ security/main arm64 Packages \(Hash Sum mismatch\)\n.*"
             r"arm64's archive has no linux-libc-dev 6.1.2-1, this machine's: taking its newest, 6.1.1-1$",
             {"versions": {**NATIVE, "linux-libc-dev": "6.1.1-1"}}),
            ("native C library nowhere, no index failed", {"main": ("signed", libc("2.36-9+deb12u9") + libc("2.36-9+deb12u10")
                                                                    + libc("2.36-8") + HEADERS)}, {}, SYSROOT, 0,
             r"no libc6 and libc6-dev 2.36-9, this machine's: taking its newest, 2.36-9\+deb12u10$",
             {"c_library": {"version": "2.36-9+deb12u10", "native": "2.36-9"}}),
            ("an index that lists a .deb that the pool lacks", {"main": ("signed", libc("2.36-9", "lacks") + HEADERS)}, {},
             SYSROOT, 1, r"sysroot: the mirror lacks pool/main/libc6_2.36-9_arm64.deb, libc6 2.36-9, which its own index "
             r"lists, as a mirror does in the middle of a sync: another mirror \(COMPARE_DATES_MIRROR\) or a later try "
             r"may have it \(File not found - .+\)$", {"files": None}),
            ("kernel headers of all architectures, as Debian 13 has them",
             {"main": ("signed", libc("2.36-9") + ["linux-libc-dev 6.1.2-1 all"])}, {"linux-libc-dev": "all"}, SYSROOT, 0,
             "", {"versions": NATIVE}),
            ("a .deb that holds an absolute symlink", {"main": ("signed", libc("2.36-9", "link") + HEADERS)}, {}, SYSROOT,
             0, "", {"links": {"lib/ld-linux-aarch64.so.1": "../usr/lib/aarch64-linux-gnu/libc.so.6"}, "libc.a": LIBC_A}),
            ("the .debs that a buildinfo names", {"main": ("signed", IN_PLACE)}, {}, SYSROOT + built, 0, "",
             {"versions": NATIVE}),
            ("a .deb whose SHA-256 is not the one that the buildinfo names", {"main": ("signed", IN_PLACE)}, {},
             SYSROOT + built + ["changed"], 1, r"arm64: libc6 2.36-9 in the archive is not the one that \S+ names$",
             {"files": None}),
            ("a .deb that the buildinfo names and the archive no longer has", {"main": ("signed", libc("2.36-10") + HEADERS)},
             {}, SYSROOT + built, 0, r"archive no longer has libc6 2.36-9, which \S+ names: taking libc6 and libc6-dev "
             r"2.36-10\n.*archive no longer has libc6-dev 2.36-9, .* 2.36-10$", {"versions": {**NATIVE, "libc6": "2.36-10",
                                                                                           "libc6-dev": "2.36-10"}}),
            ("a changed C library in place of the archive's", {"main": ("signed", HEADERS)}, {}, SYSROOT + ["--debs", *local],
             0, "", {"versions": {**NATIVE, "libc6": "2.36-9+changed", "libc6-dev": "2.36-9+changed"},
                     "c_library": {"version": "2.36-9+changed", "native": "2.36-9+changed"}, "libc.a": LIBC_A}),
            ("the C library's source", {"main": ("signed", ["glibc 2.36-9 source", "glibc 2.36-8 source"])}, {}, SOURCES, 0, "",
             {"files": [(f"glibc_{f}", False) for f in ("2.36-9.debian.tar.xz", "2.36-9.dsc", "2.36.orig.tar.xz")]}),
            ("no source of the C library", {"main": ("signed", ["glibc 2.36-8 source"])}, {}, SOURCES, 1,
             r"no index names the source glibc 2.36-9, which a program carries$", {"files": []}),
            ("a .dsc whose orig tarball the pool lacks", {"main": ("signed", ["glibc 2.36-9 source lacks"])}, {}, SOURCES, 1,
             r"the mirror lacks pool/main/glibc_2.36.orig.tar.xz, the source glibc 2.36-9, which its own index lists",
             {"files": []}),
        ]
        for name, suites, architectures, command, status, says, left in rows:
            with self.subTest(name):
                root = Path(tempfile.mkdtemp(dir=self.work))
                self.archive(root, suites)
                facts = {"components": [{"name": "glibc", "version": "2.36-9", "source_required": True}]}
                (root / "facts.json").write_text(json.dumps(facts))
                if "--as-built" in command:
                    lines = ["Sysroot-Packages:"]
                    for package, version in NATIVE.items():
                        deb = root / f"pool/main/{package}_{version}_arm64.deb"
                        right = deb.exists() and not (package == "libc6" and "changed" in command)
                        lines.append(f" {package}:arm64 {version} {sys.modules['archive'].sha256(deb) if right else '0' * 64}")
                    (root / "buildinfo").write_text("\n".join(lines) + "\n")
                (root / "out").mkdir() if command is SOURCES else None
                done = run(*[part.format(out=root / "out", facts=root / "facts.json", buildinfo=root / "buildinfo")
                             for part in command if part != "changed"], env=self.machine(root, architectures))
                self.assertEqual(done.returncode, status, done.stderr)
                self.assertRegex(done.stdout + done.stderr, re.compile(says, re.M))
                self.assertEqual({key: value for key, value in self.outcome(root / "out").items() if key in left}, left)


if __name__ == "__main__":
    unittest.main()
