// For it_web_engine.sh: a headless Chromium session on the real engine's web
// panel, with what RTSP and ONVIF clients see after each change.
// Usage: HOME_DIR SHOTS_DIR WEB_PORT RTSP_PORT ONVIF_PORT RTSP_PROBE
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, readdirSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { chromium } from 'playwright-core';

const [home, shots, webPort, rtspPort, onvifPort, probe] = process.argv.slice(2);
const base = `http://127.0.0.1:${webPort}`;
const fail = (m) => { console.error('FAIL: ' + m); process.exit(1); };
const check = (cond, m) => { if (!cond) fail(m); };
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const engineLog = () => readFileSync(join(home, 'engine.log'), 'utf8');
const config = () => readFileSync(join(home, 'Halvorix', 'lcx.cfg'), 'utf8');

// Every copy of the engine running on this home, as lcx_engine_pids finds them.
function enginePids() {
  const pids = [];
  for (const p of readdirSync('/proc').filter((d) => /^\d+$/.test(d))) {
    try {
      if (readFileSync(`/proc/${p}/comm`, 'utf8').trim() !== 'lcx_onvif') continue;
      if (readFileSync(`/proc/${p}/environ`, 'latin1').split('\0').includes(`ProgramData=${home}`)) pids.push(p);
    } catch (e) { /* gone meanwhile */ }
  }
  return pids;
}
async function until(what, cond, ms = 10000) {
  for (const end = Date.now() + ms; Date.now() < end; await sleep(100)) if (await cond()) return;
  fail(`${what} within ${ms} ms`);
}
const count = (text, part) => text.split(part).length - 1;

// What an RTSP client gets: frame rate, time-stamp steps, one decoded frame.
function rtspRate(path) {
  const r = spawnSync('python3', [probe, 'rate', `rtsp://127.0.0.1:${rtspPort}/${path}`, '--seconds', '4'],
                      { encoding: 'utf8', timeout: 60000 });
  check(r.status === 0, `rtsp probe of ${path}: ${r.stdout} ${r.stderr}`);
  return JSON.parse(r.stdout);
}
// Root-mean-square difference (0..1) between a picture and the last frame a
// player decodes in 3 s (a new client first gets the frames queued before it
// came, which may be older than a pause).
function frameDifference(picture) {
  const frame = join(home, 'frame.png');
  const f = spawnSync('ffmpeg', ['-nostdin', '-v', 'error', '-y', '-rtsp_transport', 'tcp', '-i',
                                 `rtsp://127.0.0.1:${rtspPort}/screenlive`, '-t', '3', '-update', '1', frame],
                      { encoding: 'utf8', timeout: 60000 });
  check(f.status === 0, `ffmpeg could not decode a frame: ${f.stderr}`);
  const c = spawnSync('compare', ['-metric', 'RMSE', frame, picture, 'null:'], { encoding: 'utf8' });
  const m = c.stderr.match(/\(([\d.e-]+)\)/);
  check(m, `compare: ${c.stderr}`);
  return Number(m[1]);
}

const profile = mkdtempSync(join(tmpdir(), 'lcx-chromium-'));
const context = await chromium.launchPersistentContext(profile, {
  executablePath: '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
         '--disable-component-update', '--disable-sync'],
  viewport: { width: 1280, height: 800 },
});
const page = context.pages()[0] ?? await context.newPage();
page.on('dialog', (d) => d.accept());
const visible = (sel) => page.locator(sel).isVisible();
const text = async (sel) => (await page.locator(sel).innerText()).trim();
const dir = () => page.getAttribute('html', 'dir');
const json = () => page.evaluate(async () => (await fetch('/config.json', { cache: 'no-store' })).json());
// Both widths, the page as it stands; the wide one last so the test goes on there.
async function shoot(name) {
  await page.setViewportSize({ width: 400, height: 800 });
  await sleep(300);
  await page.screenshot({ path: join(shots, `${name}-400x800.png`) });
  await page.setViewportSize({ width: 1280, height: 800 });
  await sleep(300);
  await page.screenshot({ path: join(shots, `${name}-1280x800.png`) });
}
const snapshot = () => page.evaluate(async () => {
  const r = await fetch('/snapshot.jpg?t=' + Date.now());
  return { status: r.status, bytes: Array.from(new Uint8Array(await r.arrayBuffer())).join(',') };
});

try {
  // The login page: Arabic first; English survives a reload.
  let resp = await page.goto(base + '/login');
  check(resp.status() === 200 && await dir() === 'rtl', 'the login page does not open in Arabic');
  await shoot('login-ar');
  await page.click('#lbtn');
  await page.reload();
  check(await dir() === 'ltr' && await text('#login') === 'Login', 'English not kept by the login page');
  await shoot('login-en');

  // Sign in through the form.
  await page.fill('input[name=user]', 'admin');
  await page.fill('input[name=pass]', 'Engine-pw1');
  [resp] = await Promise.all([page.waitForNavigation(), page.click('#login')]);
  check(page.url() === base + '/' && resp.status() === 200, `after login at ${page.url()} (${resp.status()})`);
  check(await dir() === 'ltr', 'the panel does not follow the language chosen on the login page');

  // The fields fill from /config.json.
  const first = await json();
  check(first.fps === 10 && first.device_name === 'Lumicast' && first.web_port === Number(webPort),
        `config.json: ${JSON.stringify(first)}`);
  await until('fields filled from /config.json',
              async () => await page.inputValue('#fps') === '10' && await page.inputValue('#device_name') === 'Lumicast');
  check(await page.inputValue('#rtsp_port') === rtspPort && await text('#hwid') === first.hwid,
        'ports or machine identifier not shown');

  // Every section opens, alone.
  const sections = ['sys', 'video', 'net', 'live', 'users', 'about', 'restore', 'log'];
  for (const s of sections) {
    await page.click(`#nav-${s}`);
    check(await visible(`#sec-${s}`), `section ${s} does not open`);
    for (const o of sections) if (o !== s) check(!(await visible(`#sec-${o}`)), `section ${o} open with ${s}`);
  }

  // The preview shows the screen; the language switch survives a reload here too.
  await page.click('#nav-live');
  await until('the preview shows the 1280-wide screen',
              () => page.evaluate(() => document.getElementById('prev').naturalWidth === 1280));
  await shoot('admin-en-live');
  await page.click('#langbtn');
  await page.reload();
  check(await dir() === 'rtl', 'Arabic not kept by the panel after a reload');
  await page.click('#nav-live');
  await until('the preview after a reload',
              () => page.evaluate(() => document.getElementById('prev').naturalWidth === 1280));
  await shoot('admin-ar-live');
  await page.goto(base + '/login');
  check(await dir() === 'rtl', 'the login page does not follow the language chosen on the panel');
  await page.goto(base + '/');
  check(page.url() === base + '/', 'signed out by visiting the login page');

  // Apply & restart with a new frame rate and device name: the engine
  // relaunches itself on the same ports, the browser stays signed in.
  const before = enginePids();
  check(before.length === 1, `engine copies before the restart: ${before}`);
  await until('fields filled', async () => await page.inputValue('#fps') === '10');
  await page.click('#nav-video');
  await page.fill('#fps', '15');
  await page.click('#nav-sys');
  await page.fill('#device_name', 'Hall Camera 2');
  await page.click('#btn_apply');
  await until('the engine relaunched', () => {
    const now = enginePids();
    return now.length === 1 && now[0] !== before[0] && count(engineLog(), 'Web Admin ready') === 2;
  }, 20000);
  const lastReady = engineLog().split('Web Admin ready').at(-1);
  check(new RegExp(`^ -> http://[0-9.]+:${webPort}/ `).test(lastReady), `the new copy's panel: ${lastReady.slice(0, 60)}`);
  await until('the new copy serving RTSP on the same port',
              () => count(engineLog(), `RTSP server ready (multi-client) -> rtsp://<ip>:${rtspPort}/`) === 2, 20000);
  const cmdline = readFileSync(`/proc/${enginePids()[0]}/cmdline`, 'utf8').split('\0');
  check(cmdline.includes('--relaunch') && cmdline.includes('--background'), `relaunched as ${cmdline}`);
  // The page goes back to the panel by itself once the new copy answers.
  await page.waitForURL(base + '/', { timeout: 15000 });
  await until('the panel after the restart', async () => await page.inputValue('#fps') === '15', 15000);
  check(page.url() === base + '/', `not signed in after the restart: ${page.url()}`);
  const after = await json();
  check(after.fps === 15 && after.device_name === 'Hall Camera 2', `config.json after restart: ${JSON.stringify(after)}`);
  check(/^device_name = Hall Camera 2\r$/m.test(config()) && /^fps = 15\r$/m.test(config()), `file:\n${config()}`);
  const rate = spawnSync('ffprobe', ['-v', 'error', '-rtsp_transport', 'tcp', '-timeout', '10000000',
                                     '-select_streams', 'v:0', '-show_entries', 'stream=codec_name,r_frame_rate',
                                     '-of', 'csv=p=0', `rtsp://127.0.0.1:${rtspPort}/screenlive`],
                         { encoding: 'utf8', timeout: 60000 });
  check(rate.status === 0 && rate.stdout.trim() === 'h264,15/1', `ffprobe after the restart: "${rate.stdout}" ${rate.stderr}`);
  // ONVIF clients see the new name among the scopes.
  const scopes = spawnSync('curl', ['-s', '--max-time', '10', '-H', 'Content-Type: application/soap+xml', '--data',
    '<s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope"><s:Body>' +
    '<tds:GetScopes xmlns:tds="http://www.onvif.org/ver10/device/wsdl"/></s:Body></s:Envelope>',
    `http://127.0.0.1:${onvifPort}/onvif/device_service`], { encoding: 'utf8' });
  check(scopes.stdout.includes('onvif://www.onvif.org/name/Hall-Camera-2'), `ONVIF scopes: ${scopes.stdout.slice(0, 300)}`);
  console.log(`restart: ${before[0]} -> ${enginePids()[0]}, ffprobe ${rate.stdout.trim()}`);

  // Eight wrong logins from another tab lock the login: the 429 page with its
  // error box. The signed-in tab keeps working meanwhile.
  const other = await context.newPage();
  for (let i = 0; i < 8; i++) {
    await other.goto(base + '/login');
    await other.fill('input[name=user]', 'admin');
    await other.fill('input[name=pass]', 'guess' + i);
    // The login page posts through fetch: a refusal stays on the page.
    [resp] = await Promise.all([other.waitForResponse((r) => r.url().endsWith('/login')), other.click('#login')]);
    check(resp.status() === 401, `wrong login ${i + 1} answered ${resp.status()}`);
  }
  await other.fill('input[name=user]', 'admin');
  await other.fill('input[name=pass]', 'Engine-pw1');
  [resp] = await Promise.all([other.waitForResponse((r) => r.url().endsWith('/login')), other.click('#login')]);
  await other.waitForFunction(() => document.getElementById('err').offsetParent !== null, null, { timeout: 5000 });
  const lockedAt = Date.now();  // the lock began at the eighth failure, just before
  check(resp.status() === 429 && await other.locator('#err').isVisible(), `locked login: ${resp.status()}`);
  await other.screenshot({ path: join(shots, 'login-ar-locked-1280x800.png') });

  // Pause: the preview and a player get the paused picture.
  await page.click('#nav-live');
  await until('the live preview', () => page.evaluate(() => document.getElementById('prev').naturalWidth === 1280));
  const live1 = await snapshot(), live2 = (await sleep(300), await snapshot());
  check(live1.status === 200 && live1.bytes !== live2.bytes, 'the live preview does not move');
  check(frameDifference(join(home, 'dump_paused.png')) > 0.05, 'the live stream looks like the paused picture');
  await Promise.all([page.waitForResponse((r) => r.url().endsWith('/stream')), page.click('#streamBtn')]);
  check((await json()).paused === 1, 'not paused after the stream button');
  const p1 = await snapshot(), p2 = (await sleep(1300), await snapshot());
  check(p1.bytes === p2.bytes && p1.bytes !== live2.bytes, 'the preview does not show the still paused card');
  await sleep(1500);
  await shoot('admin-ar-paused');
  const paused = rtspRate('screenlive');
  check(paused.first_key && paused.fps >= 1.5 && paused.fps <= 2.5 && paused.ts_steps.includes(45000),
        `paused stream: ${JSON.stringify(paused)}`);
  const pausedDiff = frameDifference(join(home, 'dump_paused.png'));
  check(pausedDiff < 0.03, `the player's frame is not the paused picture (RMSE ${pausedDiff})`);

  // Resume: the live screen returns, at the new rate.
  await Promise.all([page.waitForResponse((r) => r.url().endsWith('/stream')), page.click('#streamBtn')]);
  check((await json()).paused === 0, 'not resumed');
  const r1 = await snapshot(), r2 = (await sleep(300), await snapshot());
  check(r1.bytes !== r2.bytes && r1.bytes !== p1.bytes, 'the live preview did not return');
  const resumed = rtspRate('screenlive');
  check(resumed.fps >= 12 && resumed.fps <= 18, `resumed stream: ${JSON.stringify(resumed)}`);
  check(frameDifference(join(home, 'dump_paused.png')) > 0.05, 'the resumed stream still shows the paused picture');
  console.log(`paused ${paused.fps} fps (RMSE ${pausedDiff}), resumed ${resumed.fps} fps`);

  // The log section shows the running log.
  await page.click('#nav-log');
  await until('the log section shows the pause and the resume', () => page.evaluate(() => {
    const t = document.getElementById('logbox').textContent;
    return t.includes('Web: stream STOPPED by admin') && t.includes('Web: stream RESUMED by admin');
  }));
  await shoot('admin-ar-log');

  // The lock ends after its minute: the right password works again.
  await sleep(Math.max(0, lockedAt + 61000 - Date.now()));
  await other.goto(base + '/login');
  await other.fill('input[name=user]', 'admin');
  await other.fill('input[name=pass]', 'Engine-pw1');
  [resp] = await Promise.all([other.waitForNavigation(), other.click('#login')]);
  check(other.url() === base + '/', `the right password after the lock: ${other.url()} (${resp.status()})`);
  await other.close();

  // Factory reset with wrong credentials: the notice, nothing restored.
  const kept = config();
  await page.click('#langbtn');  // English
  await page.click('#nav-restore');
  await page.fill('#rs_user', 'admin');
  await page.fill('#rs_pass', 'not-it');
  await Promise.all([page.waitForResponse((r) => r.url().endsWith('/restore')), page.click('#restore_btn')]);
  await until('the wrong-credentials notice', async () => await text('#toast') === 'Wrong credentials');
  await shoot('admin-en-restore-refused');
  await sleep(5000);  // a reset would have relaunched by now
  check(config() === kept && enginePids().length === 1, 'a refused reset changed something');

  // Logout returns to the login page, and the panel is closed behind it.
  await page.click('#logout');
  await page.waitForURL(base + '/login');
  await page.goto(base + '/');
  check(page.url() === base + '/login', `the panel after logout: ${page.url()}`);
  check(!engineLog().match(/ERROR|Sanitizer/), 'the engine log reports an error');
} finally {
  await context.close();
  rmSync(profile, { recursive: true, force: true });
}
console.log('web panel on the engine: all checks passed');
