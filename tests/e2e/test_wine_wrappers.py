"""tools/wine/run32 and run64 themselves, with a console program of our own
built by the mingw-w64 compilers: output, exit code, the ANSI code page chosen
by the locale, and the exception code a bad pointer raises (qemu-user would
make it an illegal instruction without the fault fixer run32 preloads)."""
import os
import subprocess

import pytest

from conftest import JAPANESE, WESTERN, WINE_TOOLS, windows_programs_run

PROGRAM = r"""
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static LONG WINAPI report(EXCEPTION_POINTERS* e) {
    printf("exception %08lx\n", (unsigned long)e->ExceptionRecord->ExceptionCode);
    fflush(stdout);
    ExitProcess(3);
    return 0;
}

int main(int argc, char** argv) {
    SetUnhandledExceptionFilter(report);
    printf("bits %d acp %u arg %s\n", (int)(sizeof(void*) * 8), GetACP(), argc > 1 ? argv[1] : "");
    fflush(stdout);
    if (argc > 2 && strcmp(argv[2], "segv") == 0) {
        volatile int* bad = (int*)(uintptr_t)16;
        *bad = 1;
    }
    if (argc > 2 && strcmp(argv[2], "div") == 0) {
        volatile int zero = 0;
        printf("%d\n", 7 / zero);
    }
    return argc > 2 ? atoi(argv[2]) : 0;
}
"""


@pytest.fixture(scope="module", params=[32, 64], ids=["run32", "run64"])
def program(request, tmp_path_factory):
    bits = request.param
    ok, said = windows_programs_run(bits)
    if not ok:
        pytest.skip(f"this machine cannot run {bits}-bit Windows programs: {said}")
    work = tmp_path_factory.mktemp(f"probe{bits}")
    (work / "probe.c").write_text(PROGRAM)
    compiler = ("i686" if bits == 32 else "x86_64") + "-w64-mingw32-gcc"
    exe = work / "probe.exe"
    subprocess.run([compiler, "-O1", "-static", "-o", str(exe), str(work / "probe.c")], check=True)
    return bits, exe


def run(bits, exe, *args, locale=WESTERN):
    return subprocess.run([str(WINE_TOOLS / f"run{bits}"), str(exe), *args], capture_output=True,
                          env=dict(os.environ, LC_ALL=locale), timeout=300)


@pytest.mark.parametrize("locale,codepage", [(JAPANESE, 932), (WESTERN, 1252)])
def test_output_exit_code_and_code_page(program, locale, codepage):
    bits, exe = program
    proc = run(bits, exe, "hello", "42", locale=locale)
    assert proc.stdout.decode().splitlines() == [f"bits {bits} acp {codepage} arg hello"]
    assert proc.returncode == 42


@pytest.mark.parametrize("fault,code", [("segv", "c0000005"), ("div", "c0000094")])
def test_faults_reach_the_program_as_windows_exceptions(program, fault, code):
    bits, exe = program
    proc = run(bits, exe, "x", fault)
    assert proc.stdout.decode().splitlines()[-1] == f"exception {code}"
    assert proc.returncode == 3
