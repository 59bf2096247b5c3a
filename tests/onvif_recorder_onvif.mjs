// For it_onvif_recorder.sh: what a recorder built on the npm onvif client does
// with the camera. Usage: ONVIF_PORT USER PASSWORD IP SIZE SUB(0|1) RTSP_PORT
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
