#!/usr/bin/env python3
"""Host builds through what the module ships, each run against the sample
update server (example_run.py):

  consumers   `cmake --install` into a scratch prefix; the installed Linux
              example built with find_package and with pkg-config; the
              installed tool
  deb         the Debian packages (CPack, as scripts/package makes them),
              unpacked with dpkg-deb -x into a scratch root: the same two
              builds of the packaged example and the tool; no lintian error
              or hardening tag; each package's copyright and changelog; each
              tool and its man page in marvostell-tools, the API's in -dev;
              the tools' dependency on the library only if they link it; the
              -dbgsym packages' symbols found by gdb; the guides' links
  subdir      a project that takes the source tree with add_subdirectory
  imports     a Windows host linked with the import library names
              Marvostell.dll (objdump)
  zip         the Windows zips (cmake/WindowsZip.cmake, as scripts/package
              makes them) from both build trees, unpacked alone: each folder
              holds binaries of its width, stripped, whose symbols gdb finds
              in the symbols zip; the guides' links; the licence at the top;
              then, for one width, the GUI example built with CMake from the
              zip's package and run under Wine, a C host linked by lld-link
              with Marvostell.lib and run, and the zip's marvostell-check
              running a check
"""
import argparse, glob, hashlib, os, re, shutil, subprocess, sys, tempfile, zipfile

import update_server

HERE = os.path.dirname(os.path.abspath(__file__))


def run(command, **kwargs):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            **kwargs)
    if result.returncode != 0:
        raise SystemExit(f"FAIL: {' '.join(command)} exited {result.returncode}:\n"
                         f"{result.stdout[-3000:]}")
    return result.stdout


def run_host(args, host, env=None):
    extra = [f"--env={k}={v}" for k, v in (env or {}).items()]
    print(run([sys.executable, os.path.join(HERE, "example_run.py"), "--server", args.server,
               "--kind", "linux"] + extra + [host]).strip())


STRICT_C = "-std=c99 -Wall -Wextra -Werror -pedantic"


LINK = re.compile(r"!?\[[^\]]*\]\(([^)\s]+)\)")


def headings(page):
    """The anchors of a Markdown page's headings, as renderers make them."""
    with open(page) as f:
        return {re.sub(r"[^\w\- ]", "", h.strip().lower()).replace(" ", "-")
                for h in re.findall(r"^#+ (.*)$", f.read(), re.M)}


def check_links(top):
    """Every relative link of the Markdown pages under top names a file (and a
    heading) inside top."""
    pages = glob.glob(os.path.join(top, "**", "*.md"), recursive=True)
    broken = []
    for page in pages:
        with open(page) as f:
            text = re.sub(r"`[^`\n]*`", "", re.sub(r"^```.*?^```", "", f.read(), flags=re.S | re.M))
        for target in LINK.findall(text):
            if re.match(r"[a-z]+:", target):
                continue
            path, _, anchor = target.partition("#")
            linked = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
            if not linked.startswith(top + os.sep) or not os.path.exists(linked) or \
                    (anchor and linked.endswith(".md") and anchor not in headings(linked)):
                broken.append(f"{os.path.relpath(page, top)}: {target}")
    if not pages or broken:
        raise SystemExit(f"FAIL: links that lead nowhere in {top} ({len(pages)} pages):\n" +
                         "\n".join(broken))
    print(f"links: {len(pages)} pages, every relative link resolves")


def gdb_finds_symbols(binary, debug_dir=None):
    """gdb reads the source line of CheckNewVersionEx (a tool's main) from the
    split debug file."""
    function = "main" if re.search(r"marvostell-\w+(\.exe)?$", binary) else "CheckNewVersionEx"
    setup = ["-iex", f"set debug-file-directory {debug_dir}"] if debug_dir else []
    out = run(["gdb", "-nx", "-batch"] + setup + ["-ex", f"info line {function}", binary])
    if not re.search(r'Line \d+ of ".*\.cpp"', out):
        raise SystemExit(f"FAIL: gdb finds no symbols for {binary}:\n{out}")


def build_against(args, prefix, work, root=None):
    """Builds and runs the installed Linux example against an installed
    prefix (under root, when unpacked there), through the CMake package and
    through pkg-config, whose paths are plain ones under the prefix."""
    installed = os.path.join(root, prefix.lstrip("/")) if root else prefix
    example = os.path.join(installed, "share/doc/marvostell/examples/linux-host")
    build = os.path.join(work, "with-find-package")
    run(["cmake", "-S", example, "-B", build, f"-DCMAKE_PREFIX_PATH={installed}",
         f"-DCMAKE_C_FLAGS={STRICT_C}"])
    run(["cmake", "--build", build])
    run_host(args, os.path.join(build, "linux-host"))

    pc_files = glob.glob(os.path.join(installed, "lib*", "**", "marvostell.pc"), recursive=True)
    if len(pc_files) != 1:
        raise SystemExit(f"FAIL: want one marvostell.pc under {installed}, found {pc_files}")
    env = dict(os.environ, PKG_CONFIG_PATH=os.path.dirname(pc_files[0]),
               PKG_CONFIG_SYSROOT_DIR=root or "")
    with open(pc_files[0]) as f:
        written = f.read()
    if not written.startswith(f"prefix={prefix}\n") or "/.." in written:
        raise SystemExit(f"FAIL: marvostell.pc, want plain paths under {prefix}:\n{written}")
    flags = run(["pkg-config", "--cflags", "--libs", "marvostell"], env=env).split()
    libdir = run(["pkg-config", "--variable=libdir", "marvostell"], env=env).strip()
    host = os.path.join(work, "with-pkg-config")
    run(["cc"] + STRICT_C.split() + [os.path.join(example, "host.c"), "-o", host] + flags +
        ["-pthread"])
    run_host(args, host, {"LD_LIBRARY_PATH": libdir})


def check_prefix(args, prefix, man_suffix=".1"):
    """What a build cannot show: the SONAME link chain and the tools."""
    libraries = glob.glob(os.path.join(prefix, "lib*", "**", "libmarvostell.so"), recursive=True)
    if len(libraries) != 1:
        raise SystemExit(f"FAIL: want one libmarvostell.so under {prefix}, found {libraries}")
    soname = os.readlink(libraries[0])
    real = os.readlink(os.path.join(os.path.dirname(libraries[0]), soname))
    if soname != "libmarvostell.so.1" or not real.startswith("libmarvostell.so.1."):
        raise SystemExit(f"FAIL: link chain libmarvostell.so -> {soname} -> {real}")
    # Each tool with its man page, and running without LD_LIBRARY_PATH.
    env = {k: v for k, v in os.environ.items() if k != "LD_LIBRARY_PATH"}
    for tool in ["marvostell-check"] + [os.path.basename(p)[:-2] for p in
                                        glob.glob(os.path.join(args.source_dir, "docs/man/*.1"))]:
        if not os.path.exists(os.path.join(prefix, "share/man/man1", tool + man_suffix)) and \
                os.path.exists(os.path.join(args.source_dir, "docs/man", tool + ".1")):
            raise SystemExit(f"FAIL: man page of {tool} not installed")
        run([os.path.join(prefix, "bin", tool), "--help"], env=env)
    page = os.path.join(prefix, "share/man/man3/CheckNewVersion.3" + man_suffix[2:])
    if not os.path.exists(page):
        raise SystemExit(f"FAIL: {page} is not installed")


def consumers(args, work):
    prefix = os.path.join(work, "prefix")
    run(["cmake", "--install", args.build_dir, "--prefix", prefix])
    check_prefix(args, prefix)
    for name in ("LICENSE", "CHANGELOG.md"):
        if not os.path.exists(os.path.join(prefix, "share/doc/marvostell", name)):
            raise SystemExit(f"FAIL: {name} not installed")
    build_against(args, prefix, work)
    check_links(os.path.join(prefix, "share/doc/marvostell"))


def deb(args, work):
    run(["cpack", "--config", os.path.join(args.build_dir, "CPackConfig.cmake"), "-G", "DEB",
         "-B", os.path.join(work, "cpack")])
    packages = sorted(glob.glob(os.path.join(work, "cpack", "*.deb")))
    symbols = sorted(glob.glob(os.path.join(work, "cpack", "*.ddeb")))
    names = sorted(os.path.basename(p).split("_")[0] for p in packages + symbols)
    if names != ["libmarvostell-dev", "libmarvostell1", "libmarvostell1-dbgsym",
                 "marvostell-tools", "marvostell-tools-dbgsym"]:
        raise SystemExit(f"FAIL: packages {names}")
    root = os.path.join(work, "root")
    for package in packages + symbols:
        run(["dpkg-deb", "-x", package, root])
    check_debian(args, packages, root)
    check_prefix(args, os.path.join(root, "usr"), man_suffix=".1.gz")
    build_against(args, "/usr", work, root)
    check_links(os.path.join(root, "usr/share/doc/marvostell"))
    debug = os.path.join(root, "usr/lib/debug")
    for binary in glob.glob(os.path.join(root, "usr/lib/**/libmarvostell.so.1.*"), recursive=True) + \
            [os.path.join(root, "usr/bin/marvostell-check")]:
        gdb_finds_symbols(binary, debug)


def licence_text(args):
    """LICENSE's text after its copyright line, as one string of words."""
    with open(os.path.join(args.source_dir, "LICENSE")) as f:
        return " ".join(f.read().split("Copyright (c)", 1)[1].split("\n", 1)[1].split())


def check_debian(args, packages, root):
    """Debian's conventions: lintian's errors, and what it cannot judge."""
    report = subprocess.run(["lintian", "--no-tag-display-limit", "--display-info"] + packages,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    print(report.stdout.strip())
    errors = [line for line in report.stdout.splitlines()
              if line.startswith("E: ") or re.match(r"\w: [^:]+: hardening-", line)]
    if errors or report.returncode != 0:
        raise SystemExit(f"FAIL: lintian exited {report.returncode}:\n" + "\n".join(errors))
    licence = licence_text(args)
    for package in packages:
        name = os.path.basename(package).split("_")[0]
        version = run(["dpkg-deb", "-f", package, "Version"]).strip()
        doc = os.path.join(root, "usr/share/doc", name)
        with open(os.path.join(doc, "copyright")) as f:
            copyright = f.read()
        # DEP-5: the text's lines indented by one space, blank ones as " .".
        body = " ".join(w for w in copyright.split() if w != ".")
        if not copyright.startswith("Format: https://www.debian.org/doc/packaging-manuals/"
                                    "copyright-format/1.0/\n") or \
                "\nLicense: MIT\n" not in copyright or licence not in body:
            raise SystemExit(f"FAIL: {name}'s copyright is not DEP-5 with the MIT text:\n"
                             f"{copyright}")
        changelog = os.path.join(doc, "changelog.gz")
        top = run(["dpkg-parsechangelog", "-l", changelog, "-S", "Version"]).strip()
        if top != version:
            raise SystemExit(f"FAIL: {name}'s changelog starts at {top!r}, the package is {version}")
    # gzip -9n: no name or time stored, the best compression marked.
    for page in glob.glob(os.path.join(root, "usr/share/man/man*/*")) + \
            glob.glob(os.path.join(root, "usr/share/doc/*/changelog.gz")):
        with open(page, "rb") as f:
            head = f.read(10)
        if head[:3] != b"\x1f\x8b\x08" or head[3] & 0x08 or head[4:8] != bytes(4) or head[8] != 2:
            raise SystemExit(f"FAIL: {page} is not compressed with gzip -9n: {head.hex()}")
    # Each tool and its man page belongs to marvostell-tools, the API's pages
    # to libmarvostell-dev, CheckNewVersion(3) a link to CheckNewVersionEx(3).
    tool_files = [f"./usr/{part}" for name in ("marvostell-check", "marvostell-manifest",
                                               "marvostell-test-server")
                  for part in (f"bin/{name}", f"share/man/man1/{name}.1.gz")]
    wanted = {"marvostell-tools": tool_files,
              "libmarvostell-dev": ["./usr/share/man/man3/CheckNewVersionEx.3.gz",
                                    "./usr/share/man/man3/CheckNewVersion.3.gz -> "
                                    "CheckNewVersionEx.3.gz"]}
    for name, paths in wanted.items():
        package = next(p for p in packages if os.path.basename(p).startswith(name + "_"))
        contents = run(["dpkg-deb", "-c", package])
        missing = [p for p in paths if not re.search(rf" {re.escape(p)}$", contents, re.M)]
        if missing:
            raise SystemExit(f"FAIL: {name} lacks {missing}:\n{contents}")
    tools = next(p for p in packages if os.path.basename(p).startswith("marvostell-tools_"))
    # The tools name the library's package exactly when a tool links it.
    depends = run(["dpkg-deb", "-f", tools, "Depends"])
    linked = any("libmarvostell.so" in run(["readelf", "-d", program])
                 for program in glob.glob(os.path.join(root, "usr/bin/marvostell-*")))
    if linked != bool(re.search(r"\blibmarvostell1\b", depends)):
        raise SystemExit(f"FAIL: marvostell-tools links the library: {linked}; Depends: {depends}")


def subdir(args, work):
    project = os.path.join(work, "project")
    os.makedirs(project)
    with open(os.path.join(project, "CMakeLists.txt"), "w") as f:
        f.write(f"""cmake_minimum_required(VERSION 3.20)
project(consumer LANGUAGES C CXX)
add_subdirectory("{args.source_dir}" marvostell EXCLUDE_FROM_ALL)
add_subdirectory("{args.source_dir}/examples/linux-host" linux-host)
# The plain target name carries the header directory as well.
add_executable(plain plain.c)
target_link_libraries(plain PRIVATE marvostell)
""")
    with open(os.path.join(project, "plain.c"), "w") as f:
        f.write('#include "marvostell.h"\n'
                'int main(void) {\n'
                '    char path[MARVOSTELL_PATH_BUFFER_SIZE];\n'
                '    return CheckNewVersion(0, 0, 1, "http://127.0.0.1", ".", path) == 4 ? 0 : 1;\n'
                '}\n')
    build = os.path.join(work, "build")
    run(["cmake", "-S", project, "-B", build, f"-DCMAKE_C_FLAGS={STRICT_C}"])
    run(["cmake", "--build", build, "-j2"])
    run([os.path.join(build, "plain")])
    run_host(args, os.path.join(build, "linux-host", "linux-host"))


def imports(args, work):
    del work
    table = run(["objdump", "-p", args.program])
    dlls = [line.split(":", 1)[1].strip() for line in table.splitlines() if "DLL Name:" in line]
    if "Marvostell.dll" not in dlls or any("Corvalandine" in d for d in dlls):
        raise SystemExit(f"FAIL: {args.program} imports from {dlls}")
    print(f"imports: {', '.join(dlls)}")


def zip_layout(args, work):
    """Makes both zips and unpacks them alone; checks what is where."""
    dist = os.path.join(work, "dist")
    run(["cmake", f"-DWIN32_DIR={args.win32_dir}", f"-DWIN64_DIR={args.win64_dir}",
         f"-DOUTPUT_DIR={dist}", "-P", os.path.join(args.source_dir, "cmake", "WindowsZip.cmake")])
    archives = sorted(glob.glob(os.path.join(dist, "marvostell-*-windows*.zip")), key=len)
    if [a[-12:] for a in archives] != ["-windows.zip", "-symbols.zip"]:
        raise SystemExit(f"FAIL: zips made: {archives}")
    unpacked = os.path.join(work, "unpacked")
    for archive in archives:
        with zipfile.ZipFile(archive) as f:
            f.extractall(unpacked)
    top = os.path.join(unpacked, os.path.basename(archives[0])[:-len(".zip")])
    wanted = ["README.md", "include/marvostell.h", "include/marvostell_load.h", "docs/hosts.md",
              "examples/win32-gui/gui_host.c", "examples/csharp/Marvostell.cs", "Marvostell.def",
              "cmake/MarvostellConfig.cmake", "cmake/MarvostellConfigVersion.cmake",
              "man/man3/CheckNewVersionEx.3", "man/man3/CheckNewVersion.3", "LICENSE",
              "CHANGELOG.md"] + [f"{w}/{f}" for w in ("x86", "x64")
                                 for f in ("libMarvostell.dll.a", "Marvostell.lib")]
    missing = [w for w in wanted if not os.path.exists(os.path.join(top, w))]
    if missing:
        raise SystemExit(f"FAIL: missing from the zip: {missing}")
    with open(os.path.join(top, "LICENSE")) as f:
        if licence_text(args) not in " ".join(f.read().split()):
            raise SystemExit("FAIL: the zip's LICENSE is not the MIT text of the source tree")
    check_links(top)
    for width, file_format in (("x86", "pei-i386"), ("x64", "pei-x86-64")):
        for name in ["Marvostell.dll", "marvostell-check.exe"]:
            if file_format not in run(["objdump", "-f", os.path.join(top, width, name)]):
                raise SystemExit(f"FAIL: {width}/{name} is not {file_format}")
        # Each binary stripped, naming its debug file, which the symbols zip holds.
        for binary in glob.glob(os.path.join(top, width, "*.exe")) + \
                glob.glob(os.path.join(top, width, "*.dll")):
            sections = run(["objdump", "-h", binary])
            debug = os.path.join(top + "-symbols", width, os.path.basename(binary) + ".debug")
            if ".debug_info" in sections or ".gnu_debuglink" not in sections or \
                    not os.path.exists(debug):
                raise SystemExit(f"FAIL: {binary} is not stripped and linked to {debug}")
    return top


def host_in_msvc_mode(top, width, work):
    """A C host compiled for Microsoft's ABI and linked by lld-link with the
    zip's Marvostell.lib, with no C library: it calls both exports."""
    source = os.path.join(work, "msvc_host.c")
    with open(source, "w") as f:
        f.write('#include "marvostell.h"\n'
                '__declspec(dllimport) void __stdcall ExitProcess(unsigned code);\n'
                'void __cdecl start(void) {\n'
                '    char path[MARVOSTELL_PATH_BUFFER_SIZE];\n'
                '    int a = CheckNewVersion(0, 0, 1, "http://127.0.0.1", ".", path);\n'
                '    int b = CheckNewVersionEx(0, 0, 1, "http://127.0.0.1", ".", path, sizeof path,'
                ' 0, 0);\n'
                '    ExitProcess(a == 4 && b == 4 ? 0 : 1);\n'
                '}\n')
    x86 = width == "x86"
    with open(os.path.join(work, "kernel32.def"), "w") as f:
        f.write("LIBRARY kernel32.dll\nEXPORTS\n" + ("ExitProcess@4\n" if x86 else "ExitProcess\n"))
    out = os.path.join(top, width)
    run(["llvm-dlltool", "-m", "i386" if x86 else "i386:x86-64", "-d",
         os.path.join(work, "kernel32.def"), "-l", os.path.join(work, "kernel32.lib")] +
        (["-k"] if x86 else []))
    run(["clang", f"--target={'i686' if x86 else 'x86_64'}-pc-windows-msvc", "-ffreestanding",
         "-fno-builtin", "-fno-stack-protector", "-O1", "-I", os.path.join(top, "include"), "-c",
         source, "-o", os.path.join(work, "msvc_host.obj")])
    run(["lld-link", "/nologo", "/entry:start", "/subsystem:console", "/nodefaultlib",
         f"/machine:{'x86' if x86 else 'x64'}", f"/out:{out}/msvc_host.exe",
         os.path.join(work, "msvc_host.obj"), os.path.join(out, "Marvostell.lib"),
         os.path.join(work, "kernel32.lib")])
    return os.path.join(out, "msvc_host.exe")


def gui_from_zip(args, top, work):
    """examples/win32-gui configured and built by CMake against the zip's
    package with MinGW of this width."""
    triple = "i686-w64-mingw32" if args.width == "x86" else "x86_64-w64-mingw32"
    build = os.path.join(work, "gui-build")
    run(["cmake", "-S", os.path.join(top, "examples", "win32-gui"), "-B", build,
         "-DCMAKE_SYSTEM_NAME=Windows", f"-DCMAKE_C_COMPILER={triple}-gcc",
         f"-DCMAKE_RC_COMPILER={triple}-windres", f"-DCMAKE_PREFIX_PATH={top}"])
    run(["cmake", "--build", build])
    return os.path.join(build, "gui-host.exe")


def windows_zip(args, work):
    top = zip_layout(args, work)
    # The symbols zip's files in a .debug folder beside the binaries, one of
    # the places gdb looks.
    shutil.copytree(f"{top}-symbols/{args.width}", os.path.join(top, args.width, ".debug"))
    for binary in ("Marvostell.dll", "marvostell-check.exe"):
        gdb_finds_symbols(os.path.join(top, args.width, binary))
    local = os.path.join(work, "client")
    os.makedirs(local)
    os.makedirs(os.path.join(work, "gui-client"))
    msvc_host = host_in_msvc_mode(top, args.width, work)
    run([args.wine, msvc_host])
    print(f"{args.width}/msvc_host.exe (lld-link, Marvostell.lib): both exports called")
    gui = gui_from_zip(args, top, work)
    with update_server.serve(args.server, work, args.manifest_tool) as base:
        with open(os.path.join(work, "publisher.pub")) as f:
            key = f.read()
        shown = run([args.wine, gui, "--exit-when-done", "--trusted-keys", key, base + "/good.ini",
                     "Z:" + os.path.join(work, "gui-client").replace("/", "\\"), "1"])
        check = os.path.join(top, args.width, "marvostell-check.exe")
        result = subprocess.run([args.wine, check, "--host-version", "1", "--dir",
                                 "Z:" + local.replace("/", "\\"), base + "/good.ini"],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                timeout=120)
    if "result=1\n" not in shown:
        raise SystemExit(f"FAIL: the GUI example built from the zip shows:\n{shown}")
    package = os.path.join(local, "app.bin")
    if result.returncode != 1 or not os.path.exists(package) or \
            hashlib.md5(open(package, "rb").read()).hexdigest().upper() != update_server.PACKAGE_MD5:
        raise SystemExit(f"FAIL: {args.width}/marvostell-check.exe exited {result.returncode}:\n"
                         f"{result.stdout}{result.stderr[-1000:]}")
    print(f"{args.width}/gui-host.exe (built from the zip): {shown.splitlines()[0]}")
    print(f"{args.width}/marvostell-check.exe: {result.stdout.strip()}")


def main():
    parser = argparse.ArgumentParser()
    modes = {"consumers": consumers, "deb": deb, "subdir": subdir, "imports": imports,
             "zip": windows_zip}
    parser.add_argument("mode", choices=modes)
    parser.add_argument("--build-dir")
    parser.add_argument("--source-dir")
    parser.add_argument("--server")
    parser.add_argument("--program")
    parser.add_argument("--win32-dir")
    parser.add_argument("--win64-dir")
    parser.add_argument("--width", choices=("x86", "x64"))
    parser.add_argument("--wine", help="run-wine")
    parser.add_argument("--manifest-tool", help="marvostell-manifest, to sign manifests")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix=f"marvostell-{args.mode}-") as work:
        modes[args.mode](args, work)
    print(f"{args.mode}: passed")


if __name__ == "__main__":
    main()
