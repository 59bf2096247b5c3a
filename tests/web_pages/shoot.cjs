// Development aid: screenshots of the panel pages served by preview_server.py,
// in both languages and two window sizes, plus a click-through that prints the
// bodies the pages post. Not a product test; the real browser tests run against
// the program's own server.
//
//   NODE_PATH=/path/to/node_modules node tests/web_pages/shoot.cjs http://127.0.0.1:PORT OUTDIR
//
// Give each run a freshly started preview server: the run ends with nine wrong
// logins, which lock logins there for 60 s.
const { chromium } = require('playwright-core');
const fs = require('fs');

const base = process.argv[2];
const out = process.argv[3] || '/tmp/shots';
fs.mkdirSync(out, { recursive: true });

const SIZES = { desk: { width: 1366, height: 800 }, phone: { width: 390, height: 844 } };
const SECTIONS = ['sys', 'video', 'net', 'live', 'users', 'about', 'restore', 'log'];
const problems = [];

function watch(page, label) {
  page.on('console', (m) => { if (m.type() === 'error') problems.push(`${label}: console: ${m.text()}`); });
  page.on('pageerror', (e) => problems.push(`${label}: pageerror: ${e.message}`));
  page.on('dialog', (d) => { console.log(`${label}: dialog "${d.message()}"`); d.accept(); });
}

async function login(page) {
  await page.goto(base + '/login');
  await page.fill('#user', 'admin');
  await page.fill('#pass', 'admin');
  await Promise.all([page.waitForURL(base + '/'), page.click('#login')]);
  await page.waitForFunction(() => document.getElementById('hwid').textContent.length > 10);
}

(async () => {
  const browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    // Playwright gives every launch a fresh temporary profile of its own.
  });
  try {
    for (const [sizeName, viewport] of Object.entries(SIZES)) {
      for (const lang of ['ar', 'en']) {
        const ctx = await browser.newContext({ viewport, hasTouch: sizeName === 'phone' });
        await ctx.addInitScript((l) => { try { localStorage.setItem('lcx_lang', l); } catch (e) {} }, lang);
        const page = await ctx.newPage();
        const label = `${sizeName}-${lang}`;
        watch(page, label);
        const shot = (name, full) => page.screenshot({ path: `${out}/${label}-${name}.png`, fullPage: !!full });

        if (lang === 'ar') {
          await page.goto(base + '/eula');
          await shot('eula', true);
        }
        await page.goto(base + '/login');
        await page.waitForTimeout(300);
        await shot('login');
        await page.fill('#user', 'admin');
        await page.fill('#pass', 'wrong');
        await Promise.all([page.waitForLoadState('load'), page.click('#login')]);
        await page.waitForTimeout(200);
        await page.click('#frgt');
        await shot('login-error-recovery');

        await login(page);
        for (const s of SECTIONS) {
          await page.click(`#nav-${s}`);
          await page.waitForTimeout(s === 'log' || s === 'live' ? 600 : 150);
          await shot(`admin-${s}`, s !== 'log');
        }
        await page.click('#nav-video');
        await page.click('#btn_save');
        await page.waitForSelector('#toast.show');
        await page.waitForTimeout(350);
        await shot('admin-toast');
        await ctx.close();
      }
    }

    // Click-through: language switch, the bodies posted, and the notices.
    const ctx = await browser.newContext({ viewport: SIZES.desk });
    const page = await ctx.newPage();
    watch(page, 'flow');
    await login(page);
    const posted = [];
    page.on('request', (r) => { if (r.method() === 'POST') posted.push(`${r.url().replace(base, '')} ${r.postData() || ''}`); });
    const toastText = async () => { await page.waitForSelector('#toast.show'); const t = await page.textContent('#toast'); await page.evaluate(() => document.getElementById('toast').classList.remove('show')); return t; };

    await page.click('#langbtn');
    console.log('after switch: lang', await page.getAttribute('html', 'lang'), 'dir', await page.getAttribute('html', 'dir'),
      'button', await page.textContent('#langbtn'), 'stored', await page.evaluate(() => localStorage.getItem('lcx_lang')));
    await page.reload();
    console.log('after reload: lang', await page.getAttribute('html', 'lang'), 'uptime', await page.textContent('#uptime'),
      'pill', await page.textContent('#streamPill'), 'button', await page.textContent('#streamBtn'));

    await page.click('#nav-users');
    await page.fill('#admin_pass', 'n3w pass&=');
    await page.fill('#admin_pass2', 'different');
    await page.click('#btn_save');
    console.log('mismatch notice:', await toastText());
    await page.fill('#admin_pass2', 'n3w pass&=');
    await page.click('#nav-sys');
    await page.fill('#device_name', 'Lab PC 7');
    await page.click('#btn_save');
    console.log('save notice:', await toastText(), '| password inputs now:', JSON.stringify(await page.inputValue('#admin_pass')));

    await page.click('#nav-video');
    await page.fill('#stream', 'bad.name');
    await page.click('#btn_apply');
    console.log('apply with bad name:', await toastText());
    await page.fill('#stream', 'screenlive');

    await page.click('#nav-live');
    await page.click('#streamBtn');
    console.log('stream toggle:', await toastText(), '|', await page.textContent('#streamPill'));
    await page.click('#streamBtn');
    console.log('stream toggle:', await toastText(), '|', await page.textContent('#streamPill'));

    await page.click('#nav-sys');
    await page.click('#copy');
    console.log('copy:', await toastText());

    await page.click('#nav-restore');
    await page.fill('#rs_user', 'admin');
    await page.fill('#rs_pass', 'nope');
    await page.click('#restore_btn');
    console.log('restore wrong:', await toastText());

    await page.click('#nav-net');
    await page.fill('#web_port', '8090');
    await page.click('#btn_apply');
    console.log('apply:', await toastText());
    await page.waitForTimeout(4300);
    console.log('after apply the page went to', page.url());

    // Lockout: the ninth wrong login in a row is answered 429 with the same error page.
    for (let i = 0; i < 9; i++) {
      await page.goto(base + '/login');
      await page.fill('#user', 'admin');
      await page.fill('#pass', 'wrong' + i);
      const [resp] = await Promise.all([page.waitForNavigation(), page.click('#login')]);
      if (i === 8) console.log('ninth wrong login answered', resp.status(), '| error box shown:', await page.isVisible('#err'));
    }
    await page.screenshot({ path: `${out}/desk-en-login-locked.png` });
    await page.goto(base + '/login');
    console.log('plain GET /login error box shown:', await page.isVisible('#err'));

    console.log('POSTed:');
    for (const p of posted) console.log('  ' + p);
    await ctx.close();
  } finally {
    await browser.close();
  }
  console.log(problems.length ? 'PROBLEMS:\n' + problems.join('\n') : 'no console errors');
})().catch((e) => { console.error(e); process.exit(1); });
