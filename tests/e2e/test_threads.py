"""The thread-safe procedures called from many threads at once: every result
is compared with hashlib, and every call's result with every other call's on
the same input."""
import os

from conftest import JAPANESE, md5, result_of, winpath

THREADS = int(os.environ.get("KESTROVA_E2E_THREADS", "8"))
CALLS = int(os.environ.get("KESTROVA_E2E_CALLS", "20000"))


def test_many_threads_agree_with_hashlib(target, tmp_path):
    files = tmp_path / "files"
    files.mkdir()
    contents = {"small.bin": b"x", "page.bin": bytes(range(256)) * 8 + b"!", "empty.bin": b""}
    for name, data in contents.items():
        (files / name).write_bytes(data)
    paths = {winpath(files / name): data for name, data in contents.items()}
    texts = ["abc", "", "日本語のテキスト", "ｶﾀｶﾅ①", "mixed 日本 text 123", "a" * 32767,
             "あ" * 5000, "line\nbreak\ttab", *paths]
    functions = ["MBSTR2MD5", "WCSTR2MD5", "MBSTR2MD5UTF8", "FILE2MD5"]

    # The working directory holds none of the texts as a file name, so
    # FILE2MD5 of a text that is not one of our paths cannot open anything.
    empty_dir = tmp_path / "cwd"
    empty_dir.mkdir()
    run = target.run([{"stress": functions, "threads": THREADS, "calls": CALLS, "texts": texts}],
                     tmp_path, version="16.0", locale=JAPANESE, cwd=empty_dir, timeout=1800)
    run.assert_clean()

    [stress] = run.of("stress")
    assert (stress["threads"], stress["total"], stress["bad"], stress["differing"]) == \
        (THREADS, THREADS * CALLS, 0, 0)
    assert run.summary["auto_free12"] == THREADS * CALLS
    print(f"\n{target}: {THREADS} threads x {CALLS} calls in {stress['seconds']:.1f} s "
          f"(host run {run.seconds:.1f} s)")

    def oracle(function, text):
        if function == "MBSTR2MD5":
            return md5(text.encode("cp932"))
        if function == "WCSTR2MD5":
            return md5(text.encode("utf-16-le"))
        if function == "MBSTR2MD5UTF8":
            return md5(text.encode("utf-8"))
        return md5(paths[text]) if text in paths else ("error", 42)

    results = {(e["call"], e["text_index"]): result_of(e) for e in run.of("stress_result")}
    expected = {(f, i): oracle(f, t) for f in functions for i, t in enumerate(texts)}
    assert results == expected
    assert sum(e["calls"] for e in run.of("stress_result")) == THREADS * CALLS
