'use strict';
// qkscan for Node.js and Electron: start the helper, read its messages, stop it in order.
const { Qkscan } = require('./lib/qkscan');
const { check } = require('./lib/check');
const { QkscanError } = require('./lib/errors');
const { RESTART_DEFAULTS, DEFAULT_STOP_TIMEOUT, DEFAULT_CHECK_TIMEOUT } = require('./lib/options');

module.exports = {
  Qkscan,
  check,
  QkscanError,
  RESTART_DEFAULTS,
  DEFAULT_STOP_TIMEOUT,
  DEFAULT_CHECK_TIMEOUT,
};
