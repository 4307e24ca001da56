// Type definitions for the qkscan client (CommonJS and ES module entries). They need the Node.js
// types (@types/node), which Electron projects already have.
/// <reference types="node" />
import { EventEmitter } from 'node:events';

/** How the helper's standard error is connected. "pipe" emits each of its lines as 'stderr'. */
export type StderrMode = 'inherit' | 'ignore' | 'pipe';

export interface RestartOptions {
  /** Milliseconds before the first restart after an unexpected exit (at least 1). Default 1000. */
  initialDelay?: number;
  /** Each further restart in a row waits this many times longer (at least 1). Default 2. */
  factor?: number;
  /** The longest wait between restarts, in milliseconds. Default 60000. */
  maxDelay?: number;
  /**
   * A helper that had been listening ("ready") for this many milliseconds when it ended counts
   * as healthy: the next restart waits `initialDelay` again. Default 60000.
   */
  resetAfter?: number;
  /** Restarts in a row (without a healthy helper in between) before giving up. Default Infinity. */
  maxRestarts?: number;
}

export interface QkscanOptions {
  /** The helper's file, usually helperPath(). Never inside app.asar. */
  path: string;
  /** Extra arguments for the helper. Default none. */
  args?: readonly string[];
  /** The helper's environment. Default process.env. */
  env?: NodeJS.ProcessEnv;
  /** Default "inherit". */
  stderr?: StderrMode;
  /**
   * The stop timeout of stop() in milliseconds (Infinity: never signal). Default 1000.
   * stop() writes "\n" to the helper's standard input and closes it at once, sends SIGTERM to the
   * helper's process group `stopTimeout` ms later if the helper has not exited, and SIGKILL
   * another `stopTimeout` ms after that. Windows has no SIGTERM: there the helper is terminated
   * (without giving back held keys) 2 × `stopTimeout` ms after stop().
   */
  stopTimeout?: number;
  /**
   * Restart the helper after an unexpected exit (any end that stop() did not ask for, other than
   * status 2, once the run has reached "ready"), waiting longer after each crash in a row.
   * Never after status 2 (permission missing), after stop(), or after a failed start.
   * `true` takes the defaults of RESTART_DEFAULTS. Default false.
   */
  restart?: boolean | RestartOptions;
}

/** What a message line means. A later "ready" of the same helper process is "re-enabled". */
export type KnownMessageType =
  'ready' | 're-enabled' | 'dispatch-date' | 'permission-present' | 'permission-required';

export interface QkscanMessage {
  /**
   * The line's "event", except that a repeated "ready" from the same helper process is
   * "re-enabled" (macOS had switched the tap off; the helper switched it on again). Events this
   * version does not know are passed on unchanged.
   */
  readonly type: KnownMessageType | (string & {});
  /** The "event" member exactly as the helper wrote it. */
  readonly event: string;
  /** The "message" member: text for the user (Slovak), or "". */
  readonly message: string;
}

/**
 * Why a helper ended:
 * - "stopped": after stop();
 * - "permission-required": exit status 2; `text` says what to tell the user;
 * - "ended": on its own (crash, signal, other status): an unexpected exit;
 * - "spawn-failed": it could not be started (`error` says why: ENOENT, EACCES, ...).
 */
export type ExitReason = 'stopped' | 'permission-required' | 'ended' | 'spawn-failed';

export interface QkscanExit {
  readonly reason: ExitReason;
  /** The exit status; null after a signal or a failed spawn. */
  readonly code: number | null;
  /** The signal that ended the helper, or null. */
  readonly signal: NodeJS.Signals | null;
  /** For "permission-required": the text of the helper's permission-required line (may be ""). */
  readonly text: string;
  /**
   * The signal stop() had to send because the helper had not exited in time, or null. On
   * Windows, "SIGKILL" means that the helper was terminated.
   */
  readonly forced: 'SIGTERM' | 'SIGKILL' | null;
  /** For "spawn-failed": the system's error. */
  readonly error: NodeJS.ErrnoException | null;
}

export interface QkscanRestart {
  /** How the helper that is being replaced ended. */
  readonly exit: QkscanExit;
  /** Milliseconds until the next helper is started. */
  readonly delay: number;
  /** 1 for the first restart of a series, 2 for the second, ... */
  readonly attempt: number;
}

export type QkscanState = 'idle' | 'starting' | 'running' | 'stopping' | 'restarting' | 'exited';

export interface QkscanEvents {
  /** Every message line, whatever its event. */
  message: [message: QkscanMessage];
  /** A helper process is listening: after start(), and after each restart. */
  ready: [message: QkscanMessage];
  /** A later "ready" of the same process: the tap had been switched off and is on again. */
  're-enabled': [message: QkscanMessage];
  /** A scan of the trigger code: open the dispatch-date dialog. */
  'dispatch-date': [message: QkscanMessage];
  'permission-present': [message: QkscanMessage];
  /** `message.message` is the Slovak text to show the user (empty in --check mode). */
  'permission-required': [message: QkscanMessage];
  /** The helper ended unexpectedly and will be started again after `delay` ms. */
  restart: [restart: QkscanRestart];
  /** The helper has ended for good (no restart follows). */
  exit: [exit: QkscanExit];
  /**
   * A line on standard output that is not a message (not JSON, or without the members), or the
   * first 100 characters of one longer than 64 KiB.
   */
  invalid: [line: string];
  /**
   * A line of the helper's standard error (with `stderr: "pipe"`); of a line longer than 64 KiB,
   * its first 100 characters.
   */
  stderr: [line: string];
}

export type QkscanErrorCode =
  | 'PERMISSION_REQUIRED'
  | 'UNSUPPORTED_PLATFORM'
  | 'STOPPED'
  | 'ENDED'
  | 'SPAWN_FAILED'
  | 'CHECK_FAILED'
  | 'TIMEOUT'
  | 'HELPER_NOT_FOUND'
  | 'ENOENT'
  | 'EACCES'
  | (string & {});

/**
 * Why the helper may not tap input, for the application's own text in its own language:
 * - "not-trusted": the user has not allowed the application (under Accessibility on a Mac) yet;
 *   it may be started again once the user has;
 * - "tap-refused": the application is allowed, yet the system refused the event tap; the user
 *   should check the settings and restart the application;
 * - "unsupported-platform": the host has no input service the helper can use (anything but
 *   macOS and Windows); no permission helps.
 */
export type PermissionReason = 'not-trusted' | 'tap-refused' | 'unsupported-platform';

export class QkscanError extends Error {
  /**
   * start(): "PERMISSION_REQUIRED" (exit status 2; `reason` says why, `text` holds the helper's
   * Slovak message for the user), "STOPPED" (stop() came before "ready"), "ENDED" (the helper
   * ended before "ready"), or the system's code when it could not be started ("ENOENT",
   * "EACCES", ...).
   * check(): the same system codes, "TIMEOUT", "CHECK_FAILED", or "UNSUPPORTED_PLATFORM" (with
   * `reason` "unsupported-platform").
   * helperPath(): "HELPER_NOT_FOUND".
   */
  readonly code: QkscanErrorCode;
  /**
   * Why the permission is missing, with "PERMISSION_REQUIRED" and "UNSUPPORTED_PLATFORM" (and
   * with "HELPER_NOT_FOUND" on a host that no helper supports); null otherwise, and for a
   * permission text this version does not know.
   */
  readonly reason: PermissionReason | null;
  /** How the helper ended, where that is known. */
  readonly exit: QkscanExit | null;
  /** The helper's permission text (Slovak) for "PERMISSION_REQUIRED", otherwise "". */
  readonly text: string;
  /** The system's error when the helper could not be started (ENOENT, EACCES, ...). */
  readonly cause?: NodeJS.ErrnoException;
}

/**
 * One helper, started with pipes for standard input and output in a process group of its own,
 * so that a terminal's Ctrl-C does not reach it. The object never emits 'error'.
 */
export class Qkscan extends EventEmitter {
  /** Throws TypeError or RangeError for bad options. */
  constructor(options: QkscanOptions);

  readonly state: QkscanState;
  /** The running helper's process id, or null. */
  readonly pid: number | null;
  /** How the last run ended, or null before the first one ended. */
  readonly lastExit: QkscanExit | null;

  /**
   * Starts the helper. Resolves at its first "ready"; rejects with a QkscanError if it cannot be
   * started, exits 2 (permission), ends or is stopped before "ready". While a run is going
   * (restarts included) it returns that run's promise; after the run has ended it starts anew.
   */
  start(): Promise<void>;

  /**
   * Stops the helper: writes "\n" to its standard input and closes it, then sends SIGTERM after
   * `timeout` ms (default: the `stopTimeout` option, 1000) and SIGKILL `timeout` ms after that,
   * each only if the helper is still running (on Windows, no SIGTERM: the helper is terminated
   * after 2 × `timeout` ms). Cancels a pending restart. Resolves with how the
   * helper ended (`forced` tells whether a signal was needed); with the last end, or null, when
   * nothing runs. Calling it again returns the same promise.
   */
  stop(options?: { timeout?: number }): Promise<QkscanExit | null>;

  /** Resolves when the current run has ended for good, like stop() but without stopping. */
  wait(): Promise<QkscanExit | null>;

  /**
   * The messages from now until the current run (or, when none is going, the next run) has ended
   * for good; the iteration then ends. Restarts do not end it.
   */
  messages(): AsyncIterableIterator<QkscanMessage>;
  [Symbol.asyncIterator](): AsyncIterableIterator<QkscanMessage>;

  on<E extends keyof QkscanEvents>(event: E, listener: (...args: QkscanEvents[E]) => void): this;
  once<E extends keyof QkscanEvents>(event: E, listener: (...args: QkscanEvents[E]) => void): this;
  off<E extends keyof QkscanEvents>(event: E, listener: (...args: QkscanEvents[E]) => void): this;
  addListener<E extends keyof QkscanEvents>(
    event: E,
    listener: (...args: QkscanEvents[E]) => void,
  ): this;
  removeListener<E extends keyof QkscanEvents>(
    event: E,
    listener: (...args: QkscanEvents[E]) => void,
  ): this;
  emit<E extends keyof QkscanEvents>(event: E, ...args: QkscanEvents[E]): boolean;
}

export interface CheckOptions {
  path: string;
  env?: NodeJS.ProcessEnv;
  stderr?: 'inherit' | 'ignore';
  /** Milliseconds to wait for the answer before killing the helper. Default 5000. */
  timeout?: number;
}

/**
 * Runs `qkscan --check`, which never prompts the user: true if the helper may tap input
 * ("permission-present"), false if not. Rejects with a QkscanError if it cannot be started, gives
 * no answer, or does not end in time, and with "UNSUPPORTED_PLATFORM" on a host where no
 * permission would let it tap input.
 */
export function check(options: CheckOptions): Promise<boolean>;

export interface HelperPathOptions {
  /** The helper's file, if the application has its own: returned if it can be run. */
  path?: string;
  /** Where QKSCAN_PATH is looked up. Default process.env. */
  env?: NodeJS.ProcessEnv;
}

/**
 * The helper's file, for `new Qkscan({ path })` and `check({ path })`. In order:
 * 1. `options.path`, or the environment variable QKSCAN_PATH (an error if it cannot be run);
 * 2. in a packaged Electron application, the bundle: on macOS `Contents/MacOS/qkscan`,
 *    `Contents/Helpers/qkscan` or `Contents/Resources/qkscan`, on Windows
 *    `resources\qkscan.exe`; then the platform package unpacked beside app.asar
 *    (`app.asar.unpacked/node_modules/qkscan-...`);
 * 3. the prebuilt helper of the installed platform package (`qkscan-darwin-universal`,
 *    `qkscan-win32-x64`).
 * Throws a QkscanError with the code "HELPER_NOT_FOUND" that lists the places it tried and what
 * to install.
 */
export function helperPath(options?: HelperPathOptions): string;

export const RESTART_DEFAULTS: Readonly<Required<RestartOptions>>;
/** 1000 ms. */
export const DEFAULT_STOP_TIMEOUT: number;
/** 5000 ms. */
export const DEFAULT_CHECK_TIMEOUT: number;
