#!/usr/bin/env python3
"""Soak load against a running engine: RTSP viewers, ONVIF calls, snapshots
and WS-Discovery probes that come and go at random, for a given time; every
minute one line with the engine's RSS, threads and descriptors and what the
clients did. Prints a JSON summary at the end. Used by bench/soak.sh."""
import argparse, base64, hashlib, json, os, random, socket, struct, sys, threading, time, uuid

AUTH = "Basic " + base64.b64encode(b"admin:soak-pass").decode()
counts = {k: 0 for k in ("rtsp_sessions", "rtsp_frames_bytes", "onvif_calls", "snapshots", "probes", "errors")}
lock = threading.Lock()
stop = threading.Event()
errors = []


def count(key, n=1):
    with lock:
        counts[key] += n


def error(what):
    with lock:
        counts["errors"] += 1
        if len(errors) < 20:
            errors.append(f"{time.strftime('%H:%M:%S')} {what}")


def read_response(s):
    data = b""
    while b"\r\n\r\n" not in data:
        b = s.recv(4096)
        if not b:
            raise ConnectionError("closed before the answer")
        data += b
    head, rest = data.split(b"\r\n\r\n", 1)
    length = 0
    for line in head.split(b"\r\n"):
        if line.lower().startswith(b"content-length:"):
            length = int(line.split(b":")[1])
    while len(rest) < length:
        b = s.recv(65536)
        if not b:
            break
        rest += b
    return head.decode(errors="replace"), rest


def rtsp_viewer(port, stream):
    """One player: the usual four requests, plays a random while, then
    TEARDOWN or just hangs up (as a killed player would)."""
    url = f"rtsp://127.0.0.1:{port}/{stream}"
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
            cseq = 0
            def ask(method, uri, extra=""):
                nonlocal cseq
                cseq += 1
                s.sendall(f"{method} {uri} RTSP/1.0\r\nCSeq: {cseq}\r\nAuthorization: {AUTH}\r\n"
                          f"User-Agent: soak\r\n{extra}\r\n".encode())
                head, _ = read_response(s)
                if not head.startswith("RTSP/1.0 200"):
                    raise RuntimeError(f"{method} answered {head.splitlines()[0]}")
            ask("OPTIONS", url)
            ask("DESCRIBE", url, "Accept: application/sdp\r\n")
            ask("SETUP", url + "/trackID=0", "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n")
            ask("PLAY", url, "Session: 12345678\r\nRange: npt=0.000-\r\n")
            count("rtsp_sessions")
            until = time.time() + random.uniform(2, 30)
            got = 0
            while time.time() < until and not stop.is_set():
                b = s.recv(65536)
                if not b:
                    raise ConnectionError("stream ended by the server")
                got += len(b)
            count("rtsp_frames_bytes", got)
            if got == 0:
                raise RuntimeError("no media while playing")
            if random.random() < 0.5:
                s.sendall(f"TEARDOWN {url} RTSP/1.0\r\nCSeq: {cseq + 1}\r\nSession: 12345678\r\n\r\n".encode())
    except Exception as e:  # noqa: BLE001 - every failure is counted and shown
        error(f"rtsp {stream}: {e}")


def soap(port, path, body_element, token=True):
    header = ""
    if token:
        nonce = os.urandom(16)
        created = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime())
        digest = base64.b64encode(hashlib.sha1(nonce + created.encode() + b"soak-pass").digest()).decode()
        header = ('<s:Header><Security xmlns="http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd">'
                  '<UsernameToken><Username>admin</Username><Password Type="http://docs.oasis-open.org/wss/2004/01/'
                  f'oasis-200401-wss-username-token-profile-1.0#PasswordDigest">{digest}</Password>'
                  f'<Nonce>{base64.b64encode(nonce).decode()}</Nonce><Created>{created}</Created>'
                  '</UsernameToken></Security></s:Header>')
    env = (f'<s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope">{header}<s:Body>{body_element}'
           '</s:Body></s:Envelope>').encode()
    with socket.create_connection(("127.0.0.1", port), timeout=15) as s:
        s.sendall(f"POST {path} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nContent-Type: application/soap+xml; "
                  f"charset=utf-8\r\nContent-Length: {len(env)}\r\nConnection: close\r\n\r\n".encode() + env)
        head, body = read_response(s)
    if not head.startswith("HTTP/1.1 200"):
        raise RuntimeError(f"{body_element} answered {head.splitlines()[0]}")
    return body


def onvif_client(port):
    """A recorder's round: the clock, the profiles, the stream and snapshot URIs."""
    try:
        soap(port, "/onvif/device_service",
             '<GetSystemDateAndTime xmlns="http://www.onvif.org/ver10/device/wsdl"/>', token=False)
        calls = [('/onvif/device_service', '<GetCapabilities xmlns="http://www.onvif.org/ver10/device/wsdl"/>'),
                 ('/onvif/media_service', '<GetProfiles xmlns="http://www.onvif.org/ver10/media/wsdl"/>'),
                 ('/onvif/media_service', '<GetStreamUri xmlns="http://www.onvif.org/ver10/media/wsdl">'
                  '<ProfileToken>profile_main</ProfileToken></GetStreamUri>'),
                 ('/onvif/media_service', '<GetSnapshotUri xmlns="http://www.onvif.org/ver10/media/wsdl"/>')]
        for path, element in random.sample(calls, random.randint(1, len(calls))):
            soap(port, path, element)
        count("onvif_calls")
    except Exception as e:  # noqa: BLE001
        error(f"onvif: {e}")


def snapshot(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=20) as s:
            s.sendall(f"GET /onvif/snapshot HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: {AUTH}\r\n"
                      "Connection: close\r\n\r\n".encode())
            head, body = read_response(s)
        if not head.startswith("HTTP/1.1 200") or not body.startswith(b"\xff\xd8"):
            raise RuntimeError(f"answered {head.splitlines()[0]}")
        count("snapshots")
    except Exception as e:  # noqa: BLE001
        error(f"snapshot: {e}")


def probe():
    message = f"uuid:{uuid.uuid4()}"
    datagram = ('<?xml version="1.0" encoding="UTF-8"?><s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope" '
                'xmlns:a="http://schemas.xmlsoap.org/ws/2004/08/addressing"><s:Header><a:Action s:mustUnderstand="1">'
                'http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe</a:Action><a:MessageID>' + message +
                '</a:MessageID><a:To s:mustUnderstand="1">urn:schemas-xmlsoap-org:ws:2005:04:discovery</a:To>'
                '</s:Header><s:Body><Probe xmlns="http://schemas.xmlsoap.org/ws/2005/04/discovery"><d:Types '
                'xmlns:d="http://schemas.xmlsoap.org/ws/2005/04/discovery" xmlns:dn="http://www.onvif.org/ver10/'
                'network/wsdl">dn:NetworkVideoTransmitter</d:Types></Probe></s:Body></s:Envelope>')
    try:
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.settimeout(3)
            s.sendto(datagram.encode(), ("127.0.0.1", 3702))
            answer, _ = s.recvfrom(65536)
        if message.encode() not in answer or b"ProbeMatches" not in answer:
            raise RuntimeError("answer without our MessageID")
        count("probes")
    except Exception as e:  # noqa: BLE001
        error(f"probe: {e}")


def engine_figures(pid):
    status = open(f"/proc/{pid}/status").read()
    field = lambda name: int(next(l.split()[1] for l in status.splitlines() if l.startswith(name + ":")))
    return {"rss_kb": field("VmRSS"), "threads": field("Threads"), "fds": len(os.listdir(f"/proc/{pid}/fd"))}


def spawn(target, *args):
    t = threading.Thread(target=target, args=args, daemon=True)
    t.start()
    return t


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--pid", type=int, required=True)
    p.add_argument("--rtsp-port", type=int, required=True)
    p.add_argument("--onvif-port", type=int, required=True)
    p.add_argument("--minutes", type=float, required=True)
    p.add_argument("--max-viewers", type=int, default=6)
    args = p.parse_args()

    start = time.time()
    end = start + args.minutes * 60
    viewers = []
    samples = [dict(minute=0, **engine_figures(args.pid))]
    print(f"{'minute':>6} {'rss_kb':>8} {'threads':>7} {'fds':>4} {'viewers':>7} {'sessions':>8} "
          f"{'onvif':>6} {'snaps':>6} {'probes':>6} {'errors':>6}", flush=True)
    def line(s):
        with lock:
            c = dict(counts)
        print(f"{s['minute']:>6} {s['rss_kb']:>8} {s['threads']:>7} {s['fds']:>4} {len(viewers):>7} "
              f"{c['rtsp_sessions']:>8} {c['onvif_calls']:>6} {c['snapshots']:>6} {c['probes']:>6} {c['errors']:>6}",
              flush=True)
    line(samples[0])
    next_sample = start + 60
    while time.time() < end:
        viewers = [v for v in viewers if v.is_alive()]
        r = random.random()
        if len(viewers) < args.max_viewers and r < 0.25:
            viewers.append(spawn(rtsp_viewer, args.rtsp_port, random.choice(["screenlive", "screensub"])))
        elif r < 0.55:
            spawn(onvif_client, args.onvif_port)
        elif r < 0.70:
            spawn(snapshot, args.onvif_port)
        elif r < 0.90:
            spawn(probe)
        time.sleep(random.uniform(0.1, 0.6))
        if time.time() >= next_sample:
            try:
                s = dict(minute=round((time.time() - start) / 60), **engine_figures(args.pid))
            except (FileNotFoundError, ProcessLookupError):
                error("the engine is gone")
                break
            samples.append(s)
            line(s)
            next_sample += 60
    stop.set()
    for v in viewers:
        v.join(15)
    viewers = [v for v in viewers if v.is_alive()]
    time.sleep(2)  # the engine closes the last connections
    try:
        final = dict(minute=round((time.time() - start) / 60, 1), **engine_figures(args.pid))
        samples.append(final)
        line(final)
    except FileNotFoundError:
        error("the engine is gone")
    print(json.dumps({"samples": samples, "counts": counts, "first_errors": errors}), flush=True)
    return 0 if counts["errors"] == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
