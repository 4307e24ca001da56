'use strict';
// The listening helper as an object: started, read, restarted if asked, and stopped in order.
//
// A "run" lasts from start() until the helper has ended for good; with restarts it spans several
// helper processes. Every run has one promise for its start and one for its end.
const { EventEmitter } = require('node:events');
const { performance } = require('node:perf_hooks');
const { QkscanError } = require('./errors');
const { LineSplitter, parseMessage } = require('./lines');
const { helperOptions, checkDuration, restartDelay } = require('./options');
const { MessageQueue } = require('./queue');
const { onWindows } = require('./host');
const { startProcess, signalGroup } = require('./spawn');

// Message types emitted as events of their own besides 'message'. Other event names from the
// helper are only ever passed on inside 'message': one called "error" must not become an
// EventEmitter 'error' event, which throws when nobody listens.
const NAMED_EVENTS = new Set([
  'ready',
  're-enabled',
  'dispatch-date',
  'permission-present',
  'permission-required',
]);

// Once the helper has exited, how long to wait for its output to close. Only a process the helper
// left behind can hold the pipe open that long.
const OUTPUT_GRACE = 1000;

const noop = () => {};

function deferred() {
  let resolve;
  let reject;
  const promise = new Promise((res, rej) => {
    resolve = res;
    reject = rej;
  });
  return { promise, resolve, reject };
}

class Qkscan extends EventEmitter {
  #options;
  #state = 'idle';
  #run = null;
  #lastExit = null;
  #nextRunQueues = new Set(); // iterators made while no run was going: they wait for the next

  constructor(options) {
    super();
    this.#options = helperOptions(options);
  }

  // 'idle' | 'starting' | 'running' | 'stopping' | 'restarting' | 'exited'
  get state() {
    return this.#state;
  }

  get pid() {
    const helper = this.#run && this.#run.process;
    if (!helper || helper.ended || !helper.child) return null;
    return helper.child.pid === undefined ? null : helper.child.pid;
  }

  // How the helper ended the last time it ended for good; null before that.
  get lastExit() {
    return this.#lastExit;
  }

  start() {
    if (this.#run) return this.#run.started.promise;
    const run = {
      started: deferred(),
      finished: deferred(),
      ready: false, // a helper of this run has printed "ready"
      stopRequested: false,
      restarts: 0, // restarts in a row since the last healthy helper
      restartTimer: null,
      lastExit: null,
      process: null,
      queues: this.#nextRunQueues,
    };
    this.#nextRunQueues = new Set();
    this.#run = run;
    this.#launch(run);
    return run.started.promise;
  }

  stop(options = {}) {
    let timeout;
    try {
      timeout = checkDuration(
        'timeout',
        (options && options.timeout) ?? this.#options.stopTimeout,
        {
          infinite: true,
        },
      );
    } catch (error) {
      return Promise.reject(error);
    }
    const run = this.#run;
    if (!run) return Promise.resolve(this.#lastExit);
    if (run.stopRequested) return run.finished.promise;
    run.stopRequested = true;
    this.#state = 'stopping';
    if (run.restartTimer) {
      // Between two helpers: nothing runs, so the run ends with the last helper's end.
      clearTimeout(run.restartTimer);
      run.restartTimer = null;
      this.#finish(run, run.lastExit);
    } else {
      this.#requestStop(run.process, timeout);
    }
    return run.finished.promise;
  }

  // The end of the current run (or the last end, when none is going), without stopping it.
  wait() {
    return this.#run ? this.#run.finished.promise : Promise.resolve(this.#lastExit);
  }

  messages() {
    const queues = this.#run ? this.#run.queues : this.#nextRunQueues;
    const queue = new MessageQueue((done) => queues.delete(done));
    queues.add(queue);
    return queue;
  }

  [Symbol.asyncIterator]() {
    return this.messages();
  }

  #launch(run) {
    const { path, args, env, stderr } = this.#options;
    const helper = { child: null, readyCount: 0, readyAt: 0, permissionText: '', forced: null };
    helper.timers = new Set();
    helper.ended = false;
    run.process = helper;
    this.#state = 'starting';

    const started = startProcess(path, args, { stdin: 'pipe', stderr, env });
    if (started.error) {
      process.nextTick(() => this.#ended(run, helper, { error: started.error }));
      return;
    }
    const child = started.child;
    helper.child = child;
    // The only 'error' a child emits here is a failed spawn (no pid): a missing file, no execute
    // permission. Its 'close' follows, but the end is taken from this.
    child.on('error', (error) => {
      if (child.pid === undefined) this.#ended(run, helper, { error });
    });
    child.stdin.on('error', noop); // EPIPE: the helper has ended before reading its stop line
    this.#readLines(
      child.stdout,
      (line) => this.#onLine(run, helper, line),
      (start) => this.emit('invalid', start),
    );
    if (stderr === 'pipe') {
      // Standard error is text for a log, not messages: of an overlong line, its start is kept.
      const onLine = (line) => this.emit('stderr', line);
      this.#readLines(child.stderr, onLine, onLine);
    }
    child.on('exit', () => {
      const grace = setTimeout(() => {
        child.stdout.destroy();
        if (child.stderr) child.stderr.destroy();
      }, OUTPUT_GRACE);
      grace.unref();
      helper.timers.add(grace);
    });
    // 'close' comes after the exit and after all output has been read.
    child.on('close', (code, signal) => this.#ended(run, helper, { code, signal }));
  }

  // Reads `stream` as UTF-8 lines; a line too long to be kept goes to onOverlong as its start.
  #readLines(stream, onLine, onOverlong) {
    const lines = new LineSplitter(onLine, onOverlong);
    stream.setEncoding('utf8'); // a character split across two reads is decoded whole
    stream.on('data', (text) => lines.push(text));
    stream.on('end', () => lines.end());
    stream.on('error', noop);
  }

  #onLine(run, helper, line) {
    if (line === '') return;
    const parsed = parseMessage(line);
    if (!parsed) {
      this.emit('invalid', line);
      return;
    }
    let type = parsed.event;
    if (type === 'ready') {
      helper.readyCount += 1;
      if (helper.readyCount > 1) {
        type = 're-enabled'; // macOS had switched the tap off and the helper switched it on again
      } else {
        helper.readyAt = performance.now();
        if (this.#state === 'starting') this.#state = 'running';
        if (!run.stopRequested) {
          run.ready = true;
          run.started.resolve();
        }
      }
    } else if (type === 'permission-required') {
      helper.permissionText = parsed.message;
    }
    const message = Object.freeze({ type, event: parsed.event, message: parsed.message });
    for (const queue of run.queues) queue.push(message);
    this.emit('message', message);
    if (NAMED_EVENTS.has(type)) this.emit(type, message);
  }

  // The stop sequence: a line and the end of standard input at once (the helper stops on either,
  // replaying held keys first), then one step each `timeout` ms while it still runs: SIGTERM,
  // which a listening helper handles like the line, then SIGKILL. Windows has no SIGTERM to send:
  // there the first step only waits, and the last resort terminates the helper without its flush.
  #requestStop(helper, timeout) {
    const child = helper.child;
    if (!child || helper.ended) return; // its end is on its way
    if (child.stdin.writable) {
      child.stdin.write('\n');
      child.stdin.end();
    }
    if (timeout === Infinity) return;
    const steps = onWindows() ? [null, 'SIGKILL'] : ['SIGTERM', 'SIGKILL'];
    const step = (index) => {
      const timer = setTimeout(() => {
        helper.timers.delete(timer);
        const signal = steps[index];
        if (signal && signalGroup(child, signal)) helper.forced = signal;
        if (index + 1 < steps.length) step(index + 1);
      }, timeout);
      helper.timers.add(timer);
    };
    step(0);
  }

  #ended(run, helper, { code = null, signal = null, error = null }) {
    if (helper.ended) return;
    helper.ended = true;
    for (const timer of helper.timers) clearTimeout(timer);
    helper.timers.clear();

    let reason = 'ended';
    if (error) reason = 'spawn-failed';
    else if (code === 2) reason = 'permission-required';
    else if (run.stopRequested) reason = 'stopped';
    const exit = Object.freeze({
      reason,
      code: error ? null : code,
      signal: error ? null : signal,
      text: reason === 'permission-required' ? helper.permissionText : '',
      forced: helper.forced,
      error,
    });
    run.lastExit = exit;

    const delay = this.#restartDelay(run, helper, exit);
    if (delay === null) {
      this.#finish(run, exit);
      return;
    }
    this.#state = 'restarting';
    run.restartTimer = setTimeout(() => {
      run.restartTimer = null;
      this.#launch(run);
    }, delay);
    this.emit('restart', Object.freeze({ exit, delay, attempt: run.restarts }));
  }

  // The pause before the next helper, or null when there is to be none. Only a helper that ended
  // unexpectedly is restarted, and only in a run that got as far as "ready": a start that fails
  // is a rejected start(), not a loop of attempts; a missing permission needs the user first.
  #restartDelay(run, helper, exit) {
    const policy = this.#options.restart;
    if (!policy || exit.reason !== 'ended' || !run.ready) return null;
    if (helper.readyCount > 0 && performance.now() - helper.readyAt >= policy.resetAfter) {
      run.restarts = 0;
    }
    if (run.restarts >= policy.maxRestarts) return null;
    const delay = restartDelay(policy, run.restarts);
    run.restarts += 1;
    return delay;
  }

  #finish(run, exit) {
    this.#run = null;
    this.#state = 'exited';
    this.#lastExit = exit;
    for (const queue of run.queues) queue.end();
    run.started.reject(QkscanError.fromExit(this.#options.path, exit)); // no-op once resolved
    run.finished.resolve(exit);
    this.emit('exit', exit);
  }
}

module.exports = { Qkscan };
