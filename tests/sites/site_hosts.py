"""Site hosts on one machine, for the multi-site rehearsal and its benchmark.

Each site is a network namespace with only loopback. In it run the site's units (one kqunit
fleet on the same addresses at every site) and the site host: Debian's sshd with a config, host
key and authorized key made here, in a mount namespace of its own in which /usr, /etc, /var and
/root are overlays whose upper folders lie in the site's temp folder and /run is a fresh tmpfs.
So dpkg, apt and Ansible's temp files on a site host change only that site, and the machine is
left as it was. The controller reaches a site host only through its ProxyCommand, which enters
the site's namespace; a site's units are reachable from its own host alone.

Run as root. Every wait is bounded; Sites.close() ends every process it started and removes the
namespaces, also after a failure.
"""

import json
import os
import shutil
import signal
import subprocess
import time

OVERLAID = ("usr", "etc", "var", "root")
SSHD = "/usr/sbin/sshd"


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          timeout=60, **kw)


def wait_port(netns, address, port, seconds):
    """True once address:port accepts a connection inside netns, within `seconds`."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        probe = subprocess.run(["ip", "netns", "exec", netns, "nc", "-z", "-w", "1", address,
                                str(port)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               timeout=10)
        if probe.returncode == 0:
            return True
        time.sleep(0.1)
    return False


def stop(process, seconds=10):
    if process is None or process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(seconds)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(seconds)


class Site:
    """One site: its namespace, its units and its host."""

    def __init__(self, sites, index, units, scenario):
        self.name = "site%d" % index
        self.netns = "kq%d-%s" % (os.getpid(), self.name)
        self.folder = os.path.join(sites.folder, self.name)
        self.store = os.path.join(self.folder, "store")
        self.first, self.last = units
        self.scenario = scenario
        self.sites = sites
        self.fleet = None
        self.switched_on = []  # units started later, one kqunit each
        self.sshd = None
        os.makedirs(self.store)

    def unit_addresses(self):
        first = int(self.first.rsplit(".", 1)[1])
        last = int(self.last.rsplit(".", 1)[1])
        prefix = self.first.rsplit(".", 1)[0]
        return ["%s.%d" % (prefix, n) for n in range(first, last + 1)]

    def start(self):
        run(["ip", "netns", "add", self.netns])
        self.sites.namespaces.append(self.netns)
        run(["ip", "-n", self.netns, "link", "set", "lo", "up"])
        self.start_units(self.scenario)
        self.start_host()

    def start_units(self, scenario):
        """(Re)starts the site's kqunit fleet; the stores are kept."""
        stop(self.fleet)
        self.fleet = self.kqunit(self.first, self.last, self.store, scenario)

    def switch_on(self, address):
        """Starts one more unit, as one switched on while its site is updated."""
        self.switched_on.append(self.kqunit(address, address, os.path.join(self.store, address)))

    def kqunit(self, first, last, store, scenario=""):
        """A kqunit for first-last in the site's namespace, once its first and last listen."""
        cmd = ["ip", "netns", "exec", self.netns, self.sites.kqunit, "--address",
               "%s-%s" % (first, last), "--store", store, "--strict", "--idle-timeout-s", "900"]
        if scenario:
            path = os.path.join(self.folder, "scenario-%d.txt" % time.monotonic_ns())
            with open(path, "w") as f:
                f.write(scenario)
            cmd += ["--scenario", path]
        log = open(os.path.join(self.folder, "units.txt"), "ab")
        units = subprocess.Popen(cmd, stdout=log, stderr=subprocess.STDOUT)
        log.close()
        for address in (first, last):
            if not wait_port(self.netns, address, 21, 10):
                raise RuntimeError("%s: unit %s does not listen" % (self.name, address))
        return units

    def start_host(self):
        key = os.path.join(self.folder, "host_key")
        run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", key])
        config = os.path.join(self.folder, "sshd_config")
        with open(config, "w") as f:
            f.write("\n".join([
                "ListenAddress 127.0.0.1", "Port 22", "HostKey " + key,
                "AuthorizedKeysFile " + self.sites.authorized_keys,
                "PermitRootLogin prohibit-password", "PasswordAuthentication no",
                "KbdInteractiveAuthentication no", "UsePAM no", "StrictModes no",
                "PidFile none", "MaxSessions 64", "MaxStartups 64", "LogLevel ERROR",
                "Subsystem sftp internal-sftp", ""]))
        mounts = []
        for top in OVERLAID:
            upper = os.path.join(self.folder, "overlay", top)
            os.makedirs(upper + "/upper")
            os.makedirs(upper + "/work")
            mounts.append("mount -t overlay kqsite -o lowerdir=/%s,upperdir=%s/upper,workdir=%s/work"
                          " /%s" % (top, upper, upper, top))
        script = " && ".join(mounts + ["mount -t tmpfs kqsite /run", "mkdir -m 0755 /run/sshd",
                                       "exec %s -D -e -f %s" % (SSHD, config)])
        log = open(os.path.join(self.folder, "sshd.txt"), "ab")
        self.sshd = subprocess.Popen(
            ["ip", "netns", "exec", self.netns, "unshare", "--mount", "--propagation", "private",
             "--", "/bin/sh", "-c", script], stdout=log, stderr=subprocess.STDOUT)
        log.close()
        if not wait_port(self.netns, "127.0.0.1", 22, 10):
            raise RuntimeError("%s: sshd does not listen" % self.name)
        with open(key + ".pub") as f:
            self.sites.known_hosts.append(self.name + " " + " ".join(f.read().split()[:2]))

    def host_vars(self, units):
        # The proxy's stderr must not be the pipe of the ssh that Ansible waits on: a persistent
        # master would keep it open, and Ansible would wait until the master ends.
        proxy = "ip netns exec %s nc 127.0.0.1 22 2>/dev/null" % self.netns
        return {
            "ansible_host": self.name,
            "ansible_ssh_common_args": "-o ProxyCommand='%s' -o UserKnownHostsFile=%s "
                                       "-o StrictHostKeyChecking=yes -o IdentitiesOnly=yes"
                                       % (proxy, self.sites.known_hosts_file),
            "kqvorlink_units": units,
        }

    def close(self):
        stop(self.sshd)
        for units in [self.fleet] + self.switched_on:
            stop(units)
        # Sessions of the site host outlive its sshd; every process left in the namespace is
        # one of this site's.
        pids = subprocess.run(["ip", "netns", "pids", self.netns], stdout=subprocess.PIPE,
                              text=True, timeout=30).stdout.split()
        for pid in pids:
            try:
                os.kill(int(pid), signal.SIGKILL)
            except ProcessLookupError:
                pass


class Sites:
    """The sites and the controller's side: key, known hosts, inventory, environment."""

    def __init__(self, folder, kqunit, ansible_dir):
        self.folder = folder
        self.kqunit = kqunit
        self.ansible_dir = ansible_dir
        self.namespaces = []
        self.known_hosts = []
        self.sites = []
        self.key = os.path.join(folder, "controller_key")
        self.authorized_keys = os.path.join(folder, "authorized_keys")
        self.known_hosts_file = os.path.join(folder, "known_hosts")
        run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", self.key])
        shutil.copyfile(self.key + ".pub", self.authorized_keys)

    def add(self, units, scenario=""):
        site = Site(self, len(self.sites) + 1, units, scenario)
        self.sites.append(site)
        site.start()
        with open(self.known_hosts_file, "w") as f:
            f.write("\n".join(self.known_hosts) + "\n")
        return site

    def write_inventory(self, path, group_vars, units_of):
        """An inventory of every site; units_of(site) gives its kqvorlink_units."""
        hosts = {s.name: s.host_vars(units_of(s)) for s in self.sites}
        group_vars = dict(group_vars, ansible_user="root",
                          ansible_ssh_private_key_file=self.key,
                          ansible_python_interpreter="/usr/bin/python3")
        # The controller's own tasks (delegated to localhost) keep their temp files here too.
        local = {"ansible_connection": "local", "ansible_python_interpreter": "/usr/bin/python3",
                 "ansible_remote_tmp": os.path.join(self.folder, "ansible-home", "local-tmp")}
        with open(path, "w") as f:
            json.dump({"all": {"hosts": {"localhost": local},
                               "children": {"sites": {"vars": group_vars, "hosts": hosts}}}}, f,
                      indent=1)
        return path

    def environment(self):
        home = os.path.join(self.folder, "ansible-home")
        env = dict(os.environ)
        env.update({
            "ANSIBLE_CONFIG": os.path.join(self.ansible_dir, "ansible.cfg"),
            "ANSIBLE_COLLECTIONS_PATH": self.ansible_dir,
            "ANSIBLE_HOME": home,
            "ANSIBLE_LOCAL_TEMP": os.path.join(home, "tmp"),
            "ANSIBLE_SSH_CONTROL_PATH_DIR": os.path.join(self.folder, "cp"),
            "ANSIBLE_SSH_ARGS": "-C -o ControlMaster=auto -o ControlPersist=600s",
            "ANSIBLE_NOCOLOR": "1",
            "ANSIBLE_HOST_KEY_CHECKING": "True",
            "ANSIBLE_DEPRECATION_WARNINGS": "False",
        })
        return env

    def close(self):
        """Ends the SSH masters, the site hosts and the units, and removes the namespaces."""
        control = os.path.join(self.folder, "cp")
        for path in (os.listdir(control) if os.path.isdir(control) else []):
            subprocess.run(["ssh", "-o", "ControlPath=" + os.path.join(control, path), "-O",
                            "exit", "site"], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=10)
        for site in self.sites:
            site.close()
        for netns in self.namespaces:
            subprocess.run(["ip", "netns", "del", netns], timeout=30)
