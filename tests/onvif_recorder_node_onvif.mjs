// For it_onvif_recorder.sh: the same as a recorder built on node-onvif.
// Usage: ONVIF_PORT USER PASSWORD IP RTSP_PORT
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
