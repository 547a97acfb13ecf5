// Dumps an Access database as JSON through mdb-reader, an independent reader,
// so tests can compare what our engine and our writer see against it.
//
//   node mdb_dump.mjs FILE [--password P] [--table NAME] [--limit N] [--system]
//
// Output: {"password": ..., "tables": [{"name", "rowCount", "columns": [{"name","type","size"}],
//          "rows": [[value, ...], ...]}]}
// Values keep their kind: null, true/false, numbers (non-finite as {"float": "NaN"}),
// strings, {"date": ISO, "ms": epoch ms}, {"bytes": hex}, {"bigint": "..."},
// {"decimal": "..."} for currency and numeric, {"attachments": [{name, type, bytes}]}.
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

const args = process.argv.slice(2);
const file = args.shift();
let password, tableName, limit = Infinity, system = false;
while (args.length) {
  const a = args.shift();
  if (a === "--password") password = args.shift();
  else if (a === "--table") tableName = args.shift();
  else if (a === "--limit") limit = Number(args.shift());
  else if (a === "--system") system = true;
  else { console.error(`unknown argument ${a}`); process.exit(2); }
}
if (!file) { console.error("usage: mdb_dump.mjs FILE [--password P] [--table NAME] [--limit N]"); process.exit(2); }

function encode(type, v) {
  if (v === null || v === undefined) return null;
  if (typeof v === "boolean") return v;
  if (typeof v === "bigint") return { bigint: v.toString() };
  if (typeof v === "number") return Number.isFinite(v) ? v : { float: String(v) };
  if (v instanceof Date) return { date: Number.isNaN(v.getTime()) ? "invalid" : v.toISOString(), ms: v.getTime() };
  if (Buffer.isBuffer(v)) return { bytes: v.toString("hex") };
  if (Array.isArray(v)) return { attachments: v.map(a => ({ name: a.name, type: a.type, bytes: a.data ? a.data.toString("hex") : null })) };
  if (typeof v === "string") {
    if (type === "currency" || type === "numeric") return { decimal: v };
    if (type === "datetimextended") return { datetimeextended: v };
    return v;
  }
  return { unknown: String(v) };
}

let reader;
try {
  reader = new MDBReader(readFileSync(file), { password });
} catch (e) {
  console.error(`mdb-reader: ${e.message}`);
  process.exit(1);
}
const names = tableName ? [tableName] : reader.getTableNames({ normalTables: true, systemTables: system, linkedTables: false });
const out = { password: reader.getPassword(), tables: [] };
for (const name of names) {
  const table = reader.getTable(name);
  const columns = table.getColumns();
  const rows = table.getData({ rowLimit: limit }).map(r => columns.map(c => encode(c.type, r[c.name])));
  out.tables.push({ name, rowCount: table.rowCount, columns: columns.map(c => ({ name: c.name, type: c.type, size: c.size ?? null })), rows });
}
process.stdout.write(JSON.stringify(out));
