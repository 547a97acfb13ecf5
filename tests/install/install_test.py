"""Checks an installation of quarlex in a temporary DESTDIR, and the Debian package.

Run by CTest (tests/install/CMakeLists.txt): first with --install, which installs the build tree
into WORK/root, then once per test class named on the command line.
"""

import argparse
import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

PREFIX = "/usr/local"
args = None


def run(command, env=None, cwd=None, check=True):
    """Runs a command with text output; with check, a failure fails the calling test."""
    merged = dict(os.environ, LC_ALL="C.UTF-8")
    merged.update(env or {})
    result = subprocess.run(command, env=merged, cwd=cwd, capture_output=True, text=True)
    if check and result.returncode != 0:
        raise AssertionError("%s exited with %d\n%s%s" % (command, result.returncode, result.stdout, result.stderr))
    return result


def root():
    return os.path.join(args.work, "root")


def installed(relative):
    return os.path.join(root() + PREFIX, relative)


def cache_value(name):
    with open(os.path.join(args.build, "CMakeCache.txt")) as cache:
        for line in cache:
            if line.startswith(name + ":"):
                return line.split("=", 1)[1].strip()
    raise KeyError(name)


LIBDIR = None  # CMAKE_INSTALL_LIBDIR of the build tree, read once the arguments are known


def library_env():
    """Environment for an unsanitized caller of the installed (maybe sanitized) library."""
    env = {"LD_LIBRARY_PATH": installed(LIBDIR), "ASAN_OPTIONS": "detect_leaks=0"}
    if args.preload:
        env["LD_PRELOAD"] = args.preload
    return env


def program_env():
    return {"DISPLAY": "", "WAYLAND_DISPLAY": "", "QT_QPA_PLATFORM": "", "XDG_CONFIG_HOME": args.work}


def sample_database(folder):
    path = os.path.join(folder, "shop.accdb")
    run([args.mkdb, "--sample", path])
    return path


def python_dir():
    version = "%d.%d" % sys.version_info[:2]
    return "lib/python%s/dist-packages" % version


def install():
    shutil.rmtree(root(), ignore_errors=True)
    result = run(["cmake", "--install", args.build, "--prefix", PREFIX], env={"DESTDIR": root()})
    if "CMake Warning" in result.stderr or "CMake Error" in result.stderr:
        raise AssertionError("cmake --install complained:\n" + result.stderr)
    # Kept apart: cpack, run by another test at the same time, writes the build tree's manifest too.
    shutil.copy(os.path.join(args.build, "install_manifest.txt"), os.path.join(args.work, "install_manifest.txt"))


class InstalledTree(unittest.TestCase):
    def test_every_file_is_in_place(self):
        lib = LIBDIR
        expected = [
            "bin/quarlex2007", "bin/quarlex",
            lib + "/libquarlex_d.so.%s" % args.version, lib + "/libquarlex_d2007.so.%s" % args.version,
            "include/quarlex.h", lib + "/pkgconfig/quarlex.pc",
            "share/man/man1/quarlex2007.1.gz", "share/man/man1/quarlex.1.gz", "share/man/man3/libquarlex_d.3.gz",
            "share/man/man3/libquarlex_d2007.3.gz", "share/man/man3/QUARLEX_Converter.3.gz",
            "share/man/man3/QUARLEX_ConverterStr.3.gz", "share/man/man3/QUARLEX_LastMessages.3.gz", lib + "/quarlex/libquarlex_wizard.so",
            "share/bash-completion/completions/quarlex2007", "share/bash-completion/completions/quarlex",
            "share/applications/quarlex2007.desktop", "share/applications/quarlex.desktop",
            "share/mime/packages/quarlex.xml", "share/icons/hicolor/scalable/apps/quarlex.svg",
            "share/icons/hicolor/48x48/apps/quarlex.png",
            python_dir() + "/quarlex/__init__.py", python_dir() + "/quarlex/_location.py",
        ]
        missing = [path for path in expected if not os.path.isfile(installed(path))]
        self.assertEqual(missing, [])
        for program in ("quarlex2007", "quarlex"):
            self.assertTrue(os.access(installed("bin/" + program), os.X_OK))

    def test_libraries_are_versioned_and_export_two_entry_points(self):
        major = args.version.split(".")[0]
        for name in ("libquarlex_d", "libquarlex_d2007"):
            link = installed("%s/%s.so" % (LIBDIR, name))
            self.assertEqual(os.readlink(link), "%s.so.%s" % (name, major))
            self.assertEqual(os.readlink(link[:-3] + ".so." + major), "%s.so.%s" % (name, args.version))
            dynamic = run(["readelf", "-d", link]).stdout
            self.assertIn("Library soname: [%s.so.%s]" % (name, major), dynamic)
            symbols = run(["nm", "-D", "--defined-only", link]).stdout.split("\n")
            exported = sorted(line.split()[-1] for line in symbols if re.match(r"^\S+ [TWDBV] ", line))
            self.assertEqual(exported, ["QUARLEX_Converter", "QUARLEX_ConverterStr", "QUARLEX_LastMessages"])

    def test_everything_lands_under_the_prefix_in_destdir(self):
        with open(os.path.join(args.work, "install_manifest.txt")) as manifest:
            paths = manifest.read().split()
        self.assertGreater(len(paths), 10)
        self.assertEqual([path for path in paths if not path.startswith(PREFIX + "/")], [])
        self.assertEqual([path for path in paths if not os.path.lexists(root() + path)], [])
        self.assertEqual(os.listdir(root()), [PREFIX.split("/")[1]])


class DesktopEntries(unittest.TestCase):
    def test_entries_validate_and_point_at_installed_files(self):
        for program in ("quarlex2007", "quarlex"):
            entry = installed("share/applications/%s.desktop" % program)
            result = run(["desktop-file-validate", entry], check=False)
            self.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""))
            with open(entry) as text:
                keys = dict(line.rstrip("\n").split("=", 1) for line in text if "=" in line)
            self.assertEqual(keys["Exec"], program + " %f")
            self.assertTrue(os.path.isfile(installed("bin/" + program)))
            self.assertTrue(os.path.isfile(installed("share/icons/hicolor/48x48/apps/%s.png" % keys["Icon"])))
            self.assertEqual(set(keys["MimeType"].strip(";").split(";")),
                             {"application/x-msaccess", "application/vnd.ms-access"})

    def test_access_2007_files_get_the_access_type(self):
        # The MIME package, compiled alone, maps the newer endings to the type the entries open.
        with tempfile.TemporaryDirectory() as mime:
            os.mkdir(os.path.join(mime, "packages"))
            shutil.copy(installed("share/mime/packages/quarlex.xml"), os.path.join(mime, "packages"))
            run(["update-mime-database", mime])
            with open(os.path.join(mime, "globs2")) as globs:
                types = {line.strip().split(":")[2]: line.split(":")[1] for line in globs if not line.startswith("#")}
            for ending in ("accdb", "accde", "accdt", "accdr"):
                self.assertEqual(types.get("*." + ending), "application/vnd.ms-access")


class ManualPages(unittest.TestCase):
    pages = ["man1/quarlex2007.1.gz", "man1/quarlex.1.gz", "man3/libquarlex_d.3.gz"]

    def render(self, page):
        man_dir = installed("share/man")
        result = run(["man", "--warnings=w", "-l", "-Tutf8", page], cwd=man_dir,
                     env={"MANWIDTH": "80", "MAN_KEEP_FORMATTING": "0"}, check=False)
        self.assertEqual((result.returncode, result.stderr), (0, ""), page)
        return re.sub(r".\x08", "", result.stdout)

    def test_pages_render_without_warnings(self):
        for page in self.pages:
            with gzip.open(installed("share/man/" + page), "rt") as source:
                groff = subprocess.run(["groff", "-ww", "-man", "-z"], input=source.read(), capture_output=True, text=True)
            self.assertEqual((groff.returncode, groff.stderr), (0, ""), page)
            text = self.render(page)
            self.assertIn("NAME", text)
            self.assertIn("quarlex %s" % args.version, text)
            self.assertNotIn("@", text.replace("#include", ""), page)  # no placeholder left unfilled

    def test_library_names_lead_to_the_library_page(self):
        for page in ("man3/QUARLEX_Converter.3.gz", "man3/QUARLEX_ConverterStr.3.gz", "man3/libquarlex_d2007.3.gz"):
            text = self.render(page)
            self.assertIn("RETURN VALUE", text)
            self.assertIn("QUARLEX_ConverterStr", text)

    def test_program_page_describes_every_switch_of_the_help(self):
        usage = run([installed("bin/quarlex2007"), "--help"], env=program_env()).stdout
        switches = set(re.findall(r"^\s+(/[A-Z]+=?)", usage, re.M))
        self.assertGreater(len(switches), 15)
        page = self.render("man1/quarlex2007.1.gz")
        self.assertEqual(sorted(switch for switch in switches if switch not in page), [])
        self.assertIn("EXIT STATUS", page)
        self.assertIn("Result", page)


class PkgConfigCaller(unittest.TestCase):
    def test_a_c_caller_builds_and_converts(self):
        env = {"PKG_CONFIG_PATH": installed(LIBDIR + "/pkgconfig"), "PKG_CONFIG_SYSROOT_DIR": root()}
        flags = run(["pkg-config", "--cflags", "--libs", "quarlex"], env=env).stdout.split()
        self.assertEqual(run(["pkg-config", "--modversion", "quarlex"], env=env).stdout.strip(), args.version)
        with tempfile.TemporaryDirectory() as work:
            source = os.path.join(work, "caller.c")
            with open(source, "w") as text:
                text.write("""
#include <stdio.h>
#include <quarlex.h>
int main(int argc, char **argv) {
    const char *none[] = { "caller" };
    char text[4096];
    snprintf(text, sizeof text, "caller#%s#%s#/TYPE=2007", argv[1], argv[2]);
    printf("%d %d\\n", QUARLEX_Converter(0, 1, none), QUARLEX_ConverterStr(0, text));
    return 0;
}
""")
            program = os.path.join(work, "caller")
            run([args.cc, "-Wall", "-Werror", source, "-o", program] + flags)
            needed = run(["readelf", "-d", program]).stdout
            self.assertIn("[libquarlex_d.so.%s]" % args.version.split(".")[0], needed)
            book = os.path.join(work, "shop.xlsx")
            result = run([program, sample_database(work), book], env=library_env())
            self.assertEqual(result.stdout, "1 0\n")
            self.assertTrue(os.path.getsize(book) > 0)


class InstalledPrograms(unittest.TestCase):
    def test_help_and_version_answer_alone(self):
        for program in ("quarlex2007", "quarlex"):
            path = installed("bin/" + program)
            version = run([path, "--version"], env=program_env())
            self.assertEqual((version.stdout, version.stderr), ("%s %s\n" % (program, args.version), ""))
            usage = run([path, "--help"], env=program_env())
            self.assertEqual(usage.stderr, "")
            self.assertTrue(usage.stdout.startswith("Usage: %s " % program), usage.stdout)
            for part in ("Exit status:", "Status file:", "Examples:", "/SILENT", "/CELLS=TYPED",
                         "/LAYOUT=TABLE", "/ROWS=N"):
                self.assertIn(part, usage.stdout)
            lines = usage.stdout.split("\n")
            self.assertLessEqual(max(len(line) for line in lines), 80)
            switches = lines[lines.index(next(l for l in lines if l.startswith("Switches"))) + 1:]
            switches = switches[:switches.index(next(l for l in switches if l.startswith("Accepted")))]
            self.assertEqual([line for line in switches if not line.startswith("  /")], [])  # one line each

    def test_an_answer_that_cannot_be_written_fails(self):
        with open("/dev/full", "w") as full:
            result = subprocess.run([installed("bin/quarlex2007"), "--help"], stdout=full,
                                    env=dict(os.environ, **program_env()))
        self.assertEqual(result.returncode, 1)

    def test_help_among_other_arguments_is_an_unknown_switch(self):
        with tempfile.TemporaryDirectory() as work:
            database = sample_database(work)
            book = os.path.join(work, "shop.xls")
            result = run([installed("bin/quarlex2007"), database, book, "--help", "/SILENT"],
                         env=program_env(), check=False)
            self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "", ""))
            self.assertTrue(os.path.isfile(book))
            # Without /SILENT and without a display the wizard cannot open: no usage either.
            result = run([installed("bin/quarlex"), "--version", database], env=program_env(), check=False)
            self.assertEqual((result.returncode, result.stdout), (1, ""))
            self.assertIn("/SILENT", result.stderr)


    def test_qt_is_loaded_only_with_the_wizard(self):
        for binary in ("bin/quarlex2007", "bin/quarlex", LIBDIR + "/libquarlex_d.so.1", LIBDIR + "/libquarlex_d2007.so.1"):
            linked = run(["ldd", installed(binary)]).stdout
            for library in ("libQt", "libmdb", "libglib", "libcrypto"):  # libcrypto: opened when needed
                self.assertNotIn(library, linked, binary)
        wizard = installed(LIBDIR + "/quarlex/libquarlex_wizard.so")
        self.assertIn("libQt6Widgets", run(["ldd", wizard]).stdout)
        exported = run(["nm", "-D", "--defined-only", wizard]).stdout.split("\n")
        self.assertEqual([line.split()[-1] for line in exported if re.match(r"^\S+ [TWDBV] ", line)],
                         ["quarlex_show_wizard"])
        # The installed program finds its wizard's library: only the display is missing.
        result = run([installed("bin/quarlex2007")], env=program_env(), check=False)
        self.assertEqual(result.returncode, 1)
        self.assertIn("the wizard cannot be shown here (no display)", result.stderr)

    def test_bash_completes_the_switches(self):
        completion = installed("share/bash-completion/completions/quarlex")
        result = run(["bash", "--norc", "-c", 'source "$0" && COMP_WORDS=(quarlex /TY) COMP_CWORD=1 && _quarlex '
                      '&& echo "${COMPREPLY[@]}"', completion])
        self.assertEqual(result.stdout, "/TYPE=2007 /TYPE=ANY\n")


class PythonModule(unittest.TestCase):
    def python(self, code, *script_args, env=None, check=True):
        merged = library_env()
        merged["PYTHONPATH"] = installed(python_dir())
        merged.update(env or {})
        return run(["/usr/bin/python3", "-c", code] + list(script_args), env=merged, check=check)

    def test_converts_the_sample_database_like_the_program(self):
        with tempfile.TemporaryDirectory() as work:
            database = sample_database(work)
            by_module = os.path.join(work, "module.xlsx")
            by_program = os.path.join(work, "program.xlsx")
            result = self.python("""
import sys, quarlex
print(quarlex.__version__)
print(quarlex.convert(sys.argv[1], sys.argv[2], overwrite=True))
print(quarlex.library_path())
""", database, by_module)
            version, written, library = result.stdout.split("\n")[:3]
            self.assertEqual((version, written), (args.version, by_module))
            # Found beside the module, inside DESTDIR, without QUARLEX_LIBRARY.
            self.assertTrue(os.path.samefile(library, installed(LIBDIR + "/libquarlex_d.so.1")), library)
            run([installed("bin/quarlex2007"), database, by_program, "/TYPE=2007", "/SILENT"], env=program_env())
            read = os.path.join(args.source, "tests", "support", "read_workbook.py")
            module_book = run(["/usr/bin/python3", read, by_module]).stdout
            self.assertEqual(module_book, run(["/usr/bin/python3", read, by_program]).stdout)
            self.assertIn('"rows"', module_book)

            only = os.path.join(work, "only.xls")
            result = self.python("""
import sys, json, quarlex
quarlex.convert(sys.argv[1], sys.argv[2], tables="Customers", book_type="xls", header=False)
""", database, only)
            book = run(["/usr/bin/python3", read, only]).stdout
            self.assertIn('"Customers"', book)
            self.assertNotIn('"Orders"', book)

            # A file name that is no UTF-8 reaches the library byte for byte.
            strange = os.fsencode(work) + b"/caf\xe9.accdb"
            shutil.copy(database, strange)
            self.python("""
import os, sys, quarlex
source = os.fsencode(sys.argv[1]) + b"/caf\\xe9.accdb"
quarlex.convert(source, os.fsdecode(source)[:-6] + ".xlsx")
""", work)
            self.assertTrue(os.path.isfile(os.fsencode(work) + b"/caf\xe9.xlsx"))

    def test_failures_raise(self):
        with tempfile.TemporaryDirectory() as work:
            database = sample_database(work)
            result = self.python("""
import os, sys, quarlex
work, database = sys.argv[1], sys.argv[2]
missing = os.path.join(work, "missing.accdb")
try:
    quarlex.convert(missing, os.path.join(work, "out.xlsx"))
except FileNotFoundError as error:
    print("missing", isinstance(error, quarlex.QuarlexError), error.code, error.filename == missing)
try:
    quarlex.convert_arguments([database])
except quarlex.QuarlexError as error:
    print("no output", error.code, error.meaning)
for kwargs in ({"password": "secret.mdb"}, {"tables": ["a;b"]}, {"book_type": "xls"}, {"rows": 1048576},
               {"codepage": "936"}):
    try:
        quarlex.convert(database, os.path.join(work, "out.xlsx"), **kwargs)
    except ValueError as error:
        print("refused", sorted(kwargs))
try:
    quarlex.convert(database, os.path.join(work, "out.xlsb"))
except ValueError as error:
    print("refused", "binary" in str(error))
bad = open(os.path.join(work, "bad.mdb"), "wb")
bad.write(bytes(4096))
bad.close()
try:
    quarlex.convert(os.path.join(work, "bad.mdb"), os.path.join(work, "bad.xlsx"))
except quarlex.QuarlexError as error:
    print("bad", error.code, error.messages.startswith("Error: Cannot open the database " + work + "/bad.mdb."),
          error.messages in str(error).replace("\\n  ", "\\n") + "\\n")
try:
    quarlex.convert(os.path.join(work, "zz*.mdb"), os.path.join(work, "p.xlsx"))
except quarlex.QuarlexError as error:
    print("nothing", error.code, error.meaning.startswith("no database matched"))
for flag in ({"overwrite": "no"}, {"header": 2}, {"files": None}):
    try:
        quarlex.convert(database, os.path.join(work, "flag.xlsx"), **flag)
    except TypeError as error:
        print("type", sorted(flag))
print(sorted(os.listdir(work)))
""", work, database)
            self.assertEqual(result.stdout.split("\n"), [
                "missing True 5 True",
                "no output 2 a source database but no output workbook among the arguments; nothing was done",
                "refused ['password']", "refused ['tables']", "refused ['book_type']", "refused ['rows']", "refused ['codepage']",
                "refused True", "bad 3 True True", "nothing 0 True",
                "type ['overwrite']", "type ['header']", "type ['files']",
                "['bad.mdb', 'shop.accdb', 'shop.ini']", ""])

    def test_quarlex_library_chooses_the_library(self):
        result = self.python("import quarlex; quarlex.convert_arguments([])",
                             env={"QUARLEX_LIBRARY": "/nonexistent/libquarlex_d.so"}, check=False)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("/nonexistent/libquarlex_d.so", result.stderr)
        self.assertIn("QUARLEX_LIBRARY", result.stderr)
        library = installed(LIBDIR + "/libquarlex_d2007.so.1")
        result = self.python("import quarlex; print(quarlex.library_path())", env={"QUARLEX_LIBRARY": library})
        self.assertEqual(result.stdout, library + "\n")


class DebianPackage(unittest.TestCase):
    def test_package_holds_the_installation_and_its_dependencies(self):
        with tempfile.TemporaryDirectory() as work:
            run(["cpack", "-G", "DEB", "-B", work, "--config", os.path.join(args.build, "CPackConfig.cmake")])
            package = os.path.join(work, "quarlex_%s_amd64.deb" % args.version)
            self.assertTrue(os.path.isfile(package), os.listdir(work))
            contents = run(["dpkg-deb", "--contents", package]).stdout
            files = {line.split()[5] for line in contents.split("\n") if line.strip()}
            for path in ("./usr/bin/quarlex2007", "./usr/bin/quarlex", "./usr/include/quarlex.h",
                         "./usr/share/man/man1/quarlex2007.1.gz", "./usr/share/man/man3/libquarlex_d.3.gz",
                         "./usr/share/applications/quarlex2007.desktop", "./usr/share/mime/packages/quarlex.xml",
                         "./usr/share/icons/hicolor/scalable/apps/quarlex.svg",
                         "./usr/lib/python3/dist-packages/quarlex/__init__.py",
                         "./usr/share/bash-completion/completions/quarlex2007",
                         "./usr/share/bash-completion/completions/quarlex"):
                self.assertIn(path, files)
            libdir = "./usr/" + LIBDIR
            self.assertIn("%s/libquarlex_d.so.%s" % (libdir, args.version), files)
            self.assertIn("%s/pkgconfig/quarlex.pc" % libdir, files)
            self.assertIn("%s/quarlex/libquarlex_wizard.so" % libdir, files)
            self.assertEqual([path for path in files if path != "./" and not path.startswith("./usr/")], [])

            depends = run(["dpkg-deb", "--field", package, "Depends"]).stdout
            names = {item.strip().split(" ")[0] for item in depends.replace("|", ",").split(",")}
            for name in ("libc6", "libstdc++6", "libqt6widgets6", "libssl3", "zlib1g"):
                self.assertIn(name, names, depends)
            for name in ("libmdb3", "libglib2.0-0"):  # our own reader of the Access format
                self.assertNotIn(name, names, depends)
            self.assertNotIn("quarlex", names)
            # The Python module points at the packaged library.
            extract = os.path.join(work, "tree")
            run(["dpkg-deb", "-x", package, extract])
            with open(os.path.join(extract, "usr/lib/python3/dist-packages/quarlex/_location.py")) as location:
                self.assertIn('LIBRARY = "/usr/%s/libquarlex_d.so.1"' % LIBDIR, location.read())
            with open(os.path.join(extract, "usr", LIBDIR, "pkgconfig/quarlex.pc")) as pc:
                self.assertIn("prefix=/usr\n", pc.read())


def main():
    global args, LIBDIR
    parser = argparse.ArgumentParser()
    for option in ("--build", "--work", "--version", "--preload", "--cc", "--mkdb"):
        parser.add_argument(option, required=True)
    parser.add_argument("--install", action="store_true")
    args, rest = parser.parse_known_args()
    args.source = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    LIBDIR = cache_value("CMAKE_INSTALL_LIBDIR")
    if args.install:
        install()
        return 0
    program = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
