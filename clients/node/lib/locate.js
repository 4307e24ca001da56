'use strict';
// helperPath(): where the helper is. In order: a path the application names (the option, or the
// environment variable QKSCAN_PATH); in a packaged Electron application, the places in the bundle
// that the packaging settings of the README put it; then the prebuilt helper of the platform's npm
// package, which npm installs with this one as an optional dependency.
const fs = require('node:fs');
const path = require('node:path');
const { QkscanError } = require('./errors');
const { host, hasInputService, onWindows } = require('./host');

// The package with the prebuilt helper for each platform and processor. The macOS helper is
// universal (arm64 and x86_64), so one package serves both.
const PACKAGES = new Map([
  ['darwin-arm64', 'qkscan-darwin-universal'],
  ['darwin-x64', 'qkscan-darwin-universal'],
  ['win32-x64', 'qkscan-win32-x64'],
]);

// This package's folder. In a packaged application it lies inside the resources, in app.asar.
const PACKAGE_ROOT = path.resolve(__dirname, '..');

const executableName = () => (onWindows() ? 'qkscan.exe' : 'qkscan');

function helperPath(options = {}) {
  if (options === null || typeof options !== 'object') {
    throw new TypeError('helperPath(options): options must be an object');
  }
  const env = options.env ?? process.env;
  if (options.path !== undefined) return named('the "path" option', options.path);
  if (env.QKSCAN_PATH) return named('QKSCAN_PATH', env.QKSCAN_PATH);

  const platform = `${host.platform}-${host.arch}`;
  const packageName = PACKAGES.get(platform);
  const tried = [];
  for (const candidate of candidates(packageName)) {
    if (candidate.missing) {
      tried.push(candidate.missing);
      continue;
    }
    const problem = problemWith(candidate.file);
    if (!problem) return candidate.file;
    tried.push(`${candidate.file}: ${problem}`);
  }
  throw notFound(platform, packageName, tried);
}

// The places to look, in order: each { file } or, for a package that is not installed,
// { missing: what to say about it }.
function candidates(packageName) {
  const name = executableName();
  const resources = packagedResources();
  const places = resources ? bundlePlaces(resources, name) : [];
  if (packageName) {
    // The package's files are inside app.asar in a packaged application, where nothing can be
    // executed: their unpacked copies (asarUnpack) are in app.asar.unpacked beside it.
    const installed = installedPackage(packageName);
    if (installed) places.push({ file: unpacked(path.join(installed, 'bin', name)) });
    else if (!resources) places.push({ missing: `the package ${packageName}: not installed` });
    if (resources) {
      const bin = path.join(resources, 'app.asar.unpacked', 'node_modules', packageName, 'bin');
      places.push({ file: path.join(bin, name) });
    }
  }
  const seen = new Set();
  return places.filter((place) => !place.file || (!seen.has(place.file) && seen.add(place.file)));
}

// Where the packaging settings of the README put the helper in a packaged application: in the
// macOS bundle's Contents/MacOS, Contents/Helpers or (Forge) Contents/Resources, or in the
// resources folder on Windows.
function bundlePlaces(resources, name) {
  if (onWindows()) return [{ file: path.join(resources, name) }];
  if (host.platform !== 'darwin') return [];
  const contents = path.dirname(resources); // MyApp.app/Contents
  return ['MacOS', 'Helpers', 'Resources'].map((folder) => ({
    file: path.join(contents, folder, name),
  }));
}

// Electron's resources folder when this package runs inside a packaged application, else null.
// Electron sets process.resourcesPath in development too, to its own resources; only a packaged
// application has this package inside it.
function packagedResources() {
  const resources = process.resourcesPath;
  if (typeof resources !== 'string' || resources === '') return null;
  const relative = path.relative(resources, PACKAGE_ROOT);
  const inside = relative !== '' && !relative.startsWith('..') && !path.isAbsolute(relative);
  return inside ? resources : null;
}

// The folder of an installed package, found as Node finds it from this package, or null.
function installedPackage(packageName) {
  try {
    return path.dirname(require.resolve(`${packageName}/package.json`, { paths: [PACKAGE_ROOT] }));
  } catch {
    return null;
  }
}

function unpacked(file) {
  return file
    .split(path.sep)
    .map((part) => (part === 'app.asar' ? 'app.asar.unpacked' : part))
    .join(path.sep);
}

// Why `file` cannot be run as the helper, or null if it can.
function problemWith(file) {
  if (file.split(/[\\/]/).includes('app.asar')) {
    return 'it is inside app.asar, where nothing can be executed (unpack it: app.asar.unpacked)';
  }
  let stat;
  try {
    stat = fs.statSync(file);
  } catch {
    return 'no such file';
  }
  if (!stat.isFile()) return 'not a file';
  if (!onWindows()) {
    try {
      fs.accessSync(file, fs.constants.X_OK);
    } catch {
      return 'not executable';
    }
  }
  return null;
}

// A path the application chose: it is used if it can run, and is an error otherwise, rather than
// quietly replaced by another helper.
function named(source, file) {
  if (typeof file !== 'string' || file === '') {
    throw new TypeError(
      `helperPath(): ${source} must be the helper's file name, a non-empty string`,
    );
  }
  const problem = problemWith(file);
  if (problem) {
    throw new QkscanError(`qkscan: ${source} names ${file}: ${problem}`, 'HELPER_NOT_FOUND');
  }
  return path.resolve(file);
}

function notFound(platform, packageName, tried) {
  const looked = tried.map((place) => `\n  ${place}`).join('');
  if (!packageName) {
    const reason = hasInputService() ? null : 'unsupported-platform';
    const message =
      `qkscan: there is no prebuilt helper for ${platform} (there are for macOS and Windows x64)` +
      (looked ? `; looked at:${looked}\n` : '. ') +
      'Build it from source and pass its path, or set QKSCAN_PATH.';
    return new QkscanError(message, 'HELPER_NOT_FOUND', { reason });
  }
  const message =
    `qkscan: no helper for ${platform} was found; looked at:${looked}\n` +
    `Install ${packageName} (npm installs it with qkscan unless optional dependencies are ` +
    'left out), copy the helper into the application as the Electron section of the qkscan ' +
    "package's README shows, or set QKSCAN_PATH.";
  return new QkscanError(message, 'HELPER_NOT_FOUND');
}

module.exports = { helperPath, PACKAGES };
