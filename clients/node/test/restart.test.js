'use strict';
// Restarts after an unexpected exit: with growing pauses, and never where they must not happen.
const assert = require('node:assert/strict');
const { describe, it } = require('node:test');
const { Qkscan } = require('..');
const { host, fixture, scratch, read, sleep, recordEvents, TEXT_A, within } = require('./support');

const options = { timeout: 20000 };
const restart = { initialDelay: 40, factor: 2, maxDelay: 200, resetAfter: 60000 };

// A Qkscan on the "flaky" stand-in; `starts()` lists when each of its helpers started (ms).
function flaky(work, env, extra = {}) {
  const startsFile = work.file('starts', '');
  const helper = work.track(
    new Qkscan({
      path: fixture('flaky'),
      env: { ...process.env, STARTS: startsFile, ...env },
      restart,
      ...extra,
    }),
  );
  const starts = () => read(startsFile).trim().split('\n').filter(Boolean).map(Number);
  return { helper, starts };
}

const settle = () => sleep(restart.maxDelay * 2); // long enough for a restart that must not come

describe('restart', () => {
  it('starts the helper again after crashes, waiting longer each time', options, async () => {
    const work = scratch();
    try {
      const { helper, starts } = flaky(work, { CRASHES: '3' });
      const seen = recordEvents(helper, ['ready', 'restart', 'exit']);
      const readyFourTimes = new Promise((resolve) => {
        let count = 0;
        helper.on('ready', () => (count += 1) === 4 && resolve());
      });
      await within(helper.start(), 'start');
      await within(readyFourTimes, 'fourth ready');
      assert.equal(helper.state, 'running');
      const restarts = seen.filter(([name]) => name === 'restart').map(([, info]) => info);
      assert.deepEqual(
        restarts.map(({ attempt, delay, exit }) => [attempt, delay, exit.reason, exit.code]),
        [
          [1, 40, 'ended', 3],
          [2, 80, 'ended', 3],
          [3, 160, 'ended', 3],
        ],
      );
      const times = starts();
      assert.equal(times.length, 4);
      for (let i = 1; i < times.length; i += 1) {
        const pause = times[i] - times[i - 1];
        assert.ok(pause >= restarts[i - 1].delay - 5, `restart ${i} came after ${pause} ms`);
      }
      const exit = await within(helper.stop(), 'stop');
      assert.deepEqual([exit.reason, exit.code], ['stopped', 0]);
      assert.equal(seen.filter(([name]) => name === 'exit').length, 1);
    } finally {
      await work.remove();
    }
  });

  it('gives up after maxRestarts, never faster than the delays', options, async () => {
    const work = scratch();
    try {
      const { helper, starts } = flaky(work, {}, { restart: { ...restart, maxRestarts: 4 } });
      const messages = helper.messages();
      await within(helper.start(), 'start');
      const exit = await within(helper.wait(), 'end');
      assert.deepEqual([exit.reason, exit.code], ['ended', 3]);
      assert.equal(helper.state, 'exited');
      assert.equal(starts().length, 5);
      const span = starts()[4] - starts()[0];
      assert.ok(span >= 40 + 80 + 160 + 200 - 20, `five starts within ${span} ms`);
      let readies = 0;
      for await (const message of messages) readies += message.type === 'ready';
      assert.equal(readies, 5);
    } finally {
      await work.remove();
    }
  });

  it('starts again at the initial delay after a healthy run', options, async () => {
    const work = scratch();
    try {
      const policy = { ...restart, resetAfter: 100 };
      // Crashes at once twice, then listens: stopped by SIGKILL from the test once it has
      // listened longer than resetAfter.
      const { helper } = flaky(work, { CRASHES: '2' }, { restart: policy });
      const delays = [];
      helper.on('restart', ({ delay }) => delays.push(delay));
      const third = new Promise((resolve) => {
        let count = 0;
        helper.on('ready', () => (count += 1) === 3 && resolve());
      });
      await within(helper.start(), 'start');
      await within(third, 'third ready');
      await sleep(policy.resetAfter + 50);
      const restarted = new Promise((resolve) => helper.once('restart', resolve));
      process.kill(helper.pid, 'SIGKILL');
      const info = await within(restarted, 'restart');
      assert.deepEqual([info.exit.reason, info.exit.signal], ['ended', 'SIGKILL']);
      assert.deepEqual(delays, [40, 80, 40]);
      await within(helper.stop(), 'stop');
    } finally {
      await work.remove();
    }
  });
});

describe('no restart', () => {
  it('after exit status 2, even in a run that was ready', options, async () => {
    const work = scratch();
    try {
      const last = JSON.stringify({ event: 'permission-required', message: TEXT_A });
      const { helper, starts } = flaky(work, { STATUS: '2', LAST: last });
      const seen = recordEvents(helper, ['restart', 'permission-required']);
      await within(helper.start(), 'start');
      const exit = await within(helper.wait(), 'end');
      await settle();
      assert.deepEqual([exit.reason, exit.code, exit.text], ['permission-required', 2, TEXT_A]);
      assert.deepEqual(
        seen.map(([name]) => name),
        ['permission-required'],
      );
      assert.equal(starts().length, 1);
    } finally {
      await work.remove();
    }
  });

  it('after status 2 of the host build, whose start rejects with text A', options, async () => {
    const helper = new Qkscan({ path: host, restart });
    const seen = recordEvents(helper, ['restart', 'exit']);
    const error = await helper.start().then(
      () => assert.fail('the host build cannot listen'),
      (failure) => failure,
    );
    assert.equal(error.code, 'PERMISSION_REQUIRED');
    assert.equal(error.text, TEXT_A);
    assert.deepEqual(
      [error.exit.reason, error.exit.code, error.exit.text],
      ['permission-required', 2, TEXT_A],
    );
    await settle();
    assert.deepEqual(
      seen.map(([name]) => name),
      ['exit'],
    );
    assert.equal(helper.pid, null);
  });

  it('when the first helper ends before ready: start() rejects', options, async () => {
    const work = scratch();
    try {
      const { helper, starts } = flaky(work, { BEFORE_READY: '1' });
      await assert.rejects(helper.start(), (error) => {
        assert.equal(error.code, 'ENDED');
        assert.deepEqual([error.exit.reason, error.exit.code], ['ended', 3]);
        return true;
      });
      await settle();
      assert.equal(starts().length, 1);
    } finally {
      await work.remove();
    }
  });

  it('after stop(), also when stopped while a restart is pending', options, async () => {
    const work = scratch();
    try {
      const { helper, starts } = flaky(work, {}, { restart: { ...restart, initialDelay: 150 } });
      const pending = new Promise((resolve) => helper.once('restart', resolve));
      await within(helper.start(), 'start');
      const { exit: crashed } = await within(pending, 'restart');
      assert.equal(helper.state, 'restarting');
      assert.equal(helper.pid, null);
      const exit = await within(helper.stop(), 'stop');
      assert.equal(exit, crashed, 'the run ends with how its last helper ended');
      assert.equal(helper.state, 'exited');
      await settle();
      assert.equal(starts().length, 1);
    } finally {
      await work.remove();
    }
  });

  it('after stop() of a running helper', options, async () => {
    const work = scratch();
    try {
      const { helper, starts } = flaky(work, { CRASHES: '0' });
      const seen = recordEvents(helper, ['restart']);
      await within(helper.start(), 'start');
      assert.equal((await within(helper.stop(), 'stop')).reason, 'stopped');
      await settle();
      assert.deepEqual(seen, []);
      assert.equal(starts().length, 1);
    } finally {
      await work.remove();
    }
  });

  it('without the restart option', options, async () => {
    const work = scratch();
    try {
      const { helper, starts } = flaky(work, {}, { restart: false });
      await within(helper.start(), 'start');
      const exit = await within(helper.wait(), 'end');
      await settle();
      assert.deepEqual([exit.reason, exit.code], ['ended', 3]);
      assert.equal(starts().length, 1);
    } finally {
      await work.remove();
    }
  });
});

describe('restart options', () => {
  const bad = [
    ['an initial delay of 0', { initialDelay: 0 }],
    ['a factor below 1', { factor: 0.5 }],
    ['a maximum below the initial delay', { initialDelay: 100, maxDelay: 50 }],
    ['a fractional maxRestarts', { maxRestarts: 1.5 }],
    ['an unknown option', { delay: 10 }],
  ];
  for (const [name, given] of bad) {
    it(`rejects ${name}`, () => {
      assert.throws(() => new Qkscan({ path: host, restart: given }), /restart/);
    });
  }
});
