// Checks the device pages (search, upload, disk map, system) as a user works
// them: headless Chromium logs in to the real web server in front of the
// page programs and the running simulator, and what each page shows is
// compared with what the simulator answers to `dvrsession` on its own.
// Started by scripts/browser-test.sh (ZEL_URL, ZEL_DVRSIM, ZEL_DVRSESSION,
// ZEL_SHOT_DIR).
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync, spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const puppeteer = require('puppeteer-core');

const BASE = process.env.ZEL_URL;
const DVRSIM = process.env.ZEL_DVRSIM;
const DVRSESSION = process.env.ZEL_DVRSESSION;
const SHOTS = process.env.ZEL_SHOT_DIR;
const CHROMIUM = process.env.ZEL_CHROMIUM || '/usr/bin/chromium';
const WAIT_MS = 20000;
const PHONE = { width: 390, height: 800 };

let browser;
let userDataDir;
let passwords;

const run = (cmd, ...args) => execFileSync(cmd, args, { encoding: 'utf8', timeout: 30000 });
const dvrsession = (...args) => run(DVRSESSION, ...args);

// Device time as dvrsession prints it (UTC).
const utc = (s) => new Date(s * 1000).toISOString().slice(0, 19).replace('T', ' ');

// A page of the user in its own browser context; console errors, page
// errors, failed requests and HTTP errors land in `problems`, dialogs in
// `dialogs` (accepted).
async function openAs(name) {
  const context = await browser.createBrowserContext();
  const page = await context.newPage();
  page.setDefaultTimeout(WAIT_MS);
  const problems = [];
  const dialogs = [];
  page.on('console', (m) => { if (m.type() === 'error') problems.push(`console: ${m.text()}`); });
  page.on('pageerror', (e) => problems.push(`page error: ${e.message}`));
  // A picture stream that a navigation ends is cancelled by the browser: no failure.
  page.on('requestfailed', (r) => {
    if (r.resourceType() === 'image' && r.failure()?.errorText === 'net::ERR_ABORTED') return;
    problems.push(`failed: ${r.url()} ${r.failure()?.errorText}`);
  });
  page.on('response', (r) => { if (r.status() >= 400) problems.push(`HTTP ${r.status()}: ${r.url()}`); });
  page.on('dialog', async (d) => { dialogs.push(d.message()); await d.accept(); });
  await page.authenticate({ username: name, password: passwords.get(name) });
  return { page, problems, dialogs, close: () => context.close() };
}

// Runs fn on a fresh page of the user opened at `file`; then requires no
// browser problem and a page that fits a phone's width.
async function onPage(name, file, fn) {
  const s = await openAs(name);
  try {
    await s.page.setViewport({ width: 800, height: 600 });
    await s.page.goto(`${BASE}/${file}`, { waitUntil: 'load' });
    await fn(s.page, s);
    await s.page.setViewport(PHONE);
    const overflow = await s.page.evaluate(() => document.documentElement.scrollWidth - innerWidth);
    assert.ok(overflow <= 0, `${file} is ${overflow} px wider than a phone`);
    assert.deepEqual(s.problems, [], `browser problems on ${file}`);
    assert.deepEqual(s.dialogs, [], `dialogs on ${file}`);
  } finally {
    await s.close();
  }
}

async function screenshot(page, name) {
  await page.screenshot({ path: path.join(SHOTS, name), fullPage: true });
}

// The results table of the search page.
function shownResults(page) {
  return page.$$eval('#results tbody tr', (rows) => rows.map((r) => ({
    start: Number(r.dataset.start), cams: Number(r.dataset.cams),
    href: r.querySelector('a')?.getAttribute('href') })));
}

// Runs a script in the search page that sets the filters and submits, and
// waits for the search to end; returns the note shown.
async function searchWith(page, script) {
  await page.evaluate(script);
  await page.waitForFunction(() => !['running', 'cancelling'].includes(document.body.dataset.search));
  return page.$eval('#search-note', (n) => n.textContent);
}

before(async () => {
  assert.ok(BASE && DVRSIM && DVRSESSION && SHOTS, 'run through scripts/browser-test.sh');
  passwords = new Map(run(DVRSIM, 'users').trim().split('\n').map((l) => l.split(':')));
  userDataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'zel-chromium-'));
  browser = await puppeteer.launch({
    executablePath: CHROMIUM, headless: true, userDataDir,
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
});

after(async () => {
  if (browser) await browser.close();
  if (userDataDir) fs.rmSync(userDataDir, { recursive: true, force: true });
});

test('search finds what the service finds, and a result opens its playback', async () => {
  const from = Math.floor(Date.now() / 1000) - 2 * 86400;
  await onPage('operator', 'search.cgi', async (page) => {
    assert.match(await page.$eval('#level', (e) => e.textContent), /levels 0 \(administrator\) to 2/);
    const note = await searchWith(page, `(() => {
      const f = document.getElementById('search-form');
      f.kind.value = 'event'; f.kind.dispatchEvent(new Event('change'));
      f.querySelector('[name=event][value="2"]').checked = true;
      f.querySelector('[name=cam][value="5"]').checked = true;
      setInputSeconds(document.getElementById('from'), ${from}); f.requestSubmit();
    })()`);
    const shown = await shownResults(page);
    assert.match(note, new RegExp(`complete: ${shown.length} recording`));
    // The same search through the command-line client of the services.
    const out = dvrsession('search', '--from', String(from), '--cameras', '0x10', '--events', '2');
    const expected = [...out.matchAll(/cameras 0x([0-9a-f]+) flags 0x[0-9a-f]+ +(\S+ \S+) UTC/g)]
      .map((m) => `${parseInt(m[1], 16)} ${m[2]}`);
    assert.ok(expected.length > 0, 'the simulator has motion recordings of camera 5');
    assert.deepEqual(shown.map((r) => `${r.cams} ${utc(r.start)}`), expected);
    await screenshot(page, 'pages-search.png');

    await Promise.all([page.waitForNavigation(), page.click('#results tbody tr a')]);
    const at = await page.evaluate(() => [m_cam, m_year, m_month, m_date, m_hour, m_min, m_sec]);
    const t = new Date(shown[0].start * 1000);
    assert.deepEqual(at, [4, t.getUTCFullYear(), t.getUTCMonth() + 1, t.getUTCDate(),
      t.getUTCHours(), t.getUTCMinutes(), t.getUTCSeconds()], 'playback camera and time');
  });
});

test('search never offers nor shows a camera hidden from the user', async () => {
  const from = Math.floor(Date.now() / 1000) - 2 * 86400;
  const hidden = [3, 7, 18]; // the demo's covert cameras: analog 3 and 7, IP camera 2
  assert.match(dvrsession('search', '--from', String(from), '--cameras', '0x4'), /cameras 0x/,
    'the simulator has recordings of camera 3');
  await onPage('operator', 'search.cgi', async (page) => {
    const offered = await page.$$eval('[name=cam]', (boxes) => boxes.map((b) => Number(b.value)));
    assert.deepEqual(offered, [...Array(20).keys()].map((i) => i + 1).filter((c) => !hidden.includes(c)));
    await searchWith(page, `(() => {
      const f = document.getElementById('search-form');
      setInputSeconds(document.getElementById('from'), ${from}); f.requestSubmit();
    })()`);
    const shown = await shownResults(page);
    assert.ok(shown.length > 0, 'the visible cameras have recordings');
    const mask = hidden.reduce((m, c) => m | (1 << (c - 1)), 0);
    assert.deepEqual(shown.filter((r) => r.cams & mask), []);
  });
});

test('a search that finds nothing, a cancelled one and a full table each say so', async () => {
  await onPage('operator', 'search.cgi', async (page) => {
    const nothing = await searchWith(page, `(() => {
      const f = document.getElementById('search-form');
      f.kind.value = 'text'; f.text.value = 'no such title'; f.requestSubmit();
    })()`);
    assert.equal(nothing, 'No recording matches this search.');
    // Motion in no area at all: the grid the page sends reaches the device.
    const noArea = await searchWith(page, `(() => {
      const f = document.getElementById('search-form');
      f.kind.value = 'motion';
      for (const cell of document.querySelectorAll('#grid span')) cell.click();
      f.requestSubmit();
    })()`);
    assert.equal(noArea, 'No recording matches this search.');
    // Cancel at once after submitting: the page cancels the search that
    // its first request started.
    const cancelled = await searchWith(page, `(() => {
      const f = document.getElementById('search-form');
      f.kind.value = 'time'; f.requestSubmit(); document.getElementById('cancel').click();
    })()`);
    assert.match(cancelled, /^Search cancelled: \d+ recording/);
    // Sixteen searches that nobody continues keep every slot owned.
    for (let i = 0; i < 16; i++) dvrsession('search', '--visits', '0');
    const full = await searchWith(page, 'document.getElementById("search-form").requestSubmit()');
    assert.equal(full, 'All search sessions of the device are in use; try again in a minute.');
  });
});

test('an upload of 3 MiB reaches the device with progress', async () => {
  const size = 3 * 1024 * 1024;
  const file = path.join(userDataDir, 'upload.bin');
  fs.writeFileSync(file, Buffer.alloc(size, 0x5a));
  await onPage('manager', 'upload.cgi', async (page) => {
    const input = await page.$('#file');
    await input.uploadFile(file);
    await page.click('#upload-form button[type=submit]');
    await page.waitForFunction(() => !['sending', undefined].includes(document.body.dataset.upload));
    const result = await page.evaluate(() => ({ state: document.body.dataset.upload,
      events: Number(document.body.dataset.sentEvents),
      note: document.getElementById('upload-note').textContent,
      bar: document.getElementById('upload-progress').value }));
    assert.equal(result.state, 'done', result.note);
    assert.ok(result.events > 0, 'upload progress events');
    assert.equal(result.note, `Upload complete: the device received ${size} of ${size} bytes.`);
    assert.equal(result.bar, 100);
    assert.match(dvrsession('upload-status'), new RegExp(`received ${size} of ${size} bytes`));
    await screenshot(page, 'pages-upload.png');
  });
});

test('a second upload is refused while another runs, and Cancel stops that one', async () => {
  // One-byte pieces keep the command-line upload going for as long as needed.
  const other = spawn(DVRSESSION, ['--timeout', '0', 'upload', '--size', '100000000', '--piece', '1'],
    { stdio: 'ignore' });
  try {
    await onPage('manager', 'upload.cgi', async (page) => {
      await page.waitForFunction(() => {
        const d = document.getElementById('device-status').dataset;
        return d.status === '3' && Number(d.received) > 0;
      });
      const file = path.join(userDataDir, 'small.bin');
      fs.writeFileSync(file, 'small');
      await (await page.$('#file')).uploadFile(file);
      await page.click('#upload-form button[type=submit]');
      await page.waitForFunction(() => document.body.dataset.upload === 'busy');
      assert.match(await page.$eval('#upload-note', (n) => n.textContent),
        /another upload is in progress/);
      await page.click('#cancel');
      await page.waitForFunction(() => document.getElementById('device-status').dataset.status === '0');
      assert.match(dvrsession('upload-status'), /status 0 \(free\)/);
    });
  } finally {
    other.kill();
  }
});

// The map of the slot as dvrsession prints it: the window's blocks and the
// rows ("camera  1 ##..##").
function simulatorMap(conn) {
  const out = dvrsession('map', '--conn', String(conn));
  const [, first, , total] = /blocks (\d+) \.\. (\d+) of (\d+)/.exec(out).map(Number);
  return { first, total, rows: [...out.matchAll(/^camera +\d+ ([#.]{36})$/gm)].map((m) => m[1]) };
}

// The map rows as the page draws them, from the cells' flags.
function drawnMap(page) {
  return page.$$eval('#map rect.cell', (cells) => {
    const rows = Array.from({ length: 20 }, () => Array(36).fill('?'));
    for (const c of cells) rows[c.dataset.row][c.dataset.col] = c.dataset.flag === '0' ? '.' : '#';
    return rows.map((r) => r.join(''));
  });
}

test('the disk map draws the simulator\'s map and zooms into a column', async () => {
  await onPage('manager', 'diskmap.cgi', async (page) => {
    await page.waitForSelector('#map rect.cell');
    assert.equal((await page.$$('#map rect.cell')).length, 20 * 36, 'one cell per map entry');
    const conn = await page.$eval('#map', (m) => m.dataset.conn);
    assert.deepEqual(await drawnMap(page), simulatorMap(conn).rows, 'level 0');
    await page.hover('#map rect[data-row="2"][data-col="5"]');
    assert.match(await page.$eval('#map-hover', (e) => e.textContent),
      /^camera 3, column 6: \d{4}-\d\d-\d\d \d\d:\d\d:\d\d \.\. .* UTC, flag [01]/);
    await screenshot(page, 'pages-diskmap.png');
    await page.click('#map rect[data-row="0"][data-col="5"]');
    await page.waitForFunction(() => document.getElementById('map').dataset.level === '1');
    const zoomed = simulatorMap(conn);
    assert.deepEqual(await drawnMap(page), zoomed.rows, 'zoomed into column 6');
    assert.equal(zoomed.first, (5 * zoomed.total) / 36, 'the window starts at column 6');
    await page.click('#map-controls button[data-op="2"]');
    await page.waitForFunction(() => document.getElementById('map').dataset.level === '0');
    await page.setViewport(PHONE);
    await screenshot(page, 'pages-diskmap-phone.png');
  });
});

test('the system page shows the DHCP data and sets the device clock from the browser', async () => {
  const target = Date.UTC(2031, 4, 6, 7, 8, 9) / 1000;
  try {
    await onPage('admin', 'system.cgi', async (page) => {
      await page.waitForSelector('#dhcp tr');
      const rows = await page.$$eval('#dhcp tr', (trs) => trs.map((tr) => tr.innerText.trim()));
      const address = /address +(\S+)/.exec(dvrsession('dhcp'))[1];
      assert.ok(rows.includes(`Address\t${address}`), `${rows} has ${address}`);
      await screenshot(page, 'pages-system.png');
      // The browser's clock moved to the target before the click.
      await page.evaluate((t) => { const shift = t * 1000 - Date.now();
        const now = Date.now; Date.now = () => now() + shift; }, target);
      await page.click('#setclock');
      await page.waitForFunction((t) => Number(document.getElementById('device-clock').dataset.seconds) >= t,
        {}, target);
      const shown = await page.$eval('#device-clock', (c) => Number(c.dataset.seconds));
      assert.ok(shown - target < 60, `device clock ${utc(shown)} after setting ${utc(target)}`);
      // The simulator dates the lease an hour back from its own clock.
      const updated = /lease updated +(\S+ \S+) UTC/.exec(dvrsession('release'))[1];
      const lease = Date.parse(`${updated.replace(' ', 'T')}Z`) / 1000 + 3600;
      assert.ok(lease >= target && lease - target < 60, `lease dated ${updated}`);
    });
  } finally {
    dvrsession('clock'); // back to the real time for the tests that follow
  }
});

test('each page refuses users below its level and sends them to the landing page', async () => {
  const refused = [['guest', 'search.cgi'], ['operator', 'upload.cgi'], ['operator', 'diskmap.cgi'],
    ['manager', 'system.cgi']];
  for (const [name, file] of refused) {
    const s = await openAs(name);
    try {
      await s.page.goto(`${BASE}/${file}`);
      await s.page.waitForFunction(() => location.pathname === '/index.html');
      assert.deepEqual(s.dialogs, [`User ${name} is not authorized to access this page.`], file);
      assert.equal(new URL(s.page.url()).pathname, '/index.html', file);
      if (name === 'operator' && file === 'upload.cgi') await screenshot(s.page, 'pages-index.png');
    } finally {
      await s.close();
    }
  }
});
