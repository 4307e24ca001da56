// What a TypeScript application does with the client, as CommonJS. scripts/check-types compiles
// it with tsc --strict against the packed package. Each line after @ts-expect-error must fail to
// compile: the types are exactly as strict as that.
import {
  Qkscan,
  QkscanError,
  check,
  helperPath,
  type PermissionReason,
  type QkscanExit,
  type QkscanMessage,
} from 'qkscan';

const path: string = helperPath();
helperPath({ path: '/opt/qkscan/qkscan', env: { QKSCAN_PATH: '' } });
// @ts-expect-error: a path is a string
helperPath({ path: 5 });

const helper = new Qkscan({ path, restart: { initialDelay: 500 }, stderr: 'pipe' });
helper.on('dispatch-date', (message: QkscanMessage) => message.type.length);
helper.on('stderr', (line: string) => line.length);
// @ts-expect-error: standard error comes as lines, not messages
helper.on('stderr', (message: QkscanMessage) => message.event);
helper.on('exit', (exit: QkscanExit) => {
  const forced: 'SIGTERM' | 'SIGKILL' | null = exit.forced;
  return forced;
});

// The reasons are exactly these: the switch covers them all, or `never` would not compile.
function explain(reason: PermissionReason | null): string {
  switch (reason) {
    case 'not-trusted':
      return 'allow the application';
    case 'tap-refused':
      return 'check the settings and restart';
    case 'unsupported-platform':
      return 'not on this system';
    case null:
      return 'see the text';
    default: {
      const unknown: never = reason;
      return unknown;
    }
  }
}
// @ts-expect-error: not a reason
const wrong: PermissionReason = 'denied';

export async function run(): Promise<QkscanExit | null> {
  try {
    await helper.start();
  } catch (error) {
    if (error instanceof QkscanError) {
      const cause: NodeJS.ErrnoException | undefined = error.cause;
      console.log(error.code, explain(error.reason), error.text, cause?.code, wrong);
    }
  }
  const present: boolean = await check({ path, timeout: 2000 });
  console.log(present);
  return helper.stop({ timeout: 500 });
}
