'use strict';
// An async iterator over messages: a queue filled by the helper's output and emptied by
// `for await`. It ends when the helper has ended for good, after the queued messages.

class MessageQueue {
  constructor(onReturn) {
    this.items = [];
    this.waiting = []; // resolvers of next() calls that found the queue empty
    this.done = false;
    this.onReturn = onReturn;
  }

  push(item) {
    if (this.done) return;
    const resolve = this.waiting.shift();
    if (resolve) resolve({ value: item, done: false });
    else this.items.push(item);
  }

  end() {
    if (this.done) return;
    this.done = true;
    for (const resolve of this.waiting.splice(0)) resolve({ value: undefined, done: true });
  }

  next() {
    if (this.items.length > 0) return Promise.resolve({ value: this.items.shift(), done: false });
    if (this.done) return Promise.resolve({ value: undefined, done: true });
    return new Promise((resolve) => this.waiting.push(resolve));
  }

  // A `break` out of `for await`: no more messages are kept for this iterator.
  return() {
    this.items.length = 0;
    this.end();
    this.onReturn(this);
    return Promise.resolve({ value: undefined, done: true });
  }

  [Symbol.asyncIterator]() {
    return this;
  }
}

module.exports = { MessageQueue };
