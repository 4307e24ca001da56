'use strict';
// Checking the options of new Qkscan(), stop() and check(), and the restart policy's delays.

const DEFAULT_STOP_TIMEOUT = 1000;
const DEFAULT_CHECK_TIMEOUT = 5000;
const RESTART_DEFAULTS = Object.freeze({
  initialDelay: 1000, // before the first restart after a crash
  factor: 2, // each further restart in a row waits this much longer
  maxDelay: 60000, // but never longer than this
  resetAfter: 60000, // a helper that listened this long counts as healthy: back to initialDelay
  maxRestarts: Infinity, // restarts in a row (without a healthy run) before giving up
});
const STDERR_MODES = ['inherit', 'ignore', 'pipe'];
const LONGEST_TIMER = 2 ** 31 - 1; // setTimeout fires at once for anything longer

function checkPath(name, path) {
  if (typeof path !== 'string' || path === '') {
    throw new TypeError(`${name}: "path" must be the helper's file name, a non-empty string`);
  }
  return path;
}

// A duration in milliseconds; Infinity only where it means "never".
function checkDuration(name, value, { infinite = false, least = 0 } = {}) {
  const ok =
    typeof value === 'number' &&
    value >= least &&
    (value <= LONGEST_TIMER || (infinite && value === Infinity));
  if (!ok) {
    const most = infinite ? `${LONGEST_TIMER} or Infinity` : `${LONGEST_TIMER}`;
    throw new RangeError(`"${name}" must be a number of milliseconds from ${least} to ${most}`);
  }
  return value;
}

function restartPolicy(restart) {
  if (restart === undefined || restart === null || restart === false) return null;
  if (restart !== true && typeof restart !== 'object') {
    throw new TypeError('"restart" must be true, false or an object of restart options');
  }
  const given = restart === true ? {} : restart;
  for (const key of Object.keys(given)) {
    if (!(key in RESTART_DEFAULTS)) throw new TypeError(`unknown restart option "${key}"`);
  }
  const policy = { ...RESTART_DEFAULTS, ...given };
  // A delay of at least 1 ms that never shrinks: a helper that dies at once is never restarted
  // in a tight loop, and with the default factor the pauses grow quickly.
  checkDuration('restart.initialDelay', policy.initialDelay, { least: 1 });
  checkDuration('restart.maxDelay', policy.maxDelay, { least: policy.initialDelay });
  checkDuration('restart.resetAfter', policy.resetAfter);
  if (typeof policy.factor !== 'number' || !(policy.factor >= 1) || policy.factor === Infinity) {
    throw new RangeError('"restart.factor" must be a finite number of at least 1');
  }
  const most = policy.maxRestarts;
  if (!(most === Infinity || (Number.isInteger(most) && most >= 0))) {
    throw new RangeError('"restart.maxRestarts" must be a whole number of at least 0, or Infinity');
  }
  return Object.freeze(policy);
}

// The pause before restart number `attempt` + 1 of a series (attempt counts from 0).
function restartDelay(policy, attempt) {
  return Math.min(policy.initialDelay * policy.factor ** attempt, policy.maxDelay);
}

function helperOptions(options) {
  if (options === null || typeof options !== 'object') {
    throw new TypeError('new Qkscan(options): options must be an object with the helper\'s "path"');
  }
  const { args = [], env, stderr = 'inherit' } = options;
  if (!Array.isArray(args) || args.some((arg) => typeof arg !== 'string')) {
    throw new TypeError('"args" must be an array of strings');
  }
  if (!STDERR_MODES.includes(stderr)) {
    throw new TypeError(`"stderr" must be one of ${STDERR_MODES.join(', ')}`);
  }
  return Object.freeze({
    path: checkPath('new Qkscan(options)', options.path),
    args: Object.freeze([...args]),
    env,
    stderr,
    stopTimeout: checkDuration('stopTimeout', options.stopTimeout ?? DEFAULT_STOP_TIMEOUT, {
      infinite: true,
    }),
    restart: restartPolicy(options.restart),
  });
}

function checkOptions(options) {
  if (options === null || typeof options !== 'object') {
    throw new TypeError('check(options): options must be an object with the helper\'s "path"');
  }
  const { env, stderr = 'inherit' } = options;
  if (!STDERR_MODES.includes(stderr) || stderr === 'pipe') {
    throw new TypeError('"stderr" must be "inherit" or "ignore"');
  }
  return {
    path: checkPath('check(options)', options.path),
    env,
    stderr,
    timeout: checkDuration('timeout', options.timeout ?? DEFAULT_CHECK_TIMEOUT),
  };
}

module.exports = {
  helperOptions,
  checkOptions,
  checkDuration,
  restartDelay,
  RESTART_DEFAULTS,
  DEFAULT_STOP_TIMEOUT,
  DEFAULT_CHECK_TIMEOUT,
};
