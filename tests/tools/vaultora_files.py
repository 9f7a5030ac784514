#!/usr/bin/env python3
"""Encoder and decoder for Vaultora's binary settings files, written from the file format
description alone (it shares no code with the program), so tests can build files the program
must read and check files the program wrote.

Primitive encoding: little-endian Int32/Int64, Booleans as one byte, date-times as doubles,
texts as an Int32 count of UTF-16 units followed by UTF-16LE, string lists as a count of texts.
Envelope: the stream cipher (key constant 5C 2E 91 F4 47 9B), then every byte inverted.

Usage:
  vaultora_files.py decode-job FILE [--remote]     print the fields of a job file as JSON
  vaultora_files.py decode-text FILE               print the text of a single-text file as JSON
"""
import json
import struct
import sys

MULTIPLIER, INCREMENT, START_KEY = 0x2E5C, 0xF491, 0x9B47


def _advance(key, plain):
    return (((plain + (key & 0xFF)) & 0xFF) * MULTIPLIER + INCREMENT) & 0xFFFF


def encipher(data: bytes) -> bytes:
    key, out = START_KEY, bytearray(len(data))
    for i, p in enumerate(data):
        out[i] = p ^ (key >> 8)
        key = _advance(key, p)
    return bytes(out)


def decipher(data: bytes) -> bytes:
    key, out = START_KEY, bytearray(len(data))
    for i, c in enumerate(data):
        p = c ^ (key >> 8)
        out[i] = p
        key = _advance(key, p)
    return bytes(out)


def seal(plain: bytes) -> bytes:
    return bytes(b ^ 0xFF for b in encipher(plain))


def unseal(sealed: bytes) -> bytes:
    return decipher(bytes(b ^ 0xFF for b in sealed))


class Writer:
    def __init__(self):
        self.buf = bytearray()

    def i32(self, v):
        self.buf += struct.pack("<i", v)

    def i64(self, v):
        self.buf += struct.pack("<q", v)

    def byte(self, v):
        self.buf += struct.pack("<B", v)

    def boolean(self, v):
        self.byte(1 if v else 0)

    def double(self, v):
        self.buf += struct.pack("<d", v)

    def text(self, s):
        units = s.encode("utf-16-le")
        self.i32(len(units) // 2)
        self.buf += units

    def strings(self, items):
        self.i32(len(items))
        for s in items:
            self.text(s)


class Reader:
    def __init__(self, data):
        self.data, self.pos = data, 0

    def take(self, n):
        if n < 0 or self.pos + n > len(self.data):
            raise ValueError("unexpected end of data")
        chunk = self.data[self.pos:self.pos + n]
        self.pos += n
        return chunk

    def i32(self):
        return struct.unpack("<i", self.take(4))[0]

    def i64(self):
        return struct.unpack("<q", self.take(8))[0]

    def byte(self):
        return self.take(1)[0]

    def boolean(self):
        return self.byte() != 0

    def double(self):
        return struct.unpack("<d", self.take(8))[0]

    def text(self):
        n = self.i32()
        return self.take(2 * n).decode("utf-16-le")

    def strings(self):
        return [self.text() for _ in range(self.i32())]


# ---- Blocks ----

def write_result(w, r, version):
    w.double(r["StartTime"])
    w.double(r["EndTime"])
    w.boolean(r["Cancelled"])
    if version >= 3:
        w.i32(r["ErrorsCount"])
        w.i32(r["WarningsCount"])
    else:
        w.byte(r["ErrorsCount"])
        w.byte(r["WarningsCount"])
    w.strings(r["LogList"])
    w.strings(r["BackupHistory"])


def read_result(rd):
    r = {"StartTime": rd.double(), "EndTime": rd.double(), "Cancelled": rd.boolean(),
         "ErrorsCount": rd.i32(), "WarningsCount": rd.i32()}
    r["LogList"] = rd.strings()
    r["BackupHistory"] = rd.strings()
    return r


def write_destination(w, d):
    w.i32(d["DestinationType"])
    w.text(d["LocalOrExternalDrive"]["Disk"])
    w.text(d["LocalOrExternalDrive"]["Subfolder"])
    w.text(d["Network"]["Username"])
    w.text(d["Network"]["Password"])
    w.text(d["Network"]["UNCPath"])
    w.i32(d["FTP"]["AccountID"])
    w.text(d["FTP"]["Subfolder"])
    w.text(d["Cloud"]["ServiceName"])
    w.text(d["Cloud"]["Subfolder"])


def read_destination(rd):
    return {
        "DestinationType": rd.i32(),
        "LocalOrExternalDrive": {"Disk": rd.text(), "Subfolder": rd.text()},
        "Network": {"Username": rd.text(), "Password": rd.text(), "UNCPath": rd.text()},
        "FTP": {"AccountID": rd.i32(), "Subfolder": rd.text()},
        "Cloud": {"ServiceName": rd.text(), "Subfolder": rd.text()},
    }


def write_scheduling(w, s):
    w.i32(s["SchedulingType"])
    assert len(s["DaysOfWeek"]) == 7 and len(s["DaysOfMonth"]) == 31
    for d in s["DaysOfWeek"]:
        w.boolean(d)
    for d in s["DaysOfMonth"]:
        w.boolean(d)
    w.strings(s["TimeTable"])
    w.double(s["LastModificationDateTime"])
    w.boolean(s["RunJobAsSoonAsPossibleAfterAScheduledStartIsMissed"])
    w.boolean(s["ShutdownPCInTheEnd"])


def read_scheduling(rd):
    s = {"SchedulingType": rd.i32()}
    s["DaysOfWeek"] = [rd.boolean() for _ in range(7)]
    s["DaysOfMonth"] = [rd.boolean() for _ in range(31)]
    s["TimeTable"] = rd.strings()
    s["LastModificationDateTime"] = rd.double()
    s["RunJobAsSoonAsPossibleAfterAScheduledStartIsMissed"] = rd.boolean()
    s["ShutdownPCInTheEnd"] = rd.boolean()
    return s


# ---- Files-and-folders settings ----

def write_files_settings(w, job, version):
    st = job["Settings"]
    src = st["Sources"]
    w.strings(src["List"])
    if version <= 2:
        w.boolean(src["FilterType"] == 1)
    else:
        w.byte(src["FilterType"])
    w.text(src["Extensions"])
    if version == 1:  # a list, a Boolean and a text that readers skip
        w.strings(["ignored one", "ignored two"])
        w.boolean(True)
        w.text("ignored")
    write_destination(w, job["DestinationSettings"])
    b = st["Backup"]
    for field in ("BackupType", "PerformFullBackup_Condition", "PerformFullBackup_EveryCopies",
                  "PerformFullBackup_SumExceedsPercentOfFullBackup", "NumberFullCopiesToKeep"):
        w.i32(b[field])
    if version >= 5:
        w.boolean(b["RemoveOldBackupsBeforeStartingNewBackup"])
    c = st["Compression"]
    w.boolean(c["Enabled"])
    w.boolean(c["ProtectWithPassword"])
    w.text(c["Password"])
    w.i32(c["EncryptionMethod"])
    w.i32(c["CompressionLevel"])
    w.text(c["NoCompressionExtensions"])
    w.boolean(c["CreateIndividualZipForEachItem"])
    write_scheduling(w, job["SchedulingSettings"])


def read_files_settings(rd):
    src = {"List": rd.strings(), "FilterType": rd.byte(), "Extensions": rd.text()}
    dest = read_destination(rd)
    b = {}
    for field in ("BackupType", "PerformFullBackup_Condition", "PerformFullBackup_EveryCopies",
                  "PerformFullBackup_SumExceedsPercentOfFullBackup", "NumberFullCopiesToKeep"):
        b[field] = rd.i32()
    b["RemoveOldBackupsBeforeStartingNewBackup"] = rd.boolean()
    c = {"Enabled": rd.boolean(), "ProtectWithPassword": rd.boolean(), "Password": rd.text(),
         "EncryptionMethod": rd.i32(), "CompressionLevel": rd.i32(), "NoCompressionExtensions": rd.text(),
         "CreateIndividualZipForEachItem": rd.boolean()}
    sched = read_scheduling(rd)
    return {"Sources": src, "Backup": b, "Compression": c}, dest, sched


# ---- Whole files ----

def encode_job(job, version, remote=False, lists=None, apps=None):
    """job: the JSON shape of "vaultora-cli show --json" with real passwords instead of *IsSet."""
    kind = job["Kind"]
    w = Writer()
    w.i32(version)
    if version >= 4:
        w.i32(kind)
    if kind == 1:
        if remote:
            lists = lists or {}
            for name in ("MainBackupList", "PreviousLocalFilesList", "PreviousLocalFilesTimeList",
                         "PreviousLocalDirsList"):
                w.strings(lists.get(name, []))
            w.i64(lists.get("SizeOfLastFullBackup", 0))
            w.i64(lists.get("SizeOfAllIncrementsOrLastDifferentialCopy", 0))
        else:
            write_result(w, job["LastJobResult"] | {"LogList": job["LogList"], "BackupHistory": job["BackupHistory"]},
                         version)
        write_files_settings(w, job, version)
    elif kind == 2:
        if not remote:
            write_result(w, job["LastJobResult"] | {"LogList": job["LogList"], "BackupHistory": job["BackupHistory"]},
                         version)
        st = job["Settings"]
        w.strings(st["SourceDrivesList"])
        w.boolean(st["AutocleanOldBackups"])
        w.text(st["NumberOfBackupVersionsToKeep"])
        write_destination(w, job["DestinationSettings"])
        write_scheduling(w, job["SchedulingSettings"])
    elif kind == 3:
        if remote:
            w.i32(1)
            apps = apps or []
            w.i32(len(apps))
            for a in apps:
                w.text(a["Name"])
                w.text(a["Category"])
                w.strings(a["Folders"])
                w.strings(a["RegistryPaths"])
        else:
            write_result(w, job["LastJobResult"] | {"LogList": job["LogList"], "BackupHistory": job["BackupHistory"]},
                         version)
        w.strings(job["Settings"]["AppNames"])
        write_destination(w, job["DestinationSettings"])
        write_scheduling(w, job["SchedulingSettings"])
    return seal(bytes(w.buf))


def decode_job(sealed, remote=False):
    """Decodes a job file as the current versions lay it out (5 for kind 1, 4 for kinds 2 and 3)."""
    rd = Reader(unseal(sealed))
    out = {"Version": rd.i32()}
    out["Kind"] = rd.i32() if out["Version"] >= 4 else 1
    kind = out["Kind"]
    if kind == 1:
        if remote:
            for name in ("MainBackupList", "PreviousLocalFilesList", "PreviousLocalFilesTimeList",
                         "PreviousLocalDirsList"):
                out[name] = rd.strings()
            out["SizeOfLastFullBackup"] = rd.i64()
            out["SizeOfAllIncrementsOrLastDifferentialCopy"] = rd.i64()
        else:
            out["Result"] = read_result(rd)
        out["Settings"], out["DestinationSettings"], out["SchedulingSettings"] = read_files_settings(rd)
    elif kind == 2:
        if not remote:
            out["Result"] = read_result(rd)
        out["Settings"] = {"SourceDrivesList": rd.strings(), "AutocleanOldBackups": rd.boolean(),
                           "NumberOfBackupVersionsToKeep": rd.text()}
        out["DestinationSettings"] = read_destination(rd)
        out["SchedulingSettings"] = read_scheduling(rd)
    elif kind == 3:
        if remote:
            rd.i32()
            out["Apps"] = [{"Name": rd.text(), "Category": rd.text(), "Folders": rd.strings(),
                            "RegistryPaths": rd.strings()} for _ in range(rd.i32())]
        else:
            out["Result"] = read_result(rd)
        out["Settings"] = {"AppNames": rd.strings()}
        out["DestinationSettings"] = read_destination(rd)
        out["SchedulingSettings"] = read_scheduling(rd)
    if rd.pos != len(rd.data):
        raise ValueError(f"{len(rd.data) - rd.pos} bytes left over")
    return out


def encode_texts(texts):
    w = Writer()
    for t in texts:
        w.text(t)
    return seal(bytes(w.buf))


def decode_text(sealed):
    return Reader(unseal(sealed)).text()


def main(argv):
    if len(argv) >= 2 and argv[0] == "decode-job":
        with open(argv[1], "rb") as f:
            print(json.dumps(decode_job(f.read(), remote="--remote" in argv), indent=1, ensure_ascii=False))
        return 0
    if len(argv) == 2 and argv[0] == "decode-text":
        with open(argv[1], "rb") as f:
            print(json.dumps(decode_text(f.read()), ensure_ascii=False))
        return 0
    print(__doc__, file=sys.stderr)
    return 64


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
