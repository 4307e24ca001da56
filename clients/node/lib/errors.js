'use strict';
// The error a start() or check() promise rejects with.

function describeEnd(exit) {
  if (exit.signal) return `signal ${exit.signal}`;
  return `status ${exit.code}`;
}

// Why the helper did not start listening, as the error's code and message.
function startFailure(path, exit) {
  switch (exit.reason) {
    case 'spawn-failed':
      return {
        code: (exit.error && exit.error.code) || 'SPAWN_FAILED',
        message: `qkscan could not be started from ${path}: ${exit.error && exit.error.message}`,
      };
    case 'permission-required':
      return {
        code: 'PERMISSION_REQUIRED',
        message: `qkscan may not tap input: ${exit.text || 'no Accessibility permission'}`,
      };
    case 'stopped':
      return { code: 'STOPPED', message: 'qkscan was stopped before it was ready' };
    default:
      return { code: 'ENDED', message: `qkscan ended before it was ready (${describeEnd(exit)})` };
  }
}

class QkscanError extends Error {
  // `code` says what went wrong; `exit` is how the helper ended (null when it still runs, as
  // after a check that timed out and whose kill has not been confirmed).
  constructor(message, code, exit = null) {
    super(message, exit && exit.error ? { cause: exit.error } : undefined);
    this.name = 'QkscanError';
    this.code = code;
    this.exit = exit;
    this.text = exit ? exit.text : '';
  }

  static fromExit(path, exit) {
    const { code, message } = startFailure(path, exit);
    return new QkscanError(message, code, exit);
  }
}

module.exports = { QkscanError, describeEnd };
