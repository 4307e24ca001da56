'use strict';
// check(): runs `qkscan --check`, which tells without prompting the user whether the helper may
// tap input. On a host with no input service to tap, where the helper always says no, it rejects
// instead of answering false, so that an application does not ask the user for a permission that
// cannot help.
const { QkscanError, describeEnd, unsupportedMessage } = require('./errors');
const { hasInputService } = require('./host');
const { LineSplitter, parseMessage } = require('./lines');
const { checkOptions } = require('./options');
const { startProcess, signalGroup } = require('./spawn');

const ANSWERS = new Map([
  ['permission-present', true],
  ['permission-required', false],
]);

function check(options) {
  let settings;
  try {
    settings = checkOptions(options);
  } catch (error) {
    return Promise.reject(error);
  }
  const { path, env, stderr, timeout } = settings;
  return new Promise((resolve, reject) => {
    const started = startProcess(path, ['--check'], { stdin: 'ignore', stderr, env });
    if (started.error) {
      reject(spawnFailure(path, started.error));
      return;
    }
    const child = started.child;
    let answer; // true or false once the helper has answered
    let timedOut = false;
    let failed = null;

    child.on('error', (error) => {
      if (child.pid === undefined) failed = error; // its 'close' follows
    });
    const lines = new LineSplitter(
      (line) => {
        const message = parseMessage(line);
        if (message && ANSWERS.has(message.event)) answer = ANSWERS.get(message.event);
      },
      () => {},
    );
    child.stdout.setEncoding('utf8');
    child.stdout.on('data', (text) => lines.push(text));
    child.stdout.on('end', () => lines.end());
    child.stdout.on('error', () => {});

    const timer = setTimeout(() => {
      timedOut = true;
      signalGroup(child, 'SIGKILL');
    }, timeout);

    child.on('close', (code, signal) => {
      clearTimeout(timer);
      if (failed) {
        reject(spawnFailure(path, failed));
      } else if (timedOut) {
        reject(new QkscanError(`qkscan --check gave no answer within ${timeout} ms`, 'TIMEOUT'));
      } else if (code === 0 && answer === false && !hasInputService()) {
        // Not a missing permission: no permission could make this host's helper tap input.
        const reason = 'unsupported-platform';
        reject(new QkscanError(unsupportedMessage(), 'UNSUPPORTED_PLATFORM', { reason }));
      } else if (code === 0 && answer !== undefined) {
        resolve(answer);
      } else {
        const how = answer === undefined ? 'no answer' : 'an answer';
        const end = describeEnd({ code, signal });
        reject(new QkscanError(`qkscan --check ended with ${how} and ${end}`, 'CHECK_FAILED'));
      }
    });
  });
}

function spawnFailure(path, error) {
  const exit = Object.freeze({
    reason: 'spawn-failed',
    code: null,
    signal: null,
    text: '',
    forced: null,
    error,
  });
  return QkscanError.fromExit(path, exit);
}

module.exports = { check };
