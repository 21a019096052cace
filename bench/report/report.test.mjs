// Tests of the report's figures, CSV and command line; run with
//   node --test bench/report/

import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { againstAgreement, countDiffering, csvRows, percentile, ratio, renderCsv, renderSvg, renderText, summarize } from './lib.mjs';

const REPORT = join(dirname(fileURLToPath(import.meta.url)), 'report.mjs');

function doc(engine, extra = {}) {
  return {
    engine,
    version: '1.0',
    parse_ms: 100,
    parse_memory_bytes: 2 * 1048576,
    rss_bytes: 4 * 1048576,
    image_bytes: 1048576,
    save_ms: 10,
    load_ms: 2,
    load_memory_bytes: 3 * 1048576,
    clock_overhead_ns: 40,
    corpora: {
      small: { requests: 5, blocked: 2, times_ns: [500, 100, 400, 200, 300], decisions: [1, 0, 0, 1, 0] },
    },
    ...extra,
  };
}

function findRow(rows, engine, corpus, metric) {
  const row = rows.find((r) => r[0] === engine && r[1] === corpus && r[2] === metric);
  assert.ok(row, `no CSV row ${engine},${corpus},${metric}`);
  return row[3];
}

test('percentile takes the nearest rank', () => {
  const v = [15, 20, 35, 40, 50];
  assert.equal(percentile(v, 5), 15);
  assert.equal(percentile(v, 21), 20, 'a rank of 1.05 rounds up to 2');
  assert.equal(percentile(v, 30), 20);
  assert.equal(percentile(v, 40), 20);
  assert.equal(percentile(v, 50), 35);
  assert.equal(percentile(v, 100), 50);
  assert.equal(percentile(v, 0), 15);
  assert.equal(percentile([7], 99), 7);
  assert.equal(percentile([], 50), null);
  assert.throws(() => percentile(v, 101), RangeError);
});

test('p99 of 1000 values is the 990th, p90 of 10 values the 9th', () => {
  const thousand = Array.from({ length: 1000 }, (_, i) => i + 1);
  assert.equal(percentile(thousand, 99), 990);
  assert.equal(percentile(thousand.slice(0, 101), 1), 2);
  assert.equal(percentile([1, 2, 3, 4, 5, 6, 7, 8, 9, 10], 90), 9);
});

test('ratio is tessul over peer and missing when it cannot be formed', () => {
  assert.equal(ratio(50, 200), 0.25);
  assert.equal(ratio(3, 0), null);
  assert.equal(ratio(null, 5), null);
  assert.equal(ratio(5, undefined), null);
  assert.equal(ratio('5', 5), null);
});

test('differing decisions are counted only for arrays of one length', () => {
  assert.equal(countDiffering([1, 0, 1, 0], [1, 1, 0, 0]), 2);
  assert.equal(countDiffering([1, 0], [1, 0]), 0);
  assert.equal(countDiffering([1, 0], [1, 0, 1]), null);
  assert.equal(countDiffering(undefined, [1]), null);
});

test('per-corpus statistics sort the times and ignore entries that are not numbers', () => {
  const { engines } = summarize([
    doc('peer', { corpora: { c: { times_ns: [900, 'x', 100, null, 500], decisions: [1, 1, 0] } } }),
  ]);
  const s = engines[0].corpora.c;
  assert.equal(s.median_ns, 500);
  assert.equal(s.max_ns, 900);
  assert.equal(s.mean_ns, 500);
  assert.equal(s.droppedTimes, 2);
  assert.equal(s.requests, 3, 'requests falls back to the number of times');
  assert.equal(s.blocked, 2, 'blocked falls back to counting the decisions');
});

test('tessul comes first and peers carry ratios and differing decisions in the CSV', () => {
  const peer = doc('peer', { parse_ms: 400 });
  peer.corpora.small.decisions = [0, 0, 0, 1, 1];
  const summary = summarize([peer, doc('tessul', { parse_ms: 100 })]);
  assert.deepEqual(summary.engines.map((e) => e.name), ['tessul', 'peer']);
  const rows = csvRows(summary);
  assert.deepEqual(rows[0], ['engine', 'corpus', 'metric', 'value']);
  assert.equal(findRow(rows, 'tessul', '-', 'parse_ms'), 100);
  assert.equal(findRow(rows, 'peer', '-', 'tessul_over_peer_parse_ms'), 0.25);
  assert.equal(findRow(rows, 'peer', 'small', 'p90_ns'), 500);
  assert.equal(findRow(rows, 'peer', 'small', 'median_ns'), 300);
  assert.equal(findRow(rows, 'peer', 'small', 'decisions_differing_from_tessul'), 2);
  assert.ok(!rows.some((r) => r[0] === 'tessul' && String(r[2]).startsWith('tessul_over_peer')));
});

test('CSV quotes fields with commas or quotes and leaves missing figures empty', () => {
  const d = doc('odd, "name"');
  delete d.save_ms;
  const csv = renderCsv(summarize([d]));
  assert.match(csv, /^"odd, ""name""",-,parse_ms,100$/m);
  assert.match(csv, /^"odd, ""name""",-,save_ms,$/m);
});

test('missing fields print as "-" in the table', () => {
  const text = renderText(summarize([{ engine: 'bare' }, doc('tessul')]));
  assert.match(text, /^parse \(ms\)\s+100\.0\s+-$/m);
  assert.match(text, /^version\s+1\.0\s+-$/m);
  assert.match(text, /^ {2}median \(µs\)\s+0\.300\s+-$/m);
  assert.ok(text.split('\n').every((line) => line.length <= 100), 'a line is wider than 100 columns');
});

test('element-hiding times get a table and CSV rows of their own', () => {
  const hiding = { page_hosts: 3, specific_times_ns: [3000, 1000, 2000], all_times_ns: [60000, 50000, 70000] };
  const summary = summarize([doc('tessul', { hiding }), doc('ghostery')]);
  assert.match(renderText(summary), /^tessul\s+3\s+2\.000\s+3\.000\s+60\.00\s+70\.00$/m);
  const rows = csvRows(summary);
  assert.equal(findRow(rows, 'tessul', 'hiding-specific', 'median_ns'), 2000);
  assert.equal(findRow(rows, 'tessul', 'hiding-all', 'p99_ns'), 70000);
  assert.ok(!rows.some((r) => r[0] === 'ghostery' && r[1].startsWith('hiding')));
  assert.doesNotMatch(renderText(summarize([doc('tessul')])), /Element hiding/);
});

test('the SVG has one curve per engine and corpus and escapes names', () => {
  const a = doc('<a&b>', { corpora: { x: { times_ns: [100, 2000] }, y: { times_ns: [50] } } });
  const svg = renderSvg(summarize([a, doc('tessul')]));
  assert.equal((svg.match(/<path /g) ?? []).length, 3);
  assert.ok(svg.includes('&lt;a&amp;b&gt;'));
  assert.ok(!svg.includes('<a&b>'));
  assert.match(svg, />1 µs</);
  assert.match(svg, /^<svg [^>]*xmlns="http:\/\/www\.w3\.org\/2000\/svg"/);
  assert.match(svg, /<\/svg>\n$/);
});

test('memory, load and delete figures stand side by side with ratios, n/a where a peer has none', () => {
  const tessul = doc('tessul', {
    parse_memory_bytes: 12 * 1048576,
    load_memory_bytes: 8 * 1048576,
    load_image_bytes: 5 * 1048576,
    destroy_parsed_ms: 1.5,
    destroy_loaded_ms: 0.5,
    load_ms: 1,
  });
  const peer = doc('peer', { parse_memory_bytes: 4 * 1048576, load_memory_bytes: 4 * 1048576, load_ms: 4 });
  peer.destroy_parsed_ms = null;
  peer.destroy_loaded_ms = null;
  const summary = summarize([peer, tessul]);
  const text = renderText(summary);
  assert.match(text, /^memory after parse \(MiB\)\s+12\.00\s+4\.000$/m);
  assert.match(text, /^memory after load \(MiB\)\s+8\.000\s+4\.000$/m);
  assert.match(text, /^ {2}image it borrows \(MiB\)\s+5\.000\s+-$/m);
  assert.match(text, /^delete parsed \(ms\)\s+1\.500\s+n\/a$/m);
  assert.match(text, /^delete loaded \(ms\)\s+0\.500\s+n\/a$/m);
  assert.match(text, /^memory after parse\s+3\.00x$/m);
  assert.match(text, /^memory after load\s+2\.00x$/m);
  assert.match(text, /^load\s+0\.25x$/m);
  assert.doesNotMatch(text, /^delete parsed\s+\S+x$/m, 'no ratio for a figure the peers lack');
  const rows = csvRows(summary);
  assert.equal(findRow(rows, 'peer', '-', 'tessul_over_peer_load_memory_bytes'), 2);
  assert.equal(findRow(rows, 'peer', '-', 'destroy_loaded_ms'), null);
});

test('requests where the peers agree are counted per corpus, with one column per tessul mode', () => {
  assert.deepEqual(againstAgreement([[1, 0, 1, 0], [1, 0, 0, 0]], [[0, 0, 1, 1], [1, 0, 1, 0], [1]]), {
    agree: 3,
    differ: [2, 0, null],
  });
  assert.equal(againstAgreement([[1, 0], [1]], [[1, 0]]), null);
  assert.equal(againstAgreement([undefined, [1]], [[1]]), null);

  const corpora = (decisions) => ({ small: { times_ns: [1, 2, 3, 4, 5], decisions } });
  const docs = [
    doc('ghostery', { corpora: corpora([1, 1, 0, 0, 1]) }),
    doc('ubo', { corpora: corpora([1, 0, 0, 0, 1]) }),
    doc('ubo-wasm', { corpora: corpora([0, 0, 0, 0, 0]) }),
    doc('tessul', { mode: 'exact', corpora: corpora([0, 1, 1, 0, 1]) }),
    doc('tessul', { mode: 'compatible', corpora: corpora([1, 0, 0, 0, 1]) }),
  ];
  const summary = summarize(docs);
  assert.deepEqual(summary.engines.map((e) => e.name), ['tessul', 'tessul-compatible', 'ghostery', 'ubo', 'ubo-wasm']);
  assert.equal(summary.tessul.name, 'tessul', 'ratios and differing decisions are the default mode\'s');
  const text = renderText(summary);
  assert.match(text, /^\s+requests\s+peers agree\s+tessul differs\s+tessul-compatible differs$/m);
  assert.match(text, /^small\s+5\s+4\s+2\s+0$/m);
  const rows = csvRows(summary);
  assert.equal(findRow(rows, 'tessul', 'small', 'requests_peers_agree_on'), 4);
  assert.equal(findRow(rows, 'tessul', 'small', 'differs_where_peers_agree'), 2);
  assert.equal(findRow(rows, 'tessul-compatible', 'small', 'differs_where_peers_agree'), 0);

  assert.equal(summarize(docs.filter((d) => d.engine !== 'ubo')).agreement, null, 'needs both peers');
  assert.doesNotMatch(renderText(summarize(docs.slice(3))), /peers agree/);
});

test('the growth table lists every engine at every scale, with decisions changed against its 1x', () => {
  const at = (engine, scale, extra) =>
    doc(engine, { scale, parse_ms: 100 * scale, corpora: { small: { times_ns: [scale * 1000], decisions: [1] } }, ...extra });
  const docs = [
    at('peer', 2),
    at('tessul', 4, { corpora: { small: { times_ns: [4000], decisions: [0] } } }),
    at('tessul', 1),
    at('peer', 1),
    at('tessul', 2),
  ];
  const summary = summarize(docs);
  assert.deepEqual(summary.engines.map((e) => e.name), ['tessul', 'peer'], 'the side-by-side table is at 1x');
  assert.equal(summary.engines[0].figures.parse_ms, 100);
  assert.deepEqual(
    summary.growth.map((r) => [r.engine.name, r.engine.scale, r.changed]),
    [['tessul', 1, 0], ['tessul', 2, 0], ['tessul', 4, 1], ['peer', 1, 0], ['peer', 2, 0]],
  );
  const text = renderText(summary);
  assert.match(text, /^tessul\s+4x\s+400\.0\s+2\.000\s+2\.000\s+3\.000\s+4\.000\s+1$/m);
  assert.match(text, /^peer\s+2x\s+200\.0/m);
  assert.ok(text.split('\n').every((line) => line.length <= 100), 'a line is wider than 100 columns');
  const rows = csvRows(summary);
  assert.equal(findRow(rows, 'tessul', '-', 'parse_ms@4x'), 400);
  assert.equal(findRow(rows, 'tessul', 'small', 'median_ns@2x'), 2000);
  assert.equal(findRow(rows, 'tessul', '-', 'decisions_changed@4x'), 1);
  assert.equal(summarize([doc('tessul')]).growth.length, 0, 'no growth table with one list set');
  assert.doesNotMatch(renderText(summarize([doc('tessul')])), /Growth/);
});

function runReport(args) {
  return spawnSync(process.execPath, [REPORT, ...args], { encoding: 'utf8' });
}

test('the command line writes the table, the CSV and the SVG', () => {
  const dir = mkdtempSync(join(tmpdir(), 'report-'));
  writeFileSync(join(dir, 't.json'), JSON.stringify(doc('tessul')));
  writeFileSync(join(dir, 'p.json'), JSON.stringify(doc('peer', { load_ms: 8 })));
  const r = runReport([join(dir, 't.json'), join(dir, 'p.json'), '--csv', join(dir, 'o.csv'), '--svg', join(dir, 'o.svg')]);
  assert.equal(r.status, 0, r.stderr);
  assert.match(r.stdout, /^load\s+0\.25x$/m);
  assert.match(readFileSync(join(dir, 'o.csv'), 'utf8'), /^peer,-,tessul_over_peer_load_ms,0\.25$/m);
  assert.match(readFileSync(join(dir, 'o.svg'), 'utf8'), /<\/svg>/);
});

test('the command line rejects bad input with a clear message', () => {
  const dir = mkdtempSync(join(tmpdir(), 'report-'));
  writeFileSync(join(dir, 'broken.json'), '{"engine": ');
  writeFileSync(join(dir, 'list.json'), '[1, 2]');
  writeFileSync(join(dir, 'nameless.json'), '{"parse_ms": 1}');

  let r = runReport([join(dir, 'broken.json')]);
  assert.equal(r.status, 1);
  assert.match(r.stderr, /broken\.json is not JSON/);
  r = runReport([join(dir, 'list.json')]);
  assert.equal(r.status, 1);
  assert.match(r.stderr, /list\.json does not hold a JSON object/);
  r = runReport([join(dir, 'nameless.json')]);
  assert.match(r.stderr, /nameless\.json has no "engine" name/);
  r = runReport([join(dir, 'absent.json')]);
  assert.equal(r.status, 1);
  assert.match(r.stderr, /cannot read .*absent\.json/);
  r = runReport([]);
  assert.equal(r.status, 2);
  assert.match(r.stderr, /no result files/);
  r = runReport([join(dir, 'broken.json'), '--csv']);
  assert.equal(r.status, 2);
  assert.match(r.stderr, /--csv needs a file name/);
});
