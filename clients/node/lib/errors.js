'use strict';
// The error a start() or check() promise rejects with, and helperPath() throws.
const { host } = require('./host');
const { permissionReason } = require('./permission');

function describeEnd(exit) {
  if (exit.signal) return `signal ${exit.signal}`;
  return `status ${exit.code}`;
}

// Why the helper did not start listening, as the error's code, message and reason.
function startFailure(path, exit) {
  switch (exit.reason) {
    case 'spawn-failed':
      return {
        code: (exit.error && exit.error.code) || 'SPAWN_FAILED',
        message: `qkscan could not be started from ${path}: ${exit.error && exit.error.message}`,
      };
    case 'permission-required': {
      const reason = permissionReason(exit.text);
      const message =
        reason === 'unsupported-platform'
          ? unsupportedMessage()
          : `qkscan may not tap input: ${exit.text || 'no Accessibility permission'}`;
      return { code: 'PERMISSION_REQUIRED', message, reason };
    }
    case 'stopped':
      return { code: 'STOPPED', message: 'qkscan was stopped before it was ready' };
    default:
      return { code: 'ENDED', message: `qkscan ended before it was ready (${describeEnd(exit)})` };
  }
}

function unsupportedMessage() {
  return `qkscan cannot tap input on ${host.platform}: only its macOS and Windows builds can`;
}

class QkscanError extends Error {
  // `code` says what went wrong; `exit` is how the helper ended (null when it still runs, as
  // after a check that timed out and whose kill has not been confirmed, or when none was started);
  // `reason` says why the permission is missing ('not-trusted', 'tap-refused',
  // 'unsupported-platform'), where it is; `cause` is the system's error, if there is one.
  constructor(message, code, { exit = null, reason = null, cause } = {}) {
    const underlying = cause ?? (exit && exit.error) ?? undefined;
    super(message, underlying ? { cause: underlying } : undefined);
    this.name = 'QkscanError';
    this.code = code;
    this.reason = reason;
    this.exit = exit;
    this.text = exit ? exit.text : '';
  }

  static fromExit(path, exit) {
    const { code, message, reason } = startFailure(path, exit);
    return new QkscanError(message, code, { exit, reason });
  }
}

module.exports = { QkscanError, describeEnd, unsupportedMessage };
