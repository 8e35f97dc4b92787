// Checks the viewer pages as a user sees them: headless Chromium logs in to
// the real web server in front of zelbrowser.cgi and the running simulator,
// whose settings the tests change with `dvrsim set` between page loads.
// Started by scripts/browser-test.sh, which provides ZEL_URL, ZEL_DVRSIM and
// ZEL_SHOT_DIR.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const puppeteer = require('puppeteer-core');

const BASE = process.env.ZEL_URL;
const DVRSIM = process.env.ZEL_DVRSIM;
const SHOTS = process.env.ZEL_SHOT_DIR;
const CHROMIUM = process.env.ZEL_CHROMIUM || '/usr/bin/chromium';
const PAGE_TIMEOUT_MS = 15000;

// The device as every test starts from it (each test puts back what it
// changes): 16 channels, analog cameras 3 and 7 covert, covert cameras for
// levels 0 and 1, the front panel for level 0 only, m/d/y 24-hour time.
const CHANNELS = 16;
const COVERT_DEFAULT = [3, 7];
const BASELINE = {
  'model.channels': CHANNELS,
  'security.covert': 2,
  'security.front_panel': 3,
  'time.date_format': 0,
  'time.time_format': 0,
};
for (let c = 1; c <= CHANNELS; c++) BASELINE[`camera.analog.${c}.covert`] = COVERT_DEFAULT.includes(c) ? 1 : 0;

// Two users of the simulator's user table, with what their level gives them
// under the baseline.
const ADMIN = { name: 'admin', level: 0, frontPanel: true, covert: true };
const OPERATOR = { name: 'operator', level: 2, frontPanel: false, covert: false };
const USERS = [ADMIN, OPERATOR];
const USER_RECORDS = 25;

let browser;
let userDataDir;
let passwords;

// Runs the simulator's command line against the running simulator.
function dvrsim(...args) {
  return execFileSync(DVRSIM, args, { encoding: 'utf8', timeout: 5000 }).trim();
}

// Sets simulator values for the duration of fn, then puts the old ones back.
async function withSettings(settings, fn) {
  const old = Object.keys(settings).map((k) => [k, dvrsim('get', k)]);
  try {
    for (const [k, v] of Object.entries(settings)) dvrsim('set', k, String(v));
    await fn();
  } finally {
    for (const [k, v] of old) dvrsim('set', k, v);
  }
}

// The level of the first enabled user record of that name, or undefined.
// A record reads "name password level enable".
function enabledLevelOf(name) {
  for (let i = 1; i <= USER_RECORDS; i++) {
    const [user, , level, enable] = dvrsim('get', `user.${i}`).split(/\s+/);
    if (user === name && enable === '1') return Number(level);
  }
  return undefined;
}

// Opens a page logged in as the user in its own browser context; every
// console error, uncaught exception, failed request, HTTP error and dialog
// lands in `problems`, which each test requires to stay empty.
async function openAs(user) {
  const context = await browser.createBrowserContext();
  const page = await context.newPage();
  page.setDefaultTimeout(PAGE_TIMEOUT_MS);
  const problems = [];
  page.on('console', (m) => {
    if (m.type() === 'error') problems.push(`console: ${m.text()}`);
  });
  page.on('pageerror', (e) => problems.push(`page error: ${e.message}`));
  page.on('requestfailed', (r) => problems.push(`request failed: ${r.url()} ${r.failure()?.errorText}`));
  page.on('response', (r) => {
    if (r.status() >= 400) problems.push(`HTTP ${r.status()}: ${r.url()}`);
  });
  page.on('dialog', async (d) => { problems.push(`dialog: ${d.message()}`); await d.dismiss(); });
  await page.authenticate({ username: user.name, password: passwords.get(user.name) });
  return { page, problems, close: () => context.close() };
}

// Loads a viewer URL and fails unless the program answered 200.
async function load(page, query = '') {
  const response = await page.goto(`${BASE}/zelbrowser.cgi${query}`, { waitUntil: 'load' });
  assert.equal(response.status(), 200, `status of zelbrowser.cgi${query}`);
}

// Runs fn with a fresh page of the user and checks that nothing went wrong
// in the browser meanwhile.
async function asUser(user, fn) {
  const session = await openAs(user);
  try {
    await fn(session.page);
    assert.deepEqual(session.problems, [], `browser problems for ${user.name}`);
  } finally {
    await session.close();
  }
}

// What the live page shows: the channel number of every visible tile, the
// camera named under the screen, the front panel and the clock.
function liveView(page) {
  return page.evaluate(() => {
    const visible = (el) => el.getClientRects().length > 0;
    const tiles = Array.from(document.querySelectorAll('#channels img[name=rImage]'));
    const shown = tiles.filter(visible).map((img) => {
      const m = /switch_cam\((\d+)\)/.exec(img.getAttribute('onclick'));
      return Number(m[1]) + 1;
    });
    const text = (id) => document.getElementById(id).textContent.trim();
    return {
      tileCount: tiles.length,
      shown,
      caption: text('caption'),
      frontPanel: visible(document.getElementById('frontpanel')),
      clock: text('clock'),
      status: { port: text('port'), mport: text('mport'), pass: text('pass') },
    };
  });
}

// The channels 1..n without the ones given.
function channelsWithout(n, hidden) {
  return Array.from({ length: n }, (_, i) => i + 1).filter((c) => !hidden.includes(c));
}

// Date and time formats of the device, by [date_format][time_format], with
// the field order each one shows.
const FORMATS = [
  { date: 0, time: 0, re: /^(\d\d)\/(\d\d)\/(\d\d) (\d\d):(\d\d):(\d\d)$/, order: 'mdyHMS' },
  { date: 1, time: 1, re: /^(\d\d)\/(\d\d)\/(\d\d) (\d\d):(\d\d):(\d\d) (AM|PM)$/, order: 'dmyIMSp' },
  { date: 2, time: 0, re: /^(\d\d)\/(\d\d)\/(\d\d) (\d\d):(\d\d):(\d\d)$/, order: 'ymdHMS' },
  { date: 2, time: 1, re: /^(\d\d)\/(\d\d)\/(\d\d) (\d\d):(\d\d):(\d\d) (AM|PM)$/, order: 'ymdIMSp' },
];

// Reads a shown date and time in the given format into its fields, or null
// when the text does not have that format.
function parseShown(format, text) {
  const m = format.re.exec(text);
  if (!m) return null;
  const f = {};
  [...format.order].forEach((letter, i) => { f[letter] = m[i + 1]; });
  let hour = Number(f.H ?? f.I);
  if (f.p !== undefined) {
    assert.ok(hour >= 1 && hour <= 12, `12-hour clock shows ${hour}`);
    hour = (hour % 12) + (f.p === 'PM' ? 12 : 0);
  }
  return { year: 2000 + Number(f.y), month: Number(f.m), day: Number(f.d),
    hour, min: Number(f.M), sec: Number(f.S) };
}

// The fields of a local time, whole seconds.
function fieldsOf(date) {
  return { year: date.getFullYear(), month: date.getMonth() + 1, day: date.getDate(),
    hour: date.getHours(), min: date.getMinutes(), sec: date.getSeconds() };
}

// Writes the page as a PNG into the screenshot folder.
async function screenshot(page, name) {
  await page.setViewport({ width: 800, height: 520 });
  await page.screenshot({ path: path.join(SHOTS, name) });
}

before(async () => {
  assert.ok(BASE && DVRSIM && SHOTS, 'run through scripts/browser-test.sh');
  passwords = new Map(dvrsim('users').split('\n').map((l) => l.split(':')));
  for (const [k, v] of Object.entries(BASELINE)) dvrsim('set', k, String(v));
  assert.deepEqual(USERS.map((u) => enabledLevelOf(u.name)), USERS.map((u) => u.level),
    'levels of the test users in the user table');
  userDataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'zel-chromium-'));
  browser = await puppeteer.launch({
    executablePath: CHROMIUM,
    headless: true,
    userDataDir,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
});

after(async () => {
  if (browser) await browser.close();
  if (userDataDir) fs.rmSync(userDataDir, { recursive: true, force: true });
});

for (const user of USERS) {
  test(`live view as ${user.name}: tiles, front panel, status and screenshot`, async () => {
    await asUser(user, async (page) => {
      await load(page);
      const view = await liveView(page);
      assert.equal(view.tileCount, CHANNELS, 'one tile per channel');
      assert.deepEqual(view.shown, user.covert ? channelsWithout(CHANNELS, [])
        : channelsWithout(CHANNELS, COVERT_DEFAULT));
      assert.equal(view.frontPanel, user.frontPanel, 'front panel shown');
      assert.deepEqual(view.status, { port: '5000', mport: '5001', pass: '4711' });
      assert.equal(view.caption, 'Camera 1', 'first visible camera on screen');
      await screenshot(page, `live-${user.name}.png`);
    });
  });

  test(`playback as ${user.name}: camera, date and time asked for, and screenshot`, async () => {
    await asUser(user, async (page) => {
      // 2A4C: 2021-02-12; camera 04 (not covert); second 47045: 13:04:05.
      await load(page, '?id=2A4C0447045');
      const shown = await page.evaluate(() => ({
        caption: document.getElementById('caption').textContent.trim(),
        when: document.getElementById('when').textContent.trim(),
      }));
      assert.deepEqual(shown, { caption: 'Camera 4', when: '02/12/21 13:04:05' });
      await screenshot(page, `playback-${user.name}.png`);
    });
  });
}

test('channel count of the model decides the tiles', async () => {
  for (const channels of [4, 8, 16]) {
    await withSettings({ 'model.channels': channels }, () => asUser(ADMIN, async (page) => {
      await load(page);
      const view = await liveView(page);
      assert.deepEqual(view.shown, channelsWithout(channels, []), `${channels} channels`);
    }));
  }
});

test('covert settings changed in the running device show after a reload', async () => {
  // Cameras hidden from each user once the settings are in force.
  const cases = [
    { settings: { 'camera.analog.5.covert': 1 }, admin: [], operator: [...COVERT_DEFAULT, 5] },
    { settings: { 'camera.analog.3.covert': 0 }, admin: [], operator: [7] },
    { settings: { 'security.covert': 0 }, admin: [], operator: [] },
    { settings: { 'security.covert': 4 }, admin: COVERT_DEFAULT, operator: COVERT_DEFAULT },
  ];
  for (const c of cases) {
    for (const user of USERS) {
      await asUser(user, async (page) => {
        await load(page);
        const before = (await liveView(page)).shown;
        assert.deepEqual(before, channelsWithout(CHANNELS, user.covert ? [] : COVERT_DEFAULT));
        await withSettings(c.settings, async () => {
          await page.reload({ waitUntil: 'load' });
          assert.deepEqual((await liveView(page)).shown, channelsWithout(CHANNELS, c[user.name]),
            `${user.name} with ${JSON.stringify(c.settings)}`);
        });
      });
    }
  }
});

test('front panel follows the front-panel setting and the user level', async () => {
  const cases = [
    { setting: 0, user: OPERATOR, shown: true },
    { setting: 1, user: OPERATOR, shown: true },
    { setting: 2, user: OPERATOR, shown: false },
    { setting: 4, user: ADMIN, shown: false },
  ];
  for (const c of cases) {
    await withSettings({ 'security.front_panel': c.setting }, () => asUser(c.user, async (page) => {
      await load(page);
      assert.equal((await liveView(page)).frontPanel, c.shown,
        `front_panel ${c.setting}, ${c.user.name}`);
    }));
  }
});

test('switch_cam shows the camera clicked, and not a covert one', async () => {
  await asUser(OPERATOR, async (page) => {
    await load(page);
    await page.click('#channels img[onclick="switch_cam(9)"]');
    let view = await liveView(page);
    assert.equal(view.caption, 'Camera 10');
    assert.equal(await page.$eval('img.selected', (img) => img.getAttribute('onclick')), 'switch_cam(9)');
    await page.evaluate(() => switch_cam(2)); // camera 3 is covert for this user
    view = await liveView(page);
    assert.equal(view.caption, 'Camera 10', 'covert camera not switched to');
  });
});

for (const format of FORMATS) {
  test(`clock and playback time in date format ${format.date}, time format ${format.time}`, async () => {
    const settings = { 'time.date_format': format.date, 'time.time_format': format.time };
    await withSettings(settings, () => asUser(OPERATOR, async (page) => {
      await load(page);
      const before = Date.now();
      const clock = (await liveView(page)).clock;
      const after = Date.now();
      const shown = parseShown(format, clock);
      assert.ok(shown, `clock "${clock}" in format ${format.order}`);
      // The clock is the browser's local time, read between the two stamps
      // (it ticks once a second; a busy machine may delay a tick a few seconds).
      const candidates = [];
      for (let t = before - 10000; t <= after + 1000; t += 1000) candidates.push(fieldsOf(new Date(t)));
      assert.ok(candidates.some((c) => JSON.stringify(c) === JSON.stringify(shown)),
        `clock "${clock}" is the current local time`);

      await load(page, '?id=2A4C0347045');
      const when = await page.$eval('#when', (el) => el.textContent.trim());
      assert.deepEqual(parseShown(format, when),
        { year: 2021, month: 2, day: 12, hour: 13, min: 4, sec: 5 }, `playback time "${when}"`);
    }));
  });
}

test('playback ids: camera and time decoded, malformed ones refused', async () => {
  const cases = [
    { id: '2a4c2086399', caption: 'Camera 20', when: '02/12/21 23:59:59' },
    { id: '2A4C0100000', caption: 'Camera 1', when: '02/12/21 00:00:00' },
    { id: '2A4C0186400', refused: true },
    { id: '2A4C2100000', refused: true },
    { id: '2G4C0100000', refused: true },
  ];
  await asUser(ADMIN, async (page) => {
    for (const c of cases) {
      await load(page, `?id=${c.id}`);
      if (c.refused) {
        assert.equal(await page.evaluate(() => document.body.textContent), 'Invalid argument.', c.id);
      } else {
        const shown = await page.evaluate(() => [document.getElementById('caption').textContent,
          document.getElementById('when').textContent]);
        assert.deepEqual(shown, [c.caption, c.when], c.id);
      }
    }
  });
});
