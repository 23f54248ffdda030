"""Recovery of damaged project-scheduling files (.mpp) into Project XML.

A thin layer over the C interface of libmdwdll (see mdwdll.h), loaded with
ctypes:

    recovery = mpprecover.recover("plan.mpp", "out/")

recover() returns a Recovery when a document was written (whole or with
losses) and raises the RecoveryError subclass named after the library's
result otherwise: OpenRepairedError, GeneralError, NothingError,
WriteError, PathTooLongError, CancelledError.

The library is found through $MDWDLL_LIBRARY (the path of the library
file) or else by the loader's usual search for libmdwdll.so.2.
"""

import ctypes
import os
import threading
import time
from dataclasses import dataclass, field
from typing import Callable, List, Optional, Tuple

__version__ = "0.1.0"
__all__ = [
    "recover", "Recovery", "Loss", "library_path",
    "RecoveryError", "OpenRepairedError", "GeneralError", "NothingError", "WriteError",
    "PathTooLongError", "CancelledError", "LibraryError",
    "OK", "ERR_OPEN_REPAIRED", "ERR_GENERAL", "ERR_NOTHING", "ERR_WRITE", "ERR_PATH_TOO_LONG",
    "ERR_CANCELLED", "INTERFACE_VERSION",
]

# The interface version this module speaks (GetDllVersion, the SONAME's number).
INTERFACE_VERSION = 2
LIBRARY_NAME = f"libmdwdll.so.{INTERFACE_VERSION}"

# The results of FileRecover (the MDW_ codes of mdwdll.h).
OK = 0
ERR_OPEN_REPAIRED = -1
ERR_GENERAL = -2
ERR_NOTHING = -3
ERR_WRITE = -5
ERR_PATH_TOO_LONG = -31
ERR_CANCELLED = -1000


class LibraryError(OSError):
    """libmdwdll could not be loaded, or speaks another interface version."""


class RecoveryError(Exception):
    """A run that wrote no document. `code` is the library's result,
    `recovery` what is known of the run (its report, its error text)."""

    code: Optional[int] = None

    def __init__(self, message: str, recovery: "Recovery"):
        super().__init__(message)
        self.recovery = recovery


class OpenRepairedError(RecoveryError):
    """MDW_ERR_OPEN_REPAIRED: the repaired container could not be opened."""
    code = ERR_OPEN_REPAIRED


class GeneralError(RecoveryError):
    """MDW_ERR_GENERAL: unreadable input, output not created, or the run failed."""
    code = ERR_GENERAL


class NothingError(RecoveryError):
    """MDW_ERR_NOTHING: empty input, unsalvageable container, unknown version,
    or neither tasks nor resources found."""
    code = ERR_NOTHING


class WriteError(RecoveryError):
    """MDW_ERR_WRITE: the recovered data could not be written (a full disk)."""
    code = ERR_WRITE


class PathTooLongError(RecoveryError):
    """MDW_ERR_PATH_TOO_LONG: the output path is too long."""
    code = ERR_PATH_TOO_LONG


class CancelledError(RecoveryError):
    """MDW_ERR_CANCELLED: the run was cancelled."""
    code = ERR_CANCELLED


_ERRORS = {cls.code: cls for cls in (OpenRepairedError, GeneralError, NothingError, WriteError,
                                     PathTooLongError, CancelledError)}


@dataclass(frozen=True)
class Loss:
    """What became of one kind of data: tasks, resources, assignments,
    links, calendars, notes, custom values."""
    kind: str
    recovered: int
    held: Optional[int]  # what the file's structure says it held; None when it no longer says
    lost: bool
    reason: Optional[str]


@dataclass(frozen=True)
class Recovery:
    input: str
    result: int
    output: Optional[str]  # the document written
    level: int  # 3 whole, 2 recovered with losses, 1 little recovered
    counts: List[Tuple[str, str]] = field(default_factory=list)  # ("Tasks", "21")...
    losses: List[Loss] = field(default_factory=list)
    repaired: Optional[str] = None  # the kept repaired container, if any
    error: Optional[str] = None  # what went wrong, in the system's words
    elapsed: float = 0.0  # seconds

    @property
    def whole(self) -> bool:
        """True when the document holds everything the file held."""
        return self.result == OK and not any(loss.lost for loss in self.losses)


# ---------------------------------------------------------------- the library

_load_lock = threading.Lock()
_lib = None
_lib_path = None


def _open(path: Optional[str] = None):
    """Loads the library: `path`, else $MDWDLL_LIBRARY, else the loader's search."""
    path = path or os.environ.get("MDWDLL_LIBRARY") or LIBRARY_NAME
    try:
        lib = ctypes.CDLL(path)
    except OSError as e:
        raise LibraryError(f"cannot load {path}: {e} (install libmdwdll, or set MDWDLL_LIBRARY "
                           f"to the library file's path)") from None
    lib.GetDllVersion.restype = ctypes.c_int32
    version = lib.GetDllVersion()
    if version != INTERFACE_VERSION:
        raise LibraryError(f"{path} speaks interface version {version}, this module {INTERFACE_VERSION}")
    wide, byte = ctypes.c_void_p, ctypes.c_ubyte
    for name, restype, argtypes in (
        ("DllInitialize", ctypes.c_int32, [wide, _STATUS_FN, _PROGRESS_FN]),
        ("SetLogPath", None, [wide]),
        ("SetOutputFormat", None, [wide]),
        ("SetBreakFlag", None, [ctypes.POINTER(byte)]),
        ("FileRecover", ctypes.c_int32, [wide, wide]),
        ("RecoveryReport", ctypes.c_int32, [ctypes.c_void_p] * 4),
        ("SetKeepRepairedPath", None, [wide]),
        ("GetLastOutputPath", ctypes.c_int32, [wide, ctypes.c_int32]),
        ("GetLastErrorText", ctypes.c_int32, [wide, ctypes.c_int32]),
        ("SetXmlDetailLog", None, [byte]),
        ("SetFreezeDates", None, [byte]),
        ("SetReplaceOutput", None, [byte]),
    ):
        function = getattr(lib, name)
        function.restype, function.argtypes = restype, argtypes
    return lib


def _library():
    global _lib, _lib_path
    with _load_lock:
        if _lib is None:
            _lib = _open()
            _lib_path = _lib._name
        return _lib


def library_path() -> str:
    """The library in use (loading it if need be), as it was asked for."""
    _library()
    return _lib_path


# ---------------------------------------------------------------- texts

def _path_text(path) -> str:
    """A path as the library takes it: the system's bytes, with bytes that
    are not UTF-8 as U+DC80..U+DCFF (the same as Python's surrogateescape)."""
    return os.fsencode(path).decode("utf-8", "surrogateescape")


def _wide(text: str):
    return ctypes.create_string_buffer(text.encode("utf-16-le", "surrogatepass") + b"\0\0")


def _read_wide(pointer, errors="replace") -> str:
    if not pointer:
        return ""
    units = ctypes.cast(pointer, ctypes.POINTER(ctypes.c_uint16))
    n = 0
    while units[n]:
        n += 1
    return ctypes.string_at(pointer, 2 * n).decode("utf-16-le", errors)


def _system_path(text: str) -> str:
    """A path from the library as Python names files (os.fsdecode)."""
    return os.fsdecode(text.encode("utf-8", "surrogateescape"))


# ---------------------------------------------------------------- one run

_STATUS_FN = ctypes.CFUNCTYPE(None, ctypes.c_void_p)
_PROGRESS_FN = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_int32)


class _Run:
    """The state of the run under way, which the callbacks reach."""

    def __init__(self, progress, cancel):
        self.progress = progress
        self.cancel = cancel
        self.flag = ctypes.c_ubyte(0)  # the library's cancel byte
        self.status = ""
        self.raised: Optional[BaseException] = None  # from a callback, or Ctrl-C
        self.done = threading.Event()

    def check_cancel(self):
        if self.cancel is not None and self.cancel.is_set():
            self.flag.value = 1

    def fail(self, error: BaseException):
        # An exception cannot cross the library: stop the run, raise it after.
        if self.raised is None:
            self.raised = error
        self.flag.value = 1

    def watch(self):
        """Sets the cancel byte while the cancel event is set (the library
        clears it when a run starts, so it is set again until the end)."""
        wait = getattr(self.cancel, "wait", None)
        while not self.done.is_set():
            if wait is not None:
                wait(0.05)
            else:
                time.sleep(0.05)
            self.check_cancel()


_current: Optional[_Run] = None
_run_lock = threading.Lock()  # one run at a time per process
_log_was_set = False


def _on_status(text):
    run = _current
    if run is None:
        return
    try:
        run.status = _read_wide(text)
        run.check_cancel()
    except BaseException as e:  # Ctrl-C lands here while the library runs
        run.fail(e)


def _on_progress(text, percent):
    run = _current
    if run is None:
        return
    try:
        run.check_cancel()
        if run.progress is not None:
            run.progress(int(percent), run.status)
    except BaseException as e:
        run.fail(e)


# The library keeps the callbacks: they live as long as the module.
_STATUS_CALLBACK = _STATUS_FN(_on_status)
_PROGRESS_CALLBACK = _PROGRESS_FN(_on_progress)


def _report_rows(lib):
    columns = [ctypes.POINTER(ctypes.c_void_p)() for _ in range(4)]
    lib.RecoveryReport(*(ctypes.byref(c) for c in columns))
    if not columns[0]:
        return 1, []
    level_text = _read_wide(columns[2][0])
    level = int(level_text) if level_text.isdigit() else 1
    rows, i = [], 1
    while columns[0][i]:
        rows.append(tuple(_read_wide(columns[c][i]) for c in range(4)))
        i += 1
    return level, rows


def _split_rows(rows):
    counts, losses = [], []
    for name, value, status, note in rows:
        if status and name.endswith(" recovered"):
            recovered, _, held = value.partition(" of ")
            losses.append(Loss(kind=name[:-len(" recovered")].lower(), recovered=int(recovered),
                               held=int(held) if held else None, lost=status == "lost",
                               reason=note if note.strip() else None))
        else:
            counts.append((name, value))
    return counts, losses


def _check_log(log: str):
    """A log the library could not open would be ignored: refuse it here."""
    fd = os.open(log, os.O_WRONLY | os.O_APPEND | os.O_CREAT | os.O_NOFOLLOW | os.O_CLOEXEC, 0o644)
    os.close(fd)


def recover(path, output=None, *, log=None, work_dir=None, keep_repaired=None,
            progress: Optional[Callable[[int, str], None]] = None, cancel=None,
            replace: bool = False, freeze_dates: bool = False) -> Recovery:
    """Recovers the project file `path` into Project XML.

    output: an existing folder (the document's name is composed from the
      input's: plan.xml, or plan(2).xml... when taken) or the document's
      path (".xml" is added when it has no such extension); None: the
      input's folder. An existing file is replaced only with replace=True.
    log: append the diagnostics log to this file. The library keeps its log
      for the process: a later run without one writes none.
    work_dir: folder for intermediate files (default: $TMPDIR or /tmp).
    keep_repaired: keep the rebuilt compound file at this path (must not exist).
    progress: called as progress(percent, status) on the calling thread.
    cancel: a threading.Event (or any object with is_set()); setting it from
      another thread stops the run with CancelledError.
    freeze_dates: write every task manually scheduled, with its stored dates.

    Returns a Recovery when a document was written (check .whole and
    .losses); raises the RecoveryError subclass of the library's result
    otherwise, and what a progress callback raised (the run is stopped).
    Paths may be str, bytes or path-like; bytes need not be UTF-8.
    """
    global _current, _log_was_set
    lib = _library()
    input_text = _path_text(path)
    if output is None:
        output_text = os.path.dirname(input_text) or "."
    else:
        output_text = _path_text(output)
        if not os.path.isdir(os.fsencode(output)) and not output_text.lower().endswith(".xml"):
            output_text += ".xml"
    if log is not None:
        _check_log(log)
    if keep_repaired and os.path.lexists(keep_repaired):
        raise FileExistsError(f"will not overwrite {os.fsdecode(keep_repaired)}")

    with _run_lock:
        run = _Run(progress, cancel)
        if cancel is not None and cancel.is_set():
            raise CancelledError("cancelled before the run started",
                                 Recovery(input=os.fsdecode(path), result=ERR_CANCELLED, output=None, level=1))
        lib.DllInitialize(_wide(_path_text(work_dir) if work_dir else ""), _STATUS_CALLBACK, _PROGRESS_CALLBACK)
        if log is not None:
            lib.SetLogPath(_wide(_path_text(log)))
            _log_was_set = True
        else:
            # After a run with a log the library would go on appending to it.
            lib.SetLogPath(_wide("/dev/null" if _log_was_set else ""))
        lib.SetOutputFormat(_wide("*.xml"))
        lib.SetKeepRepairedPath(_wide(_path_text(keep_repaired) if keep_repaired else ""))
        lib.SetXmlDetailLog(0)
        lib.SetFreezeDates(1 if freeze_dates else 0)
        lib.SetReplaceOutput(1 if replace else 0)
        lib.SetBreakFlag(ctypes.byref(run.flag))
        _, before = _report_rows(lib)

        watcher = None
        if cancel is not None:
            watcher = threading.Thread(target=run.watch, name="mpprecover-cancel", daemon=True)
            watcher.start()
        _current = run
        started = time.monotonic()
        try:
            result = lib.FileRecover(_wide(input_text), _wide(output_text))
        finally:
            elapsed = time.monotonic() - started
            _current = None
            lib.SetBreakFlag(None)
            run.done.set()
            if watcher is not None:
                watcher.join()
        # A cancel that came before the library cleared its byte still counts.
        if result not in (OK, ERR_CANCELLED) and (run.raised is not None or
                                                  (cancel is not None and cancel.is_set())):
            result = ERR_CANCELLED

        buffer = ctypes.create_string_buffer(2 * 8192)
        output_path = None
        if result == OK and lib.GetLastOutputPath(buffer, 8192) > 0:
            output_path = _system_path(_read_wide(buffer, "surrogatepass"))
        error = None
        if lib.GetLastErrorText(buffer, 8192) > 0:
            error = _read_wide(buffer)
        level, rows = _report_rows(lib)
        counts, losses = _split_rows(rows[len(before):])
        repaired = None
        if keep_repaired and os.path.exists(keep_repaired):
            repaired = os.fsdecode(keep_repaired)

    recovery = Recovery(input=os.fsdecode(path), result=result, output=output_path, level=level,
                        counts=counts, losses=losses, repaired=repaired, error=error, elapsed=elapsed)
    if run.raised is not None:
        raise run.raised
    if result != OK:
        cls = _ERRORS.get(result, RecoveryError)
        message = error or {ERR_CANCELLED: "cancelled", ERR_NOTHING: "nothing recovered"}.get(
            result, f"failed with result {result}")
        raise cls(message, recovery)
    return recovery
