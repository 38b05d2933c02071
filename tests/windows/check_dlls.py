#!/usr/bin/python3
"""Reads built Windows DLLs and compares them, byte for byte where the hosts
care, with the tables that the hosts know:

  - the export table: the DLL's own name, and exactly the expected names at
    exactly their ordinals, exported by name, nothing else (no DllMain);
  - on 32-bit x86: the argument bytes that each export removes from the stack,
    read from every `ret` of its code in the disassembly;
  - the prototype text: resource type "CVIDLLPROTOTYPES", name "CVIDLLEXPORTS",
    language 0x0030, code page 0, the lines with their line feeds and one to
    four NULs up to a multiple of 4 bytes;
  - the version record: resource 1, language 0x0409, the fixed part, the
    "040904b0" string table and the translation entry;
  - the import list: system DLLs only.

Usage: check_dlls.py [--machine i386|amd64] LIBRARY_FOLDER

The expected tables below are written out by hand from the hosts' tables, not
taken from the export lists that the build generates its files from, so that
a slip in an export list or in the generator shows here.

Needs python3-pefile (Debian), and binutils for i686-w64-mingw32 for the
disassembly of 32-bit DLLs.
"""

import argparse
import os
import re
import subprocess
import sys

import pefile

# (ordinal, export, argument bytes), and the prototype lines in ordinal order.
EXPORTS = {
    "Corvanel": [
        (1, "ACFFit1", 0), (2, "ACFFit1ArrIO", 24), (3, "ACFFree", 0), (4, "ACFsetupArrIO", 12),
        (5, "calcRealACFdutyFactor", 12), (6, "calcRealACFmtau", 8), (7, "file2acf", 28), (8, "realACFraw", 4),
        (9, "realACFrawArrIO", 24), (10, "setupRealACF", 20), (11, "writeRealACFraw2CSV", 4),
    ],
    "Dromilt": [
        (1, "calcRealACFdutyFactor", 12), (2, "calcRealACFmtau", 8), (3, "fitRealDromilt", 20),
        (4, "freeRealDromilt", 0), (5, "getACFcnt", 8), (6, "realACFnormArrIO", 8), (7, "realACFrawArrIO", 8),
        (8, "resetrealACF", 0), (9, "setupRealDromilt", 20),
    ],
    "Plavenne": [(1, "realACFnormArrIO", 28)],
    "Quenbar": [
        (1, "addpnt", 4), (2, "addpntArrIO", 8), (3, "clearQuenbar", 0), (4, "file2acf", 20),
        (5, "getQuenbarCopy", 4), (6, "setupQuenbar", 12), (7, "writeQuenbar", 4),
    ],
    "Quenlith": [(1, "addpntArrIO", 8), (2, "setupQuenlith", 12)],
    "Trelvin": [(1, "calcTrelvin", 8), (2, "getTrelvinEmptyBins", 0), (3, "setupTrelvin", 4), (4, "trelvin", 8)],
    "Vennitch": [(1, "connect", 12), (2, "reset", 0)],
}

PROTOTYPES = {
    "Corvanel": [
        "double __stdcall ACFFit1(void);",
        "double __stdcall ACFFit1ArrIO(long *yarr, long arrsize, double *fityarr, double *fitcoef, long iter, long guess);",
        "void __stdcall ACFFree(void);",
        "void __stdcall ACFsetupArrIO(long arrsize, const double clock_ns);",
        "double __stdcall calcRealACFdutyFactor(double m, long c);",
        "long __stdcall calcRealACFmtau(long m, long c);",
        "void __stdcall file2acf(char *cfn, char *dfn, long mtau, double dutyFactor, double clock_ns);",
        "long __stdcall realACFraw(long tau);",
        "void __stdcall realACFrawArrIO(long *delay, long *acf, long tau, long *idelay, long mtau, long mdelay);",
        "long __stdcall setupRealACF(long mtau, double dutyFactor, double clock_ns);",
        "long __stdcall writeRealACFraw2CSV(char *fnameCSV);",
    ],
    "Dromilt": [
        "double __stdcall calcRealACFdutyFactor(double m, long c);",
        "long __stdcall calcRealACFmtau(long m, long c);",
        "double __stdcall fitRealDromilt(long *acfarr, double *fitarr, double *fitcoefarr, long maxiter, long guess);",
        "void __stdcall freeRealDromilt(void);",
        "void __stdcall getACFcnt(unsigned long long *acntpt, unsigned long long *tcntpt);",
        "void __stdcall realACFnormArrIO(long *acfarr, double *nacfarr);",
        "void __stdcall realACFrawArrIO(long *acf, unsigned long tau);",
        "void __stdcall resetrealACF(void);",
        "void __stdcall setupRealDromilt(long mtau, double dutyFactor, const double clock_ns);",
    ],
    "Plavenne": [
        "void __stdcall realACFnormArrIO(long *acfarr, double *nacfarr, long arrsize, unsigned long long acnt, "
        "unsigned long long tcnt);",
    ],
    "Quenbar": [
        "void __stdcall addpnt(long ipt);",
        "void __stdcall addpntArrIO(long *quenbararr, unsigned long ipt);",
        "void __stdcall clearQuenbar(void);",
        "void __stdcall file2acf(char *cfn, char *dfn, long lb, long ub, long itv);",
        "void __stdcall getQuenbarCopy(long *quenbarArr);",
        "void __stdcall setupQuenbar(long lb, long ub, long itv);",
        "void __stdcall writeQuenbar(char *fname);",
    ],
    "Quenlith": [
        "void __stdcall addpntArrIO(long *quenbararr, unsigned long ipt);",
        "void __stdcall setupQuenlith(long lb, long ub, long itv);",
    ],
    "Trelvin": [
        "long __stdcall calcTrelvin(long binWidth_ns, long clockPeriod_ns);",
        "long __stdcall getTrelvinEmptyBins(void);",
        "long __stdcall setupTrelvin(long binWidth);",
        "long __stdcall trelvin(unsigned long tau, long *emptybins);",
    ],
    "Vennitch": [
        "void __stdcall connect(unsigned long *srcarr, long srcarrlen, unsigned long *dstarr);",
        "void __stdcall reset(void);",
    ],
}

# The fit service beside the libraries: one export, system imports only.
SERVICE = ("fitservice", [(1, "AALFunc131", None)])

SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll"}
MACHINES = {"i386": 0x014C, "amd64": 0x8664}
RT_VERSION = 16


class Findings:
    """What one file failed, with the lines of its summary."""

    def __init__(self, file_name):
        self.file_name = file_name
        self.failures = []
        self.summary = []

    def expect(self, condition, message):
        if not condition:
            self.failures.append(message)
        return condition


def check_tables_agree():
    """The two hand-written tables must name the same exports in the same order."""
    for name, rows in EXPORTS.items():
        from_lines = [re.search(r" __stdcall (\w+)\(", line).group(1) for line in PROTOTYPES[name]]
        assert [export for _, export, _ in rows] == from_lines, name
        assert [ordinal for ordinal, _, _ in rows] == list(range(1, len(rows) + 1)), name
        assert from_lines == sorted(from_lines), name  # ASCII order: upper case first


def check_exports(pe, dll_name, rows, f):
    f.expect(pe.FILE_HEADER.Characteristics & 0x2000, "not a DLL (IMAGE_FILE_DLL missing)")
    directory = getattr(pe, "DIRECTORY_ENTRY_EXPORT", None)
    if not f.expect(directory is not None, "no export table"):
        return {}
    own_name = pe.get_string_at_rva(directory.struct.Name).decode("ascii", "replace")
    f.expect(own_name == dll_name, f"export table names the file {own_name!r}, not {dll_name!r}")
    f.expect(directory.struct.Base == 1, f"ordinal base {directory.struct.Base}, not 1")
    f.expect(directory.struct.NumberOfFunctions == len(rows),
             f"{directory.struct.NumberOfFunctions} export slots, expected {len(rows)}")
    found = [(symbol.ordinal, symbol.name.decode("ascii", "replace") if symbol.name else None)
             for symbol in directory.symbols]
    expected = [(ordinal, export) for ordinal, export, _ in rows]
    f.expect(sorted(found, key=lambda e: e[0]) == expected, f"exports {found}, expected {expected}")
    names_in_table_order = [name for _, name in found if name]
    f.expect(names_in_table_order == sorted(names_in_table_order), "export names are not in ASCII order")
    f.summary.append(f"exports: {len(found)}, ordinals 1-{len(found)} in ASCII order"
                     if found == expected else f"exports: {found}")
    return {symbol.name.decode(): symbol.address for symbol in directory.symbols if symbol.name}


def disassembly_by_address(path):
    """Function start address -> (symbol, instructions), from objdump."""
    text = subprocess.run(["i686-w64-mingw32-objdump", "-d", "--no-show-raw-insn", path],
                          check=True, capture_output=True, text=True).stdout
    functions, current = {}, None
    for line in text.splitlines():
        header = re.match(r"^([0-9a-f]+) <(.+)>:$", line)
        if header:
            current = (header.group(2), [])
            functions[int(header.group(1), 16)] = current
        elif current and re.match(r"^\s*[0-9a-f]+:\t", line):
            current[1].append(line.split("\t", 1)[1].strip())
    return functions


def check_argument_bytes(pe, path, rows, addresses, f):
    functions = disassembly_by_address(path)
    by_symbol = {symbol: body for symbol, body in functions.values()}
    shown = []
    for _, export, expected in rows:
        if export not in addresses:
            continue  # reported with the exports
        start = pe.OPTIONAL_HEADER.ImageBase + addresses[export]
        if not f.expect(start in functions, f"{export}: no code symbol at its address {start:#x}"):
            continue
        symbol, body = functions[start]
        # A function's cold part, split off by the compiler, returns too.
        parts = [body] + [b for s, b in by_symbol.items() if s.startswith(symbol + ".cold")]
        rets = [insn for part in parts for insn in part if re.match(r"^ret[lw]?\b", insn)]
        removed = set()
        for insn in rets:
            operand = re.match(r"^ret[lw]?\s+\$(0x[0-9a-f]+|\d+)", insn)
            removed.add(int(operand.group(1), 0) if operand else 0)
        if f.expect(rets, f"{export} ({symbol}): no ret found"):
            f.expect(removed == {expected},
                     f"{export} ({symbol}): its rets remove {sorted(removed)} bytes, expected {expected}")
        shown.append(f"{export} {'/'.join(map(str, sorted(removed)))}")
    f.summary.append("argument bytes (ret): " + ", ".join(shown))


def resource_types(pe):
    directory = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    return directory.entries if directory else []


def entry_key(entry):
    return str(entry.name) if entry.name is not None else entry.id


def check_prototype_text(pe, lines, f):
    expected = "".join(line + "\n" for line in lines).encode("ascii")
    expected += b"\0" * (4 - len(expected) % 4)  # one to four NULs
    types = {entry_key(t): t for t in resource_types(pe)}
    kind = types.get("CVIDLLPROTOTYPES")
    if not f.expect(kind is not None, "no resource of type CVIDLLPROTOTYPES"):
        return
    names = {entry_key(n): n for n in kind.directory.entries}
    f.expect(set(names) == {"CVIDLLEXPORTS"}, f"CVIDLLPROTOTYPES resources named {sorted(map(str, names))}")
    if "CVIDLLEXPORTS" not in names:
        return
    languages = names["CVIDLLEXPORTS"].directory.entries
    f.expect([l.id for l in languages] == [0x30], f"prototype text in languages {[hex(l.id) for l in languages]}")
    data = languages[0].data.struct
    f.expect(data.CodePage == 0, f"prototype text code page {data.CodePage}, not 0")
    found = pe.get_data(data.OffsetToData, data.Size)
    f.expect(found == expected, f"prototype text differs:\n  found    {found!r}\n  expected {expected!r}")
    nuls = len(found) - len(found.rstrip(b"\0"))
    f.summary.append(f"prototype text: {len(found)} bytes, {len(lines)} lines, {nuls} NULs, "
                     f"type CVIDLLPROTOTYPES, name CVIDLLEXPORTS, language {languages[0].id:#06x}, "
                     f"code page {data.CodePage}")


def check_version_record(pe, name, dll_name, f):
    types = {entry_key(t): t for t in resource_types(pe)}
    f.expect(set(types) == {"CVIDLLPROTOTYPES", RT_VERSION},
             f"resource types {sorted(map(str, types))}, expected the prototype text and the version record")
    kind = types.get(RT_VERSION)
    if not f.expect(kind is not None, "no version record"):
        return
    f.expect([n.id for n in kind.directory.entries] == [1], "the version record is not resource 1 alone")
    languages = kind.directory.entries[0].directory.entries
    f.expect([l.id for l in languages] == [0x0409], f"version record in languages {[hex(l.id) for l in languages]}")

    fixed = pe.VS_FIXEDFILEINFO[0]
    for field, value in [("FileVersionMS", 0x00010000), ("FileVersionLS", 0), ("ProductVersionMS", 0x00010000),
                         ("ProductVersionLS", 0), ("FileFlags", 0), ("FileOS", 4), ("FileType", 2),
                         ("FileSubtype", 0)]:
        found = getattr(fixed, field)
        f.expect(found == value, f"version record {field} is {found:#x}, expected {value:#x}")

    tables, translations = [], []
    for info in pe.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            tables += info.StringTable
        elif info.Key == b"VarFileInfo":
            for var in info.Var:
                value = var.entry.get(b"Translation")
                translations.append(value.decode() if isinstance(value, bytes) else value)
    f.expect([t.LangID for t in tables] == [b"040904b0"], f"string tables {[t.LangID for t in tables]}")
    f.expect(translations == ["0x0409 0x04b0"], f"translation entries {translations}")
    strings = {k.decode(): v.decode() for t in tables for k, v in t.entries.items()}
    for key, value in [("FileDescription", name), ("InternalName", name), ("OriginalFilename", dll_name),
                       ("FileVersion", "1.0"), ("ProductVersion", "1.0")]:
        f.expect(strings.get(key) == value, f"version string {key} is {strings.get(key)!r}, expected {value!r}")
    for key in ["CompanyName", "ProductName", "LegalCopyright"]:
        f.expect(strings.get(key), f"version string {key} is missing or empty")
    f.summary.append(f"version record: resource 1, language 0x0409, version 1.0.0.0, "
                     f"FileOS {fixed.FileOS:#x}, FileType {fixed.FileType:#x}, "
                     f"strings {strings.get('InternalName')} / {strings.get('OriginalFilename')} / "
                     f"{strings.get('FileVersion')}, table 040904b0, translation 0x0409 0x04b0")


def check_imports(pe, f):
    imported = [entry.dll.decode() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    others = [dll for dll in imported if dll.lower() not in SYSTEM_DLLS]
    f.expect(not others, f"imports from non-system DLLs: {others}")
    delayed = getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])
    f.expect(not delayed, "delay-loaded imports")
    f.summary.append("imports: " + ", ".join(imported))


def check_file(folder, name, rows, lines, machine):
    dll_name = name + ".dll"
    path = os.path.join(folder, dll_name)
    f = Findings(dll_name)
    if not f.expect(os.path.isfile(path), f"{path} is missing"):
        return f
    pe = pefile.PE(path)
    f.expect(pe.FILE_HEADER.Machine == MACHINES[machine],
             f"machine {pe.FILE_HEADER.Machine:#x}, expected {machine}")
    addresses = check_exports(pe, dll_name, rows, f)
    if lines is not None:
        if machine == "i386":
            check_argument_bytes(pe, path, rows, addresses, f)
        check_prototype_text(pe, lines, f)
        check_version_record(pe, name, dll_name, f)
    check_imports(pe, f)
    return f


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--machine", choices=sorted(MACHINES), default="i386")
    parser.add_argument("folder")
    args = parser.parse_args()
    check_tables_agree()

    results = [check_file(args.folder, name, rows, PROTOTYPES[name], args.machine) for name, rows in EXPORTS.items()]
    results.append(check_file(args.folder, SERVICE[0], SERVICE[1], None, args.machine))
    for f in results:
        print(f"{f.file_name} ({args.machine}): {'ok' if not f.failures else 'FAILED'}")
        for line in f.summary:
            print("    " + line)
        for failure in f.failures:
            print("    FAILED: " + failure)
    failed = sum(1 for f in results if f.failures)
    print(f"{len(results) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
