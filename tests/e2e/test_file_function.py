"""FILE2MD5 on files of sizes around its 2048-byte reads, a large file, a
Japanese file name, and paths that cannot be opened (#N/A)."""
import hashlib

from conftest import JAPANESE, WESTERN, md5, result_of, winpath

NOT_AVAILABLE = ("error", 42)
SIZES = [0, 1, 2047, 2048, 2049, 4096, 100_000]
BIG = 64 * 1024 * 1024


def pattern(size):
    """Bytes that differ from block to block, so a lost or repeated read shows."""
    block = bytes(range(256)) * 8
    out = bytearray()
    i = 0
    while len(out) < size:
        out += hashlib.sha256(i.to_bytes(4, "little")).digest() + block[:224]
        i += 1
    return bytes(out[:size])


def test_file_digests_on_version16(target, tmp_path):
    files = tmp_path / "files"
    files.mkdir()
    expected = {}
    for size in SIZES:
        data = pattern(size)
        (files / f"{size}.bin").write_bytes(data)
        expected[f"{size}.bin"] = md5(data)
    japanese = files / "ハッシュ対象ファイル.dat"
    japanese.write_bytes("日本語のファイル名".encode("utf-8"))
    expected[japanese.name] = md5(japanese.read_bytes())
    big = files / "big.bin"
    chunk = pattern(1 << 20)
    digest = hashlib.md5()
    with open(big, "wb") as f:
        for i in range(BIG >> 20):
            piece = bytes([i]) + chunk[1:]
            f.write(piece)
            digest.update(piece)
    expected["big.bin"] = digest.hexdigest()

    unopenable = {
        "missing": winpath(files / "no such file.bin"),
        "directory": winpath(files),
        "empty path": "",
        "missing drive": "Q:\\nothing\\here.bin",
    }
    script = [{"call": "FILE2MD5", "text": winpath(files / name), "tag": name} for name in expected]
    script += [{"call": "FILE2MD5", "text": path, "tag": name} for name, path in unopenable.items()]
    script += [{"call": "FILE2MD5", "null": True, "tag": "null"}]
    run = target.run(script, tmp_path, version="16.0", locale=JAPANESE)
    run.assert_clean()

    got = {e["tag"]: (e["xltype"], result_of(e)) for e in run.of("call")}
    want = {name: (0x4002, digest) for name, digest in expected.items()}
    want.update({name: (0x4010, NOT_AVAILABLE) for name in list(unopenable) + ["null"]})
    assert got == want


def test_file_digests_on_version11_narrow_paths(target, tmp_path):
    """A version 11 host passes the path as ANSI bytes (code page 1252)."""
    files = tmp_path / "café"
    files.mkdir()
    data = pattern(2049)
    (files / "données.bin").write_bytes(data)
    (files / "empty.bin").write_bytes(b"")
    script = [
        {"call": "FILE2MD5", "text": winpath(files / "données.bin"), "tag": "latin name"},
        {"call": "FILE2MD5", "text": winpath(files / "empty.bin"), "tag": "empty file"},
        {"call": "FILE2MD5", "text": winpath(files / "missing.bin"), "tag": "missing"},
        {"call": "FILE2MD5", "text": "", "tag": "empty path"},
    ]
    run = target.run(script, tmp_path, version="11.0", locale=WESTERN)
    run.assert_clean()
    got = {e["tag"]: (e["type"], e["xltype"], result_of(e)) for e in run.of("call")}
    assert got == {
        "latin name": ("RC", 0x4002, md5(data)),
        "empty file": ("RC", 0x4002, md5(b"")),
        "missing": ("RC", 0x4010, NOT_AVAILABLE),
        "empty path": ("RC", 0x4010, NOT_AVAILABLE),
    }
