#!/usr/bin/env python3
"""Builds the Debian package of a build tree in a scratch folder and checks it as apt and
a user see it: its fields and files, that it would install, that the extracted programs
run and print the build's version, that each has a manual page naming exactly the
options its --help names, and that the desktop entry and the metadata validate.
    check_package.py BUILD_DIR VERSION
"""
import glob
import gzip
import os
import re
import subprocess
import sys
import tempfile

ID = "io.github.cadenzo.Cadenzo"
OPTION = re.compile(r"(?<![\w-])--[a-z][a-z0-9-]*")
failures = []


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, **kwargs)


def run_program(args):
    """A program of the package; one that opens a window instead of answering is stopped."""
    try:
        return run(args, timeout=60, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    except subprocess.TimeoutExpired:
        return subprocess.CompletedProcess(args, -1, "", "did not end within 60 s")


def fail(text):
    failures.append(text)
    print("FAIL: " + text)


def manual_text(path):
    """The words of a gzipped roff page with font changes and escapes taken out."""
    text = gzip.decompress(open(path, "rb").read()).decode("utf-8")
    return re.sub(r"\\f[BIRP]", "", text).replace("\\-", "-").replace("\\e", "\\")


def check_programs(root, version, metainfo):
    programs = sorted(glob.glob(os.path.join(root, "usr/bin/*")))
    if not programs:
        fail("the package holds no program")
    for program in programs:
        name = os.path.basename(program)
        shown = run_program([program, "--version"]).stdout
        if shown != "%s %s\n" % (name, version):
            fail("%s --version prints %r, not %r" % (name, shown, "%s %s" % (name, version)))
        if "<binary>%s</binary>" % name not in metainfo:
            fail("the metadata does not list %s among the programs it provides" % name)
        page = os.path.join(root, "usr/share/man/man1/%s.1.gz" % name)
        if not os.path.exists(page):
            fail("%s has no manual page: add packaging/man/%s.1.in (see the others)" % (name, name))
            continue
        listed = set(OPTION.findall(run_program([program, "--help"]).stdout))
        described = set(OPTION.findall(manual_text(page)))
        for option in sorted(listed - described):
            fail("the manual page of %s lacks %s, which its --help lists" % (name, option))
        for option in sorted(described - listed):
            fail("the manual page of %s names %s, which its --help does not" % (name, option))
        shown = run(["man", "--warnings", "-l", page], env=dict(os.environ, MANWIDTH="80"))
        if shown.returncode != 0 or shown.stderr:
            fail("man warns about the page of %s:\n%s" % (name, shown.stderr))


def main():
    build, version = sys.argv[1:3]
    arch = run(["dpkg", "--print-architecture"]).stdout.strip()
    with tempfile.TemporaryDirectory() as scratch:
        made = run(["cpack", "--config", os.path.join(build, "CPackConfig.cmake"), "-G", "DEB",
                    "-B", scratch])
        deb = os.path.join(scratch, "cadenzo_%s_%s.deb" % (version, arch))
        if made.returncode != 0 or not os.path.exists(deb):
            sys.exit("FAIL: cpack made no %s:\n%s%s" % (os.path.basename(deb), made.stdout, made.stderr))

        fields = {key: run(["dpkg-deb", "-f", deb, key]).stdout.strip()
                  for key in ("Package", "Version", "Section", "Depends", "Description")}
        if fields["Version"] != version or fields["Section"] != "sound":
            fail("package version %r, section %r" % (fields["Version"], fields["Section"]))
        # Found by dpkg-shlibdeps from the programs, with the versions they need.
        for library in ("libc6 (>=", "libqt6widgets6 (>=", "libportaudio2 (>=", "libsndfile1 (>=",
                        "qt6-qpa-plugins"):
            if library not in fields["Depends"]:
                fail("Depends lacks %s: %s" % (library, fields["Depends"]))
        if len(fields["Description"].splitlines()) < 3:
            fail("the description has no long part")

        files = [line.split()[-1] for line in run(["dpkg-deb", "-c", deb]).stdout.splitlines()]
        for path in ["./usr/bin/cadenzo", "./usr/bin/cadenzo-split", "./usr/bin/cadenzo-album",
                     "./usr/share/applications/%s.desktop" % ID, "./usr/share/metainfo/%s.metainfo.xml" % ID,
                     "./usr/share/icons/hicolor/scalable/apps/cadenzo.svg",
                     "./usr/share/icons/hicolor/48x48/apps/cadenzo.png"]:
            if path not in files:
                fail("the package lacks " + path)
        for path in files:
            if not path.startswith("./usr/") and path not in ("./", "./usr"):
                fail("the package installs outside /usr: " + path)

        # Resolved against the packages installed here, which the build's own dependencies
        # make a superset of what the programs need: no package lists are read (they take
        # half a minute on a busy machine, and may be stale), and nothing is installed.
        would = run(["apt-get", "install", "--simulate", "-o", "Dir::Etc::SourceList=/dev/null",
                     "-o", "Dir::Etc::SourceParts=/dev/null", "-o", "Debug::NoLocking=1",
                     "./" + os.path.basename(deb)], cwd=scratch)
        if would.returncode != 0 or not re.search(r"^Inst cadenzo ", would.stdout, re.M):
            fail("apt-get would not install the package:\n" + would.stdout + would.stderr)

        root = os.path.join(scratch, "root")
        run(["dpkg-deb", "-x", deb, root], check=True)
        metainfo_path = os.path.join(root, "usr/share/metainfo/%s.metainfo.xml" % ID)
        metainfo = open(metainfo_path, encoding="utf-8").read() if os.path.exists(metainfo_path) else ""
        if '<release version="%s"' % version not in metainfo:
            fail("the metadata's latest release is not %s" % version)
        check_programs(root, version, metainfo)

        entry = os.path.join(root, "usr/share/applications/%s.desktop" % ID)
        checked = run(["desktop-file-validate", entry])
        if checked.returncode != 0 or checked.stdout or checked.stderr:
            fail("desktop-file-validate:\n" + checked.stdout + checked.stderr)
        checked = run(["appstreamcli", "validate", "--no-net", metainfo_path])
        if checked.returncode != 0:
            fail("appstreamcli validate:\n" + checked.stdout + checked.stderr)

    if failures:
        sys.exit(1)
    print("package %s checked" % os.path.basename(deb))


if __name__ == "__main__":
    main()
