'use strict';
// helperPath() in the layouts where it must find the helper: a project in development with the
// platform package installed, and packaged Electron applications for macOS and Windows as
// electron-builder and Forge lay them out. Each case builds its layout in a scratch folder, with a
// copy of this library where the application has it and stand-in helpers, and asks a fresh
// Node.js process that takes the host for the case's platform.
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { describe, it } = require('node:test');
const { helperPath, QkscanError } = require('..');
const { host, fixture, scratch } = require('./support');

const client = path.resolve(__dirname, '..');

// Where the library lies in each kind of layout, and Electron's resources folder there.
const MAC_APP = 'MyApp.app/Contents/Resources';
const WIN_APP = 'MyApp/resources';
const KINDS = {
  development: { library: 'node_modules/qkscan', resources: null },
  // Electron in development: its resources are its own, the library is the project's.
  electronDevelopment: {
    library: 'node_modules/qkscan',
    resources: 'node_modules/electron/dist/resources',
  },
  macApp: { library: `${MAC_APP}/app.asar/node_modules/qkscan`, resources: MAC_APP },
  windowsApp: { library: `${WIN_APP}/app.asar/node_modules/qkscan`, resources: WIN_APP },
};

const DARWIN_PACKAGE = 'node_modules/qkscan-darwin-universal';
const WIN_PACKAGE = 'node_modules/qkscan-win32-x64';
const MAC_UNPACKED = `${MAC_APP}/app.asar.unpacked/${DARWIN_PACKAGE}`;
const WIN_UNPACKED = `${WIN_APP}/app.asar.unpacked/${WIN_PACKAGE}`;

// Each case: its name, the kind of layout, platform and processor, the files to make (a path, or
// [path, mode]), the environment, and what helperPath() must give: the file found, or the error's
// code and reason and text its message must contain.
const cases = [
  [
    'development on an Apple silicon Mac: the installed package',
    'development',
    'darwin-arm64',
    [`${DARWIN_PACKAGE}/package.json`, `${DARWIN_PACKAGE}/bin/qkscan`],
    {},
    { found: `${DARWIN_PACKAGE}/bin/qkscan` },
  ],
  [
    'development on an Intel Mac: the same universal package',
    'development',
    'darwin-x64',
    [`${DARWIN_PACKAGE}/package.json`, `${DARWIN_PACKAGE}/bin/qkscan`],
    {},
    { found: `${DARWIN_PACKAGE}/bin/qkscan` },
  ],
  [
    'development on Windows: the installed package',
    'development',
    'win32-x64',
    [`${WIN_PACKAGE}/package.json`, `${WIN_PACKAGE}/bin/qkscan.exe`],
    {},
    { found: `${WIN_PACKAGE}/bin/qkscan.exe` },
  ],
  [
    "Electron in development: the package, not what lies in Electron's resources",
    'electronDevelopment',
    'win32-x64',
    [
      `${WIN_PACKAGE}/package.json`,
      `${WIN_PACKAGE}/bin/qkscan.exe`,
      'node_modules/electron/dist/resources/qkscan.exe',
    ],
    {},
    { found: `${WIN_PACKAGE}/bin/qkscan.exe` },
  ],
  [
    'QKSCAN_PATH first',
    'development',
    'darwin-arm64',
    [`${DARWIN_PACKAGE}/package.json`, `${DARWIN_PACKAGE}/bin/qkscan`, 'own/qkscan'],
    { QKSCAN_PATH: 'own/qkscan' },
    { found: 'own/qkscan' },
  ],
  [
    'QKSCAN_PATH naming no file: an error, not the package',
    'development',
    'darwin-arm64',
    [`${DARWIN_PACKAGE}/package.json`, `${DARWIN_PACKAGE}/bin/qkscan`],
    { QKSCAN_PATH: 'own/qkscan' },
    { code: 'HELPER_NOT_FOUND', reason: null, says: 'QKSCAN_PATH names own/qkscan: no such file' },
  ],
  [
    'a package whose helper lost its execute permission',
    'development',
    'darwin-arm64',
    [`${DARWIN_PACKAGE}/package.json`, [`${DARWIN_PACKAGE}/bin/qkscan`, 0o644]],
    {},
    { code: 'HELPER_NOT_FOUND', reason: null, says: 'bin/qkscan: not executable' },
  ],
  [
    'no package installed',
    'development',
    'darwin-arm64',
    [],
    {},
    {
      code: 'HELPER_NOT_FOUND',
      reason: null,
      says: 'qkscan-darwin-universal: not installed\nInstall qkscan-darwin-universal',
    },
  ],
  [
    'Windows on arm64, for which no helper is built',
    'development',
    'win32-arm64',
    [`${WIN_PACKAGE}/package.json`, `${WIN_PACKAGE}/bin/qkscan.exe`],
    {},
    { code: 'HELPER_NOT_FOUND', reason: null, says: 'no prebuilt helper for win32-arm64' },
  ],
  [
    'Linux, which has nothing to tap',
    'development',
    'linux-x64',
    [],
    {},
    {
      code: 'HELPER_NOT_FOUND',
      reason: 'unsupported-platform',
      says: 'no prebuilt helper for linux-x64',
    },
  ],
  [
    'a packaged Linux application: nowhere to look',
    'windowsApp',
    'linux-x64',
    [`${WIN_APP}/qkscan`, `${WIN_APP}/qkscan.exe`],
    {},
    {
      code: 'HELPER_NOT_FOUND',
      reason: 'unsupported-platform',
      says: 'no prebuilt helper for linux-x64 (there are for macOS and Windows x64). Build',
    },
  ],
  [
    'a Mac app from electron-builder: Contents/MacOS',
    'macApp',
    'darwin-arm64',
    [
      'MyApp.app/Contents/MacOS/qkscan',
      `${MAC_UNPACKED}/package.json`,
      `${MAC_UNPACKED}/bin/qkscan`,
    ],
    {},
    { found: 'MyApp.app/Contents/MacOS/qkscan' },
  ],
  [
    'a Mac app with the helper in Contents/Helpers',
    'macApp',
    'darwin-x64',
    ['MyApp.app/Contents/Helpers/qkscan'],
    {},
    { found: 'MyApp.app/Contents/Helpers/qkscan' },
  ],
  [
    "a Mac app from Forge's extraResource: Contents/Resources",
    'macApp',
    'darwin-arm64',
    [`${MAC_APP}/qkscan`],
    {},
    { found: `${MAC_APP}/qkscan` },
  ],
  [
    'a Mac app with the package unpacked from app.asar',
    'macApp',
    'darwin-arm64',
    [
      `${MAC_APP}/app.asar/${DARWIN_PACKAGE}/package.json`,
      `${MAC_APP}/app.asar/${DARWIN_PACKAGE}/bin/qkscan`,
      `${MAC_UNPACKED}/package.json`,
      `${MAC_UNPACKED}/bin/qkscan`,
    ],
    {},
    { found: `${MAC_UNPACKED}/bin/qkscan` },
  ],
  [
    'a Mac app with the package only inside app.asar, where nothing runs',
    'macApp',
    'darwin-arm64',
    [
      `${MAC_APP}/app.asar/${DARWIN_PACKAGE}/package.json`,
      `${MAC_APP}/app.asar/${DARWIN_PACKAGE}/bin/qkscan`,
    ],
    {},
    {
      code: 'HELPER_NOT_FOUND',
      reason: null,
      says: `MyApp.app/Contents/MacOS/qkscan: no such file`,
    },
  ],
  [
    'a Windows app from extraResources: resources/qkscan.exe',
    'windowsApp',
    'win32-x64',
    [`${WIN_APP}/qkscan.exe`, `${WIN_UNPACKED}/package.json`, `${WIN_UNPACKED}/bin/qkscan.exe`],
    {},
    { found: `${WIN_APP}/qkscan.exe` },
  ],
  [
    'a Windows app with the package unpacked from app.asar',
    'windowsApp',
    'win32-x64',
    [
      `${WIN_APP}/app.asar/${WIN_PACKAGE}/package.json`,
      `${WIN_APP}/app.asar/${WIN_PACKAGE}/bin/qkscan.exe`,
      `${WIN_UNPACKED}/package.json`,
      `${WIN_UNPACKED}/bin/qkscan.exe`,
    ],
    {},
    { found: `${WIN_UNPACKED}/bin/qkscan.exe` },
  ],
];

// Copies this library to `folder`, as npm installs it.
function installLibrary(folder) {
  for (const entry of ['package.json', 'index.js', 'lib']) {
    fs.cpSync(path.join(client, entry), path.join(folder, entry), { recursive: true });
  }
}

// What helperPath() of the library in `library` says in a process that takes the host for
// `platform` and `arch`, with Electron's `resources` folder if there is one: { found } or the
// error's { code, reason, message }.
function askHelperPath(root, library, platform, arch, resources, env) {
  const { QKSCAN_PATH, ...rest } = process.env;
  const printed = execFileSync(
    process.execPath,
    [fixture('ask-helper-path.js'), library, platform, arch, resources ?? ''],
    { cwd: root, env: { ...rest, ...env }, encoding: 'utf8' },
  );
  return JSON.parse(printed);
}

describe('helperPath() finds the helper', () => {
  for (const [name, kind, target, files, env, expected] of cases) {
    it(name, { timeout: 20000 }, () => {
      const work = scratch();
      try {
        const layout = KINDS[kind];
        installLibrary(path.join(work.dir, layout.library));
        for (const file of files) {
          const [relative, mode] = Array.isArray(file) ? file : [file, 0o755];
          const full = path.join(work.dir, relative);
          fs.mkdirSync(path.dirname(full), { recursive: true });
          fs.writeFileSync(
            full,
            relative.endsWith('.json') ? '{"name":"stand-in"}' : '#!/bin/sh\n',
          );
          fs.chmodSync(full, relative.endsWith('.json') ? 0o644 : mode);
        }
        const [platform, arch] = target.split('-');
        const resources = layout.resources && path.join(work.dir, layout.resources);
        const library = path.join(work.dir, layout.library);
        const answer = askHelperPath(work.dir, library, platform, arch, resources, env);
        if (expected.found) {
          assert.deepEqual(answer, { found: path.join(work.dir, expected.found) });
        } else {
          assert.equal(answer.code, expected.code, answer.message);
          assert.equal(answer.reason, expected.reason);
          assert.ok(answer.message.includes(expected.says), answer.message);
        }
      } finally {
        fs.rmSync(work.dir, { recursive: true, force: true });
      }
    });
  }
});

describe('helperPath() with a path of its own', () => {
  it('returns it, absolute, if it can run', () => {
    const relative = path.relative(process.cwd(), host);
    assert.equal(helperPath({ path: relative }), host);
    assert.equal(helperPath({ env: { QKSCAN_PATH: host } }), host);
  });

  it('throws for one that cannot run, saying why', () => {
    const cases = [
      [__dirname, 'not a file'],
      [path.join(__dirname, 'missing'), 'no such file'],
      [path.join(__dirname, 'support.js'), 'not executable'],
      ['/Applications/MyApp.app/Contents/Resources/app.asar/qkscan', 'app.asar.unpacked'],
    ];
    for (const [file, why] of cases) {
      assert.throws(
        () => helperPath({ path: file }),
        (error) =>
          error instanceof QkscanError &&
          error.code === 'HELPER_NOT_FOUND' &&
          error.message.includes(why),
        file,
      );
    }
  });

  it('throws a TypeError for bad options', () => {
    for (const given of [null, 'qkscan', { path: '' }, { path: 5 }]) {
      assert.throws(() => helperPath(given), TypeError, JSON.stringify(given));
    }
  });
});
