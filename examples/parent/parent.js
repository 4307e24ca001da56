#!/usr/bin/env node
// A parent application for qkscan in Node.js, on the client library in clients/node.
//
//     QKSCAN=/path/to/qkscan node parent.js [--once] [--restart] [--stop-timeout=SECONDS] [ARGS...]
//
// Starts qkscan (the path in the environment variable QKSCAN, or "qkscan" on PATH) with the other
// arguments, and reacts to the lines it prints. Ctrl-C stops it the orderly way: a line and the
// end of its standard input, then SIGTERM after the stop timeout (default 1 s) and SIGKILL after
// another. With --once it is stopped after the first scan. With --restart a helper that ends
// unexpectedly is started again, 0.5 s later, then 1 s, 2 s, ... up to 30 s (but never after exit
// status 2: the permission is missing). Exits with qkscan's status.
'use strict';

const os = require('node:os');
const path = require('node:path');
const { Qkscan } = require(path.join(__dirname, '..', '..', 'clients', 'node'));

const RESTART = { initialDelay: 500, factor: 2, maxDelay: 30000, resetAfter: 30000 };

function parseArguments(argv) {
  const settings = { once: false, restart: false, stopTimeout: 1000, helperArgs: [] };
  for (const arg of argv) {
    const timeout = /^--stop-timeout=(.*)$/.exec(arg);
    if (arg === '--once') settings.once = true;
    else if (arg === '--restart') settings.restart = true;
    else if (timeout) settings.stopTimeout = Number(timeout[1]) * 1000;
    else settings.helperArgs.push(arg);
  }
  if (!(settings.stopTimeout > 0 && settings.stopTimeout < 2 ** 31)) return null;
  return settings;
}

// How a helper ended, as the parent reports it, and the status this program exits with.
function describe(exit) {
  if (exit.signal) {
    return {
      text: `qkscan was ended by signal ${exit.signal}`,
      status: 128 + (os.constants.signals[exit.signal] || 0),
    };
  }
  return { text: `qkscan exited with status ${exit.code}`, status: exit.code };
}

function show(message) {
  switch (message.type) {
    case 'ready':
      console.log('ready: qkscan is listening');
      break;
    case 're-enabled':
      console.log('re-enabled: qkscan is listening again');
      break;
    case 'dispatch-date':
      // A real application opens its dispatch-date dialog here.
      console.log('scan: dispatch-date received');
      break;
    case 'permission-required':
      // A real application shows this text to the user (it is empty in check mode).
      console.log(
        message.message ? `permission required: ${message.message}` : 'permission required',
      );
      break;
    case 'permission-present':
      console.log('permission present');
      break;
    default:
    // Other events come from newer versions of qkscan and are ignored.
  }
}

function main() {
  const settings = parseArguments(process.argv.slice(2));
  if (!settings) {
    console.error('usage: node parent.js [--once] [--restart] [--stop-timeout=SECONDS] [ARGS...]');
    process.exitCode = 64;
    return;
  }
  const helperPath = process.env.QKSCAN || 'qkscan';
  const helper = new Qkscan({
    path: helperPath,
    args: settings.helperArgs,
    stopTimeout: settings.stopTimeout,
    restart: settings.restart && RESTART,
  });

  helper.on('message', show);
  helper.on('invalid', (line) => console.error(`parent: not a qkscan message: ${line}`));
  if (settings.once) helper.on('dispatch-date', () => helper.stop());
  helper.on('restart', ({ exit, delay }) => {
    console.log(`${describe(exit).text}: restarting in ${delay / 1000} s`);
  });
  helper.on('exit', (exit) => {
    if (exit.reason === 'spawn-failed') {
      console.error(`parent: cannot start ${helperPath}: ${exit.error.message}`);
      process.exitCode = 127;
      return;
    }
    if (exit.forced) console.error(`parent: qkscan did not stop in time, sent ${exit.forced}`);
    const { text, status } = describe(exit);
    console.log(text);
    process.exitCode = status;
  });

  // qkscan runs in a process group of its own, so Ctrl-C reaches only this program, which then
  // stops qkscan so that it replays any keys it is holding.
  process.on('SIGINT', () => helper.stop());
  process.on('SIGTERM', () => helper.stop());
  // Every way this can fail (no such file, no permission, an end before "ready") is reported by
  // the 'exit' event above.
  helper.start().catch(() => {});
}

main();
