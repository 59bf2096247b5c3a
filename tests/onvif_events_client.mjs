// The Node.js onvif client's own event loop (cam.on('event'):
// CreatePullPointSubscription, PullMessages, Renew) against the engine while
// the test scene moves, stands still (SIGSTOP), shows only a blinking
// cursor, and moves again. Prints the measured delays; exits non-zero at the
// first failure.
//   node onvif_events_client.mjs PORT USER PASSWORD SCENE_PID HOLD_S BLINK_SCRIPT
import onvif from 'onvif';
import { spawn } from 'node:child_process';

const [port, user, password, scene, holdText, blinker] = process.argv.slice(2);
const holdMs = Number(holdText) * 1000;
const fail = (m) => { console.error('FAIL: ' + m); process.exit(1); };
const call = (cam, fn, ...args) => new Promise((resolve) => {
  cam[fn](...args, (err, result) => resolve({ err, result }));
});
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
async function until(what, predicate, ms) {
  const end = Date.now() + ms;
  while (Date.now() < end) {
    const found = predicate();
    if (found) return found;
    await sleep(50);
  }
  fail(`${what}: not within ${ms} ms; events: ${JSON.stringify(events.slice(-6))}`);
}

const cam = new onvif.Cam({ hostname: '127.0.0.1', port: Number(port), path: '/onvif/device_service',
  username: user || undefined, password: password || undefined, preserveAddress: true, timeout: 15000,
  autoconnect: false });
const connected = await call(cam, 'connect');
if (connected.err) fail('connect: ' + connected.err.message);
if (!cam.uri.events) fail('GetCapabilities names no event service');

const props = await call(cam, 'getEventProperties');
if (props.err) fail('getEventProperties: ' + props.err.message);
const set = props.result.topicSet;
if (!set.videoSource || !set.videoSource.motionAlarm) fail('no tns1:VideoSource/MotionAlarm: ' + JSON.stringify(set));
if (!set.ruleEngine || !set.ruleEngine.cellMotionDetector) fail('no tns1:RuleEngine/CellMotionDetector/Motion');

const events = [];
const MOTION = 'tns1:VideoSource/MotionAlarm', CELL = 'tns1:RuleEngine/CellMotionDetector/Motion';
cam.on('event', (message) => {
  const m = message.message.message;
  const item = Array.isArray(m.data.simpleItem) ? m.data.simpleItem[0] : m.data.simpleItem;
  events.push({ topic: message.topic._, op: m.$.PropertyOperation, value: String(item.$.Value) === 'true',
    at: Date.now() });
});
cam.on('eventsError', (e) => console.log('note: events error ' + (e && e.message)));
const last = (topic, since = 0) => events.filter((e) => e.topic === topic && e.at >= since).at(-1);

// Moving: both topics say motion, the first message being the Initialized one.
await until('an Initialized message', () => events.find((e) => e.op === 'Initialized'), 15000);
await until('motion while the scene moves', () => last(MOTION)?.value && last(CELL)?.value, 15000);
console.log('motion true while the scene moves (MotionAlarm and CellMotionDetector)');

// Still: cleared once the hold time has passed.
process.kill(Number(scene), 'SIGSTOP');
const stopped = Date.now();
const cleared = await until('motion cleared once the screen is still',
  () => { const e = last(MOTION, stopped); return e && !e.value ? e : null; }, holdMs + 10000);
const clearMs = cleared.at - stopped;
console.log(`motion false ${clearMs} ms after the screen stood still (hold ${holdMs} ms)`);
// Held the hold time after the last change (the scene's last frame is up
// to 50 ms before the stop), and gone within the hold and a second, with a
// second more for a busy machine.
if (clearMs < holdMs - 500 || clearMs > holdMs + 2000) fail(`cleared after ${clearMs} ms, hold ${holdMs} ms`);

// A blinking cursor alone raises nothing.
const blinkFrom = Date.now();
const blink = spawn('python3', [blinker, '4'], { stdio: 'inherit' });
const code = await new Promise((resolve) => blink.on('exit', resolve));
if (code !== 0) fail('the blinking cursor did not run');
await sleep(1000);
const raised = events.filter((e) => e.at >= blinkFrom && e.value);
if (raised.length) fail('a blinking cursor raised motion: ' + JSON.stringify(raised));
console.log('a blinking cursor for 4 s raised no motion');

// Moving again: raised within a second or so of the change.
process.kill(Number(scene), 'SIGCONT');
const moved = Date.now();
const raisedAgain = await until('motion once the scene moves again',
  () => { const e = last(MOTION, moved); return e && e.value ? e : null; }, 10000);
console.log(`motion true ${raisedAgain.at - moved} ms after the scene moved again`);
if (raisedAgain.at - moved > 3000) fail(`raised ${raisedAgain.at - moved} ms after the change`);

cam.removeAllListeners('event');
console.log('events client: all checks passed');
process.exit(0);
