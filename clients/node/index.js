'use strict';
// qkscan for Node.js and Electron: find the helper, start it, read its messages, stop it in order.
const { Qkscan } = require('./lib/qkscan');
const { check } = require('./lib/check');
const { QkscanError } = require('./lib/errors');
const { helperPath } = require('./lib/locate');
const { RESTART_DEFAULTS, DEFAULT_STOP_TIMEOUT, DEFAULT_CHECK_TIMEOUT } = require('./lib/options');

module.exports = {
  Qkscan,
  check,
  helperPath,
  QkscanError,
  RESTART_DEFAULTS,
  DEFAULT_STOP_TIMEOUT,
  DEFAULT_CHECK_TIMEOUT,
};
