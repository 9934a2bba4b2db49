"""A real mosquitto broker on 127.0.0.1 at a free port, real mosquitto_sub subscribers and
mosquitto_pub publishers, and a test CA made with openssl, for the end-to-end tests of
`lyx mqtt`. Every process started here is ended by its PID."""

import os
import socket
import subprocess
import time
import uuid

from simprocess import end_process, wait_for

HOST = "127.0.0.1"


def free_port():
    with socket.socket() as s:
        s.bind((HOST, 0))
        return s.getsockname()[1]


class Broker:
    """mosquitto with its own configuration in `folder`; start() again after stop() brings it
    back on the same port. `persistent`: sessions and retained messages survive a restart;
    `acl_file`: the broker's access rules."""

    def __init__(self, folder, tls=None, password_file=None, persistent=False, acl_file=None):
        self.folder = folder
        self.port = free_port()
        self.process = None
        self.log_path = os.path.join(folder, f"broker-{self.port}.log")
        lines = [f"listener {self.port} {HOST}",
                 f"allow_anonymous {'false' if password_file else 'true'}",
                 # every message for a slow subscriber, and without Nagle's delay
                 "max_queued_messages 0", "set_tcp_nodelay true",
                 "log_dest stdout", "log_type all"]
        if os.geteuid() == 0:
            # Started by root, mosquitto would become the user "mosquitto", who cannot read
            # the test's private folder.
            lines.append("user root")
        if persistent:
            lines += ["persistence true", f"persistence_location {folder}/",
                      f"persistence_file broker-{self.port}.db"]
        else:
            lines.append("persistence false")
        if password_file:
            lines.append(f"password_file {password_file}")
        if acl_file:
            lines.append(f"acl_file {acl_file}")
        if tls:
            lines += [f"cafile {tls['ca']}", f"certfile {tls['cert']}", f"keyfile {tls['key']}"]
            if tls.get("require_certificate"):
                lines.append("require_certificate true")
        self.conf = os.path.join(folder, f"broker-{self.port}.conf")
        with open(self.conf, "w") as f:
            f.write("\n".join(lines) + "\n")
        self.start()

    def start(self):
        self._log = open(self.log_path, "a")
        self.process = subprocess.Popen(["mosquitto", "-c", self.conf], stdout=self._log,
                                        stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        try:
            wait_for(self._listening, timeout=10, what="the broker to listen")
        except BaseException:
            self.stop()
            raise

    def _listening(self):
        if self.process.poll() is not None:
            raise AssertionError("mosquitto ended: " + self.log())
        with socket.socket() as s:
            return s.connect_ex((HOST, self.port)) == 0

    def stop(self):
        end_process(self.process)
        self._log.close()

    def kill(self):
        """Ends the broker as a crash or power cut would: SIGKILL, nothing saved, no socket
        closed by the broker itself."""
        self.process.kill()
        self.process.wait()
        self._log.close()

    def log(self):
        with open(self.log_path) as f:
            return f.read()

    def url(self, scheme="mqtt"):
        return f"{scheme}://{HOST}:{self.port}"


class Message:
    def __init__(self, line):
        stamp, retain, qos, self.topic, *payload = line.split(" ", 4)
        self.received = float(stamp)  # the subscriber's clock, seconds since the epoch
        self.retain = retain == "1"
        self.qos = int(qos)
        self.payload = payload[0] if payload else ""

    def __repr__(self):
        return f"{self.topic} {self.payload!r}"


class Subscriber:
    """mosquitto_sub on `filters`, every message read back with its receipt time. A private
    probe topic tells when its subscriptions are in place."""

    def __init__(self, broker, folder, filters, qos=0, client_id=None, extra=()):
        self.probe = f"probe/{uuid.uuid4().hex}"
        self.path = os.path.join(folder, f"sub-{time.monotonic_ns()}.out")
        self._out = open(self.path, "w")
        command = ["mosquitto_sub", "-h", HOST, "-p", str(broker.port), "-q", str(qos),
                   "-F", "%U %r %q %t %p", "-t", self.probe]
        for f in filters:
            command += ["-t", f]
        if client_id:
            command += ["-i", client_id, "-c"]  # a session that outlives the connection
        command += list(extra)
        self.process = subprocess.Popen(command, stdout=self._out, stderr=subprocess.STDOUT,
                                        stdin=subprocess.DEVNULL)
        self.broker = broker
        self.extra = list(extra)
        try:
            self.wait_ready()
        except BaseException:
            self.stop()
            raise

    def wait_ready(self, timeout=15):
        def seen():
            publish(self.broker, self.probe, "probe", extra=self.extra)
            return any(m.topic == self.probe for m in self._all())
        wait_for(seen, timeout=timeout, interval=0.2, what="the subscriber to be subscribed")

    def _all(self):
        with open(self.path) as f:
            text = f.read()
        # The last line may still be half written.
        lines = text.split("\n")[:-1]
        return [Message(line) for line in lines if line.count(" ") >= 3]

    def messages(self, topic=None, match=None):
        out = [m for m in self._all() if m.topic != self.probe]
        if topic is not None:
            out = [m for m in out if m.topic == topic]
        if match is not None:
            out = [m for m in out if match(m)]
        return out

    def wait(self, topic=None, count=1, timeout=15, match=None):
        """The messages on `topic` (matching `match`) once there are `count` of them."""
        def enough():
            found = self.messages(topic, match)
            return found if len(found) >= count else None
        return wait_for(enough, timeout=timeout, what=f"{count} messages on {topic}")

    def stop(self):
        end_process(self.process)
        self._out.close()


def publish(broker, topic, body=None, qos=1, extra=()):
    """Publishes one message (no body: an empty one) with mosquitto_pub."""
    command = ["mosquitto_pub", "-h", HOST, "-p", str(broker.port), "-q", str(qos), "-t", topic]
    command += ["-n"] if body is None else ["-m", body]
    subprocess.run(command + list(extra), check=True, timeout=15, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)


def make_ca(folder, name):
    """A CA and a server certificate for 127.0.0.1 it signed, and a client certificate it
    signed; returns the file names."""
    files = {k: os.path.join(folder, f"{name}-{k}.pem")
             for k in ("ca", "ca-key", "cert", "key", "client-cert", "client-key")}

    def openssl(*args):
        subprocess.run(["openssl", *args], check=True, capture_output=True, timeout=60)

    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
            "-subj", f"/CN={name} test CA", "-keyout", files["ca-key"], "-out", files["ca"])
    for prefix, cn, ext in (("", "127.0.0.1", "subjectAltName=IP:127.0.0.1"),
                            ("client-", "lyx-test-client", "extendedKeyUsage=clientAuth")):
        request = os.path.join(folder, f"{name}-{prefix}req.pem")
        extensions = os.path.join(folder, f"{name}-{prefix}ext.cnf")
        with open(extensions, "w") as f:
            f.write(ext + "\n")
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", f"/CN={cn}",
                "-keyout", files[prefix + "key"], "-out", request)
        openssl("x509", "-req", "-in", request, "-CA", files["ca"], "-CAkey", files["ca-key"],
                "-CAcreateserial", "-days", "2", "-extfile", extensions,
                "-out", files[prefix + "cert"])
    return files
