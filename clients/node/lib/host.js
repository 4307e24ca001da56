'use strict';
// What the library needs to know about the host it runs on, read in this one place, so that the
// tests can stand in another platform where the library decides.

const host = { platform: process.platform, arch: process.arch };

// The hosts whose helper can tap input: macOS (event taps) and Windows (low-level hooks). A helper
// built for any other host can tap nothing and always reports the permission missing.
const INPUT_HOSTS = new Set(['darwin', 'win32']);

function hasInputService() {
  return INPUT_HOSTS.has(host.platform);
}

// Windows has no signals and no process groups: Node's kill() terminates the process there
// (TerminateProcess), which the helper cannot catch, whatever signal is named.
function onWindows() {
  return host.platform === 'win32';
}

module.exports = { host, hasInputService, onWindows };
