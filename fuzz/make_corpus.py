#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into fuzz/corpus/<target>/.

The seeds are small on purpose: libFuzzer mutates them, and every one runs
as a regression input in the normal test suite too. Run it again after
changing it and commit the files it writes:  python3 fuzz/make_corpus.py

Files named found-<hash> are not written here: they are inputs kept from
long fuzz runs (libFuzzer's -merge=1 into the seeds) for the code they reach
that the seeds do not.
"""
import io
import os
import struct
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
DIZ = b"GREAT GAME v1.0\r\n  for DOS\r\n"


def archive(members, compression=zipfile.ZIP_STORED, force_zip64=False):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", compression) as z:
        for name, data in members:
            info = zipfile.ZipInfo(name, date_time=(1998, 9, 16, 14, 30, 0))
            info.compress_type = compression
            with z.open(info, "w", force_zip64=force_zip64) as f:
                f.write(data)
    return out.getvalue()


def patch_sizes(data, size):
    """Forges the uncompressed size in every local and central header."""
    b = bytearray(data)
    i = b.find(b"PK\x03\x04")
    while i >= 0:
        struct.pack_into("<I", b, i + 22, size)
        i = b.find(b"PK\x03\x04", i + 4)
    i = b.find(b"PK\x01\x02")
    while i >= 0:
        struct.pack_into("<I", b, i + 24, size)
        i = b.find(b"PK\x01\x02", i + 4)
    return bytes(b)


def set_encrypted_flag(data):
    b = bytearray(data)
    for sig, off in ((b"PK\x03\x04", 6), (b"PK\x01\x02", 8)):
        i = b.find(sig)
        while i >= 0:
            flags = struct.unpack_from("<H", b, i + off)[0]
            struct.pack_into("<H", b, i + off, flags | 1)
            i = b.find(sig, i + 4)
    return bytes(b)


class _Stream(io.RawIOBase):
    """An unseekable stream: zipfile then writes data descriptors."""

    def __init__(self):
        self.out = io.BytesIO()

    def writable(self):
        return True

    def write(self, b):
        return self.out.write(b)


def streamed(members):
    s = _Stream()
    with zipfile.ZipFile(s, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in members:
            z.writestr(zipfile.ZipInfo(name, date_time=(1998, 9, 16, 14, 30, 0)), data)
    return s.out.getvalue()


def unicode_path(members):
    """A member named in ASCII with an Info-ZIP Unicode path field (0x7075)."""
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as z:
        info = zipfile.ZipInfo("cafe.txt", date_time=(1998, 9, 16, 14, 30, 0))
        utf8 = "caf\u00e9.txt".encode()
        info.extra = struct.pack("<HHBI", 0x7075, 5 + len(utf8), 1, zlib.crc32(b"cafe.txt")) + utf8
        z.writestr(info, b"x")
        for name, data in members:
            z.writestr(zipfile.ZipInfo(name, date_time=(1998, 9, 16, 14, 30, 0)), data)
    return out.getvalue()


def with_comment(data, comment):
    b = bytearray(data)
    end = b.rfind(b"PK\x05\x06")
    struct.pack_into("<H", b, end + 20, len(comment))
    return bytes(b) + comment


def zip_seeds():
    plain = archive([("FILE_ID.DIZ", DIZ)])
    deflated = archive([("readme.txt", b"x" * 200), ("file_id.diz", DIZ)], zipfile.ZIP_DEFLATED)
    cd = plain.find(b"PK\x01\x02")
    return {
        "stored": plain,
        "deflated": deflated,
        "no-description": archive([("readme.txt", b"hello\r\n")]),
        "in-a-folder": archive([("docs/file_id.diz", DIZ)]),
        "empty-archive": archive([]),
        "zip64": archive([("file_id.diz", DIZ)], zipfile.ZIP_DEFLATED, force_zip64=True),
        "dot-dot-name": archive([("../file_id.diz", DIZ), ("/etc/file_id.diz", DIZ)]),
        "names-differing-in-case": archive([("FILE_ID.DIZ", b"upper\r\n"), ("file_id.diz", b"lower\r\n")]),
        "forged-size": patch_sizes(archive([("file_id.diz", b"\0" * 64)], zipfile.ZIP_DEFLATED), 100 << 20),
        "encrypted-flag": set_encrypted_flag(plain),
        "truncated-central-directory": plain[: cd + 20],
        "no-end-record": plain[: plain.find(b"PK\x05\x06")],
        # Shapes an update must keep byte for byte.
        "description-first": archive([("file_id.diz", DIZ), ("game.exe", b"\x4d\x5a" * 300),
                                      ("readme.txt", b"r" * 50)], zipfile.ZIP_DEFLATED),
        "data-descriptors": streamed([("FILE_ID.DIZ", DIZ), ("game.exe", b"game" * 100)]),
        "unicode-path": unicode_path([("FILE_ID.DIZ", DIZ)]),
        "stub-not-adjusted": b"MZ" + b"\0" * 510 + deflated,
        "comment": with_comment(deflated, b"An archive comment\r\n"),
        "bzip2": archive([("game.exe", b"g" * 500), ("file_id.diz", DIZ)], zipfile.ZIP_BZIP2),
    }


def url_seeds():
    return {
        "shortcut": b"[InternetShortcut]\r\nURL=http://example.org/files/\r\n",
        "lone-lf": b"[InternetShortcut]\nURL=ftp://example.org/\n",
        "one-line": b"[InternetShortcut]",
        "short-second-line": b"[x]\r\nURL\r\n",
        "empty": b"",
        "multi-line-description": b"\x01first LINE\r\n\r\n   second\r\nthird\r\n",
        "dos-glyphs": b"\x03\xc9\xcd\xcd\xbb GAME \xb0\xb1\xb2\r\n\xc8\xcd\xcd\xbc\r\n",
    }


def settings_seeds():
    return {
        "folder": b"/tmp\r\n",
        "root": b"/\r\n",
        "empty-line": b"\r\n",
        "several-lines": b"/tmp\r\n/usr\r\n",
        "lone-lf": b"/usr/share\n",
        "undecodable": b"/tmp/\xff\xfe\r\n",
        "missing-folder": b"/no/such/folder/here\r\n",
        "nul": b"/tmp\0/etc\r\n",
        "mixed-case": b"/TMP\r\n",
    }


def write(target, seeds):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    write("zip", zip_seeds())
    write("url", url_seeds())
    write("settings", settings_seeds())
