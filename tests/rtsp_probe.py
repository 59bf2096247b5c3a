#!/usr/bin/env python3
"""Raw RTSP test client for the end-to-end scripts (stdlib only).

Speaks RTSP over one TCP connection, parses the interleaved RTP bytes itself
and checks the framing a strict player relies on. Prints one JSON object per
run and exits non-zero with a reason when a check fails. Every wait is
bounded by a socket time-out and every loop by a count or a deadline.

  rtsp_probe.py framing URL [--frames N]
  rtsp_probe.py transport URL                 UDP (to our own address only) and TCP accepted
  rtsp_probe.py describe URL                  prints the SDP DESCRIBE answers
  rtsp_probe.py udp URL --seconds S [--end teardown|bye|silent]
                                              RTP over UDP: loss, frames, sender reports,
                                              and how the session ends
  rtsp_probe.py auth URL USER PASSWORD        OPTIONS open, 401 challenge, Digest
  rtsp_probe.py fanout URL --clients N --seconds S [--stall-seconds T]
  rtsp_probe.py rate URL --seconds S          frame rate and time-stamp steps
  rtsp_probe.py latency URL --runs N          PLAY -> first complete key frame
  rtsp_probe.py drain URL --clients N --seconds S   load: play and discard
  rtsp_probe.py timing URL --seconds S        RTP-Info, RTCP sender reports, sessions
"""
import argparse
import hashlib
import json
import re
import socket
import sys
import threading
import time
from urllib.parse import urlparse

TIMEOUT_S = 10.0


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Rtsp:
    def __init__(self, url, rcvbuf=None):
        u = urlparse(url)
        self.url = url
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        if rcvbuf:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
        self.sock.settimeout(TIMEOUT_S)
        self.sock.connect((u.hostname, u.port or 554))
        self.cseq = 0
        self.buf = b""
        self.auth_header = None
        self.session = None
        self.rtp_info = None  # {"url", "seq", "rtptime"} of the PLAY answer
        self.setup_url = None
        self.reports = []  # sender reports, each with the RTP packets received before it
        self.rtp_packets = 0
        self.rtp_octets = 0

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass

    def _fill(self):
        data = self.sock.recv(65536)
        if not data:
            raise Failure("connection closed by the server")
        self.buf += data

    def read_exact(self, n):
        while len(self.buf) < n:
            self._fill()
        out, self.buf = self.buf[:n], self.buf[n:]
        return out

    def request(self, method, url=None, headers=None):
        self.cseq += 1
        lines = [f"{method} {url or self.url} RTSP/1.0", f"CSeq: {self.cseq}", "User-Agent: rtsp_probe"]
        if self.auth_header:
            lines.append("Authorization: " + self.auth_header(method, url or self.url))
        lines += headers or []
        self.sock.sendall(("\r\n".join(lines) + "\r\n\r\n").encode())
        return self.response()

    def response(self):
        deadline = time.monotonic() + TIMEOUT_S
        while b"\r\n\r\n" not in self.buf:
            check(time.monotonic() < deadline, "no response")
            self._fill()
        head, self.buf = self.buf.split(b"\r\n\r\n", 1)
        text = head.decode("utf-8", "replace")
        m = re.search(r"Content-Length: (\d+)", text)
        body = self.read_exact(int(m.group(1))).decode() if m else ""
        status = int(text.split(" ", 2)[1])
        return status, text, body

    def use_digest(self, user, password, challenge_text):
        realm = re.search(r'Digest realm="([^"]*)"', challenge_text).group(1)
        nonce = re.search(r'nonce="([^"]*)"', challenge_text).group(1)

        def header(method, uri):
            md5 = lambda s: hashlib.md5(s.encode()).hexdigest()
            response = md5(f"{md5(f'{user}:{realm}:{password}')}:{nonce}:{md5(f'{method}:{uri}')}")
            return (f'Digest username="{user}", realm="{realm}", nonce="{nonce}", uri="{uri}", '
                    f'response="{response}"')

        self.auth_header = header

    def setup(self):
        self.setup_url = self.url + "/trackID=0"
        status, text, _ = self.request("SETUP", self.setup_url, ["Transport: RTP/AVP/TCP;unicast;interleaved=0-1"])
        check(status == 200 and "interleaved=0-1" in text, f"SETUP answered {status}")
        m = re.search(r"\r\nSession: ([^\r;]+)", text)
        check(m, "SETUP named no session")
        self.session = m.group(1)

    def parse_play(self, status, text):
        check(status == 200, f"PLAY answered {status}")
        check(f"\r\nSession: {self.session}\r\n" in text, "PLAY names another session than SETUP")
        m = re.search(r"\r\nRTP-Info: url=([^;\r]+);seq=(\d+)(?:;rtptime=(\d+))?\r?", text + "\r")
        check(m, f"PLAY carries no RTP-Info: {text!r}")
        self.rtp_info = {"url": m.group(1), "seq": int(m.group(2)),
                         "rtptime": int(m.group(3)) if m.group(3) else None}

    def play(self):
        status, _, sdp = self.request("DESCRIBE", headers=["Accept: application/sdp"])
        check(status == 200, f"DESCRIBE answered {status}")
        self.setup()
        status, text, _ = self.request("PLAY", headers=[f"Session: {self.session}", "Range: npt=0.000-"])
        self.parse_play(status, text)
        return sdp

    def sender_report(self, body):
        """Checks one compound RTCP packet from the server: SR then SDES."""
        check(len(body) >= 28 and body[0] == 0x80 and body[1] == 200, f"channel 1 holds no sender report: {body[:8]!r}")
        words = (body[2] << 8) | body[3]
        check(words == 6, f"sender report of {words + 1} words, expected 7 (no report blocks)")
        check(int.from_bytes(body[4:8], "big") == 0x13572468, "sender report of another SSRC")
        rest = body[28:]
        check(len(rest) >= 4 and rest[0] & 0xC0 == 0x80 and rest[1] == 202, "no SDES after the sender report")
        check(4 + 4 * ((rest[2] << 8) | rest[3]) == len(rest), "SDES length does not fill the packet")
        ntp = int.from_bytes(body[8:16], "big")
        self.reports.append({
            "ntp_s": (ntp >> 32) - 2208988800 + (ntp & 0xFFFFFFFF) / 2**32,
            "rtp": int.from_bytes(body[16:20], "big"),
            "packets": int.from_bytes(body[20:24], "big"),
            "octets": int.from_bytes(body[24:28], "big"),
            "received_packets": self.rtp_packets,
            "received_octets": self.rtp_octets,
            "arrived": time.time(),
        })

    def packet(self):
        while True:
            head = self.read_exact(4)
            check(head[0] == 0x24, f"interleaved magic is {head[0]:#x}, not '$'")
            length = (head[2] << 8) | head[3]
            check(head[1] in (0, 1), f"packet on channel {head[1]}")
            if head[1] == 0:
                break
            self.sender_report(self.read_exact(length))
        check(12 <= length <= 1412, f"interleaved length {length} (frame of {length + 4} bytes)")
        body = self.read_exact(length)
        self.rtp_packets += 1
        self.rtp_octets += length - 12
        check(body[0] == 0x80, f"RTP first byte {body[0]:#x}")
        check(body[1] & 0x7F == 96, "payload type is not 96")
        return {
            "marker": bool(body[1] & 0x80),
            "seq": (body[2] << 8) | body[3],
            "ts": int.from_bytes(body[4:8], "big"),
            "ssrc": int.from_bytes(body[8:12], "big"),
            "payload": body[12:],
        }


class FrameAssembler:
    """Groups packets into frames and checks the packetisation rules."""

    def __init__(self):
        self.expected_seq = 0
        self.current = []  # packets of the frame being received
        self.fu = None  # NAL being reassembled from FU-A fragments
        self.nals = []
        self.frames = []  # (ts, [nal types], arrival time, size)

    def add(self, p):
        check(p["seq"] == self.expected_seq, f"sequence {p['seq']}, expected {self.expected_seq}")
        self.expected_seq = (self.expected_seq + 1) & 0xFFFF
        check(p["ssrc"] == 0x13572468, "unexpected SSRC")
        if self.current:
            check(p["ts"] == self.current[0]["ts"], "time stamp changed inside a frame (marker missing)")
        self.current.append(p)
        payload = p["payload"]
        check(len(payload) <= 1400, "payload above 1400 bytes")
        kind = payload[0] & 0x1F
        if kind == 28:
            indicator, fu_header = payload[0], payload[1]
            start, end = bool(fu_header & 0x80), bool(fu_header & 0x40)
            check(indicator & 0x80 == 0, "forbidden bit set in the FU indicator")
            check(fu_header & 0x20 == 0, "R bit set in the FU header")
            if start:
                check(self.fu is None, "FU-A start inside another fragmented NAL unit")
                self.fu = bytearray([(indicator & 0xE0) | (fu_header & 0x1F)])
            else:
                check(self.fu is not None, "FU-A fragment without a start")
                check((self.fu[0] & 0x1F) == (fu_header & 0x1F), "FU-A type changed between fragments")
            self.fu += payload[2:]
            if end:
                self.nals.append(bytes(self.fu))
                self.fu = None
            check(not p["marker"] or end, "marker on a fragment that is not the last")
        else:
            check(self.fu is None, "single NAL packet inside a fragmented NAL unit")
            check(1 <= kind <= 23, f"unexpected NAL/packet type {kind}")
            self.nals.append(bytes(payload))
        if p["marker"]:
            types = [n[0] & 0x1F for n in self.nals]
            if self.frames:
                check(p["ts"] != self.frames[-1][0], "two frames share one time stamp")
            self.frames.append((p["ts"], types, time.monotonic(), sum(map(len, self.nals))))
            self.current, self.nals = [], []


def is_key(types):
    return 5 in types


def run_framing(args):
    c = Rtsp(args.url)
    sdp = c.play()
    check("a=fmtp:96 packetization-mode=1;" in sdp, "SDP lacks the fmtp line")
    fa = FrameAssembler()
    deadline = time.monotonic() + 30
    while len(fa.frames) < args.frames:
        check(time.monotonic() < deadline, f"only {len(fa.frames)} frames in 30 s")
        fa.add(c.packet())
    first = fa.frames[0][1]
    check(7 in first and 8 in first and 5 in first, f"first frame holds NAL types {first}, not SPS+PPS+IDR")
    packets = fa.expected_seq
    nal_units = sum(len(f[1]) for f in fa.frames)
    check(packets > nal_units, "no NAL unit was fragmented: the FU-A path went unchecked")
    # TEARDOWN while streaming: answered after the current frame, then closed.
    c.sock.sendall(f"TEARDOWN {args.url} RTSP/1.0\r\nCSeq: 9\r\n\r\n".encode())
    tail = c.buf
    deadline = time.monotonic() + TIMEOUT_S
    closed = False
    while time.monotonic() < deadline:
        data = c.sock.recv(65536)
        if not data:
            closed = True
            break
        tail = (tail + data)[-4096:]
    check(closed, "the server kept streaming after TEARDOWN")
    check(tail.endswith(f"RTSP/1.0 200 OK\r\nCSeq: 9\r\nSession: {c.session}\r\n\r\n".encode()),
          "TEARDOWN while streaming was not answered")
    c.close()
    return {"frames": len(fa.frames), "first_frame_nals": first, "packets": packets, "nal_units": nal_units}


def run_transport(args):
    c = Rtsp(args.url)
    # A destination of another host must not be where the stream goes.
    status, text, _ = c.request("SETUP", args.url + "/trackID=0",
                                ["Transport: RTP/AVP;unicast;destination=198.51.100.7;client_port=5000-5001"])
    check(status == 200, f"UDP SETUP answered {status}")
    m = re.search(r"\r\nTransport: RTP/AVP;unicast;client_port=5000-5001;server_port=(\d+)-(\d+)\r\n", text)
    check(m and int(m.group(1)) % 2 == 0 and int(m.group(2)) == int(m.group(1)) + 1,
          f"UDP SETUP transport: {text!r}")
    check("198.51.100.7" not in text, "the answer takes up another host's destination")
    check(re.search(r"\r\nSession: [0-9a-f]+;timeout=60(\r\n|$)", text), f"UDP SETUP session: {text!r}")
    status, text, _ = c.request("SETUP", args.url + "/trackID=0",
                                ["Transport: RTP/AVP/TCP;unicast;interleaved=2-3"])
    check(status == 200 and "Transport: RTP/AVP/TCP;unicast;interleaved=0-1" in text, "TCP SETUP refused")
    c.close()
    return {"udp": 200, "tcp": 200}


def run_describe(args):
    c = Rtsp(args.url)
    status, _, sdp = c.request("DESCRIBE", headers=["Accept: application/sdp"])
    check(status == 200, f"DESCRIBE answered {status}")
    c.close()
    return {"sdp": sdp}


def udp_pair():
    """Two UDP sockets on an even port and the one above it, kernel-default buffers."""
    for _ in range(50):
        rtp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        rtp.bind(("127.0.0.1", 0))
        port = rtp.getsockname()[1]
        if port % 2 == 0:
            rtcp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            try:
                rtcp.bind(("127.0.0.1", port + 1))
                return rtp, rtcp, port
            except OSError:
                rtcp.close()
        rtp.close()
    raise Failure("no even UDP port pair")


def receiver_report(ssrc=0x0BADCAFE, bye=False):
    rr = bytes([0x80, 201, 0, 1]) + ssrc.to_bytes(4, "big")
    return rr + (bytes([0x81, 203, 0, 1]) + ssrc.to_bytes(4, "big") if bye else b"")


def play_udp(c):
    rtp, rtcp, port = udp_pair()
    status, _, _ = c.request("DESCRIBE", headers=["Accept: application/sdp"])
    check(status == 200, f"DESCRIBE answered {status}")
    c.setup_url = c.url + "/trackID=0"
    status, text, _ = c.request("SETUP", c.setup_url, [f"Transport: RTP/AVP;unicast;client_port={port}-{port + 1}"])
    check(status == 200, f"UDP SETUP answered {status}")
    m = re.search(r"server_port=(\d+)-(\d+)", text)
    check(m, f"no server_port: {text!r}")
    c.session = re.search(r"\r\nSession: ([^\r;]+)", text).group(1)
    server = (urlparse(c.url).hostname, int(m.group(1)))
    status, text, _ = c.request("PLAY", headers=[f"Session: {c.session}", "Range: npt=0.000-"])
    c.parse_play(status, text)
    return rtp, rtcp, server


def run_udp(args):
    c = Rtsp(args.url)
    rtp, rtcp, server = play_udp(c)
    rtp.settimeout(0.2)
    rtcp.setblocking(False)
    expected, packets, lost, frames, keys, reports, octets = None, 0, 0, 0, 0, 0, 0
    last_rr = 0.0
    start = time.monotonic()
    stop = start + args.seconds
    while time.monotonic() < stop:
        try:
            data, sender = rtp.recvfrom(65536)
        except socket.timeout:
            continue
        check(sender == server, f"RTP from {sender}, not the server's port {server}")
        check(data[0] == 0x80 and data[1] & 0x7F == 96, "not our RTP")
        seq = (data[2] << 8) | data[3]
        if expected is not None:
            lost += (seq - expected) & 0xFFFF
        expected = (seq + 1) & 0xFFFF
        packets += 1
        octets += len(data)
        keys += (data[12] & 0x1F) == 7  # each key frame carries its SPS
        if data[1] & 0x80:
            frames += 1
        try:
            while True:
                report, sender = rtcp.recvfrom(2048)
                check(sender == (server[0], server[1] + 1), f"RTCP from {sender}")
                check(report[1] == 200, "RTCP from the server is no sender report")
                reports += 1
        except BlockingIOError:
            pass
        if time.monotonic() - last_rr >= 1.0:
            rtcp.sendto(receiver_report(), (server[0], server[1] + 1))
            last_rr = time.monotonic()
    elapsed = time.monotonic() - start
    check(packets > 0 and frames > 0, "no RTP came over UDP")
    check(reports > 0, "no sender report came to the RTCP port")
    result = {"packets": packets, "lost": lost, "frames": frames, "fps": round(frames / elapsed, 2),
              "mbit_s": round(octets * 8 / elapsed / 1e6, 2),
              "key_frames": keys, "sender_reports": reports}
    if args.end == "teardown":
        status, _, _ = c.request("TEARDOWN", headers=[f"Session: {c.session}"])
        check(status == 200, f"TEARDOWN answered {status}")
    elif args.end == "bye":
        rtcp.sendto(receiver_report(bye=True), (server[0], server[1] + 1))
    # Whatever the end, RTP must stop coming; silent waits out the time-out.
    quiet_from = time.monotonic()
    deadline = quiet_from + (90 if args.end == "silent" else 10)
    last_packet = quiet_from
    while time.monotonic() < deadline and time.monotonic() - last_packet < 3:
        try:
            rtp.recvfrom(65536)
            last_packet = time.monotonic()
        except socket.timeout:
            pass
    check(time.monotonic() - last_packet >= 3, f"RTP still comes after the {args.end}")
    result["stopped_after_s"] = round(last_packet - quiet_from, 1)
    c.close()
    return result


def run_auth(args):
    c = Rtsp(args.url)
    status, text, _ = c.request("OPTIONS")
    check(status == 200 and "Public: OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN" in text, "OPTIONS not open")
    status, challenge, _ = c.request("DESCRIBE")
    check(status == 401, f"DESCRIBE without credentials answered {status}")
    check('WWW-Authenticate: Digest realm="Lumicast", nonce="' in challenge, "no Digest challenge")
    check('WWW-Authenticate: Basic realm="Lumicast"' in challenge, "no Basic challenge")
    c.use_digest(args.user, "not-" + args.password, challenge)
    status, _, _ = c.request("DESCRIBE")
    check(status == 401, f"wrong password answered {status}")
    c.use_digest(args.user, args.password, challenge)
    status, _, sdp = c.request("DESCRIBE")
    check(status == 200 and "m=video" in sdp, f"Digest with the right password answered {status}")
    c.auth_header = None  # the connection is trusted now
    status, _, _ = c.request("SETUP", args.url + "/trackID=0", ["Transport: RTP/AVP/TCP;unicast;interleaved=0-1"])
    check(status == 200, f"SETUP after authentication answered {status}")
    c.close()
    # A nonce belongs to its connection.
    d = Rtsp(args.url)
    d.use_digest(args.user, args.password, challenge)
    status, _, _ = d.request("DESCRIBE")
    check(status == 401, f"nonce of another connection answered {status}")
    d.close()
    return {"options": 200, "challenge": 401, "digest": 200}


def receive_frames(client, fa, until, stop_at_frames=None):
    while time.monotonic() < until:
        fa.add(client.packet())
        if stop_at_frames and len(fa.frames) >= stop_at_frames:
            return


def run_clients(body, count, timeout_s):
    """Runs body(i) for i in 0..count-1 at once, each on its own thread."""
    threads = [threading.Thread(target=body, args=(i,), daemon=True) for i in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout_s)


def run_fanout(args):
    """N clients at once; with --stall-seconds the last one stops reading
    for that long in the middle of the run and must resume at a key frame."""
    results = [None] * args.clients
    errors = []
    start = time.monotonic()
    stall_from = start + args.seconds / 3
    stall_until = stall_from + args.stall_seconds

    def client(i):
        stalled = args.stall_seconds > 0 and i == args.clients - 1
        try:
            c = Rtsp(args.url, rcvbuf=4096 if stalled else None)
            c.play()
            fa = FrameAssembler()
            if stalled:
                receive_frames(c, fa, stall_from)
                time.sleep(max(0.0, stall_until - time.monotonic()))
            receive_frames(c, fa, start + args.seconds)
            c.close()
            results[i] = fa
        except Exception as e:  # noqa: BLE001 - report every client's failure
            errors.append(f"client {i}: {e}")

    run_clients(client, args.clients, args.seconds + 30)
    check(not errors, "; ".join(errors[:3]))
    check(all(r is not None for r in results), "a client did not finish")

    out = {"clients": args.clients, "frames": [len(r.frames) for r in results]}
    # Frame rate of the readers while the stalled client was not reading.
    if args.stall_seconds > 0:
        during = [sum(1 for f in r.frames if stall_from + 0.5 <= f[2] <= stall_until - 0.5)
                  for r in results[:-1]]
        out["fps_during_stall"] = [round(n / (args.stall_seconds - 1.0), 1) for n in during]
        s = results[-1].frames
        gaps = [(s[k][0] - s[k - 1][0]) & 0xFFFFFFFF for k in range(1, len(s))]
        skips = [k for k in range(1, len(s)) if gaps[k - 1] > 90000]
        check(skips, f"the stalled client skipped nothing (largest step {max(gaps) if gaps else 0})")
        for k in skips:
            check(is_key(s[k][1]), f"after a skip the stalled client got NAL types {s[k][1]}, not a key frame")
        out["stalled_skips"] = len(skips)
        out["stalled_frames_after"] = sum(1 for f in s if f[2] > stall_until)
    return out


def run_rate(args):
    """Frame rate in steady state: a new client first gets the queued frames
    after the newest key frame in one burst, so the first second is left out.
    The rate is intervals over the time between the first and the last steady
    frame's arrival: frames counted in a fixed window would be off by one
    (2.51 and 2.54 fps seen for a 2 fps stream)."""
    c = Rtsp(args.url)
    c.play()
    fa = FrameAssembler()
    end = time.monotonic() + args.seconds
    receive_frames(c, fa, end)
    c.close()
    frames = fa.frames
    check(len(frames) >= 3, f"only {len(frames)} frames")
    settle = frames[0][2] + 1.0
    steady = [f[2] for f in frames if f[2] > settle]
    check(len(steady) >= 3, f"only {len(steady)} frames after the first second")
    steps = sorted({(frames[k][0] - frames[k - 1][0]) & 0xFFFFFFFF for k in range(1, len(frames))})
    return {"frames": len(frames), "fps": round((len(steady) - 1) / max(steady[-1] - steady[0], 1e-3), 2),
            "ts_steps": steps, "first_key": is_key(frames[0][1]),
            "keys": sum(1 for f in frames if is_key(f[1]))}


def run_latency(args):
    """Milliseconds from sending PLAY to the last byte of the first complete
    key frame, per run (a fresh connection each). A new client first gets the
    newest key frame already queued (possibly from before the stream went
    idle); "fresh" is the first key frame that was not queued yet, told apart
    by the gap before it (queued frames arrive back to back)."""
    first, fresh = [], []
    for _ in range(args.runs):
        c = Rtsp(args.url)
        status, _, _ = c.request("DESCRIBE")
        check(status == 200, f"DESCRIBE answered {status}")
        c.setup()
        fa = FrameAssembler()
        t0 = time.monotonic()
        c.cseq += 1
        c.sock.sendall(f"PLAY {args.url} RTSP/1.0\r\nCSeq: {c.cseq}\r\nSession: {c.session}\r\n\r\n".encode())
        status, text, _ = c.response()
        c.parse_play(status, text)
        previous = time.monotonic()
        fresh_at = None
        deadline = t0 + 5
        while fresh_at is None and time.monotonic() < deadline:
            count = len(fa.frames)
            fa.add(c.packet())
            if len(fa.frames) > count:
                ts, types, at, _ = fa.frames[-1]
                if is_key(types) and at - previous >= 0.003:
                    fresh_at = at
                previous = at
        check(fa.frames and is_key(fa.frames[0][1]), "first frame is not a key frame")
        first.append((fa.frames[0][2] - t0) * 1000)
        if fresh_at is not None:
            fresh.append((fresh_at - t0) * 1000)
        c.close()
        time.sleep(args.pause)
    med = lambda v: round(sorted(v)[len(v) // 2], 1) if v else None
    return {"runs": len(first), "first_key_median_ms": med(first), "first_key_max_ms": round(max(first), 1),
            "fresh_key_median_ms": med(fresh), "fresh_runs": len(fresh)}


def run_drain(args):
    """N clients that play and throw the bytes away (load for the benchmark)."""
    stop = time.monotonic() + args.seconds
    received = [0] * args.clients
    errors = []

    def client(i):
        try:
            c = Rtsp(args.url)
            if args.udp:
                rtp, _, _ = play_udp(c)
                rtp.settimeout(1.0)
                sock = rtp
            else:
                c.play()
                received[i] += len(c.buf)
                sock = c.sock
            while time.monotonic() < stop:
                data = sock.recv(262144)
                check(data, "closed")
                received[i] += len(data)
            c.close()
        except Exception as e:  # noqa: BLE001
            errors.append(f"client {i}: {e}")

    run_clients(client, args.clients, args.seconds + 30)
    check(not errors, "; ".join(errors[:3]))
    return {"clients": args.clients, "bytes_min": min(received), "bytes_max": max(received)}


def run_timing(args):
    """What recorders time the stream by: RTP-Info naming the first packet,
    a sender report before it and then every few seconds, whose NTP time is
    the wall clock and whose RTP time advances with it, with the counts of
    what was sent; receiver reports from the client change nothing; each
    connection has its own session."""
    c = Rtsp(args.url)
    c.play()
    info = c.rtp_info
    check(info["url"] == c.setup_url, f"RTP-Info url {info['url']}, SETUP was {c.setup_url}")
    check(info["seq"] == 0, f"RTP-Info seq {info['seq']}")
    first = c.packet()
    check(first["seq"] == info["seq"], "first packet's sequence is not RTP-Info's")
    check(info["rtptime"] == first["ts"], f"RTP-Info rtptime {info['rtptime']}, first packet {first['ts']}")
    check(c.reports and c.reports[0]["received_packets"] == 0, "no sender report before the first packet")
    r0 = c.reports[0]
    check(r0["rtp"] == first["ts"] and r0["packets"] == 0 and r0["octets"] == 0, f"first report {r0}")
    check(abs(r0["ntp_s"] - r0["arrived"]) < 2.0, f"first report's NTP time is {r0['ntp_s'] - r0['arrived']:.3f} s off")
    other = Rtsp(args.url)
    other.play()
    check(other.session != c.session, "two connections share a session identifier")
    other.close()
    # A receiver report now and then, as players send them (RR, no blocks).
    rr = bytes([0x24, 1, 0, 8, 0x80, 201, 0, 1, 0xDE, 0xAD, 0xBE, 0xEF])
    end = time.monotonic() + args.seconds
    sent_rr = time.monotonic()
    while time.monotonic() < end:
        c.packet()
        if time.monotonic() - sent_rr > 1:
            c.sock.sendall(rr)
            sent_rr = time.monotonic()
    reports = c.reports
    check(len(reports) >= 2, f"{len(reports)} sender report(s) in {args.seconds} s")
    for a, b in zip(reports, reports[1:]):
        gap = b["arrived"] - a["arrived"]
        check(1.0 <= gap <= 10.0, f"sender reports {gap:.1f} s apart")
        rtp_s = ((b["rtp"] - a["rtp"]) & 0xFFFFFFFF) / 90000
        check(abs((b["ntp_s"] - a["ntp_s"]) - rtp_s) < 0.25, f"NTP advanced {b['ntp_s'] - a['ntp_s']:.3f} s, RTP {rtp_s:.3f} s")
    for r in reports:
        check(r["packets"] == r["received_packets"] and r["octets"] == r["received_octets"],
              f"report counts {r['packets']}/{r['octets']}, received {r['received_packets']}/{r['received_octets']}")
    c.sock.sendall(rr + f"TEARDOWN {args.url} RTSP/1.0\r\nCSeq: 9\r\nSession: {c.session}\r\n\r\n".encode())
    tail = c.buf
    deadline = time.monotonic() + TIMEOUT_S
    while time.monotonic() < deadline:
        data = c.sock.recv(65536)
        if not data:
            break
        tail = (tail + data)[-4096:]
    check(tail.endswith(f"Session: {c.session}\r\n\r\n".encode()), "TEARDOWN behind a receiver report unanswered")
    c.close()
    return {"reports": len(reports), "session": c.session, "rtp_info": info,
            "first_report_offset_s": round(r0["ntp_s"] - r0["arrived"], 3)}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("mode", choices=["framing", "transport", "auth", "fanout", "rate", "latency", "drain", "timing",
                                     "udp", "describe"])
    ap.add_argument("url")
    ap.add_argument("user", nargs="?")
    ap.add_argument("password", nargs="?")
    ap.add_argument("--frames", type=int, default=40)
    ap.add_argument("--clients", type=int, default=8)
    ap.add_argument("--seconds", type=float, default=6)
    ap.add_argument("--stall-seconds", type=float, default=0)
    ap.add_argument("--runs", type=int, default=9)
    ap.add_argument("--pause", type=float, default=0.0)
    ap.add_argument("--end", choices=["teardown", "bye", "silent"], default="teardown")
    ap.add_argument("--udp", action="store_true", help="drain: play over UDP")
    args = ap.parse_args()
    modes = {"framing": run_framing, "transport": run_transport, "auth": run_auth,
             "fanout": run_fanout, "rate": run_rate, "latency": run_latency, "drain": run_drain,
             "timing": run_timing, "udp": run_udp, "describe": run_describe}
    try:
        print(json.dumps(modes[args.mode](args)))
    except (Failure, OSError) as e:
        print(f"rtsp_probe {args.mode}: {e}", file=sys.stderr)
        sys.exit(1)


if __name__ == "__main__":
    main()
