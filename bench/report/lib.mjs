// Figures, tables, CSV and SVG for the benchmark report. Everything here is
// pure: report.mjs does the reading and writing.
//
// Each document holds one engine (tessul in one of its modes, or a peer) on
// one list set: scale 1 is EasyList + EasyPrivacy, scale N adds N - 1
// generated copies of them. The side-by-side table, the ratios and the
// decisions use scale 1; the growth table uses every scale.

export const TESSUL = 'tessul';
// tessul's default matching mode: its documents are named plain "tessul",
// those of any other mode "tessul-MODE", and the ratios are the default's.
export const DEFAULT_MODE = 'exact';
// The peers whose agreement tessul's decisions are held against.
export const CONSENSUS_PEERS = ['ghostery', 'ubo'];

// Nearest-rank percentile of an ascending array: the smallest value such
// that at least p percent of the values are at or below it.
export function percentile(sorted, p) {
  if (!Array.isArray(sorted) || sorted.length === 0) return null;
  if (!(p >= 0 && p <= 100)) throw new RangeError(`percentile out of range: ${p}`);
  const rank = Math.max(1, Math.ceil((p / 100) * sorted.length));
  return sorted[rank - 1];
}

// tessul's figure divided by the peer's; null when either is missing or the
// peer's is zero.
export function ratio(tessulValue, peerValue) {
  if (!isNumber(tessulValue) || !isNumber(peerValue) || peerValue === 0) return null;
  return tessulValue / peerValue;
}

// Number of positions where two decision arrays differ; null when either is
// missing or they are not the same length.
export function countDiffering(a, b) {
  if (!Array.isArray(a) || !Array.isArray(b) || a.length !== b.length) return null;
  let n = 0;
  for (let i = 0; i < a.length; i++) if (a[i] !== b[i]) n++;
  return n;
}

// Where the peers decide alike: the number of such requests, and for each
// of `others` how many of them it decides otherwise (null when its decisions
// are missing or of another length). Null when the peers' are.
export function againstAgreement(peerDecisions, others) {
  const [first, ...rest] = peerDecisions;
  if (!Array.isArray(first) || rest.some((d) => countDiffering(first, d) === null)) return null;
  const agreed = [];
  for (let i = 0; i < first.length; i++) if (rest.every((d) => d[i] === first[i])) agreed.push(i);
  const differ = others.map((d) =>
    Array.isArray(d) && d.length === first.length ? agreed.filter((i) => d[i] !== first[i]).length : null,
  );
  return { agree: agreed.length, differ };
}

function isNumber(x) {
  return typeof x === 'number' && Number.isFinite(x);
}

function numberOrNull(x) {
  return isNumber(x) ? x : null;
}

// The element-hiding queries per page host, by scope ("specific", "all"),
// each with the statistics of a corpus; null when the document has none.
const HIDING_SCOPES = ['specific', 'all'];

function hidingStats(hiding) {
  if (hiding === null || typeof hiding !== 'object') return null;
  const byScope = {};
  for (const scope of HIDING_SCOPES) {
    byScope[scope] = corpusStats({ times_ns: hiding[`${scope}_times_ns`] });
  }
  return { hosts: numberOrNull(hiding.page_hosts), ...byScope };
}

// Per-request statistics of one corpus of one document.
export function corpusStats(corpus) {
  if (corpus === null || typeof corpus !== 'object') corpus = {};
  const times = Array.isArray(corpus.times_ns) ? corpus.times_ns.filter(isNumber) : [];
  const sorted = Float64Array.from(times).sort();
  const asArray = Array.from(sorted);
  const decisions = Array.isArray(corpus.decisions) ? corpus.decisions : null;
  let blocked = numberOrNull(corpus.blocked);
  if (blocked === null && decisions !== null) blocked = decisions.filter((d) => d === 1).length;
  let requests = numberOrNull(corpus.requests);
  if (requests === null && times.length > 0) requests = times.length;
  return {
    requests,
    blocked,
    median_ns: percentile(asArray, 50),
    p90_ns: percentile(asArray, 90),
    p99_ns: percentile(asArray, 99),
    max_ns: asArray.length ? asArray[asArray.length - 1] : null,
    mean_ns: asArray.length ? asArray.reduce((s, x) => s + x, 0) / asArray.length : null,
    sorted: asArray,
    decisions,
    droppedTimes: Array.isArray(corpus.times_ns) ? corpus.times_ns.length - times.length : 0,
  };
}

const MIB = 1 / 1048576;

// Memory figures are growth over the figure taken just before the engine
// was made: for tessul the bytes malloc has in use after malloc_trim(0), the
// image a loaded engine borrows included; for the peers V8's heapUsed +
// external after garbage collection.
export const ENGINE_METRICS = [
  { key: 'parse_ms', label: 'parse (ms)', scale: 1 },
  { key: 'parse_memory_bytes', label: 'memory after parse (MiB)', scale: MIB },
  { key: 'destroy_parsed_ms', label: 'delete parsed (ms)', scale: 1, noRatio: true },
  { key: 'image_bytes', label: 'image size (MiB)', scale: MIB },
  { key: 'save_ms', label: 'save (ms)', scale: 1 },
  { key: 'load_ms', label: 'load (ms)', scale: 1 },
  { key: 'load_memory_bytes', label: 'memory after load (MiB)', scale: MIB },
  { key: 'load_image_bytes', label: '  image it borrows (MiB)', scale: MIB, noRatio: true },
  { key: 'destroy_loaded_ms', label: 'delete loaded (ms)', scale: 1, noRatio: true },
  { key: 'rss_bytes', label: 'RSS growth, parse (MiB)', scale: MIB },
  { key: 'clock_overhead_ns', label: 'clock overhead (ns)', scale: 1, integer: true, noRatio: true },
];

export const CORPUS_METRICS = [
  { key: 'median_ns', label: 'median (µs)', scale: 1e-3 },
  { key: 'p90_ns', label: 'p90 (µs)', scale: 1e-3 },
  { key: 'p99_ns', label: 'p99 (µs)', scale: 1e-3 },
  { key: 'max_ns', label: 'max (µs)', scale: 1e-3 },
  { key: 'mean_ns', label: 'mean (µs)', scale: 1e-3 },
  { key: 'blocked', label: 'blocked', scale: 1, integer: true, noRatio: true },
];

// The growth table's columns; then the per-request median of each corpus.
export const GROWTH_METRICS = [
  { key: 'parse_ms', label: 'parse ms', scale: 1 },
  { key: 'load_ms', label: 'load ms', scale: 1 },
  { key: 'parse_memory_bytes', label: 'parsed MiB', scale: MIB },
  { key: 'load_memory_bytes', label: 'loaded MiB', scale: MIB },
];

function engineName(doc) {
  const engine = typeof doc.engine === 'string' && doc.engine !== '' ? doc.engine : 'unnamed';
  const mode = typeof doc.mode === 'string' && doc.mode !== '' ? doc.mode : DEFAULT_MODE;
  return mode === DEFAULT_MODE ? engine : `${engine}-${mode}`;
}

function entryOf(doc) {
  const figures = {};
  const notApplicable = new Set();
  for (const m of ENGINE_METRICS) {
    figures[m.key] = numberOrNull(doc[m.key]);
    if (doc[m.key] === null) notApplicable.add(m.key);
  }
  const corpora = {};
  const raw = doc.corpora !== null && typeof doc.corpora === 'object' ? doc.corpora : {};
  for (const [corpus, data] of Object.entries(raw)) corpora[corpus] = corpusStats(data);
  return {
    hiding: hidingStats(doc.hiding),
    name: engineName(doc),
    isTessul: doc.engine === TESSUL,
    scale: Number.isInteger(doc.scale) && doc.scale >= 1 ? doc.scale : 1,
    version: typeof doc.version === 'string' ? doc.version : null,
    notes: typeof doc.notes === 'string' ? doc.notes : null,
    figures,
    notApplicable,
    corpora,
  };
}

// Rows of the growth table: every engine at every scale it was run at, with
// the decisions it changed against its own scale-1 run.
function growthRows(entries, engines, corpusNames) {
  if (entries.every((e) => e.scale === 1)) return [];
  const order = [...new Set([...engines.map((e) => e.name), ...entries.map((e) => e.name)])];
  const rows = [];
  for (const name of order) {
    const own = entries.filter((e) => e.name === name).sort((a, b) => a.scale - b.scale);
    const base = own.find((e) => e.scale === 1);
    for (const e of own) {
      let changed = null;
      if (base) {
        const counts = corpusNames.map((c) => countDiffering(base.corpora[c]?.decisions, e.corpora[c]?.decisions));
        if (counts.every(isNumber)) changed = counts.reduce((s, n) => s + n, 0);
      }
      rows.push({ engine: e, changed });
    }
  }
  return rows;
}

// Per corpus, the requests on which the consensus peers decide alike and
// how many of them each tessul engine decides otherwise; null without both
// peers.
function agreementRows(engines, corpusNames) {
  const peers = CONSENSUS_PEERS.map((name) => engines.find((e) => e.name === name && !e.isTessul));
  if (peers.some((p) => !p)) return null;
  const tessuls = engines.filter((e) => e.isTessul);
  return corpusNames.map((c) => {
    const result = againstAgreement(
      peers.map((p) => p.corpora[c]?.decisions),
      tessuls.map((t) => t.corpora[c]?.decisions),
    );
    return {
      corpus: c,
      agree: result?.agree ?? null,
      differ: new Map(tessuls.map((t, i) => [t.name, result ? result.differ[i] : null])),
    };
  });
}

// Turns parsed documents into engines with their figures: the scale-1
// documents, tessul's modes first, then the others in the order given
// (repeated engines get a suffix); the growth table's rows; and the
// decisions against the peers' agreement.
export function summarize(docs) {
  const seen = new Map();
  const entries = docs.map((doc) => {
    const entry = entryOf(doc);
    const key = `${entry.name}@${entry.scale}`;
    const count = (seen.get(key) ?? 0) + 1;
    seen.set(key, count);
    if (count > 1) {
      entry.name = `${entry.name} (${count})`;
      entry.isTessul = false;
    }
    return entry;
  });
  const engines = entries.filter((e) => e.scale === 1);
  engines.sort((a, b) => Number(b.isTessul) - Number(a.isTessul));
  const corpusNames = [];
  for (const e of entries) for (const c of Object.keys(e.corpora)) if (!corpusNames.includes(c)) corpusNames.push(c);
  const tessul = engines.find((e) => e.isTessul && e.name === TESSUL) ?? engines.find((e) => e.isTessul) ?? null;
  if (tessul) {
    for (const e of engines) {
      if (e === tessul) continue;
      for (const c of corpusNames) {
        if (!e.corpora[c]) continue;
        const t = tessul.corpora[c];
        e.corpora[c].differFromTessul = t ? countDiffering(t.decisions, e.corpora[c].decisions) : null;
      }
    }
  }
  return {
    engines,
    corpusNames,
    tessul,
    growth: growthRows(entries, engines, corpusNames),
    agreement: agreementRows(engines, corpusNames),
  };
}

// A number in about four significant digits, or "-".
export function formatNumber(x, { integer = false } = {}) {
  if (!isNumber(x)) return '-';
  if (integer) return String(Math.round(x));
  const a = Math.abs(x);
  if (a >= 1000) return x.toFixed(0);
  if (a >= 100) return x.toFixed(1);
  if (a >= 10) return x.toFixed(2);
  return x.toFixed(3);
}

// An engine's figure: "n/a" where its document says the figure does not
// apply to it (null), "-" where the document lacks it.
function formatFigure(engine, m) {
  if (engine.notApplicable.has(m.key)) return 'n/a';
  return formatNumber(scaled(engine.figures[m.key], m.scale), m);
}

function formatRatio(r) {
  if (!isNumber(r)) return '-';
  return `${r >= 100 ? r.toFixed(0) : r >= 10 ? r.toFixed(1) : r.toFixed(2)}x`;
}

function scaled(x, scale) {
  return isNumber(x) ? x * scale : null;
}

function table(header, rows, labelWidth, minWidth = 11) {
  const widths = header.map((h, i) =>
    i === 0 ? labelWidth : Math.max(minWidth, h.length + 2, ...rows.map((r) => (r[i] ?? '').length + 2)),
  );
  const line = (cells) =>
    cells.map((c, i) => (i === 0 ? (c ?? '').padEnd(widths[0]) : (c ?? '').padStart(widths[i]))).join('').trimEnd();
  return [line(header), ...rows.map(line)].join('\n');
}

function wrap(text, width, indent) {
  const out = [];
  let current = indent;
  for (const word of text.split(/\s+/)) {
    if (current.length + word.length + 1 > width && current.trim() !== '') {
      out.push(current.trimEnd());
      current = indent;
    }
    current += (current.trim() === '' ? '' : ' ') + word;
  }
  if (current.trim() !== '') out.push(current.trimEnd());
  return out.join('\n');
}

function shortLabel(label) {
  return label.replace(/ \(.*\)$/, '');
}

function growthTable(summary) {
  const { growth, corpusNames } = summary;
  const header = ['', 'lists', ...GROWTH_METRICS.map((m) => m.label), ...corpusNames.map((c) => `${c} µs`), 'changed'];
  const rows = growth.map(({ engine, changed }) => [
    engine.name,
    `${engine.scale}x`,
    ...GROWTH_METRICS.map((m) => formatFigure(engine, m)),
    ...corpusNames.map((c) => formatNumber(scaled(engine.corpora[c]?.median_ns, 1e-3))),
    formatNumber(changed, { integer: true }),
  ]);
  const labelWidth = Math.max(8, ...growth.map((r) => r.engine.name.length + 1));
  return [
    'Growth with the lists: 1x is EasyList + EasyPrivacy, Nx adds N - 1 generated copies with new',
    'names (as many rules of each kind); µs: per-request median; changed: decisions unlike at 1x',
    '',
    table(header, rows, labelWidth, 8),
  ].join('\n');
}

function agreementTable(summary) {
  const { agreement, engines } = summary;
  const tessuls = engines.filter((e) => e.isTessul);
  const header = ['', 'requests', 'peers agree', ...tessuls.map((t) => `${t.name} differs`)];
  const rows = agreement.map((row) => {
    const requests = tessuls[0]?.corpora[row.corpus]?.requests ?? null;
    return [
      row.corpus,
      formatNumber(requests, { integer: true }),
      formatNumber(row.agree, { integer: true }),
      ...tessuls.map((t) => formatNumber(row.differ.get(t.name), { integer: true })),
    ];
  });
  return [
    `Decisions against the peers: requests on which ${CONSENSUS_PEERS.join(' and ')} decide alike, and how`,
    'many of them tessul decides otherwise',
    '',
    table(header, rows, 26),
  ].join('\n');
}

function hidingTable(engines) {
  const header = ['', 'page hosts', ...HIDING_SCOPES.flatMap((scope) => [`${scope} median`, `${scope} p99`])];
  const rows = engines.map((e) => [
    e.name,
    formatNumber(e.hiding.hosts, { integer: true }),
    ...HIDING_SCOPES.flatMap((scope) => [
      formatNumber(scaled(e.hiding[scope].median_ns, 1e-3)),
      formatNumber(scaled(e.hiding[scope].p99_ns, 1e-3)),
    ]),
  ]);
  return [
    'Element hiding: hidingSelectors() per page host of the request logs (µs), the site-specific',
    'selectors and all of them',
    '',
    table(header, rows, 16),
  ].join('\n');
}

// The side-by-side plain-text report.
export function renderText(summary) {
  const { engines, corpusNames, tessul } = summary;
  const LABEL = 26;
  const names = engines.map((e) => e.name);
  const rows = [];
  rows.push(['version', ...engines.map((e) => e.version ?? '-')]);
  for (const m of ENGINE_METRICS) rows.push([m.label, ...engines.map((e) => formatFigure(e, m))]);
  for (const c of corpusNames) {
    rows.push(['', ...engines.map(() => '')]);
    rows.push([`${c}: requests`, ...engines.map((e) => formatNumber(e.corpora[c]?.requests, { integer: true }))]);
    for (const m of CORPUS_METRICS) {
      rows.push([`  ${m.label}`, ...engines.map((e) => formatNumber(scaled(e.corpora[c]?.[m.key], m.scale), m))]);
    }
    if (tessul) {
      rows.push([
        `  decisions differing`,
        ...engines.map((e) => (e === tessul ? '-' : formatNumber(e.corpora[c]?.differFromTessul, { integer: true }))),
      ]);
    }
  }
  const parts = [
    `Benchmark: ${engines.length} engine(s); per-request times are the minimum of the timed passes`,
    '',
    table(['', ...names], rows, LABEL),
    '',
    'Memory: growth over the figure taken just before the engine was made. tessul: bytes malloc',
    'has in use after malloc_trim(0) (mallinfo2), the image a loaded engine borrows included;',
    'peers: V8 heapUsed + external after garbage collection. n/a: no such step to time.',
  ];

  const peers = engines.filter((e) => e !== tessul);
  if (tessul && peers.length > 0) {
    const ratioRows = [];
    for (const m of ENGINE_METRICS) {
      if (m.noRatio) continue;
      ratioRows.push([shortLabel(m.label), ...peers.map((p) => formatRatio(ratio(tessul.figures[m.key], p.figures[m.key])))]);
    }
    for (const c of corpusNames) {
      for (const m of CORPUS_METRICS) {
        if (m.noRatio) continue;
        ratioRows.push([
          `${c}: ${shortLabel(m.label)}`,
          ...peers.map((p) => formatRatio(ratio(tessul.corpora[c]?.[m.key], p.corpora[c]?.[m.key]))),
        ]);
      }
    }
    parts.push(
      '',
      `${tessul.name} / peer (below 1x: ${tessul.name} is smaller or faster); "decisions differing" above counts`,
      `the requests a peer blocks or allows unlike ${tessul.name} (information, not a test)`,
      '',
      table(['', ...peers.map((p) => p.name)], ratioRows, LABEL),
    );
  }
  const hiding = engines.filter((e) => e.hiding);
  if (hiding.length > 0) parts.push('', hidingTable(hiding));
  if (summary.agreement && engines.some((e) => e.isTessul)) parts.push('', agreementTable(summary));
  if (summary.growth.length > 0) parts.push('', growthTable(summary));

  const noted = engines.filter((e) => e.notes);
  if (noted.length > 0) {
    parts.push('', 'Notes');
    for (const e of noted) parts.push(wrap(`${e.name}: ${e.notes}`, 100, '  '));
  }
  return parts.join('\n') + '\n';
}

function csvField(value) {
  const s = value === null || value === undefined ? '' : String(value);
  return /[",\r\n]/.test(s) ? `"${s.replace(/"/g, '""')}"` : s;
}

// Every figure as rows of engine, corpus ("-" for whole-engine figures),
// metric, value; missing figures have an empty value. Ratios are the
// default tessul's over the peer's, on the peer's rows; growth figures carry
// their scale ("parse_ms@2x").
export function csvRows(summary) {
  const { engines, corpusNames, tessul, growth, agreement } = summary;
  const rows = [['engine', 'corpus', 'metric', 'value']];
  const over = tessul ? `${tessul.name}_over_peer_` : null;
  for (const e of engines) {
    rows.push([e.name, '-', 'version', e.version]);
    for (const m of ENGINE_METRICS) rows.push([e.name, '-', m.key, e.figures[m.key]]);
    if (tessul && e !== tessul) {
      for (const m of ENGINE_METRICS) {
        if (!m.noRatio) rows.push([e.name, '-', over + m.key, ratio(tessul.figures[m.key], e.figures[m.key])]);
      }
    }
    for (const c of corpusNames) {
      const s = e.corpora[c];
      if (!s) continue;
      rows.push([e.name, c, 'requests', s.requests]);
      for (const m of CORPUS_METRICS) rows.push([e.name, c, m.key, s[m.key]]);
      if (tessul && e !== tessul) {
        rows.push([e.name, c, `decisions_differing_from_${tessul.name}`, s.differFromTessul]);
        for (const m of CORPUS_METRICS) {
          if (!m.noRatio) rows.push([e.name, c, over + m.key, ratio(tessul.corpora[c]?.[m.key], s[m.key])]);
        }
      }
    }
  }
  for (const e of engines) {
    if (!e.hiding) continue;
    for (const scope of HIDING_SCOPES) {
      for (const m of CORPUS_METRICS) {
        if (m.key in e.hiding[scope] && m.key !== 'blocked') rows.push([e.name, `hiding-${scope}`, m.key, e.hiding[scope][m.key]]);
      }
    }
  }
  for (const row of agreement ?? []) {
    for (const [name, differ] of row.differ) {
      rows.push([name, row.corpus, 'requests_peers_agree_on', row.agree]);
      rows.push([name, row.corpus, 'differs_where_peers_agree', differ]);
    }
  }
  for (const { engine, changed } of growth) {
    const at = `@${engine.scale}x`;
    for (const m of GROWTH_METRICS) rows.push([engine.name, '-', m.key + at, engine.figures[m.key]]);
    for (const c of corpusNames) rows.push([engine.name, c, 'median_ns' + at, engine.corpora[c]?.median_ns ?? null]);
    rows.push([engine.name, '-', 'decisions_changed' + at, changed]);
  }
  return rows;
}

export function renderCsv(summary) {
  return csvRows(summary).map((r) => r.map(csvField).join(',')).join('\n') + '\n';
}

// ---------------------------------------------------------------------------
// SVG: empirical CDF of the per-request times, log-scaled time axis.

const COLORS = ['#d62728', '#1f77b4', '#2ca02c', '#ff7f0e', '#9467bd', '#8c564b', '#e377c2', '#17becf'];
const DASHES = ['', '7 4', '2 3', '10 3 2 3'];

function escapeXml(s) {
  return String(s).replace(/[<>&"']/g, (c) => ({ '<': '&lt;', '>': '&gt;', '&': '&amp;', '"': '&quot;', "'": '&apos;' })[c]);
}

export function formatDuration(ns) {
  if (ns >= 1e9) return `${trim(ns / 1e9)} s`;
  if (ns >= 1e6) return `${trim(ns / 1e6)} ms`;
  if (ns >= 1e3) return `${trim(ns / 1e3)} µs`;
  return `${trim(ns)} ns`;
}

function trim(x) {
  return Number(x.toPrecision(3)).toString();
}

export function renderSvg(summary) {
  const { engines, corpusNames } = summary;
  // Red is tessul's; the peers take the other colours in order.
  const series = [];
  let peerIndex = 0;
  for (const e of engines) {
    const color = e.isTessul ? COLORS[0] : COLORS[1 + (peerIndex++ % (COLORS.length - 1))];
    corpusNames.forEach((c, ci) => {
      const s = e.corpora[c];
      if (s && s.sorted.length > 0) {
        series.push({ engine: e, corpus: c, stats: s, color, dash: DASHES[ci % DASHES.length] });
      }
    });
  }

  const W = 1040;
  const H = 600;
  const plot = { left: 70, top: 70, width: 580, height: 450 };
  const right = plot.left + plot.width;
  const bottom = plot.top + plot.height;
  const out = [];
  out.push(
    `<svg xmlns="http://www.w3.org/2000/svg" width="${W}" height="${H}" viewBox="0 0 ${W} ${H}" font-family="sans-serif" font-size="12">`,
    `<rect width="${W}" height="${H}" fill="white"/>`,
    `<text x="${W / 2}" y="28" text-anchor="middle" font-size="18" font-weight="bold">Per-request match time, empirical CDF</text>`,
    `<text x="${W / 2}" y="48" text-anchor="middle" fill="#444">each request's minimum over the timed passes; share of requests at or below a time</text>`,
  );

  if (series.length === 0) {
    out.push(`<text x="${W / 2}" y="${H / 2}" text-anchor="middle">no per-request times</text>`, '</svg>');
    return out.join('\n') + '\n';
  }

  let lo = Infinity;
  let hi = -Infinity;
  for (const s of series) {
    lo = Math.min(lo, Math.max(1, s.stats.sorted[0]));
    hi = Math.max(hi, Math.max(1, s.stats.sorted[s.stats.sorted.length - 1]));
  }
  let d0 = Math.floor(Math.log10(lo));
  let d1 = Math.ceil(Math.log10(hi));
  if (d1 <= d0) d1 = d0 + 1;
  const x = (ns) => plot.left + ((Math.log10(Math.max(1, ns)) - d0) / (d1 - d0)) * plot.width;
  const y = (f) => bottom - f * plot.height;
  const r1 = (v) => Math.round(v * 10) / 10;

  // Grid and axes.
  out.push(`<g stroke="#e4e4e4" stroke-width="1">`);
  for (let d = d0; d < d1; d++) {
    for (let k = 2; k <= 9; k++) out.push(`<line x1="${r1(x(k * 10 ** d))}" y1="${plot.top}" x2="${r1(x(k * 10 ** d))}" y2="${bottom}"/>`);
  }
  out.push('</g>', `<g stroke="#bbbbbb" stroke-width="1">`);
  for (let d = d0; d <= d1; d++) out.push(`<line x1="${r1(x(10 ** d))}" y1="${plot.top}" x2="${r1(x(10 ** d))}" y2="${bottom}"/>`);
  for (let p = 0; p <= 100; p += 10) out.push(`<line x1="${plot.left}" y1="${r1(y(p / 100))}" x2="${right}" y2="${r1(y(p / 100))}"/>`);
  out.push('</g>');
  out.push(`<rect x="${plot.left}" y="${plot.top}" width="${plot.width}" height="${plot.height}" fill="none" stroke="#333"/>`);

  out.push(`<g text-anchor="middle">`);
  const labels = [];
  for (let d = d0; d <= d1; d++) {
    labels.push(10 ** d);
    if (d1 - d0 <= 2 && d < d1) labels.push(2 * 10 ** d, 5 * 10 ** d);
  }
  for (const v of labels) out.push(`<text x="${r1(x(v))}" y="${bottom + 18}">${escapeXml(formatDuration(v))}</text>`);
  out.push(`<text x="${plot.left + plot.width / 2}" y="${bottom + 40}">time per request (log scale)</text>`, '</g>');
  out.push(`<g text-anchor="end">`);
  for (let p = 0; p <= 100; p += 20) out.push(`<text x="${plot.left - 6}" y="${r1(y(p / 100)) + 4}">${p}%</text>`);
  out.push('</g>');
  out.push(
    `<text transform="translate(20 ${plot.top + plot.height / 2}) rotate(-90)" text-anchor="middle">requests at or below</text>`,
  );

  // Curves: a step function, one point per pixel column; drawn last to
  // first so that tessul's lie on top.
  for (const s of [...series].reverse()) {
    const v = s.stats.sorted;
    const n = v.length;
    let path = `M${r1(x(v[0]))} ${bottom}`;
    let lastX = null;
    let pendingY = null;
    for (let i = 0; i < n; i++) {
      const px = r1(x(v[i]));
      const py = r1(y((i + 1) / n));
      if (px !== lastX) {
        if (pendingY !== null) path += `V${pendingY}`;
        path += `H${px}`;
        lastX = px;
      }
      pendingY = py;
    }
    path += `V${pendingY}H${right}`;
    const dash = s.dash ? ` stroke-dasharray="${s.dash}"` : '';
    out.push(
      `<path d="${path}" fill="none" stroke="${s.color}" stroke-width="1.8"${dash}>` +
        `<title>${escapeXml(`${s.engine.name}, ${s.corpus}`)}</title></path>`,
    );
  }

  // Legend, right of the plot.
  const lx = right + 25;
  let ly = plot.top + 6;
  out.push(`<g>`, `<text x="${lx}" y="${ly}" font-weight="bold">engine, corpus: median / p99</text>`);
  ly += 22;
  for (const s of series) {
    const dash = s.dash ? ` stroke-dasharray="${s.dash}"` : '';
    const label =
      `${s.engine.name}${s.engine.version ? ` ${s.engine.version}` : ''}, ${s.corpus}: ` +
      `${formatDuration(s.stats.median_ns)} / ${formatDuration(s.stats.p99_ns)}`;
    out.push(
      `<line x1="${lx}" y1="${ly - 4}" x2="${lx + 34}" y2="${ly - 4}" stroke="${s.color}" stroke-width="2.5"${dash}/>`,
      `<text x="${lx + 42}" y="${ly}">${escapeXml(label)}</text>`,
    );
    ly += 20;
  }
  const clocks = engines.filter((e) => isNumber(e.figures.clock_overhead_ns));
  if (clocks.length > 0) {
    ly += 12;
    out.push(`<text x="${lx}" y="${ly}" fill="#444">clock overhead inside each time:</text>`);
    for (const e of clocks) {
      ly += 18;
      out.push(`<text x="${lx + 12}" y="${ly}" fill="#444">${escapeXml(`${e.name}: ${formatDuration(e.figures.clock_overhead_ns)}`)}</text>`);
    }
  }
  out.push('</g>', '</svg>');
  return out.join('\n') + '\n';
}
