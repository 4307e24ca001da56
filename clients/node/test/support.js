'use strict';
// Shared by the tests: the helper builds under test, stand-in helpers, scratch files, waiting.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { host: running } = require('../lib/host');

const repository = path.resolve(__dirname, '..', '..', '..');

// The test-only helper build (trusted, its input events from QKSCAN_INJECT_EVENTS) and the host
// build, which can tap nothing off macOS. CTest passes both; by hand, a ci build is used.
const inject =
  process.env.QKSCAN_INJECT_BINARY || path.join(repository, 'build/ci/tests/qkscan-inject');
const host = process.env.QKSCAN_BINARY || path.join(repository, 'build/ci/app/qkscan');
for (const binary of [inject, host]) {
  if (!fs.existsSync(binary)) {
    throw new Error(
      `${binary} is missing: build the ci preset, or set QKSCAN_INJECT_BINARY and QKSCAN_BINARY`,
    );
  }
}

const fixture = (name) => path.join(__dirname, 'fixtures', name);

// A scratch directory for one test. `track` notes a Qkscan that `remove` stops (quickly) before
// the directory goes, so that a failed test leaves no helper running or restarting.
function scratch() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'qkscan-client-'));
  const helpers = [];
  return {
    dir,
    file: (name, text) => {
      const file = path.join(dir, name);
      if (text !== undefined) fs.writeFileSync(file, text);
      return file;
    },
    track: (helper) => {
      helpers.push(helper);
      return helper;
    },
    remove: async () => {
      await Promise.all(helpers.map((helper) => helper.stop({ timeout: 50 })));
      fs.rmSync(dir, { recursive: true, force: true });
    },
  };
}

function read(file) {
  try {
    return fs.readFileSync(file, 'utf8');
  } catch {
    return '';
  }
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Waits up to 5 s for `file` to contain `text`; returns whether it did.
async function waitForText(file, text) {
  for (let tries = 0; tries < 500; tries += 1) {
    if (read(file).includes(text)) return true;
    await sleep(10);
  }
  return false;
}

// `promise`, or a rejection naming `what` if it has not settled within 5 s: a fault makes the test
// fail, and its clean-up run, instead of leaving it waiting.
function within(promise, what) {
  let timer;
  const late = new Promise((resolve, reject) => {
    timer = setTimeout(() => reject(new Error(`no ${what} within 5 s`)), 5000);
  });
  return Promise.race([promise, late]).finally(() => clearTimeout(timer));
}

// Input steps of qkscan-inject: the key-downs and key-ups of a scan of the trigger code (Q K D A T
// U M, then Return, by key code on a US keyboard), 2 ms apart.
function scanSteps(startAt = 1) {
  const steps = [];
  let at = startAt;
  for (const key of [12, 40, 2, 0, 17, 32, 46, 36]) {
    steps.push({ at, type: 'keyDown', key });
    steps.push({ at: at + 0.002, type: 'keyUp', key });
    at += 0.004;
  }
  return steps;
}

const lines = (steps) => steps.map((step) => JSON.stringify(step) + '\n').join('');

// The environment for qkscan-inject with these input steps and a record file.
function injectEnv(work, steps) {
  return {
    ...process.env,
    QKSCAN_INJECT_EVENTS: work.file('events', lines(steps)),
    QKSCAN_INJECT_RECORD: work.file('record', ''),
  };
}

// Collects what a Qkscan emits, in order, as [event name, argument] pairs.
function recordEvents(helper, names) {
  const seen = [];
  for (const name of names) helper.on(name, (value) => seen.push([name, value]));
  return seen;
}

const TEXT_A =
  'Na Macu povoľte aplikáciu v Systémové nastavenia > Súkromie a bezpečnosť > Prístupnosť. ' +
  'Potom počúvanie zapnite znova.';
const TEXT_B =
  'Mac nepovolil zachytenie kódu. Skontrolujte Prístupnosť a Monitorovanie vstupu, potom ' +
  'aplikáciu ukončite a spustite znova.';

// Runs `body` while the library takes the host for `platform` (Node's name: 'darwin', 'win32',
// 'linux') where it decides by the platform; the real one is back afterwards.
async function asPlatform(platform, body) {
  const real = running.platform;
  running.platform = platform;
  try {
    return await body();
  } finally {
    running.platform = real;
  }
}

module.exports = {
  inject,
  host,
  fixture,
  scratch,
  read,
  sleep,
  waitForText,
  within,
  scanSteps,
  injectEnv,
  recordEvents,
  TEXT_A,
  TEXT_B,
  asPlatform,
  repository,
};
