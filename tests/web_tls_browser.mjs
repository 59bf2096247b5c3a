// Chromium over HTTPS, trusting only the engine's own certificate key (its
// SPKI hash; any other certificate still fails): the login page loads, the
// form signs in and sets a Secure cookie, and the panel saves a new
// password and device name. Called by it_web_tls.sh with the engine's home,
// its web port and the certificate's SPKI hash.
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { chromium } from 'playwright-core';

const [home, port, spki] = process.argv.slice(2);
const base = `https://127.0.0.1:${port}`;
const fail = (m) => { console.error('FAIL: ' + m); process.exit(1); };
const check = (cond, m) => { if (!cond) fail(m); };
const config = () => readFileSync(join(home, 'Halvorix', 'lcx.cfg'), 'utf8');

const profile = mkdtempSync(join(tmpdir(), 'lcx-chromium-'));
const context = await chromium.launchPersistentContext(profile, {
  executablePath: '/usr/bin/chromium',
  headless: true,
  ignoreHTTPSErrors: false,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
         '--disable-component-update', '--disable-sync', `--ignore-certificate-errors-spki-list=${spki}`],
  viewport: { width: 1280, height: 800 },
});
try {
  const page = context.pages()[0] ?? await context.newPage();
  page.on('dialog', (d) => d.accept());
  let resp = await page.goto(base + '/login');
  check(resp.status() === 200, `GET /login over HTTPS: ${resp.status()}`);
  await page.fill('input[name=user]', 'admin');
  await page.fill('input[name=pass]', 'Tls-pass-1');  // not the factory one: that flow has its own test
  [resp] = await Promise.all([page.waitForNavigation(), page.click('#login')]);
  check(page.url() === base + '/', `after login at ${page.url()}`);
  const cookie = (await context.cookies(base)).find((c) => c.name === 'lcx_sess');
  check(cookie && cookie.secure && cookie.httpOnly, `session cookie: ${JSON.stringify(cookie)}`);
  await page.waitForFunction(() => document.getElementById('ip').textContent.trim().length > 0, null, { timeout: 10000 });
  check(await page.isChecked('#web_tls'), 'the network section does not show web_tls on');

  await page.click('#nav-users');
  await page.fill('#admin_pass', 'N3w-pass-tls');
  await page.fill('#admin_pass2', 'N3w-pass-tls');
  await page.evaluate(() => { document.getElementById('device_name').value = 'TLS-Cam'; });
  const [save] = await Promise.all([page.waitForResponse((r) => r.url().endsWith('/save')), page.click('#btn_save')]);
  check(save.status() === 200, `/save over HTTPS answered ${save.status()}`);
  const saved = config();
  check(/^device_name = TLS-Cam\r$/m.test(saved), `device name not saved:\n${saved}`);
  check(/^admin_pass = enc:/m.test(saved), `password not saved protected:\n${saved}`);
} finally {
  await context.close();
  rmSync(profile, { recursive: true, force: true });
}
console.log('browser over HTTPS: ok');
