'use strict';
// Reading lines as messages: which lines are messages, and where lines are cut.
const assert = require('node:assert/strict');
const { describe, it } = require('node:test');
const { LineSplitter, parseMessage, MAX_LINE_LENGTH, OVERLONG_START } = require('../lib/lines');

describe('parseMessage', () => {
  const cases = [
    ['compact, event first', '{"event":"ready","message":""}', { event: 'ready', message: '' }],
    ['message first', '{"message":"","event":"ready"}', { event: 'ready', message: '' }],
    ['with spaces', ' { "event" : "x" , "message" : "a b" } ', { event: 'x', message: 'a b' }],
    ['extra members ignored', '{"event":"x","message":"","n":1}', { event: 'x', message: '' }],
    ['escapes decoded', '{"event":"x","message":"\\u013e\\n"}', { event: 'x', message: 'ľ\n' }],
    ['not JSON', 'ready', null],
    ['cut short', '{"event":"ready","message":"', null],
    ['an array', '["ready",""]', null],
    ['null', 'null', null],
    ['a string', '"ready"', null],
    ['no message', '{"event":"ready"}', null],
    ['no event', '{"message":""}', null],
    ['event not a string', '{"event":1,"message":""}', null],
    ['message not a string', '{"event":"ready","message":null}', null],
  ];
  for (const [name, line, expected] of cases) {
    it(name, () => assert.deepEqual(parseMessage(line), expected));
  }
});

describe('LineSplitter', () => {
  function split(chunks) {
    const got = [];
    const splitter = new LineSplitter(
      (line) => got.push(line),
      (start) => got.push(`overlong:${start}`),
    );
    for (const chunk of chunks) splitter.push(chunk);
    splitter.end();
    return got;
  }

  const long = 'x'.repeat(MAX_LINE_LENGTH + 1);
  const dropped = `overlong:${'x'.repeat(OVERLONG_START)}`;
  const cases = [
    ['one line per newline', ['a\nb\n'], ['a', 'b']],
    ['a line across chunks', ['a', 'b', 'c\nd\n'], ['abc', 'd']],
    ['an empty line is a line', ['\n\n'], ['', '']],
    ['the last line without newline', ['a\nb'], ['a', 'b']],
    [
      'the longest line kept',
      ['y'.repeat(MAX_LINE_LENGTH) + '\nz\n'],
      ['y'.repeat(MAX_LINE_LENGTH), 'z'],
    ],
    ['an overlong line in one chunk', [long + '\nz\n'], [dropped, 'z']],
    ['an overlong line in many chunks', [...long.match(/.{1,1000}/g), 'tail\nz\n'], [dropped, 'z']],
    ['an overlong line never ended', [long], [dropped]],
  ];
  for (const [name, chunks, expected] of cases) {
    it(name, () => assert.deepEqual(split(chunks), expected));
  }
});
