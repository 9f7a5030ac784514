#!/usr/bin/env python3
"""Writes and reads Vaultora options files ("options.vlo") independently of the program's code.

The file is the primitive encoding (little-endian Int32, one-byte Booleans, texts as an Int32
count of UTF-16 units followed by UTF-16LE, string lists as a count followed by texts) of the
fields below, enciphered with the file cipher and then inverted byte by byte.

A record is JSON grouped like the program's record:
  {"Language": {"LanguageOfInterface": ...}, "General": {...}, "Logging": {...},
   "Processing": {...}, "ExcludedDirs": [...], "Email": {...}, "FTPAccounts": [{...}],
   "Proxy": {...}, "LastFTPAccountID": N}

Usage:
  options_file.py encode --version V RECORD.json OUT.vlo   write a file of format version V (1-8)
  options_file.py decode FILE.vlo                          print the record (with "FormatVersion")
  options_file.py view FILE.vlo                            print it as "vaultora-cli options --json"
                                                           does: passwords as "<field>IsSet"
"""

import argparse
import json
import struct
import sys

# Multiplier, increment and start key of the cipher: the 6-byte constant 5C 2E 91 F4 47 9B as
# little-endian 16-bit words.
MULTIPLIER, INCREMENT, START_KEY = struct.unpack("<3H", bytes.fromhex("5C2E91F4479B"))

# (group, field, encoding, first version that stores it, value when older files lack it)
FIELDS = [
    ("Language", "LanguageOfInterface", "text", 1, None),
    ("General", "RunProgramAtLogon", "bool", 1, None),
    ("General", "ProtectConfigurationbyPassword", "bool", 1, None),
    ("General", "BlockSleepModeifJobIsScheduled", "bool", 8, True),
    ("General", "strProtectConfiguration_Password", "text", 1, None),
    ("General", "ProcessPriority", "int", 1, None),
    ("General", "PathForTempFiles", "text", 1, None),
    ("Logging", "MaxNumberOfLogsForEachJob", "int", 1, None),
    ("Logging", "MaxNumberOfLinesInHistory", "int", 1, None),
    ("Logging", "MaxNumberOfLinesInEventsLog", "int", 1, None),
    ("Logging", "DontLogCopyingInternalFiles", "bool", 1, None),
    ("Logging", "PathForLogFiles", "text", 1, None),
    ("Processing", "RunOnlyOneJobAtATime", "bool", 1, None),
    ("Processing", "IfDestinationNotAvailable_Retry_Times", "int", 1, None),
    ("Processing", "IfDestinationNotAvailable_Wait_Sec", "int", 1, None),
    ("Processing", "IfDestinationNotAvailable_Then", "int", 6, 0),
    ("Processing", "RemovePreviousBackupIfCancelled", "bool", 7, True),
    ("Processing", "PreventOtherAppsFromWritingDuringZipping", "bool", 1, None),
    ("Processing", "DontUseBufferingForCopyOperations", "bool", 1, None),
    ("Processing", "SkipHiddenSystemFiles", "bool", 1, None),
    ("Processing", "SkipLockedFiles", "bool", 3, False),
    (None, "ExcludedDirs", "list", 5, []),
    ("Email", "SendEmailNotificationWhenFinishedBackup", "bool", 1, None),
    ("Email", "SendOnlyIfJobIscancelledDueToErrors", "bool", 1, None),
    ("Email", "RecipientEmail", "text", 1, None),
    ("Email", "SMTPHost", "text", 1, None),
    ("Email", "SMTPPort", "text", 1, None),
    ("Email", "Username", "text", 1, None),
    ("Email", "Password", "text", 1, None),
    ("Email", "Security", "int", 1, None),
    ("Proxy", "*type and enabled", "proxy", 1, None),
    ("Proxy", "Host", "text", 1, None),
    ("Proxy", "Port", "text", 1, None),
    ("Proxy", "Username", "text", 1, None),
    ("Proxy", "Password", "text", 1, None),
    (None, "LastFTPAccountID", "int", 1, None),
    (None, "FTPAccounts", "accounts", 1, None),
]

ACCOUNT_FIELDS = [
    ("AccName", "text"),
    ("ID", "int"),
    ("Host", "text"),
    ("Username", "text"),
    ("Password", "text"),
    ("Port", "int"),
    ("PassiveMode", "bool"),
    ("FTPS", "bool"),
]

PASSWORDS = {("General", "strProtectConfiguration_Password"), ("Email", "Password"), ("Proxy", "Password")}


def encipher(plain):
    key, out = START_KEY, bytearray()
    for p in plain:
        out.append(p ^ (key >> 8))
        key = ((((p + (key & 0xFF)) & 0xFF) * MULTIPLIER) + INCREMENT) & 0xFFFF
    return bytes(out)


def decipher(sealed):
    key, out = START_KEY, bytearray()
    for c in sealed:
        p = c ^ (key >> 8)
        out.append(p)
        key = ((((p + (key & 0xFF)) & 0xFF) * MULTIPLIER) + INCREMENT) & 0xFFFF
    return bytes(out)


def seal(plain):
    return bytes(b ^ 0xFF for b in encipher(plain))


def unseal(data):
    return decipher(bytes(b ^ 0xFF for b in data))


class Writer:
    def __init__(self):
        self.data = bytearray()

    def int(self, value):
        self.data += struct.pack("<i", value)

    def bool(self, value):
        self.data.append(1 if value else 0)

    def text(self, value):
        encoded = value.encode("utf-16-le")
        self.int(len(encoded) // 2)
        self.data += encoded

    def list(self, values):
        self.int(len(values))
        for value in values:
            self.text(value)


class Reader:
    def __init__(self, data):
        self.data, self.pos = data, 0

    def take(self, count):
        if count < 0 or self.pos + count > len(self.data):
            raise ValueError("data ends early at byte %d" % self.pos)
        chunk = self.data[self.pos:self.pos + count]
        self.pos += count
        return chunk

    def int(self):
        return struct.unpack("<i", self.take(4))[0]

    def bool(self):
        return self.take(1)[0] != 0

    def text(self):
        return self.take(2 * self.int()).decode("utf-16-le", errors="surrogatepass")

    def list(self):
        return [self.text() for _ in range(self.int())]


def get(record, group, name):
    return record[name] if group is None else record[group][name]


def put(record, group, name, value):
    if group is None:
        record[name] = value
    else:
        record.setdefault(group, {})[name] = value


def encode(record, version):
    w = Writer()
    w.int(version)
    for group, name, kind, since, _ in FIELDS:
        if version < since:
            continue
        if kind == "proxy":
            proxy = record["Proxy"]
            if version >= 4:
                w.int(proxy["PrType"])
                w.bool(proxy["Enabled"])
            else:
                w.int(proxy["PrType"] + 1 if proxy["Enabled"] else 0)
        elif kind == "accounts":
            accounts = record["FTPAccounts"]
            w.int(len(accounts))
            for account in accounts:
                for field, field_kind in ACCOUNT_FIELDS:
                    getattr(w, field_kind)(account[field])
        else:
            getattr(w, kind)(get(record, group, name))
    return seal(bytes(w.data))


def decode(data):
    r = Reader(unseal(data))
    version = r.int()
    if not 1 <= version <= 8:
        raise ValueError("format version %d" % version)
    record = {"FormatVersion": version, "Proxy": {"PrType": 0}}
    for group, name, kind, since, absent in FIELDS:
        if version < since:
            put(record, group, name, absent)
        elif kind == "proxy":
            if version >= 4:
                record["Proxy"]["PrType"] = r.int()
                record["Proxy"]["Enabled"] = r.bool()
            else:
                stored = r.int()
                record["Proxy"]["Enabled"] = stored > 0
                if stored > 0:
                    record["Proxy"]["PrType"] = stored - 1
        elif kind == "accounts":
            record["FTPAccounts"] = [
                {field: getattr(r, field_kind)() for field, field_kind in ACCOUNT_FIELDS} for _ in range(r.int())
            ]
        else:
            put(record, group, name, getattr(r, kind)())
    return record


def view(record):
    shown = json.loads(json.dumps(record))
    shown.pop("FormatVersion", None)
    for group, name in PASSWORDS:
        shown[group][name + "IsSet"] = shown[group].pop(name) != ""
    for account in shown["FTPAccounts"]:
        account["PasswordIsSet"] = account.pop("Password") != ""
    return shown


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    p_encode = commands.add_parser("encode")
    p_encode.add_argument("--version", type=int, default=8, choices=range(1, 9))
    p_encode.add_argument("record")
    p_encode.add_argument("output")
    for name in ("decode", "view"):
        commands.add_parser(name).add_argument("file")
    args = parser.parse_args()
    if args.command == "encode":
        with open(args.record, encoding="utf-8") as source:
            record = json.load(source)
        with open(args.output, "wb") as target:
            target.write(encode(record, args.version))
        return 0
    with open(args.file, "rb") as source:
        record = decode(source.read())
    result = record if args.command == "decode" else view(record)
    json.dump(result, sys.stdout, indent=2, ensure_ascii=False, sort_keys=True)
    sys.stdout.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
