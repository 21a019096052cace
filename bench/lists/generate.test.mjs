// Tests of the growth table's generated lists; run with
//   node --test bench/lists/

import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { BUNDLED_LISTS, generateCopies, generatedListPath, isRule, mutateRule, ruleKind, seededRandom } from './generate.mjs';

const HERE = dirname(fileURLToPath(import.meta.url));
const GENERATE = join(HERE, 'generate.mjs');
const DATA = join(HERE, '..', '..', 'data');

// Punctuation, option names, schemes and regex syntax are what make a rule's
// kind; a new rule keeps all of them.
function skeleton(rule) {
  return rule.replace(/[a-z]/g, 'a').replace(/[A-Z]/g, 'A').replace(/[0-9]/g, '0');
}

test('rules keep their kind and shape and get new names', () => {
  const random = seededRandom(7);
  const cases = [
    // rule, kind, the parts that must stay as they are
    ['||doubleclick.net^', 'host-only', ['||', '^']],
    ['||ads.example.com^$third-party', 'host-only, with options', ['$third-party']],
    ['||example.com/pagead/show_ads.js', 'host-anchored with path', ['||', '/', '_', '.']],
    ['/banner/ad_', 'plain pattern', ['/', '_']],
    ['|https://*.example.net/^$script,domain=news.example|~shop.example', 'plain pattern, with options',
      ['|https://*.', '/^$script,domain=', '|~']],
    ['@@||cdn.example.org/ads.js$script,domain=site.example', 'exception, host-anchored with path, with options',
      ['@@||', '$script,domain=']],
    ['/^https?:\\/\\/[a-z]{8,15}\\.xyz\\/\\d+$/$script,third-party', 'regex, with options',
      ['/^https?:\\/\\/[a-z]{8,15}\\.', '\\/\\d+$/$script,third-party']],
    ['example.com,~shop.example##.ad-banner', 'element hiding or HTML', [',~', '##.', '-']],
    ['##[data-ad-name]', 'element hiding or HTML', ['##[', '-', ']']],
  ];
  for (const [rule, kind, kept] of cases) {
    const made = mutateRule(rule, random);
    assert.equal(ruleKind(rule), kind, rule);
    assert.equal(ruleKind(made), kind, `${rule} -> ${made}`);
    assert.notEqual(made, rule);
    assert.equal(skeleton(made), skeleton(rule), `${rule} -> ${made}`);
    for (const part of kept) assert.ok(made.includes(part), `${made} lost "${part}"`);
  }
});

test('option values other than domain lists stay as they are', () => {
  const made = mutateRule('/ad.mp4$media,rewrite=abp-resource:blank-mp4,domain=a.example', seededRandom(1));
  assert.match(made, /\$media,rewrite=abp-resource:blank-mp4,domain=[a-z]\.[a-z]{7}$/);
});

test('comments, headers and blank lines are not rules', () => {
  for (const line of ['! Title: EasyList', '[Adblock Plus 2.0]', '', '   ']) assert.equal(isRule(line), false, line);
  for (const line of ['||a.example^', '##.ad', '@@/x/']) assert.equal(isRule(line), true, line);
});

test('copies of the bundled lists are distinct, repeatable and of the same kinds', () => {
  const lines = BUNDLED_LISTS.map((name) => readFileSync(join(DATA, name), 'utf8')).join('\n').split('\n');
  const first = generateCopies(lines, 2);
  const again = generateCopies(lines, 1);
  assert.deepEqual(again.copies[0], first.copies[0], 'the same seed makes the same rules');

  const rules = lines.map((l) => l.trim()).filter(isRule);
  assert.equal(first.rules, rules.length);
  assert.ok(first.unchanged <= 2 * 10, `${first.unchanged} rules had nothing to replace`);
  const all = new Set(rules);
  const kinds = (list) => list.reduce((m, r) => m.set(ruleKind(r), (m.get(ruleKind(r)) ?? 0) + 1), new Map());
  const realKinds = kinds(rules);
  assert.equal(first.copies[0].length + first.copies[1].length + first.unchanged, 2 * rules.length);
  for (const copy of first.copies) {
    for (const rule of copy) {
      assert.ok(!all.has(rule), `${rule} repeats a rule`);
      all.add(rule);
    }
    for (const [kind, count] of kinds(copy)) {
      assert.ok(Math.abs(count - realKinds.get(kind)) <= first.unchanged, `${kind}: ${count} of ${realKinds.get(kind)}`);
    }
  }
});

test('the command line writes one file per copy and rejects bad arguments', () => {
  const dir = mkdtempSync(join(tmpdir(), 'lists-'));
  const data = join(dir, 'data');
  mkdirSync(data);
  writeFileSync(join(data, BUNDLED_LISTS[0]), '! comment\n||a.example^\n/ads/banner.\n');
  writeFileSync(join(data, BUNDLED_LISTS[1]), '##.banner\n');
  const out = join(dir, 'out');
  let r = spawnSync(process.execPath, [GENERATE, '--copies', '2', '--out', out, '--data', data], { encoding: 'utf8' });
  assert.equal(r.status, 0, r.stderr);
  assert.match(r.stdout, /generated 2 copies of 3 rules/);
  for (const k of [1, 2]) {
    const text = readFileSync(generatedListPath(out, k), 'utf8').split('\n');
    assert.match(text[0], /^! /);
    assert.deepEqual(text.slice(1, 4).map(ruleKind), ['host-only', 'plain pattern', 'element hiding or HTML']);
  }
  for (const args of [['--copies', '0', '--out', out], ['--copies', '2'], ['--copies']]) {
    r = spawnSync(process.execPath, [GENERATE, ...args], { encoding: 'utf8' });
    assert.equal(r.status, 2, args.join(' '));
    assert.match(r.stderr, /usage:/);
  }
  r = spawnSync(process.execPath, [GENERATE, '--copies', '1', '--out', out, '--data', join(dir, 'none')], { encoding: 'utf8' });
  assert.equal(r.status, 1);
  assert.match(r.stderr, /cannot read the bundled lists/);
});
