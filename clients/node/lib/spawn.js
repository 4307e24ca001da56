'use strict';
// Starting the helper in a process group of its own, and signalling that group.
const { spawn } = require('node:child_process');
const { onWindows } = require('./host');

// Starts `path` with `args`; standard output is always a pipe. `detached` makes the helper the
// leader of a new session and process group (setsid), so that the signals a terminal sends to its
// foreground group on Ctrl-C or Ctrl-\ reach only the parent, which then stops the helper in
// order. On Windows it starts the helper without a console (DETACHED_PROCESS) in a new process
// group, which keeps a console's Ctrl-C from it in the same way; `windowsHide` makes sure that no
// window flashes up. Returns { child }, or { error } when spawn throws at once; most failures (a
// missing or non-executable file) come later, as the child's 'error' event.
function startProcess(path, args, { stdin, stderr, env }) {
  try {
    const child = spawn(path, args, {
      stdio: [stdin, 'pipe', stderr],
      detached: true,
      windowsHide: true,
      env,
    });
    return { child };
  } catch (error) {
    return { error };
  }
}

// Sends `signal` to the helper's process group, which holds the helper and anything it started.
// On Windows, which has neither, the helper itself is terminated, whatever `signal` says.
// Returns whether it was sent: false once the helper has been waited for, or if it never ran.
function signalGroup(child, signal) {
  if (child.pid === undefined || child.exitCode !== null || child.signalCode !== null) return false;
  const targets = onWindows() ? [child.pid] : [-child.pid, child.pid];
  for (const target of targets) {
    try {
      process.kill(target, signal);
      return true;
    } catch {
      // No such group (the helper left it, or it is gone already): try the process itself.
    }
  }
  return false;
}

module.exports = { startProcess, signalGroup };
