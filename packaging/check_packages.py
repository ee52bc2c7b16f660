#!/usr/bin/python3
"""Makes the Windows zips with CPack and checks what a technician gets from them:
the files, the shipped exes (stripped, small, versioned, with a manifest that
asks for no administrator, of the right architecture, with ASLR and DEP,
importing only what every Windows has), the checksums beside the zips, zips
signed with a throwaway certificate, what the site zip's
exes say about a KvxQ713.dll they cannot use, and the training zip's practice
runs under wine.

usage: check_packages.py make ZIP_DIR CPACK CONFIG
       check_packages.py signed ZIP_DIR CPACK CONFIG VERSION ARCH
       check_packages.py contents ZIP_DIR VERSION ARCH SOURCE_DIR FIRMWARE_DIR [--restore] [--guide]
       check_packages.py exes ZIP_DIR VERSION ARCH OBJDUMP [--restore]
       check_packages.py loading ZIP_DIR VERSION ARCH STUB_DIR WORK_DIR [--restore] -- EMULATOR...
       check_packages.py practice ZIP_DIR VERSION ARCH SOURCE_DIR WORK_DIR [--restore] -- EMULATOR...
  ARCH is win64 or win32; --restore: q713-restore.exe is shipped; --guide: TECHNICIAN.txt and QUICK-CARD.txt are.
  STUB_DIR holds unusable KvxQ713.dll files, one folder each (tests/windows).
  EMULATOR runs a Windows program of ARCH (an exe, or wine's cmd).
"""
import glob
import os
import re
import shutil
import subprocess
import sys
import zipfile

# The simulated library's images; never under the maker's names.
FIRMWARE = ["training-firmware-2.3.1.bin", "training-patch-0.0.0.bin"]
MAKER_FIRMWARE = {"20151028_Lumivor-Q713_v2.3.1.bin", "20140827_Lumivor-Q713_v0.0.0_patch.bin"}
TRAINING_LINE = b"Training: simulated camera library, no real camera is changed."
MARKER = b"q713SimulatedCamera"
PE_FORMAT = {"win64": "pei-x86-64", "win32": "pei-i386"}
MAX_EXE_BYTES = 80 * 1024
COMPANY = "Zentrovique"
# What every Windows from 7 on has; the C and C++ runtimes are linked in.
IMPORTS = {"kernel32.dll", "msvcrt.dll"}
DYNAMIC_BASE, NX_COMPAT, HIGH_ENTROPY_VA = 0x40, 0x100, 0x20
RELOCS_STRIPPED = 0x1
BASE_RELOCATION = 5
RT_MANIFEST = 24
# Windows 7, 8, 8.1, and 10 and 11.
SUPPORTED_OS = {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}
OTHER_ARCH = {"win64": "win32", "win32": "win64"}
SKIP = 77

failures = []


def fail(message):
    failures.append(message)
    print("FAIL: " + message)


def zip_names(zip_dir, version, arch):
    site = os.path.join(zip_dir, "q713-update-%s-%s.zip" % (version, arch))
    return site, site[: -len(".zip")] + "-training.zip"


def exe_names(restore):
    return ["q713-update.exe"] + (["q713-restore.exe"] if restore else [])


def folder_of(path):
    """The one folder a zip unpacks into: its own name without .zip."""
    return os.path.basename(path)[: -len(".zip")]


def files_of(path):
    """The files of the zip at path, named within its folder; every one must lie there."""
    archive, top = zipfile.ZipFile(path), folder_of(path) + "/"
    outside = [i.filename for i in archive.infolist() if not i.filename.startswith(top)]
    if outside:
        fail("%s: not in the folder %s: %s" % (os.path.basename(path), top, outside))
    return {i.filename[len(top):]: archive.read(i) for i in archive.infolist()
            if not i.is_dir() and i.filename.startswith(top)}


def extract(path, name, folder):
    """Writes the zip's file name (within its folder) into folder; its path there."""
    target = os.path.join(folder, name)
    with open(target, "wb") as f:
        f.write(files_of(path)[name])
    return target


def make(zip_dir, cpack, config):
    shutil.rmtree(zip_dir, ignore_errors=True)
    # Stripping an exe writes the time into its PE header: the same exe, stripped
    # for each zip, must not differ by the second in which that happened.
    env = dict(os.environ, SOURCE_DATE_EPOCH=os.environ.get("SOURCE_DATE_EPOCH", "0"))
    return subprocess.call([cpack, "--config", config, "-B", zip_dir], env=env)


def check_checksums(zip_dir):
    """SHA256SUMS names every zip beside it once, with its hash, as sha256sum
    writes it."""
    import hashlib
    zips = sorted(n for n in os.listdir(zip_dir) if n.endswith(".zip"))
    try:
        with open(os.path.join(zip_dir, "SHA256SUMS")) as f:
            lines = f.read().splitlines()
    except OSError as error:
        fail("no SHA256SUMS beside the zips: %s" % error)
        return
    listed = {line[66:]: line[:64] for line in lines if line[64:66] == "  "}
    if len(listed) != len(lines) or sorted(listed) != zips:
        fail("SHA256SUMS lists %s, expected a line for each of %s" % (lines, zips))
    for name in zips:
        with open(os.path.join(zip_dir, name), "rb") as f:
            if listed.get(name) != hashlib.sha256(f.read()).hexdigest():
                fail("SHA256SUMS: %s has another hash" % name)


def check_hardening(name, pe, arch):
    """ASLR (with the relocations it needs), DEP and, on x64, addresses above
    4 GB; and only DLLs that Windows 7 has."""
    wanted = DYNAMIC_BASE | NX_COMPAT | (HIGH_ENTROPY_VA if arch == "win64" else 0)
    flags = pe.OPTIONAL_HEADER.DllCharacteristics
    if flags & wanted != wanted:
        fail("%s: DllCharacteristics 0x%x lacks 0x%x" % (name, flags, wanted & ~flags))
    if pe.FILE_HEADER.Characteristics & RELOCS_STRIPPED or \
            not pe.OPTIONAL_HEADER.DATA_DIRECTORY[BASE_RELOCATION].Size:
        fail("%s: no relocations, so Windows cannot move it (no ASLR)" % name)
    imports = {entry.dll.decode().lower() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])}
    if imports != IMPORTS:
        fail("%s imports %s, expected %s" % (name, sorted(imports), sorted(IMPORTS)))


def check_signed(zip_dir, cpack, config, version, arch):
    """Zips made with a throwaway self-signed certificate: every exe and DLL
    in them carries an Authenticode signature that verifies."""
    tools = {t: shutil.which(t) for t in ("openssl", "osslsigncode")}
    if not all(tools.values()):
        print("not tried: %s not installed" % [t for t, path in tools.items() if not path])
        return SKIP
    shutil.rmtree(zip_dir, ignore_errors=True)
    secrets = os.path.join(zip_dir + "-certificate")
    shutil.rmtree(secrets, ignore_errors=True)
    os.makedirs(secrets)
    key, cert, p12, password = (os.path.join(secrets, n) for n in
                                ("key.pem", "cert.pem", "cert.p12", "password.txt"))
    with open(password, "w") as f:
        f.write("a pass phrase with spaces\n")
    for command in (["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-keyout", key,
                     "-out", cert, "-subj", "/CN=%s test signing/O=%s" % (COMPANY, COMPANY),
                     "-addext", "extendedKeyUsage=codeSigning"],
                    ["pkcs12", "-export", "-inkey", key, "-in", cert, "-out", p12,
                     "-passout", "file:" + password]):
        subprocess.run([tools["openssl"]] + command, check=True, capture_output=True)
    env = dict(os.environ, SOURCE_DATE_EPOCH=os.environ.get("SOURCE_DATE_EPOCH", "0"))
    made = subprocess.run([cpack, "--config", config, "-B", zip_dir,
                           "-D", "CPACK_Q713_SIGN_PKCS12=" + p12,
                           "-D", "CPACK_Q713_SIGN_PASSWORD_FILE=" + password,
                           "-D", "CPACK_Q713_OSSLSIGNCODE=" + tools["osslsigncode"]],
                          env=env, capture_output=True, text=True)
    if made.returncode != 0 or "not signed" in made.stdout:
        fail("cpack with a certificate:\n%s%s" % (made.stdout, made.stderr))
        return 0
    check_checksums(zip_dir)
    unpacked = os.path.join(zip_dir, "unpacked-signed")
    for zip_path in zip_names(zip_dir, version, arch):
        if not os.path.exists(zip_path):
            continue  # no training zip beside the maker's library
        for name, data in files_of(zip_path).items():
            if not name.endswith((".exe", ".dll")):
                continue
            path = os.path.join(unpacked, os.path.basename(zip_path), name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
            done = subprocess.run([tools["osslsigncode"], "verify", "-CAfile", cert, "-in", path],
                                  capture_output=True, text=True)
            print("%s in %s: %s" % (name, os.path.basename(zip_path),
                                    "signature verified" if done.returncode == 0 else "NOT"))
            if done.returncode != 0 or "Signature verification: ok" not in done.stdout:
                fail("%s in %s: the signature does not verify:\n%s%s"
                     % (name, zip_path, done.stdout, done.stderr))
            if len(data) > MAX_EXE_BYTES and name.endswith(".exe"):
                fail("%s is %d bytes signed, more than %d" % (name, len(data), MAX_EXE_BYTES))
    return 0


def check_crlf(name, data):
    if b"\n" not in data or data.count(b"\n") != data.count(b"\r\n"):
        fail("%s: not every line ends with CR LF" % name)


def check_contents(zip_dir, version, arch, source_dir, firmware_dir, restore, guide):
    site_zip, training_zip = zip_names(zip_dir, version, arch)
    site = files_of(site_zip)
    training = files_of(training_zip)
    shipped_texts = {"TECHNICIAN.txt": "technician.md", "QUICK-CARD.txt": "quick-card.txt"}
    texts = list(shipped_texts) if guide else []
    profile_dir = os.path.join(source_dir, "simcam", "profiles")
    profiles = {"profiles/" + p: os.path.join(profile_dir, p)
                for p in os.listdir(profile_dir) if p.endswith(".txt")}
    profiles["profiles/demo-interrupted.txt"] = os.path.join(
        source_dir, "packaging", "demo-interrupted.txt")

    # On site the maker's DLL goes beside the exes: ours must never travel there.
    expected_site = set(exe_names(restore) + texts)
    expected_training = expected_site | {"KvxQ713.dll", "train.bat"} | set(FIRMWARE) | set(profiles)
    for name, got, expected in (("site", site, expected_site),
                                ("training", training, expected_training)):
        if set(got) != expected:
            fail("%s zip holds %s, expected %s" % (name, sorted(got), sorted(expected)))

    for name in expected_site & set(training):
        if site.get(name) != training[name]:
            fail("%s differs between the two zips" % name)
    # Unpacked beside the maker's DLL, no file of it may stand for a real image.
    for name in training:
        if os.path.basename(name) in MAKER_FIRMWARE:
            fail("the training zip holds %s, a name of the maker's" % name)
    for name in FIRMWARE:
        with open(os.path.join(firmware_dir, name), "rb") as f:
            if training.get(name) != f.read():
                fail("%s is not the build's image" % name)
    for name, path in profiles.items():
        with open(path, "rb") as f:
            if training.get(name) != f.read():
                fail("%s is not %s" % (name, path))
    if "train.bat" in training:
        check_crlf("train.bat", training["train.bat"])
    for name in texts:
        if name not in site:
            continue
        check_crlf(name, site[name])
        with open(os.path.join(source_dir, "docs", shipped_texts[name]), "rb") as f:
            if site[name].replace(b"\r\n", b"\n") != f.read().replace(b"\r\n", b"\n"):
                fail("%s is not docs/%s" % (name, shipped_texts[name]))


def version_strings(pe):
    strings = {}
    for info in getattr(pe, "FileInfo", None) or []:
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    return strings


def check_manifest(name, pe):
    """Without requestedExecutionLevel Windows takes a 32-bit exe named
    "update" for an installer and asks for an administrator."""
    import xml.etree.ElementTree as ElementTree
    resources = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    # The one Windows reads at start: type RT_MANIFEST, id 1.
    manifests = [pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
                 for kind in (resources.entries if resources else []) if kind.id == RT_MANIFEST
                 for entry in kind.directory.entries if entry.id == 1
                 for language in entry.directory.entries]
    root = ElementTree.fromstring(manifests[0]) if manifests else ElementTree.Element("none")
    levels = [e.attrib for e in root.iter() if e.tag.endswith("}requestedExecutionLevel")]
    if levels != [{"level": "asInvoker", "uiAccess": "false"}]:
        fail("%s: requestedExecutionLevel %s, expected asInvoker without uiAccess" % (name, levels))
    systems = {e.get("Id") for e in root.iter() if e.tag.endswith("}supportedOS")}
    if systems != SUPPORTED_OS:
        fail("%s: supportedOS %s, expected Windows 7 to 11" % (name, sorted(systems)))


def check_exes(zip_dir, version, arch, objdump, restore):
    try:
        import pefile
    except ImportError:
        print("python3-pefile is not installed")
        return SKIP
    site_zip, training_zip = zip_names(zip_dir, version, arch)
    site = files_of(site_zip)
    # Built against the maker's library there is no training zip.
    training = files_of(training_zip) if os.path.exists(training_zip) else {}
    four_part = version + ".0"
    numbers = [int(n) for n in four_part.split(".")]
    unpacked = os.path.join(zip_dir, "unpacked-exes")
    os.makedirs(unpacked, exist_ok=True)
    check_checksums(zip_dir)

    for name in exe_names(restore) + (["KvxQ713.dll"] if training else []):
        data = site.get(name, training.get(name))
        if data is None:
            fail("%s is in neither zip" % name)
            continue
        path = os.path.join(unpacked, name)
        with open(path, "wb") as f:
            f.write(data)
        # A 64-bit exe cannot load a 32-bit DLL, nor the other way round.
        header = subprocess.run([objdump, "-f", path], capture_output=True, text=True).stdout
        if "file format %s" % PE_FORMAT[arch] not in header:
            fail("%s is not %s:\n%s" % (name, PE_FORMAT[arch], header))
        pe = pefile.PE(data=data)
        exports = {e.name for e in pe.DIRECTORY_ENTRY_EXPORT.symbols} \
            if hasattr(pe, "DIRECTORY_ENTRY_EXPORT") else set()
        # The tools tell practice from the field by the simulated library's marker.
        if (MARKER in exports) != (name == "KvxQ713.dll"):
            fail("%s: exports %s" % (name, sorted(e for e in exports if e)))
        if name == "KvxQ713.dll":
            continue

        print("%s: %d bytes" % (name, len(data)))
        if len(data) > MAX_EXE_BYTES:
            fail("%s is %d bytes, more than %d" % (name, len(data), MAX_EXE_BYTES))
        debug = [s.Name.rstrip(b"\0").decode() for s in pe.sections if s.Name.startswith(b".debug")]
        if pe.FILE_HEADER.NumberOfSymbols or debug:
            fail("%s is not stripped: %d symbols, sections %s"
                 % (name, pe.FILE_HEADER.NumberOfSymbols, debug))

        strings = version_strings(pe)
        print("%s: %s" % (name, strings))
        wanted = {"FileVersion": four_part, "ProductVersion": four_part,
                  "OriginalFilename": name}
        for key, value in wanted.items():
            if strings.get(key) != value:
                fail("%s: %s is %r, expected %r" % (name, key, strings.get(key), value))
        for key in ("ProductName", "FileDescription"):
            if not strings.get(key):
                fail("%s: no %s" % (name, key))
        check_manifest(name, pe)
        check_hardening(name, pe, arch)
        if strings.get("CompanyName") != COMPANY:
            fail("%s: CompanyName is %r, expected %r as the banner has it"
                 % (name, strings.get("CompanyName"), COMPANY))
        fixed = pe.VS_FIXEDFILEINFO[0] if getattr(pe, "VS_FIXEDFILEINFO", None) else None
        packed = [numbers[0] << 16 | numbers[1], numbers[2] << 16 | numbers[3]]
        if not fixed or [fixed.FileVersionMS, fixed.FileVersionLS] != packed or \
                [fixed.ProductVersionMS, fixed.ProductVersionLS] != packed:
            fail("%s: the numeric file or product version is not %s" % (name, four_part))


COPY_ALL = ("Copy all files that came with KvxQ713.dll into its folder, and install what the "
            "maker's instructions ask for.\n")
NOT_A_DLL = ("KvxQ713.dll in the folder of this tool %s.\nCopy the maker's KvxQ713.dll into "
             "that folder again, in place of this one.\n")
EXTRACT_FIRST = ("This tool was started from inside a zip, in a temporary folder without "
                 "KvxQ713.dll.\nExtract all files of the zip into a folder first (Explorer: "
                 "right-click the zip, 'Extract All'),\nput KvxQ713.dll beside the tools there "
                 "and start them from that folder.\n")
FOLDER = object()


def loading_cases(version, arch, stub_dir):
    """(case, files beside the exe, files in the working folder, files in a
    folder on PATH, the message). A file is a stub DLL's path, bytes, or FOLDER."""
    other, bits = OTHER_ARCH[arch], arch[3:]

    def stub(folder, name="KvxQ713.dll"):
        return os.path.join(stub_dir, folder, name)

    helper, needs_helper = stub("helper", "KvxStubHelper.dll"), stub("needs-missing-dll")
    missing_helper = ("KvxQ713.dll needs KvxStubHelper.dll, which is neither in its folder nor "
                      "in Windows' system folder.\n" + COPY_ALL)
    with open(stub("without-open"), "rb") as f:
        whole = f.read()
    return [
        ("no-dll", {}, {}, {},
         "KvxQ713.dll, the maker's camera library, is not in the folder of this tool:\n"
         "FOLDER\nCopy KvxQ713.dll into that folder and start the tool again.\n"),
        ("other-architecture", {"KvxQ713.dll": stub("other-architecture")}, {}, {},
         "KvxQ713.dll is a %s-bit DLL, but this tool is %s-bit and cannot use it.\nUnpack "
         "q713-update-%s-%s.zip into the folder of this tool and use its tools instead.\n"
         % (other[3:], bits, version, other)),
        ("without-open", {"KvxQ713.dll": stub("without-open")}, {}, {},
         "KvxQ713.dll has no function KVXopen: it is not the camera library this tool was made "
         "for.\nCopy the maker's KvxQ713.dll for the Lumivor-Q713 into the folder of this "
         "tool.\n"),
        ("needs-missing-dll", {"KvxQ713.dll": needs_helper}, {}, {}, missing_helper),
        # A DLL of that name where the technician stands, or along PATH, must
        # never run in the process that writes to the camera.
        ("helper-only-in-working-folder", {"KvxQ713.dll": needs_helper},
         {"KvxStubHelper.dll": helper}, {}, missing_helper),
        ("helper-only-along-path", {"KvxQ713.dll": needs_helper}, {},
         {"KvxStubHelper.dll": helper}, missing_helper),
        ("helper-of-other-architecture", {"KvxQ713.dll": needs_helper,
         "KvxStubHelper.dll": stub("other-architecture-helper", "KvxStubHelper.dll")}, {}, {},
         "KvxQ713.dll needs KvxStubHelper.dll, but the KvxStubHelper.dll in its folder is "
         "damaged or for the other architecture.\nCopy all files that came with KvxQ713.dll "
         "into its folder again, the maker's %s-bit ones.\n" % bits),
        ("failing-dllmain", {"KvxQ713.dll": stub("failing-dllmain")}, {}, {},
         "KvxQ713.dll could not start (error 1114): its driver or the maker's device software "
         "may be missing.\nInstall the maker's software for the Lumivor-Q713 as its "
         "instructions say, then start the tool again.\n"),
        ("text-file", {"KvxQ713.dll": b"<html>404 Not Found</html>\r\n"}, {}, {},
         NOT_A_DLL % "is not a DLL at all (a text file, perhaps, or a web page)"),
        ("empty-file", {"KvxQ713.dll": b""}, {}, {}, NOT_A_DLL % "is empty, not a DLL"),
        ("cut-short", {"KvxQ713.dll": whole[: len(whole) // 2]}, {}, {},
         NOT_A_DLL % "is cut short: the file ends before the DLL does"),
        ("folder", {"KvxQ713.dll": FOLDER}, {}, {},
         NOT_A_DLL % "is a folder, not the maker's DLL"),
    ]


def put_files(folder, files):
    os.makedirs(folder, exist_ok=True)
    for name, source in files.items():
        path = os.path.join(folder, name)
        if source is FOLDER:
            os.makedirs(path)
        elif isinstance(source, bytes):
            with open(path, "wb") as f:
                f.write(source)
        else:
            shutil.copy(source, path)


def wine_temporary_folder():
    """The wine user's temporary folder, where Explorer would copy an exe
    started from inside a zip."""
    prefix = os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine"))
    # Wine keeps it in the user's folder; Windows in AppData\\Local.
    found = [p for where in (["Temp"], ["AppData", "Local", "Temp"])
             for p in glob.glob(os.path.join(prefix, "drive_c", "users", "*", *where))
             if "/Public/" not in p]
    return found[0] if found else None


def run_site_exe(exe, cwd, emulator, env):
    # The restore's file is never read: the DLL comes first.
    args = ["update.txt"] if os.path.basename(exe) == "q713-restore.exe" else []
    return subprocess.run(["timeout", "60"] + emulator + [exe] + args, cwd=cwd, env=env,
                          input=b"\n", capture_output=True)


def check_loading(zip_dir, version, arch, stub_dir, work, restore, emulator):
    """The site zip's exes beside no KvxQ713.dll and beside each unusable one,
    each started by its full path from another folder: their message, the quit
    prompt, status -1 and nothing else."""
    site = zip_names(zip_dir, version, arch)[0]
    shutil.rmtree(work, ignore_errors=True)
    cases = loading_cases(version, arch, stub_dir)
    temporary = wine_temporary_folder()
    if temporary:
        # Explorer's copy of an exe out of a zip: alone, in a folder it deletes.
        cases.append(("started-inside-a-zip", {}, {}, {}, EXTRACT_FIRST))
    else:
        print("not tried: no temporary folder in the wine prefix")
    for case, beside, working, along_path, text in cases:
        stand = os.path.realpath(os.path.join(work, case))
        folder = os.path.join(stand, "tool")
        if case == "started-inside-a-zip":
            folder = os.path.join(temporary, "Temp1_q713-update-%s-%s.zip" % (version, arch))
            shutil.rmtree(folder, ignore_errors=True)
        stubs = [s for s in list(beside.values()) + list(working.values()) +
                 list(along_path.values()) if isinstance(s, str)]
        if any(not os.path.exists(s) for s in stubs):
            print("not tried: %s (%s was not built)" % (case, stubs))
            continue
        put_files(folder, beside)
        put_files(stand, working)
        path_folder = os.path.join(stand, "on-path")
        put_files(path_folder, along_path)
        env = wine_env(WINEPATH="Z:" + path_folder.replace("/", "\\"))
        pattern = re.escape(text + "Hit <return> to quit.\n").replace(
            "FOLDER", re.escape("Z:" + folder.replace("/", "\\")))
        for exe in exe_names(restore):
            path = extract(site, exe, folder)
            done = run_site_exe(path, stand, emulator, env)
            if done.returncode == SKIP and not done.stdout:
                print("%s cannot run here: %s" % (exe, done.stderr.decode(errors="replace")))
                return SKIP
            out = done.stdout.replace(b"\r\n", b"\n").decode(errors="replace")
            print("%s, %s: status %d\n%s" % (exe, case, done.returncode, out))
            if not re.fullmatch(pattern, out) or done.returncode != 255 or done.stderr:
                fail("%s, %s: not its message and status 255 (stdout above), or stderr %r"
                     % (exe, case, done.stderr))
        if case == "started-inside-a-zip":
            shutil.rmtree(folder, ignore_errors=True)
    return 0


def wine_env(**extra):
    """A clean environment: wine's prefix, no wine messages, and extra."""
    env = {"PATH": os.environ["PATH"], "HOME": os.environ.get("HOME", "/tmp"), "WINEDEBUG": "-all"}
    if "WINEPREFIX" in os.environ:
        env["WINEPREFIX"] = os.environ["WINEPREFIX"]
    env.update(extra)
    return env


def run_train(emulator, unpacked, work, args, stdin, trace, double_click=False):
    """train.bat under wine's cmd, started from another folder as a double
    click or a console elsewhere would; returns (status, stdout as LF text).
    Practice says so on standard error, and only there. Wine's cmd has no
    command line of its own (cmdcmdline), so a double click's, as Explorer
    starts a batch file, is given it through the environment."""
    env = wine_env(KVX_SIM_TRACE=trace)
    bat = os.path.relpath(os.path.join(unpacked, "train.bat"), work).replace("/", "\\")
    if double_click:
        whole = "Z:" + os.path.join(unpacked, "train.bat").replace("/", "\\")
        env["cmdcmdline"] = 'C:\\windows\\system32\\cmd.exe /c ""%s" "' % whole
    done = subprocess.run(["timeout", "60"] + emulator + ["cmd", "/c", bat] + args, cwd=work,
                          env=env, input=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if done.stderr:
        print("stderr:\n" + done.stderr.decode(errors="replace"))
    if TRAINING_LINE not in done.stderr or TRAINING_LINE in done.stdout:
        fail("train.bat %s: the training line is not on standard error alone" % " ".join(args))
    return done.returncode, done.stdout


# Wine's cmd asks so at a pause; Windows' says "Press any key to continue . . .".
PAUSE = b"Press any key to continue"


def flash_of_camera_1(trace):
    with open(trace) as f:
        lines = [line.strip() for line in f if line.startswith("sim: camera 1 flash ")]
    return lines[-1] if lines else None


def check_practice(zip_dir, version, arch, source_dir, work, restore, emulator):
    shutil.rmtree(work, ignore_errors=True)
    training_zip = zip_names(zip_dir, version, arch)[1]
    stand = os.path.join(work, "elsewhere")
    os.makedirs(stand)
    zipfile.ZipFile(training_zip).extractall(os.path.join(work, "unpacked"))
    unpacked = os.path.join(work, "unpacked", folder_of(training_zip))
    case = os.path.join(source_dir, "tests", "transcripts", "cases", "demo_three_cameras")
    with open(os.path.join(case, "input"), "rb") as f:
        answers = f.read()
    with open(os.path.join(case, "stdout"), "rb") as f:
        expected = f.read()

    # The whole demo, as the transcript case records it, then train.bat's own lines.
    trace = os.path.join(work, "update-trace.txt")
    status, out = run_train(emulator, unpacked, stand, [], answers, trace)
    text = out.replace(b"\r\n", b"\n")
    if not text.startswith(expected):
        fail("train.bat's update does not run the demo; its stdout:\n" + text.decode(errors="replace"))
    if status != 255 or b"Practice update ended with exit status -1." not in text:
        fail("train.bat ended with %d, expected the demo's 255 (-1)" % status)
    # The version resource and the banner must name the same release.
    if ("* %s Lumivor-Q713/ORB-NX Update Tool v%s *" % (COMPANY, version)).encode() not in text:
        fail("the banner does not show %s and version %s" % (COMPANY, version))
    if PAUSE in text:
        fail("train.bat waited for a key at its end in a console of another's")
    updated_flash = flash_of_camera_1(trace)
    # Double-clicked, its window would close at the end: it waits for a key.
    status, out = run_train(emulator, unpacked, stand, [], answers,
                            os.path.join(work, "clicked-trace.txt"), double_click=True)
    text = out.replace(b"\r\n", b"\n")
    if status != 255 or not text.startswith(expected) or \
            PAUSE not in text.rstrip().splitlines()[-1]:
        fail("train.bat double-clicked: status %d, not ending in a pause:\n%s"
             % (status, text.decode(errors="replace")))
    if not restore:
        return

    # The recovery: an update stopped at the first reboot prompt, its console
    # text saved as the technician would, then restored into the first camera.
    stopped_trace = os.path.join(work, "stopped-trace.txt")
    status, out = run_train(emulator, unpacked, stand, [], b"", stopped_trace)
    if status != 255:
        fail("the update stopped at the reboot prompt ended with %d, expected 255 (-1)" % status)
    with open(os.path.join(stand, "update.txt"), "wb") as f:
        f.write(out)
    trace = os.path.join(work, "restore-trace.txt")
    status, out = run_train(emulator, unpacked, stand, ["restore", "update.txt"], b"y\n", trace)
    text = out.replace(b"\r\n", b"\n").decode(errors="replace")
    if status != 0 or "Calibration restored and verified.\n" not in text:
        fail("train.bat restore ended with %d:\n%s" % (status, text))
    restored_flash = flash_of_camera_1(trace)
    if not updated_flash or restored_flash != updated_flash:
        fail("after the recovery the flash holds\n  %s\nafter a whole update\n  %s"
             % (restored_flash, updated_flash))


def main(argv):
    emulator = argv[argv.index("--") + 1:] if "--" in argv else []
    argv = argv[:argv.index("--")] if "--" in argv else argv
    flags = {a for a in argv if a.startswith("--")}
    args = [a for a in argv if not a.startswith("--")]
    restore = "--restore" in flags
    if args[:1] == ["make"] and len(args) == 4:
        return make(*args[1:])
    if args[:1] == ["signed"] and len(args) == 6:
        if check_signed(*args[1:]) == SKIP:
            return SKIP
    elif args[:1] == ["contents"] and len(args) == 6:
        check_contents(*args[1:], restore, "--guide" in flags)
    elif args[:1] == ["exes"] and len(args) == 5:
        if check_exes(*args[1:], restore) == SKIP:
            return SKIP
    elif args[:1] == ["loading"] and len(args) == 6 and emulator:
        if check_loading(*args[1:], restore, emulator) == SKIP:
            return SKIP
    elif args[:1] == ["practice"] and len(args) == 6 and emulator:
        check_practice(*args[1:], restore, emulator)
    else:
        print(__doc__)
        return 2
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
