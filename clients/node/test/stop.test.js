'use strict';
// The stop sequence against stand-ins that do not stop: a line and the end of input at once,
// SIGTERM after the timeout, SIGKILL after another.
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const path = require('node:path');
const { describe, it } = require('node:test');
const { Qkscan } = require('..');
const {
  inject,
  host,
  fixture,
  scratch,
  read,
  injectEnv,
  within,
  asPlatform,
} = require('./support');

const options = { timeout: 20000 };
const TIMEOUT = 150;

async function stopUnresponsive(onTerm) {
  const work = scratch();
  try {
    const log = work.file('log', '');
    const env = { ...process.env, LOG: log, ON_TERM: onTerm };
    const helper = work.track(
      new Qkscan({ path: fixture('unresponsive'), env, stopTimeout: TIMEOUT }),
    );
    await within(helper.start(), 'start');
    const since = Date.now();
    const exit = await within(helper.stop(), 'stop');
    const took = Date.now() - since;
    return { exit, took, since, log: read(log).trim().split('\n') };
  } finally {
    await work.remove();
  }
}

describe('stop escalation', () => {
  it('writes a line, closes input, then SIGTERM, then SIGKILL', options, async () => {
    const { exit, took, since, log } = await stopUnresponsive('ignore');
    assert.equal(exit.reason, 'stopped');
    assert.equal(exit.signal, 'SIGKILL');
    assert.equal(exit.code, null);
    assert.equal(exit.forced, 'SIGKILL');
    assert.deepEqual(log.slice(0, 2), ['line:', 'eof']);
    assert.equal(log.length, 3);
    const [, termAt] = log[2].split(' ');
    assert.ok(
      Number(termAt) - since >= TIMEOUT - 10,
      `SIGTERM ${Number(termAt) - since} ms after stop()`,
    );
    assert.ok(took >= 2 * TIMEOUT - 10, `SIGKILL ${took} ms after stop()`);
  });

  it('stops at SIGTERM when that is enough', options, async () => {
    const { exit, took, log } = await stopUnresponsive('die');
    assert.deepEqual([exit.reason, exit.signal, exit.forced], ['stopped', 'SIGTERM', 'SIGTERM']);
    assert.deepEqual(log, ['line:', 'eof']);
    assert.ok(took >= TIMEOUT - 10, `ended ${took} ms after stop(), before the timeout`);
  });

  // Windows has no SIGTERM: the helper's own stop through its input is all there is before the
  // last resort, which terminates it (Node's kill() is TerminateProcess there).
  it('on Windows, sends no SIGTERM and terminates after twice the timeout', options, async () => {
    // With ON_TERM=die, a SIGTERM would have ended the stand-in after one timeout.
    const { exit, took, log } = await asPlatform('win32', () => stopUnresponsive('die'));
    assert.deepEqual([exit.reason, exit.signal, exit.forced], ['stopped', 'SIGKILL', 'SIGKILL']);
    assert.deepEqual(log, ['line:', 'eof']);
    assert.ok(took >= 2 * TIMEOUT - 10, `terminated ${took} ms after stop()`);
  });

  it('on Windows, a helper that stops on its input needs nothing more', options, async () => {
    const work = scratch();
    try {
      const helper = work.track(
        new Qkscan({ path: inject, env: injectEnv(work, []), stopTimeout: TIMEOUT }),
      );
      await within(helper.start(), 'start');
      const exit = await asPlatform('win32', () => within(helper.stop(), 'stop'));
      assert.deepEqual(
        [exit.reason, exit.code, exit.signal, exit.forced],
        ['stopped', 0, null, null],
      );
    } finally {
      await work.remove();
    }
  });

  it('with timeout Infinity, never signals', options, async () => {
    const work = scratch();
    try {
      const env = { ...process.env, LOG: work.file('log', ''), ON_TERM: 'die' };
      const helper = work.track(new Qkscan({ path: fixture('unresponsive'), env }));
      await within(helper.start(), 'start');
      const stopped = helper.stop({ timeout: Infinity });
      await new Promise((resolve) => setTimeout(resolve, 3 * TIMEOUT));
      assert.equal(helper.state, 'stopping');
      process.kill(helper.pid, 'SIGTERM'); // ends it for the test
      const exit = await within(stopped, 'stop');
      assert.deepEqual([exit.signal, exit.forced], ['SIGTERM', null]);
    } finally {
      await work.remove();
    }
  });
});

// A script in a fresh Node.js process: the library must leave nothing behind that keeps the
// event loop going once the helper has ended.
describe('the event loop', () => {
  const run = (body, env) =>
    spawnSync(process.execPath, ['-e', body], {
      env: { ...process.env, ...env, CLIENT: path.resolve(__dirname, '..') },
      encoding: 'utf8',
      timeout: 15000,
    });

  const cases = [
    [
      'after a stop with a long timeout',
      `const { Qkscan } = require(process.env.CLIENT);
       const helper = new Qkscan({ path: process.env.HELPER, stopTimeout: 10000 });
       helper.start().then(() => helper.stop()).then((exit) => console.log(exit.reason));`,
      inject,
      'stopped',
    ],
    [
      'after a permission exit with restarts on',
      `const { Qkscan } = require(process.env.CLIENT);
       const helper = new Qkscan({ path: process.env.HELPER, stopTimeout: 10000, restart: true });
       helper.start().catch((error) => console.log(error.code));`,
      host,
      'PERMISSION_REQUIRED',
    ],
  ];
  for (const [name, body, helperPath, printed] of cases) {
    it(`is not kept alive ${name}`, options, async () => {
      const work = scratch();
      try {
        const since = Date.now();
        const result = run(body, { HELPER: helperPath, ...injectEnv(work, []) });
        assert.equal(result.error, undefined, 'the script did not end by itself');
        assert.equal(result.stdout.trim(), printed, result.stderr);
        assert.equal(result.status, 0);
        assert.ok(Date.now() - since < 5000, `the script took ${Date.now() - since} ms`);
      } finally {
        await work.remove();
      }
    });
  }
});
