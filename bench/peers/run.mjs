#!/usr/bin/env node
// Runs one peer engine (ghostery, ubo, ubo-wasm) over the benchmark data and
// writes one JSON document with its build, memory, image and per-request
// figures, in the same layout as tessul's own benchmark output.
//
//   node --expose-gc bench/peers/run.mjs ENGINE [--scale N --generated DIR]
//                                        [--out FILE] [--data DIR]
//
// --scale N builds from the bundled lists and N - 1 generated copies of them
// (bench/lists/generate.mjs writes them to DIR).
//
// Memory: V8's heapUsed + external (typed arrays included) after several
// global.gc() calls, as growth over the figure taken just before the engine
// is made. A parsed engine is measured first thing in the process, from a
// fresh copy of the list texts that is dropped once it is built (an engine
// that keeps slices of the text keeps it whole). A loaded engine is measured
// in a child process (uBO keeps its grown buffers after a reset): from before
// the image file is read, with the image dropped once loaded, so an engine
// that keeps its image holds it in the figure.
//
// Per-request timing: every request is converted to the engine's request
// object before any timing; then one warm-up pass over all requests and five
// timed passes; each single match call is timed on its own with
// process.hrtime.bigint() and the figure kept per request is the minimum over
// the five passes.

import { spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { BUNDLED_LISTS, generatedListPath } from '../lists/generate.mjs';

const HERE = dirname(fileURLToPath(import.meta.url));
const REPO = resolve(HERE, '..', '..');
const require = createRequire(import.meta.url);

const BUILDS = 5;
const SAVES = 5;
const LOADS = 5;
const TIMED_PASSES = 5;
const CLOCK_SAMPLES = 100001;
const MAX_SCALE = 64;
// uBO's package ships its public suffix list in a form its own loader
// rejects, and then runs without one: every two hosts that differ are then
// third-party to each other. It is given Debian's list (package publicsuffix).
const PUBLIC_SUFFIX_LIST = '/usr/share/publicsuffix/public_suffix_list.dat';

const CORPORA = { pageloads: 'pageloads.tsv', 'peer-dev': 'peer-dev.tsv' };
const REQUEST_TYPES = new Set([
  'document', 'subdocument', 'script', 'image', 'stylesheet', 'object',
  'xmlhttprequest', 'font', 'media', 'websocket', 'ping', 'other',
]);

// Both peers take the browser's webRequest type names.
const WEBREQUEST_TYPE = {
  document: 'main_frame',
  subdocument: 'sub_frame',
  script: 'script',
  image: 'image',
  stylesheet: 'stylesheet',
  object: 'object',
  xmlhttprequest: 'xmlhttprequest',
  font: 'font',
  media: 'media',
  websocket: 'websocket',
  ping: 'ping',
  other: 'other',
};

class UsageError extends Error {}
// Bad data files: reported by their message alone.
class InputError extends Error {}

function usage() {
  return (
    'usage: node --expose-gc bench/peers/run.mjs ghostery|ubo|ubo-wasm [--scale N --generated DIR]\n' +
    '                                            [--out FILE] [--data DIR]'
  );
}

const VALUE_FLAGS = ['--out', '--data', '--scale', '--generated', '--load-memory'];

function parseArgs(argv) {
  const args = { engine: null, out: null, data: join(REPO, 'data'), scale: '1', generated: null, 'load-memory': null };
  for (let i = 0; i < argv.length; i++) {
    const a = argv[i];
    if (VALUE_FLAGS.includes(a)) {
      if (i + 1 >= argv.length) throw new UsageError(`${a} needs a value`);
      args[a.slice(2)] = argv[++i];
    } else if (a === '-h' || a === '--help') {
      process.stdout.write(usage() + '\n');
      process.exit(0);
    } else if (a.startsWith('-')) {
      throw new UsageError(`unknown option ${a}`);
    } else if (args.engine === null) {
      args.engine = a;
    } else {
      throw new UsageError(`unexpected argument ${a}`);
    }
  }
  if (args.engine === null) throw new UsageError('no engine named');
  if (!(args.engine in ADAPTERS)) throw new UsageError(`unknown engine "${args.engine}"`);
  const scale = Number(args.scale);
  if (!Number.isInteger(scale) || scale < 1 || scale > MAX_SCALE) {
    throw new UsageError(`--scale takes a whole number from 1 to ${MAX_SCALE}`);
  }
  if (scale > 1 && args.generated === null) throw new UsageError('--scale above 1 needs --generated DIR');
  return { ...args, scale };
}

function readText(path) {
  try {
    return readFileSync(path, 'utf8');
  } catch (err) {
    throw new InputError(`cannot read ${path}: ${err.message}`);
  }
}

// Reads a request file: url <TAB> type <TAB> page host, '#' lines are comments.
function readCorpus(path) {
  const requests = [];
  const lines = readText(path).split('\n');
  for (let i = 0; i < lines.length; i++) {
    const line = lines[i].replace(/\r$/, '');
    if (line === '' || line.startsWith('#')) continue;
    const fields = line.split('\t');
    const where = `${path}:${i + 1}`;
    if (fields.length < 2 || fields.length > 3) {
      throw new InputError(`${where}: expected url<TAB>type<TAB>page host, got ${fields.length} field(s)`);
    }
    const [url, type, pageHost = ''] = fields;
    if (url === '') throw new InputError(`${where}: empty url`);
    if (!REQUEST_TYPES.has(type)) throw new InputError(`${where}: unknown request type "${type}"`);
    requests.push({ url, type, pageHost });
  }
  if (requests.length === 0) throw new InputError(`${path}: no requests`);
  return requests;
}

// The bundled lists, then scale - 1 generated copies of them.
function readLists(args) {
  const lists = BUNDLED_LISTS.map((name) => readText(join(args.data, name)));
  for (let k = 1; k < args.scale; k++) lists.push(readText(generatedListPath(args.generated, k)));
  return lists;
}

function sourceUrl(pageHost) {
  return pageHost === '' ? '' : `https://${pageHost}/`;
}

function packageVersion(name) {
  const path = require.resolve(`${name}/package.json`);
  return JSON.parse(readFileSync(path, 'utf8')).version;
}

// ---------------------------------------------------------------------------
// Engines. Each adapter builds from the list texts, saves, loads, converts
// requests and gives the single call that is timed.

async function ghosteryAdapter() {
  const { FiltersEngine, Request } = await import('@ghostery/adblocker');
  // Network filters only: the benchmark compares request matching, and the
  // uBO core engine holds no cosmetic filters either.
  const config = { loadCosmeticFilters: false };
  return {
    version: packageVersion('@ghostery/adblocker'),
    notes: [
      'FiltersEngine.parse(easylist + "\\n" + easyprivacy [+ "\\n" + each generated copy], {loadCosmeticFilters: false}), other options at their defaults (in-memory bucket cache on)',
      'request objects are Request.fromRawDetails({url, type, sourceUrl}); a Request keeps its tokens after the first match, so the timed passes reuse them',
      'blocked = engine.match(request).match',
    ],
    build(lists) {
      return FiltersEngine.parse(lists.join('\n'), config);
    },
    save(engine) {
      return engine.serialize();
    },
    imageBytes(image) {
      return image.byteLength;
    },
    writeImage(image, path) {
      writeFileSync(path, image);
    },
    readImage(path) {
      return readFileSync(path);
    },
    load(image) {
      return FiltersEngine.deserialize(image);
    },
    toRequest(r) {
      return Request.fromRawDetails({
        url: r.url,
        type: WEBREQUEST_TYPE[r.type],
        sourceUrl: sourceUrl(r.pageHost),
      });
    },
    matcher(engine) {
      return (request) => engine.match(request);
    },
    isBlocked(result) {
      return result.match === true;
    },
  };
}

async function uboAdapter(wasm) {
  const ubo = await import('@gorhill/ubo-core');
  const notes = [
    'StaticNetFilteringEngine is a single instance: each build or load replaces its content',
    'useLists([{name: "easylist", raw}, {name: "easyprivacy", raw}, ...one entry per generated copy])',
    'request objects are {originURL, url, type}; matchRequest() parses them into its filtering context on every call, so that work is inside the timed call',
    'blocked = matchRequest(details) === 1 (2 means an exception allowed it)',
    'image is the string from serialize(), counted in UTF-8 bytes',
  ];
  if (wasm) {
    if ((await ubo.enableWASM()) !== true) {
      throw new Error('uBO could not enable its WASM matchers');
    }
    notes.push('enableWASM() returned true before the engine was created');
  }
  if (!ubo.pslInit(readText(PUBLIC_SUFFIX_LIST))) throw new Error(`uBO refused ${PUBLIC_SUFFIX_LIST}`);
  notes.push(`public suffix list: pslInit(${PUBLIC_SUFFIX_LIST}), the one in the package does not load`);
  const snfe = await ubo.StaticNetFilteringEngine.create({ noPSL: true });
  const NAMES = BUNDLED_LISTS.map((file) => file.replace(/\.txt$/, ''));
  return {
    version: packageVersion('@gorhill/ubo-core'),
    notes,
    async build(lists) {
      await snfe.useLists(lists.map((raw, i) => ({ name: NAMES[i] ?? `generated${i - 1}`, raw })));
      return snfe;
    },
    async save() {
      return snfe.serialize();
    },
    imageBytes(image) {
      return Buffer.byteLength(image, 'utf8');
    },
    writeImage(image, path) {
      writeFileSync(path, image, 'utf8');
    },
    readImage(path) {
      return readFileSync(path, 'utf8');
    },
    async load(image) {
      const ok = await snfe.deserialize(image);
      if (ok !== true) throw new Error('uBO refused its own serialized engine');
      return snfe;
    },
    toRequest(r) {
      return { originURL: sourceUrl(r.pageHost), url: r.url, type: WEBREQUEST_TYPE[r.type] };
    },
    matcher() {
      return (details) => snfe.matchRequest(details);
    },
    isBlocked(result) {
      return result === 1;
    },
  };
}

const ADAPTERS = {
  ghostery: () => ghosteryAdapter(),
  ubo: () => uboAdapter(false),
  'ubo-wasm': () => uboAdapter(true),
};

// ---------------------------------------------------------------------------
// Measurement helpers.

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  const n = sorted.length;
  return n % 2 === 1 ? sorted[(n - 1) / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
}

async function timedMs(fn) {
  const start = process.hrtime.bigint();
  const value = await fn();
  const end = process.hrtime.bigint();
  return { ms: Number(end - start) / 1e6, value };
}

function settle() {
  for (let i = 0; i < 3; i++) global.gc();
}

// Memory of the process as the benchmark counts it, after garbage collection:
// V8's heap in use and the memory it accounts outside the heap (typed
// arrays); and the resident set.
function memoryInUse() {
  settle();
  const m = process.memoryUsage();
  return { bytes: m.heapUsed + m.external, rss: m.rss };
}

// A copy of a string that shares no memory with it.
function freshCopy(text) {
  return Buffer.from(text, 'utf8').toString('utf8');
}

function clockOverheadNs() {
  const samples = new Float64Array(CLOCK_SAMPLES);
  for (let i = 0; i < CLOCK_SAMPLES; i++) {
    const a = process.hrtime.bigint();
    const b = process.hrtime.bigint();
    samples[i] = Number(b - a);
  }
  return median(samples);
}

function decide(adapter, engine, requests) {
  const match = adapter.matcher(engine);
  return requests.map((request) => (adapter.isBlocked(match(request)) ? 1 : 0));
}

function countDiffering(a, b) {
  let n = 0;
  for (let i = 0; i < a.length; i++) if (a[i] !== b[i]) n++;
  return n;
}

// One warm-up pass, then TIMED_PASSES passes timing each call on its own;
// keeps per request the minimum over the timed passes.
function timeRequests(adapter, engine, requests) {
  const match = adapter.matcher(engine);
  const n = requests.length;
  const best = new Float64Array(n).fill(Infinity);
  const results = new Array(n);
  const decisions = new Array(n);
  for (let i = 0; i < n; i++) results[i] = match(requests[i]);
  for (let pass = 0; pass < TIMED_PASSES; pass++) {
    for (let i = 0; i < n; i++) {
      const request = requests[i];
      const t0 = process.hrtime.bigint();
      const result = match(request);
      const t1 = process.hrtime.bigint();
      const ns = Number(t1 - t0);
      if (ns < best[i]) best[i] = ns;
      results[i] = result;
    }
    for (let i = 0; i < n; i++) {
      const d = adapter.isBlocked(results[i]) ? 1 : 0;
      if (pass > 0 && decisions[i] !== d) {
        throw new Error(`decision for request ${i + 1} changed between passes`);
      }
      decisions[i] = d;
    }
  }
  return { times: Array.from(best), decisions };
}

// ---------------------------------------------------------------------------

// Engines kept alive until their memory has been read.
const kept = [];

// Child process of measureLoadedMemory(): loads the image file and prints
// what the loaded engine holds.
async function printLoadedMemory(args) {
  const adapter = await ADAPTERS[args.engine]();
  const before = memoryInUse();
  let image = adapter.readImage(args['load-memory']);
  kept.push(await adapter.load(image));
  image = null;
  const after = memoryInUse();
  process.stdout.write(JSON.stringify({ load_memory_bytes: after.bytes - before.bytes }) + '\n');
}

// The memory of an engine loaded from `image`, measured in a fresh process.
function measureLoadedMemory(args, adapter, image) {
  const dir = mkdtempSync(join(tmpdir(), 'bench-peers-'));
  try {
    const file = join(dir, 'image');
    adapter.writeImage(image, file);
    const child = spawnSync(
      process.execPath,
      [...process.execArgv, fileURLToPath(import.meta.url), args.engine, '--load-memory', file],
      { encoding: 'utf8', maxBuffer: 1 << 20 },
    );
    if (child.status !== 0) {
      throw new Error(`measuring the loaded engine failed: ${(child.stderr || child.error || '').toString().trim()}`);
    }
    return JSON.parse(child.stdout).load_memory_bytes;
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
}

async function main() {
  const args = parseArgs(process.argv.slice(2));
  if (typeof global.gc !== 'function') {
    throw new UsageError('global.gc() is missing: run node with --expose-gc');
  }
  if (args['load-memory'] !== null) {
    await printLoadedMemory(args);
    return;
  }

  const lists = readLists(args);
  const corpora = Object.entries(CORPORA).map(([name, file]) => ({
    name,
    requests: readCorpus(join(args.data, file)),
  }));

  const adapter = await ADAPTERS[args.engine]();
  const notes = [...adapter.notes];

  // Memory of one engine, measured first so that nothing built before has
  // grown the engine's buffers or left pages behind in the RSS.
  const before = memoryInUse();
  let fresh = lists.map(freshCopy);
  kept.push(await adapter.build(fresh));
  fresh = null;
  const after = memoryInUse();
  kept.length = 0;

  const buildMs = [];
  let engine = null;
  for (let i = 0; i < BUILDS; i++) {
    engine = null;
    settle();
    const { ms, value } = await timedMs(() => adapter.build(lists));
    buildMs.push(ms);
    engine = value;
  }
  const parsed = engine;

  // Decisions of the parsed engine, to check the loaded one against.
  const parsedDecisions = corpora.map((c) => decide(adapter, parsed, c.requests.map(adapter.toRequest)));

  const saveMs = [];
  let image = null;
  for (let i = 0; i < SAVES; i++) {
    const { ms, value } = await timedMs(() => adapter.save(parsed));
    saveMs.push(ms);
    image = value;
  }
  const imageBytes = adapter.imageBytes(image);
  const loadMemoryBytes = measureLoadedMemory(args, adapter, image);

  const loadMs = [];
  let loaded = null;
  for (let i = 0; i < LOADS; i++) {
    loaded = null;
    settle();
    const { ms, value } = await timedMs(() => adapter.load(image));
    loadMs.push(ms);
    loaded = value;
  }
  corpora.forEach((c, k) => {
    const differ = countDiffering(parsedDecisions[k], decide(adapter, loaded, c.requests.map(adapter.toRequest)));
    if (differ !== 0) {
      throw new Error(`${c.name}: the engine loaded from its image decides ${differ} request(s) differently`);
    }
  });
  notes.push(
    'memory figures: growth of heapUsed + external after global.gc(); parse_memory_bytes: an engine built from a fresh copy of the list texts, dropped once built; load_memory_bytes: in a fresh process, an engine loaded from the image file read after the first figure, the image then dropped (an engine that keeps its image holds it)',
    'destroy_*_ms: not applicable, a JavaScript engine is released by dropping it and the garbage collector frees it later',
    'the engine loaded from its image decides every request as the parsed one does',
  );
  loaded = null;
  image = null;

  // Time the engine built from the lists (uBO: build it again, the load above
  // replaced its single instance).
  if (args.engine !== 'ghostery') engine = await adapter.build(lists);
  settle();

  const clockNs = clockOverheadNs();
  const out = {
    engine: args.engine,
    version: adapter.version,
    scale: args.scale,
    list_bytes: lists.reduce((sum, text) => sum + Buffer.byteLength(text, 'utf8'), 0) + lists.length - 1,
    parse_ms: round(median(buildMs), 3),
    destroy_parsed_ms: null,
    parse_memory_bytes: after.bytes - before.bytes,
    rss_bytes: after.rss - before.rss,
    image_bytes: imageBytes,
    save_ms: round(median(saveMs), 3),
    load_ms: round(median(loadMs), 3),
    destroy_loaded_ms: null,
    load_memory_bytes: loadMemoryBytes,
    clock_overhead_ns: clockNs,
    corpora: {},
    notes: '',
  };
  for (const c of corpora) {
    const requests = c.requests.map(adapter.toRequest);
    settle();
    const { times, decisions } = timeRequests(adapter, engine, requests);
    out.corpora[c.name] = {
      requests: requests.length,
      blocked: decisions.reduce((s, d) => s + d, 0),
      times_ns: times,
      decisions,
    };
  }
  notes.push(`node ${process.version}, ${process.arch}`);
  out.notes = notes.join('; ');

  const json = JSON.stringify(out) + '\n';
  if (args.out) {
    try {
      writeFileSync(args.out, json);
    } catch (err) {
      throw new InputError(`cannot write ${args.out}: ${err.message}`);
    }
  } else {
    process.stdout.write(json);
  }
}

function round(x, digits) {
  const f = 10 ** digits;
  return Math.round(x * f) / f;
}

main().catch((err) => {
  if (err instanceof UsageError) {
    process.stderr.write(`run.mjs: ${err.message}\n${usage()}\n`);
    process.exit(2);
  }
  if (err instanceof InputError) {
    process.stderr.write(`run.mjs: ${err.message}\n`);
    process.exit(1);
  }
  process.stderr.write(`run.mjs: ${err && err.stack ? err.stack : err}\n`);
  process.exit(1);
});
