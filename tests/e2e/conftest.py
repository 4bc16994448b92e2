"""End-to-end tests: the built add-in, loaded by xllhost under Wine.

Each test runs the real Windows module (32-bit through tools/wine/run32, 64-bit
through tools/wine/run64) in our Excel-like host and checks what the host
reports against Python's own hashlib and codecs.

Locations can be overridden with KESTROVA_BUILD_WIN32 / KESTROVA_BUILD_WIN64
(directories holding Kestrova.xll and xllhost/xllhost.exe).
"""
import functools
import hashlib
import json
import os
import pathlib
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
WINE_TOOLS = ROOT / "tools" / "wine"

JAPANESE = "ja_JP.UTF-8"  # Wine's ANSI code page 932
WESTERN = "en_US.UTF-8"  # 1252


def md5(data: bytes) -> str:
    return hashlib.md5(data).hexdigest()


def winpath(path) -> str:
    """The name Wine gives a Unix path: drive Z: is the Unix root."""
    return "Z:" + str(path).replace("/", "\\")


def utf16_hex(text: str) -> str:
    return text.encode("utf-16-le", "surrogatepass").hex()


class HostRun:
    def __init__(self, returncode, events, stderr, seconds):
        self.returncode = returncode
        self.events = events
        self.stderr = stderr
        self.seconds = seconds

    def of(self, kind):
        return [e for e in self.events if e.get("event") == kind]

    @property
    def summary(self):
        summaries = self.of("summary")
        assert len(summaries) == 1, self.describe()
        return summaries[0]

    def describe(self):
        tail = "\n".join(json.dumps(e, ensure_ascii=False)[:300] for e in self.events[-15:])
        return f"exit {self.returncode}\n--- last events ---\n{tail}\n--- stderr ---\n{self.stderr[-2000:]}"

    def assert_clean(self):
        """The host saw no crash and no breach of the protocol, and every
        allocation on either side was given back."""
        assert not self.of("crash"), self.describe()
        assert not self.of("breach"), self.describe()
        assert not self.of("script_error"), self.describe()
        s = self.summary
        assert (s["breaches"], s["host_leaked"], s["host_allocated"]) == (0, 0, s["host_freed"]), self.describe()
        assert self.returncode == 0, self.describe()


class Target:
    """One build of the add-in with the host of the same width."""

    def __init__(self, name, bits):
        self.name = name
        self.bits = bits
        build = pathlib.Path(os.environ.get(f"KESTROVA_BUILD_{name.upper()}", ROOT / "build" / name))
        self.xll = build / "Kestrova.xll"
        self.host = build / "xllhost" / "xllhost.exe"
        self.runner = WINE_TOOLS / ("run32" if bits == 32 else "run64")
        self.objdump = ("i686" if bits == 32 else "x86_64") + "-w64-mingw32-objdump"

    def __repr__(self):
        return self.name

    def run(self, script, tmp_path, version="16.0", locale=JAPANESE, host=None, cwd=None, timeout=900):
        """Runs the host on a script (a list of dicts); returns its report."""
        import time

        script_file = tmp_path / f"script-{os.getpid()}-{time.monotonic_ns()}.jsonl"
        script_file.write_text("".join(json.dumps(line) + "\n" for line in script), encoding="utf-8")
        command = [str(self.runner), str(host or self.host), "--version", version,
                   "--addin", winpath(self.xll), "--script", winpath(script_file)]
        env = dict(os.environ, LC_ALL=locale)
        start = time.monotonic()
        proc = subprocess.run(command, capture_output=True, env=env, cwd=cwd, timeout=timeout)
        seconds = time.monotonic() - start
        events = []
        for line in proc.stdout.decode("ascii", "replace").splitlines():
            if line.startswith("{"):
                events.append(json.loads(line))
        return HostRun(proc.returncode, events, proc.stderr.decode("utf-8", "replace"), seconds)


@functools.lru_cache(maxsize=None)
def windows_programs_run(bits):
    proc = subprocess.run([str(WINE_TOOLS / "check"), str(bits)], capture_output=True, text=True, timeout=600)
    return proc.returncode == 0, proc.stdout.strip()


@pytest.fixture(params=[("win32", 32), ("win64", 64)], ids=["win32", "win64"])
def target(request):
    t = Target(*request.param)
    ok, said = windows_programs_run(t.bits)
    if not ok:
        pytest.skip(f"this machine cannot run {t.bits}-bit Windows programs: {said}")
    for built in (t.xll, t.host, t.host.parent / "XLCall32.dll"):
        if not built.is_file():
            pytest.fail(f"{built} is not built: cmake --preset {t.name} && cmake --build --preset {t.name}")
    return t


def arg_value(value):
    """A registration argument as the host decodes it, in plain Python."""
    if value is None:
        return None
    for key in ("str", "int", "num", "bool", "error"):
        if key in value:
            return value[key]
    return value


def result_of(event):
    """A call's result: the digest text, or ('error', code)."""
    r = event["result"]
    if r is not None and "str" in r:
        return r["str"]
    if r is not None and "error" in r:
        return ("error", r["error"])
    return r
