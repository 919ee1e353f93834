"""Every build answers alike for the engine's own character classes: one
Unicode version (17.0) is compiled in, whatever the platform's libraries
know. The table holds code points at the edges of each class: first and last
of ranges, characters new in Unicode 15.1, 16.0 and 17.0, characters whose
properties changed in 16.0, unassigned, private-use and noncharacters.

Flags: d  \\d (Nd)              s  \\s and whitespace (White_Space)
       w  \\w (Alphabetic, M, Nd, Pc, Join_Control)
       a  Alphabetic (call names)
       e  written as \\u{...} in debug text (Grapheme_Extend or not printable)
"""

import pytest

from vintrel import Exp, VarAccess

TABLE = [
    # ASCII and Latin-1, where the fast paths answer
    (0x0001, "e"),
    (0x000B, "se"),  # VT and FF are White_Space, though not ASCII whitespace
    (0x000C, "se"),
    (0x001F, "e"),
    (0x0020, "s"),
    (0x002F, ""),
    (0x0030, "dw"),
    (0x0039, "dw"),
    (0x003A, ""),
    (0x0041, "wa"),
    (0x005A, "wa"),
    (0x005F, "w"),  # Pc
    (0x0060, ""),
    (0x007A, "wa"),
    (0x007B, ""),
    (0x007F, "e"),
    (0x0080, "e"),
    (0x0085, "se"),
    (0x009F, "e"),
    (0x00A0, "se"),
    (0x00AA, "wa"),
    (0x00AD, "e"),  # soft hyphen: Cf
    (0x00B2, ""),  # superscript two: No, not Nd
    (0x00B5, "wa"),
    (0x00D7, ""),
    (0x00F7, ""),
    (0x00FF, "wa"),
    (0x0100, "wa"),
    # marks
    (0x0300, "we"),  # Mn, Grapheme_Extend, not Alphabetic
    (0x0345, "wae"),
    (0x0363, "wae"),  # Alphabetic since 16.0
    (0x036F, "wae"),
    (0x0CC0, "wae"),  # spacing mark, Grapheme_Extend since 16.0
    (0x1171E, "wa"),  # no longer Grapheme_Extend since 16.0
    (0xE0100, "we"),
    (0xE01EF, "we"),
    (0xE0001, "e"),  # language tag: Cf
    # digits
    (0x0660, "dw"),
    (0x0669, "dw"),
    (0x06F9, "dw"),
    (0xFF10, "dw"),
    (0xFF19, "dw"),
    (0x10D40, "dw"),  # new in 16.0
    (0x10D49, "dw"),
    (0x1CCF0, "dw"),
    (0x1CCF9, "dw"),
    (0x1E5F1, "dw"),
    (0x1E5FA, "dw"),
    (0x11DE0, "dw"),  # new in 17.0
    (0x11DE9, "dw"),
    (0x1FBF0, "dw"),  # the last digits
    (0x1FBF9, "dw"),
    (0x1FBFA, ""),  # a symbol new in 17.0
    # spaces and their neighbours
    (0x1680, "se"),
    (0x180E, "e"),  # no longer White_Space
    (0x2000, "se"),
    (0x200A, "se"),
    (0x200B, "e"),
    (0x200C, "we"),  # Join_Control
    (0x200D, "we"),
    (0x2028, "se"),
    (0x2029, "se"),
    (0x202F, "se"),
    (0x205F, "se"),
    (0x3000, "se"),
    (0xFEFF, "e"),
    # connector punctuation and letter numbers
    (0x203F, "w"),
    (0xFE4F, "w"),
    (0x2160, "wa"),
    # letters: large blocks and new scripts
    (0x4E00, "wa"),
    (0x9FFF, "wa"),
    (0xAC00, "wa"),
    (0xD7A3, "wa"),
    (0x20000, "wa"),
    (0x2A6DF, "wa"),
    (0x2EBF0, "wa"),  # new in 15.1
    (0x2EE5D, "wa"),
    (0x10D50, "wa"),  # new in 16.0
    (0x11380, "wa"),
    (0x16D40, "wa"),
    (0x1E5D0, "wa"),
    (0x323B0, "wa"),  # new in 17.0
    (0x33479, "wa"),
    (0x16FF0, "wae"),
    (0x1F600, ""),  # So
    # unassigned, private use, noncharacters
    (0x0378, "e"),
    (0xD7A4, "e"),
    (0x2A6E0, "e"),
    (0x3347A, "e"),
    (0xE000, "e"),
    (0xF8FF, "e"),
    (0xFFFE, "e"),
    (0xFFFF, "e"),
    (0xF0000, "e"),
    (0x10FFFD, "e"),
    (0x10FFFF, "e"),
]

CASES = pytest.mark.parametrize("cp, flags", TABLE, ids=[f"U+{cp:04X}" for cp, _ in TABLE])
MATCHES = Exp("matches(t, p)")


@CASES
@pytest.mark.parametrize("letter", "dsw")
def test_class_escapes(cp, flags, letter):
    t = chr(cp)
    inside = letter in flags
    assert MATCHES.eval({"t": t, "p": f"^\\{letter}$"}) is inside
    assert MATCHES.eval({"t": t, "p": f"^\\{letter.upper()}$"}) is not inside
    assert MATCHES.eval({"t": t, "p": f"^[\\{letter}]$"}) is inside
    assert MATCHES.eval({"t": t, "p": f"^[^\\{letter}]$"}) is not inside


@CASES
def test_trailing_whitespace_after_an_expression(cp, flags):
    text = "(1)" + chr(cp)
    if "s" in flags:
        assert Exp(text) == Exp("(1)")
    else:
        with pytest.raises(ValueError, match="Eof"):
            Exp(text)


@CASES
def test_call_names_start_with_an_alphabetic_character(cp, flags):
    text = chr(cp) + "()"
    if "a" in flags:
        with pytest.raises(NameError, match="Undefined function"):
            Exp(text).eval({})
    else:
        with pytest.raises(ValueError):
            Exp(text)


@CASES
def test_debug_text_escapes(cp, flags):
    with pytest.raises(NameError) as info:
        VarAccess("x[0]").access({"x": chr(cp)})
    shown = f"\\u{{{cp:x}}}" if "e" in flags else chr(cp)
    assert info.value.args[0].endswith(f'found String("{shown}")')


FORMAT = Exp("format(t, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9)")


@CASES
def test_format_placeholder_digits(cp, flags):
    t = "{" + chr(cp) + "}"
    if "d" not in flags:
        assert FORMAT.eval({"t": t}) == t
    elif cp < 0x80:
        assert FORMAT.eval({"t": t}) == chr(cp)
    else:
        # a placeholder, but its index must be ASCII digits
        with pytest.raises(ValueError, match="invalid digit"):
            FORMAT.eval({"t": t})
