"""What the release's scripts share: an apt of their own over Debian's
archives, through libapt itself (python3-apt), and the reading of Debian's
formats through python3-debian.

The apt has its own sources, lists, cache and state, so that what it fetches
leaves the machine's apt as it was, and what the machine has installed (of
its own architecture) plays no part in what it finds for another. Its
sources are the machine's own, of the machine's release, or those that
COMPARE_DATES_MIRROR gives, as mmdebstrap takes its mirror: a URI, a line of
sources.list, or a file of them."""

import hashlib
import os
import platform
import shutil
import sys
from pathlib import Path

import apt.progress.base
import apt_pkg
from aptsources.sourceslist import SourceEntry
from debian.deb822 import BuildInfo, Deb822
from debian.debian_support import Version

MIRROR = "COMPARE_DATES_MIRROR"
# The buildinfo's field that names each .deb of the cross targets' sysroots.
SYSROOT_FIELD = "Sysroot-Packages"


def fail(message):
    sys.exit(f"packaging/{Path(sys.argv[0]).name}: {message}")


def first_line(text):
    return text.strip().split("\n")[0]


def sha256(path):
    with open(path, "rb") as file:
        return hashlib.file_digest(file, "sha256").hexdigest()


def codename():
    return platform.freedesktop_os_release()["VERSION_CODENAME"]


def newest(versions):
    return max(versions, key=Version)


def buildinfo(path):
    try:
        with open(path) as file:
            return BuildInfo(file)
    except OSError as error:
        fail(f"cannot read {path}: {error.strerror}")


def sysroot_packages(path):
    """("package:arch", version, sha256) of each .deb of a sysroot that the
    buildinfo PATH names."""
    return [tuple(line.split()) for line in buildinfo(path).get(SYSROOT_FIELD, "").splitlines() if line.strip()]


def machine_versions(packages):
    """This machine's installed versions of PACKAGES, each of its own
    architecture or of all, as dpkg's status file has them. It must be read
    before an apt of one's own is set up, which changes the architecture."""
    apt_pkg.init_config()
    apt_pkg.init_system()
    ours = (apt_pkg.config.find("APT::Architecture"), "all")
    versions = {}
    with apt_pkg.TagFile(apt_pkg.config.find_file("Dir::State::status")) as status:
        for stanza in status:
            if stanza["Package"] in packages and stanza.get("Architecture") in ours \
                    and stanza.get("Status", "").endswith(" installed"):
                versions[stanza["Package"]] = stanza["Version"]
    return versions


def source_entries(kind, etc=Path("/etc/apt")):
    """The entries of the archives, as KIND (deb or deb-src): one-line
    entries and deb822 stanzas, each with the options it has, signed-by
    among them. Without COMPARE_DATES_MIRROR, they are the machine's of its
    release and its -updates and -security suites."""
    mirror = os.environ.get(MIRROR, "")
    release = codename()
    if mirror.startswith("/") and not Path(mirror).is_file():
        fail(f"{MIRROR} names no file: {mirror}")
    if mirror and not Path(mirror).is_file():
        line = mirror if mirror.split()[0] == "deb" else f"deb {mirror} {release} main"
        return [kind + line[len("deb"):]], []
    if mirror:
        files = [Path(mirror)]
    else:
        files = [etc / "sources.list", *sorted((etc / "sources.list.d").glob("*"))]

    def ours(suite):
        return bool(mirror) or suite == release or suite.startswith(release + "-")

    lines, stanzas = [], []
    for path in files:
        if not path.is_file():
            continue
        if path.suffix == ".sources":
            for stanza in Deb822.iter_paragraphs(path.read_text()):
                suites = [suite for suite in stanza.get("Suites", "").split() if ours(suite)]
                if "deb" in stanza.get("Types", "").split() and suites and stanza.get("Enabled", "yes") != "no":
                    stanza["Types"], stanza["Suites"] = kind, " ".join(suites)
                    stanzas.append(stanza)
        elif path.suffix == ".list" or mirror:
            for line in path.read_text().splitlines():
                entry = SourceEntry(line)
                if entry.type == "deb" and not entry.disabled and ours(entry.dist):
                    lines.append(kind + line.strip()[len("deb"):])
    if not lines and not stanzas:
        fail(f"{mirror} names no archive" if mirror else f"the machine's apt sources name no archive of {release}")
    return lines, stanzas


class Failures(apt.progress.base.AcquireProgress):
    """What apt could not fetch, each with its own error. An item that
    failed where apt has another way, such as InRelease where Release and
    Release.gpg stand, is done or idle, as apt-get shows it "Ign"."""

    def __init__(self):
        super().__init__()
        self.failed = []

    def fail(self, item):
        if item.owner.status not in (item.owner.STAT_IDLE, item.owner.STAT_DONE):
            self.failed.append(f"{item.description} ({first_line(item.owner.error_text)})")


class Archive:
    """An apt whose every file lies in the directory STATE, over the
    archives' KIND entries, its indexes fetched anew. With an ARCHITECTURE,
    it knows that one alone and nothing installed. The indexes are signed,
    and a clock set far ahead, as reprotest sets it, must not stop it for
    indexes past their date: the versions it is asked for are exact."""

    def __init__(self, state, kind, architecture=None):
        state = Path(state)
        lines, stanzas = source_entries(kind)
        for directory in ("sources.list.d", "preferences.d", "lists/partial"):
            (state / directory).mkdir(parents=True)
        (state / "sources.list").write_text("".join(line + "\n" for line in lines))
        (state / "sources.list.d/archive.sources").write_text("\n".join(str(stanza) for stanza in stanzas))
        (state / "status").touch()
        apt_pkg.init_config()
        settings = {
            "Dir::Etc::SourceList": state / "sources.list", "Dir::Etc::SourceParts": state / "sources.list.d",
            "Dir::Etc::Preferences": "/dev/null", "Dir::Etc::PreferencesParts": state / "preferences.d",
            "Dir::State::Lists": state / "lists", "Dir::Cache": state / "cache",
            "Dir::Cache::pkgcache": "", "Dir::Cache::srcpkgcache": "",
            "APT::Sandbox::User": "root", "Acquire::Check-Valid-Until": "false", "Acquire::Languages": "none",
        }
        if architecture:
            settings.update({"Dir::State::status": state / "status", "APT::Architecture": architecture})
            apt_pkg.config.clear("APT::Architectures")
            apt_pkg.config.set("APT::Architectures::", architecture)
        for key, value in settings.items():
            apt_pkg.config.set(key, str(value))
        apt_pkg.init_system()
        self.sources = apt_pkg.SourceList()
        self.sources.read_main_list()
        progress = Failures()
        try:
            apt_pkg.Cache(None).update(progress, self.sources)
        except apt_pkg.Error as error:
            # A failure that names no index is the machine's, and ends the run.
            if not progress.failed:
                fail(f"the archives' indexes could not be fetched: {error}")
        self.failed = progress.failed
        self.cache = apt_pkg.Cache(None)

    def versions(self, package):
        """The versions of PACKAGE that the indexes name."""
        return {version.ver_str for version in self.cache[package].version_list} if package in self.cache else set()

    def binaries(self, wanted):
        """(what, path, URI, hashes, size) of the .deb of each package at the
        version WANTED names, as its index gives them."""
        records = apt_pkg.PackageRecords(self.cache)
        files = []
        for package, version in sorted(wanted.items()):
            found = [v for v in self.cache[package].version_list if v.ver_str == version] if package in self.cache else []
            if not found:
                fail(f"no index names {package} {version}")
            records.lookup(found[0].file_list[0])
            index = self.sources.find_index(found[0].file_list[0][0])
            files.append((f"{package} {version}", records.filename, index.archive_uri(records.filename),
                          records.hashes, found[0].size))
        return files

    def source(self, name, version):
        """(what, path, URI, hashes, size) of each file of the source
        package NAME at VERSION, as its index gives them, its .dsc first, or
        None where no index names it."""
        records = apt_pkg.SourceRecords()
        while records.lookup(name):
            if records.version == version:
                return [(f"the source {name} {version}", file.path, records.index.archive_uri(file.path),
                         file.hashes, file.size) for file in records.files]


def fetch(files, directory):
    """Fetches FILES, as Archive gives them, into DIRECTORY, each checked
    against the hashes of the signed index that lists it, and returns their
    paths there: all of them, or none. Each is a copy, as apt links to a file
    that a file: URI names."""
    staging = Path(directory, ".fetching")
    staging.mkdir(parents=True, exist_ok=True)
    try:
        fetcher = apt_pkg.Acquire(apt.progress.base.AcquireProgress())
        items = [(what, path, apt_pkg.AcquireFile(fetcher, uri, hash=hashes, size=size, destdir=str(staging)))
                 for what, path, uri, hashes, size in files]
        fetcher.run()
        for what, path, item in items:
            if item.status == item.STAT_ERROR:
                fail(f"the mirror lacks {path}, {what}, which its own index lists, as a mirror does in the middle "
                     f"of a sync: another mirror ({MIRROR}) or a later try may have it ({first_line(item.error_text)})")
            if item.status != item.STAT_DONE:
                fail(f"{path}, {what}, could not be fetched: {first_line(item.error_text)}")
        fetched = [Path(directory, Path(path).name) for _, path, _ in items]
        for (_, _, item), path in zip(items, fetched):
            shutil.copyfile(item.destfile, path)
        return fetched
    finally:
        shutil.rmtree(staging)
