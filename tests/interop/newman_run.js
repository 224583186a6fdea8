// Runs the collection file named by the first argument with newman. The
// second argument is a JSON object of environment variables. Requests go
// wherever the collection sends them (the tests' own recording server).
// Prints, as JSON, the run's failures and the name of each executed item.
'use strict';
const newman = require('newman');

const guard = setTimeout(() => {
    process.stderr.write('newman_run: timed out\n');
    process.exit(2);
}, 60000);

const vars = JSON.parse(process.argv[3] || '{}');
newman.run({
    collection: process.argv[2],
    envVar: Object.entries(vars).map(([key, value]) => ({ key, value })),
    reporters: [],
    timeoutRequest: 10000,
}, (err, summary) => {
    clearTimeout(guard);
    const failures = err ? [String(err)] : summary.run.failures.map((f) => String(f.error && f.error.message));
    const items = err ? [] : summary.run.executions.map((e) => e.item.name);
    process.stdout.write(JSON.stringify({ failures, items }));
});
