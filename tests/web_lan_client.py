#!/usr/bin/env python3
"""Raw HTTP against lcx_web_test_server from chosen loopback addresses.

Usage: web_lan_client.py SERVER_BINARY CONFIG_FILE
Starts the server itself (again after each change that asks for a relaunch),
sends requests byte for byte as a rebinding page, a cross-site form and a
password guesser would, and checks the answers and the configuration file.
"""
import re
import socket
import subprocess
import sys
import time

SERVER, CONFIG = sys.argv[1], sys.argv[2]
FRAMING = {
    'x-frame-options': 'DENY',
    'x-content-type-options': 'nosniff',
    'referrer-policy': 'no-referrer',
}


def fail(message):
    print('FAIL: ' + message, file=sys.stderr)
    sys.exit(1)


def check(condition, message):
    if not condition:
        fail(message)


class Server:
    def __init__(self):
        self.proc = subprocess.Popen([SERVER, '--port', '0'], stdout=subprocess.PIPE, text=True)
        self.output = ''
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline:
            line = self.proc.stdout.readline()
            if not line:
                break
            self.output += line
            m = re.search(r'Web Admin ready -> http://127\.0\.0\.1:(\d+)/', line)
            if m:
                self.port = int(m.group(1))
                return
        fail('no ready line: ' + self.output)

    def ended_for_relaunch(self):
        try:
            rest, _ = self.proc.communicate(timeout=10)
        except subprocess.TimeoutExpired:
            fail('the server did not end for its relaunch')
        self.output += rest
        return self.proc.returncode == 0 and 'TEST: relaunch requested' in self.output

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        rest = self.proc.stdout.read() if self.proc.stdout else ''
        self.output += rest or ''


def exchange(server, source, method, path, host, fields=(), body=''):
    """One request from `source`; (status, {lower-case name: value}, body)."""
    raw = f'{method} {path} HTTP/1.1\r\n'
    if host is not None:
        raw += f'Host: {host}\r\n'
    for name, value in fields:
        raw += f'{name}: {value}\r\n'
    data = body.encode()
    raw += f'Content-Type: application/x-www-form-urlencoded\r\nContent-Length: {len(data)}\r\n\r\n'
    with socket.create_connection(('127.0.0.1', server.port), timeout=15, source_address=(source, 0)) as s:
        s.sendall(raw.encode() + data)
        answer = b''
        while chunk := s.recv(65536):
            answer += chunk
    head, _, rest = answer.partition(b'\r\n\r\n')
    lines = head.decode('latin1').split('\r\n')
    status = int(lines[0].split()[1])
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(':')
        headers.setdefault(name.strip().lower(), []).append(value.strip())
    return status, headers, rest


def one(headers, name):
    values = headers.get(name, [])
    return values[0] if len(values) == 1 else None


def framed(headers, what):
    for name, value in FRAMING.items():
        check(one(headers, name) == value, f'{what}: {name} is {headers.get(name)}')
    csp = one(headers, 'content-security-policy') or ''
    check("frame-ancestors 'none'" in csp, f'{what}: policy {csp!r}')


def config():
    with open(CONFIG, 'rb') as f:
        return f.read()


def cookie_of(headers):
    for value in headers.get('set-cookie', []):
        m = re.match(r'lcx_sess=([0-9a-f]{32});', value)
        if m:
            return m.group(1)
    return None


def main():
    server = Server()
    own = f'127.0.0.1:{server.port}'
    origin = 'http://' + own
    try:
        # 1. The Host before any route: a rebound name gets 421 even with the
        # right password, and no session.
        for host in ('evil.example', f'evil.example:{server.port}', '192.0.2.1', 'cam.example.evil', '', None):
            status, headers, _ = exchange(server, '127.0.0.2', 'GET', '/login', host)
            check(status == 421, f'Host {host!r}: {status}')
            framed(headers, f'421 for {host!r}')
        status, headers, _ = exchange(server, '127.0.0.2', 'POST', '/login', 'evil.example',
                                      [('Origin', 'http://evil.example')], 'user=admin&pass=admin')
        check(status == 421 and cookie_of(headers) is None, f'rebound login: {status} {headers}')
        for host in (own, f'127.0.0.3:{server.port}', 'localhost', 'cam.example', f'OTHER.example:{server.port}',
                     socket.gethostname(), socket.gethostname() + '.local'):
            status, headers, _ = exchange(server, '127.0.0.2', 'GET', '/login', host)
            check(status == 200, f'own Host {host!r}: {status}')
        framed(headers, 'the login page')
        check(one(headers, 'cache-control') == 'no-store', 'the login page may be kept in a cache')

        # 2. The factory password: its change page, every action refused.
        status, headers, _ = exchange(server, '127.0.0.2', 'POST', '/login', own, [('Origin', origin)],
                                      'user=admin&pass=admin')
        token = cookie_of(headers)
        check(status == 302 and one(headers, 'location') == '/password' and token, f'factory login: {status} {headers}')
        _, headers, _ = exchange(server, '127.0.0.3', 'POST', '/login', own, [('Origin', origin)], 'user=admin&pass=admin')
        other_token = cookie_of(headers)
        check(other_token and other_token != token, 'a second session')
        session = [('Cookie', 'lcx_sess=' + token), ('Origin', origin)]
        before = config()
        for method, path, body in (('GET', '/config.json', ''), ('GET', '/snapshot.jpg', ''), ('GET', '/log', ''),
                                   ('POST', '/save', 'fps=30'), ('POST', '/restart', ''), ('POST', '/stream', 'on=0'),
                                   ('POST', '/restore', 'user=admin&pass=admin')):
            status, headers, answer = exchange(server, '127.0.0.2', method, path, own, session, body)
            check(status == 403 and b'"password_change_required":true' in answer, f'{path} before the change: {status} {answer!r}')
        status, headers, _ = exchange(server, '127.0.0.2', 'GET', '/', own, session)
        check(status == 302 and one(headers, 'location') == '/password', f'/ before the change: {status}')
        status, headers, page = exchange(server, '127.0.0.2', 'GET', '/password', own, session)
        check(status == 200 and b'pass1' in page, f'the password page: {status}')
        framed(headers, 'the password page')

        # 3. A cross-origin change of the password with the valid cookie.
        for fields in ([('Origin', 'http://evil.example')], [('Origin', f'http://127.0.0.1:{server.port + 1}')],
                       [('Origin', 'null')], [('Referer', 'http://evil.example/x')],
                       [('Origin', origin), ('Sec-Fetch-Site', 'cross-site')]):
            status, _, _ = exchange(server, '127.0.0.2', 'POST', '/password', own,
                                    [('Cookie', 'lcx_sess=' + token)] + fields, 'pass1=Attacker-pw&pass2=Attacker-pw')
            check(status == 403, f'cross-origin password change {fields}: {status}')
        for body, error in (('pass1=Short1&pass2=Short1', b'short'), ('pass1=admin&pass2=admin', b'factory'),
                            ('pass1=Longer-pw1&pass2=Longer-pw2', b'mismatch')):
            status, _, answer = exchange(server, '127.0.0.2', 'POST', '/password', own, session, body)
            check(status == 400 and error in answer, f'{body}: {status} {answer!r}')
        check(config() == before, 'a refused request changed the configuration')
        status, _, answer = exchange(server, '127.0.0.2', 'POST', '/password', own, session,
                                     'pass1=Lan-secret9&pass2=Lan-secret9')
        check(status == 200 and b'"ok":true' in answer, f'the password change: {status} {answer!r}')
        check(server.ended_for_relaunch(), 'no relaunch after the password change: ' + server.output)
        check(b'admin_pass = enc:' in config(), 'the new password is not stored protected')

        # 4. The next copy: this session kept, the other one ended, the
        # factory password refused.
        server = Server()
        own = f'127.0.0.1:{server.port}'
        origin = 'http://' + own
        session = [('Cookie', 'lcx_sess=' + token), ('Origin', origin)]
        status, headers, _ = exchange(server, '127.0.0.2', 'GET', '/config.json', own, session)
        check(status == 200 and one(headers, 'cache-control') == 'no-store', f'config.json after the change: {status}')
        framed(headers, 'config.json')
        status, _, _ = exchange(server, '127.0.0.3', 'GET', '/config.json', own, [('Cookie', 'lcx_sess=' + other_token)])
        check(status == 401, f'the other session after the change: {status}')
        status, _, _ = exchange(server, '127.0.0.3', 'POST', '/login', own, [], 'user=admin&pass=admin')
        check(status == 401, f'the factory password after the change: {status}')

        # 5. Cross-origin saves with the valid cookie change nothing.
        before = config()
        for fields in ([('Origin', 'http://evil.example')], [('Origin', f'http://localhost:{server.port}')],
                       [('Referer', f'http://evil.example/{own}/')], [('Sec-Fetch-Site', 'cross-site')]):
            for path, body in (('/save', 'fps=30'), ('/stream', 'on=0'), ('/restart', ''), ('/logout', '')):
                status, _, _ = exchange(server, '127.0.0.2', 'POST', path, own, [('Cookie', 'lcx_sess=' + token)] + fields,
                                        body)
                check(status == 403, f'cross-origin {path} {fields}: {status}')
        check(config() == before, 'a cross-origin POST changed the configuration')
        status, _, answer = exchange(server, '127.0.0.2', 'GET', '/config.json', own, session)
        check(b'"paused":0' in answer or b'"paused":false' in answer, f'the stream was paused: {answer[:200]!r}')
        status, _, _ = exchange(server, '127.0.0.2', 'POST', '/save', own, session, 'fps=30')
        check(status == 200 and re.search(rb'^fps = 30\r$', config(), re.M), f'same-origin save: {status}')

        # 6. Eight failures from 127.0.0.2 lock 127.0.0.2 alone.
        for i in range(8):
            status, _, _ = exchange(server, '127.0.0.2', 'POST', '/login', own, [], f'user=admin&pass=guess{i}')
            check(status == 401, f'failure {i + 1}: {status}')
        status, _, _ = exchange(server, '127.0.0.2', 'POST', '/login', own, [], 'user=admin&pass=Lan-secret9')
        check(status == 429, f'the locked peer: {status}')
        status, headers, _ = exchange(server, '127.0.0.3', 'POST', '/login', own, [], 'user=admin&pass=Lan-secret9')
        check(status == 302 and cookie_of(headers), f'another peer during the lock: {status}')
    finally:
        server.stop()
    check('too many failed auth attempts from 127.0.0.2 -> locked 60s' in server.output,
          'the lock is not logged with its peer: ' + server.output)
    print('web panel on a LAN: all checks passed')


main()
