#!/usr/bin/env python3
"""Wire tests of the analyzer simulator: they talk to it over its pseudo-terminal
the way the PC does and check the bytes that come back.

Usage: test_pxr_sim.py PATH_TO_PXR_SIM [unittest arguments]
"""
import os
import re
import select
import subprocess
import sys
import tempfile
import time
import tty
import unittest

SIM = None
MANUAL_KEY = b"QKTZeoimdrcfhjgwxnyb pqsUvkaltwhyzjc"
MEASUREMENT = re.compile(rb"^([1-4])(.)([0-9A-F]{8})([0-9A-F]{8})([0-9A-F]{4})$", re.S)


class Sim:
    """One running simulator and the PC side of its terminal."""

    def __init__(self, *args, script=None):
        self.dir = tempfile.TemporaryDirectory()
        self.link = os.path.join(self.dir.name, "pxr")
        self.log = os.path.join(self.dir.name, "traffic.log")
        cmd = [SIM, "--link", self.link, "--log", self.log, "--prime-delay", "150", *args]
        if script is not None:
            path = os.path.join(self.dir.name, "scenario.txt")
            with open(path, "w") as f:
                f.write(script)
            cmd += ["--script", path]
        self.proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, text=True)
        ready = self.proc.stdout.readline().strip()
        assert ready == self.link, "simulator did not announce its link: %r" % ready
        self.fd = os.open(self.link, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        tty.setraw(self.fd)
        self.pending = b""
        self.received = []  # every frame so far, in order

    def close(self):
        try:
            os.close(self.fd)
        except OSError:
            pass
        self.proc.terminate()
        self.proc.wait(5)
        self.proc.stdout.close()
        self.dir.cleanup()

    def send(self, data):
        os.write(self.fd, data)

    def read_for(self, seconds):
        end = time.time() + seconds
        out = b""
        while time.time() < end:
            r, _, _ = select.select([self.fd], [], [], 0.02)
            if r:
                try:
                    out += os.read(self.fd, 65536)
                except BlockingIOError:
                    pass
        return out

    def read_at_least(self, n, timeout=10.0):
        """Reads until n bytes have come (or the time is up); a busy machine
        may deliver them late."""
        end = time.time() + timeout
        out = b""
        while len(out) < n and time.time() < end:
            out += self.read_for(0.02)
        return out

    def frames(self, data):
        """Cuts bytes into lines at CR, dropping the LF after it."""
        self.pending += data
        parts = self.pending.split(b"\r")
        self.pending = parts.pop()
        frames = [p.lstrip(b"\n") for p in parts]
        self.received += frames
        return frames

    def ask(self, command, until, timeout=10.0):
        """Sends a command and collects frames until one starts with `until`."""
        self.send(command)
        got = []
        end = time.time() + timeout
        while time.time() < end:
            got += self.frames(self.read_for(0.02))
            if any(f.startswith(until) for f in got):
                return got
        raise AssertionError("no %r reply to %r; got %r" % (until, command, got[-5:]))

    def status(self, channel):
        frame = [f for f in self.ask(b"[STATUS]\r\n", b"[STAT") if f.startswith(b"[STAT")][-1]
        i = channel - 1
        return bytes([frame[6 + i], frame[10 + i], frame[14 + i]]).decode()

    def wait_status(self, channel, wanted, timeout=3.0):
        end = time.time() + timeout
        seen = []
        while time.time() < end:
            s = self.status(channel)
            if s == wanted:
                return seen
            if not seen or seen[-1] != s:
                seen.append(s)
            time.sleep(0.03)
        raise AssertionError("channel %d never showed %r; saw %r" % (channel, wanted, seen))

    def wait_log(self, text, timeout=3.0):
        end = time.time() + timeout
        while time.time() < end:
            if text in self.traffic():
                return
            time.sleep(0.02)
        raise AssertionError("the traffic log never said %r" % text)

    def traffic(self):
        with open(self.log, "rb") as f:
            return f.read().decode("latin-1")


def measurements(frames, channel=None):
    out = []
    for f in frames:
        m = MEASUREMENT.match(f)
        if m and (channel is None or int(m.group(1)) == channel):
            p = int(m.group(5), 16)
            out.append((m.group(2).decode("latin-1"), int(m.group(3), 16), int(m.group(4), 16),
                        p - 0x10000 if p >= 0x8000 else p))
    return out


class SimTestCase(unittest.TestCase):
    def start(self, *args, script=None):
        sim = Sim(*args, script=script)
        self.addCleanup(sim.close)
        return sim


class IdentityTest(SimTestCase):
    def test_probe_and_identity_replies(self):
        cases = [
            # args, P2 text, poll reply
            ((), b"PXR-8", b"[POLL,1,1,1,1]"),
            (("--channels", "1,2,4"), b"PXR-8", b"[POLL,1,1,0,1]"),
            (("--model", "PXR2K"), b"PXR2K", b"[POLL,1,0,0,0]"),
            (("--manufacturer", "Flowtek AB"), b"PXR-8", b"[POLL,1,1,1,1]"),
            (("--busy",), b"PXR-8", b"[BUSY]"),
        ]
        for args, model, poll in cases:
            with self.subTest(args=args):
                sim = self.start("--name", "Bench 3", "--serial", "AB12345", *args)
                sim.send(b"[GETPARAMS,0]\r\n")
                # The probe reads the first 33 bytes after its request.
                first = sim.read_at_least(33)
                self.assertGreaterEqual(len(first), 33)
                self.assertIn(b"[P2," + model + b"]", (first[17:27], first[23:33]))
                rest = sim.frames(first + sim.read_for(0.2))
                self.assertIn(b"[P5,Bench 3]", rest)
                p4 = [f for f in rest if f.startswith(b"[P4,")][0]
                self.assertRegex(p4, rb"^\[P4,m,\d+%,[^,]*,\d\d,[VTFB],[NOSV]\]$")
                sn = sim.ask(b"[GETSN,0]\r\n", b"[SN0")[-1]
                self.assertTrue(sn.startswith(b"[SN0,AB12345,"), sn)
                self.assertIn(poll, sim.ask(b"[POLL]\r\n", poll[:5]))

    def test_battery_states(self):
        sim = self.start("--model", "PXR2K", "--battery", "L",
                         script="after 2 GETBATSTATUS battery S\n")
        self.assertIn(b"[BATSTATUS,L]", sim.ask(b"[GETBATSTATUS]\r\n", b"[BATSTATUS"))
        self.assertIn(b"[BATSTATUS,L]", sim.ask(b"[GETBATSTATUS]\r\n", b"[BATSTATUS"))
        self.assertIn(b"[BATSTATUS,S]", sim.ask(b"[GETBATSTATUS]\r\n", b"[BATSTATUS"))


class TestRunTest(SimTestCase):
    def test_flow_with_autostart_streams_and_becomes_a_record(self):
        sim = self.start("--accel", "50", "--autostart-delay", "200", "--preset-records", "2",
                         "--profile", "2:noise=0")
        self.assertEqual(sim.status(2), "   ")
        sim.ask(b"[C2F,A-1,JS,3600]\r\n\x00", b"[OK")
        seen = sim.wait_status(2, "FFF")
        self.assertIn("FF ", seen)
        sim.ask(b"[C2FA,A-1,JS,3600]\r\n\x00", b"[OK")
        self.assertEqual(sim.status(2), "vFF")
        sim.wait_status(2, "vFf")
        self.assertEqual(sim.status(1), "   ")  # other channels untouched
        sim.frames(sim.read_for(0.5))
        lines = measurements(sim.received, 2)
        self.assertGreater(len(lines), 10)
        # 36 ml/h without noise: 100 units of 0.1 ul per second, one line per second.
        for n, (code, t, volume, pressure) in enumerate(lines[:10]):
            self.assertEqual(t, 1000 * (n + 1))
            self.assertEqual(volume, 100 * (n + 1))
        sim.ask(b"[END,2]\r\n", b"[OK")
        self.assertEqual(sim.status(2), "   ")
        self.assertIn(b"[RECS,003]", sim.ask(b"[RECS]\r\n", b"[RECS"))
        record = sim.ask(b"[GETREC,003]\r\n", b"[END")
        self.assertEqual(record[-1], b"[END]")
        body = record[record.index(b"H1,SIM00001,2.10"):-1]
        self.assertEqual([l.split(b",")[0] for l in body[:22]],
                         [b"H%d" % i for i in range(1, 23)])
        self.assertEqual(body[1], b"H2,2,T2SIM00001,2.10")
        self.assertEqual(body[5:7], [b"H6,A-1", b"H7,JS"])
        self.assertEqual(body[11:13], [b"H12,Flow", b"H13,36.00  "])
        self.assertEqual(body[22], b"D1,:,0,0,0")
        self.assertEqual(body[23], b"D2, ,1000,100,%d" % lines[0][3])
        self.assertTrue(all(l.startswith(b"D") for l in body[22:]))
        # The PC deletes the newest record: the numbers of the others stay.
        self.assertIn(b"[ERASED]", sim.ask(b"[DELREC,3]\r\n", b"[ERASED"))
        self.assertIn(b"[RECS,002]", sim.ask(b"[RECS]\r\n", b"[RECS"))

    def test_preset_records_cover_every_test_type(self):
        sim = self.start("--preset-records", "4", "--channels", "2,3")
        self.assertIn(b"[RECS,004]", sim.ask(b"[RECS]\r\n", b"[RECS"))
        cases = [(1, [b"Flow"], b"2"), (2, [b"Occlusion"], b"3"), (3, [b"PCA/Dual Flow"], b"2"),
                 (4, [b"Flow", b"Occlusion", b"Flow"], b"3")]
        for number, types, channel in cases:
            with self.subTest(record=number):
                reply = sim.ask(b"[GETREC,%03d]\r\n" % number, b"[END")
                lines = reply[next(i for i, l in enumerate(reply) if l.startswith(b"H1,")):-1]
                self.assertEqual([l[4:] for l in lines if l.startswith(b"H12,")], types)
                self.assertEqual({l.split(b",")[1] for l in lines if l.startswith(b"H2,")},
                                 {channel})
                self.assertEqual(lines.count(b"D1,:,0,0,0"), len(types))
                for line in lines:
                    self.assertRegex(line, rb"^(H\d+,.*|D\d+,.,\d+,\d+,-?\d+)$")
                # Samples only move forward in time and volume within a section.
                samples = [l.split(b",") for l in lines if l.startswith(b"D")]
                for a, b in zip(samples, samples[1:]):
                    if b[0] != b"D1":
                        self.assertGreater(int(b[2]), int(a[2]))
                        self.assertGreaterEqual(int(b[3]), int(a[3]))

    def test_occlusion_ends_by_itself_with_over_pressure_codes(self):
        sim = self.start("--accel", "100", "--profile", "1:ramp=40,peak=500,over=300,stop=20")
        sim.ask(b"[C1O,X,Y,2500]\r\n\x00", b"[OK")
        self.assertEqual(sim.status(1), "TO ")
        sim.wait_status(1, "TOT")
        sim.ask(b"[C1O,X,Y,2500]\r\n\x00", b"[OK")
        self.assertEqual(sim.status(1), "oOT")
        sim.wait_status(1, "OO ")
        lines = measurements(sim.received, 1)
        codes = "".join(c for c, *_ in lines)
        self.assertEqual(codes.count("O"), 1)
        first_over = codes.index("o")
        self.assertGreaterEqual(lines[first_over][3], 300)
        self.assertLess(lines[first_over - 1][3], 300)
        self.assertEqual(lines[codes.index("O")][3], 500)
        self.assertEqual(lines[-1][1], 20000)
        sim.ask(b"[END,1]\r\n", b"[OK")
        self.assertEqual(sim.status(1), "   ")

    def test_scripted_pca_stream_and_wrong_inlet(self):
        sim = self.start("--accel", "100", "--profile", "3:every=0,bolus=0.1,bolus-rate=360,noise=0",
                         script="after 2 START stream 6 at 3.6\n"
                                "bolus\nstream 4\nwrong-inlet on\n")
        sim.ask(b"[C3PCA,C,O,100]\r\n\x00", b"[OK")
        sim.wait_status(3, "FPF")
        sim.ask(b"[C3PCA,C,O,100]\r\n\x00", b"[OK")
        sim.frames(sim.read_for(0.6))
        lines = measurements(sim.received, 3)
        self.assertEqual(len(lines), 10)  # 6 + 4, then the channel holds
        self.assertEqual([c for c, *_ in lines], list("      RT  "))
        self.assertEqual(lines[5][2], 60)  # 3.6 ml/h is 10 units per second
        # 0.1 ml at 360 ml/h: 1000 units over one second on top of the basal rate
        self.assertEqual(lines[6][2] - lines[5][2], 1010)
        self.assertEqual(sim.status(3), "vPW")


class TransferTest(SimTestCase):
    def test_template_round_trip(self):
        sim = self.start()
        for line in [b"[SETTMPLT,0,Night run,bed 4]\r\n",
                     b"[SETTMPLT,1,OCCL,25.00,300.00,MMHG,0,20,0]\r\n",
                     b"[SETTMPLT,2,PCA,2.00,20.00,ML,1,0,10]\r\n",
                     b"[SETTMPLT,3,BOLUS,0.00,0.50,ML,0,0,0]\r\n",
                     b"[SETTMPLT,4,FLOW,12.50,5.00,,1,30,5]\r\n",
                     b"[SETTMPLT,END]\r\n"]:
            sim.send(line)
            time.sleep(0.05)
        self.assertIn(b"[TMPLTCOUNT,1]", sim.ask(b"[GETTMPLTCOUNT]\r\n", b"[TMPLTCOUNT"))
        reply = sim.ask(b"[GETTMPLT,1]\r\n", b"[TMPLTEND")
        self.assertEqual(reply[reply.index(b"[TMPLT,0,Night run,bed 4]"):], [
            b"[TMPLT,0,Night run,bed 4]",
            b"[TMPLT,1,OCCL,25.00,300,mmHg,00,20,00%]",
            b"[TMPLT,2,PCA,2.00,20.00,ML,01,00,10%]",
            b"[TMPLT,3,BOLUS,0.00,0.50,ML,00,00,00%]",
            b"[TMPLT,4,FLOW,12.50,5.00,ml/hr,01,30,05%]",
            b"[TMPLTEND]"])

    def test_notes_and_manual_from_the_pc(self):
        out = tempfile.mkdtemp()
        manual_out = os.path.join(out, "manual.bin")
        sim = self.start("--manual-out", manual_out)
        notes = b"first line\r\nsecond [x]\r\n" + b"y" * 150
        sim.send(b"[SETUSERNOTES]\r\n")
        time.sleep(0.05)
        sim.send(b"[")
        for i in range(0, len(notes), 100):
            time.sleep(0.05)
            sim.send(notes[i:i + 100])
        time.sleep(0.05)
        sim.send(b"]")
        time.sleep(0.4)
        reply = sim.ask(b"[GETUSERNOTES]\r\n", b"[UNEND")
        self.assertEqual([f for f in reply if f.startswith(b"[UN")],
                         [b"[UN,first line]", b"[UN,second (x)]", b"[UN," + b"y" * 150 + b"]",
                          b"[UNEND]"])
        # The PC writes the command line and the manual separately, 50 ms apart.
        manual = bytes(range(256)) * 2
        sim.send(b"[UMSETINSTRUCT]\r\n")
        time.sleep(0.06)
        sim.send(bytes(b ^ MANUAL_KEY[i % 36] for i, b in enumerate(manual)))
        time.sleep(0.06)
        self.assertIn(b"[POLL,1,1,1,1]", sim.ask(b"[POLL]\r\n", b"[POLL"))  # back to commands
        with open(manual_out, "rb") as f:
            self.assertEqual(f.read(), manual)
        # A manual file the PC could not open: only the command line goes out.
        sim.send(b"[UMSETINSTRUCT]\r\n")
        time.sleep(0.06)
        self.assertIn(b"[RECS,000]", sim.ask(b"[RECS]\r\n", b"[RECS"))
        with open(manual_out, "rb") as f:
            self.assertEqual(f.read(), b"")


class FaultTest(SimTestCase):
    def test_split_and_garbage_keep_frames_whole(self):
        sim = self.start("--split", "--garbage", "12", "--preset-records", "1")
        reply = sim.ask(b"[GETPARAMS,0]\r\n", b"[P5")
        params = [f for f in reply if f.startswith(b"[")]
        self.assertEqual(len(params), 5)
        noise = [f for f in reply if not f.startswith(b"[")]
        self.assertEqual(len(noise), 5)
        for n in noise:
            self.assertEqual(len(n), 12)
            self.assertFalse(set(n) & set(b"[]\r\n\x001234DH"), n)
        record = [f for f in sim.ask(b"[GETREC,001]\r\n", b"[END", 10) if f[:1] in b"HD"]
        self.assertEqual(len(record), 22 + 121)

    def test_dropped_end_silence_and_unplug(self):
        sim = self.start("--preset-records", "2",
                         script="drop END\n"
                                "after GETREC silence 1s\n"
                                "unplug after 30 GETREC lines\n")
        first = sim.frames(sim.read_for(0.0))
        sim.send(b"[GETREC,001]\r\n")
        first = sim.frames(sim.read_for(0.4))
        self.assertEqual(len(first), 22 + 121)
        self.assertNotIn(b"[END]", first)
        sim.send(b"[STATUS]\r\n")
        self.assertEqual(sim.read_for(0.15), b"")  # silent
        sim.wait_log("unplug after 30 GETREC lines")
        sim.send(b"[GETREC,002]\r\n")
        got = sim.read_for(0.5)
        self.assertEqual(got.count(b"\r\n"), 30)
        self.assertFalse(os.path.lexists(sim.link))
        with self.assertRaises(OSError):
            os.write(sim.fd, b"[POLL]\r\n")
            os.read(sim.fd, 10)

    def test_replug_behind_another_link_keeps_the_test(self):
        other = os.path.join(tempfile.mkdtemp(), "other")
        sim = self.start("--channels", "1", "--sample-period", "100", "--accel", "10",
                         script="after RUN\nafter 20 samples unplug\n"
                                "after 300ms replug %s\n" % other)
        sim.ask(b"[C1F,A-1,JS,1250]\r\n\x00", b"[OK")
        sim.wait_status(1, "FFF")
        sim.ask(b"[C1F,A-1,JS,1250]\r\n\x00", b"[OK")
        sim.wait_log("unplugged")
        self.assertFalse(os.path.lexists(sim.link))
        sim.wait_log("plugged in: " + other)
        os.close(sim.fd)
        sim.fd = os.open(other, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        tty.setraw(sim.fd)
        # The test went on while unplugged: its lines come on the new port.
        later = measurements(sim.frames(sim.read_for(0.5)), 1)
        self.assertGreater(len(later), 10)
        self.assertGreater(later[0][1], 20 * 100)

class CommandLineTest(unittest.TestCase):
    def test_traffic_log_holds_the_exact_bytes(self):
        sim = Sim()
        try:
            sim.ask(b"[C4F,A-1,JS,1250]\r\n\x00", b"[OK")
            sim.ask(b"[STATUS]\r\n", b"[STAT")
            log = sim.traffic()
        finally:
            sim.close()
        self.assertIn(" RX [C4F,A-1,JS,1250]\\r\\n\\0\n", log)
        self.assertIn(" RX [STATUS]\\r\\n\n", log)
        self.assertRegex(log, r" TX \[STAT,   F   F    \]\\r\\n\n")

    def test_help_and_bad_scripts(self):
        done = subprocess.run([SIM, "--help"], capture_output=True, text=True)
        self.assertEqual(done.returncode, 0)
        for word in ["--model", "--accel", "--profile", "--preset-records", "--script",
                     "--log", "unplug after N"]:
            self.assertIn(word, done.stdout)
        for script, where in [("after 2 WHATEVER end\n", "2 WHATEVER"),
                              ("battery X\n", "battery X"),
                              ("stream many\n", "stream many")]:
            with self.subTest(script=script):
                with tempfile.NamedTemporaryFile("w", suffix=".txt") as f:
                    f.write("# scenario\n" + script)
                    f.flush()
                    done = subprocess.run([SIM, "--link", f.name + ".lnk", "--script", f.name],
                                          capture_output=True, text=True)
                self.assertEqual(done.returncode, 2)
                self.assertIn(f.name + ":2", done.stderr)
                self.assertIn(where, done.stderr)


if __name__ == "__main__":
    SIM = sys.argv.pop(1)
    unittest.main()
