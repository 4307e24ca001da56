'use strict';
// qkscan's npm packages as the release makes them: assembled from built helpers by
// scripts/assemble-npm, packed by npm, and installed from the tarballs into scratch applications
// with the network switched off (--offline, and an empty cache of their own). A platform package
// is tested with the real helper of its platform; without it, its tests are skipped.
const assert = require('node:assert/strict');
const { createHash } = require('node:crypto');
const { execFileSync, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { describe, it, before, after } = require('node:test');

const root = path.resolve(__dirname, '..', '..', '..');
const version = /^project\(qkscan VERSION ([0-9.]+)/m.exec(
  fs.readFileSync(path.join(root, 'CMakeLists.txt'), 'utf8'),
)[1];
// A build of the helper, for its version text: the host build by default, as CTest gives it.
const builtHelper = process.env.QKSCAN_BINARY || path.join(root, 'build/ci/app/qkscan');
const win32Binary = process.env.QKSCAN_WIN32_BINARY || '';
const darwinDir = process.env.QKSCAN_DARWIN_DIR || '';
const platformPackages = ['qkscan-darwin-universal', 'qkscan-win32-x64'];

// npm learned --os and --cpu, which install another platform's optional packages, in 10.1.
const npmVersion = execFileSync('npm', ['--version'], { encoding: 'utf8' }).trim();
const [npmMajor, npmMinor] = npmVersion.split('.').map(Number);
const npmCrossInstalls = npmMajor > 10 || (npmMajor === 10 && npmMinor >= 1);

const readJson = (file) => JSON.parse(fs.readFileSync(file, 'utf8'));
const sha256 = (file) => createHash('sha256').update(fs.readFileSync(file)).digest('hex');
const modeOf = (file) => fs.statSync(file).mode & 0o777;

const scratches = [];
function scratch() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'qkscan-npm-'));
  scratches.push(dir);
  return dir;
}
after(() => {
  for (const dir of scratches) fs.rmSync(dir, { recursive: true, force: true });
});

// Runs scripts/assemble-npm --pack with `args`; returns the output folder and each package's
// tarball by name.
function assemble(args) {
  const out = path.join(scratch(), 'packages');
  const printed = execFileSync(
    path.join(root, 'scripts', 'assemble-npm'),
    [...args, '--pack', out],
    {
      encoding: 'utf8',
    },
  );
  const tarballs = new Map();
  for (const file of printed.trim().split('\n')) {
    tarballs.set(
      readJson(path.join(out, file.replace(/-[0-9.]+\.tgz$/, ''), 'package.json')).name,
      path.join(out, file),
    );
  }
  return { out, tarballs };
}

// The entries of a tarball: path (without npm's "package/") to its mode string (-rwxr-xr-x).
function entries(tarball) {
  const listing = execFileSync('tar', ['-tvzf', tarball], { encoding: 'utf8' });
  const found = new Map();
  for (const line of listing.trim().split('\n')) {
    const fields = line.trim().split(/\s+/);
    found.set(fields[fields.length - 1].replace(/^package\//, ''), fields[0]);
  }
  return found;
}

function unpack(tarball) {
  const dir = scratch();
  execFileSync('tar', ['-xzf', tarball, '-C', dir]);
  return path.join(dir, 'package');
}

// A scratch application with the client's tarball installed without the network. The platform
// packages resolve to their tarballs (npm's overrides), as they would to the registry; `target`
// ({ os, cpu }) installs for another platform than this one.
function installApp(tarballs, target = null) {
  const app = scratch();
  const overrides = {};
  for (const name of platformPackages) {
    if (tarballs.has(name)) overrides[name] = `file:${tarballs.get(name)}`;
  }
  fs.writeFileSync(
    path.join(app, 'package.json'),
    JSON.stringify({ name: 'scratch-app', version: '1.0.0', private: true, overrides }),
  );
  const args = ['install', '--offline', '--cache', path.join(app, '.npm-cache')];
  args.push('--no-audit', '--no-fund', '--loglevel=error');
  if (target) args.push(`--os=${target.os}`, `--cpu=${target.cpu}`);
  execFileSync('npm', [...args, tarballs.get('qkscan')], { cwd: app, stdio: 'pipe' });
  return app;
}

// What helperPath() says in a Node.js process in `app`, from the library in `library` (the app's
// installed one by default), taking the host for `target` and, with `resources`, running in a
// packaged Electron application with that resources folder: { found } or the error's
// { code, reason, message }.
function helperPathIn(app, target, { resources = '', library } = {}) {
  const ask = path.join(root, 'clients', 'node', 'test', 'fixtures', 'ask-helper-path.js');
  const { QKSCAN_PATH, ...env } = process.env;
  const libraryDir = library ?? path.join(app, 'node_modules', 'qkscan');
  const printed = execFileSync(
    process.execPath,
    [ask, libraryDir, target.os, target.cpu, resources],
    { cwd: app, env, encoding: 'utf8' },
  );
  return JSON.parse(printed);
}

// Builds a packaged Electron application's resources from an installed app: its node_modules in
// app.asar (a folder here, where Node can read it) and the platform package in app.asar.unpacked,
// as asarUnpack leaves it. Returns the resources folder.
function packagedResources(app, resourcesPath, packageName) {
  const resources = path.join(scratch(), resourcesPath);
  const modules = path.join(app, 'node_modules');
  fs.cpSync(modules, path.join(resources, 'app.asar', 'node_modules'), { recursive: true });
  fs.cpSync(
    path.join(modules, packageName),
    path.join(resources, 'app.asar.unpacked', 'node_modules', packageName),
    { recursive: true },
  );
  return resources;
}

// A platform package's tarball: its helpers in bin/, executable, its README, LICENSE, NOTICE and
// package.json, nothing else; and the version, os and cpu of that package.json.
function assertPlatformPackage(tarball, helpers, platforms, cpus) {
  const found = entries(tarball);
  const expected = ['LICENSE', 'NOTICE', 'README.md', 'package.json'];
  expected.push(...helpers.map((helper) => `bin/${helper}`));
  assert.deepEqual([...found.keys()].sort(), expected.sort());
  for (const helper of helpers) assert.equal(found.get(`bin/${helper}`), '-rwxr-xr-x', helper);
  const manifest = readJson(path.join(unpack(tarball), 'package.json'));
  assert.deepEqual([manifest.version, manifest.os, manifest.cpu], [version, platforms, cpus]);
}

// The helper found must be the very file built: same bytes, executable for everyone.
function assertSameHelper(found, built) {
  assert.equal(sha256(found), sha256(built), `${found} differs from ${built}`);
  assert.equal(modeOf(found).toString(8), '755', `${found} lost its mode`);
}

describe('one version', () => {
  it('in CMakeLists.txt, the client package.json, its dependencies and the helper', () => {
    const client = readJson(path.join(root, 'clients', 'node', 'package.json'));
    assert.equal(client.version, version, 'clients/node/package.json');
    const expected = Object.fromEntries(platformPackages.map((name) => [name, version]));
    assert.deepEqual(client.optionalDependencies, expected);
    for (const name of platformPackages) {
      const manifest = readJson(path.join(root, 'clients', 'npm', name, 'package.json'));
      assert.equal(manifest.version, undefined, `${name} takes its version at assembly`);
    }
    const helper = fs.readFileSync(builtHelper);
    assert.ok(helper.includes(Buffer.from(`@(#)qkscan ${version}\0`)), `${builtHelper}`);
  });
});

describe('the assembly refuses a wrong helper, before writing anything', () => {
  // Small stand-ins with just the headers the assembly reads, and the version text.
  const tag = (v) => Buffer.from(`@(#)qkscan ${v}\0`);
  function windowsExecutable(v, machine = 0x8664) {
    const header = Buffer.alloc(0x100);
    header.write('MZ', 0, 'latin1');
    header.writeUInt32LE(0x80, 0x3c);
    header.write('PE\0\0', 0x80, 'latin1');
    header.writeUInt16LE(machine, 0x84);
    return Buffer.concat([header, tag(v)]);
  }
  function macExecutable(cpuTypes) {
    if (cpuTypes.length === 1)
      return Buffer.concat([Buffer.from('cffaedfe0c000001', 'hex'), tag(version)]);
    const header = Buffer.alloc(8 + 20 * cpuTypes.length);
    header.writeUInt32BE(0xcafebabe, 0);
    header.writeUInt32BE(cpuTypes.length, 4);
    cpuTypes.forEach((cpu, i) => header.writeUInt32BE(cpu, 8 + 20 * i));
    return Buffer.concat([header, tag(version)]);
  }
  const ARM64 = 0x0100000c;
  const X86_64 = 0x01000007;
  const cases = [
    [
      'a Linux executable as the Windows helper',
      'win32',
      Buffer.concat([Buffer.from('7f454c4602010100', 'hex'), Buffer.alloc(0x100), tag(version)]),
      /not a Windows x64 executable/,
    ],
    [
      'a 32-bit Windows executable',
      'win32',
      windowsExecutable(version, 0x14c),
      /not a Windows x64 executable/,
    ],
    [
      'a Windows helper of another version',
      'win32',
      windowsExecutable('0.0.9'),
      /does not carry "@\(#\)qkscan /,
    ],
    [
      'a macOS helper for arm64 alone',
      'darwin',
      macExecutable([ARM64]),
      /not a universal macOS executable/,
    ],
    [
      'a universal macOS helper without x86_64',
      'darwin',
      macExecutable([ARM64, ARM64]),
      /not a universal/,
    ],
  ];
  for (const [name, platform, bytes, message] of cases) {
    it(name, () => {
      const dir = scratch();
      const file = path.join(dir, platform === 'win32' ? 'qkscan.exe' : 'qkscan');
      fs.writeFileSync(file, bytes);
      if (platform === 'darwin')
        fs.writeFileSync(path.join(dir, 'qkscan-record'), macExecutable([ARM64, X86_64]));
      const out = path.join(dir, 'out');
      const result = spawnSync(
        path.join(root, 'scripts', 'assemble-npm'),
        [platform === 'win32' ? '--win32' : '--darwin', platform === 'win32' ? file : dir, out],
        { encoding: 'utf8' },
      );
      assert.equal(result.status, 1, result.stderr);
      assert.match(result.stderr, message);
      assert.equal(fs.existsSync(out), false, 'something was written');
    });
  }
});

describe('the client package, qkscan', () => {
  let tarballs;
  before(() => ({ tarballs } = assemble([])));

  it('holds the library, its README, LICENSE and package.json, and nothing else', () => {
    const library = fs
      .readdirSync(path.join(root, 'clients', 'node', 'lib'))
      .map((f) => `lib/${f}`);
    const expected = [
      'LICENSE',
      'README.md',
      'package.json',
      'index.js',
      'index.mjs',
      'index.d.ts',
      'index.d.mts',
      ...library,
    ];
    assert.deepEqual([...entries(tarballs.get('qkscan')).keys()].sort(), expected.sort());
    const packed = unpack(tarballs.get('qkscan'));
    assert.equal(
      fs.readFileSync(path.join(packed, 'LICENSE'), 'utf8'),
      fs.readFileSync(path.join(root, 'LICENSE'), 'utf8'),
    );
  });

  it('has the version, its platform packages at that version, engines and a working exports map', () => {
    const packed = unpack(tarballs.get('qkscan'));
    const manifest = readJson(path.join(packed, 'package.json'));
    assert.equal(manifest.version, version);
    assert.deepEqual(
      manifest.optionalDependencies,
      Object.fromEntries(platformPackages.map((n) => [n, version])),
    );
    assert.equal(manifest.engines.node, '>=18');
    assert.equal(manifest.scripts, undefined, 'its test script, whose tests are not packed');
    // Every file the entry points and the exports map name is in the package.
    const targets = [manifest.main, manifest.types];
    const walk = (value) =>
      typeof value === 'string' ? targets.push(value) : Object.values(value).forEach(walk);
    walk(manifest.exports);
    for (const target of targets) {
      assert.ok(fs.existsSync(path.join(packed, target)), `${target} is named but not packed`);
    }
  });

  it('has a README whose every link resolves inside the package', () => {
    const packed = unpack(tarballs.get('qkscan'));
    const readme = fs.readFileSync(path.join(packed, 'README.md'), 'utf8');
    const links = [...readme.matchAll(/\]\(([^)\s]+)\)/g)].map((match) => match[1]);
    assert.ok(links.length > 0);
    for (const link of links) {
      if (/^https:\/\//.test(link)) continue; // a public page, reachable from anywhere
      const target = link.replace(/#.*$/, '');
      assert.ok(target !== '' || link.startsWith('#'), link);
      if (target === '') continue;
      const resolved = path.resolve(packed, target);
      assert.ok(!path.relative(packed, resolved).startsWith('..'), `${link} leaves the package`);
      assert.ok(fs.existsSync(resolved), `${link} is not in the package`);
    }
  });

  it('installs without the network and loads as CommonJS and as an ES module', () => {
    const app = installApp(tarballs);
    const body = `
      const required = require('qkscan');
      import('qkscan').then((imported) => {
        const same = ['Qkscan', 'check', 'helperPath', 'QkscanError'].every(
          (name) => typeof required[name] === 'function' && imported[name] === required[name],
        );
        let code = null;
        try { required.helperPath(); } catch (error) { code = error.code; }
        console.log(JSON.stringify({ same, code }));
      });`;
    const { QKSCAN_PATH, ...env } = process.env;
    const printed = execFileSync(process.execPath, ['-e', body], {
      cwd: app,
      env,
      encoding: 'utf8',
    });
    // No platform package can be had offline here, so helperPath() has nothing to find.
    assert.deepEqual(JSON.parse(printed), { same: true, code: 'HELPER_NOT_FOUND' });
  });
});

describe('the Windows package, qkscan-win32-x64', () => {
  const skip = !win32Binary
    ? 'set QKSCAN_WIN32_BINARY to a cross-built qkscan.exe to test the Windows package'
    : !npmCrossInstalls
      ? `npm ${npmVersion} cannot install another platform's packages (--os and --cpu need 10.1)`
      : false;
  const windows = { os: 'win32', cpu: 'x64' };
  let tarballs;
  before(() => {
    if (!skip) ({ tarballs } = assemble(['--win32', win32Binary]));
  });

  it('holds the helper, its README, LICENSE and NOTICE, for Windows x64 only', { skip }, () => {
    assertPlatformPackage(tarballs.get('qkscan-win32-x64'), ['qkscan.exe'], ['win32'], ['x64']);
  });

  it('is left out on other platforms', { skip }, () => {
    const app = installApp(tarballs); // for this host, which is not Windows
    assert.equal(fs.existsSync(path.join(app, 'node_modules', 'qkscan-win32-x64')), false);
  });

  it('is found by helperPath() in development and in a packaged application', { skip }, () => {
    const app = installApp(tarballs, windows);
    const installed = path.join(app, 'node_modules', 'qkscan-win32-x64', 'bin', 'qkscan.exe');
    assert.deepEqual(helperPathIn(app, windows), { found: installed });
    assertSameHelper(installed, win32Binary);

    // Packaged with the package unpacked from app.asar (asarUnpack).
    const resources = packagedResources(app, 'MyApp/resources', 'qkscan-win32-x64');
    const library = path.join(resources, 'app.asar', 'node_modules', 'qkscan');
    const unpacked = path.join(
      resources,
      'app.asar.unpacked',
      'node_modules',
      'qkscan-win32-x64',
      'bin',
      'qkscan.exe',
    );
    assert.deepEqual(helperPathIn(app, windows, { resources, library }), { found: unpacked });
    assertSameHelper(unpacked, win32Binary);

    // And with the helper copied to resources (extraResources), which comes first.
    const copied = path.join(resources, 'qkscan.exe');
    fs.copyFileSync(installed, copied);
    assert.deepEqual(helperPathIn(app, windows, { resources, library }), { found: copied });
  });
});

describe('the macOS package, qkscan-darwin-universal', () => {
  const skip = !darwinDir
    ? 'set QKSCAN_DARWIN_DIR to the folder of the universal qkscan and qkscan-record (a Mac builds them)'
    : process.platform !== 'darwin' && !npmCrossInstalls
      ? `npm ${npmVersion} cannot install another platform's packages (--os and --cpu need 10.1)`
      : false;
  const onMac = process.platform === 'darwin';
  const mac = { os: 'darwin', cpu: onMac ? process.arch : 'arm64' };
  let tarballs;
  before(() => {
    if (!skip) ({ tarballs } = assemble(['--darwin', darwinDir]));
  });

  // The helper as a program: its self-test on the sample input, where this is a Mac.
  function assertRuns(helper) {
    if (!onMac) return;
    const input = fs.readFileSync(path.join(root, 'examples', 'self-test.json'));
    const result = spawnSync(helper, ['--self-test'], { input, encoding: 'utf8' });
    assert.equal(result.status, 0, result.stderr);
    assert.match(result.stdout, /^\[\[/);
    const verified = spawnSync('codesign', ['--verify', '--strict', helper], { encoding: 'utf8' });
    assert.equal(verified.status, 0, `the signature did not survive: ${verified.stderr}`);
  }

  it(
    'holds the helper and the recorder, its README, LICENSE and NOTICE, for macOS only',
    { skip },
    () => {
      const helpers = ['qkscan', 'qkscan-record'];
      const tarball = tarballs.get('qkscan-darwin-universal');
      assertPlatformPackage(tarball, helpers, ['darwin'], ['arm64', 'x64']);
    },
  );

  it('is found by helperPath() in development and in a packaged application', { skip }, () => {
    const app = installApp(tarballs, onMac ? null : mac);
    const installed = path.join(app, 'node_modules', 'qkscan-darwin-universal', 'bin', 'qkscan');
    assert.deepEqual(helperPathIn(app, mac), { found: installed });
    assertSameHelper(installed, path.join(darwinDir, 'qkscan'));
    assertRuns(installed);

    // Packaged with the helper in Contents/MacOS (electron-builder's extraFiles).
    const resources = packagedResources(
      app,
      'MyApp.app/Contents/Resources',
      'qkscan-darwin-universal',
    );
    const library = path.join(resources, 'app.asar', 'node_modules', 'qkscan');
    const bundled = path.join(resources, '..', 'MacOS', 'qkscan');
    fs.mkdirSync(path.dirname(bundled), { recursive: true });
    fs.cpSync(installed, bundled);
    assert.deepEqual(helperPathIn(app, mac, { resources, library }), {
      found: path.resolve(bundled),
    });
    assertSameHelper(bundled, path.join(darwinDir, 'qkscan'));
    assertRuns(bundled);
  });
});
