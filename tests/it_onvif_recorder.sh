#!/usr/bin/env bash
# A recorder adds the camera: the Node.js onvif client reads device
# information, capabilities, profiles, stream and snapshot addresses from the
# real engine on Xvfb, first open, then with stream_auth on (right and wrong
# password); node-onvif adds it the same way and fetches a snapshot; curl
# fetches the snapshot with HTTP Digest and Basic; ffprobe plays the stream
# addresses.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/display.sh"
source "$here/lib/engine.sh"
lcx_private_network "$@"
fail() { echo "FAIL: $*" >&2; exit 1; }

command -v node >/dev/null || { echo "SKIP: node is not installed"; exit 77; }
for m in onvif node-onvif; do
  [[ -d $here/node_modules/$m ]] || { echo "SKIP: npm $m client missing (scripts/deps.sh installs it)"; exit 77; }
done
command -v curl >/dev/null || { echo "SKIP: curl is not installed"; exit 77; }

lcx_start_display 1280x720x24
lcx_engine_home
onvif_port=$(lcx_free_port)
rtsp_port=$(lcx_free_port)

start_engine() {  # name stream_auth
  lcx_write_config "rtsp_port = $rtsp_port" "onvif_port = $onvif_port" "web_port = $(lcx_free_port)" \
    "web_admin = 0" "stream = screenlive" "substream = 1" "sub_stream = screensub" "sub_width = 640" \
    "admin_user = admin" "admin_pass = s3cret:pw" "stream_auth = $2" "device_name = Lumicast"
  lcx_engine_start "$1" --background
  lcx_wait_log "$1" "ONVIF HTTP ready -> http://" 20 || exit 1
  # The RTSP server comes up after its encoders.
  lcx_wait_log "$1" "RTSP server ready" 20 || exit 1
}

# Runs the client against the engine; arguments become JSON for the script.
run_client() {  # name user password
  local log=$LCX_HOME/$1.log
  local ip size sub
  ip=$(sed -n 's/^  IP        : //p' "$log")
  size=$(sed -n 's/^  Video     : \([0-9]*x[0-9]*\) .*/\1/p' "$log")
  sub=$(grep -q '^  RTSP sub  : rtsp://' "$log" && echo 1 || echo 0)
  (cd "$here" && node --input-type=module - "$onvif_port" "$2" "$3" "$ip" "$size" "$sub" "$rtsp_port") <<'JS'
import onvif from 'onvif';
import { spawnSync } from 'node:child_process';
const [port, user, password, ip, size, sub, rtspPort] = process.argv.slice(2);
const fail = (m) => { console.error('FAIL: ' + m); process.exit(1); };
const call = (cam, fn, ...args) => new Promise((resolve) => {
  cam[fn](...args, (err, result) => resolve({ err, result }));
});
const local = (uri) => uri.replace(`://${ip}:`, '://127.0.0.1:');

const cam = new onvif.Cam({ hostname: '127.0.0.1', port: Number(port), path: '/onvif/device_service',
  username: user || undefined, password: password || undefined, preserveAddress: true, timeout: 15000,
  autoconnect: false });
// Protected calls must pass on the WS-Security token alone: a fallback to
// HTTP Digest after a 401 would hide a refused token.
cam.digestAuth = () => { throw new Error('the token was refused, HTTP Digest retry attempted'); };
const wrong = password === 'wrong';

const connected = await call(cam, 'connect');
if (connected.err) fail('connect: ' + connected.err.message);

const info = await call(cam, 'getDeviceInformation');
if (info.err) fail('getDeviceInformation: ' + info.err.message);
if (info.result.manufacturer !== 'Halvorix' || info.result.model !== 'Lumicast' ||
    String(info.result.firmwareVersion) !== '1.1' || !/^LCX-[0-9a-f]{12}$/.test(info.result.serialNumber) ||
    info.result.hardwareId !== info.result.serialNumber) {
  fail('device information: ' + JSON.stringify(info.result));
}

const caps = await call(cam, 'getCapabilities');
if (caps.err) fail('getCapabilities: ' + caps.err.message);
const mediaXAddr = caps.result.media && caps.result.media.XAddr;
if (mediaXAddr !== `http://${ip}:${port}/onvif/media_service`) fail('media XAddr ' + mediaXAddr);

// The main stream is the 1280x720 screen and the 640-wide sub-stream is on.
if (size !== '1280x720' || sub !== '1') fail(`banner shows ${size}, sub-stream ${sub}`);
const profiles = await call(cam, 'getProfiles');
const streamUri = await call(cam, 'getStreamUri', { protocol: 'RTSP', profileToken: 'prof0' });
const snapshotUri = await call(cam, 'getSnapshotUri', { profileToken: 'prof0' });
if (wrong) {
  for (const [name, r] of [['getProfiles', profiles], ['getStreamUri', streamUri], ['getSnapshotUri', snapshotUri]]) {
    if (!r.err) fail(name + ' answered with a wrong password');
  }
  console.log('wrong password: protected calls refused, device information open');
  process.exit(0);
}
if (profiles.err) fail('getProfiles: ' + profiles.err.message);
const tokens = profiles.result.map((p) => p.$.token);
const expected = sub === '1' ? ['prof0', 'prof1'] : ['prof0'];
if (JSON.stringify(tokens) !== JSON.stringify(expected)) fail('profiles ' + tokens + ', expected ' + expected);
const res = profiles.result[0].videoEncoderConfiguration.resolution;
if (`${res.width}x${res.height}` !== size) fail(`main profile ${res.width}x${res.height}, banner says ${size}`);

const uris = {};
for (const token of tokens) {
  const r = token === 'prof0' ? streamUri : await call(cam, 'getStreamUri', { protocol: 'RTSP', profileToken: token });
  if (r.err) fail(`getStreamUri ${token}: ` + r.err.message);
  uris[token] = r.result.uri;
}
if (uris.prof0 !== `rtsp://${ip}:${rtspPort}/screenlive`) fail('main stream URI ' + uris.prof0);
if (uris.prof1 !== undefined && uris.prof1 !== `rtsp://${ip}:${rtspPort}/screensub`) fail('sub URI ' + uris.prof1);

if (snapshotUri.err) fail('getSnapshotUri: ' + snapshotUri.err.message);
const snapUrl = snapshotUri.result.uri;
if (snapUrl !== `http://${ip}:${port}/onvif/snapshot`) fail('snapshot URI ' + snapUrl);

if (!user) {
  const reply = await fetch(local(snapUrl));
  const body = Buffer.from(await reply.arrayBuffer());
  {
    if (reply.status !== 200 || reply.headers.get('content-type') !== 'image/jpeg') fail('snapshot ' + reply.status);
    if (Number(reply.headers.get('content-length')) !== body.length) fail('snapshot length mismatch');
    // Frame size from the first start-of-frame marker.
    let at = 2, dims = '';
    while (at + 9 < body.length && body[at] === 0xff) {
      const marker = body[at + 1], len = body.readUInt16BE(at + 2);
      if (marker >= 0xc0 && marker <= 0xc3) { dims = `${body.readUInt16BE(at + 7)}x${body.readUInt16BE(at + 5)}`; break; }
      at += 2 + len;
    }
    if (dims !== size) fail(`snapshot is ${dims}, main stream is ${size}`);
  }
}

{
  for (const [token, uri] of Object.entries(uris)) {
    const r = spawnSync('ffprobe', ['-v', 'error', '-rtsp_transport', 'tcp', '-timeout', '10000000',
      '-show_entries', 'stream=codec_name,width,height', '-of', 'csv=p=0', local(uri).replace('rtsp://',
        user ? `rtsp://${user}:${encodeURIComponent(password)}@` : 'rtsp://')], { encoding: 'utf8', timeout: 30000 });
    if (r.status !== 0 || !r.stdout.startsWith('h264')) fail(`ffprobe ${token}: ${r.stdout} ${r.stderr}`);
    console.log(`ffprobe ${token}: ${r.stdout.trim()}`);
  }
}
console.log(`client ok (${user ? 'authenticated' : 'open'}): ${tokens.join(', ')}`);
JS
}

# node-onvif's init: the clock, capabilities, device information, profiles,
# stream addresses for each profile, snapshot addresses; then a snapshot
# through its own HTTP Digest client.
run_node_onvif() {  # name user password
  local log=$LCX_HOME/$1.log ip
  ip=$(sed -n 's/^  IP        : //p' "$log")
  (cd "$here" && node --input-type=module - "$onvif_port" "$2" "$3" "$ip" "$rtsp_port") <<'JS'
import NodeOnvif from 'node-onvif';
const [port, user, pass, ip, rtspPort] = process.argv.slice(2);
const fail = (m) => { console.error('FAIL: node-onvif: ' + m); process.exit(1); };
const device = new NodeOnvif.OnvifDevice({ xaddr: `http://127.0.0.1:${port}/onvif/device_service`, user, pass });
try {
  await device.init();
} catch (e) {
  if (pass === 'wrong') { console.log('node-onvif: wrong password refused: ' + e.message); process.exit(0); }
  fail('init: ' + e.message);
}
if (pass === 'wrong') fail('init passed with a wrong password');
const got = device.getProfileList().map((p) => `${p.token} ${p.video.encoder.resolution.width}x` +
  `${p.video.encoder.resolution.height} ${p.stream.rtsp}`);
const want = [`prof0 1280x720 rtsp://${ip}:${rtspPort}/screenlive`, `prof1 640x360 rtsp://${ip}:${rtspPort}/screensub`];
if (JSON.stringify(got) !== JSON.stringify(want)) fail('profiles ' + JSON.stringify(got));
device.current_profile.snapshot = device.current_profile.snapshot.replace(`://${ip}:`, '://127.0.0.1:');
const snap = await device.fetchSnapshot().catch((e) => fail('snapshot: ' + e.message));
if (snap.headers['content-type'] !== 'image/jpeg' || snap.body[0] !== 0xff || snap.body[1] !== 0xd8) {
  fail('snapshot is not a JPEG: ' + snap.headers['content-type']);
}
console.log(`node-onvif ok (${user ? 'authenticated' : 'open'}): ${got.join('; ')}, snapshot ${snap.body.length} bytes`);
JS
}

start_engine open 0
run_client open "" "" || fail "client against the open engine"
run_node_onvif open "" "" || fail "node-onvif against the open engine"
kill "$LCX_PID"; wait "$LCX_PID" || true

start_engine auth 1
run_client auth admin 's3cret:pw' || fail "client with the right password"
run_client auth admin wrong || fail "client with a wrong password"
run_node_onvif auth admin 's3cret:pw' || fail "node-onvif with the right password"
run_node_onvif auth admin wrong || fail "node-onvif with a wrong password"

# The snapshot with HTTP authentication only.
snap=http://127.0.0.1:$onvif_port/onvif/snapshot
want=200
code=$(curl -s -m 20 -o /dev/null -w '%{http_code}' "$snap")
[[ $code == 401 ]] || fail "snapshot without credentials answered $code"
code=$(curl -s -m 20 -o "$LCX_HOME/digest.jpg" -w '%{http_code}' --digest -u 'admin:s3cret:pw' "$snap")
[[ $code == "$want" ]] || fail "snapshot with Digest answered $code"
code=$(curl -s -m 20 -o /dev/null -w '%{http_code}' --basic -u 'admin:s3cret:pw' "$snap")
[[ $code == "$want" ]] || fail "snapshot with Basic answered $code"
code=$(curl -s -m 20 -o /dev/null -w '%{http_code}' --digest -u 'admin:nope' "$snap")
[[ $code == 401 ]] || fail "snapshot with a wrong Digest password answered $code"
# curl answers the challenge with qop=auth.
curl -s -m 20 -o /dev/null -v --digest -u 'admin:s3cret:pw' "$snap" 2>&1 | grep -q 'qop=auth' \
  || fail "curl did not use qop=auth"

grep -q 'ONVIF: GetProfiles (advertising' "$LCX_HOME/auth.log" || fail "no GetProfiles log line"
echo "it_onvif_recorder: all checks passed"
