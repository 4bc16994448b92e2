"""Opening, describing and closing the add-in, on a version 16 host in a
Japanese locale and on a version 11 host in a Western one."""
import pytest

from conftest import JAPANESE, WESTERN, arg_value, result_of

TEXT_HELP = "MD5ハッシュ化したい文字列・数値・セルを指定します。指定が無い場合は長さゼロの文字列として処理します。 "
FILE_HELP = "MD5ハッシュ化したいファイルをフルパス指定します。指定したファイルを開けないときはエラーになります。必須です。 "

# Worksheet name, procedure stem, argument text, function help, argument help.
FUNCTIONS = [
    ("MBSTR2MD5", "md5_from_mb_string", "文字列",
     "指定した文字列をMultiByte文字列にしてMD5ハッシュ値を計算し、文字列として返します。", TEXT_HELP),
    ("WCSTR2MD5", "md5_from_wc_string", "文字列",
     "指定した文字列をWideChar(UTF-16LE)文字列にしてMD5ハッシュ値を計算し、文字列として返します。", TEXT_HELP),
    ("MBSTR2MD5UTF8", "md5_from_utf8_string", "文字列",
     "指定した文字列をUTF-8文字列にしてMD5ハッシュ値を計算し、文字列として返します。", TEXT_HELP),
    ("FILE2MD5", "md5_from_file", "ファイル名",
     "指定したファイル内容のMD5ハッシュ値を文字列として返します。", FILE_HELP),
]
NAMES = [f[0] for f in FUNCTIONS]
TITLE = "拡張関数(Kestrova.xll)"

# Add-in Manager actions: (value, form) -> whether it coerces to the integer 1.
MANAGER_ACTIONS = [
    (1, "int", True), (2, "int", False), (0, "int", False), (1, "num", True),
    (1, "str", True), (2, "str", False), (1, "bool", True), (0, "missing", False),
]


def expected_registrations(module, suffix, type_text):
    return [[module, stem + suffix, type_text, name, arg_text, 1, "DIGEST", None, None, help_text, arg_help]
            for name, stem, arg_text, help_text, arg_help in FUNCTIONS]


def manager_script(gens):
    return [{"manager": v, "as": form, "gen": gen, "tag": f"{gen}/{form}/{v}"}
            for gen in gens for v, form, _ in MANAGER_ACTIONS]


def check_manager(run, gens, title_of):
    answers = {e["tag"]: (e["gen"], e["xltype"], result_of(e)) for e in run.of("manager")}
    expected = {}
    for gen in gens:
        for v, form, is_one in MANAGER_ACTIONS:
            # Marked xlbitDLLFree (0x4000) on a string (2) or an error (16).
            expected[f"{gen}/{form}/{v}"] = ((gen, 0x4002, title_of(gen)) if is_one
                                             else (gen, 0x4010, ("error", 15)))
    assert answers == expected
    # Each answer went through the host's xlCoerce, in the generation asked.
    coerce_gens = [c["gen"] for c in run.of("callback") if c["name"] == "xlCoerce"]
    assert coerce_gens == [gen for gen in gens for _ in MANAGER_ACTIONS]


def test_version16_japanese_open_describe_close(target, tmp_path):
    run = target.run(manager_script([12, 4]) + [{"encode_acp": TITLE}], tmp_path, version="16.0", locale=JAPANESE)
    run.assert_clean()
    assert run.of("host")[0]["acp"] == 932
    assert run.of("auto_open") == [{"event": "auto_open", "ret": 1}]

    # The version is asked first, through the XLOPER callback, and its
    # answer given back; then everything goes through MdCallBack12.
    callbacks = [(c["gen"], c["name"]) for c in run.of("callback")]
    assert callbacks[:2] == [(4, "xlfGetWorkspace"), (4, "xlFree")]
    assert (12, "xlfRegister") in callbacks and (4, "xlfRegister") not in callbacks

    module = run.of("load")[0]["module"]
    registrations = run.of("register")
    assert [(r["gen"], r["count"], r["module_ok"], r["resolved"]) for r in registrations] == [(12, 11, True, True)] * 4
    assert [[arg_value(a) for a in r["args"]] for r in registrations] == expected_registrations(module, "12", "UC%$")
    assert [r["args"][5] for r in registrations] == [{"int": 1}] * 4

    acp_title = bytes.fromhex(run.of("acp")[0]["bytes"])
    assert acp_title == TITLE.encode("cp932")  # every character of the title is in cp932
    check_manager(run, [12, 4], lambda gen: TITLE)
    narrow = [e for e in run.of("manager") if e["gen"] == 4 and e["xltype"] == 0x4002]
    assert {bytes.fromhex(e["result"]["bytes"]) for e in narrow} == {acp_title}

    assert [(e["gen"], e["count"], e["name"]) for e in run.of("set_name")] == [(12, 1, n) for n in NAMES]
    assert run.of("auto_close") == [{"event": "auto_close", "ret": 1}]
    assert run.summary["removed"] == NAMES and run.summary["registered"] == []
    assert run.summary["registrations"] == 4


def test_version11_western_registers_narrow_procedures(target, tmp_path):
    texts = [t for f in FUNCTIONS for t in f[2:]] + [TITLE]
    run = target.run(manager_script([4]) + [{"encode_acp": t} for t in texts], tmp_path,
                     version="11.0", locale=WESTERN)
    run.assert_clean()
    assert run.of("host")[0]["acp"] == 1252
    # Every callback of a version 11 host goes through XLCall32.dll.
    assert {c["gen"] for c in run.of("callback")} == {4}

    module = run.of("load")[0]["module"]
    registrations = run.of("register")
    assert [(r["gen"], r["count"], r["resolved"]) for r in registrations] == [(4, 11, True)] * 4
    # The texts arrive as the system's ANSI bytes, byte-counted: what Windows
    # makes of them in code page 1252 (the Japanese letters are lost).
    acp = {e["text"]: bytes.fromhex(e["bytes"]) for e in run.of("acp")}
    expected = expected_registrations(module.encode("cp1252").decode("cp1252"), "4", "RC")
    for got, want in zip(registrations, expected):
        assert [arg_value(a) for a in got["args"]][:4] == want[:4]
        assert got["args"][5] == {"int": 1}
        assert got["args"][6]["bytes"] == b"DIGEST".hex()
        assert got["args"][7:9] == [None, None]
        for position in (4, 9, 10):
            assert bytes.fromhex(got["args"][position]["bytes"]) == acp[want[position]], position
    assert acp["文字列"] == b"???"  # no Japanese in 1252: Wine gives its default character

    check_manager(run, [4], lambda gen: acp[TITLE].decode("cp1252"))
    assert acp[TITLE] == b"????(Kestrova.xll)"
    assert [(e["gen"], e["name"]) for e in run.of("set_name")] == [(4, n) for n in NAMES]
    assert run.summary["removed"] == NAMES


def test_without_xlcall32_opens_without_registering(target, tmp_path):
    """A host process that has no XLCall32.dll: the add-in still loads, opens
    and closes, and registers nothing."""
    alone = tmp_path / "alone"
    alone.mkdir()
    host = alone / "xllhost.exe"
    host.write_bytes(target.host.read_bytes())
    run = target.run([{"call": n, "text": "abc"} for n in NAMES] + [{"manager": 1}], tmp_path,
                     host=host, cwd=alone)
    assert not run.of("crash"), run.describe()
    assert run.of("load")[0]["ok"] is True
    assert run.of("auto_open") == [{"event": "auto_open", "ret": 1}]
    assert run.of("register") == []
    assert [c.get("registered") for c in run.of("call")] == [False] * 4
    assert run.of("auto_close") == [{"event": "auto_close", "ret": 1}]
    assert run.summary["registrations"] == 0 and run.summary["xlcall_loaded"] is False
    run.assert_clean()
