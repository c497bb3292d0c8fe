// Prints the attachments the npm package mdb-reader reads from one column of
// an Access table, one JSON line per row:
//   [{"name": ..., "type": ..., "data": "<hex>"}, ...]
//
//   node attachments_dump.mjs <checkers-dir> <database> <table> <column>
//
// Only that column is read: mdb-reader takes every complex column for an
// attachment column and fails on multi-value and version-history ones.
import { readFileSync } from "node:fs";
import { createRequire } from "node:module";
import { resolve } from "node:path";
import { pathToFileURL } from "node:url";

const [checkers, file, table, column] = process.argv.slice(2);
if (!column) {
    process.stderr.write("usage: attachments_dump.mjs <checkers-dir> <database> <table> <column>\n");
    process.exit(2);
}
const require = createRequire(resolve(checkers, "package.json"));
const { default: MDBReader } = await import(pathToFileURL(require.resolve("mdb-reader")).href);

const reader = new MDBReader(readFileSync(file));
for (const row of reader.getTable(table).getData({ columns: [column] })) {
    const list = row[column] ?? [];
    const out = list.map((a) => ({ name: a.name, type: a.type, data: Buffer.from(a.data).toString("hex") }));
    process.stdout.write(JSON.stringify(out) + "\n");
}
