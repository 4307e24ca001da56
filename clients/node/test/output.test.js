'use strict';
// Output a parent must survive: not messages, overlong, reordered, unknown, split characters.
const assert = require('node:assert/strict');
const fs = require('node:fs');
const { describe, it } = require('node:test');
const { Qkscan } = require('..');
const { fixture, scratch, recordEvents, within } = require('./support');

describe("the helper's output", () => {
  it('passes messages on and sets aside what is not one', { timeout: 20000 }, async () => {
    const work = scratch();
    try {
      const helper = work.track(new Qkscan({ path: fixture('chatter') }));
      const seen = recordEvents(helper, ['message', 'invalid', 'ready', 'permission-required']);
      const scanned = new Promise((resolve) => helper.once('dispatch-date', resolve));
      await within(helper.start(), 'start');
      await within(scanned, 'dispatch-date');
      assert.equal((await within(helper.stop(), 'stop')).reason, 'stopped');

      const invalid = seen.filter(([name]) => name === 'invalid').map(([, line]) => line);
      assert.deepEqual(invalid.slice(0, 5), [
        'not json',
        '[1,2]',
        '{"event":"ready"}',
        '{"event":5,"message":""}',
        'null',
      ]);
      assert.equal(invalid.length, 6);
      assert.match(invalid[5], /^x{100}$/); // the start of the overlong line

      const messages = seen.filter(([name]) => name === 'message').map(([, message]) => message);
      assert.deepEqual(messages, [
        { type: 'ready', event: 'ready', message: '' },
        { type: 'error', event: 'error', message: 'no listener may see this as an error' },
        { type: 'battery-low', event: 'battery-low', message: '' },
        {
          type: 'permission-required',
          event: 'permission-required',
          message: 'Povoľte, prosím, bezpečnosť.',
        },
        { type: 'dispatch-date', event: 'dispatch-date', message: '' },
      ]);
      // Named events only for the known types.
      assert.deepEqual(
        seen.filter(([name]) => name === 'ready' || name === 'permission-required').length,
        2,
      );
    } finally {
      await work.remove();
    }
  });

  it(
    'emits the helper\'s standard error as lines with stderr "pipe"',
    { timeout: 20000 },
    async () => {
      const work = scratch();
      try {
        // Lines on standard error (an overlong one among them, the last without its newline),
        // then a listening stand-in.
        const env = {
          ...process.env,
          STARTS: work.file('starts', ''),
          CRASHES: '0',
          NEXT: fixture('flaky'),
        };
        const overlong = "head -c 70000 /dev/zero | tr '\\0' x >&2\necho >&2\n";
        const script = work.file(
          'noisy',
          `#!/bin/sh\necho first >&2\n${overlong}printf second >&2\nexec "$NEXT"\n`,
        );
        fs.chmodSync(script, 0o755);
        const helper = work.track(new Qkscan({ path: script, env, stderr: 'pipe' }));
        const seen = recordEvents(helper, ['stderr', 'invalid']);
        await within(helper.start(), 'start');
        await within(helper.stop(), 'stop');
        // Of the overlong line, its start, as a line of standard error: it is no message.
        assert.deepEqual(seen, [
          ['stderr', 'first'],
          ['stderr', 'x'.repeat(100)],
          ['stderr', 'second'],
        ]);
      } finally {
        await work.remove();
      }
    },
  );
});
