"""The three text functions on tables of texts, against hashlib over the bytes
each encoding gives."""
from conftest import JAPANESE, WESTERN, md5, result_of, utf16_hex

TEXT_FUNCTIONS = ["MBSTR2MD5", "WCSTR2MD5", "MBSTR2MD5UTF8"]
EMPTY = "d41d8cd98f00b204e9800998ecf8427e"

# Texts given to a version 16 host in a Japanese locale, with the bytes the
# system's code page 932 makes of each. None means: what Python's cp932 codec
# makes of it (every character is in the code page). Where Wine substitutes
# characters cp932 lacks, the system's bytes are pinned here, because they
# differ from Python's errors="replace": Wine maps some characters to a
# look-alike ("best fit") instead of "?", and gives one "?" per UTF-16 unit of
# a character outside the BMP.
CP932_TEXTS = {
    "ascii": ("abc", None),
    "ascii-sentence": ("The quick brown fox jumps over the lazy dog", None),
    "japanese": ("日本語のテキスト、カタカナ・ひらがな。", None),
    "halfwidth-katakana": ("ｶﾀｶﾅ", None),
    "nec-extension": ("①②㈱", None),
    "best-fit-e-acute": ("café", b"cafe"),
    "best-fit-yen": ("¥100", b"\\100"),
    "no-minus-sign": ("a−b", b"a?b"),
    "no-euro": ("€", b"?"),
    "surrogate-pair": ("𠮷野家", b"??" + "野家".encode("cp932")),
    "emoji": ("\U0001F600", b"??"),
    "empty": ("", b""),
    "longest": ("日本" * 16383 + "x", None),  # 32767 UTF-16 units, the host's limit
}

# Texts given to a version 11 host in a Western locale, which hands its
# procedures ANSI bytes in code page 1252: the text, and the bytes expected on
# the way in (None: Python's cp1252 codec agrees with the system).
CP1252_TEXTS = {
    "ascii": ("abc", None),
    "latin": ("café crème", None),
    "euro": ("€uro", None),
    "best-fit-a-macron": ("Ā", b"A"),
    "japanese": ("日本", b"??"),
    "empty": ("", b""),
    "longest": ("x" * 254 + "é", None),  # 255 bytes, what a narrow host string holds
}


def expected_digests(text, ansi_bytes):
    return {
        "MBSTR2MD5": md5(ansi_bytes),
        "WCSTR2MD5": md5(text.encode("utf-16-le", "surrogatepass")),
        "MBSTR2MD5UTF8": md5(text.encode("utf-8")),
    }


def test_text_functions_on_version16_japanese(target, tmp_path):
    script = [{"encode_acp": text, "tag": key} for key, (text, _) in CP932_TEXTS.items()]
    script += [{"call": f, "text_hex_utf16le": utf16_hex(text), "tag": key}
               for key, (text, _) in CP932_TEXTS.items() for f in TEXT_FUNCTIONS]
    script += [{"call": f, "null": True, "tag": "null"} for f in TEXT_FUNCTIONS]
    run = target.run(script, tmp_path, version="16.0", locale=JAPANESE)
    run.assert_clean()

    system_bytes = {e["tag"]: bytes.fromhex(e["bytes"]) for e in run.of("acp")}
    pinned = {key: (text.encode("cp932") if b is None else b) for key, (text, b) in CP932_TEXTS.items()}
    assert system_bytes == pinned

    got = {(e["tag"], e["call"]): (e["xltype"], result_of(e)) for e in run.of("call")}
    expected = {}
    for key, (text, _) in CP932_TEXTS.items():
        for f, digest in expected_digests(text, pinned[key]).items():
            expected[(key, f)] = (0x4002, digest)
    for f in TEXT_FUNCTIONS:
        expected[("null", f)] = (0x4002, EMPTY)  # no argument hashes like the empty text
    assert got == expected
    assert {e["type"] for e in run.of("call")} == {"UC%$"}
    assert run.summary["auto_free12"] == len(expected)


def test_lone_surrogate_is_hashed_as_given_or_replaced(target, tmp_path):
    """Ill-formed UTF-16: WCSTR2MD5 hashes the units as they are; the UTF-8 and
    ANSI conversions replace the lone unit (Windows gives U+FFFD in UTF-8 and
    its default character in cp932)."""
    units = "a\ud800b"
    run = target.run([{"call": f, "text_hex_utf16le": utf16_hex(units)} for f in TEXT_FUNCTIONS],
                     tmp_path, version="16.0", locale=JAPANESE)
    run.assert_clean()
    assert [result_of(e) for e in run.of("call")] == [
        md5(b"a?b"), md5(units.encode("utf-16-le", "surrogatepass")), md5(b"a\xef\xbf\xbdb")]


def test_text_functions_on_version11_western(target, tmp_path):
    script = [{"call": f, "text": text, "tag": key} for key, (text, _) in CP1252_TEXTS.items() for f in TEXT_FUNCTIONS]
    # Raw bytes as a narrow argument, past any conversion of the host's.
    raw = bytes(range(0x20, 0x7F)) + bytes([0xE9, 0xFC, 0xDF])
    script += [{"call": f, "bytes_hex": raw.hex(), "tag": "raw"} for f in TEXT_FUNCTIONS]
    script += [{"call": f, "null": True, "tag": "null"} for f in TEXT_FUNCTIONS]
    run = target.run(script, tmp_path, version="11.0", locale=WESTERN)
    run.assert_clean()

    calls = run.of("call")
    assert {e["type"] for e in calls} == {"RC"}
    assert {e["proc"] for e in calls} == {"md5_from_mb_string4", "md5_from_wc_string4", "md5_from_utf8_string4"}
    passed = {(e["tag"], e["call"]): bytes.fromhex(e["arg_bytes"]) for e in calls if "arg_bytes" in e}
    got = {(e["tag"], e["call"]): (e["xltype"], result_of(e)) for e in calls}

    expected, expected_passed = {}, {}
    cases = {key: (text, text.encode("cp1252") if b is None else b) for key, (text, b) in CP1252_TEXTS.items()}
    cases["raw"] = (raw.decode("cp1252"), raw)
    for key, (_, ansi) in cases.items():
        # The procedure sees only the bytes: its wide and UTF-8 forms are those
        # bytes read in the ANSI code page.
        for f, digest in expected_digests(ansi.decode("cp1252"), ansi).items():
            expected[(key, f)] = (0x4002, digest)
            expected_passed[(key, f)] = ansi
    for f in TEXT_FUNCTIONS:
        expected[("null", f)] = (0x4002, EMPTY)
    assert passed == expected_passed
    assert got == expected
    assert run.summary["auto_free"] == len(expected)


def test_ascii_text_agrees_across_functions_and_generations(target, tmp_path):
    text = "Kestrova 0.8.1"
    narrow = target.run([{"call": f, "text": text} for f in TEXT_FUNCTIONS], tmp_path, version="11.0", locale=WESTERN)
    wide = target.run([{"call": f, "text": text} for f in TEXT_FUNCTIONS], tmp_path, version="16.0", locale=JAPANESE)
    narrow.assert_clean()
    wide.assert_clean()
    by_narrow = [result_of(e) for e in narrow.of("call")]
    by_wide = [result_of(e) for e in wide.of("call")]
    assert by_narrow == by_wide
    assert by_wide[0] == by_wide[2] == md5(text.encode()) != by_wide[1]
