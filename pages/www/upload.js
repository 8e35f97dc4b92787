// upload.js - the upload page: sends the file with progress (first the
// bytes the browser has sent, then the device's own count while the service
// takes the pieces), cancels on the device, and keeps the device's upload
// status in view.
'use strict';

const STATUS_MS = 250;
const STATES = ['free', 'claimed', 'refused', 'accepted'];
const RESULTS = {
  done: (a) => `Upload complete: the device received ${a.received} of ${a.total} bytes.`,
  busy: () => 'Refused: another upload is in progress on the device. Try again when it has ended.',
  refused: () => 'The device refused the upload.',
  no_answer: () => 'The device did not answer within a second.',
  cancelled: (a) => `Upload cancelled after ${a.handed} bytes.`,
  not_taken: (a) => `The device stopped taking the file after ${a.handed} bytes; upload cancelled.`,
  bad_body: () => 'The upload did not arrive as one file; nothing was kept.',
  no_file: () => 'No file arrived.',
};

let xhr = null;          // the upload on its way
let devicePhase = false; // the browser has sent everything; the device is taking it
const sentEvents = [];   // bytes sent at each progress event, for the record

function showProgress(done, total, phase) {
  $('upload-progress').value = total ? Math.floor((100 * done) / total) : 0;
  showText('upload-phase', `${phase}: ${done} of ${total} bytes`);
}

function showDevice(s) {
  const text = `${STATES[s.status] || s.status}, received ${s.received} of ${s.total} bytes` +
    (s.cancel ? ', cancel asked' : '');
  $('device-status').dataset.status = s.status;
  $('device-status').dataset.received = s.received;
  showText('device-status', text);
  if (devicePhase && s.status === 3) showProgress(s.received, s.total, 'Device');
}

function finish(state, text) {
  xhr = null;
  devicePhase = false;
  document.body.dataset.upload = state;
  document.body.dataset.sentEvents = sentEvents.length;
  showText('upload-note', text);
}

function send(event) {
  event.preventDefault();
  const file = $('file').files[0];
  if (!file || xhr) return;
  sentEvents.length = 0;
  const body = new FormData();
  body.append('file', file);
  xhr = new XMLHttpRequest();
  xhr.open('POST', 'upload.cgi');
  xhr.responseType = 'json';
  xhr.upload.onprogress = (e) => {
    sentEvents.push(e.loaded);
    showProgress(e.loaded, e.total, 'Sent');
  };
  xhr.upload.onload = () => { devicePhase = true; };
  xhr.onload = () => {
    const a = xhr.response;
    if (a && RESULTS[a.result]) {
      if (a.result === 'done') showProgress(a.received, a.total, 'Device');
      finish(a.result, RESULTS[a.result](a));
    } else {
      finish('error', `The upload failed (HTTP ${xhr.status}).`);
    }
  };
  xhr.onerror = () => finish('error', 'The connection broke during the upload.');
  document.body.dataset.upload = 'sending';
  showText('upload-note', '');
  xhr.send(body);
}

// Cancels on the device whatever upload it runs, and this page's own
// upload if it is still on its way.
async function cancel() {
  if (xhr && !devicePhase) {
    xhr.onload = null;
    xhr.abort();
    finish('cancelled', 'Upload cancelled before the device got it.');
  }
  await askDevice('upload.cgi', { do: 'cancel' }, 'POST');
  if (!xhr) showText('upload-note', 'Asked the device to cancel its upload.');
}

$('upload-form').addEventListener('submit', send);
$('cancel').addEventListener('click', () => cancel().catch(showError));
poll(async () => {
  showDevice(await askDevice('upload.cgi', { do: 'status' }));
  return true;
}, STATUS_MS);
