"""An apt of its own over the machine's Debian archives, for the release's
scripts: its own sources, lists, cache and state, so that what it fetches
leaves the machine's apt as it was, and what the machine has installed (of
its own architecture) plays no part in what it finds for another."""

import os
import re
import subprocess
import sys
from functools import cmp_to_key
from pathlib import Path


def fail(message):
    sys.exit(f"packaging/{Path(sys.argv[0]).name}: {message}")


def os_release():
    return {key: value.strip('"') for key, value in re.findall(r"^(\w+)=(.*)$", Path("/etc/os-release").read_text(), re.M)}


def archive_lines(kind, codename, apt_etc=Path("/etc/apt")):
    """The machine's Debian archives of the release CODENAME, with its
    -updates and -security suites, as one-line sources of KIND (deb or
    deb-src), keeping each one's signed-by."""
    lines = []
    for path in [apt_etc / "sources.list", *sorted((apt_etc / "sources.list.d").glob("*"))]:
        if not path.is_file():
            continue
        text = path.read_text()
        if path.suffix == ".sources":
            for stanza in re.split(r"\n\s*\n", text):
                fields = dict(re.findall(r"^([A-Za-z-]+):\s*(.*)$", stanza, re.M))
                if "deb" not in fields.get("Types", "").split() or fields.get("Enabled", "yes") == "no":
                    continue
                options = f"[signed-by={fields['Signed-By']}] " if "Signed-By" in fields else ""
                for uri in fields.get("URIs", "").split():
                    for suite in fields.get("Suites", "").split():
                        if re.fullmatch(rf"{codename}(-[a-z]+)?", suite):
                            lines.append(f"{kind} {options}{uri} {suite} {fields.get('Components', 'main')}")
        elif path.suffix == ".list":
            for line in text.splitlines():
                entry = re.match(r"deb\s+(\[[^]]*\]\s+)?\S+\s+(\S+)\s", line)
                if entry and re.fullmatch(rf"{codename}(-[a-z]+)?", entry[2]):
                    lines.append(kind + line[3:])
    if not lines:
        fail(f"the machine's apt sources name no archive of {codename}")
    return lines


def options(state, kind, architecture=None):
    """apt's options for an apt whose every file lies in the directory STATE,
    over the machine's archives of its own release. With an ARCHITECTURE, it
    knows that one alone and nothing installed. The archive's indexes are
    signed, and a clock set far ahead, as reprotest sets it, must not stop
    it for indexes past their date: the versions it is asked for are exact."""
    state = Path(state)
    (state / "sources.list").write_text("\n".join(archive_lines(kind, os_release()["VERSION_CODENAME"])) + "\n")
    (state / "status").touch()
    for sub in ("lists/partial", "cache/archives/partial"):
        (state / sub).mkdir(parents=True, exist_ok=True)
    result = ["-o", f"Dir::Etc::SourceList={state}/sources.list", "-o", "Dir::Etc::SourceParts=/dev/null",
              "-o", "Dir::Etc::Preferences=/dev/null", "-o", "Dir::Etc::PreferencesParts=/dev/null",
              "-o", f"Dir::State::Lists={state}/lists", "-o", f"Dir::Cache={state}/cache",
              "-o", "APT::Sandbox::User=root", "-o", "Acquire::Check-Valid-Until=false", "-q"]
    if architecture:
        result += ["-o", f"Dir::State::status={state}/status",
                   "-o", f"APT::Architecture={architecture}", "-o", f"APT::Architectures={architecture}"]
    return result


def failed_indexes(output):
    """What apt-get update could not fetch, from what it printed: each
    "Err:" line's index with the reason on the line after it."""
    failed = []
    lines = output.splitlines()
    for number, line in enumerate(lines):
        found = re.match(r"^Err:\d+ (.+?)\s*$", line)
        if found:
            reason = lines[number + 1].strip() if number + 1 < len(lines) and lines[number + 1].startswith(" ") else ""
            failed.append(f"{found[1]} ({reason})" if reason else found[1])
    return failed


def update(apt_options):
    """Runs apt-get update, and returns the indexes that failed. A failure
    that names no index is the machine's, and ends the run."""
    result = subprocess.run(["apt-get", *apt_options, "update"], capture_output=True, text=True,
                            env={**os.environ, "LC_ALL": "C"})
    failed = failed_indexes(result.stdout + result.stderr)
    if result.returncode != 0 and not failed:
        fail(f"apt-get update failed:\n{result.stdout}{result.stderr}")
    return failed


def available(apt_options, packages):
    """{package: [versions]} of what the indexes name, each version once."""
    shown = subprocess.run(["apt-cache", *apt_options, "madison", *packages], capture_output=True, text=True).stdout
    versions = {package: [] for package in packages}
    for line in shown.splitlines():
        fields = [field.strip() for field in line.split("|")]
        if len(fields) >= 2 and fields[0] in versions and fields[1] not in versions[fields[0]]:
            versions[fields[0]].append(fields[1])
    return versions


def compare_versions(a, b):
    if a == b:
        return 0
    return -1 if subprocess.run(["dpkg", "--compare-versions", a, "lt", b]).returncode == 0 else 1


def newest(versions):
    return max(versions, key=cmp_to_key(compare_versions))
