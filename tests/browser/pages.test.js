// The device pages (search, upload, disk map, system) in headless Chromium,
// each compared with what the simulator answers to `dvrsession` on its own.
'use strict';
const { test } = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const fs = require('node:fs'), path = require('node:path');
const { useBrowser, BASE, ctx, dvrsession, shot, openAs, onPage } = require('./browser.js');
useBrowser();

const PHONE = { width: 390, height: 800 };
const utc = (s) => new Date(s * 1000).toISOString().slice(0, 19).replace('T', ' '); // as dvrsession prints
const FROM = Math.floor(Date.now() / 1000) - 2 * 86400;

// Like onPage, and the page must also fit a phone's width.
const devicePage = (name, file, fn) => onPage(name, file, async (page, s) => {
  await fn(page, s);
  await page.setViewport(PHONE);
  assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= innerWidth), `${file} fits a phone`);
});

// Sets the search form with `script` (f is the form), submits, waits for the
// end; returns the note and the results (start and cameras of each row).
async function search(page, script, submit = 'f.requestSubmit()') {
  await page.evaluate(`(() => { const f = document.getElementById('search-form'); ${script}; ${submit}; })()`);
  await page.waitForFunction(() => !['running', 'cancelling'].includes(document.body.dataset.search));
  return { note: await page.$eval('#search-note', (n) => n.textContent),
    rows: await page.$$eval('#results tbody tr', (rows) => rows.map((r) => [Number(r.dataset.start), Number(r.dataset.cams)])) };
}

test('search finds what the service finds, and a result opens its playback', async () => {
  await devicePage('operator', 'search.cgi', async (page) => {
    const { note, rows } = await search(page, `f.kind.value = 'event'; f.kind.dispatchEvent(new Event('change'));
      f.querySelector('[name=event][value="2"]').checked = true; f.querySelector('[name=cam][value="5"]').checked = true;
      setInputSeconds(document.getElementById('from'), ${FROM})`);
    assert.match(note, new RegExp(`complete: ${rows.length} recording`));
    const out = dvrsession('search', '--from', String(FROM), '--cameras', '0x10', '--events', '2');
    const expected = [...out.matchAll(/cameras 0x([0-9a-f]+) flags 0x[0-9a-f]+ +(\S+ \S+) UTC/g)]
      .map((m) => `${parseInt(m[1], 16)} ${m[2]}`);
    assert.ok(expected.length > 0, 'the simulator has motion recordings of camera 5');
    assert.deepEqual(rows.map(([start, cams]) => `${cams} ${utc(start)}`), expected);
    await shot(page, 'pages-search.png', { fullPage: true });
    await Promise.all([page.waitForNavigation(), page.click('#results tbody tr a')]);
    assert.deepEqual(await page.evaluate(() => [m_cam, m_year, m_month, m_date, m_hour, m_min, m_sec]),
      [4, ...utc(rows[0][0]).split(/[- :]/).map(Number)], 'playback camera and time');
  });
});

test('search never offers nor shows a camera hidden from the user', async () => {
  const hidden = [3, 7, 18]; // the demo's covert cameras: analog 3 and 7, IP camera 2
  assert.match(dvrsession('search', '--from', String(FROM), '--cameras', '0x4'), /cameras 0x/, 'camera 3 recorded');
  await devicePage('operator', 'search.cgi', async (page) => {
    assert.deepEqual(await page.$$eval('[name=cam]', (boxes) => boxes.map((b) => Number(b.value))),
      [...Array(20).keys()].map((i) => i + 1).filter((c) => !hidden.includes(c)), 'cameras offered');
    const { rows } = await search(page, `setInputSeconds(document.getElementById('from'), ${FROM})`);
    const mask = hidden.reduce((m, c) => m | (1 << (c - 1)), 0);
    assert.deepEqual([rows.length > 0, rows.filter(([, cams]) => cams & mask)], [true, []], 'results, hidden ones');
  });
});

// Searches that end without results, and the note each gets.
const SEARCH_ENDS = [
  { script: "f.kind.value = 'text'; f.text.value = 'no such title'", note: /^No recording matches this search\.$/ },
  // Motion in no area: the grid the page sends reaches the device.
  { script: "f.kind.value = 'motion'; for (const cell of document.querySelectorAll('#grid span')) cell.click()",
    note: /^No recording matches this search\.$/ },
  // Cancel at once: the page cancels the search its first request started.
  { script: "f.kind.value = 'time'", submit: "f.requestSubmit(); document.getElementById('cancel').click()",
    note: /^Search cancelled: \d+ recording/ },
  // Sixteen searches nobody continues keep every slot owned.
  { before: () => [...Array(16)].forEach(() => dvrsession('search', '--visits', '0')), script: '',
    note: /^All search sessions of the device are in use; try again in a minute\.$/ },
];
test('a search that finds nothing, a cancelled one and a full table each say so', async () => {
  await devicePage('operator', 'search.cgi', async (page) => {
    for (const c of SEARCH_ENDS) {
      c.before?.();
      assert.match((await search(page, c.script, c.submit)).note, c.note);
    }
  });
});

// Uploads a file of that content from the upload page.
async function upload(page, name, content) {
  const file = path.join(ctx.tmp, name);
  fs.writeFileSync(file, content);
  await (await page.$('#file')).uploadFile(file);
  await page.click('#upload-form button[type=submit]');
}

test('an upload of 3 MiB reaches the device with progress', async () => {
  const size = 3 * 1024 * 1024;
  await devicePage('manager', 'upload.cgi', async (page) => {
    await upload(page, 'upload.bin', Buffer.alloc(size, 0x5a));
    await page.waitForFunction(() => !['sending', undefined].includes(document.body.dataset.upload));
    const got = await page.evaluate(() => [document.body.dataset.upload, Number(document.body.dataset.sentEvents) > 0,
      document.getElementById('upload-note').textContent, document.getElementById('upload-progress').value]);
    assert.deepEqual(got, ['done', true, `Upload complete: the device received ${size} of ${size} bytes.`, 100]);
    assert.match(dvrsession('upload-status'), new RegExp(`received ${size} of ${size} bytes`));
    await shot(page, 'pages-upload.png', { fullPage: true });
  });
});

test('a second upload is refused while another runs, and Cancel stops that one', async () => {
  // One-byte pieces keep the command-line upload going for as long as needed.
  const other = spawn(process.env.ZEL_DVRSESSION, ['--timeout', '0', 'upload', '--size', '100000000', '--piece', '1'],
    { stdio: 'ignore' });
  try {
    await devicePage('manager', 'upload.cgi', async (page) => {
      await page.waitForFunction(() => document.getElementById('device-status').dataset.status === '3'
        && Number(document.getElementById('device-status').dataset.received) > 0);
      await upload(page, 'small.bin', 'small');
      await page.waitForFunction(() => document.body.dataset.upload === 'busy');
      assert.match(await page.$eval('#upload-note', (n) => n.textContent), /another upload is in progress/);
      await page.click('#cancel');
      await page.waitForFunction(() => document.getElementById('device-status').dataset.status === '0');
      assert.match(dvrsession('upload-status'), /status 0 \(free\)/);
    });
  } finally {
    other.kill();
  }
});

test('the disk map draws the simulator\'s map and zooms into a column', async () => {
  // The map of the page's slot, drawn (from the cells' flags) and as dvrsession prints it.
  const drawn = (page) => page.$$eval('#map rect.cell', (cells) => {
    const rows = Array.from({ length: 20 }, () => Array(36).fill('?'));
    for (const c of cells) rows[c.dataset.row][c.dataset.col] = c.dataset.flag === '0' ? '.' : '#';
    return rows.map((r) => r.join(''));
  });
  const simulator = (conn) => {
    const out = dvrsession('map', '--conn', conn);
    const [, first, , total] = /blocks (\d+) \.\. (\d+) of (\d+)/.exec(out).map(Number);
    return { first, total, rows: [...out.matchAll(/^camera +\d+ ([#.]{36})$/gm)].map((m) => m[1]) };
  };
  await devicePage('manager', 'diskmap.cgi', async (page) => {
    await page.waitForSelector('#map rect.cell');
    const conn = await page.$eval('#map', (m) => m.dataset.conn);
    assert.deepEqual(await drawn(page), simulator(conn).rows, 'level 0');
    await page.hover('#map rect[data-row="2"][data-col="5"]');
    assert.match(await page.$eval('#map-hover', (e) => e.textContent),
      /^camera 3, column 6: \d{4}-\d\d-\d\d \d\d:\d\d:\d\d \.\. .* UTC, flag [01]/);
    await shot(page, 'pages-diskmap.png', { fullPage: true });
    await page.click('#map rect[data-row="0"][data-col="5"]');
    await page.waitForFunction(() => document.getElementById('map').dataset.level === '1');
    const zoomed = simulator(conn);
    assert.deepEqual(await drawn(page), zoomed.rows, 'zoomed into column 6');
    assert.equal(zoomed.first, (5 * zoomed.total) / 36, 'the window starts at column 6');
    await page.click('#map-controls button[data-op="2"]');
    await page.waitForFunction(() => document.getElementById('map').dataset.level === '0');
    await page.setViewport(PHONE);
    await shot(page, 'pages-diskmap-phone.png', { fullPage: true });
  });
});

test('the system page shows the DHCP data and sets the device clock from the browser', async () => {
  const target = Date.UTC(2031, 4, 6, 7, 8, 9) / 1000;
  try {
    await devicePage('admin', 'system.cgi', async (page) => {
      await page.waitForSelector('#dhcp tr');
      const rows = await page.$$eval('#dhcp tr', (trs) => trs.map((tr) => tr.innerText.trim()));
      const address = /address +(\S+)/.exec(dvrsession('dhcp'))[1];
      assert.ok(rows.includes(`Address\t${address}`), `${rows} has ${address}`);
      await shot(page, 'pages-system.png', { fullPage: true });
      // The browser's clock moved to the target before the click.
      await page.evaluate((t) => { const shift = t * 1000 - Date.now(), now = Date.now; Date.now = () => now() + shift; }, target);
      await page.click('#setclock');
      await page.waitForFunction((t) => Number(document.getElementById('device-clock').dataset.seconds) >= t, {}, target);
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
  for (const [name, file] of [['guest', 'search.cgi'], ['operator', 'upload.cgi'], ['operator', 'diskmap.cgi'],
    ['manager', 'system.cgi']]) {
    const s = await openAs(name);
    await s.page.goto(`${BASE}/${file}`);
    await s.page.waitForFunction(() => location.pathname === '/index.html');
    assert.deepEqual(s.dialogs, [`User ${name} is not authorized to access this page.`], file);
    if (file === 'upload.cgi') await shot(s.page, 'pages-index.png', { fullPage: true });
    await s.close();
  }
});
