// The station's page: a snapshot and then every change as it happens, from /api/events.
// Nothing here asks the server again on a timer; the records are read when a box's
// attempt ends and when the operator searches.
'use strict';

const $ = (id) => document.getElementById(id);
let control = false;

function cell(row, text, className) {
  const td = row.insertCell();
  td.textContent = text;
  if (className) td.className = className;
  return td;
}

function unitRow(unit) {
  let row = document.getElementById('unit-' + unit.unit);
  if (!row) {
    row = $('units').tBodies[0].insertRow();
    row.id = 'unit-' + unit.unit;
  }
  row.textContent = '';
  row.dataset.state = unit.state;
  row.dataset.result = unit.result;
  cell(row, unit.unit);
  // A long device path shows its end, as the station's table on a terminal does.
  const port = cell(row, unit.port.length > 22 ? '...' + unit.port.slice(-19) : unit.port, 'port');
  port.title = unit.port;
  cell(row, unit.box, 'box');
  cell(row, unit.mac || '-', 'mac');
  cell(row, unit.text, 'step');
  const done = document.createElement('div');
  done.className = 'done';
  cell(row, '').appendChild(done);
  const bar = document.createElement('div');
  bar.className = 'bar';
  const fill = document.createElement('div');
  fill.style.width = Math.max(0, Math.min(100, unit.percent)) + '%';
  bar.appendChild(fill);
  done.appendChild(bar);
  const percent = document.createElement('span');
  percent.className = 'percent';
  percent.textContent = unit.percent + '%';
  done.appendChild(percent);
  cell(row, unit.state, 'state state-' + unit.state);
  const result = cell(row, '', 'result');
  if (unit.result) {
    const lamp = document.createElement('span');
    lamp.className = 'lamp ' + unit.result;
    lamp.textContent = unit.result;
    result.appendChild(lamp);
  }
  cell(row, unit.passed, 'passed');
  cell(row, unit.failed, 'failed');
  if (control) {
    const buttons = cell(row, '', 'control-column');
    for (const action of ['start', 'stop']) {
      const button = document.createElement('button');
      button.type = 'button';
      button.textContent = action === 'start' ? 'Start' : 'Stop';
      button.addEventListener('click', () => command('/api/units/' + unit.unit + '/' + action));
      buttons.appendChild(button);
    }
  }
}

function totals(t) {
  $('passed').textContent = t.passed;
  $('failed').textContent = t.failed;
  $('per-hour').textContent = t.per_hour;
}

async function command(path) {
  const response = await fetch(path, {
    method: 'POST',
    headers: {Authorization: 'Bearer ' + $('token').value},
  });
  const answer = await response.json().catch(() => ({}));
  $('statusbar').textContent = response.ok ? 'Sent: ' + path : answer.error || response.statusText;
}

function recordsQuery() {
  const query = new URLSearchParams();
  if ($('mac').value.trim()) query.set('mac', $('mac').value.trim());
  if ($('since').value.trim()) query.set('since', $('since').value.trim());
  return query;
}

async function loadRecords() {
  const query = recordsQuery();
  $('csv').href = '/records.csv' + (query.toString() ? '?' + query : '');
  query.set('limit', '50');
  const response = await fetch('/api/records?' + query);
  const answer = await response.json().catch(() => ({}));
  const body = $('records').tBodies[0];
  body.textContent = '';
  if (!response.ok) {
    $('records-note').textContent = answer.error || response.statusText;
    return;
  }
  const records = answer.records.reverse();
  $('records-note').textContent =
    records.length === 0 ? 'no boxes found' : records.length === 1 ? 'one box' : 'the last ' + records.length + ' boxes';
  for (const r of records) {
    const row = body.insertRow();
    row.dataset.mac = r.mac;
    cell(row, r.started.replace('T', ' ').replace('Z', ''));
    cell(row, r.port);
    cell(row, r.box);
    cell(row, r.mac || '-', 'mac');
    cell(row, r.image);
    cell(row, r.result, 'result-' + r.result);
    cell(row, r.failed_step);
    cell(row, r.box_code);
  }
}

function snapshot(s) {
  control = s.control;
  $('title').textContent = 'ZeVavi station ' + s.station;
  document.title = 'ZeVavi station ' + s.station;
  $('started').textContent = s.started.replace('T', ' ').replace(/\.\d+Z$/, ' UTC');
  $('controls').hidden = !control;
  document.querySelector('.control-column').hidden = !control;
  $('statusbar').textContent = control ? 'Units may be started and stopped with the token' : 'Read-only';
  $('units').tBodies[0].textContent = '';
  s.units.forEach(unitRow);
  totals(s.totals);
  $('records-box').hidden = !s.records;
  if (s.records) loadRecords();
}

function follow() {
  const events = new EventSource('/api/events');
  events.addEventListener('snapshot', (e) => snapshot(JSON.parse(e.data)));
  events.addEventListener('unit', (e) => {
    const change = JSON.parse(e.data);
    const before = document.getElementById('unit-' + change.unit.unit);
    const ended = before && before.dataset.result !== change.unit.result && change.unit.result;
    unitRow(change.unit);
    totals(change.totals);
    if (ended && !$('records-box').hidden) loadRecords();
  });
  events.onopen = () => { $('link').textContent = 'live'; };
  // The browser reconnects by itself; the snapshot then brings the page up to date.
  events.onerror = () => { $('link').textContent = 'reconnecting…'; };
}

document.addEventListener('DOMContentLoaded', () => {
  $('search').addEventListener('submit', (e) => {
    e.preventDefault();
    loadRecords();
  });
  $('stop-all').addEventListener('click', () => command('/api/stop'));
  follow();
});
