#!/usr/bin/env python3
"""Development preview of the panel pages with sample data; not the product's server.

Serves web/pages/*.html and the resources on 127.0.0.1 with made-up settings, so
the pages can be looked at and clicked through in a browser before the real
web server exists. Every request is logged on standard output with its body,
which is how the form bodies the scripts send are checked by eye.

    python3 tests/web_pages/preview_server.py [PORT]     (0 or nothing: a free port)

Sample behaviour: admin / admin logs in; eight wrong logins lock for 60 s; the
recovery code "good" is accepted; a stream name with a dot fails the save with
the server's Arabic message; /restart, /restore and /recover only log.
"""
import http.server
import json
import os
import secrets
import sys
import time
import urllib.parse

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))
MACHINE_ID = '3f9a1c0d7e52b8a46c1de09f7b3a25e8c4d6f0a1b29e7c53d8f4a60b1c2e9d75'
SNAPSHOT = os.environ.get('LCX_PREVIEW_SNAPSHOT', os.path.join(ROOT, 'resources', 'login_bg.jpg'))

state = {
    'sessions': set(), 'failed': 0, 'locked_until': 0.0, 'paused': False, 'start': time.time() - 90061,
    'cfg': {'rtsp_port': 554, 'onvif_port': 8000, 'web_port': 8080, 'web_admin': 1, 'stream_auth': 0,
            'fps': 10, 'bitrate': 2000, 'stream': 'screenlive', 'main_width': 0, 'substream': 1,
            'sub_stream': 'screensub', 'sub_width': 640, 'sub_bitrate': 512, 'admin_user': 'admin',
            'device_name': 'Lumicast Lab 2'},
}
LOG = [
    'Lumicast 1.1 - screen camera',
    'Screen 1920x1080, main stream 1920x1080 @ 10 fps, sub stream 640x360',
    'RTSP server listening on port 554',
    'ONVIF: service ready -> http://192.168.1.40:8000/onvif/device_service',
    'WS-Discovery responder on 239.255.255.250:3702',
    'Web Admin ready -> http://192.168.1.40:8080/  (login: admin)',
    'RTSP: client 192.168.1.20 PLAY /screenlive',
    'ONVIF: GetProfiles from 192.168.1.20',
]


def read(rel):
    with open(os.path.join(ROOT, rel), 'rb') as f:
        return f.read()


def login_page(err):
    page = read('web/pages/login.html').decode('utf-8')
    page = page.replace('{{MACHINE_ID}}', MACHINE_ID, 1).replace('{{ERR}}', '1' if err else '0', 1)
    return page.encode('utf-8')


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'

    def log_message(self, fmt, *args):
        pass

    def send(self, status, body=b'', ctype='text/plain; charset=utf-8', headers=()):
        if isinstance(body, str):
            body = body.encode('utf-8')
        self.send_response(status)
        if body or ctype:
            self.send_header('Content-Type', ctype)
        for k, v in headers:
            self.send_header(k, v)
        self.send_header('Content-Length', str(len(body)))
        self.send_header('Connection', 'close')
        self.end_headers()
        self.wfile.write(body)

    def session(self):
        cookie = self.headers.get('Cookie', '')
        for part in cookie.split(';'):
            k, _, v = part.strip().partition('=')
            if k == 'lcx_sess' and v in state['sessions']:
                return True
        return False

    def handle_any(self, method):
        n = int(self.headers.get('Content-Length') or 0)
        body = self.rfile.read(n).decode('utf-8', 'replace') if n else ''
        path = urllib.parse.urlsplit(self.path).path
        print('%s %s%s' % (method, self.path, ('  body=' + body) if method == 'POST' else ''), flush=True)
        form = dict(urllib.parse.parse_qsl(body, keep_blank_values=True))
        j = 'application/json; charset=utf-8'
        html = 'text/html; charset=utf-8'

        if (method, path) == ('GET', '/login'):
            return self.send(200, login_page(False), html)
        if (method, path) == ('POST', '/login'):
            if time.time() < state['locked_until']:
                return self.send(429, login_page(True), html)
            if form.get('user') == state['cfg']['admin_user'] and form.get('pass') == 'admin':
                state['failed'] = 0
                token = secrets.token_hex(16)
                state['sessions'].add(token)
                return self.send(302, b'', None, [('Location', '/'),
                                 ('Set-Cookie', 'lcx_sess=%s; Path=/; HttpOnly; SameSite=Strict' % token)])
            state['failed'] += 1
            if state['failed'] >= 8:
                state['failed'] = 0
                state['locked_until'] = time.time() + 60
            return self.send(401, login_page(True), html)
        if (method, path) == ('POST', '/logout'):
            return self.send(302, b'', None, [('Location', '/login'), ('Set-Cookie', 'lcx_sess=; Path=/; Max-Age=0')])
        if (method, path) == ('POST', '/recover'):
            ok = form.get('code') == 'good'
            return self.send(200 if ok else 400, '{"ok":%s}' % ('true' if ok else 'false'), j)
        if (method, path) == ('GET', '/login_bg.jpg'):
            return self.send(200, read('resources/login_bg.jpg'), 'image/jpeg')
        if (method, path) == ('GET', '/eula'):
            return self.send(200, read('resources/eula.html'), html)

        if not self.session():
            if (method, path) == ('GET', '/'):
                return self.send(302, b'', None, [('Location', '/login')])
            return self.send(401, b'', None)

        if (method, path) == ('POST', '/ping'):
            return self.send(200, '{"ok":true}', j)
        if (method, path) == ('GET', '/log'):
            return self.send(200, ''.join(l + '\n' for l in LOG), 'text/plain; charset=utf-8')
        if (method, path) == ('GET', '/snapshot.jpg'):
            with open(SNAPSHOT, 'rb') as f:
                return self.send(200, f.read(), 'image/jpeg')
        if (method, path) == ('GET', '/config.json'):
            c = state['cfg']
            ip = '192.168.1.40'
            data = {'ip': ip, 'version': '1.1', 'hwid': MACHINE_ID, 'resolution': '1920x1080',
                    'uptime': int(time.time() - state['start']),
                    'rtsp_main': 'rtsp://%s:%d/%s' % (ip, c['rtsp_port'], c['stream']),
                    'rtsp_sub': 'rtsp://%s:%d/%s' % (ip, c['rtsp_port'], c['sub_stream'])}
            for k in ('rtsp_port', 'onvif_port', 'web_port', 'web_admin', 'stream_auth', 'fps', 'bitrate',
                      'stream', 'main_width', 'substream', 'sub_stream', 'sub_width', 'sub_bitrate', 'admin_user'):
                data[k] = c[k]
            data['paused'] = 1 if state['paused'] else 0
            data['device_name'] = c['device_name']
            return self.send(200, json.dumps(data, ensure_ascii=False, separators=(',', ':')), j)
        if (method, path) == ('GET', '/'):
            return self.send(200, read('web/pages/admin.html'), html)
        if (method, path) == ('POST', '/save'):
            if '.' in form.get('stream', ''):
                return self.send(400, json.dumps({'ok': False, 'error': 'قيمة غير صالحة: stream'},
                                                 ensure_ascii=False), j)
            for k, v in form.items():
                if k in state['cfg']:
                    state['cfg'][k] = int(v) if isinstance(state['cfg'][k], int) and v.lstrip('-').isdigit() else v
            return self.send(200, '{"ok":true,"needsRestart":true}', j)
        if (method, path) == ('POST', '/restart'):
            return self.send(202, '{"restarting":true}', j)
        if (method, path) == ('POST', '/restore'):
            if form.get('user') == state['cfg']['admin_user'] and form.get('pass') == 'admin':
                return self.send(202, '{"restarting":true}', j)
            return self.send(401, '{"ok":false}', j)
        if (method, path) == ('POST', '/stream'):
            state['paused'] = 'on=1' not in body
            return self.send(200, '{"paused":%s}' % ('true' if state['paused'] else 'false'), j)
        return self.send(404, 'not found')

    def do_GET(self):
        self.handle_any('GET')

    def do_POST(self):
        self.handle_any('POST')


def main():
    port = int(sys.argv[1]) if len(sys.argv) > 1 else 0
    server = http.server.ThreadingHTTPServer(('127.0.0.1', port), Handler)
    print('preview on http://127.0.0.1:%d/login' % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == '__main__':
    main()
