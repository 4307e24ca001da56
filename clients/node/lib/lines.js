'use strict';
// Reading qkscan's standard output: text split into lines, each line read as one message.

// A message line is a few dozen bytes; anything this long is not one, and is dropped rather
// than kept growing in memory while no newline comes.
const MAX_LINE_LENGTH = 64 * 1024;
// How much of a dropped line is passed on, for a log.
const OVERLONG_START = 100;

const startOf = (...parts) =>
  parts
    .map((part) => part.slice(0, OVERLONG_START))
    .join('')
    .slice(0, OVERLONG_START);

// Splits text into lines at "\n". A line longer than MAX_LINE_LENGTH is dropped, and its first
// OVERLONG_START characters are handed to onOverlong. The caller decodes the bytes (a stream's
// setEncoding('utf8') keeps a character split across two chunks whole), so that this only ever
// sees whole characters.
class LineSplitter {
  constructor(onLine, onOverlong) {
    this.pending = '';
    this.skipping = false; // inside a line that grew too long: dropped up to its end
    this.onLine = onLine;
    this.onOverlong = onOverlong;
  }

  push(text) {
    let start = 0;
    for (let end; (end = text.indexOf('\n', start)) !== -1; start = end + 1) {
      const piece = text.slice(start, end);
      if (this.skipping) {
        this.skipping = false;
      } else if (this.pending.length + piece.length > MAX_LINE_LENGTH) {
        const dropped = startOf(this.pending, piece);
        this.pending = '';
        this.onOverlong(dropped);
      } else {
        const line = this.pending + piece;
        this.pending = '';
        this.onLine(line);
      }
    }
    if (this.skipping) return;
    this.pending += text.slice(start);
    if (this.pending.length > MAX_LINE_LENGTH) {
      const dropped = startOf(this.pending);
      this.pending = '';
      this.skipping = true;
      this.onOverlong(dropped);
    }
  }

  // The output ended: a last line without its "\n" still counts.
  end() {
    const line = this.pending;
    this.pending = '';
    this.skipping = false;
    if (line !== '') this.onLine(line);
  }
}

// The message in one line: { event, message } when the line is a JSON object whose "event" and
// "message" are strings (in either order, other members ignored), otherwise null.
function parseMessage(line) {
  let value;
  try {
    value = JSON.parse(line);
  } catch {
    return null;
  }
  if (value === null || typeof value !== 'object' || Array.isArray(value)) return null;
  const { event, message } = value;
  if (typeof event !== 'string' || typeof message !== 'string') return null;
  return { event, message };
}

module.exports = { LineSplitter, parseMessage, MAX_LINE_LENGTH, OVERLONG_START };
