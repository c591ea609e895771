#!/usr/bin/env python3
"""Writes a Tahoma Bold with Cyrillic letters for a Wine prefix.

Wine's own Tahoma Bold (tahomabd.ttf) has almost no Cyrillic letters, so Windows programs under
Wine draw bold Russian text with stand-in glyphs. This makes a font of the family "Tahoma",
style "Bold", from Wine's regular Tahoma (which has them), with a version above Wine's so that
Wine prefers it: the letters keep Tahoma's shapes and widths, drawn in the regular weight.

Usage: wine-fonts.py <wine's tahoma.ttf> <output tahomabd.ttf>
"""
import sys

from fontTools.ttLib import TTFont


def main(src, dst):
    font = TTFont(src)
    # Outlines only: the embedded bitmap strikes are the regular weight's, for Latin letters.
    for table in ("EBDT", "EBLC", "EBSC", "BDF ", "VDMX"):
        if table in font:
            del font[table]
    font["head"].fontRevision = 99.0
    font["head"].macStyle |= 0x01  # bold
    os2 = font["OS/2"]
    os2.usWeightClass = 700
    os2.fsSelection = (os2.fsSelection | 0x20) & ~0x41  # bold, not regular or italic
    names = {
        1: "Tahoma",
        2: "Bold",
        3: "Tahoma Bold (Cyrillic) 99.00",
        4: "Tahoma Bold",
        5: "Version 99.00",
        6: "Tahoma-Bold",
    }
    name = font["name"]
    for record in list(name.names):
        if record.nameID in names:
            name.removeNames(nameID=record.nameID)
    for name_id, text in names.items():
        name.setName(text, name_id, 3, 1, 0x409)
        name.setName(text, name_id, 1, 0, 0)
    font.save(dst)


if __name__ == "__main__":
    main(*sys.argv[1:3])
