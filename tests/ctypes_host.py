#!/usr/bin/env python3
"""A host written in Python loads libmdwdll.so through ctypes and drives it
through the exported interface only, as a host in another language would."""

import ctypes
import os
import sys
import tempfile


def wide(text):
    """A zero-terminated UTF-16 buffer (the library's char16_t strings)."""
    return ctypes.create_string_buffer(text.encode("utf-16-le") + b"\0\0")


def read_wide(pointer):
    if not pointer:
        return ""
    units = ctypes.cast(pointer, ctypes.POINTER(ctypes.c_uint16))
    chars = []
    i = 0
    while units[i] != 0:
        chars.append(units[i])
        i += 1
    return b"".join(c.to_bytes(2, "little") for c in chars).decode("utf-16-le")


def main():
    lib = ctypes.CDLL(sys.argv[1])
    lib.DllInitialize.restype = ctypes.c_int32
    lib.FileRecover.restype = ctypes.c_int32
    lib.GetDllVersion.restype = ctypes.c_int32
    lib.RecoveryReport.restype = ctypes.c_int32

    failures = []

    def check(what, got, want):
        if got != want:
            failures.append(f"{what}: got {got!r}, want {want!r}")

    check("GetDllVersion before anything", lib.GetDllVersion(), 2)
    extensions = ctypes.create_string_buffer(12)
    lib.GetSupportedExtensions(extensions)
    check("GetSupportedExtensions", extensions.raw.decode("utf-16-le").rstrip("\0"), "*.mpp")

    with tempfile.TemporaryDirectory() as folder:
        empty = os.path.join(folder, "empty.mpp")
        open(empty, "wb").close()
        check("FileRecover before DllInitialize", lib.FileRecover(wide(empty), wide(folder)), -2)

        statuses = []
        StatusFn = ctypes.CFUNCTYPE(None, ctypes.c_void_p)
        ProgressFn = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_int32)
        on_status = StatusFn(lambda text: statuses.append(read_wide(text)))
        on_progress = ProgressFn(lambda text, percent: None)
        check("DllInitialize", lib.DllInitialize(wide(folder), on_status, on_progress), 1)
        check("FileRecover before SetLogPath", lib.FileRecover(wide(empty), wide(folder)), -2)

        log = os.path.join(folder, "host.log")
        lib.SetLogPath(wide(log))
        lib.SetOutputFormat(wide("*.xml"))
        cancel = ctypes.c_ubyte(1)
        lib.SetBreakFlag(ctypes.byref(cancel))

        check("missing input", lib.FileRecover(wide(os.path.join(folder, "none.mpp")), wide(folder)), -2)
        check("empty input", lib.FileRecover(wide(empty), wide(folder)), -3)

        garbage = os.path.join(folder, "garbage.mpp")
        with open(garbage, "wb") as f:
            f.write(b"not a compound file " * 200)
        result = lib.FileRecover(wide(garbage), wide(folder))
        check("garbage input", result, -3)
        check("cancel byte cleared by the run", cancel.value, 0)
        check("Pass 1 status", statuses[:1], ["Pass 1: Opening file..."])
        with open(log, "rb") as f:
            text = f.read().decode("cp1252")
        if "S: FileRecover()" not in text:
            failures.append("the log file lacks the run's lines")

        columns = [ctypes.POINTER(ctypes.c_void_p)() for _ in range(4)]
        check("RecoveryReport", lib.RecoveryReport(*[ctypes.byref(c) for c in columns]), 0)
        check("report level", read_wide(columns[2][0]), "1")
        check("report end", columns[0][1], None)

    for failure in failures:
        print("FAIL:", failure)
    print(f"{0 if failures else 1} passed, {1 if failures else 0} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
