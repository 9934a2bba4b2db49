"""lyx mqtt end to end: the real gateway between a real lyx-basestation-sim and a real mosquitto
broker on 127.0.0.1, watched by real mosquitto_sub subscribers and commanded through
mosquitto_pub."""

import http.client
import json
import os
import re
import signal
import socket
import subprocess
import time
from datetime import datetime

import clitest
from clitest import wait_for
from mqttprocess import Broker, Subscriber, free_port, make_ca, publish
from networks import COMMAND_NETWORK, COUNTER, LOAD_CELL, SILENT

CLIENT = "gw-test"
STATUS = f"lyx/gateway/{CLIENT}/status"
DETAIL = STATUS + "/detail"

# Powered off: each test powers them up once the gateway is connected, so every packet sent
# is one the gateway can have received.
READINGS = """
station 1 usb channel=1 id=0x001234
module 0x000101 tag=101 type=int32 wave=ramp amplitude=1000000 period=1000s rate=40 power=off
module 0x000102 tag=102 type=float value=2.5 rate=20 status=5 rssi=-20 quality=48 battery=low power=off
module 0x000103 tag=103 type=string value="LC-1 ok" rate=10 error=yes power=off
"""
MODULES = {101: "0x000101", 102: "0x000102", 103: "0x000103"}


class MqttTest(clitest.CliTest):
    def setUp(self):
        super().setUp()
        self.brokers = []
        self.subscribers = []
        # A cleanup runs when a setUp fails too, so no process outlives its test.
        self.addCleanup(self.end_everything)

    def tearDown(self):
        pass  # end_everything does it

    def end_everything(self):
        for process in self.running:
            process.close()
        for s in self.subscribers:
            s.stop()
        for b in self.brokers:
            b.stop()
        clitest.CliTest.tearDown(self)

    def start_broker(self, **options):
        broker = Broker(self.workspace.root, **options)
        self.brokers.append(broker)
        return broker

    def subscribe(self, broker, *filters, **options):
        subscriber = Subscriber(broker, self.workspace.root, filters, **options)
        self.subscribers.append(subscriber)
        return subscriber

    def start_gateway(self, broker, *args, url=None):
        client = () if "--client-id" in args else ("--client-id", CLIENT)
        return self.start_lyx("mqtt", "--broker", url or broker.url(), *client, *args)

    def wait_online(self, subscriber, after=0):
        return subscriber.wait(STATUS, count=after + 1,
                               match=lambda m: m.payload == "online")

    def sent(self, tag, since=0.0):
        return len([e for _, e in self.sim.events_of("data", since) if e.get("code") == str(tag)])

    def power(self, state, *tags):
        for tag in tags:
            self.assertTrue(self.sim.command(f"power{state} {MODULES[tag]}").startswith("ok"))

    def packets(self, subscriber, tag, station="001234"):
        return [json.loads(m.payload) for m in subscriber.messages(f"lyx/{station}/{tag}/packet")]

    def burst(self, subscriber, seconds, tags=(101, 102, 103)):
        """The modules of `tags` send for `seconds`; returns once every packet is published
        and the last state of each tag has fallen due."""
        self.power("up", *tags)
        time.sleep(seconds)
        self.power("down", *tags)
        self.wait_all_published(subscriber, tags)
        time.sleep(1.5)

    def down_for_5_seconds(self, broker, ended, gateway):
        """`ended` ends the broker; 5 s after the gateway noticed, it is started again and the
        gateway must reconnect by itself."""
        ended()
        wait_for(lambda: "was lost" in gateway.errors(), what="the gateway to notice")
        time.sleep(5)
        broker.start()
        wait_for(lambda: gateway.errors().count("connected to") == 2, timeout=40,
                 what="the gateway to reconnect by itself")

    def scrape(self, port, method="GET", path="/metrics", headers=None):
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
        try:
            connection.request(method, path, headers=headers or {})
            response = connection.getresponse()
            return response.status, dict(response.getheaders()), response.read().decode()
        finally:
            connection.close()

    def samples(self, port):
        """The samples of /metrics by name and labels; every one must follow its # TYPE."""
        status, headers, text = self.scrape(port)
        self.assertEqual(status, 200)
        self.assertEqual(headers["Content-Type"], "text/plain; version=0.0.4; charset=utf-8")
        typed, out = set(), {}
        for line in text.splitlines():
            if line.startswith("# TYPE "):
                name, kind = line.split()[2:4]
                self.assertIn(kind, ("counter", "gauge"))
                self.assertEqual(name.endswith("_total"), kind == "counter", name)
                typed.add(name)
            elif not line.startswith("#"):
                match = re.fullmatch(r'(lyx_[a-z_]+)(\{[^}]*\})? (\S+)', line)
                self.assertIsNotNone(match, line)
                self.assertIn(match[1], typed, f"{line} has no # TYPE before it")
                out[match[1] + (match[2] or "")] = float(match[3])
        return out

    def wait_all_published(self, subscriber, tags, timeout=20):
        """Waits until every packet the simulator sent of `tags` has arrived (the modules are
        off); returns the packets of each tag."""
        wait_for(lambda: all(len(self.packets(subscriber, t)) >= self.sent(t) for t in tags),
                 timeout=timeout, what="every packet sent to be published")
        time.sleep(0.5)  # none more may come
        return {t: self.packets(subscriber, t) for t in tags}


class Publishing(MqttTest):
    def test_status_online_retained_offline_on_stop_and_last_will_on_kill(self):
        broker = self.start_broker()
        self.start_simulator(READINGS)
        gateway = self.start_gateway(broker)
        wait_for(lambda: "connected to" in gateway.errors(), what="the gateway to connect")
        late = self.subscribe(broker, STATUS)
        self.assertTrue(self.wait_online(late)[0].retain)
        self.assertEqual(gateway.stop(signal.SIGTERM), 0)
        self.assertEqual(late.wait(STATUS, count=2)[-1].payload, "offline")
        self.assertRegex(gateway.errors(), r'packets received, \d+ published, 0 dropped, 0 left '
                                           r'unpublished; "offline" published')
        # Killed, it cannot say so: the broker publishes its last will.
        gateway = self.start_gateway(broker)
        self.wait_online(late, after=1)
        self.assertEqual(gateway.stop(signal.SIGKILL), -signal.SIGKILL)
        self.assertEqual(late.wait(STATUS, count=4)[-1].payload, "offline")
        after = self.subscribe(broker, STATUS)
        message = after.wait(STATUS)[0]
        self.assertEqual((message.payload, message.retain), ("offline", True))

    def test_every_packet_once_in_order_with_its_json(self):
        broker = self.start_broker()
        self.start_simulator(READINGS)
        sub = self.subscribe(broker, "lyx/+/+/packet", STATUS)
        self.start_gateway(broker)
        self.wait_online(sub)
        self.power("up", 101, 102, 103)
        time.sleep(3)
        self.power("down", 101, 102, 103)
        got = self.wait_all_published(sub, (101, 102, 103))
        for tag in (101, 102, 103):
            self.assertEqual(len(got[tag]), self.sent(tag), tag)
        ramp = [p["value"] for p in got[101]]
        self.assertGreater(len(ramp), 80)
        self.assertEqual(ramp, sorted(set(ramp)))  # each once, in the order sent
        self.assertEqual({k: v for k, v in got[102][0].items() if k != "time"},
                         {"station": 1, "tag": 102, "value": 2.5, "value_type": "number",
                          "status": 5, "rssi": -20, "cv": 48, "batt_low": True, "error": False,
                          "station_id": "001234"})
        self.assertEqual((got[103][0]["value"], got[103][0]["value_type"], got[103][0]["error"]),
                         ("LC-1 ok", "text", True))
        self.assertRegex(got[101][0]["time"],
                         r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d$")
        self.assertFalse(any(m.retain for m in sub.messages() if m.topic.endswith("/packet")))

    def test_retained_state_at_most_once_a_second_and_the_last_for_a_later_subscriber(self):
        broker = self.start_broker()
        self.start_simulator(READINGS)
        sub = self.subscribe(broker, "lyx/#")
        self.start_gateway(broker)
        self.wait_online(sub)
        self.burst(sub, 3.5)
        states = sub.messages("lyx/001234/101/state")
        # 40 packets a second, one state a second at most: the first at once, then one at the
        # end of each second.
        self.assertLessEqual(len(states), 6)
        self.assertGreaterEqual(len(states), 3)
        times = [json.loads(m.payload)["time"] for m in states]
        self.assertEqual(times, sorted(times))
        later = self.subscribe(broker, "lyx/+/+/state")
        retained = {m.topic: m for m in later.wait(count=3)}
        for tag in (101, 102, 103):
            with self.subTest(tag=tag):
                last = sub.messages(f"lyx/001234/{tag}/packet")[-1]
                state = retained[f"lyx/001234/{tag}/state"]
                self.assertTrue(state.retain)
                self.assertEqual(state.payload, last.payload)  # the last of the burst


class CommandNetwork(MqttTest):
    """The command network, a broker that keeps what it stores across a restart, a subscriber
    of every reply and the gateway started with `gateway_args`."""
    gateway_args = ()
    also_subscribed = ()  # more topics for the subscriber of replies, from the start

    def setUp(self):
        super().setUp()
        self.broker = self.start_broker(persistent=True)
        self.start_simulator(COMMAND_NETWORK)
        self.replies = self.subscribe(self.broker, "lyx/cmd/+/result", "lyx/+/cmd/+/result",
                                      f"lyx/gateway/{CLIENT}/cmd/+/result", STATUS,
                                      "lyx/001234/status", *self.also_subscribed)
        self.gateway = self.start_gateway(self.broker, *self.gateway_args)
        self.wait_online(self.replies)
        # The station "online": its command topic is subscribed by then.
        self.replies.wait("lyx/001234/status", match=lambda m: m.payload == "online")
        self.next_id = 0

    def request(self, topic, body, timeout=20):
        """Publishes `body` (a dict, given an "id" here, or a text sent as it is) and returns
        the reply that carries its id, or the next reply when the body is a text."""
        before = len(self.replies.messages(topic + "/result"))
        if isinstance(body, dict):
            self.next_id += 1
            request_id = f"req-{self.next_id}"
            body = dict(body, id=request_id)
            publish(self.broker, topic, json.dumps(body))
            reply = self.replies.wait(topic + "/result", timeout=timeout,
                                      match=lambda m: json.loads(m.payload)["id"] == request_id)
            return json.loads(reply[0].payload)
        publish(self.broker, topic, body)
        return json.loads(self.replies.wait(topic + "/result", count=before + 1,
                                            timeout=timeout)[-1].payload)

    def assertReply(self, reply, status, response, *texts):
        self.assertEqual((reply["status"], reply["response"]), (status, response), reply)
        for text in texts:
            self.assertIn(text, reply["message"])


class Commands(CommandNetwork):
    gateway_args = ("--commands", "all")

    def test_module_commands_reach_the_modules(self):
        since = time.monotonic()
        reply = self.request("lyx/cmd/sleep", {"tag": 1235})
        self.assertReply(reply, 0, "RT_ACK", "sleep sent to tag 1235")
        self.assertEqual(reply["tags"], [1235])
        self.assertHeard("command", since, module=COUNTER, code=1)
        self.assertFalse(self.heard("command", since, module=LOAD_CELL))
        since = time.monotonic()
        self.assertReply(self.request("lyx/001234/cmd/wake", {"module": hex(COUNTER)}),
                         0, "RT_ACK", "is awake")
        self.sim.wait_event("woken", since, match=lambda e: e.get("module") == str(COUNTER))
        since = time.monotonic()
        self.assertReply(self.request("lyx/cmd/pause", {"tag": 1234}), 0, "RT_ACK")
        self.assertHeard("command", since, module=LOAD_CELL, code=2)
        since = time.monotonic()
        reply = self.request("lyx/cmd/stay-awake", {"for": "3s"})
        self.assertReply(reply, 0, None, "awake")
        self.assertHeard("command", since, module=COUNTER, code=3)
        self.assertReply(self.request("lyx/cmd/read", {"module": SILENT, "param": 20}),
                         1, "RT_NORESPONSE")
        # Its journal names each request by its id, with the network's answer.
        self.assertIn('read on lyx/cmd/read (id "req-5"): RT_NORESPONSE, ', self.gateway.errors())

    def test_parameters_pairing_and_station_commands(self):
        since = time.monotonic()
        reply = self.request("lyx/001234/cmd/read", {"module": LOAD_CELL, "param": 21})
        self.assertReply(reply, 0, "RT_ACK")
        self.assertEqual((reply["value"], reply["value_type"]), ("LC-1", "text"))
        self.assertHeard("read", since, module=LOAD_CELL, code=21)
        self.assertReply(self.request("lyx/cmd/write", {"module": LOAD_CELL, "param": 20,
                                                        "type": "float", "value": "2.5"}),
                         0, "RT_ACK", "wrote parameter 20")
        self.assertHeard("written", since, module=LOAD_CELL, code=20)
        self.assertReply(self.request("lyx/cmd/write", {"module": LOAD_CELL, "param": 20,
                                                        "type": "float", "value": 50}),
                         1, "RT_INVALID_DATA")
        reply = self.request("lyx/cmd/send", {"tag": 500, "type": "uint16", "value": 4660,
                                              "status": 3})
        self.assertReply(reply, 0, None, "packet sent to tag 500")
        self.assertHeard("packet-to-tag", since, station=1, code=500)
        reply = self.request("lyx/cmd/station", {"station": 1})
        self.assertReply(reply, 0, "RT_ACK")
        self.assertEqual((reply["station_id"], reply["channel"]), (0x001234, 1))
        # The station by its number and by its ID as the topics give it; the gateway by its ID.
        self.assertEqual((reply["station"], reply["station_hex"], reply["gateway"]),
                         (1, "001234", CLIENT))

        since = time.monotonic()
        readings = self.subscribe(self.broker, "lyx/001234/1234/packet")
        publish(self.broker, "lyx/cmd/pair", json.dumps({"seconds": 8, "id": "pairing"}))
        self.sim.wait_event("bind-requested", since)
        # While it waits for a module the other modules' readings go on being published.
        heard = len(readings.messages())
        time.sleep(1.5)
        self.assertGreaterEqual(len(readings.messages()) - heard, 5)
        self.assertFalse(self.replies.messages("lyx/cmd/pair/result"))
        self.assertTrue(self.sim.command("powerup 66051").startswith("ok"))
        reply = json.loads(self.replies.wait("lyx/cmd/pair/result")[0].payload)
        self.assertEqual(reply["id"], "pairing")
        self.assertReply(reply, 0, "RT_ACK", "paired module 0x010203 (66051)")
        # The station took the module's channel, and the reply says where it is now.
        self.assertEqual((reply["module"], reply["tag"], reply["channel"]), (66051, 42, 7))

        since = time.monotonic()
        self.assertReply(self.request("lyx/001234/cmd/channel", {"channel": 9}), 0, "RT_ACK")
        self.assertHeard("channel", since, station=1, code=9)

    def test_bad_bodies_get_an_error_reply_and_reach_nothing(self):
        since = time.monotonic()
        cases = [
            ("lyx/cmd/sleep", "not json", "the body is not JSON"),
            ("lyx/cmd/sleep", "[1, 2]", "must be a JSON object, not array"),
            ("lyx/cmd/sleep", "[" * 200 + "]" * 200, "nests deeper than"),
            ("lyx/cmd/read", None, '"module" is missing'),
            ("lyx/cmd/sleep", {"tga": 1235}, 'unknown field "tga"'),
            ("lyx/cmd/sleep", {}, '"tag" is missing'),
            ("lyx/cmd/sleep", {"tag": 1235, "all": True}, "not both"),
            ("lyx/cmd/sleep", {"tag": "abc"}, "tag: expected a whole number"),
            ("lyx/cmd/sleep", {"tag": 70000}, "tag: '70000' is out of range"),
            ("lyx/cmd/sleep", {"all": "yes"}, "all: expected true or false"),
            ("lyx/cmd/write", {"module": LOAD_CELL, "param": 20, "type": "double", "value": 1},
             "type: 'double' is not one of"),
            ("lyx/cmd/write", {"module": LOAD_CELL, "param": 20, "type": "uint8", "value": 300},
             "value: '300' is out of range"),
            ("lyx/cmd/stay-awake", {"for": "2 weeks"}, "for:"),
            ("lyx/001234/cmd/station", {"station": 1}, 'leave "station" out'),
            ("lyx/cmd/frobnicate", {}, "unknown command 'frobnicate'"),
            ("lyx/cmd/pair", {"seconds": 61}, "takes at most 60 s, not 61"),
            ("lyx/cmd/forget", {}, '"tag" is missing'),
        ]
        for topic, body, message in cases:
            with self.subTest(topic=topic, body=body):
                reply = self.request(topic, body)
                self.assertReply(reply, 2, None, message)
                if isinstance(body, dict):
                    self.assertEqual(reply["id"], f"req-{self.next_id}")
                else:
                    self.assertIsNone(reply["id"])
        self.assertFalse(self.heard("command", since) or self.heard("written", since))
        # Still serving.
        self.assertReply(self.request("lyx/cmd/station", {}), 0, "RT_ACK")
        self.assertIsNone(self.gateway.process.poll())


    def test_send_beyond_ten_radio_transmissions_a_second_is_refused(self):
        since = time.monotonic()
        lines = "\n".join(json.dumps({"tag": 500, "type": "uint8", "value": i, "id": f"s{i}"})
                          for i in range(25))
        # One client publishing as fast as it can.
        subprocess.run(["mosquitto_pub", "-h", "127.0.0.1", "-p", str(self.broker.port), "-q", "1",
                        "-t", "lyx/cmd/send", "-l"], input=lines + "\n", text=True, check=True,
                       timeout=15)
        replies = [json.loads(m.payload) for m in
                   self.replies.wait("lyx/cmd/send/result", count=25, timeout=30)]
        done = [r for r in replies if r["status"] == 0]
        refused = [r for r in replies if r["status"] == 2]
        self.assertEqual(len(done) + len(refused), 25)
        self.assertTrue(10 <= len(done) <= 15, len(done))  # 10 at once, then 10 a second
        self.assertIn("more than 10 radio transmissions a second", refused[0]["message"])
        time.sleep(0.5)
        self.assertEqual(len(self.heard("packet-to-tag", since, code=500)), len(done))

    def test_a_retained_command_is_not_run_at_a_start_nor_again_at_a_reconnection(self):
        self.assertEqual(self.gateway.stop(signal.SIGTERM), 0)
        since = time.monotonic()
        # A dashboard that publishes retained, as many do by default.
        publish(self.broker, "lyx/cmd/sleep", json.dumps({"tag": 1235, "id": "kept"}),
                extra=("-r",))
        self.gateway = self.start_gateway(self.broker, *self.gateway_args)
        reply = json.loads(self.replies.wait(
            "lyx/cmd/sleep/result", match=lambda m: json.loads(m.payload)["id"] == "kept")[0].payload)
        self.assertReply(reply, 2, None, "retained commands are not executed")
        # The broker (which keeps it) restarts: the gateway gets it again, and says nothing more.
        self.broker.stop()
        self.broker.start()
        wait_for(lambda: self.gateway.errors().count("connected to") == 2, timeout=30,
                 what="the gateway to reconnect")
        time.sleep(6)  # longer than a sleep's command window
        self.assertEqual(self.gateway.errors().count("refused sleep on lyx/cmd/sleep"), 1)
        self.assertIn('(id "kept"): retained commands are not executed', self.gateway.errors())
        self.assertFalse(self.heard("command", since, module=COUNTER))


class SharedBroker(CommandNetwork):
    """The gateway as it starts by default: one client among many on a broker."""

    def test_by_default_only_station_and_read_run_and_the_station_keeps_its_channel(self):
        since = time.monotonic()
        refused = [
            ("lyx/001234/cmd/channel", {"channel": 9}),
            ("lyx/cmd/write", {"module": LOAD_CELL, "param": 20, "type": "float", "value": 2}),
            ("lyx/cmd/pair", {"seconds": 5}),
            ("lyx/cmd/send", {"tag": 500, "type": "uint8", "value": 1}),
            ("lyx/cmd/sleep", {"tag": 1235}),
            ("lyx/cmd/stay-awake", {"for": 5}),
        ]
        for topic, body in refused:
            with self.subTest(topic=topic):
                name = topic.rsplit("/", 1)[1]
                reply = self.request(topic, body)
                self.assertReply(reply, 2, None, f"this gateway does not run '{name}'",
                                 "(--commands station,read)", "--commands all")
                self.assertEqual(reply["gateway"], CLIENT)
        reply = self.request("lyx/cmd/read", {"module": LOAD_CELL, "param": 21})
        self.assertReply(reply, 0, "RT_ACK")
        self.assertEqual((reply["value"], reply["station"], reply["station_hex"]),
                         ("LC-1", 1, "001234"))
        self.assertEqual(self.request("lyx/001234/cmd/station", {})["channel"], 1)
        time.sleep(0.5)
        for kind in ("channel", "written", "bind-requested", "packet-to-tag", "command"):
            self.assertFalse(self.heard(kind, since), kind)
        self.assertIn("refused channel on lyx/001234/cmd/channel", self.gateway.errors())

    def test_this_gateways_own_topic_reaches_it_and_another_gateways_does_not(self):
        own = f"lyx/gateway/{CLIENT}/cmd/station"
        reply = self.request(own, {"station": 1})
        self.assertReply(reply, 0, "RT_ACK")
        self.assertEqual((reply["gateway"], reply["station_hex"]), (CLIENT, "001234"))
        other = self.subscribe(self.broker, "lyx/gateway/other/cmd/+/result")
        publish(self.broker, "lyx/gateway/other/cmd/station", '{"id":"not-mine"}')
        publish(self.broker, "lyx/gateway/other/cmd/read", '{"module":1,"param":1}')
        time.sleep(2)
        self.assertFalse(other.messages())
        self.assertNotIn("not-mine", self.gateway.errors())


MODULES_TOPIC = f"lyx/gateway/{CLIENT}/modules"
EVENT_TOPIC = f"lyx/gateway/{CLIENT}/event"


class Availability(CommandNetwork):
    gateway_args = ("--commands", "control")
    # The events are not retained: subscribed before the gateway starts.
    also_subscribed = ("lyx/001234/+/availability", MODULES_TOPIC, EVENT_TOPIC)

    def start_gateway(self, broker, *args, url=None):
        # The counter is gone after a second of silence; the others after 10 s at least.
        names = self.workspace.write("tags.ini", "[1235]\nname = Counter\ntimeout = 1s\n")
        return MqttTest.start_gateway(self, broker, "--tags", names, *args, url=url)

    def test_a_module_put_to_sleep_goes_offline_and_comes_back_online_when_woken(self):
        sub = self.replies
        availability = "lyx/001234/1235/availability"
        self.assertEqual(sub.wait(availability)[0].payload, "online")
        joined = [json.loads(m.payload) for m in sub.wait(EVENT_TOPIC, count=3)]
        self.assertEqual({e["tag"] for e in joined}, {1234, 1235, 1236})
        counter = next(e for e in joined if e["tag"] == 1235)
        self.assertEqual({k: counter[k] for k in ("event", "station", "station_id", "name")},
                         {"event": "joined", "station": 1, "station_id": "001234",
                          "name": "Counter"})

        def listed(tag, state):
            def check(m):
                entry = [e for e in json.loads(m.payload) if e["tag"] == tag]
                return bool(entry) and entry[0]["availability"] == state
            return sub.wait(MODULES_TOPIC, match=check)[-1]

        entry = [e for e in json.loads(listed(1235, "online").payload) if e["tag"] == 1235][0]
        self.assertEqual({k: entry[k] for k in ("station", "station_id", "name", "unit")},
                         {"station": 1, "station_id": "001234", "name": "Counter", "unit": None})
        self.assertGreater(entry["packets"], 0)
        self.assertRegex(entry["last_seen"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]")

        # Asleep, it is gone after its second of silence, while the sleep command still
        # waits out its window on the link's thread.
        publish(self.broker, "lyx/cmd/sleep", json.dumps({"tag": 1235, "id": "nap"}))
        self.sim.wait_event("asleep", match=lambda e: e.get("module") == str(COUNTER))
        offline = sub.wait(availability, timeout=5, match=lambda m: m.payload == "offline")[0]
        self.assertEqual((offline.payload, offline.retain), ("offline", False))
        self.assertFalse(self.replies.messages("lyx/cmd/sleep/result"), "before the reply")
        gone = json.loads(sub.wait(EVENT_TOPIC, match=lambda m: '"gone"' in m.payload)[0].payload)
        self.assertEqual((gone["tag"], gone["timeout"]), (1235, 1.0))
        listed(1235, "offline")
        self.assertEqual(
            [json.loads(m.payload)["tag"] for m in sub.messages(EVENT_TOPIC)
             if '"gone"' in m.payload], [1235], "the others are still heard")
        # A subscriber that comes later finds it offline, retained.
        later = self.subscribe(self.broker, availability)
        self.assertEqual((later.wait(availability)[0].payload, later.messages()[0].retain),
                         ("offline", True))

        self.request("lyx/001234/cmd/wake", {"module": COUNTER})
        sub.wait(availability, match=lambda m: m.payload == "online" and
                 m.received > offline.received)
        back = json.loads(sub.wait(EVENT_TOPIC, match=lambda m: '"back"' in m.payload)[0].payload)
        self.assertEqual(back["tag"], 1235)
        listed(1235, "online")


DISCOVERY_TAGS = """
[102]
name = Crane load
unit = kg
device_class = weight
state_class = measurement
module = 0x000102
[0x67]
name = Gate
unit = V
"""


class Discovery(MqttTest):
    def setUp(self):
        super().setUp()
        self.broker = self.start_broker()
        self.start_simulator(READINGS)
        self.ha = self.subscribe(self.broker, "homeassistant/#")
        self.replies = self.subscribe(self.broker, "lyx/+/cmd/+/result", f"lyx/gateway/{CLIENT}/cmd/+/result")
        names = self.workspace.write("tags.ini", DISCOVERY_TAGS)
        self.gateway = self.start_gateway(self.broker, "--tags", names, "--commands", "control")
        wait_for(lambda: "connected to" in self.gateway.errors(), what="the gateway to connect")
        self.power("up", 101, 102, 103)

    def configs(self, subscriber, tag):
        """The latest config of each entity of `tag` (topic -> dict, or None once removed)."""
        out = {}
        for m in subscriber.messages():
            if f"/lyx_001234/{tag}_" in m.topic:
                out[m.topic] = json.loads(m.payload) if m.payload else None
        return out

    def test_every_tag_is_a_device_with_its_entities_named_from_the_tag_file(self):
        base = "homeassistant/{}/lyx_001234/102_{}/config"
        self.ha.wait(base.format("button", "sleep"), timeout=20)
        crane = self.configs(self.ha, 102)
        value = crane[base.format("sensor", "value")]
        availability = [{"topic": STATUS}, {"topic": "lyx/001234/102/availability"}]
        self.assertEqual({k: value[k] for k in ("name", "unique_id", "state_topic", "value_template",
                                                "unit_of_measurement", "device_class",
                                                "state_class", "availability",
                                                "availability_mode")},
                         {"name": None, "unique_id": "lyx_001234_102_value",
                          "state_topic": "lyx/001234/102/state",
                          "value_template": "{{ value_json.value }}",
                          "unit_of_measurement": "kg", "device_class": "weight",
                          "state_class": "measurement", "availability": availability,
                          "availability_mode": "all"})
        self.assertEqual(value["device"], {"identifiers": ["lyx_001234_102"],
                                           "name": "Crane load", "manufacturer": "Lyx",
                                           "model": "Acquisition module, data tag 102",
                                           "serial_number": "0x000102",
                                           "via_device": "lyx_001234"})
        for component, obj, template, extra in (
                ("sensor", "rssi", "{{ value_json.rssi }}",
                 {"unit_of_measurement": "dBm", "device_class": "signal_strength"}),
                ("sensor", "link_quality", "{{ value_json.cv }}", {"unit_of_measurement": "%"}),
                ("binary_sensor", "battery_low",
                 "{{ 'ON' if value_json.batt_low else 'OFF' }}", {"device_class": "battery"}),
                ("binary_sensor", "error", "{{ 'ON' if value_json.error else 'OFF' }}",
                 {"device_class": "problem"})):
            with self.subTest(entity=obj):
                config = crane[base.format(component, obj)]
                self.assertEqual((config["value_template"], config["entity_category"],
                                  config["availability"], config["device"]["identifiers"]),
                                 (template, "diagnostic", availability, ["lyx_001234_102"]))
                self.assertEqual({k: config[k] for k in extra}, extra)
        sleep = crane[base.format("button", "sleep")]
        self.assertEqual((sleep["command_topic"], json.loads(sleep["payload_press"])),
                         (f"lyx/gateway/{CLIENT}/cmd/sleep", {"tag": 102}))
        wake = crane[base.format("button", "wake")]
        self.assertEqual((wake["command_topic"], json.loads(wake["payload_press"])),
                         ("lyx/001234/cmd/wake", {"module": 0x000102}))
        # The base station is a device of its own.
        station = json.loads(self.ha.wait(
            "homeassistant/sensor/lyx_001234/modules/config")[0].payload)
        self.assertEqual((station["device"]["identifiers"], station["state_topic"]),
                         (["lyx_001234"], MODULES_TOPIC))
        # A text value has no unit nor classes; a tag the file does not name is "Tag N".
        self.ha.wait(base.format("sensor", "value").replace("102_", "103_"))
        gate = self.configs(self.ha, 103)[base.format("sensor", "value").replace("102_", "103_")]
        self.assertEqual(gate["device"]["name"], "Gate")
        self.assertFalse({"unit_of_measurement", "device_class", "state_class"} & gate.keys())
        ramp = self.configs(self.ha, 101)[base.format("sensor", "value").replace("102_", "101_")]
        self.assertEqual((ramp["device"]["name"], ramp["state_class"]), ("Tag 101", "measurement"))
        self.assertNotIn("unit_of_measurement", ramp)
        later = self.subscribe(self.broker, base.format("sensor", "value"))
        self.assertTrue(later.wait(base.format("sensor", "value"))[0].retain)

        # The wake button's message wakes the module.
        publish(self.broker, wake["command_topic"], wake["payload_press"])
        reply = json.loads(self.replies.wait("lyx/001234/cmd/wake/result")[0].payload)
        self.assertEqual(reply["status"], 0, reply)

    def test_forget_removes_a_silent_tag_and_home_assistant_online_gets_the_configs_again(self):
        value = "homeassistant/sensor/lyx_001234/{}_value/config"
        self.ha.wait(value.format(102))
        self.ha.wait(value.format(101))
        self.power("down", 102)
        time.sleep(0.5)
        publish(self.broker, f"lyx/gateway/{CLIENT}/cmd/forget", '{"tag":102,"id":"f"}')
        reply = json.loads(self.replies.wait(f"lyx/gateway/{CLIENT}/cmd/forget/result")[0].payload)
        self.assertEqual((reply["status"], reply["stations"], reply["gateway"]),
                         (0, ["001234"], CLIENT))
        wait_for(lambda: all(c is None for c in self.configs(self.ha, 102).values()),
                 what="every config of tag 102 to be emptied")
        self.assertEqual(len(self.configs(self.ha, 102)), 7)
        # Nothing is left of it for a later subscriber; the others stay.
        later = self.subscribe(self.broker, "homeassistant/#", "lyx/001234/102/#", MODULES_TOPIC)
        later.wait(value.format(101))
        later.wait(MODULES_TOPIC)
        time.sleep(1)
        self.assertFalse(self.configs(later, 102))
        self.assertFalse(later.messages("lyx/001234/102/availability"))
        self.assertFalse(later.messages("lyx/001234/102/state"))
        self.assertNotIn(102, [e["tag"] for e in json.loads(later.messages(MODULES_TOPIC)[-1].payload)])

        # Home Assistant starts: every config goes again, after a short random wait.
        before = len(self.ha.messages(value.format(101)))
        publish(self.broker, "homeassistant/status", "online")
        self.ha.wait(value.format(101), count=before + 1, timeout=5)
        self.assertEqual(len(self.configs(self.ha, 102)), 7, "the forgotten tag stays forgotten")


class Faults(MqttTest):
    def outage(self, *gateway_args):
        """A module sends while the broker is stopped for 5 s and started again; returns the
        subscriber of the packets and the counters, the gateway and how many were sent."""
        broker = self.start_broker(persistent=True)
        self.start_simulator(READINGS)
        # Sessions of their own on the broker, so messages published while they reconnect
        # wait for them.
        sub = self.subscribe(broker, "lyx/+/+/packet", STATUS, qos=1, client_id="outage-sub")
        details = self.subscribe(broker, DETAIL, qos=1, client_id="outage-detail")
        gateway = self.start_gateway(broker, "--qos", "1", *gateway_args)
        self.wait_online(sub)
        self.power("up", 101)
        time.sleep(2)
        self.down_for_5_seconds(broker, broker.stop, gateway)
        time.sleep(2)
        self.power("down", 101)
        return sub, details, gateway, self.sent(101)

    def quiet(self, sub):
        """Waits until no packet has come for 2 s."""
        counts = []
        def still():
            counts.append(len(sub.messages()))
            return len(counts) > 4 and counts[-1] == counts[-5]
        wait_for(still, timeout=60, interval=0.5, what="the packets to stop coming")

    def final_counts(self, gateway, sub, details):
        """The counters the gateway publishes as it stops, once it has published what waited."""
        self.quiet(sub)
        before = len(details.messages(DETAIL))
        self.assertEqual(gateway.stop(signal.SIGTERM), 0)
        counts = json.loads(details.wait(DETAIL, count=before + 1)[-1].payload)
        self.quiet(sub)
        return counts

    def test_broker_outage_loses_nothing_while_the_queue_has_room(self):
        sub, details, gateway, sent = self.outage()
        wait_for(lambda: len({p["value"] for p in self.packets(sub, 101)}) >= sent,
                 timeout=30, what="the queued packets")
        values = [p["value"] for p in self.packets(sub, 101)]
        self.assertEqual(len(set(values)), sent)
        unique = list(dict.fromkeys(values))
        self.assertEqual(unique, sorted(unique))
        self.assertRegex(gateway.errors(), r"\d+ packets waiting; trying again in \d")
        # The retained counters catch up within 5 s of the last change (not at the next
        # minute), and go at most once a second however fast the packets come.
        self.quiet(sub)
        wait_for(lambda: json.loads(details.messages(DETAIL)[-1].payload)["published"] >= sent,
                 timeout=6, what="the counters to be published again")
        # (A message of quality 1 may come twice, and late, across the reconnection.)
        stamps = sorted({datetime.fromisoformat(json.loads(m.payload)["time"])
                         for m in details.messages(DETAIL)})
        gaps = [(b - a).total_seconds() for a, b in zip(stamps, stamps[1:])]
        self.assertGreaterEqual(min(gaps), 0.9, gaps)
        counts = self.final_counts(gateway, sub, details)
        self.assertEqual((counts["received"], counts["dropped"], counts["connections"]),
                         (sent, 0, 2))
        # The link below the gateway delivered every packet and lost none.
        link = counts["link"]
        self.assertGreaterEqual(link["delivered"], sent)
        self.assertEqual((link["dropped"], link["bytes_dropped"], link["held"]), (0, 0, 0))

    def test_a_small_queue_drops_the_oldest_and_counts_them(self):
        sub, details, gateway, sent = self.outage("--queue", "20")
        detail = self.final_counts(gateway, sub, details)
        self.assertEqual(detail["received"], sent)
        values = sorted({p["value"] for p in self.packets(sub, 101)})
        self.assertGreater(detail["dropped"], 100)  # 5 s at 40 a second, 20 kept
        self.assertEqual(detail["dropped"], sent - len(values))
        # The ramp climbs by about the same step every packet (a packet the loaded simulator
        # sends late makes one step longer and the next shorter): what is missing is one run,
        # the oldest packets of the outage, more than a hundred steps long.
        steps = [b - a for a, b in zip(values, values[1:])]
        step = sorted(steps)[len(steps) // 2]
        gaps = [s for s in steps if s > 10 * step]
        self.assertEqual(len(gaps), 1, steps)
        self.assertAlmostEqual(gaps[0] / step, detail["dropped"] + 1, delta=2)

    def test_a_broker_killed_and_started_empty_gets_the_status_and_states_again(self):
        # Without persistence the restarted broker has lost every retained message: the
        # gateway must say "online" again and give back each tag's state, although the modules
        # have stopped sending and no new reading would bring them.
        broker = self.start_broker()
        self.start_simulator(READINGS)
        sub = self.subscribe(broker, "lyx/#")
        gateway = self.start_gateway(broker)
        self.wait_online(sub)
        self.burst(sub, 2)
        last = {t: sub.messages(f"lyx/001234/{t}/packet")[-1].payload for t in (101, 102, 103)}
        self.down_for_5_seconds(broker, broker.kill, gateway)
        later = self.subscribe(broker, STATUS, "lyx/+/+/state")
        retained = {m.topic: m for m in later.wait(count=4)}
        self.assertEqual((retained[STATUS].payload, retained[STATUS].retain), ("online", True))
        for tag in (101, 102, 103):
            with self.subTest(tag=tag):
                state = retained[f"lyx/001234/{tag}/state"]
                self.assertTrue(state.retain)
                self.assertEqual(state.payload, last[tag])

    def test_a_station_replugged_with_another_id_gets_its_new_topics(self):
        broker = self.start_broker()
        sim = self.start_simulator(READINGS)
        sub = self.subscribe(broker, "lyx/#")
        gateway = self.start_gateway(broker)
        self.wait_online(sub)
        self.power("up", 101)
        sub.wait("lyx/001234/101/packet", count=10)
        self.assertEqual(sub.wait("lyx/001234/status")[-1].payload, "online")
        self.assertTrue(sim.command("unplug 1").startswith("ok"))
        # The station is offline, retained; the gateway stays online.
        self.assertEqual(sub.wait("lyx/001234/status", count=2)[-1].payload, "offline")
        late = self.subscribe(broker, "lyx/001234/status")
        self.assertEqual([(m.payload, m.retain) for m in late.wait()], [("offline", True)])
        self.assertIn("base station 1 (001234) is gone from USB", gateway.errors())
        time.sleep(6)  # long enough a silence for another station to have taken the slot
        self.assertTrue(sim.command("station 1 id=0x005678").startswith("ok"))
        before = len(sub.messages("lyx/001234/101/packet"))
        self.assertTrue(sim.command("plug 1").startswith("ok"))
        sub.wait("lyx/005678/101/packet", count=20)
        self.assertIn("base station 1 is now 005678 (was 001234)", gateway.errors())
        self.assertEqual(len(sub.messages("lyx/001234/101/packet")), before)
        self.assertEqual(sub.wait("lyx/005678/status")[-1].payload, "online")
        self.assertEqual([m.payload for m in sub.messages("lyx/001234/status")],
                         ["online", "offline"])
        self.assertEqual([m.payload for m in sub.messages(STATUS)], ["online"])
        values = [json.loads(m.payload)["value"] for m in sub.messages()
                  if m.topic.endswith("/101/packet")]
        self.assertEqual(values, sorted(set(values)))
        # Its command topics follow it.
        publish(broker, "lyx/005678/cmd/station", '{"id":"replugged"}')
        reply = json.loads(sub.wait("lyx/005678/cmd/station/result")[0].payload)
        self.assertEqual((reply["id"], reply["station_id"]), ("replugged", 0x005678))

    def test_a_serial_station_that_goes_is_offline_and_online_again_with_every_later_packet(self):
        broker = self.start_broker()
        # Packet n of the counter carries n.
        sim = self.start_simulator("station 1 serial com=5 channel=1 id=0x001234\n"
                                   "module 0x000101 tag=101 type=int32 wave=count rate=40 "
                                   "power=off\n")
        sub = self.subscribe(broker, "lyx/#")
        gateway = self.start_gateway(broker, "--port", "5")
        self.wait_online(sub)
        self.assertEqual(sub.wait("lyx/001234/status")[-1].payload, "online")
        self.power("up", 101)
        sub.wait("lyx/001234/101/packet", count=10)
        self.assertTrue(sim.command("unplug 1").startswith("ok"))
        self.assertEqual(sub.wait("lyx/001234/status", count=2)[-1].payload, "offline")
        time.sleep(1)
        self.assertTrue(sim.command("plug 1").startswith("ok"))
        self.assertEqual(sub.wait("lyx/001234/status", count=3)[-1].payload, "online")
        sub.wait("lyx/001234/101/packet", count=len(self.packets(sub, 101)) + 20)
        self.power("down", 101)
        time.sleep(0.5)
        with sim._lock:
            events = [e for _, e in sim.events]
        plugged = next(i for i, e in enumerate(events) if e["kind"] == "plugged")
        sent_before = len([e for e in events[:plugged] if e["kind"] == "data"])
        sent = self.sent(101)
        wait_for(lambda: [p["value"] for p in self.packets(sub, 101)][-1] == sent - 1,
                 what="the last packet")
        values = [p["value"] for p in self.packets(sub, 101)]
        self.assertEqual(values, sorted(set(values)))
        # Every packet sent once the station was back.
        self.assertEqual([v for v in values if v >= sent_before], list(range(sent_before, sent)))
        self.assertEqual([m.payload for m in sub.messages(STATUS)], ["online"])
        link = "serial port COM5 at 115200 baud"
        self.assertIn(f"the base station (001234) is gone from {link}", gateway.errors())
        self.assertIn(f"the base station (001234) is back on {link}", gateway.errors())
        self.assertEqual(gateway.stop(signal.SIGTERM), 0)
        # Not served any more once the gateway stops.
        self.assertEqual(sub.wait("lyx/001234/status", count=4)[-1].payload, "offline")


class Security(MqttTest):
    def test_tls_with_a_test_ca_and_a_client_certificate(self):
        files = make_ca(self.workspace.root, "good")
        broker = self.start_broker(tls={"ca": files["ca"], "cert": files["cert"],
                                        "key": files["key"], "require_certificate": True})
        self.start_simulator(READINGS)
        tls = ("--cafile", files["ca"], "--cert", files["client-cert"],
               "--key", files["client-key"])
        sub = self.subscribe(broker, "lyx/#", extra=tls)
        self.start_gateway(broker, "--tls-ca", files["ca"], "--tls-cert", files["client-cert"],
                           "--tls-key", files["client-key"], url=broker.url("mqtts"))
        self.wait_online(sub)
        self.power("up", 102)
        self.assertEqual(json.loads(sub.wait("lyx/001234/102/packet")[0].payload)["value"], 2.5)

    def test_a_broker_certificate_from_another_ca_is_refused_with_a_clear_message(self):
        good = make_ca(self.workspace.root, "good")
        other = make_ca(self.workspace.root, "other")
        broker = self.start_broker(tls={"ca": good["ca"], "cert": good["cert"],
                                        "key": good["key"]})
        sub = self.subscribe(broker, "lyx/#", extra=("--cafile", good["ca"]))
        self.start_simulator(READINGS)
        gateway = self.start_gateway(broker, "--tls-ca", other["ca"], url=broker.url("mqtts"))
        wait_for(lambda: "certificate verify failed" in gateway.errors(), timeout=20,
                 what="the refusal")
        self.assertIn(f"cannot connect to mqtts://127.0.0.1:{broker.port}: the TLS handshake "
                      "failed: certificate verify failed (is the broker's certificate signed by "
                      "the CA of --tls-ca", gateway.errors())
        self.assertFalse(sub.messages(STATUS))
        self.assertEqual(gateway.stop(signal.SIGTERM), 0)

    def test_user_name_and_password_file(self):
        passwords = self.workspace.path("broker-passwords")
        subprocess.run(["mosquitto_passwd", "-b", "-c", passwords, "gateway", "s3cret"],
                       check=True, capture_output=True)
        broker = self.start_broker(password_file=passwords)
        sub = self.subscribe(broker, STATUS, extra=("-u", "gateway", "-P", "s3cret"))
        self.start_simulator(READINGS)
        secret = self.workspace.path("password")
        with open(os.open(secret, os.O_CREAT | os.O_WRONLY, 0o600), "w") as f:
            f.write("wrong\n")
        refused = self.start_gateway(broker, "--username", "gateway", "--password-file", secret)
        wait_for(lambda: "refused the connection: Connection Refused: not authorised"
                 in refused.errors(), what="the refusal")
        self.assertEqual(refused.stop(signal.SIGTERM), 0)
        with open(secret, "w") as f:
            f.write("s3cret\n")
        gateway = self.start_gateway(broker, "--username", "gateway", "--password-file", secret)
        self.wait_online(sub)
        self.assertNotIn("can be read by other users", gateway.errors())

    def test_the_access_rules_of_the_manual_let_operators_command_and_nobody_else(self):
        # The Mosquitto ACL of lyx-mqtt(1)'s SECURITY section, as the page gives it.
        with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "man",
                               "lyx-mqtt.1")) as f:
            page = f.read()
        start = page.index("# The gateway:")
        acl = page[start:page.index("\n.fi", start)].replace("\\-", "-")
        self.assertIn("user operator", acl)
        users = {"lyx-gateway": "g4te", "operator": "0per", "homeassistant": "h0me"}
        passwords = self.workspace.path("broker-passwords")
        for i, (user, password) in enumerate(users.items()):
            subprocess.run(["mosquitto_passwd", "-b"] + ([] if i else ["-c"]) +
                           [passwords, user, password], check=True, capture_output=True)
        broker = self.start_broker(password_file=passwords,
                                   acl_file=self.workspace.write(
                                       "broker.acl", acl + "\n# the test's own probes\n"
                                       "pattern readwrite probe/#\n"))
        login = {u: ("-u", u, "-P", p) for u, p in users.items()}
        sub = self.subscribe(broker, "lyx/#", extra=login["operator"])
        ha = self.subscribe(broker, "homeassistant/#", extra=login["homeassistant"])
        self.start_simulator(COMMAND_NETWORK)
        secret = self.workspace.path("password")
        with open(os.open(secret, os.O_CREAT | os.O_WRONLY, 0o600), "w") as f:
            f.write("g4te\n")
        self.start_gateway(broker, "--client-id", "lyx-host", "--username", "lyx-gateway",
                           "--password-file", secret, "--commands", "control")
        status = "lyx/gateway/lyx-host/status"
        sub.wait(status, match=lambda m: m.payload == "online")
        sub.wait("lyx/001234/1234/state")  # readings reach the readers
        ha.wait("homeassistant/sensor/lyx_001234/1234_value/config")  # and discovery
        # Home Assistant may not command; an operator may, on every kind of command topic.
        publish(broker, "lyx/cmd/station", '{"id":"from-ha"}', extra=login["homeassistant"])
        for topic in ("lyx/cmd/station", "lyx/001234/cmd/station",
                      "lyx/gateway/lyx-host/cmd/station"):
            publish(broker, topic, '{"id":"op"}', extra=login["operator"])
            reply = json.loads(sub.wait(topic + "/result")[0].payload)
            self.assertEqual((reply["id"], reply["status"]), ("op", 0))
        self.assertFalse(sub.messages(match=lambda m: "from-ha" in m.payload))


# Three counters of 1 000 packets a second each (every packet's value one more than the
# last), off until the test powers them up.
FAST = """
station 1 usb channel=1 id=0x001234
module 0x000101 tag=101 type=int32 wave=count rate=1000 power=off
module 0x000102 tag=102 type=int32 wave=count rate=1000 power=off
module 0x000103 tag=103 type=int32 wave=count rate=1000 power=off
"""


class Spool(MqttTest):
    def values(self, sub, tag):
        """The values of the tag's packets in the order they came, each once (a packet of
        quality 1 may come twice), and how many were marked historical."""
        packets = self.packets(sub, tag)
        values = list(dict.fromkeys(p["value"] for p in packets))
        return values, len({p["value"] for p in packets if p.get("historical")})

    def dead_broker(self):
        return f"mqtt://127.0.0.1:{free_port()}"  # nobody listens there

    def test_outage_at_3000_packets_a_second_loses_nothing_and_keeps_order_and_state(self):
        broker = self.start_broker(persistent=True)
        self.start_simulator(FAST)
        sub = self.subscribe(broker, "lyx/+/+/packet", STATUS, DETAIL, qos=1,
                             client_id="spool-sub")
        gateway = self.start_gateway(broker, "--qos", "1", "--spool", self.workspace.path("spool"))
        self.wait_online(sub)
        tags = (101, 102, 103)
        self.power("up", *tags)
        time.sleep(1)
        broker.stop()
        wait_for(lambda: "was lost" in gateway.errors(), what="the gateway to notice")
        time.sleep(3)
        broker.start()
        wait_for(lambda: gateway.errors().count("connected to") == 2, timeout=40,
                 what="the gateway to reconnect")
        time.sleep(1)
        self.power("down", *tags)
        self.wait_all_published(sub, tags, timeout=30)
        for tag in tags:
            with self.subTest(tag=tag):
                values, historical = self.values(sub, tag)
                # Every count once at least, in the order sent.
                self.assertEqual(values, list(range(values[0], values[0] + self.sent(tag))))
                # The outage's, at least, came from the spool; the first ones did not.
                self.assertGreater(historical, 2500)
                self.assertFalse(self.packets(sub, tag)[0].get("historical"))
        # The detail tells of the spool: emptied again, nothing dropped.
        detail = wait_for(lambda: [d for d in (json.loads(m.payload) for m in sub.messages(DETAIL))
                                   if d["spool"]["spooled"] > 0 and d["spool"]["packets"] == 0],
                          timeout=7, what="the detail of the emptied spool")[-1]
        self.assertEqual((detail["dropped"], detail["spool"]["dropped"]), (0, 0))
        self.assertIsNone(detail["spool"]["oldest_age"])
        later = self.subscribe(broker, "lyx/+/+/state")
        states = {m.topic: json.loads(m.payload)["value"] for m in later.wait(count=3)}
        for tag in tags:
            self.assertEqual(states[f"lyx/001234/{tag}/state"], max(self.values(sub, tag)[0]))

    def test_what_was_spooled_survives_sigkill_and_goes_after_the_next_start(self):
        broker = self.start_broker()
        self.start_simulator(READINGS)
        sub = self.subscribe(broker, "lyx/+/+/packet")
        folder = self.workspace.path("spool")
        first = self.start_gateway(None, "--spool", folder, url=self.dead_broker())
        wait_for(lambda: "trying again" in first.errors(), what="the gateway to find no broker")
        self.power("up", 101)
        time.sleep(2)
        self.power("down", 101)
        time.sleep(1.5)  # committed: at most 0.5 s after it came
        self.assertEqual(first.stop(signal.SIGKILL), -signal.SIGKILL)
        sent = self.sent(101)
        second = self.start_gateway(broker, "--spool", folder)
        wait_for(lambda: len(self.values(sub, 101)[0]) >= sent, what="the spooled packets")
        self.assertIn(f"holds {sent} packets from before", second.errors())
        values, historical = self.values(sub, 101)
        self.assertEqual((len(values), historical), (sent, sent))
        self.assertEqual(values, sorted(values))
        # Taken by the broker, they are gone from the spool: a third start publishes nothing.
        self.assertEqual(second.stop(signal.SIGTERM), 0)
        self.assertIn(", 0 in the spool;", second.errors())

    def test_a_full_spool_drops_the_oldest_and_counts_them(self):
        broker = self.start_broker()
        # A counter of 40 packets a second: its values are 0, 1, 2 ...
        self.start_simulator(FAST.replace("rate=1000", "rate=40"))
        sub = self.subscribe(broker, "lyx/+/+/packet")
        folder, port = self.workspace.path("spool"), free_port()
        first = self.start_gateway(None, "--spool", folder, "--spool-size", "16K",
                                   "--metrics", str(port), url=self.dead_broker())
        wait_for(lambda: "trying again" in first.errors(), what="the gateway to find no broker")
        self.power("up", 101)
        time.sleep(4)
        self.power("down", 101)
        time.sleep(1)
        metrics = self.samples(port)
        dropped = metrics['lyx_packets_dropped_total{cause="spool"}']
        self.assertGreater(dropped, 0)
        self.assertLessEqual(metrics["lyx_spool_bytes"], 16384)
        self.assertEqual(metrics["lyx_spool_packets"] + dropped, self.sent(101))
        self.assertEqual(first.stop(signal.SIGTERM), 0)
        self.start_gateway(broker, "--spool", folder)
        kept = self.sent(101) - int(dropped)
        wait_for(lambda: len(self.values(sub, 101)[0]) >= kept, what="what the spool kept")
        time.sleep(0.5)
        # The newest, in order.
        sent = self.sent(101)
        self.assertEqual(self.values(sub, 101)[0], list(range(sent - kept, sent)))


class Metrics(MqttTest):
    def test_prometheus_text_that_counts_and_bad_requests_that_change_nothing(self):
        broker = self.start_broker()
        self.start_simulator(READINGS)
        sub = self.subscribe(broker, "lyx/+/+/packet", STATUS)
        port = free_port()
        gateway = self.start_gateway(broker, "--metrics", str(port))
        self.wait_online(sub)
        self.assertIn(f"metrics on http://127.0.0.1:{port}/metrics", gateway.errors())
        self.assertNotIn("metrics:", gateway.errors())  # no complaint of the HTTP library
        self.burst(sub, 1.5, tags=(101, 102))
        first = self.samples(port)
        station, tag = '{station="001234"}', '{station="001234",tag="102"}'
        self.assertEqual(first["lyx_packets_received_total"], self.sent(101) + self.sent(102))
        self.assertEqual(first["lyx_packets_published_total"], first["lyx_packets_received_total"])
        self.assertEqual(first['lyx_packets_dropped_total{cause="queue"}'], 0)
        self.assertEqual((first["lyx_broker_connected"], first["lyx_broker_connections_total"]),
                         (1, 1))
        self.assertEqual((first["lyx_station_up" + station],
                          first["lyx_station_packets_total" + station]),
                         (1, first["lyx_packets_received_total"]))
        self.assertEqual((first["lyx_tag_value" + tag], first["lyx_tag_rssi_dbm" + tag],
                          first["lyx_tag_link_quality" + tag], first["lyx_tag_battery_low" + tag],
                          first["lyx_tag_error" + tag]), (2.5, -20, 48, 1, 0))
        self.assertEqual(first["lyx_tag_packets_total" + tag], self.sent(102))
        self.assertLess(first["lyx_tag_last_heard_age_seconds" + tag], 10)

        # Bad requests get their status and leave the gateway serving.
        self.assertEqual(self.scrape(port, path="/")[0], 404)
        self.assertEqual(self.scrape(port, path="/metrics/x")[0], 404)
        status, headers, _ = self.scrape(port, method="POST")
        self.assertEqual((status, headers.get("Allow")), (405, "GET, HEAD"))
        with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
            s.sendall(b"POST /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 9000\r\n\r\n")
            self.assertTrue(s.recv(100).startswith(b"HTTP/1.1 413 "))
        with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
            s.sendall(b"GET /metrics HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n" +
                      (b"1000\r\n" + b"x" * 4096 + b"\r\n") * 3 + b"0\r\n\r\n")
            self.assertTrue(s.recv(100).startswith(b"HTTP/1.1 413 "))
        status, _, _ = self.scrape(port, headers={"X-Padding": "x" * 20000})
        self.assertEqual(status, 431)

        # Commands are counted by name and result; a name from nowhere is "unknown".
        publish(broker, "lyx/cmd/sleep", '{"tag": 101}')
        publish(broker, "lyx/cmd/frobnicate", "{}")
        self.burst(sub, 1, tags=(101,))
        later = self.samples(port)
        self.assertGreater(later["lyx_packets_received_total"], first["lyx_packets_received_total"])
        self.assertEqual(later['lyx_commands_total{command="sleep",result="refused"}'], 1)
        self.assertEqual(later['lyx_commands_total{command="unknown",result="refused"}'], 1)
        self.assertIsNone(gateway.process.poll())


class Service(MqttTest):
    def test_systemd_hears_ready_without_a_broker_then_status_and_watchdog_beats(self):
        """The notify protocol through a socket of the test's own, as systemd gives it to a
        Type=notify service with WatchdogSec=0.6s."""
        self.start_simulator(READINGS)
        path = self.workspace.path("notify.socket")
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        listener.bind(path)
        listener.settimeout(5)
        self.addCleanup(listener.close)
        env = self.workspace.env
        env.update(NOTIFY_SOCKET=path, WATCHDOG_USEC="600000")
        try:
            # No broker listens there: the service is ready all the same.
            gateway = self.start_gateway(None, url=f"mqtt://127.0.0.1:{free_port()}")
        finally:
            del env["NOTIFY_SOCKET"], env["WATCHDOG_USEC"]
        messages = [listener.recv(4096).decode()]
        self.assertIn("READY=1", messages[0].split("\n"))
        self.assertRegex(messages[0], r"STATUS=broker away; \d+ packets received, 0 published")
        self.power("up", 101)
        started = time.monotonic()
        while time.monotonic() - started < 2:
            messages.append(listener.recv(4096).decode())
        beats = [m for m in messages if "WATCHDOG=1" in m.split("\n")]
        # A beat every 0.2 s, each with the status of the moment.
        self.assertGreaterEqual(len(beats), 6, messages)
        received = [int(re.search(r"; (\d+) packets received", m)[1]) for m in beats]
        self.assertGreater(received[-1], received[0])
        self.assertEqual(gateway.stop(signal.SIGTERM), 0)
        rest = []
        listener.settimeout(0.5)
        try:
            while True:
                rest.append(listener.recv(4096).decode())
        except socket.timeout:
            pass
        self.assertTrue(any("STOPPING=1" in m.split("\n") for m in rest), rest)


class Usage(MqttTest):
    def test_bad_options_name_what_is_wrong(self):
        ca = self.workspace.path("missing-ca.pem")
        bad_tags = self.workspace.write("tags.ini", "[101]\nname = Ramp\nunti = kg\n")
        cases = [
            ((), "--broker URL is needed"),
            (("--broker", "ftp://host"), "unknown scheme 'ftp://'"),
            (("--broker", "mqtt://user:pw@host"), "--password-file"),
            (("--broker", "mqtt://host:0"), "--broker port: '0' is out of range"),
            (("--broker", "host", "--qos", "2"), "--qos: '2' is out of range"),
            (("--broker", "host", "--queue", "0"), "--queue: '0' is out of range"),
            (("--broker", "host", "--prefix", "a/+/b"), "holds a wildcard"),
            (("--broker", "host", "--prefix", "a//b"), "has an empty topic level"),
            (("--broker", "host", "--client-id", "a/b"), "--client-id: 'a/b' holds a '/'"),
            (("--broker", "host", "--tls-ca", ca), "need an mqtts:// broker"),
            (("--broker", "mqtts://host", "--tls-cert", ca), "go together"),
            (("--broker", "mqtts://host", "--tls-ca", ca), f"--tls-ca: cannot read {ca}"),
            (("--broker", "host", "--password-file", ca), "--password-file needs --username"),
            (("--broker", "mqtt://broker.example", "--username", "u", "--password-file", ca),
             "the password would go to broker.example in clear text over mqtt://"),
            (("--broker", "host", "--commands", "read,reboot"), "--commands: 'reboot' is not"),
            (("--broker", "host", "--commands", "none,read"), "'none' goes alone"),
            (("--broker", "host", "--discovery-prefix", "ha/#"), "--discovery-prefix: 'ha/#'"),
            (("--broker", "host", "--tags", bad_tags), f"{bad_tags}:3: unknown key 'unti'"),
            (("--broker", "host", "--spool-size", "1G"), "--spool-size needs --spool"),
            (("--broker", "host", "--spool", "s", "--spool-size", "12X"), "'12X' is not a size"),
            (("--broker", "host", "--spool", "s", "--spool-size", "1000"), "less than 4096"),
            (("--broker", "host", "--metrics", "metrics.example:9108"),
             "does not name a numeric IPv4 address"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                done = self.lyx("mqtt", *args)
                self.assertExit(done, 2, message)
                self.assertEqual(len(done.stderr.strip().splitlines()), 1, done.stderr)


if __name__ == "__main__":
    clitest.main()
