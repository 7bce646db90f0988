"""Inputs for every input mode of rook, for the checks of its timeline
outputs (check_timesketch.py, check_html.py): a shortcut file, the corpus
as a -pipe list, a jump list, the committed NTFS fixture volume scanned
through its MFT and carved raw, and a corpus volume with shadow copies and a
shortcut planted after they were taken. Modes whose tools or files are
missing are left out, with a note.
"""
import os
import shutil
import struct
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
CORPUS = os.path.join(ROOT, "..", "shared", "corpus")
SAMPLE = os.path.join(ROOT, "tests", "data", "sample.lnk")
JUMP_LIST = os.path.join("jumplist_parser", "win11", "AutomaticDestinations", "5f7b5f1e01b83767.automaticDestinations-ms")
FILETIME_1970 = 116444736000000000


class Mode:
    def __init__(self, name, args, stdin=b""):
        self.name, self.args, self.stdin = name, args, stdin


def corpus_files():
    files = []
    for folder in ("lnk", "jumplists"):
        for top, _, names in os.walk(os.path.join(CORPUS, folder)):
            files += [os.path.join(top, n) for n in sorted(names)]
    return sorted(files)


def shortcut_bytes(name="", relative_path="", arguments="", times=(0, 0, 0)):
    """A shortcut holding only its header and Unicode StringData texts."""
    flags = 0x80  # IsUnicode
    strings = b""
    for bit, text in ((0x04, name), (0x08, relative_path), (0x20, arguments)):
        if text:
            flags |= bit
            encoded = text.encode("utf-16-le")
            strings += struct.pack("<H", len(encoded) // 2) + encoded
    clsid = bytes.fromhex("0114020000000000c000000000000046")
    created, accessed, modified = times
    header = struct.pack("<I16sIIQQQIiIHHII", 0x4C, clsid, flags, 0x20, created, accessed, modified, 0, 0, 1, 0, 0,
                         0, 0)
    return header + strings + b"\0\0\0\0"


def filetime(unix_seconds):
    return FILETIME_1970 + unix_seconds * 10000000


def unpack_fixture(scratch):
    archive = os.path.join(ROOT, "tests", "data", "ntfs_fixtures.tar.xz")
    image = os.path.join(scratch, "ntfs_small.img")
    if not os.path.exists(image):
        subprocess.run(["tar", "-xJf", archive, "-C", scratch, "ntfs_small.img"], check=True)
    return image


def shadow_copy_image(scratch):
    """vsstest with a shortcut written after its copies were taken; None when
    qemu-img, ntfscp or the corpus image is missing."""
    qcow = os.path.join(CORPUS, "images", "vsstest.qcow2")
    if not (os.path.exists(qcow) and shutil.which("qemu-img") and shutil.which("ntfscp")):
        return None
    image = os.path.join(scratch, "vsstest.raw")
    subprocess.run(["qemu-img", "convert", "-O", "raw", qcow, image], check=True)
    subprocess.run(["ntfscp", "-q", image, SAMPLE, "/planted.lnk"], check=True, capture_output=True)
    return image


def modes(scratch, notes):
    """The runs to check, each a Mode; notes collects what was left out."""
    found = [Mode("file", [SAMPLE])]
    if os.path.isdir(CORPUS):
        found.append(Mode("pipe", ["-pipe"], "\n".join(corpus_files()).encode() + b"\n"))
        found.append(Mode("jump list", [os.path.join(CORPUS, "jumplists", JUMP_LIST)]))
    else:
        notes.append("corpus absent: -pipe and jump-list runs left out")
    if shutil.which("tar") and shutil.which("xz"):
        image = unpack_fixture(scratch)
        found.append(Mode("ntfs_scan", [image, "-ntfs_scan", "-include_unalloc_clusters"]))
        found.append(Mode("rawscan", [image, "-rawscan"]))
    else:
        notes.append("tar or xz missing: volume runs left out")
    try:
        shadow = shadow_copy_image(scratch)
    except subprocess.CalledProcessError as error:
        shadow = None
        notes.append("shadow-copy image not made: %s" % error)
    if shadow:
        found.append(Mode("vss", [shadow, "-vss", "all"]))
    else:
        notes.append("qemu-img, ntfscp or vsstest.qcow2 missing: shadow-copy run left out")
    return found


def run_rook(rook, args, stdin=b"", cwd=None):
    done = subprocess.run([rook] + args + ["-quiet"], input=stdin, capture_output=True, timeout=900, cwd=cwd)
    return done.returncode, done.stdout, done.stderr
