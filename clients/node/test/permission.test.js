'use strict';
// Why the permission is missing, as a word for the application: from the helper's Slovak text,
// and from the platform where no permission can help.
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { describe, it } = require('node:test');
const { Qkscan, QkscanError } = require('..');
const { NOT_TRUSTED_TEXT, TAP_REFUSED_TEXT } = require('../lib/permission');
const { host, fixture, scratch, TEXT_A, TEXT_B, asPlatform, repository } = require('./support');

const options = { timeout: 20000 };

// The error of start() for a stand-in that prints `text` in a permission-required line (none for
// null) and exits 2 before "ready", as the helper does when it may not tap input.
async function permissionFailure(text) {
  const work = scratch();
  try {
    const last =
      text === null ? '' : JSON.stringify({ event: 'permission-required', message: text });
    const env = { ...process.env, STARTS: work.file('starts', ''), BEFORE_READY: '1', STATUS: '2' };
    const helper = new Qkscan({ path: fixture('flaky'), env: { ...env, LAST: last } });
    return await helper.start().then(
      () => assert.fail('the stand-in started'),
      (error) => error,
    );
  } finally {
    await work.remove();
  }
}

describe('the reason of a permission-required failure', () => {
  const cases = [
    ['text A on macOS', 'darwin', TEXT_A, 'not-trusted'],
    ['text B on macOS', 'darwin', TEXT_B, 'tap-refused'],
    ['text A on Windows', 'win32', TEXT_A, 'not-trusted'],
    ['a text this version does not know', 'darwin', 'Povoľte to.', null],
    ['no permission line at all', 'darwin', null, null],
    ['text A on Linux, which has nothing to tap', 'linux', TEXT_A, 'unsupported-platform'],
    ['text B on FreeBSD', 'freebsd', TEXT_B, 'unsupported-platform'],
  ];
  for (const [name, platform, text, reason] of cases) {
    it(name, options, () =>
      asPlatform(platform, async () => {
        const error = await permissionFailure(text);
        assert.ok(error instanceof QkscanError);
        assert.equal(error.code, 'PERMISSION_REQUIRED');
        assert.equal(error.reason, reason);
        assert.equal(error.text, text ?? '', 'the Slovak text stays available');
        assert.equal(error.exit.code, 2);
      }),
    );
  }

  it('of the host build: unsupported on this Linux, not trusted as on a Mac', options, async () => {
    const start = () => new Qkscan({ path: host }).start().catch((error) => error);
    const here = await start();
    assert.deepEqual([here.code, here.reason], ['PERMISSION_REQUIRED', 'unsupported-platform']);
    assert.match(here.message, /cannot tap input on linux/);
    const mac = await asPlatform('darwin', start);
    assert.deepEqual(
      [mac.code, mac.reason, mac.text],
      ['PERMISSION_REQUIRED', 'not-trusted', TEXT_A],
    );
  });

  it("knows the helper's texts byte for byte (parent/messages.h)", () => {
    const header = fs.readFileSync(path.join(repository, 'parent', 'messages.h'), 'utf8');
    // The text of a message constant: its string literals after the event name, joined.
    const textOf = (constant) => {
      const body = new RegExp(`${constant}\\{([^}]*)\\}`).exec(header);
      assert.ok(body, `${constant} is not in parent/messages.h`);
      const literals = [...body[1].matchAll(/"((?:[^"\\]|\\.)*)"/g)].map((m) =>
        JSON.parse(`"${m[1]}"`),
      );
      assert.equal(literals[0], 'permission-required');
      return literals.slice(1).join('');
    };
    assert.equal(NOT_TRUSTED_TEXT, textOf('permissionRequiredAllow'));
    assert.equal(TAP_REFUSED_TEXT, textOf('permissionRequiredRestart'));
  });
});
