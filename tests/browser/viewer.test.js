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
const http = require('node:http');
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
let decoder; // a blank page that turns screenshots and JPEG frames into pixels

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
  const requests = []; // every URL the page asked for, in order
  page.on('request', (r) => requests.push(r.url()));
  page.on('console', (m) => {
    if (m.type() === 'error') problems.push(`console: ${m.text()}`);
  });
  page.on('pageerror', (e) => problems.push(`page error: ${e.message}`));
  // A picture whose source the page replaces (a camera switched before its
  // stream answered) is cancelled by the browser: that is no failure.
  page.on('requestfailed', (r) => {
    if (r.resourceType() === 'image' && r.failure()?.errorText === 'net::ERR_ABORTED') return;
    problems.push(`request failed: ${r.url()} ${r.failure()?.errorText}`);
  });
  page.on('response', (r) => {
    if (r.status() >= 400) problems.push(`HTTP ${r.status()}: ${r.url()}`);
  });
  page.on('dialog', async (d) => { problems.push(`dialog: ${d.message()}`); await d.dismiss(); });
  await page.authenticate({ username: user.name, password: passwords.get(user.name) });
  return { page, problems, requests, close: () => context.close() };
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
    await fn(session.page, session);
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

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// A playback page plays from the position asked for as soon as it opens, so
// the position it shows is that one or, on a slow machine, a few seconds
// later (within the recording's day, as the page counts).
const PLAY_SLACK_S = 10;
function assertPlayingFrom(shown, start, what) {
  assert.ok(shown, `${what}: not a date and time`);
  assert.deepEqual([shown.year, shown.month, shown.day], [start.year, start.month, start.day], what);
  const secs = (f) => f.hour * 3600 + f.min * 60 + f.sec;
  const ahead = (secs(shown) - secs(start) + 86400) % 86400;
  assert.ok(ahead <= PLAY_SLACK_S, `${what}: ${ahead} s after the position asked for`);
}

// The simulator's test picture (simulator/dvrsim/sim_stream_picture.h):
// "CAM nn" and the clock "YYYY-MM-DD HH:MM:SS" drawn white on black with a
// 5x7 font, `scale` pixels a dot, characters 6 dots apart. The glyphs the
// tests read back, row by row:
const PICTURE = { width: 352, height: 240 };
const CAM_TEXT = { x: 8, y: 10, scale: 4 };
const CLOCK_TEXT = { x: 5, y: 196, scale: 3 };
const GLYPHS = {
  '0': ['.###.', '#...#', '#..##', '#.#.#', '##..#', '#...#', '.###.'],
  '1': ['..#..', '.##..', '..#..', '..#..', '..#..', '..#..', '.###.'],
  '2': ['.###.', '#...#', '....#', '...#.', '..#..', '.#...', '#####'],
  '3': ['#####', '...#.', '..#..', '...#.', '....#', '#...#', '.###.'],
  '4': ['...#.', '..##.', '.#.#.', '#..#.', '#####', '...#.', '...#.'],
  '5': ['#####', '#....', '####.', '....#', '....#', '#...#', '.###.'],
  '6': ['..##.', '.#...', '#....', '####.', '#...#', '#...#', '.###.'],
  '7': ['#####', '....#', '...#.', '..#..', '.#...', '.#...', '.#...'],
  '8': ['.###.', '#...#', '#...#', '.###.', '#...#', '#...#', '.###.'],
  '9': ['.###.', '#...#', '#...#', '.####', '....#', '...#.', '.##..'],
  '-': ['.....', '.....', '.....', '#####', '.....', '.....', '.....'],
  ':': ['.....', '.##..', '.##..', '.....', '.##..', '.##..', '.....'],
  ' ': ['.....', '.....', '.....', '.....', '.....', '.....', '.....'],
};

// Reads `count` characters from character `first` on of the text line at
// `line` of a decoded picture: each font dot is sampled at its centre, and a
// character is the glyph it matches exactly, or '?'.
function readText(pic, line, first, count) {
  let text = '';
  for (let i = first; i < first + count; i++) {
    const x0 = line.x + i * 6 * line.scale;
    const dots = [];
    for (let r = 0; r < 7; r++) {
      let row = '';
      for (let c = 0; c < 5; c++) {
        const x = x0 + c * line.scale + (line.scale >> 1);
        const y = line.y + r * line.scale + (line.scale >> 1);
        row += pic.lum[y * pic.width + x] > 128 ? '#' : '.';
      }
      dots.push(row);
    }
    const found = Object.entries(GLYPHS).find(([, g]) => g.join() === dots.join());
    text += found ? found[0] : '?';
  }
  return text;
}

// What a picture shows: the camera number (or null when none can be read)
// and the clock text.
function readPicture(pic) {
  if (pic.width !== PICTURE.width || pic.height !== PICTURE.height) return { camera: null, clock: '' };
  const digits = readText(pic, CAM_TEXT, 4, 2);
  return { camera: /^\d\d$/.test(digits) ? Number(digits) : null, clock: readText(pic, CLOCK_TEXT, 0, 19) };
}

// "YYYY-MM-DD HH:MM:SS" read from a picture, as fields.
function parsePictureClock(text) {
  const m = /^(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)$/.exec(text);
  return m && { year: Number(m[1]), month: Number(m[2]), day: Number(m[3]),
    hour: Number(m[4]), min: Number(m[5]), sec: Number(m[6]) };
}

// Decodes a PNG or JPEG in the browser into its luminance, one value a pixel.
async function decodeImage(buffer, type) {
  return decoder.evaluate(async (b64, mime) => {
    const img = new Image();
    img.src = `data:${mime};base64,${b64}`;
    await img.decode();
    const canvas = document.createElement('canvas');
    canvas.width = img.naturalWidth;
    canvas.height = img.naturalHeight;
    const g = canvas.getContext('2d');
    g.drawImage(img, 0, 0);
    const d = g.getImageData(0, 0, canvas.width, canvas.height).data;
    const lum = new Array(canvas.width * canvas.height);
    for (let i = 0; i < lum.length; i++) lum[i] = (d[4 * i] * 299 + d[4 * i + 1] * 587 + d[4 * i + 2] * 114) / 1000 | 0;
    return { width: canvas.width, height: canvas.height, lum };
  }, Buffer.from(buffer).toString('base64'), type);
}

// The pixels the page shows inside the main screen's border, as a user
// sees them (a screenshot of that box).
async function screenPicture(page) {
  const clip = await page.$eval('#screen', (el) => {
    const r = el.getBoundingClientRect();
    return { x: r.left + el.clientLeft, y: r.top + el.clientTop, width: el.clientWidth, height: el.clientHeight };
  });
  return decodeImage(await page.screenshot({ clip, type: 'png' }), 'image/png');
}

// Waits until the main screen shows a picture of the camera numbered
// `camera`; returns the picture and what it shows.
async function waitForPicture(page, { camera, timeoutMs = 15000 }) {
  const until = Date.now() + timeoutMs;
  let seen;
  for (;;) {
    const pic = await screenPicture(page);
    seen = readPicture(pic);
    if (seen.camera === camera) return { pic, ...seen };
    if (Date.now() > until) assert.fail(`no picture of camera ${camera} on screen (read ${JSON.stringify(seen)})`);
    await sleep(200);
  }
}

// Pixels that differ clearly between two pictures of the same size.
function changedPixels(a, b) {
  let n = 0;
  for (let i = 0; i < a.lum.length; i++) if (Math.abs(a.lum[i] - b.lum[i]) > 60) n++;
  return n;
}

// The stream requests (to the connection port) among the URLs, as URL objects.
const STREAM_PORT = '5000';
function streamRequests(urls) {
  return urls.map((u) => new URL(u)).filter((u) => u.port === STREAM_PORT);
}

// Fetches a stream address outside the browser and returns the status, the
// content type and the first JPEG picture of the stream (or of a still).
function firstFrame(url, timeoutMs = 10000) {
  return new Promise((resolve, reject) => {
    const req = http.get(url, (res) => {
      const type = res.headers['content-type'] || '';
      let buf = Buffer.alloc(0);
      res.on('data', (d) => {
        buf = Buffer.concat([buf, d]);
        if (res.statusCode !== 200) return;
        if (type.startsWith('image/jpeg')) return;
        const m = /Content-Length: (\d+)\r\n\r\n/i.exec(buf.toString('latin1'));
        if (m && buf.length >= m.index + m[0].length + Number(m[1])) {
          const start = m.index + m[0].length;
          req.destroy();
          resolve({ status: res.statusCode, type, jpeg: buf.subarray(start, start + Number(m[1])) });
        }
      });
      res.on('end', () => resolve({ status: res.statusCode, type, jpeg: type.startsWith('image/jpeg') ? buf : null }));
    });
    req.setTimeout(timeoutMs, () => { req.destroy(); reject(new Error(`no frame from ${url}`)); });
    req.on('error', (e) => { if (!req.destroyed) reject(e); });
  });
}

// Waits for the page that `action` opens with window.open and for its load.
async function popupOf(page, action) {
  const opened = new Promise((resolve) => page.once('popup', resolve));
  await action();
  const popup = await opened;
  popup.setDefaultTimeout(PAGE_TIMEOUT_MS);
  await popup.waitForFunction(() => document.readyState === 'complete' && typeof m_allowed !== 'undefined');
  return popup;
}

// What a playback page shows about its stream: the screen's source, the
// note, whether Play can be pressed, and the stream addresses it fetched.
function playbackState(page) {
  return page.evaluate(() => ({
    src: document.getElementById('screen').src,
    note: document.getElementById('note').textContent,
    playDisabled: document.getElementById('play').disabled,
    fetched: performance.getEntriesByType('resource').map((e) => e.name).filter((n) => /:5000\//.test(n)),
  }));
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
  decoder = await browser.newPage();
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
      await waitForPicture(page, { camera: 1 });
      await sleep(1500); // the square has moved off its starting place
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
      assert.equal(shown.caption, 'Camera 4');
      assertPlayingFrom(parseShown(FORMATS[0], shown.when),
        { year: 2021, month: 2, day: 12, hour: 13, min: 4, sec: 5 }, shown.when);
      await waitForPicture(page, { camera: 4 });
      await sleep(1500); // the square has moved off its starting place
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
      assertPlayingFrom(parseShown(format, when),
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
        const [caption, when] = await page.evaluate(() => [document.getElementById('caption').textContent,
          document.getElementById('when').textContent]);
        assert.equal(caption, c.caption, c.id);
        assertPlayingFrom(parseShown(FORMATS[0], when), parseShown(FORMATS[0], c.when), `${c.id}: ${when}`);
      }
    }
  });
});

test('live view: moving pictures of the selected camera, and a click switches the stream', async () => {
  await asUser(OPERATOR, async (page, session) => {
    await load(page);
    const first = await waitForPicture(page, { camera: 1 });
    // The picture's clock is the device clock, which the simulator keeps on
    // the machine's clock.
    const clock = parsePictureClock(first.clock);
    assert.ok(clock, `clock in the picture: "${first.clock}"`);
    const shown = new Date(clock.year, clock.month - 1, clock.day, clock.hour, clock.min, clock.sec);
    assert.ok(Math.abs(shown - Date.now()) < 15000, `picture clock ${first.clock} is the current time`);
    await sleep(500);
    const later = await waitForPicture(page, { camera: 1 });
    assert.ok(changedPixels(first.pic, later.pic) > 100, 'the picture moves');

    await page.click('#channels img[onclick="switch_cam(9)"]');
    await waitForPicture(page, { camera: 10 });
    const streams = streamRequests(session.requests).map((u) =>
      [u.hostname, u.pathname, u.searchParams.get('cam'), u.searchParams.get('pass')]);
    assert.deepEqual(streams, [['127.0.0.1', '/live', '1', '4711'], ['127.0.0.1', '/live', '10', '4711']],
      'one stream per camera chosen, on the page\'s port with its passcode');
  });
});

test('live view: a camera hidden from the user is never requested', async () => {
  // Operator: cameras 3 and 7 covert; with 12 channels 13 to 20 are hidden too.
  await withSettings({ 'model.channels': 12 }, () => asUser(OPERATOR, async (page, session) => {
    await load(page);
    await waitForPicture(page, { camera: 1 });
    for (let cam = 0; cam < 20; cam++) {
      await page.evaluate((c) => switch_cam(c), cam);
      await sleep(100);
    }
    await waitForPicture(page, { camera: 12 });
    const asked = [...new Set(streamRequests(session.requests).map((u) => Number(u.searchParams.get('cam'))))];
    assert.deepEqual(asked.sort((a, b) => a - b), channelsWithout(12, COVERT_DEFAULT), 'cameras requested');
    const fetched = await page.evaluate(() =>
      performance.getEntriesByType('resource').map((e) => e.name).filter((n) => /:5000\//.test(n)));
    for (const hidden of [3, 7, 13, 20])
      assert.ok(!fetched.some((n) => new URL(n).searchParams.get('cam') === String(hidden)),
        `camera ${hidden} among the page's resources`);
  }));
});

test('playback: the first frame shows the time asked for, and the pictures run on from it', async () => {
  await asUser(OPERATOR, async (page, session) => {
    // 2A4C: 2021-02-12; camera 04; second 47045: 13:04:05.
    await load(page, '?id=2A4C0447045');
    const src = new URL(await page.$eval('#screen', (img) => img.src));
    assert.deepEqual(Object.fromEntries(src.searchParams),
      { cam: '4', year: '2021', month: '2', day: '12', sec: '47045', pass: '4711' }, 'stream address');
    assert.equal(src.pathname, '/playback');

    const frame = await firstFrame(src.href);
    assert.equal(frame.status, 200);
    assert.match(frame.type, /^multipart\/x-mixed-replace/);
    const first = readPicture(await decodeImage(frame.jpeg, 'image/jpeg'));
    assert.deepEqual(first, { camera: 4, clock: '2021-02-12 13:04:05' }, 'first frame of the recording');

    const onScreen = await waitForPicture(page, { camera: 4 });
    assertPlayingFrom(parsePictureClock(onScreen.clock),
      { year: 2021, month: 2, day: 12, hour: 13, min: 4, sec: 5 }, `picture clock ${onScreen.clock}`);

    // Pause keeps a still picture of the position shown.
    await page.click('#pause');
    const still = new URL(await page.$eval('#screen', (img) => img.src));
    assert.equal(still.searchParams.get('still'), '1');
    const when = parseShown(FORMATS[0], await page.$eval('#when', (el) => el.textContent.trim()));
    const stillFrame = await firstFrame(still.href);
    assert.equal(stillFrame.type, 'image/jpeg');
    const stillClock = readPicture(await decodeImage(stillFrame.jpeg, 'image/jpeg')).clock;
    assert.deepEqual(parsePictureClock(stillClock), when, 'the still picture shows the position shown');
    assert.equal(streamRequests(session.requests).filter((u) => u.pathname === '/playback').length, 2);
  });
});

test('a wrong passcode gets no picture', async () => {
  const base = `http://127.0.0.1:${STREAM_PORT}/live?cam=1`;
  for (const url of [`${base}&pass=0000`, base, `${base}&pass=47111`, `${base}&pass=471`]) {
    const r = await firstFrame(url);
    assert.equal(r.status, 403, url);
    assert.ok(!r.type.startsWith('image/') && !r.type.startsWith('multipart/'), `${url}: ${r.type}`);
  }
  await asUser(OPERATOR, async (page, session) => {
    await load(page);
    await waitForPicture(page, { camera: 1 });
    // The device's passcode changes while the page holds the old one.
    await withSettings({ 'network.ethernet_password': '9999' }, async () => {
      await page.click('#channels img[onclick="switch_cam(1)"]');
      await page.waitForFunction(() => document.getElementById('note').textContent !== '');
      assert.equal(await page.$eval('#note', (el) => el.textContent), 'no picture');
      assert.match(await page.$eval('#screen', (img) => img.src), /images\/Channels\/sNone\.jpg$/);
      assert.equal(readPicture(await screenPicture(page)).camera, null, 'no camera picture on screen');
      // The refusal is the only thing that went wrong.
      const refused = session.problems.filter((p) => /403|Failed to load resource/.test(p));
      assert.ok(refused.length >= 1 && refused.length === session.problems.length, session.problems.join('\n'));
      session.problems.length = 0;
      // Reloaded, the page carries the new passcode and shows pictures again.
      await page.reload({ waitUntil: 'load' });
      assert.equal((await liveView(page)).status.pass, '9999');
      await waitForPicture(page, { camera: 1 });
    });
  });
});

test('playback opened from the live view refuses a camera hidden from the user', async () => {
  await asUser(OPERATOR, async (page) => {
    await load(page);
    await waitForPicture(page, { camera: 1 });
    // Camera 3 is covert for this user: the live view's covert list says so.
    const hidden = await popupOf(page, () => page.evaluate(() => window.open('zelbrowser.cgi?id=2A4C0347045', 'playback')));
    await sleep(1000);
    let state = await playbackState(hidden);
    assert.deepEqual(state, { src: `${BASE}/images/Channels/sNone.jpg`, note: 'not available to this user',
      playDisabled: true, fetched: [] }, 'covert camera from the live view');
    await hidden.evaluate(() => play());
    assert.deepEqual((await playbackState(hidden)).fetched, [], 'Play does not start it either');
    await hidden.close();

    // The Playback button opens the camera on screen, which plays.
    const shown = await popupOf(page, () => page.click('#playback'));
    await waitForPicture(shown, { camera: 1 });
    state = await playbackState(shown);
    assert.equal(state.note, '');
    assert.equal(new URL(state.src).searchParams.get('cam'), '1');
    await shown.close();

    // A playback page in a frame of the live view reads it through `top`.
    await page.evaluate(() => {
      const f = document.createElement('iframe');
      f.name = 'inner';
      f.src = 'zelbrowser.cgi?id=2A4C0747045'; // camera 7, covert
      document.body.appendChild(f);
    });
    const frame = await (async () => {
      for (let i = 0; i < 100; i++) {
        const f = page.frames().find((x) => x.name() === 'inner');
        if (f && await f.evaluate(() => typeof m_allowed !== 'undefined').catch(() => false)) return f;
        await sleep(100);
      }
      return assert.fail('no playback frame');
    })();
    state = await playbackState(frame);
    assert.equal(state.note, 'not available to this user');
    assert.deepEqual(state.fetched, []);
  });

  // A user who may see covert cameras plays camera 3 from the live view.
  await asUser(ADMIN, async (page) => {
    await load(page);
    const popup = await popupOf(page, () => page.evaluate(() => window.open('zelbrowser.cgi?id=2A4C0347045', 'playback')));
    await waitForPicture(popup, { camera: 3 });
    await popup.close();
  });

  // What remains open (docs/security.md): typed by hand, with no live view
  // to ask, the page the program serves plays any camera.
  await asUser(OPERATOR, async (page) => {
    await load(page, '?id=2A4C0347045');
    await waitForPicture(page, { camera: 3 });
  });
});
