// Shared by the browser tests (run by scripts/browser-test.sh, which sets
// the ZEL_* variables): one Chromium per file, a page per user.
'use strict';
const { before, after } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs'), os = require('node:os'), path = require('node:path');
const puppeteer = require('puppeteer-core');

const { ZEL_URL: BASE, ZEL_DVRSIM, ZEL_DVRSESSION, ZEL_SHOT_DIR } = process.env;
const ctx = {}; // browser, passwords, tmp (a private folder)
const run = (cmd, ...args) => execFileSync(cmd, args, { encoding: 'utf8', timeout: 30000 }).trim();
const dvrsim = (...args) => run(ZEL_DVRSIM, ...args);
const dvrsession = (...args) => run(ZEL_DVRSESSION, ...args);
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const shot = (page, name, opts) => page.screenshot({ path: path.join(ZEL_SHOT_DIR, name), ...opts });

// Registers the browser's start (then setup()) and end with the calling test file.
function useBrowser(setup) {
  before(async () => {
    assert.ok(BASE && ZEL_DVRSIM && ZEL_DVRSESSION && ZEL_SHOT_DIR, 'run through scripts/browser-test.sh');
    ctx.passwords = new Map(dvrsim('users').split('\n').map((l) => l.split(':')));
    ctx.tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'zel-chromium-'));
    ctx.browser = await puppeteer.launch({
      executablePath: process.env.ZEL_CHROMIUM || '/usr/bin/chromium', headless: true, userDataDir: ctx.tmp,
      args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
        '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    });
    await setup?.();
  });
  after(async () => { await ctx.browser?.close(); fs.rmSync(ctx.tmp, { recursive: true, force: true }); });
}

// A page of the user in a context of its own; records every console error,
// page error, failed request, HTTP error and (accepted) dialog.
async function openAs(name) {
  const context = await ctx.browser.createBrowserContext();
  const page = await context.newPage();
  page.setDefaultTimeout(20000);
  const s = { page, problems: [], dialogs: [], requests: [], close: () => context.close() };
  page.on('request', (r) => s.requests.push(r.url()));
  page.on('console', (m) => { if (m.type() === 'error') s.problems.push(`console: ${m.text()}`); });
  page.on('pageerror', (e) => s.problems.push(`page error: ${e.message}`));
  // A picture the page replaces or leaves is cancelled by the browser: no failure.
  page.on('requestfailed', (r) => {
    if (r.resourceType() === 'image' && r.failure()?.errorText === 'net::ERR_ABORTED') return;
    s.problems.push(`failed: ${r.url()} ${r.failure()?.errorText}`);
  });
  page.on('response', (r) => { if (r.status() >= 400) s.problems.push(`HTTP ${r.status()}: ${r.url()}`); });
  page.on('dialog', async (d) => { s.dialogs.push(d.message()); await d.accept(); });
  await page.authenticate({ username: name, password: ctx.passwords.get(name) });
  return s;
}

// Runs fn(page, session) on a page of the user opened at `file` (answered
// 200), then requires that nothing went wrong in the browser.
async function onPage(name, file, fn) {
  const s = await openAs(name);
  try {
    assert.equal((await s.page.goto(`${BASE}/${file}`, { waitUntil: 'load' })).status(), 200, file);
    await fn(s.page, s);
    assert.deepEqual([s.problems, s.dialogs], [[], []], `browser problems, dialogs: ${name} on ${file}`);
  } finally { await s.close(); }
}

module.exports = { useBrowser, BASE, ctx, dvrsim, dvrsession, sleep, shot, openAs, onPage };
