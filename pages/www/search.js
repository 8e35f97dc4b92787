// search.js - the search page: the motion-area grid, the filters of the
// chosen kind, and a search that polls search.cgi for results (more=1) with
// the connection id and the same filters until it ends or is cancelled.
'use strict';

const KINDS = ['continuous', 'motion', 'alarm']; // bits 0..2 of a recording's kind
const POLL_MS = 300;
const GRID_ROWS = 16;

const form = $('search-form');
// The search on the page: its connection id, filters and results so far.
const search = { conn: 0, fields: null, have: 0, live: false, stop: null, pending: null };

// The motion-area grid: 16 x 16 cells, all chosen at first.
function buildGrid() {
  for (let i = 0; i < GRID_ROWS * 16; i++) {
    const cell = document.createElement('span');
    cell.className = 'on';
    cell.addEventListener('click', () => cell.classList.toggle('on'));
    $('grid').appendChild(cell);
  }
}

// The grid as 16 rows of 4 hex digits, bit c of a row for column c.
function gridText() {
  const cells = $('grid').children;
  let text = '';
  for (let r = 0; r < GRID_ROWS; r++) {
    let row = 0;
    for (let c = 0; c < 16; c++) if (cells[r * 16 + c].classList.contains('on')) row |= 1 << c;
    text += row.toString(16).padStart(4, '0');
  }
  return text;
}

// Shows only the fieldsets of the chosen kind.
function showKind() {
  for (const set of form.querySelectorAll('fieldset[data-kind]')) {
    set.hidden = set.dataset.kind !== form.kind.value;
  }
}

function cameras(map) {
  const list = [];
  for (let i = 0; i < 20; i++) if (map & (1 << i)) list.push(i + 1);
  return list.join(', ');
}

function kinds(flags) {
  return KINDS.filter((_, i) => flags & (1 << i)).join(', ');
}

function addRow(r) {
  const tr = $('results').tBodies[0].insertRow();
  tr.dataset.start = r.start;
  tr.dataset.cams = r.cams;
  for (const text of [r.n + 1, cameras(r.cams), kinds(r.kind), deviceTime(r.start),
    deviceTime(r.end)]) tr.insertCell().textContent = text;
  const cell = tr.insertCell();
  if (r.id) {
    const a = document.createElement('a');
    a.href = `zelbrowser.cgi?id=${encodeURIComponent(r.id)}`;
    a.textContent = 'Play';
    cell.appendChild(a);
  }
}

const MESSAGES = {
  running: (n) => `Searching... ${n} found so far.`,
  done: (n) => (n ? `Search complete: ${n} recording(s) found.` : 'No recording matches this search.'),
  full: () => 'All search sessions of the device are in use; try again in a minute.',
  unavailable: () => 'The device service offers no search now.',
};

// Ends the search on the page; `state` is left on the body for tests and styles.
function finish(state, text) {
  search.live = false;
  $('cancel').disabled = true;
  document.body.dataset.search = state;
  showText('search-note', text);
}

// One request of the search; true while the device is still searching.
async function visit(more) {
  const fields = new URLSearchParams(search.fields);
  const visitFields = { do: 'search', more: more ? 1 : 0, conn: search.conn, have: search.have };
  for (const [k, v] of Object.entries(visitFields)) fields.set(k, v);
  search.pending = askDevice('search.cgi', fields);
  const answer = await search.pending;
  search.conn = answer.conn; // a search cancelled meanwhile needs it to be cancelled
  if (!search.live) return false;
  for (const r of answer.results) addRow(r);
  search.have += answer.results.length;
  $('search-progress').value = answer.state === 'done' ? 100 : answer.progress;
  if (answer.state === 'running') {
    showText('search-note', MESSAGES.running(search.have));
    return true;
  }
  finish(answer.state, MESSAGES[answer.state](search.have));
  return false;
}

function start(event) {
  event.preventDefault();
  if (search.stop) search.stop();
  form.grid.value = gridText();
  search.fields = new URLSearchParams(new FormData(form));
  search.fields.set('from', inputSeconds($('from')));
  search.fields.set('to', inputSeconds($('to')));
  search.have = 0;
  search.live = true;
  $('results').tBodies[0].textContent = '';
  $('cancel').disabled = false;
  document.body.dataset.search = 'running';
  let more = false;
  search.stop = poll(() => { const again = visit(more); more = true; return again; }, POLL_MS);
}

// Stops polling, waits for the visit on its way (the first one brings the
// connection id), then cancels the search on the device.
async function cancel() {
  if (!search.live) return;
  search.stop();
  finish('cancelling', 'Cancelling...');
  await search.pending.catch(() => null);
  const answer = await askDevice('search.cgi', { do: 'cancel', conn: search.conn }, 'POST');
  finish('cancelled', answer.found ? `Search cancelled: ${search.have} recording(s) shown.`
    : `The device had already ended the search: ${search.have} recording(s) shown.`);
}

buildGrid();
form.kind.addEventListener('change', showKind);
form.addEventListener('submit', start);
$('cancel').addEventListener('click', () => cancel().catch(showError));
setInputSeconds($('from'), Math.floor(Date.now() / 1000) - 86400);
showKind();
