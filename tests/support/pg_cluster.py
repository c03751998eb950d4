#!/usr/bin/env python3
"""A private PostgreSQL cluster for the tests, in a folder of its own.

    pg_cluster.py start DIR     make and start it; prints its port
    pg_cluster.py restart DIR   stop it fast and start it again
    pg_cluster.py stop DIR      stop it and remove DIR

It listens on a free port of 127.0.0.1 only and holds the role "nodalis"
(password "nodalis-test", password login over TCP) and its database
"nodalis". Run as root, the server runs as the user postgres (or nobody),
as PostgreSQL refuses root. Exit status 77 when the server packages are
missing, with the reason on stderr."""
import glob, os, pwd, shutil, socket, subprocess, sys

USER, PASSWORD, DATABASE = "nodalis", "nodalis-test", "nodalis"
MISSING = 77


def server_bin():
    found = sorted(glob.glob("/usr/lib/postgresql/*/bin/initdb"),
                   key=lambda p: int(p.split("/")[4]) if p.split("/")[4].isdigit() else 0)
    if found:
        return os.path.dirname(found[-1])
    initdb = shutil.which("initdb")
    return os.path.dirname(initdb) if initdb else None


def owner():
    """The unprivileged user the server runs as, None when we are not root."""
    if os.geteuid() != 0:
        return None
    for name in ("postgres", "nobody"):
        try:
            return pwd.getpwnam(name)
        except KeyError:
            pass
    raise SystemExit("pg_cluster: running as root and no user postgres or nobody")


def run(argv, user, **kw):
    if user is not None:
        argv = ["runuser", "-u", user.pw_name, "--"] + argv
    return subprocess.run(argv, check=True, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          **kw)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def paths(folder):
    folder = os.path.abspath(folder)
    return folder, os.path.join(folder, "data"), os.path.join(folder, "port")


def pg_ctl(folder, *args):
    folder, data, _ = paths(folder)
    run([os.path.join(server_bin(), "pg_ctl"), "-D", data, "-s", "-w", "-t", "60",
         "-l", os.path.join(folder, "server.log")] + list(args), owner())


def start(folder):
    """Makes and starts the cluster; its port."""
    bin_dir = server_bin()
    if not bin_dir:
        sys.stderr.write("PostgreSQL server packages missing (no initdb): "
                         "apt-get install postgresql\n")
        raise SystemExit(MISSING)
    folder, data, port_file = paths(folder)
    user = owner()
    os.makedirs(folder, exist_ok=True)
    if user is not None:
        os.chown(folder, user.pw_uid, user.pw_gid)
        # The server must reach its folder through every parent.
        parent = os.path.dirname(folder)
        while parent != "/":
            os.chmod(parent, os.stat(parent).st_mode | 0o011)
            parent = os.path.dirname(parent)
    secret = os.path.join(folder, "pwfile")
    with open(secret, "w") as f:
        f.write(PASSWORD + "\n")
    if user is not None:
        os.chown(secret, user.pw_uid, user.pw_gid)
    run([os.path.join(bin_dir, "initdb"), "-D", data, "-U", "postgres", "-A", "trust",
         "--auth-host=scram-sha-256", "--pwfile", secret, "-E", "UTF8", "--no-sync"], user)
    port = free_port()
    with open(os.path.join(data, "postgresql.auto.conf"), "a") as f:
        f.write(f"port = {port}\nlisten_addresses = '127.0.0.1'\n"
                f"unix_socket_directories = '{folder}'\nmax_connections = 400\n"
                "fsync = off\nsynchronous_commit = off\nfull_page_writes = off\n"
                "client_min_messages = warning\n")
    pg_ctl(folder, "start")
    psql = [os.path.join(bin_dir, "psql"), "-h", folder, "-p", str(port), "-U", "postgres",
            "-d", "postgres", "-v", "ON_ERROR_STOP=1", "-q", "-c"]
    run(psql + [f"CREATE ROLE {USER} LOGIN PASSWORD '{PASSWORD}'"], user)
    run(psql + [f"CREATE DATABASE {DATABASE} OWNER {USER}"], user)
    with open(port_file, "w") as f:
        f.write(str(port))
    return port


def restart(folder):
    pg_ctl(folder, "restart", "-m", "fast")


def stop(folder):
    folder, data, _ = paths(folder)
    if os.path.isdir(data):
        try:
            pg_ctl(folder, "stop", "-m", "immediate")
        except subprocess.CalledProcessError:
            pass
    shutil.rmtree(folder, ignore_errors=True)


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("start", "restart", "stop"):
        raise SystemExit(__doc__)
    action, folder = sys.argv[1], sys.argv[2]
    try:
        if action == "start":
            print(start(folder))
        elif action == "restart":
            restart(folder)
        else:
            stop(folder)
    except subprocess.CalledProcessError as e:
        sys.stderr.write(f"pg_cluster {action}: {' '.join(e.cmd)}:\n{e.stdout.decode(errors='replace')}\n")
        log = os.path.join(os.path.abspath(folder), "server.log")
        if os.path.exists(log):
            sys.stderr.write(open(log, errors="replace").read()[-2000:])
        raise SystemExit(1)


if __name__ == "__main__":
    main()
