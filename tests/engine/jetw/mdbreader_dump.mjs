// Prints what the npm package mdb-reader reads from an Access file, as JSON,
// for the writer's tests to compare with what they wrote.
//
//   node mdbreader_dump.mjs <checkers-dir> <database> [--password P] [table ...]
//
// <checkers-dir> is the npm prefix mdb-reader was installed into (the module
// is loaded from there, so no NODE_PATH or working folder is needed).  With
// no table names, every user table is dumped.
//
// Output: {"tables": [...], "systemTables": [...], "queries": [...],
//          "data": {"<table>": {"columns": [...], "rows": [[...], ...]}}}
// Every value is a string or null: numbers as JavaScript prints them, dates
// as "YYYY-MM-DD HH:MM:SS" (".mmm" added when there are milliseconds), bytes
// in upper-case hex, currency, decimal and GUID exactly as mdb-reader gives them.
import { readFileSync } from "node:fs";
import { createRequire } from "node:module";
import { resolve } from "node:path";
import { pathToFileURL } from "node:url";

const args = process.argv.slice(2);
if (args.length < 2) {
    process.stderr.write("usage: mdbreader_dump.mjs <checkers-dir> <database> [--password P] [table ...]\n");
    process.exit(2);
}
const [checkers, file, ...rest] = args;
let password;
const wanted = [];
for (let i = 0; i < rest.length; ++i) {
    if (rest[i] === "--password") password = rest[++i];
    else wanted.push(rest[i]);
}

const require = createRequire(resolve(checkers, "package.json"));
const { default: MDBReader } = await import(pathToFileURL(require.resolve("mdb-reader")).href);

function pad(n, width) {
    return String(n).padStart(width, "0");
}

function dateText(d) {
    if (Number.isNaN(d.getTime())) return "invalid date";
    const y = d.getUTCFullYear();
    let s = (y < 0 ? "-" + pad(-y, 4) : pad(y, 4)) + "-" + pad(d.getUTCMonth() + 1, 2) + "-" + pad(d.getUTCDate(), 2) +
        " " + pad(d.getUTCHours(), 2) + ":" + pad(d.getUTCMinutes(), 2) + ":" + pad(d.getUTCSeconds(), 2);
    if (d.getUTCMilliseconds() !== 0) s += "." + pad(d.getUTCMilliseconds(), 3);
    return s;
}

function text(v) {
    if (v === null || v === undefined) return null;
    if (Buffer.isBuffer(v)) return v.toString("hex").toUpperCase();
    if (v instanceof Date) return dateText(v);
    if (Array.isArray(v)) return "[" + v.length + " attachments]";
    if (Object.is(v, -0)) return "-0"; // String() would drop the sign
    return String(v); // numbers, bigints, booleans, strings
}

const reader = new MDBReader(readFileSync(file), password === undefined ? {} : { password });
const tables = reader.getTableNames({ normalTables: true, systemTables: false, linkedTables: false });
const systemTables = reader.getTableNames({ normalTables: false, systemTables: true, linkedTables: false });

// Saved queries are not offered as such; MSysObjects lists them (type 5).
const queries = reader
    .getTable("MSysObjects")
    .getData({ columns: ["Name", "Type"] })
    .filter((o) => (o.Type & 0x7f) === 5)
    .map((o) => o.Name);

const data = {};
for (const name of wanted.length ? wanted : tables) {
    const table = reader.getTable(name);
    const columns = table.getColumns();
    const rows = table.getData().map((row) => columns.map((c) => text(row[c.name])));
    data[name] = {
        rowCount: String(table.rowCount),
        columns: columns.map((c) => ({
            name: c.name,
            type: c.type,
            size: String(c.size),
            precision: c.precision === undefined ? null : String(c.precision),
            scale: c.scale === undefined ? null : String(c.scale),
            nullable: String(c.nullable),
            autoLong: String(c.autoLong),
            autoUUID: String(c.autoUUID),
        })),
        rows,
    };
}

process.stdout.write(JSON.stringify({ tables, systemTables, queries, data }));
