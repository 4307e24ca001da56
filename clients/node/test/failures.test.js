'use strict';
// A helper that cannot be started is a rejected promise, never an 'error' event; check() too.
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { describe, it } = require('node:test');
const { Qkscan, QkscanError, check } = require('..');
const { inject, host, fixture, scratch, sleep, within, asPlatform } = require('./support');

const options = { timeout: 20000 };

// Helper paths that cannot run, made in a scratch directory; the system's code for each.
function unstartable(work) {
  const script = work.file('not-executable', '#!/bin/sh\nexit 0\n');
  fs.chmodSync(script, 0o644);
  return [
    ['a missing file', path.join(work.dir, 'missing'), 'ENOENT'],
    ['a file without execute permission', script, 'EACCES'],
    ['a directory', work.dir, 'EACCES'],
  ];
}

describe('a helper that cannot be started', () => {
  it("rejects start() with the system's code, and never restarts", options, async () => {
    const work = scratch();
    try {
      for (const [name, helperPath, code] of unstartable(work)) {
        const helper = new Qkscan({ path: helperPath, restart: { initialDelay: 10 } });
        const seen = [];
        for (const event of ['exit', 'restart', 'message'])
          helper.on(event, () => seen.push(event));
        const error = await helper.start().then(
          () => assert.fail(`${name}: started`),
          (failure) => failure,
        );
        assert.ok(error instanceof QkscanError, name);
        assert.equal(error.code, code, name);
        assert.equal(error.reason, null, name);
        assert.equal(error.exit.reason, 'spawn-failed', name);
        assert.equal(error.exit.error.code, code, name);
        assert.equal(error.cause, error.exit.error, name);
        await sleep(50);
        assert.deepEqual(seen, ['exit'], name);
        assert.equal(helper.state, 'exited', name);
        assert.equal(await within(helper.stop(), 'stop'), error.exit, name);
      }
    } finally {
      await work.remove();
    }
  });

  it("rejects check() with the system's code", options, async () => {
    const work = scratch();
    try {
      for (const [name, helperPath, code] of unstartable(work)) {
        await assert.rejects(check({ path: helperPath }), (error) => {
          assert.ok(error instanceof QkscanError, name);
          assert.equal(error.code, code, name);
          return true;
        });
      }
    } finally {
      await work.remove();
    }
  });

  it('throws for options that name no helper', () => {
    for (const given of [undefined, null, {}, { path: '' }, { path: 3 }]) {
      assert.throws(() => new Qkscan(given), TypeError);
    }
    assert.throws(() => new Qkscan({ path: host, args: '--check' }), TypeError);
    assert.throws(() => new Qkscan({ path: host, stderr: 'file' }), TypeError);
    assert.throws(() => new Qkscan({ path: host, stopTimeout: -5 }), RangeError);
  });
});

describe('check()', () => {
  // The host build answers "permission-required" off macOS. Where a permission could let a
  // helper tap input that is false; on a host with nothing to tap it is an error of its own.
  const answers = [
    ['macOS', 'darwin', false],
    ['Windows', 'win32', false],
    ['Linux', 'linux', { code: 'UNSUPPORTED_PLATFORM', reason: 'unsupported-platform' }],
  ];
  for (const [name, platform, expected] of answers) {
    it(`on ${name}: true for the trusted test build, then the host build's answer`, options, () =>
      asPlatform(platform, async () => {
        assert.equal(await check({ path: inject }), true);
        const answer = await check({ path: host }).catch((error) => {
          assert.ok(error instanceof QkscanError);
          return { code: error.code, reason: error.reason };
        });
        assert.deepEqual(answer, expected);
      }),
    );
  }

  const failures = [
    ['no answer', {}, 'CHECK_FAILED'],
    ['a failure status', { STATUS: '1' }, 'CHECK_FAILED'],
    ['no end', { HANG: '1' }, 'TIMEOUT'],
  ];
  for (const [name, env, code] of failures) {
    it(`rejects ${name} with ${code}`, options, async () => {
      const since = Date.now();
      await assert.rejects(
        check({ path: fixture('silent'), env: { ...process.env, ...env }, timeout: 300 }),
        (error) => error instanceof QkscanError && error.code === code,
      );
      assert.ok(Date.now() - since < 5000);
    });
  }

  it('rejects bad options', async () => {
    await assert.rejects(check(), TypeError);
    await assert.rejects(check({ path: inject, stderr: 'pipe' }), TypeError);
    await assert.rejects(check({ path: inject, timeout: Infinity }), RangeError);
  });
});
