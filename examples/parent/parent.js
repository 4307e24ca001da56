#!/usr/bin/env node
// A parent application for qkscan, in Node.js with no dependencies.
//
//     QKSCAN=/path/to/qkscan node parent.js [--once] [QKSCAN_ARGUMENTS...]
//
// Starts qkscan (the path in the environment variable QKSCAN, or "qkscan" on PATH) with the other
// arguments, and reacts to the lines it prints. Ctrl-C stops it the orderly way: by closing its
// standard input. With --once it is stopped after the first scan. Exits with qkscan's status.
'use strict';

const { spawn } = require('node:child_process');
const os = require('node:os');
const readline = require('node:readline');

const args = process.argv.slice(2);
const once = args.includes('--once');
const helperArgs = args.filter((arg) => arg !== '--once');
const helper = process.env.QKSCAN || 'qkscan';

// detached (setsid) keeps qkscan out of this terminal's process group, so that Ctrl-C
// reaches only this program, which then stops qkscan so that it replays any keys it is holding.
// qkscan keeps listening only while its standard input stays open.
const child = spawn(helper, helperArgs, { stdio: ['pipe', 'pipe', 'inherit'], detached: true });

let stopping = false;
function stop() {
  if (stopping) return;
  stopping = true;
  child.stdin.end(); // end of file: qkscan stops and exits 0
}
child.stdin.on('error', () => {}); // it has already ended
process.on('SIGINT', stop);
process.on('SIGTERM', stop);

child.on('error', (error) => {
  console.error(`parent: cannot start ${helper}: ${error.message}`);
  process.exit(127);
});

const lines = readline.createInterface({ input: child.stdout, crlfDelay: Infinity });
lines.on('line', (line) => {
  let event;
  let text;
  try {
    ({ event, message: text } = JSON.parse(line));
  } catch {
    console.error(`parent: not a qkscan message: ${line}`);
    return;
  }
  switch (event) {
    case 'ready':
      console.log('ready: qkscan is listening');
      break;
    case 'dispatch-date':
      // A real application opens its dispatch-date dialog here.
      console.log('scan: dispatch-date received');
      if (once) stop();
      break;
    case 'permission-required':
      // A real application shows this text to the user (it is empty in check mode).
      console.log(text ? `permission required: ${text}` : 'permission required');
      break;
    case 'permission-present':
      console.log('permission present');
      break;
    default:
    // Other events come from newer versions of qkscan and are ignored.
  }
});

// 'close' comes once qkscan has ended and its output has been read to the end.
child.on('close', (status, signal) => {
  if (signal) {
    console.log(`qkscan was ended by signal ${signal}`);
    process.exitCode = 128 + (os.constants.signals[signal] || 0);
  } else {
    console.log(`qkscan exited with status ${status}`);
    process.exitCode = status;
  }
});
