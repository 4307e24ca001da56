// What a TypeScript application does with the client, as an ES module: the same objects by name
// and as the default export. Compiled by scripts/check-types with tsc --strict.
import qkscan, { Qkscan, QkscanError, helperPath, type QkscanErrorCode } from 'qkscan';

const same: typeof Qkscan = qkscan.Qkscan;
const path: string = qkscan.helperPath({ path: helperPath() });
const helper = new same({ path });

const codes: QkscanErrorCode[] = ['HELPER_NOT_FOUND', 'UNSUPPORTED_PLATFORM', 'PERMISSION_REQUIRED'];
// @ts-expect-error: the options are checked
new Qkscan({ path, stopTimeout: 'long' });

for await (const message of helper.messages()) {
  if (message.type === 'dispatch-date') break;
}
const error = new QkscanError('example');
console.log(codes, error.reason);
