'use strict';
// Why the helper may not tap input, as a word an application can act on. The helper says it in
// Slovak only, with the text of its permission-required line; this reads the text once, here,
// so that applications can show their own words in their own language.
const { hasInputService } = require('./host');

// The helper's two texts (parent/messages.h), byte for byte.
const NOT_TRUSTED_TEXT =
  'Na Macu povoľte aplikáciu v Systémové nastavenia > Súkromie a bezpečnosť > Prístupnosť. ' +
  'Potom počúvanie zapnite znova.';
const TAP_REFUSED_TEXT =
  'Mac nepovolil zachytenie kódu. Skontrolujte Prístupnosť a Monitorovanie vstupu, potom ' +
  'aplikáciu ukončite a spustite znova.';

// 'unsupported-platform' on a host with no input service to tap (whatever the helper's text:
// such a build has no other answer), 'not-trusted' for the text that asks the user to allow the
// application, 'tap-refused' for the one that asks to check the settings and restart it, and null
// for a text this version does not know.
function permissionReason(text) {
  if (!hasInputService()) return 'unsupported-platform';
  if (text === NOT_TRUSTED_TEXT) return 'not-trusted';
  if (text === TAP_REFUSED_TEXT) return 'tap-refused';
  return null;
}

module.exports = { permissionReason, NOT_TRUSTED_TEXT, TAP_REFUSED_TEXT };
