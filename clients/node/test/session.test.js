'use strict';
// The listening session through the library, against qkscan-inject: the real helper's start-up,
// main loop and stop paths, with input events from a file.
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const { describe, it } = require('node:test');
const { Qkscan } = require('..');
const {
  inject,
  scratch,
  read,
  waitForText,
  scanSteps,
  injectEnv,
  recordEvents,
  within,
} = require('./support');

const options = { timeout: 20000 };
const verdict = (step) => `"step":${step},"verdict":"drop"`;
const replayed = (step) => `"post":"pid","pid":501,"step":${step},`;

describe('listening session', () => {
  it('reports ready, then dispatch-date for a scan, and stops with status 0', options, async () => {
    const work = scratch();
    try {
      const env = injectEnv(work, scanSteps());
      const helper = work.track(new Qkscan({ path: inject, env }));
      const seen = recordEvents(helper, ['ready', 'dispatch-date', 're-enabled', 'exit']);
      const scanned = new Promise((resolve) => helper.once('dispatch-date', resolve));
      await within(helper.start(), 'start');
      assert.equal(helper.state, 'running');
      await within(scanned, 'dispatch-date');
      // Every key of the scan was swallowed.
      for (let step = 0; step < 16; step += 1) {
        assert.ok(await waitForText(env.QKSCAN_INJECT_RECORD, verdict(step)), `step ${step}`);
      }
      const exit = await within(helper.stop(), 'stop');
      assert.deepEqual(
        { reason: exit.reason, code: exit.code, signal: exit.signal, forced: exit.forced },
        { reason: 'stopped', code: 0, signal: null, forced: null },
      );
      assert.deepEqual(
        seen.map(([name]) => name),
        ['ready', 'dispatch-date', 'exit'],
      );
      assert.deepEqual(seen[1][1], { type: 'dispatch-date', event: 'dispatch-date', message: '' });
      assert.equal(helper.state, 'exited');
      assert.equal(helper.pid, null);
      assert.doesNotMatch(read(env.QKSCAN_INJECT_RECORD), /"post"/); // nothing given back
    } finally {
      await work.remove();
    }
  });

  it('replays a held key when stopped, before the helper exits 0', options, async () => {
    const work = scratch();
    try {
      const env = injectEnv(work, [{ at: 1, type: 'keyDown', key: 12 }]); // Q, then nothing
      const helper = work.track(new Qkscan({ path: inject, env }));
      await within(helper.start(), 'start');
      assert.ok(await waitForText(env.QKSCAN_INJECT_RECORD, verdict(0)), 'the key was not held');
      assert.doesNotMatch(read(env.QKSCAN_INJECT_RECORD), /"post"/);
      const exit = await within(helper.stop({ timeout: 5000 }), 'stop');
      assert.equal(exit.reason, 'stopped');
      assert.equal(exit.code, 0);
      assert.equal(exit.forced, null, 'the line and the end of input should have been enough');
      assert.match(read(env.QKSCAN_INJECT_RECORD), new RegExp(replayed(0)));
    } finally {
      await work.remove();
    }
  });

  it('reports a later ready as re-enabled, not as a new start', options, async () => {
    const work = scratch();
    try {
      const env = injectEnv(work, [
        { at: 1, type: 'tapDisabledByTimeout' },
        { at: 2, type: 'tapDisabledByUserInput' },
      ]);
      const helper = work.track(new Qkscan({ path: inject, env }));
      const seen = recordEvents(helper, ['ready', 're-enabled', 'restart']);
      const messages = helper.messages();
      let reenabled = 0;
      const twice = new Promise((resolve) =>
        helper.on('re-enabled', () => (reenabled += 1) === 2 && resolve()),
      );
      await within(helper.start(), 'start');
      await within(twice, 'second re-enabled');
      await within(helper.stop(), 'stop');
      assert.deepEqual(
        seen.map(([name, message]) => [name, message.type, message.event]),
        [
          ['ready', 'ready', 'ready'],
          ['re-enabled', 're-enabled', 'ready'],
          ['re-enabled', 're-enabled', 'ready'],
        ],
      );
      const types = [];
      for await (const message of messages) types.push(message.type);
      assert.deepEqual(types, ['ready', 're-enabled', 're-enabled']);
    } finally {
      await work.remove();
    }
  });

  it(
    'passes arguments on: --check in a listening object reports permission-present',
    options,
    async () => {
      const helper = new Qkscan({ path: inject, args: ['--check'] });
      const messages = [];
      helper.on('message', (message) => messages.push(message.type));
      const failure = await helper.start().then(
        () => null,
        (error) => error,
      );
      // Check mode never prints "ready": the start fails, with the answer delivered first.
      assert.equal(failure.code, 'ENDED');
      assert.equal(failure.exit.code, 0);
      assert.deepEqual(messages, ['permission-present']);
    },
  );

  it('starts the helper in a process group of its own', options, async () => {
    const work = scratch();
    try {
      const helper = work.track(new Qkscan({ path: inject, env: injectEnv(work, []) }));
      await within(helper.start(), 'start');
      const group = (pid) => Number(execFileSync('ps', ['-o', 'pgid=', '-p', String(pid)]));
      assert.equal(group(helper.pid), helper.pid);
      assert.notEqual(group(helper.pid), group(process.pid));
      await within(helper.stop(), 'stop');
    } finally {
      await work.remove();
    }
  });

  it('iterates the messages of a run and ends with it', options, async () => {
    const work = scratch();
    try {
      const helper = work.track(new Qkscan({ path: inject, env: injectEnv(work, scanSteps()) }));
      const messages = helper.messages(); // made before the run: waits for it
      helper.on('dispatch-date', () => helper.stop());
      await within(helper.start(), 'start');
      const got = [];
      for await (const message of messages) got.push(message.type);
      assert.deepEqual(got, ['ready', 'dispatch-date']);
      assert.equal(helper.lastExit.reason, 'stopped');
    } finally {
      await work.remove();
    }
  });
});

describe('stop() is safe at any moment', () => {
  it('before start, twice, and after the exit', options, async () => {
    const work = scratch();
    try {
      const helper = work.track(new Qkscan({ path: inject, env: injectEnv(work, []) }));
      assert.equal(await within(helper.stop(), 'stop'), null);
      assert.equal(helper.state, 'idle');
      await within(helper.start(), 'start');
      const first = helper.stop();
      const second = helper.stop({ timeout: 1 });
      assert.equal(first, second);
      const exit = await within(first, 'stop');
      assert.equal(exit.reason, 'stopped');
      assert.equal(exit.forced, null, "the second call must not shorten the first one's timeout");
      assert.equal(await within(helper.stop(), 'stop'), exit);
      assert.equal(await within(helper.wait(), 'end'), exit);
    } finally {
      await work.remove();
    }
  });

  it(
    'right after start, before ready: start() rejects with STOPPED, the helper exits 0',
    options,
    async () => {
      const work = scratch();
      try {
        const helper = work.track(new Qkscan({ path: inject, env: injectEnv(work, []) }));
        const started = helper.start();
        const stopped = helper.stop();
        await assert.rejects(started, (error) => error.code === 'STOPPED');
        const exit = await within(stopped, 'stop');
        assert.deepEqual([exit.reason, exit.code, exit.forced], ['stopped', 0, null]);
      } finally {
        await work.remove();
      }
    },
  );

  it('a new start after the exit starts a new helper', options, async () => {
    const work = scratch();
    try {
      const helper = work.track(new Qkscan({ path: inject, env: injectEnv(work, []) }));
      await within(helper.start(), 'start');
      const firstPid = helper.pid;
      await within(helper.stop(), 'stop');
      await within(helper.start(), 'start');
      assert.notEqual(helper.pid, firstPid);
      assert.equal(helper.state, 'running');
      assert.equal((await within(helper.stop(), 'stop')).reason, 'stopped');
    } finally {
      await work.remove();
    }
  });

  it('rejects a bad timeout without stopping', options, async () => {
    const work = scratch();
    try {
      const helper = work.track(new Qkscan({ path: inject, env: injectEnv(work, []) }));
      await within(helper.start(), 'start');
      for (const timeout of [-1, NaN, '100', 2 ** 31]) {
        await assert.rejects(helper.stop({ timeout }), RangeError);
      }
      assert.equal(helper.state, 'running');
      await within(helper.stop(), 'stop');
    } finally {
      await work.remove();
    }
  });
});
