'use strict';
// rook's HTML report: a chart of events per day over the records' target and
// MRU times, and the records as a table that sorts, filters and opens each
// record's text report. Every text from the evidence reaches the page through
// textContent, never as markup.
(function () {
  const F = { source: 0, type: 1, target: 2, modified: 3, accessed: 4, created: 5, mru: 6, mruPosition: 7,
    appId: 8, label: 9, serial: 10, machine: 11, mac: 12, mftEntry: 13, offset: 14, events: 15, anomalies: 16,
    volumePath: 17, deleted: 18, pinned: 19, accessCount: 20 };
  const TARGET = 1, MRU = 2;
  const DAY_MS = 86400000;
  const ROW_HEIGHT = 22;
  const EXTRA_ROWS = 8;

  const byId = (id) => document.getElementById(id);
  const run = JSON.parse(byId('rook-run').textContent);
  const rows = JSON.parse(byId('rook-records').textContent);
  // A text written as 0 is the row above's; as [n, rest], its first n
  // characters and the rest.
  const TEXT_FIELDS = [F.source, F.type, F.target, F.appId, F.label, F.serial, F.machine, F.mac, F.volumePath];
  for (let r = 1; r < rows.length; r++) {
    const row = rows[r], above = rows[r - 1];
    for (const field of TEXT_FIELDS) {
      const value = row[field];
      if (value === 0) row[field] = above[field];
      else if (typeof value === 'object') row[field] = above[field].slice(0, value[0]) + value[1];
    }
  }
  performance.mark('rows-parsed');
  byId('loading').remove();
  byId('run-notes').textContent = 'Times are UTC. ANSI texts are decoded with code page ' + run.code_page + '.';
  if (rows.length !== run.records) {
    const warning = byId('incomplete');
    warning.textContent = 'This report holds ' + rows.length + ' of the ' + run.records +
      ' records the run wrote: the file is incomplete.';
    warning.hidden = false;
  }

  // ---- cell texts --------------------------------------------------------
  const hexWidth = (v) => Math.max(8, v.toString(16).length);
  const numberText = (v) => (v === '' ? '' : run.sizes_in_hex ? '0x' + v.toString(16).padStart(hexWidth(v), '0') : String(v));
  const timeText = (v) => (v ? v.slice(0, 10) + ' ' + v.slice(11, 19) : '');
  const dayText = (day) => new Date(day * DAY_MS).toISOString().slice(0, 10);

  const COLUMNS = [
    { title: '#', width: 64, kind: 'index' },
    // A file found in a volume is shown by its path there, not the image's.
    { title: 'Source', width: 300, field: F.source, kind: 'tail',
      text: (row) => (row[F.volumePath] ? row[F.volumePath] + (row[F.deleted] ? ' (deleted)' : '') : row[F.source]) },
    { title: 'Source type', width: 180, field: F.type },
    { title: 'Target', width: 360, field: F.target },
    { title: 'Target modified', width: 165, field: F.modified, kind: 'time' },
    { title: 'Target accessed', width: 165, field: F.accessed, kind: 'time' },
    { title: 'Target created', width: 165, field: F.created, kind: 'time' },
    { title: 'MRU time', width: 165, field: F.mru, kind: 'time' },
    { title: 'MRU #', width: 64, field: F.mruPosition, kind: 'count' },
    { title: 'Pinned', width: 120, field: F.pinned },
    { title: 'Access count', width: 100, field: F.accessCount, kind: 'count' },
    { title: 'AppID', width: 200, field: F.appId },
    { title: 'Volume label', width: 120, field: F.label },
    { title: 'Volume serial', width: 110, field: F.serial },
    { title: 'Machine', width: 110, field: F.machine },
    { title: 'MAC address', width: 130, field: F.mac },
    { title: 'MFT entry', width: 100, field: F.mftEntry, kind: 'number' },
    { title: 'Offset', width: 110, field: F.offset, kind: 'number' },
    { title: 'Anomalies', width: 260, field: F.anomalies },
  ];
  // Controls and bidirectional marks from the evidence are shown as escapes
  // (as the text report writes them): "invoice\u{202e}fdp.exe" cannot pass
  // for a PDF.
  const HIDDEN = /[\u0000-\u001f\u007f-\u009f\u061c\u200e\u200f\u202a-\u202e\u2066-\u2069]/g;
  const visible = (text) => text.replace(HIDDEN, (c) => {
    const code = c.charCodeAt(0);
    return code < 0x100 ? '\\x{' + code.toString(16).padStart(2, '0') + '}' : '\\u{' + code.toString(16) + '}';
  });
  function cellText(column, record) {
    if (column.kind === 'index') return String(record + 1);
    const value = column.text ? column.text(rows[record]) : rows[record][column.field];
    if (column.kind === 'time') return timeText(value);
    if (column.kind === 'number') return numberText(value);
    return visible(String(value));
  }

  // ---- event days for the chart ------------------------------------------
  let targetCount = 0, mruCount = 0, firstDay = Infinity, lastDay = -Infinity;
  for (const row of rows) {
    const events = row[F.events];
    for (let k = 0; k < events.length; k += 2) {
      if (events[k + 1] & TARGET) targetCount++;
      if (events[k + 1] & MRU) mruCount++;
      if (events[k] < firstDay) firstDay = events[k];
      if (events[k] > lastDay) lastDay = events[k];
    }
  }
  const targetDays = new Int32Array(targetCount), mruDays = new Int32Array(mruCount);
  targetCount = mruCount = 0;
  for (const row of rows) {
    const events = row[F.events];
    for (let k = 0; k < events.length; k += 2) {
      if (events[k + 1] & TARGET) targetDays[targetCount++] = events[k];
      if (events[k + 1] & MRU) mruDays[mruCount++] = events[k];
    }
  }
  targetDays.sort();
  mruDays.sort();
  const haveEvents = targetDays.length + mruDays.length > 0;
  const whole = haveEvents ? { from: firstDay, to: lastDay } : { from: 0, to: 0 };
  let range = { from: whole.from, to: whole.to };
  const zoomed = () => range.from !== whole.from || range.to !== whole.to;

  function lowerBound(days, day) {
    let low = 0, high = days.length;
    while (low < high) {
      const middle = (low + high) >>> 1;
      if (days[middle] < day) low = middle + 1;
      else high = middle;
    }
    return low;
  }

  // ---- chart ---------------------------------------------------------------
  const chartBox = byId('chart-box'), canvas = byId('chart'), pick = byId('chart-pick'), tip = byId('chart-tip');
  const fromInput = byId('range-from'), toInput = byId('range-to');
  const plot = { left: 56, right: 12, top: 12, bottom: 26, width: 0, bins: 0, binDays: 1, barWidth: 1 };
  let targetBins = new Uint32Array(0), mruBins = new Uint32Array(0);

  function countBins(days) {
    const counts = new Uint32Array(plot.bins);
    for (let i = lowerBound(days, range.from); i < days.length && days[i] <= range.to; i++)
      counts[((days[i] - range.from) / plot.binDays) | 0]++;
    return counts;
  }

  function drawChart() {
    const width = chartBox.clientWidth, height = chartBox.clientHeight;
    const scale = window.devicePixelRatio || 1;
    canvas.width = Math.max(1, Math.round(width * scale));
    canvas.height = Math.max(1, Math.round(height * scale));
    const g = canvas.getContext('2d');
    g.setTransform(scale, 0, 0, scale, 0, 0);
    g.clearRect(0, 0, width, height);
    g.font = '11px system-ui, sans-serif';
    g.fillStyle = '#5b6573';
    if (!haveEvents) {
      g.fillText('No record has a valid target or MRU time.', plot.left, height / 2);
      plot.bins = 0;
      return;
    }
    plot.width = Math.max(10, width - plot.left - plot.right);
    const plotHeight = height - plot.top - plot.bottom;
    const days = range.to - range.from + 1;
    plot.binDays = Math.max(1, Math.ceil(days / Math.max(1, Math.floor(plot.width / 3))));
    plot.bins = Math.ceil(days / plot.binDays);
    plot.barWidth = plot.width / plot.bins;
    targetBins = countBins(targetDays);
    mruBins = countBins(mruDays);
    let highest = 1;
    for (let i = 0; i < plot.bins; i++) highest = Math.max(highest, targetBins[i] + mruBins[i]);
    const gap = plot.barWidth > 4 ? 1 : 0;
    const style = getComputedStyle(document.documentElement);
    const colours = [style.getPropertyValue('--target') || '#3465a4', style.getPropertyValue('--mru') || '#e07b10'];
    const base = plot.top + plotHeight;
    for (let i = 0; i < plot.bins; i++) {
      const x = plot.left + i * plot.barWidth;
      const targetHeight = (targetBins[i] / highest) * plotHeight;
      const mruHeight = (mruBins[i] / highest) * plotHeight;
      const barWidth = Math.max(1, plot.barWidth - gap);
      if (targetBins[i]) {
        g.fillStyle = colours[0];
        g.fillRect(x, base - Math.max(1, targetHeight), barWidth, Math.max(1, targetHeight));
      }
      if (mruBins[i]) {
        g.fillStyle = colours[1];
        g.fillRect(x, base - targetHeight - Math.max(1, mruHeight), barWidth, Math.max(1, mruHeight));
      }
    }
    g.strokeStyle = '#d5dae1';
    g.beginPath();
    g.moveTo(plot.left, base + 0.5);
    g.lineTo(plot.left + plot.width, base + 0.5);
    g.stroke();
    g.fillStyle = '#5b6573';
    g.textAlign = 'right';
    g.fillText(String(highest), plot.left - 6, plot.top + 8);
    g.fillText('0', plot.left - 6, base);
    g.save();
    g.translate(12, plot.top + plotHeight / 2);
    g.rotate(-Math.PI / 2);
    g.textAlign = 'center';
    g.fillText(plot.binDays === 1 ? 'events per day' : 'events per ' + plot.binDays + ' days', 0, 0);
    g.restore();
    const labels = Math.max(2, Math.floor(plot.width / 120));
    const step = Math.max(1, Math.round(plot.bins / labels));
    g.textAlign = 'left';
    for (let bin = 0; bin < plot.bins; bin += step) {
      const x = plot.left + bin * plot.barWidth;
      if (x + 150 > plot.left + plot.width) break;  // clear of the last day, drawn at the right end
      g.fillText(dayText(range.from + bin * plot.binDays), x, base + 15);
    }
    g.textAlign = 'right';
    g.fillText(dayText(range.to), plot.left + plot.width, base + 15);
  }

  function binAt(clientX) {
    const x = clientX - canvas.getBoundingClientRect().left - plot.left;
    return Math.min(plot.bins - 1, Math.max(0, Math.floor(x / plot.barWidth)));
  }
  const binFirstDay = (bin) => range.from + bin * plot.binDays;
  const binLastDay = (bin) => Math.min(range.to, binFirstDay(bin) + plot.binDays - 1);

  function setRange(from, to) {
    from = Math.max(whole.from, Math.min(from, whole.to));
    to = Math.max(from, Math.min(to, whole.to));
    range = { from, to };
    fromInput.value = dayText(from);
    toInput.value = dayText(to);
    byId('range-reset').disabled = !zoomed();
    drawChart();
    refresh();
  }

  let dragStart = null;
  canvas.addEventListener('mousedown', (event) => {
    if (!plot.bins || event.button !== 0) return;
    dragStart = event.clientX;
    event.preventDefault();
  });
  document.addEventListener('mousemove', (event) => {
    if (dragStart === null) return;
    const box = chartBox.getBoundingClientRect();
    const a = Math.max(box.left, Math.min(dragStart, event.clientX));
    const b = Math.min(box.right, Math.max(dragStart, event.clientX));
    pick.style.left = a - box.left + 'px';
    pick.style.width = b - a + 'px';
    pick.style.display = 'block';
  });
  document.addEventListener('mouseup', (event) => {
    if (dragStart === null) return;
    const first = binAt(Math.min(dragStart, event.clientX)), last = binAt(Math.max(dragStart, event.clientX));
    dragStart = null;
    pick.style.display = 'none';
    // A click narrows to the bin under the pointer, a drag to the bins it crossed.
    setRange(binFirstDay(first), binLastDay(last));
  });
  canvas.addEventListener('mousemove', (event) => {
    if (!plot.bins) return;
    const bin = binAt(event.clientX);
    const from = binFirstDay(bin), to = binLastDay(bin);
    tip.textContent = (from === to ? dayText(from) : dayText(from) + ' to ' + dayText(to)) + ': ' +
      targetBins[bin] + ' target, ' + mruBins[bin] + ' MRU';
    tip.style.left = Math.min(chartBox.clientWidth - 220, Math.max(0, event.clientX - chartBox.getBoundingClientRect().left + 12)) + 'px';
    tip.style.display = 'block';
  });
  canvas.addEventListener('mouseleave', () => { tip.style.display = 'none'; });
  const dayOfInput = (input) => Math.floor(Date.parse(input.value + 'T00:00:00Z') / DAY_MS);
  fromInput.addEventListener('change', () => { if (fromInput.value) setRange(dayOfInput(fromInput), range.to); });
  toInput.addEventListener('change', () => { if (toInput.value) setRange(range.from, dayOfInput(toInput)); });
  byId('range-reset').addEventListener('click', () => setRange(whole.from, whole.to));

  // ---- table ---------------------------------------------------------------
  const table = byId('grid'), scroller = byId('grid-scroll'), body = table.tBodies[0];
  const countText = byId('record-count'), filterInput = byId('filter');
  let shown = [];
  let sortColumn = -1, sortAscending = true;
  let haystacks = null;

  const headerRow = table.tHead.rows[0];
  const colgroup = table.querySelector('colgroup');
  // Fixed column widths: a long path is cut with an ellipsis (its cell's
  // title holds it whole) instead of widening the table.
  table.style.width = COLUMNS.reduce((sum, column) => sum + column.width, 0) + 'px';
  COLUMNS.forEach((column, index) => {
    const col = document.createElement('col');
    col.style.width = column.width + 'px';
    colgroup.appendChild(col);
    const th = document.createElement('th');
    th.textContent = column.title;
    th.scope = 'col';
    th.dataset.column = String(index);
    th.title = 'Sort by ' + column.title;
    th.addEventListener('click', () => sortBy(index));
    headerRow.appendChild(th);
  });

  function matchesRange(record) {
    if (!zoomed()) return true;
    const events = rows[record][F.events];
    for (let k = 0; k < events.length; k += 2)
      if (events[k] >= range.from && events[k] <= range.to) return true;
    return false;
  }

  function matchesText(record, terms) {
    if (!terms.length) return true;
    if (!haystacks) {
      haystacks = new Array(rows.length);
      for (let r = 0; r < rows.length; r++)
        haystacks[r] = COLUMNS.map((column) => cellText(column, r)).join('\u0001').toLowerCase();
    }
    const text = haystacks[record];
    return terms.every((term) => text.includes(term));
  }

  function compareRecords(column) {
    if (column.kind === 'index') return (a, b) => (sortAscending ? a - b : b - a);
    const field = column.field;
    const numeric = column.kind === 'number' || column.kind === 'count';
    const valueOf = column.text || ((row) => row[field]);
    return (a, b) => {
      const x = valueOf(rows[a]), y = valueOf(rows[b]);
      // Empty cells stay last in either direction.
      if (x === '' || y === '') return (x === '') - (y === '') || a - b;
      const order = numeric ? x - y : x < y ? -1 : x > y ? 1 : 0;
      return (sortAscending ? order : -order) || a - b;
    };
  }

  function sortShown() {
    if (sortColumn < 0) return;
    shown.sort(compareRecords(COLUMNS[sortColumn]));
  }

  function sortBy(index) {
    sortAscending = sortColumn === index ? !sortAscending : true;
    sortColumn = index;
    for (const th of headerRow.cells)
      th.setAttribute('aria-sort', Number(th.dataset.column) === index ? (sortAscending ? 'ascending' : 'descending') : 'none');
    sortShown();
    scroller.scrollTop = 0;
    renderRows();
  }

  function refresh() {
    const terms = filterInput.value.toLowerCase().split(/\s+/).filter(Boolean);
    shown = [];
    for (let r = 0; r < rows.length; r++)
      if (matchesRange(r) && matchesText(r, terms)) shown.push(r);
    sortShown();
    table.setAttribute('aria-rowcount', String(shown.length + 1));
    countText.textContent = shown.length === rows.length
      ? rows.length + ' records'
      : shown.length + ' of ' + rows.length + ' records' +
        (zoomed() ? ' (times from ' + dayText(range.from) + ' to ' + dayText(range.to) + ')' : '');
    scroller.scrollTop = 0;
    renderRows();
  }

  const topSpacer = document.createElement('tr'), bottomSpacer = document.createElement('tr');
  for (const spacer of [topSpacer, bottomSpacer]) {
    spacer.className = 'spacer';
    spacer.setAttribute('aria-hidden', 'true');
    const td = document.createElement('td');
    td.colSpan = COLUMNS.length;
    spacer.appendChild(td);
  }
  body.appendChild(topSpacer);
  body.appendChild(bottomSpacer);
  const pool = [];

  function rowElement(slot) {
    while (pool.length <= slot) {
      const tr = document.createElement('tr');
      tr.className = 'record';
      tr.tabIndex = 0;
      for (const column of COLUMNS) {
        const td = document.createElement('td');
        if (column.kind === 'index' || column.kind === 'number' || column.kind === 'count') td.className = 'number';
        else if (column.kind === 'time') td.className = 'time';
        else if (column.kind === 'tail') {
          td.className = 'tail';
          td.appendChild(document.createElement('bdi'));
        }
        tr.appendChild(td);
      }
      body.insertBefore(tr, bottomSpacer);
      pool.push(tr);
    }
    return pool[slot];
  }

  function setSpacer(spacer, rowCount) {
    spacer.hidden = rowCount === 0;
    spacer.cells[0].style.height = rowCount * ROW_HEIGHT + 'px';
  }

  function renderRows() {
    const header = table.tHead.offsetHeight;
    const first = Math.max(0, Math.floor((scroller.scrollTop - header) / ROW_HEIGHT) - EXTRA_ROWS);
    const wanted = Math.ceil(scroller.clientHeight / ROW_HEIGHT) + 2 * EXTRA_ROWS;
    const last = Math.min(shown.length, first + wanted);
    setSpacer(topSpacer, first);
    setSpacer(bottomSpacer, shown.length - last);
    for (let slot = 0; slot < Math.max(wanted, pool.length); slot++) {
      const position = first + slot;
      const tr = rowElement(slot);
      if (position >= last) {
        tr.hidden = true;
        continue;
      }
      const record = shown[position];
      tr.hidden = false;
      tr.dataset.record = String(record);
      tr.setAttribute('aria-rowindex', String(position + 2));
      for (let c = 0; c < COLUMNS.length; c++) {
        const text = cellText(COLUMNS[c], record);
        const td = tr.cells[c];
        const holder = COLUMNS[c].kind === 'tail' ? td.firstChild : td;
        if (holder.textContent !== text) holder.textContent = text;
        if (COLUMNS[c].kind === undefined || COLUMNS[c].kind === 'tail') td.title = text;
      }
    }
  }

  let scrollQueued = false;
  scroller.addEventListener('scroll', () => {
    if (scrollQueued) return;
    scrollQueued = true;
    requestAnimationFrame(() => {
      scrollQueued = false;
      renderRows();
    });
  });
  let filterTimer = 0;
  filterInput.addEventListener('input', () => {
    clearTimeout(filterTimer);
    filterTimer = setTimeout(refresh, 150);
  });

  // ---- the full text report of a record ------------------------------------
  // The reports follow the script in the page and are read when the first is
  // asked for. Each is an array of its lines: a text is a line met for the
  // first time, which takes the next line number; a number is such a line
  // met again.
  let reports = null;
  function readReports() {
    const lines = [];
    reports = JSON.parse(byId('rook-reports').textContent);
    for (const report of reports)
      for (let k = 0; k < report.length; k++) {
        if (typeof report[k] === 'string') lines.push(report[k]);
        else report[k] = lines[report[k]];
      }
  }
  function reportOf(record) {
    if (reports === null) {
      try {
        readReports();
      } catch (error) {
        reports = [];
      }
    }
    return record < reports.length ? reports[record].join('\n') : '(the report of this record is missing from the file)';
  }
  const dialog = byId('report-dialog');
  let waitingRecord = -1;
  function openReport(record) {
    byId('report-title').textContent = 'Record ' + (record + 1) + ': ' + rows[record][F.target];
    dialog.dataset.record = String(record);
    if (!dialog.open) dialog.showModal();
    if (document.readyState === 'loading') {
      // The reports come after the script in the page and are still arriving.
      byId('report-text').textContent = 'Reading the reports...';
      if (waitingRecord < 0)
        document.addEventListener('DOMContentLoaded', () => openReport(waitingRecord), { once: true });
      waitingRecord = record;
      return;
    }
    byId('report-text').textContent = reportOf(record);
  }
  body.addEventListener('click', (event) => {
    const tr = event.target.closest('tr.record');
    if (tr) openReport(Number(tr.dataset.record));
  });
  body.addEventListener('keydown', (event) => {
    const tr = event.target.closest('tr.record');
    if (tr && event.key === 'Enter') openReport(Number(tr.dataset.record));
  });
  byId('report-close').addEventListener('click', () => dialog.close());

  let resizeQueued = false;
  window.addEventListener('resize', () => {
    if (resizeQueued) return;
    resizeQueued = true;
    requestAnimationFrame(() => {
      resizeQueued = false;
      drawChart();
      renderRows();
    });
  });

  fromInput.disabled = toInput.disabled = !haveEvents;
  fromInput.min = toInput.min = dayText(whole.from);
  fromInput.max = toInput.max = dayText(whole.to);
  byId('event-count').textContent = targetDays.length + ' target and ' + mruDays.length + ' MRU events' +
    (haveEvents ? ' from ' + dayText(whole.from) + ' to ' + dayText(whole.to) : '');
  setRange(whole.from, whole.to);
  performance.mark('rook-ready');
  document.body.dataset.ready = 'true';
})();
