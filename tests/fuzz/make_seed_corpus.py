#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpus (tests/fuzz/corpus/<target>/): a few tiny,
well-formed and slightly damaged inputs per target, so that the fuzzers start
from the shapes the console meets in practice. Run it again after changing it;
the files it writes are committed."""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def put(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data.encode("latin-1") if isinstance(data, str) else data)


def chunk(tag, body):
    pad = b"\0" if len(body) % 2 else b""
    return tag + struct.pack("<I", len(body)) + body + pad


def fmt_body(code, channels, rate, bits, extra=None):
    align = channels * bits // 8
    body = struct.pack("<HHIIHH", code, channels, rate, (rate * align) & 0xFFFFFFFF, align, bits)
    if extra is not None:
        body += struct.pack("<H", len(extra)) + extra
    return body


def wave(chunks, riff_size=None, data_size=None, audio=b""):
    """A RIFF WAVE image; `data_size` overrides the data chunk's size field
    (a recording in progress leaves it 0)."""
    body = b"WAVE" + b"".join(chunks)
    size = len(audio) if data_size is None else data_size
    body += b"data" + struct.pack("<I", size) + audio
    return b"RIFF" + struct.pack("<I", len(body) if riff_size is None else riff_size) + body


pcm16 = struct.pack("<8h", 0, 1000, -1000, 32767, -32768, 5, -5, 0)
live = wave([chunk(b"fmt ", fmt_body(1, 2, 8000, 16, b""))], riff_size=38, data_size=0, audio=pcm16)
canonical44 = wave([chunk(b"fmt ", fmt_body(1, 1, 8000, 16))], audio=pcm16)
with_list = wave([chunk(b"fmt ", fmt_body(1, 1, 8000, 8)), chunk(b"LIST", b"INFOISFT\x03\0\0\0abc")],
                 data_size=0, audio=bytes(range(0, 255, 16)))
float_fact = wave([chunk(b"fmt ", fmt_body(3, 1, 1000, 32, b"")), chunk(b"fact", struct.pack("<I", 4))],
                  audio=struct.pack("<4f", 0.0, 0.5, -0.5, 1.0))
alaw = wave([chunk(b"fmt ", fmt_body(6, 1, 8000, 8, b""))], data_size=0, audio=bytes(range(0x50, 0x60)))
extensible = wave([chunk(b"fmt ", fmt_body(0xFFFE, 3, 8000, 16, struct.pack("<HI", 16, 7)
                                          + b"\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71"))],
                  audio=struct.pack("<6h", 1, 2, 3, 4, 5, 6))

for target in ("wave_header", "live_fixup"):
    put(target, "live_stale_sizes.wav", live)
    put(target, "canonical_44.wav", canonical44)
    put(target, "list_before_data.wav", with_list)
    put(target, "odd_chunk_padding.wav", wave([chunk(b"fmt ", fmt_body(1, 1, 8000, 8)), chunk(b"junk", b"xyz")],
                                              data_size=0, audio=b"\x80\x81"))
put("live_fixup", "header_only.wav", live[:46])

put("player_open", "pcm16_stereo.wav", live)
put("player_open", "pcm8_list.wav", with_list)
put("player_open", "float_fact.wav", float_fact)
put("player_open", "alaw_live.wav", alaw)
put("player_open", "extensible_3ch.wav", extensible)
# Half a billion hertz: the player once sized its buffers by it (gigabytes).
put("player_open", "huge_rate.wav", wave([chunk(b"fmt ", fmt_body(6, 165, 0x1F001F40, 8, b""))],
                                         riff_size=54, data_size=0, audio=bytes(range(0x50, 0x60))))


def cur_file(text, count=None):
    n = len(text) if count is None else count
    return (struct.pack("<H", n) + text.encode("latin-1")).ljust(128, b"\0")


put("cur_file", "live.bin", cur_file(":\\logger\\logs\\live.wav"))
put("cur_file", "other_log.bin", cur_file(":\\logger\\logs\\2024-01-01_00-00-00.wav"))
put("cur_file", "empty_record.bin", cur_file(""))
put("cur_file", "count_127.bin", cur_file("x" * 10, count=127))
put("cur_file", "cut_short.bin", struct.pack("<H", 40) + b":\\logger\\")

put("settings", "device_and_drive.ini", "0L")
put("settings", "longer.ini", "7d and more")
put("settings", "nul_drive.ini", "3\0")
put("settings", "one_byte.ini", "x")

put("registry", "regedit4.reg",
    "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shared Tools\\MSINFO]\r\n"
    "\"PATH\"=\"/usr/bin/hardinfo\"\r\n")
put("registry", "version5.reg",
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shared Tools Location]\n"
    "\"MSINFO\"=\"C:\\\\Program Files\\\\Common Files\\\\msinfo\"\n"
    "@=dword:00000102\n"
    "\"Bin\"=hex:01,02,\\\n  03\n"
    "\"Expand\"=hex(2):25,00,00,00\n"
    "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Gone]\n"
    "; comment\n")
put("registry", "utf16.reg", b"\xff\xfe" + (
    "Windows Registry Editor Version 5.00\r\n\r\n[HKLM\\SOFTWARE\\Microsoft\\Shared Tools\\MSINFO]\r\n"
    "\"PATH\"=dword:0\r\n\"PATH\"=-\r\n").encode("utf-16-le"))

put("rtf_reader", "formatted.rtf",
    "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Arial;}{\\f1\\fnil\\fcharset2 Symbol;}}"
    "{\\colortbl ;\\red255\\green0\\blue0;}\\uc1\\pard\\qc\\sb120\\b\\fs28 Tarnveil\\b0\\par"
    "\\pard\\li360\\fi-360{\\pntext\\f1\\'b7\\tab}\\cf1 Play\\cf0 , \\i Pause\\i0 , \\ul Stop\\ulnone\\line"
    "\\u8364? \\'e9\\~\\{braces\\}{\\*\\unknown skipped}{\\pict\\wmetafile8 0102}\\par}")
put("rtf_reader", "unbalanced.rtf", "{\\rtf1{{{\\b text\\par")
put("rtf_reader", "plain.txt", "Not rich text\r\nsecond line\t\x01\n")
put("rtf_reader", "unicode.rtf", "{\\rtf1\\ansicpg65001\\uc2\\u-3913??\\u20320\\'a0\\'e4\\'bd\\par}")
