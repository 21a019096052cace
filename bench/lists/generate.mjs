#!/usr/bin/env node
// Larger list sets for the benchmark's growth table. Copy k of the bundled
// lists (EasyList + EasyPrivacy) holds one new rule for every rule line of
// theirs, made by replacing each letter and digit with a random one of its
// kind: every '|', '^', '*', '$', '@@', '##', ',' and '~' stays where it was,
// and so do option names, URL schemes, regex escapes, classes and counts.
// So a copy has the same number of rules of each kind as the real lists, and
// scale N (the real lists and N - 1 copies) has N times their rules. Hosts,
// paths and domains are new, so the copies add work to every lookup without
// matching the requests of data/ (the report counts the decisions they change).
//
//   node bench/lists/generate.mjs --copies N --out DIR [--data DIR]
//
// writes DIR/generated-1.txt ... DIR/generated-N.txt. The output depends only
// on the bundled lists: the random numbers come from a fixed seed.

import { mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const HERE = dirname(fileURLToPath(import.meta.url));
export const BUNDLED_LISTS = ['easylist.txt', 'easyprivacy.txt'];
export const SEED = 0x7e55e1;
const MAX_COPIES = 64;
const ATTEMPTS = 16;  // draws for one rule before it counts as unchangeable

// The file of copy k (from 1), as the benchmarks read it.
export function generatedListPath(dir, k) {
  return join(dir, `generated-${k}.txt`);
}

// mulberry32: small, fast and the same on every machine.
export function seededRandom(seed) {
  let state = seed >>> 0;
  return () => {
    state = (state + 0x6d2b79f5) >>> 0;
    let t = state;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

// Comments, headers and blank lines are not rules.
export function isRule(line) {
  const text = line.trim();
  return text !== '' && !text.startsWith('!') && !text.startsWith('[');
}

// Element hiding and HTML rules: an optional domain list, then ##, #@#, #?#,
// #$# (with or without @) or $$, $@$.
const COSMETIC = /^[^/|$@]*(#@?[?$]?#|#@|\$@?\$)/;
// An option list: name or ~name, each with an optional =value.
const OPTION_LIST = /^~?[\w-]+(=[^,]*)?(,~?[\w-]+(=[^,]*)?)*$/;
const DOMAIN_OPTION = /^(domain|from|to|denyallow)=/;
const KEPT_WORDS = new Set(['http', 'https', 'ws', 'wss']);

// Where a network rule's options start (its last '$' followed by an option
// list), or -1.
function optionsStart(line) {
  const dollar = line.lastIndexOf('$');
  return dollar >= 0 && OPTION_LIST.test(line.slice(dollar + 1)) ? dollar : -1;
}

function isRegex(pattern) {
  return pattern.length > 1 && pattern.startsWith('/') && pattern.endsWith('/');
}

// The kind of a rule line, as the growth table's list sets keep them.
export function ruleKind(line) {
  if (COSMETIC.test(line)) return 'element hiding or HTML';
  const exception = line.startsWith('@@');
  const body = exception ? line.slice(2) : line;
  const cut = optionsStart(body);
  const pattern = cut < 0 ? body : body.slice(0, cut);
  let kind;
  if (isRegex(pattern)) kind = 'regex';
  else if (/^\|\|[^/^*|$]+\^?$/.test(pattern)) kind = 'host-only';
  else if (pattern.startsWith('||')) kind = 'host-anchored with path';
  else kind = 'plain pattern';
  return `${exception ? 'exception, ' : ''}${kind}${cut < 0 ? '' : ', with options'}`;
}

function isAlphanumeric(c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

function randomOfKind(c, random) {
  const pick = (first, count) => String.fromCharCode(first.charCodeAt(0) + Math.floor(random() * count));
  if (c >= 'a' && c <= 'z') return pick('a', 26);
  if (c >= 'A' && c <= 'Z') return pick('A', 26);
  return pick('0', 10);
}

// Replaces the letters and digits of a text with random ones of the same
// kind, except URL schemes and, in a regex, what changes its meaning: the
// character after a backslash and the insides of [...] and {...}.
export function scramble(text, random, { regex = false } = {}) {
  let out = '';
  let closing = null;
  for (let i = 0; i < text.length; i++) {
    const c = text[i];
    if (regex && c === '\\' && i + 1 < text.length) {
      out += c + text[++i];
    } else if (closing !== null) {
      if (c === closing) closing = null;
      out += c;
    } else if (regex && (c === '[' || c === '{')) {
      closing = c === '[' ? ']' : '}';
      out += c;
    } else if (isAlphanumeric(c)) {
      let end = i;
      while (end < text.length && isAlphanumeric(text[end])) end++;
      const run = text.slice(i, end);
      out += KEPT_WORDS.has(run.toLowerCase()) ? run : Array.from(run, (ch) => randomOfKind(ch, random)).join('');
      i = end - 1;
    } else {
      out += c;
    }
  }
  return out;
}

// Options keep their names and values, except the domain lists, which get
// new domains.
function scrambleOptions(options, random) {
  return options
    .split(',')
    .map((option) => {
      const name = DOMAIN_OPTION.exec(option);
      return name ? name[0] + scramble(option.slice(name[0].length), random) : option;
    })
    .join(',');
}

// One new rule of the same kind as `line`.
export function mutateRule(line, random) {
  const cut = COSMETIC.test(line) ? -1 : optionsStart(line);
  const rule = cut < 0 ? line : line.slice(0, cut);
  const regex = isRegex(rule.startsWith('@@') ? rule.slice(2) : rule);
  const made = scramble(rule, random, { regex });
  return cut < 0 ? made : made + '$' + scrambleOptions(line.slice(cut + 1), random);
}

// `copies` arrays of rules, copy k holding one new rule for each rule line
// of `lines`, in their order; every rule differs from the others and from
// every line of `lines`. Rules whose text has nothing to replace (such as
// "$ping,third-party") are left out: `unchanged` counts them.
export function generateCopies(lines, copies, seed = SEED) {
  const random = seededRandom(seed);
  const rules = lines.map((l) => l.trim()).filter(isRule);
  const seen = new Set(rules);
  const result = [];
  let unchanged = 0;
  for (let k = 0; k < copies; k++) {
    const copy = [];
    for (const rule of rules) {
      let attempt = 0;
      let made = mutateRule(rule, random);
      while (seen.has(made) && ++attempt < ATTEMPTS) made = mutateRule(rule, random);
      if (seen.has(made)) {
        unchanged++;
        continue;
      }
      seen.add(made);
      copy.push(made);
    }
    result.push(copy);
  }
  return { copies: result, rules: rules.length, unchanged };
}

function readLists(dataDir) {
  return BUNDLED_LISTS.map((name) => readFileSync(join(dataDir, name), 'utf8')).join('\n').split(/\r?\n|\r/);
}

function parseArgs(argv) {
  const args = { copies: null, out: null, data: resolve(HERE, '..', '..', 'data') };
  for (let i = 0; i < argv.length; i++) {
    const name = argv[i];
    if (!['--copies', '--out', '--data'].includes(name)) throw new Error(`unknown argument ${name}`);
    if (i + 1 >= argv.length) throw new Error(`${name} needs a value`);
    args[name.slice(2)] = argv[++i];
  }
  const copies = Number(args.copies);
  if (!Number.isInteger(copies) || copies < 1 || copies > MAX_COPIES) {
    throw new Error(`--copies takes a whole number from 1 to ${MAX_COPIES}`);
  }
  if (args.out === null) throw new Error('--out DIR is missing');
  return { ...args, copies };
}

function main() {
  let args;
  try {
    args = parseArgs(process.argv.slice(2));
  } catch (err) {
    process.stderr.write(`generate: ${err.message}\nusage: node bench/lists/generate.mjs --copies N --out DIR [--data DIR]\n`);
    process.exit(2);
  }
  let lines;
  try {
    lines = readLists(args.data);
  } catch (err) {
    process.stderr.write(`generate: cannot read the bundled lists: ${err.message}\n`);
    process.exit(1);
  }
  const { copies, rules, unchanged } = generateCopies(lines, args.copies);
  mkdirSync(args.out, { recursive: true });
  copies.forEach((copy, i) => {
    const header = `! Benchmark list: copy ${i + 1} of ${BUNDLED_LISTS.join(' + ')} with new names (seed ${SEED})`;
    writeFileSync(generatedListPath(args.out, i + 1), [header, ...copy, ''].join('\n'));
  });
  process.stdout.write(
    `generated ${args.copies} cop${args.copies === 1 ? 'y' : 'ies'} of ${rules} rules in ${args.out}` +
      ` (${unchanged / args.copies} rules without letters or digits to replace left out of each)\n`,
  );
}

if (process.argv[1] && resolve(process.argv[1]) === fileURLToPath(import.meta.url)) main();
