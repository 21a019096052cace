#!/usr/bin/env node
// Puts the benchmark documents of tessul and its peers side by side.
//
//   node bench/report/report.mjs RESULT.json... [--csv FILE] [--svg FILE]
//
// Prints the table to stdout; --csv writes every figure as
// engine,corpus,metric,value; --svg writes the per-request latency CDFs.

import { readFileSync, writeFileSync } from 'node:fs';
import { renderCsv, renderSvg, renderText, summarize } from './lib.mjs';

class UsageError extends Error {}

const USAGE = 'usage: node bench/report/report.mjs RESULT.json... [--csv FILE] [--svg FILE]';

function parseArgs(argv) {
  const args = { files: [], csv: null, svg: null };
  for (let i = 0; i < argv.length; i++) {
    const a = argv[i];
    if (a === '--csv' || a === '--svg') {
      if (i + 1 >= argv.length) throw new UsageError(`${a} needs a file name`);
      args[a.slice(2)] = argv[++i];
    } else if (a === '-h' || a === '--help') {
      process.stdout.write(USAGE + '\n');
      process.exit(0);
    } else if (a.startsWith('--')) {
      throw new UsageError(`unknown option ${a}`);
    } else {
      args.files.push(a);
    }
  }
  if (args.files.length === 0) throw new UsageError('no result files given');
  return args;
}

function readDocument(path) {
  let text;
  try {
    text = readFileSync(path, 'utf8');
  } catch (err) {
    throw new Error(`cannot read ${path}: ${err.message}`);
  }
  let doc;
  try {
    doc = JSON.parse(text);
  } catch (err) {
    throw new Error(`${path} is not JSON: ${err.message}`);
  }
  if (doc === null || typeof doc !== 'object' || Array.isArray(doc)) {
    throw new Error(`${path} does not hold a JSON object`);
  }
  if (typeof doc.engine !== 'string' || doc.engine === '') {
    throw new Error(`${path} has no "engine" name`);
  }
  return doc;
}

function write(path, text) {
  try {
    writeFileSync(path, text);
  } catch (err) {
    throw new Error(`cannot write ${path}: ${err.message}`);
  }
}

function main() {
  const args = parseArgs(process.argv.slice(2));
  const summary = summarize(args.files.map(readDocument));
  for (const e of summary.engines) {
    for (const [c, s] of Object.entries(e.corpora)) {
      if (s.droppedTimes > 0) process.stderr.write(`report: ${e.name}/${c}: ignored ${s.droppedTimes} time(s) that are not numbers\n`);
      if (e !== summary.tessul && s.differFromTessul === null && summary.tessul?.corpora[c]) {
        process.stderr.write(`report: ${e.name}/${c}: decisions missing or of another length than tessul's\n`);
      }
    }
  }
  process.stdout.write(renderText(summary));
  if (args.csv) write(args.csv, renderCsv(summary));
  if (args.svg) write(args.svg, renderSvg(summary));
}

try {
  main();
} catch (err) {
  process.stderr.write(`report: ${err.message}\n`);
  if (err instanceof UsageError) {
    process.stderr.write(USAGE + '\n');
    process.exit(2);
  }
  process.exit(1);
}
