#!/usr/bin/env python3
"""Writes the golden job files of tests/data/jobfiles from field values given here, with
vaultora_files.py (an encoder that shares no code with the program), and next to each file the
fields the program must show after loading it (the form of "vaultora-cli show --json").

Run it again only when a golden file is to change: python3 tests/tools/make_golden.py
"""
import copy
import json
import os
import sys

sys.path.insert(0, os.path.dirname(__file__))
import vaultora_files as vf  # noqa: E402

OUT = os.path.join(os.path.dirname(__file__), "..", "data", "jobfiles")


def days(selected, count):
    return [i + 1 in selected for i in range(count)]


def base_job(kind, name):
    return {
        "Kind": kind,
        "stJobName": name,
        "JobOperation": 0,
        "JobStatus": 0,
        "NewSubfolderIsCreatedForEachBackup": kind != 3,
        "CanPause": kind != 2,
        "LastJobResult": {"StartTime": 45000.25, "EndTime": 45000.3125, "Log": [], "Cancelled": True,
                          "ErrorsCount": 3, "WarningsCount": 7},
        "LogList": ["2023-03-15 06;00;00", "2023-03-16 06;00;00"],
        "BackupHistory": ["2023-03-15 06:00:00: Starting the backup. Target: full copy of the source.",
                          "2023-03-15 06:01:10: Backup job is finished."],
        "SchedulingSettings": {
            "SchedulingType": 1,
            "DaysOfWeek": days({1, 3, 5}, 7),
            "DaysOfMonth": days({1, 15, 31}, 31),
            "TimeTable": ["06:00:00", "12:30:15", "23:59:59"],
            "LastModificationDateTime": 44999.875,
            "RunJobAsSoonAsPossibleAfterAScheduledStartIsMissed": True,
            "ShutdownPCInTheEnd": False,
        },
        "DestinationSettings": {
            "DestinationType": 0,
            "LocalOrExternalDrive": {"Disk": "/media/anna/Backup Drive", "Subfolder": "/Vaultora/Jobs"},
            "Network": {"Username": "anna", "Password": "net-secret", "UNCPath": "//nas/share/backups"},
            "FTP": {"AccountID": 4, "Subfolder": "/remote/backups"},
            "Cloud": {"ServiceName": "Google Drive", "Subfolder": "/Vaultora"},
        },
    }


def files_job(name):
    job = base_job(1, name)
    job["Settings"] = {
        "Sources": {"List": ["/home/anna/Documents/*", "/home/anna/Music/*", "/home/anna/notes.txt"],
                    "FilterType": 2, "Extensions": "tmp;bak;~"},
        "Backup": {"BackupType": 1, "PerformFullBackup_Condition": 1, "PerformFullBackup_EveryCopies": 7,
                   "PerformFullBackup_SumExceedsPercentOfFullBackup": 65, "NumberFullCopiesToKeep": 3,
                   "RemoveOldBackupsBeforeStartingNewBackup": True},
        "Compression": {"Enabled": True, "ProtectWithPassword": True, "Password": "zip-Pässword",
                        "EncryptionMethod": 2, "CompressionLevel": 3, "NoCompressionExtensions": "zip;jpg;mp3",
                        "CreateIndividualZipForEachItem": True},
    }
    return job


def shown(job, extra=None):
    """The fields as the program shows them: passwords replaced by *IsSet Booleans."""
    out = copy.deepcopy(job)
    secrets = {}
    net = out["DestinationSettings"]["Network"]
    secrets["Network.Password"] = net.pop("Password")
    net["PasswordIsSet"] = secrets["Network.Password"] != ""
    if job["Kind"] == 1:
        comp = out["Settings"]["Compression"]
        secrets["Compression.Password"] = comp.pop("Password")
        comp["PasswordIsSet"] = secrets["Compression.Password"] != ""
    out["_Secrets"] = secrets
    if extra:
        out.update(extra)
    return out


def write(name, data, expected):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)
    with open(os.path.join(OUT, name + ".expected.json"), "w", encoding="utf-8") as f:
        json.dump(expected, f, indent=1, ensure_ascii=False, sort_keys=True)
        f.write("\n")


def main():
    os.makedirs(OUT, exist_ok=True)

    # Kind 1, every format version. Older versions lack fields or store them in older forms;
    # the expected side is what the program must make of them.
    for version in (1, 2, 3, 4, 5):
        job = files_job(f"Files v{version} – Ünïcode")
        stored = copy.deepcopy(job)
        expected = copy.deepcopy(job)
        if version == 1:
            # Folder entries without the "/*" mark; entries with an extension are files.
            stored["Settings"]["Sources"]["List"] = ["/home/anna/Documents", "/home/anna/Music/",
                                                     "/home/anna/notes.txt"]
        if version <= 2:
            # The filter is one Boolean: include-only or nothing. Counts are single bytes.
            stored["Settings"]["Sources"]["FilterType"] = 1
            expected["Settings"]["Sources"]["FilterType"] = 1
        if version <= 4:
            expected["Settings"]["Backup"]["RemoveOldBackupsBeforeStartingNewBackup"] = False
        write(f"files-v{version}.vld", vf.encode_job(stored, version), shown(expected))

    # A mirror job: no new folder per run.
    mirror = files_job("Mirror")
    mirror["Settings"]["Backup"]["BackupType"] = 3
    mirror["NewSubfolderIsCreatedForEachBackup"] = False
    mirror["SchedulingSettings"]["TimeTable"] = []  # an empty time table is a count of 0
    mirror["SchedulingSettings"]["SchedulingType"] = 2
    write("files-mirror-v5.vld", vf.encode_job(mirror, 5), shown(mirror))

    drive = base_job(2, "System image")
    drive["Settings"] = {"SourceDrivesList": ["/", "/home"], "AutocleanOldBackups": True,
                         "NumberOfBackupVersionsToKeep": "5"}
    drive["DestinationSettings"]["DestinationType"] = 1
    write("driveimage-v4.vld", vf.encode_job(drive, 4), shown(drive))

    apps = base_job(3, "Games")
    apps["Settings"] = {"AppNames": ["Game One", "Editor Two"]}
    apps["DestinationSettings"]["DestinationType"] = 3
    write("appdata-v4.vld", vf.encode_job(apps, 4), shown(apps))

    # Stored job files, as found next to the job's folder at the destination. "FoundAt" is the
    # destination the job is given before reading (where the file was found); "Warning" says
    # whether the stored destination differs from it.
    lists = {"MainBackupList": ["Incremental)", "2024-05-01 14;30;00 (Full)", "2024-05-02 14;30;00 (Incremental)"],
             "PreviousLocalFilesList": ["Documents/a.txt", "Documents/sub dir/b.txt"],
             "PreviousLocalFilesTimeList": ["20240501143000", "20240502101010"],
             "PreviousLocalDirsList": ["Documents", "Documents/sub dir"],
             "SizeOfLastFullBackup": 5_000_000_000, "SizeOfAllIncrementsOrLastDifferentialCopy": 1234}
    remote_files = files_job("Stored files")
    found_same = copy.deepcopy(remote_files["DestinationSettings"])
    loaded = copy.deepcopy(remote_files)
    loaded["SchedulingSettings"]["SchedulingType"] = 0  # comes back disabled
    for key in ("LastJobResult", "LogList", "BackupHistory"):
        loaded.pop(key)
    write("files-remote.vlj", vf.encode_job(remote_files, 5, remote=True, lists=lists),
          shown(loaded, {"_Remote": {"FoundAt": found_same, "Warning": False, "Lists": lists}}))

    # The same file found somewhere else: the job keeps where it was found, takes the other
    # types' fields from the file, and warns.
    found_elsewhere = copy.deepcopy(found_same)
    found_elsewhere["LocalOrExternalDrive"] = {"Disk": "/mnt/usb", "Subfolder": "/moved"}
    found_elsewhere["Network"] = {"Username": "", "Password": "", "UNCPath": "\\\\"}
    loaded_elsewhere = copy.deepcopy(loaded)
    loaded_elsewhere["DestinationSettings"]["LocalOrExternalDrive"] = {"Disk": "/mnt/usb", "Subfolder": "/moved"}
    write("files-remote-moved.vlj", vf.encode_job(remote_files, 5, remote=True, lists=lists),
          shown(loaded_elsewhere, {"_Remote": {"FoundAt": found_elsewhere, "Warning": True, "Lists": lists}}))

    remote_drive = copy.deepcopy(drive)
    loaded = copy.deepcopy(remote_drive)
    loaded["SchedulingSettings"]["SchedulingType"] = 0
    for key in ("LastJobResult", "LogList", "BackupHistory"):
        loaded.pop(key)
    write("driveimage-remote.vlj", vf.encode_job(remote_drive, 4, remote=True),
          shown(loaded, {"_Remote": {"FoundAt": copy.deepcopy(drive["DestinationSettings"]), "Warning": False}}))

    app_records = [{"Name": "Game One", "Category": "Games", "Folders": ["%HOME%/.local/share/game1"],
                    "RegistryPaths": ["HKEY_CURRENT_USER\\Software\\GameOne"]},
                   {"Name": "Editor Two", "Category": "Office", "Folders": ["%HOME%/.config/editor2", "x"],
                    "RegistryPaths": []}]
    loaded = copy.deepcopy(apps)
    loaded["SchedulingSettings"]["SchedulingType"] = 0
    for key in ("LastJobResult", "LogList", "BackupHistory"):
        loaded.pop(key)
    write("appdata-remote.vlj", vf.encode_job(apps, 4, remote=True, apps=app_records),
          shown(loaded, {"_Remote": {"FoundAt": copy.deepcopy(apps["DestinationSettings"]), "Warning": False,
                                     "Apps": app_records}}))

    # Cloud application credentials and a refresh-token file.
    creds = ["dropbox-id", "dropbox-secret", "google-id.apps", "google-secret", "onedrive-id", "x", "y", "z"]
    with open(os.path.join(OUT, "mcs.dt"), "wb") as f:
        f.write(vf.encode_texts(creds))
    with open(os.path.join(OUT, "mcs.dt.expected.json"), "w") as f:
        json.dump(creds[:5], f)
        f.write("\n")
    with open(os.path.join(OUT, "rt_g.dt"), "wb") as f:
        f.write(vf.encode_texts(["1//refresh-token-ÄÖÜ"]))


if __name__ == "__main__":
    main()
