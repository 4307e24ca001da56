'use strict';
// The release notes: scripts/release-notes prints the CHANGELOG's section for a version, which the
// release workflow makes the GitHub Release's text.
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { describe, it } = require('node:test');

const root = path.resolve(__dirname, '..', '..', '..');
const script = path.join(root, 'scripts', 'release-notes');

function notes(version, changelog) {
  const args = [version];
  if (changelog !== undefined) {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'qkscan-notes-'));
    args.push(path.join(dir, 'CHANGELOG.md'));
    fs.writeFileSync(args[1], changelog);
  }
  const result = spawnSync(script, args, { encoding: 'utf8' });
  if (args[1]) fs.rmSync(path.dirname(args[1]), { recursive: true });
  return result;
}

describe('release notes', () => {
  const two =
    '# Changelog\n\nIntro.\n\n## 0.2.0 — 2027-01-05\n\n- B\n- more B\n\n## 0.1.0\n\n- A\n';
  const cases = [
    ['the newest section, without its heading', two, '0.2.0', '- B\n- more B\n'],
    ['the last section', two, '0.1.0', '- A\n'],
    [
      'not the section of a longer version',
      '## 0.1.10\n\n- C\n\n## 0.1.1\n\n- D\n',
      '0.1.1',
      '- D\n',
    ],
    ['no section for the version', two, '0.3.0', null],
    ['an empty section', '## 0.3.0\n\n## 0.2.0\n\n- B\n', '0.3.0', null],
  ];
  for (const [name, changelog, version, expected] of cases) {
    it(name, () => {
      const result = notes(version, changelog);
      if (expected === null) {
        assert.equal(result.status, 1);
        assert.equal(result.stdout, '');
        assert.match(result.stderr, new RegExp(`no section "## ${version.replace(/\./g, '\\.')}"`));
      } else {
        assert.equal(result.status, 0, result.stderr);
        assert.equal(result.stdout, expected);
      }
    });
  }

  it("exist for the project's version in CHANGELOG.md", () => {
    const cmake = fs.readFileSync(path.join(root, 'CMakeLists.txt'), 'utf8');
    const version = /^project\(qkscan VERSION ([0-9.]+)/m.exec(cmake)[1];
    const result = notes(version);
    assert.equal(result.status, 0, result.stderr);
    assert.ok(result.stdout.trim().length > 0);
  });
});
