#!/usr/bin/env python3
"""Time of `kembuild build` for a large project against makensis building the same work.

    build_bench.py KEMBUILD [ENGINE_DIR]

The project: 10,000 statements (assignments, arithmetic, conditions), 50 dialogs in text
form, each shown by a Display Dialog statement, and 2,000 files of 4 KB packed into the
setup. The NSIS script made from the same numbers: 10,000 StrCpy/IntOp/StrCmp lines, 50
custom pages made with nsDialogs, the same 2,000 files with File. Both tools pack with
LZMA. Without ENGINE_DIR a stand-in engine (a minimal PE image) is used: the engine's size
does not change the builder's work. Prints both times and the ratio; the goal is a ratio
of at most 1. Exit status 0 within the goal, 1 over it, 2 when a tool is missing.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

STATEMENTS, FORMS, FILES, FILE_SIZE = 10000, 50, 2000, 4096


def stand_in_engine(folder):
    image = bytearray(0x400)
    image[0:2] = b"MZ"
    image[0x3C] = 0x80
    image[0x80:0x84] = b"PE\0\0"
    image[0x86] = 1
    section = 0x84 + 244
    image[section + 17] = 2  # SizeOfRawData 0x200
    image[section + 21] = 2  # PointerToRawData 0x200
    os.makedirs(folder)
    with open(os.path.join(folder, "kemstub.exe"), "wb") as f:
        f.write(image)
    with open(os.path.join(folder, "kem.lib"), "wb") as f:
        f.write(b"archive library stand-in")


def payload(i):
    line = ("file %05d: the quick brown fox jumps over the lazy dog %d\n" % (i, i * 7919)).encode()
    return (line * (FILE_SIZE // len(line) + 1))[:FILE_SIZE]


def make_project(root):
    project = os.path.join(root, "project")
    os.makedirs(os.path.join(project, "dialogs"))
    os.makedirs(os.path.join(project, "files"))
    for i in range(FILES):
        with open(os.path.join(project, "files", "f%05d.txt" % i), "wb") as f:
            f.write(payload(i))
    for i in range(FORMS):
        with open(os.path.join(project, "dialogs", "Page%02d.dfm.txt" % i), "w") as f:
            f.write("object Page%02d: TPoolTemplate\n  Caption = 'Page %d of $TITLE$'\n"
                    "  object Label1: TLabel\n    Left = 16\n    Top = 16\n    Caption = 'Step %d'\n  end\n"
                    "  object Button1: TButton\n    Left = 360\n    Top = 140\n    Caption = '&Next >'\n"
                    "    Tag = 1\n  end\nend\n" % (i, i, i))
    lines = ["Set Variable \"COUNT\" \"0\""]
    nsis = ["StrCpy $0 0"]
    i = 0
    while len(lines) < STATEMENTS - FORMS - 1:
        lines.append("Mathematics \"$COUNT$\" \"%d\" \"+\" \"COUNT\"" % (i % 7))
        nsis.append("IntOp $0 $0 + %d" % (i % 7))
        lines.append("If \"COUNT\" \">\" \"%d\"" % (i * 3))
        lines.append("  Set Variable \"V%d\" \"value $COUNT$\"" % i)
        lines.append("End")
        nsis.append("IntCmp $0 %d +2 +2 0" % (i * 3))
        nsis.append("StrCpy $1 \"value $0\"")
        i += 1
    for k in range(FORMS):
        lines.append("Display Dialog \"Page%02d\" \"WIZARD\" \"TRUE\"" % k)
    lines.append("Terminate with Exit Code \"0\"")
    with open(os.path.join(project, "main.kems"), "w") as f:
        f.write("\n".join(lines) + "\n")
    with open(os.path.join(project, "project.kemp"), "w") as f:
        f.write("[product]\ncode = {6F1C2B7A-3D4E-4A5B-9C8D-0E1F2A3B4C5D}\n"
                "revision = {0B9A8C7D-6E5F-4A3B-8C2D-1E0F9A8B7C6D}\ntitle = Bench\nversion = 1.0\n"
                "script = main.kems\n[support-files]\n")
        for i in range(FILES):
            f.write("files/f%05d.txt\n" % i)

    nsi = ["Unicode true", "SetCompressor /SOLID lzma", "OutFile \"bench.exe\"", "InstallDir \"$TEMP\\bench\"",
           "!include nsDialogs.nsh"]
    for k in range(FORMS):
        nsi.append("Page custom Page%02d" % k)
    nsi.append("Page instfiles")
    for k in range(FORMS):
        nsi += ["Function Page%02d" % k, "  nsDialogs::Create 1018", "  Pop $2",
                "  ${NSD_CreateLabel} 16u 16u 200u 12u \"Step %d\"" % k, "  Pop $3", "  nsDialogs::Show",
                "FunctionEnd"]
    nsi += ["Section", "  SetOutPath $INSTDIR"]
    nsi += ["  File \"files\\f%05d.txt\"" % i for i in range(FILES)]
    nsi += ["  " + line for line in nsis]
    nsi.append("SectionEnd")
    with open(os.path.join(project, "bench.nsi"), "w") as f:
        f.write("\n".join(nsi) + "\n")
    return project


def timed(command, cwd=None):
    start = time.monotonic()
    result = subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    elapsed = time.monotonic() - start
    if result.returncode != 0:
        sys.exit("%s failed (%d):\n%s" % (command[0], result.returncode, result.stderr[-2000:]))
    return elapsed


def main():
    if len(sys.argv) < 2:
        sys.exit("usage: build_bench.py KEMBUILD [ENGINE_DIR]")
    kembuild = os.path.abspath(sys.argv[1])
    makensis = shutil.which("makensis")
    if not makensis or not os.path.isfile(kembuild):
        print("missing: %s" % ("makensis (Debian package nsis)" if not makensis else kembuild), file=sys.stderr)
        return 2
    with tempfile.TemporaryDirectory() as root:
        engine = sys.argv[2] if len(sys.argv) > 2 else os.path.join(root, "engine")
        if len(sys.argv) <= 2:
            stand_in_engine(engine)
        project = make_project(root)
        ours = timed([kembuild, "build", project, "-o", os.path.join(root, "out"), "--engine-dir", engine])
        nsis = timed([makensis, "-V1", "-NOCD", os.path.join(project, "bench.nsi")], cwd=project)
    print("project: %d statements, %d forms, %d files of %d bytes" % (STATEMENTS, FORMS, FILES, FILE_SIZE))
    print("%-28s %8.2f s" % ("kembuild build", ours))
    print("%-28s %8.2f s" % ("makensis (same work)", nsis))
    print("%-28s %8.2f   goal: at most 1" % ("ratio kembuild/makensis", ours / nsis))
    return 0 if ours <= nsis else 1


if __name__ == "__main__":
    sys.exit(main())
