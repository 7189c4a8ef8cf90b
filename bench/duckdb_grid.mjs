// What a researcher would reach for instead of dosemap --grid 1000: DuckDB (npm's
// @duckdb/node-api, 2 threads) reading the export's CSV and writing the mean dose per cell of a
// plain degree grid of about 1 km to a CSV file. Prints "seconds cells".
// Usage: node duckdb_grid.mjs EXPORT.csv OUT.csv
import {DuckDBInstance} from '@duckdb/node-api';

const [csv, out] = process.argv.slice(2);
const quoted = (path) => "'" + path.replaceAll("'", "''") + "'";
const instance = await DuckDBInstance.create(':memory:', {threads: '2'});
const connection = await instance.connect();
const start = performance.now();
// cpm as the database's bGeigie factor makes it (334 cpm a µSv/h); rows already in µSv/h as given.
await connection.run(`COPY (
  SELECT floor(Latitude / 0.009) AS row, floor(Longitude / 0.011) AS col, count(*) AS count,
         avg(dose) AS dose_mean_usvh, max(dose) AS dose_max_usvh, min(dose) AS dose_min_usvh,
         min("Captured Time") AS first_time, max("Captured Time") AS last_time
  FROM (SELECT Latitude, Longitude, "Captured Time",
               CASE WHEN Unit = 'cpm' THEN Value / 334.0 ELSE Value END AS dose
        FROM read_csv(${quoted(csv)}, header = true, auto_detect = true))
  GROUP BY row, col) TO ${quoted(out)} (HEADER, DELIMITER ',')`);
const seconds = (performance.now() - start) / 1000;
const cells = await connection.runAndReadAll(`SELECT count(*) FROM read_csv(${quoted(out)}, header = true)`);
console.log(seconds.toFixed(2), String(cells.getRows()[0][0]));
