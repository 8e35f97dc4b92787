// diskmap.js - the disk map page: asks diskmap.cgi for the map of its slot
// (keeping the connection id), draws one SVG cell per map entry coloured by
// its flag, shows the column's time on hover, and offers the operations and
// zoom levels of the disk-analysis session.
'use strict';

const COLS = 36;
const ROWS = 20;
const CELL_W = 24;
const CELL_H = 14;
const LABEL_W = 40;
const SVG_NS = 'http://www.w3.org/2000/svg';
// Colours of the flag values; any other value is shown as "other".
const FLAG_COLOURS = { 0: '#303030', 1: '#3c8c3c' };
const FLAG_NAMES = { 0: 'nothing recorded', 1: 'recorded' };
const OTHER_COLOUR = '#c08030';

let conn = 0;
let map = null;

function svgElement(name, attrs) {
  const el = document.createElementNS(SVG_NS, name);
  for (const [k, v] of Object.entries(attrs)) el.setAttribute(k, v);
  return el;
}

function colour(flag) { return FLAG_COLOURS[flag] || OTHER_COLOUR; }

// The time span a column covers: from its stamp to the next column's.
function columnTime(c) {
  const to = c + 1 < COLS ? deviceTime(map.timestamp[c + 1]) : 'end of window';
  return `${deviceTime(map.timestamp[c])} .. ${to} UTC`;
}

function hover(r, c) {
  showText('map-hover', `camera ${r + 1}, column ${c + 1}: ${columnTime(c)}, ` +
    `flag ${map.flag[r][c]} (${FLAG_NAMES[map.flag[r][c]] || 'other'})`);
}

function draw() {
  const svg = $('map');
  svg.textContent = '';
  svg.setAttribute('viewBox', `0 0 ${LABEL_W + COLS * CELL_W} ${ROWS * CELL_H}`);
  for (let r = 0; r < ROWS; r++) {
    const label = svgElement('text', { x: 2, y: r * CELL_H + CELL_H - 3, fill: '#999999',
      'font-size': 10 });
    label.textContent = `cam ${r + 1}`;
    svg.appendChild(label);
    for (let c = 0; c < COLS; c++) {
      const cell = svgElement('rect', { x: LABEL_W + c * CELL_W, y: r * CELL_H,
        width: CELL_W - 1, height: CELL_H - 1, fill: colour(map.flag[r][c]),
        class: map.last ? 'cell' : 'cell col', 'data-row': r, 'data-col': c,
        'data-flag': map.flag[r][c] });
      const title = svgElement('title', {});
      title.textContent = `camera ${r + 1}: ${columnTime(c)}`;
      cell.appendChild(title);
      cell.addEventListener('mouseenter', () => hover(r, c));
      if (!map.last) cell.addEventListener('click', () => zoomInto(c));
      svg.appendChild(cell);
    }
  }
}

function zoomInto(column) {
  request({ zoom: $('zoom').value, target: column }).catch(showError);
}

function legend() {
  const box = $('legend');
  box.textContent = '';
  const values = new Set([0, 1, ...map.flag.flat()]);
  for (const v of [...values].sort((a, b) => a - b)) {
    const item = document.createElement('span');
    const swatch = document.createElement('i');
    swatch.style.background = colour(v);
    item.append(swatch, `${v}: ${FLAG_NAMES[v] || 'other flag'}`);
    box.appendChild(item);
  }
}

// One map request: an operation (op) or a zoom into a column.
async function request(fields) {
  const answer = await askDevice('diskmap.cgi', { do: 'map', conn, op: 0, zoom: 0, ...fields });
  if (answer.error) {
    showText('map-note', answer.error);
    return;
  }
  conn = answer.conn;
  map = answer;
  const svg = $('map');
  svg.dataset.conn = conn;
  svg.dataset.level = map.level;
  showText('map-info', `level ${map.level}${map.last ? ' (deepest)' : ''}, blocks ` +
    `${map.logical_block[0]} .. ${map.logical_block[COLS]} of ${map.max_blocks}, ` +
    `${deviceTime(map.timestamp[0])} .. ${deviceTime(map.timestamp[COLS - 1])} UTC`);
  showText('map-note', map.last ? 'Deepest level: one block per column.' : '');
  draw();
  legend();
}

for (const button of document.querySelectorAll('#map-controls button')) {
  button.addEventListener('click', () => request({ op: button.dataset.op }).catch(showError));
}
request({}).catch(showError);
