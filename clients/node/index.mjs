// The ES module entry: the same objects as the CommonJS entry, so that both kinds of import
// share one class (instanceof and the error type work across them).
import qkscan from './index.js';

export const {
  Qkscan,
  check,
  helperPath,
  QkscanError,
  RESTART_DEFAULTS,
  DEFAULT_STOP_TIMEOUT,
  DEFAULT_CHECK_TIMEOUT,
} = qkscan;
export default qkscan;
