// system.js - the system page: DHCP data and lease dates of the device, its
// clock (polled every second), and setting it from the browser's clock.
'use strict';

const DHCP_ROWS = [['ip_addr', 'Address'], ['subnet_mask', 'Subnet mask'],
  ['gateway', 'Gateway'], ['primary_dns', 'Primary DNS'], ['secondary_dns', 'Secondary DNS']];

function row(table, label, value) {
  const tr = table.insertRow();
  tr.insertCell().textContent = label;
  tr.insertCell().textContent = value;
}

async function showInfo() {
  const info = await askDevice('system.cgi', { do: 'info' });
  const table = $('dhcp');
  table.textContent = '';
  if (info.dhcp.answered) {
    for (const [key, label] of DHCP_ROWS) row(table, label, info.dhcp[key]);
  }
  if (info.lease.answered) {
    row(table, 'Lease updated', `${deviceTime(info.lease.updated)} UTC`);
    row(table, 'Lease expires', `${deviceTime(info.lease.expires)} UTC`);
  }
  showText('dhcp-note', info.dhcp.answered && info.lease.answered ? ''
    : 'The device did not answer every DHCP request within a second.');
  showClock(info.clock);
}

function showClock(seconds) {
  const clock = $('device-clock');
  clock.dataset.seconds = seconds;
  clock.textContent = deviceTime(seconds);
  showText('browser-clock', deviceTime(Math.floor(Date.now() / 1000)));
}

async function setClock() {
  const ts = Math.floor(Date.now() / 1000);
  const answer = await askDevice('system.cgi', { do: 'setclock', ts }, 'POST');
  showText('clock-note', answer.sent ? `Asked the device to set its clock to ${deviceTime(ts)} UTC.`
    : 'The request could not be sent to the device.');
}

$('setclock').addEventListener('click', () => setClock().catch(showError));
showInfo().catch(showError);
poll(async () => {
  showClock((await askDevice('system.cgi', { do: 'clock' })).clock);
  return true;
}, 1000);
