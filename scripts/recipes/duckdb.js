// Loads nodrix JSON Lines into DuckDB with a typed column per key (DuckDB
// reads every line to find the types; nodrix gives each key path one JSON
// type, so none falls back to an untyped JSON column), writes Parquet and
// answers the questions of duckdb-queries.sql.
//
// usage: node scripts/recipes/duckdb.js FRAMES.jsonl OUT.parquet
// (with @duckdb/node-api on NODE_PATH; scripts/recipes/duckdb.sh sets it up)
"use strict";
const fs = require("fs");
const path = require("path");
const { DuckDBInstance } = require("@duckdb/node-api");

function literal(text) {
    return "'" + text.replace(/'/g, "''") + "'";
}

// The column types that hold untyped JSON, at any depth.
function untyped(type) {
    return /\bJSON\b/.test(type);
}

async function main() {
    const [input, parquet] = process.argv.slice(2);
    if (!input || !parquet) {
        console.error("usage: node duckdb.js FRAMES.jsonl OUT.parquet");
        process.exit(2);
    }
    const db = await DuckDBInstance.create(":memory:");
    const c = await db.connect();
    await c.run(
        "CREATE TABLE frames AS SELECT * FROM read_json(" + literal(input) +
        ", format = 'newline_delimited', records = true, sample_size = -1," +
        " maximum_depth = -1, map_inference_threshold = -1, field_appearance_threshold = 0)");
    const columns = (await c.runAndReadAll("DESCRIBE frames")).getRowObjects();
    const loose = columns.filter((row) => untyped(String(row.column_type)));
    if (loose.length) {
        console.error("untyped columns: " + loose.map((row) => row.column_name).join(", "));
        process.exit(1);
    }
    await c.run("COPY frames TO " + literal(parquet) + " (FORMAT parquet, COMPRESSION zstd)");
    const queries = fs.readFileSync(path.join(__dirname, "duckdb-queries.sql"), "utf8")
        .split(/;\s*\n/)
        .map((q) => q.replace(/--.*$/gm, "").trim())
        .filter((q) => q);
    for (const q of queries) {
        const rows = (await c.runAndReadAll(q)).getRows();
        for (const row of rows) console.log(row.map(String).join("|"));
    }
}

main().catch((e) => {
    console.error(e.message || e);
    process.exit(1);
});
