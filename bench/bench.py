#!/usr/bin/env python3
"""Runs Vaultora side by side with cp, rsync, zip and 7-Zip and prints one table of medians and ratios.

Started by bench/run.sh, which builds the release flavour first. Every contender of a pair runs in
turn (A B A B ...), one warm-up round is not counted, and each timed run writes into a path no run
used before: on ext4 recreating a tree where one was just deleted is several times slower than
writing a new one, which would favour whoever runs first. The page cache is warm (the corpus is
read once before each pair) and dirty data is flushed before each timed run, so one run's
write-back does not land on the next one's clock.

Vaultora runs as a user runs it: vaultora-cli, process start included, with a data folder of its
own and HOME/XDG folders inside the work folder.
"""
import argparse
import datetime
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
PASSWORD = "bench-password-1"

# Corpus sizes per mode: (files, folders, GiB) for the mixed corpus; (files, folders) for the small
# ones (the scaling pair runs the small kind at the "scale" count and at the full count).
MODES = {
    "full": {"mixed": (20000, 400, 1.5), "small": (200000, 4000), "scale": (20000, 400), "rounds": 4, "warmup": 1},
    "quick": {"mixed": (2000, 60, 0.15), "small": (20000, 400), "scale": (2000, 40), "rounds": 3, "warmup": 1},
    # Keeps the harness from rotting in CI: a table is made, its figures mean nothing.
    "tiny": {"mixed": (200, 10, 0.01), "small": (2000, 40), "scale": (200, 8), "rounds": 1, "warmup": 0},
}


def log(text):
    print(text, file=sys.stderr, flush=True)


def find_generator(explicit):
    candidates = [explicit, os.environ.get("GEN_CORPUS"),
                  os.path.join(REPO, "..", "shared", "bench", "gen_corpus.py"),
                  os.path.join(REPO, "..", "..", "shared", "bench", "gen_corpus.py"),
                  "/work/shared/bench/gen_corpus.py"]
    for candidate in candidates:
        if candidate and os.path.isfile(candidate):
            return os.path.abspath(candidate)
    sys.exit("bench: gen_corpus.py not found; pass --generator or set GEN_CORPUS")

SMB_USER = "vaultorabench"
SMB_PASSWORD = "bench-share-1"


class SmbServer:
    """A private smbd on a free loopback port with one share owned by a throwaway user (root only),
    the peer of the network-share pair."""

    def __init__(self, work):
        self.dir = os.path.join(work, "smbd")
        shutil.rmtree(self.dir, ignore_errors=True)
        for sub in ("private", "lock", "state", "cache", "run", "ncalrpc", "log", "share"):
            os.makedirs(os.path.join(self.dir, sub))
        os.chmod(self.dir, 0o755)
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            self.port = probe.getsockname()[1]
        self.conf = os.path.join(self.dir, "smb.conf")
        s = self.dir
        with open(self.conf, "w") as f:
            f.write("[global]\n  server role = standalone server\n  smb ports = %d\n  interfaces = 127.0.0.1\n"
                    "  bind interfaces only = yes\n  disable netbios = yes\n  private dir = %s/private\n"
                    "  lock directory = %s/lock\n  state directory = %s/state\n  cache directory = %s/cache\n"
                    "  pid directory = %s/run\n  ncalrpc dir = %s/ncalrpc\n  log file = %s/log/log.%%m\n"
                    "  passdb backend = tdbsam:%s/private/passdb.tdb\n  load printers = no\n  printing = bsd\n"
                    "  printcap name = /dev/null\n  disable spoolss = yes\n  server min protocol = SMB2_10\n"
                    "[share]\n  path = %s/share\n  read only = no\n  valid users = %s\n"
                    % ((self.port,) + (s,) * 9 + (SMB_USER,)))
        subprocess.run(["useradd", "-M", "-s", "/usr/sbin/nologin", SMB_USER], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        subprocess.run(["smbpasswd", "-c", self.conf, "-s", "-a", SMB_USER],
                       input=("%s\n%s\n" % (SMB_PASSWORD, SMB_PASSWORD)).encode(), check=True,
                       stdout=subprocess.DEVNULL)
        shutil.chown(os.path.join(s, "share"), SMB_USER, SMB_USER)
        # A session of its own: smbd signals its whole process group when it stops.
        self.process = subprocess.Popen(["smbd", "--foreground", "--no-process-group", "-s", self.conf],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            with socket.socket() as probe:
                if probe.connect_ex(("127.0.0.1", self.port)) == 0:
                    return
            time.sleep(0.1)
        self.stop()
        sys.exit("bench: smbd did not start")

    def folder(self, name):
        """A new folder on the share for one run: its URL and its path on this machine."""
        path = os.path.join(self.dir, "share", name)
        os.makedirs(path)
        shutil.chown(path, SMB_USER, SMB_USER)
        return "smb://127.0.0.1:%d/share/%s" % (self.port, name), path

    def stop(self):
        self.process.terminate()
        self.process.wait()
        try:
            with open(os.path.join(self.dir, "run", "samba-dcerpcd.pid")) as f:
                os.kill(int(f.read().strip()), 15)
        except (OSError, ValueError):
            pass


FTP_USER = "vaultoraftpbench"
FTP_PASSWORD = "bench-ftp-1"


def quoted(path):
    """A path as one word of an lftp command."""
    return '"' + path.replace("\\", "\\\\").replace('"', '\\"') + '"'


class FtpServer:
    """A private vsftpd on a free loopback port for a throwaway system user (root only), the peer
    of the FTP pair. The user is kept in its folder, which it sees as "/"."""

    def __init__(self, work):
        self.dir = os.path.join(work, "vsftpd")
        shutil.rmtree(self.dir, ignore_errors=True)
        self.root = os.path.join(self.dir, "root")
        os.makedirs(self.root)
        os.chmod(self.dir, 0o755)
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            self.port = probe.getsockname()[1]
        subprocess.run(["useradd", "-M", "-d", self.root, "-s", "/bin/bash", FTP_USER], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        subprocess.run(["usermod", "-d", self.root, FTP_USER], check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["chpasswd"], input=("%s:%s\n" % (FTP_USER, FTP_PASSWORD)).encode(), check=True)
        shutil.chown(self.root, FTP_USER, FTP_USER)
        os.makedirs("/var/run/vsftpd/empty", exist_ok=True)
        conf = os.path.join(self.dir, "vsftpd.conf")
        with open(conf, "w") as f:
            f.write("listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=%d\nbackground=NO\n"
                    "anonymous_enable=NO\nlocal_enable=YES\nwrite_enable=YES\nlocal_umask=022\npasv_enable=YES\n"
                    "pasv_min_port=31000\npasv_max_port=31099\npasv_address=127.0.0.1\npam_service_name=vsftpd\n"
                    "secure_chroot_dir=/var/run/vsftpd/empty\nlocal_root=%s\nseccomp_sandbox=NO\nisolate=NO\n"
                    "isolate_network=NO\nmax_per_ip=0\nxferlog_enable=NO\nchroot_local_user=YES\n"
                    "allow_writeable_chroot=YES\n" % (self.port, self.root))
        # A session of its own: the per-client processes go with the group.
        self.process = subprocess.Popen(["vsftpd", conf], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, start_new_session=True)
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            with socket.socket() as probe:
                if probe.connect_ex(("127.0.0.1", self.port)) == 0:
                    return
            time.sleep(0.1)
        self.stop()
        sys.exit("bench: vsftpd did not start")

    def folder(self, name):
        """A new folder on the server for one run, and its path on this machine."""
        path = os.path.join(self.root, name)
        os.makedirs(path)
        shutil.chown(path, FTP_USER, FTP_USER)
        return path

    def stop(self):
        try:
            os.killpg(self.process.pid, 15)
        except OSError:
            pass
        self.process.wait()


class Bench:
    def __init__(self, args):
        self.args = args
        self.mode = MODES[args.mode]
        self.rounds = args.rounds or self.mode["rounds"]
        self.warmup = self.mode["warmup"] if args.warmup is None else args.warmup
        self.work = os.path.abspath(args.work)
        self.cli = os.path.abspath(args.cli)
        self.generator = find_generator(args.generator)
        self.runs = os.path.join(self.work, "runs")
        self.serial = 0
        self.loads = [os.getloadavg()]
        self.results = {}  # key -> list of (seconds, max RSS KiB)
        self.sizes = {}  # key -> list of archive bytes
        self.garbage = []  # outputs of the pair under way
        shutil.rmtree(self.runs, ignore_errors=True)
        os.makedirs(self.runs)
        self.password_file = os.path.join(self.work, "password.txt")
        with open(self.password_file, "w") as f:
            f.write(PASSWORD + "\n")

    # ---- helpers ----

    def fresh(self, label):
        """A path no run has used before."""
        self.serial += 1
        return os.path.join(self.runs, "%05d-%s" % (self.serial, label))

    def corpus(self, kind, files, dirs, gib=None):
        name = "%s-%d-%d" % (kind, files, dirs) + ("-%g" % gib if gib is not None else "")
        path = os.path.join(self.work, "corpora", name)
        if not os.path.isdir(path):
            tmp = path + ".tmp"
            shutil.rmtree(tmp, ignore_errors=True)
            cmd = [sys.executable, self.generator, "--kind", kind, "--out", tmp, "--files", str(files),
                   "--dirs", str(dirs)]
            if gib is not None:
                cmd += ["--total-gib", str(gib)]
            log("bench: generating corpus %s" % name)
            subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
            os.rename(tmp, path)
        return path

    @staticmethod
    def warm(path):
        """Reads every file once so all contenders start from a warm page cache."""
        for root, _, files in os.walk(path):
            for name in files:
                try:
                    with open(os.path.join(root, name), "rb") as f:
                        while f.read(1 << 20):
                            pass
                except OSError:
                    pass

    def env(self, home):
        env = dict(os.environ)
        env.update(HOME=home, XDG_CACHE_HOME=os.path.join(home, ".cache"),
                   XDG_DATA_HOME=os.path.join(home, ".local", "share"),
                   XDG_CONFIG_HOME=os.path.join(home, ".config"), XDG_STATE_HOME=os.path.join(home, ".local", "state"))
        os.makedirs(home, exist_ok=True)
        return env

    def run(self, argv, cwd=None, env=None):
        """Runs an untimed preparation step."""
        done = subprocess.run(argv, cwd=cwd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if done.returncode != 0:
            sys.exit("bench: %s failed (%d): %s" % (" ".join(argv), done.returncode, done.stderr.decode()[-2000:]))

    def timed(self, key, argv, cwd=None, env=None, stdout=None):
        """One timed run: wall seconds and the largest resident set of the process tree."""
        subprocess.run(["sync"], check=True)
        with tempfile.NamedTemporaryFile(dir=self.work, prefix="time-", delete=False) as f:
            out = f.name
        sink = open(stdout, "wb") if stdout else subprocess.DEVNULL
        start = time.monotonic()
        done = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", out] + argv, cwd=cwd, env=env, stdout=sink,
                              stderr=subprocess.PIPE)
        seconds = time.monotonic() - start
        if stdout:
            sink.close()
        with open(out) as f:
            lines = [line for line in f.read().split("\n") if line.strip()]
        os.remove(out)
        if done.returncode != 0:
            sys.exit("bench: %s failed (%d): %s" % (" ".join(argv), done.returncode, done.stderr.decode()[-2000:]))
        rss = int(lines[-1])
        self.record(key, seconds, rss)
        return seconds

    def record(self, key, seconds, rss):
        self.results.setdefault(key, []).append((seconds, rss))

    def counted(self, round_index):
        return round_index >= self.warmup

    def alternate(self, title, steps):
        """Runs the steps in turn for every round; a step is fn(counted) and records its own result."""
        total = self.warmup + self.rounds
        for r in range(total):
            counted = self.counted(r)
            log("bench: %s, round %d/%d%s, load %.2f" % (title, r + 1, total, "" if counted else " (warm-up)",
                                                         os.getloadavg()[0]))
            for step in steps:
                step(counted)
        self.loads.append(os.getloadavg())

    def drop(self, key):
        """Forgets the warm-up round's figures of a key."""
        values = self.results.get(key, [])
        if values:
            values.pop()

    def cli_new(self, data, name, source, dest, *options):
        env = self.env(os.path.join(data, "home"))
        os.makedirs(dest, exist_ok=True)
        self.run([self.cli, "--data-dir", os.path.join(data, "data"), "new", name, "--source", source, "--to", dest]
                 + list(options), env=env)
        return env

    def cli_args(self, data, *args):
        return [self.cli, "--data-dir", os.path.join(data, "data")] + list(args)

    # ---- the pairs ----

    def full_backup(self, mixed):
        """Full plain backup of the mixed corpus against cp -a and rsync -a into an empty folder."""
        self.warm(mixed)

        def ours(counted):
            data = self.fresh("ours-full")
            dest = os.path.join(data, "dest")
            env = self.cli_new(data, "Bench", mixed, dest, "--type", "full")
            self.timed("full/ours", self.cli_args(data, "backup", "Bench"), env=env)
            self.keep_or_remove("full/ours", counted, data)

        def cp(counted):
            dest = self.fresh("cp-full")
            self.timed("full/cp", ["cp", "-a", mixed, dest])
            self.keep_or_remove("full/cp", counted, dest)

        def rsync(counted):
            dest = self.fresh("rsync-full")
            self.timed("full/rsync", ["rsync", "-a", mixed + "/", dest + "/"])
            self.keep_or_remove("full/rsync", counted, dest)

        self.alternate("full backup", [ours, cp, rsync])

    def keep_or_remove(self, key, counted, path):
        """Outputs stay until a pair ends: ext4 without a journal skips inodes freed in the last
        minutes when it allocates new ones, so a deletion would slow down whoever writes next."""
        if not counted:
            self.drop(key)
        self.evict(path)
        self.garbage.append(path)
        free = shutil.disk_usage(self.work).free
        if free < 8 * 2**30:
            self.collect()

    @staticmethod
    def evict(path):
        """Drops a finished output from the page cache. Once written back its pages are clean and
        free to go; kept, they fill memory until every later run pays for reclaiming it, by
        amounts that depend on the run's turn rather than on its work."""
        subprocess.run(["sync"], check=True)
        for root, _, files in os.walk(path):
            for name in files:
                try:
                    fd = os.open(os.path.join(root, name), os.O_RDONLY | os.O_NOFOLLOW)
                except OSError:
                    continue
                try:
                    os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
                finally:
                    os.close(fd)

    def collect(self):
        for path in self.garbage:
            shutil.rmtree(path, ignore_errors=True)
        self.garbage.clear()

    def incremental(self, small, scale):
        """No-change and 1 % changed incremental runs over the small corpus, and the scaling pair."""
        jobs = {}
        for label, source in (("small", small), ("scale", scale)):
            self.warm(source)
            data = self.fresh("ours-incr-" + label)
            dest = os.path.join(data, "dest")
            # No periodic full copy: every timed run must be the incremental one it claims to be.
            env = self.cli_new(data, "Bench", source, dest, "--type", "incremental", "--full-every", "1000")
            log("bench: first backup of %s (not timed)" % source)
            self.run(self.cli_args(data, "backup", "Bench"), env=env)
            jobs[label] = (data, env)
        mirror = self.fresh("rsync-incr")
        log("bench: first rsync of %s (not timed)" % small)
        self.run(["rsync", "-a", small + "/", mirror + "/"])

        def ours(key, label):
            def step(counted):
                data, env = jobs[label]
                # Two runs within one second would make the program wait for a new restore point name.
                time.sleep(1.05)
                self.timed(key, self.cli_args(data, "backup", "Bench"), env=env)
                if not counted:
                    self.drop(key)
            return step

        def rsync(key):
            def step(counted):
                self.timed(key, ["rsync", "-a", small + "/", mirror + "/"])
                if not counted:
                    self.drop(key)
            return step

        def find(counted):
            self.timed("nochange/find", ["find", small, "-printf", "%T@ %s %p\\n"])
            if not counted:
                self.drop("nochange/find")

        self.alternate("no-change incremental", [ours("nochange/ours", "small"), rsync("nochange/rsync"), find])
        self.alternate("scaling", [ours("scale/ours-small", "scale"), ours("scale/ours-large", "small")])

        # The same 1 % of the files gets a new last-write time before every round.
        names = sorted(os.path.join(root, n) for root, _, files in os.walk(small) for n in files)
        changed = names[::100]
        stamp = [int(time.time()) - 100000]

        def touch(counted):
            stamp[0] += 10
            for path in changed:
                os.utime(path, (stamp[0], stamp[0]))

        self.alternate("1 % changed incremental",
                       [touch, ours("changed/ours", "small"), rsync("changed/rsync")])
        self.garbage.append(mirror)
        self.garbage.extend(data for data, _ in jobs.values())

    def archives(self, mixed):
        """One ZIP per run at the fastest level, plain and AES-256, against zip and 7-Zip."""
        self.warm(mixed)

        def ours(key, *options):
            def step(counted):
                data = self.fresh("ours-zip")
                dest = os.path.join(data, "dest")
                env = self.cli_new(data, "Bench", mixed, dest, "--type", "full", "--zip", "--level", "fastest",
                                   *options)
                self.timed(key, self.cli_args(data, "backup", "Bench"), env=env)
                archive = None
                for root, _, files in os.walk(dest):
                    if "data.zip" in files:
                        archive = os.path.join(root, "data.zip")
                if not archive:
                    sys.exit("bench: the backup made no data.zip")
                self.size(key, counted, os.path.getsize(archive))
                self.keep_or_remove(key, counted, data)
            return step

        def tool(key, argv_for):
            def step(counted):
                folder = self.fresh(key.replace("/", "-"))
                os.makedirs(folder)
                archive = os.path.join(folder, "out.zip")
                self.timed(key, argv_for(archive), cwd=mixed)
                self.size(key, counted, os.path.getsize(archive))
                self.keep_or_remove(key, counted, folder)
            return step

        self.alternate("ZIP, fastest", [
            ours("zip/ours"),
            tool("zip/zip", lambda a: ["zip", "-q", "-r", "-1", a, "."]),
            tool("zip/7z", lambda a: ["7zz", "a", "-bd", "-bb0", "-tzip", "-mx1", a, "."]),
        ])
        self.alternate("ZIP, AES-256", [
            ours("aes/ours", "--encrypt", "aes256", "--password-file", self.password_file),
            tool("aes/7z", lambda a: ["7zz", "a", "-bd", "-bb0", "-tzip", "-mem=AES256", "-mx1", "-p" + PASSWORD, a,
                                      "."]),
        ])

    def size(self, key, counted, size):
        if counted:
            self.sizes.setdefault(key, []).append(size)

    def restore(self, mixed):
        """Restore of the latest restore point of a plain full backup against cp -a back."""
        data = self.fresh("ours-restore")
        dest = os.path.join(data, "dest")
        env = self.cli_new(data, "Bench", mixed, dest, "--type", "full")
        log("bench: backup to restore from (not timed)")
        self.run(self.cli_args(data, "backup", "Bench"), env=env)
        point = None
        for root, dirs, _ in os.walk(dest):
            if os.path.basename(mixed) in dirs:
                point = os.path.join(root, os.path.basename(mixed))
                break
        if not point:
            sys.exit("bench: the backup holds no copy of the corpus")
        self.warm(point)

        def ours(counted):
            out = self.fresh("ours-restored")
            self.timed("restore/ours", self.cli_args(data, "restore", "Bench", "--to", out, "--latest"), env=env)
            self.keep_or_remove("restore/ours", counted, out)

        def cp(counted):
            out = self.fresh("cp-restored")
            self.timed("restore/cp", ["cp", "-a", point, out])
            self.keep_or_remove("restore/cp", counted, out)

        self.alternate("restore latest", [ours, cp])
        self.garbage.append(data)

    def share(self, mixed):
        """Full plain backup of corpus A to a share of smbd on loopback against smbclient's recursive
        mput of the same tree, and the restore of that backup against the recursive mget."""
        server = SmbServer(self.work)
        credentials = os.path.join(self.work, "share-password.txt")
        with open(credentials, "w") as f:
            f.write(SMB_PASSWORD + "\n")
        auth = os.path.join(self.work, "smbclient-auth.txt")
        with open(auth, "w") as f:
            f.write("username = %s\npassword = %s\n" % (SMB_USER, SMB_PASSWORD))
        os.chmod(auth, 0o600)
        name = os.path.basename(mixed)
        self.warm(mixed)
        restore_data = {}

        def ours(counted):
            data = self.fresh("ours-share")
            url, _ = server.folder(os.path.basename(data))
            env = self.env(os.path.join(data, "home"))
            self.run([self.cli, "--data-dir", os.path.join(data, "data"), "new", "Bench", "--source", mixed, "--to",
                      url, "--type", "full", "--user", SMB_USER, "--share-password-file", credentials], env=env)
            self.timed("share/ours", self.cli_args(data, "backup", "Bench"), env=env)
            if not counted:
                self.drop("share/ours")
            restore_data.update(data=data, env=env)

        def smbclient(counted):
            _, path = server.folder(os.path.basename(self.fresh("smbclient-share")))
            remote = os.path.basename(path)
            self.timed("share/smbclient", ["smbclient", "//127.0.0.1/share", "-p", str(server.port), "-A", auth,
                                           "-D", remote, "-c", "prompt off; recurse on; mkdir %s; cd %s; lcd %s; "
                                           "mput *" % (name, name, mixed)])
            if not counted:
                self.drop("share/smbclient")

        def ours_restore(counted):
            out = self.fresh("ours-share-restored")
            self.timed("share-restore/ours", self.cli_args(restore_data["data"], "restore", "Bench", "--to", out,
                                                           "--latest"), env=restore_data["env"])
            self.keep_or_remove("share-restore/ours", counted, out)

        def smbclient_restore(counted):
            out = self.fresh("smbclient-share-restored")
            os.makedirs(out)
            self.timed("share-restore/smbclient", ["smbclient", "//127.0.0.1/share", "-p", str(server.port), "-A",
                                                   auth, "-D", restore_data["remote"], "-c",
                                                   "prompt off; recurse on; lcd %s; mget *" % out])
            self.keep_or_remove("share-restore/smbclient", counted, out)

        try:
            self.alternate("full backup to a share", [ours, smbclient])
            # The restore reads the last backup of ours; smbclient reads the same folder.
            share_root = os.path.join(server.dir, "share", os.path.basename(restore_data["data"]))
            point = None
            for root, dirs, _ in os.walk(share_root):
                if name in dirs:
                    point = os.path.join(root, name)
                    break
            if not point:
                sys.exit("bench: the share holds no copy of the corpus")
            restore_data["remote"] = os.path.relpath(point, os.path.join(server.dir, "share"))
            self.alternate("restore from a share", [ours_restore, smbclient_restore])
        finally:
            server.stop()
            shutil.rmtree(server.dir, ignore_errors=True)

    def ftp(self, mixed):
        """Full plain backup of corpus A to vsftpd on loopback against lftp's mirror -R over one
        connection, and the restore of that backup against mirror."""
        server = FtpServer(self.work)
        secret = os.path.join(self.work, "ftp-password.txt")
        with open(secret, "w") as f:
            f.write(FTP_PASSWORD + "\n")
        os.chmod(secret, 0o600)
        # lftp takes the password from .netrc, not from its arguments.
        lftp_home = os.path.join(self.work, "lftp-home")
        os.makedirs(lftp_home, exist_ok=True)
        with open(os.path.join(lftp_home, ".netrc"), "w") as f:
            f.write("machine 127.0.0.1 login %s password %s\n" % (FTP_USER, FTP_PASSWORD))
        os.chmod(os.path.join(lftp_home, ".netrc"), 0o600)
        lftp_env = dict(os.environ, HOME=lftp_home)
        name = os.path.basename(mixed)
        self.warm(mixed)
        restore_data = {}

        def lftp(script):
            return ["lftp", "-p", str(server.port), "-e",
                    "set ftp:ssl-allow no; set net:max-retries 2; set mirror:parallel-transfer-count 1; "
                    + script + "; quit", "127.0.0.1"]

        def ours(counted):
            data = self.fresh("ours-ftp")
            folder = os.path.basename(server.folder(os.path.basename(data)))
            env = self.env(os.path.join(data, "home"))
            self.run(self.cli_args(data, "ftp-account", "add", "Bench", "--host", "127.0.0.1", "--port",
                                   str(server.port), "--user", FTP_USER, "--password-file", secret), env=env)
            self.run(self.cli_args(data, "new", "Bench", "--source", mixed, "--to", "ftp://Bench/" + folder,
                                   "--type", "full"), env=env)
            self.timed("ftp/ours", self.cli_args(data, "backup", "Bench"), env=env)
            if not counted:
                self.drop("ftp/ours")
            restore_data.update(data=data, env=env, folder=folder)

        def mirror_up(counted):
            folder = os.path.basename(server.folder(os.path.basename(self.fresh("lftp-ftp"))))
            target = quoted("/%s/%s" % (folder, name))
            self.timed("ftp/lftp", lftp("mirror -R %s %s" % (quoted(mixed), target)), env=lftp_env)
            if not counted:
                self.drop("ftp/lftp")

        def ours_restore(counted):
            out = self.fresh("ours-ftp-restored")
            self.timed("ftp-restore/ours", self.cli_args(restore_data["data"], "restore", "Bench", "--to", out,
                                                         "--latest"), env=restore_data["env"])
            self.keep_or_remove("ftp-restore/ours", counted, out)

        def mirror_down(counted):
            out = self.fresh("lftp-ftp-restored")
            os.makedirs(out)
            self.timed("ftp-restore/lftp", lftp("mirror %s %s" % (quoted("/" + restore_data["remote"]), quoted(out))),
                       env=lftp_env)
            self.keep_or_remove("ftp-restore/lftp", counted, out)

        try:
            probe = self.fresh("ftp-probe")
            if subprocess.run(self.cli_args(probe, "ftp-account", "list"), env=self.env(os.path.join(probe, "home")),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
                log("bench: no ftp pair (this vaultora-cli has no ftp-account command)")
                return
            self.alternate("full backup to FTP", [ours, mirror_up])
            # The restore reads the last backup of ours; lftp reads the same folder.
            ftp_root = os.path.join(server.root, restore_data["folder"])
            point = None
            for root, dirs, _ in os.walk(ftp_root):
                if name in dirs:
                    point = os.path.join(root, name)
                    break
            if not point:
                sys.exit("bench: the FTP server holds no copy of the corpus")
            restore_data["remote"] = os.path.relpath(point, server.root)
            self.alternate("restore from FTP", [ours_restore, mirror_down])
        finally:
            server.stop()
            shutil.rmtree(server.dir, ignore_errors=True)

    # ---- the table ----

    def median(self, key, what=0):
        values = [v[what] for v in self.results.get(key, [])]
        return statistics.median(values) if values else float("nan")

    def median_size(self, key):
        values = self.sizes.get(key, [])
        return statistics.median(values) if values else float("nan")

    def table(self):
        m = self.median
        rows = []

        def row(work, ours, other, other_name, goal, limit, unit="s"):
            ratio = ours / other if other else float("nan")
            met = "yes" if ratio <= limit else "no"
            fmt = "%.2f" if unit == "s" else "%.0f"
            rows.append((work, (fmt % ours) + " " + unit, other_name, (fmt % other) + " " + unit, "%.2f" % ratio,
                         goal, met))

        small_files = self.mode["small"][0]
        scale_files = self.mode["scale"][0]
        if "full/ours" in self.results:
            row("full plain backup, corpus A", m("full/ours"), m("full/cp"), "cp -a", "≤ 1.05", 1.05)
            row("full plain backup, corpus A", m("full/ours"), m("full/rsync"), "rsync -a", "", float("inf"))
        if "nochange/ours" in self.results:
            row("no-change incremental, corpus B", m("nochange/ours"), m("nochange/rsync"), "rsync -a", "≤ 0.5", 0.5)
            row("no-change incremental, corpus B", m("nochange/ours"), m("nochange/find"), "find stat walk", "≤ 1.5",
                1.5)
            row("1 % changed incremental, corpus B", m("changed/ours"), m("changed/rsync"), "rsync -a", "≤ 0.7", 0.7)
        if "zip/ours" in self.results:
            row("ZIP fastest, corpus A", m("zip/ours"), m("zip/zip"), "zip -r -1", "≤ 0.6", 0.6)
            row("ZIP fastest, corpus A", m("zip/ours"), m("zip/7z"), "7z -tzip -mx1", "", float("inf"))
            row("ZIP fastest, size", self.median_size("zip/ours") / 2**20, self.median_size("zip/zip") / 2**20,
                "zip -r -1", "≤ 1.02", 1.02, "MiB")
            row("ZIP fastest, size", self.median_size("zip/ours") / 2**20, self.median_size("zip/7z") / 2**20,
                "7z -tzip -mx1", "", float("inf"), "MiB")
            row("AES-256 ZIP, corpus A", m("aes/ours"), m("aes/7z"), "7z -tzip -mem=AES256 -mx1", "≤ 0.7", 0.7)
        if "restore/ours" in self.results:
            row("restore latest, corpus A", m("restore/ours"), m("restore/cp"), "cp -a back", "≤ 1.1", 1.1)
        if "share/ours" in self.results:
            row("full plain backup to an SMB share, corpus A", m("share/ours"), m("share/smbclient"),
                "smbclient mput", "≤ 1.0", 1.0)
            row("restore from an SMB share, corpus A", m("share-restore/ours"), m("share-restore/smbclient"),
                "smbclient mget", "≤ 1.0", 1.0)
        if "ftp/ours" in self.results:
            row("full plain backup to FTP, corpus A", m("ftp/ours"), m("ftp/lftp"), "lftp mirror -R", "≤ 1.0", 1.0)
            row("restore from FTP, corpus A", m("ftp-restore/ours"), m("ftp-restore/lftp"), "lftp mirror", "≤ 1.0",
                1.0)
        if "nochange/ours" in self.results:
            ours_rss = m("nochange/ours", 1) / 1024
            rsync_rss = m("nochange/rsync", 1) / 1024
            rows.append(("peak memory, no-change run, corpus B", "%.0f MiB" % ours_rss, "rsync -a",
                         "%.0f MiB" % rsync_rss, "%.2f" % (ours_rss / rsync_rss), "≤ 100 MiB",
                         "yes" if ours_rss <= 100 else "no"))
            small_s, large_s = m("scale/ours-small"), m("scale/ours-large")
            rows.append(("scaling, no-change run, %d → %d files" % (scale_files, small_files),
                         "%.2f s" % large_s, "the same at %d files" % scale_files, "%.2f s" % small_s,
                         "%.2f" % (large_s / small_s), "≤ 10.5", "yes" if large_s / small_s <= 10.5 else "no"))
        return rows

    def report(self, started):
        rows = self.table()
        mem_gib = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES") / 2**30
        mixed, small, scale = self.mode["mixed"], self.mode["small"], self.mode["scale"]
        head = ["Work", "Vaultora", "Against", "Its figure", "Ratio", "Goal", "Met"]
        lines = [
            "# Vaultora benchmark, %s mode" % self.args.mode,
            "",
            "%s on %s: %d cores, %.1f GiB memory; %s." % (
                started.strftime("%Y-%m-%d %H:%M"), socket.gethostname(), os.cpu_count(), mem_gib,
                "median of %d rounds after %d warm-up round(s), contenders alternating" % (self.rounds, self.warmup)),
            "Corpus A: %d files in %d folders, %.2f GiB, half compressible; corpus B: %d files of 0–4 KiB in %d "
            "folders; scaling: %d and %d small files." % (mixed[0], mixed[1], mixed[2], small[0], small[1], scale[0],
                                                          small[0]),
            "Load average (1 min) during the run: %s." % ", ".join("%.2f" % l[0] for l in self.loads),
            "",
            "| " + " | ".join(head) + " |",
            "|" + "|".join("---" for _ in head) + "|",
        ]
        for r in rows:
            lines.append("| " + " | ".join(r) + " |")
        lines.append("")
        lines.append("Medians of every timed command (seconds; max RSS):")
        lines.append("")
        for key in sorted(self.results):
            values = self.results[key]
            lines.append("- `%s`: %s; %.0f MiB" % (key, ", ".join("%.2f" % v[0] for v in values),
                                                     self.median(key, 1) / 1024))
        text = "\n".join(lines) + "\n"
        print(text)
        os.makedirs(self.args.results, exist_ok=True)
        name = "%s-%s%s.md" % (started.strftime("%Y-%m-%d"), socket.gethostname(),
                                "" if self.args.mode == "full" else "-" + self.args.mode)
        path = os.path.join(self.args.results, name)
        with open(path, "w") as f:
            f.write(text)
        log("bench: results written to %s" % path)
        if self.args.update_readme:
            update_readme(text)

    def main(self):
        started = datetime.datetime.now()
        mixed_files, mixed_dirs, mixed_gib = self.mode["mixed"]
        mixed = self.corpus("mixed", mixed_files, mixed_dirs, mixed_gib)
        small = self.corpus("small", *self.mode["small"])
        scale = self.corpus("small", *self.mode["scale"])
        pairs = (self.args.only.split(",") if self.args.only
                 else ["full", "incremental", "zip", "restore", "share", "ftp"])
        # The pairs that create many files run first, before anything is deleted; the archive
        # pairs create few files and give the deleted inodes time to age before the small-file
        # pairs run.
        if "full" in pairs:
            self.full_backup(mixed)
        if "restore" in pairs:
            self.restore(mixed)
        self.collect()
        if "zip" in pairs:
            self.archives(mixed)
            self.collect()
        if "share" in pairs:
            # A private smbd needs root (a throwaway user owns the share) and the packages samba and
            # smbclient.
            if os.geteuid() == 0 and shutil.which("smbd") and shutil.which("smbclient"):
                self.share(mixed)
                self.collect()
            else:
                log("bench: no share pair (needs root, smbd and smbclient)")
        if "ftp" in pairs:
            # A private vsftpd needs root (a throwaway system user logs in) and the packages vsftpd
            # and lftp.
            if os.geteuid() == 0 and shutil.which("vsftpd") and shutil.which("lftp"):
                self.ftp(mixed)
                self.collect()
            else:
                log("bench: no ftp pair (needs root, vsftpd and lftp)")
        if "incremental" in pairs:
            self.incremental(small, scale)
        self.collect()
        shutil.rmtree(self.runs, ignore_errors=True)
        self.report(started)


def update_readme(text):
    """Replaces the table between the markers of the README's Performance section."""
    path = os.path.join(REPO, "README.md")
    with open(path) as f:
        readme = f.read()
    begin, end = "<!-- bench:begin -->", "<!-- bench:end -->"
    if begin not in readme or end not in readme:
        log("bench: README has no bench markers; not updated")
        return
    body = "\n".join(line for line in text.split("\n") if not line.startswith("# "))
    head, rest = readme.split(begin, 1)
    _, tail = rest.split(end, 1)
    with open(path, "w") as f:
        f.write(head + begin + "\n" + body.strip() + "\n" + end + tail)
    log("bench: README updated")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--mode", choices=sorted(MODES), default="full")
    ap.add_argument("--cli", default=os.path.join(REPO, "build-release", "bin", "vaultora-cli"))
    ap.add_argument("--work", default=os.environ.get("VAULTORA_BENCH_DIR", os.path.join(HERE, "work")))
    ap.add_argument("--results", default=os.path.join(HERE, "results"))
    ap.add_argument("--generator")
    ap.add_argument("--rounds", type=int, help="counted rounds (default 4; quick 3; tiny 1)")
    ap.add_argument("--warmup", type=int, help="warm-up rounds (default 1; tiny 0)")
    ap.add_argument("--only", help="comma-separated subset of full,incremental,zip,restore,share,ftp")
    ap.add_argument("--update-readme", action="store_true")
    args = ap.parse_args()
    for tool in ("rsync", "zip", "7zz", "cp", "find", "sync"):
        if not shutil.which(tool):
            sys.exit("bench: missing tool: %s" % tool)
    if not os.path.exists("/usr/bin/time"):
        sys.exit("bench: missing /usr/bin/time (package time)")
    if not os.access(args.cli, os.X_OK):
        sys.exit("bench: no vaultora-cli at %s" % args.cli)
    os.makedirs(args.work, exist_ok=True)
    Bench(args).main()


if __name__ == "__main__":
    main()
