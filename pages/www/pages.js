// pages.js - what the device pages' scripts share: JSON requests to their
// CGI program, polling, device time (seconds since 1970, shown as UTC) and
// small DOM helpers. Text reaches the page only through textContent.
'use strict';

function $(id) { return document.getElementById(id); }

function showText(id, text) { $(id).textContent = text; }

// Asks the page's program for JSON; GET with the fields in the query, or
// POST with them URL-encoded. Rejects on an HTTP error.
async function askDevice(url, fields, method = 'GET') {
  const query = new URLSearchParams(fields).toString();
  const response = method === 'GET'
    ? await fetch(`${url}?${query}`, { cache: 'no-store' })
    : await fetch(url, { method, body: new URLSearchParams(fields) });
  if (!response.ok) throw new Error(`${url}: HTTP ${response.status}`);
  return response.json();
}

// Calls step every `ms` milliseconds until it returns false; the next call
// starts only after the last one has finished. Returns a stop function.
function poll(step, ms) {
  let timer = null;
  let stopped = false;
  const run = async () => {
    if (stopped) return;
    let again = false;
    try { again = await step(); } catch (e) { showError(e); }
    if (again && !stopped) timer = setTimeout(run, ms);
  };
  run();
  return () => { stopped = true; clearTimeout(timer); };
}

// Shows an unexpected failure in the page's note line, if it has one.
function showError(e) {
  const note = document.querySelector('.note');
  if (note) note.textContent = String(e.message || e);
}

function two(n) { return String(n).padStart(2, '0'); }

// Device time as "YYYY-MM-DD HH:MM:SS" (UTC).
function deviceTime(seconds) {
  const d = new Date(seconds * 1000);
  return `${d.getUTCFullYear()}-${two(d.getUTCMonth() + 1)}-${two(d.getUTCDate())} ` +
    `${two(d.getUTCHours())}:${two(d.getUTCMinutes())}:${two(d.getUTCSeconds())}`;
}

// The value of a datetime-local input read as UTC, in seconds; 0 when empty.
function inputSeconds(input) {
  return input.value ? Math.floor(Date.parse(`${input.value}Z`) / 1000) : 0;
}

// Sets a datetime-local input to a device time.
function setInputSeconds(input, seconds) {
  input.value = new Date(seconds * 1000).toISOString().slice(0, 19);
}
