// Reads a .pmtiles file with npm's PMTiles reader and vector tile decoder, as a web map would,
// and prints what it holds: the measurements at the highest zoom, how many lie in a circle, and
// the cells' counts at every zoom below.
// Usage: node read_tiles.mjs FILE.pmtiles LAT,LON,RADIUS_M
import {open} from 'node:fs/promises';
import {PMTiles} from 'pmtiles';
import {VectorTile} from '@mapbox/vector-tile';
import {PbfReader} from 'pbf';

const [path, zone] = process.argv.slice(2);
const [zoneLat, zoneLon, zoneRadius] = zone.split(',').map(Number);
const file = await open(path);
const source = {
  getKey: () => path,
  getBytes: async (offset, length) => {
    const buffer = Buffer.alloc(length);
    const {bytesRead} = await file.read(buffer, 0, length, offset);
    return {data: buffer.buffer.slice(buffer.byteOffset, buffer.byteOffset + bytesRead)};
  },
};
const archive = new PMTiles(source);
const header = await archive.getHeader();
const meta = await archive.getMetadata();

function metres(lat1, lon1, lat2, lon2) {
  const r = Math.PI / 180, a = Math.sin((lat2 - lat1) * r / 2) ** 2 +
    Math.cos(lat1 * r) * Math.cos(lat2 * r) * Math.sin((lon2 - lon1) * r / 2) ** 2;
  return 2 * 6371008.8 * Math.asin(Math.sqrt(a));
}
function tileOf(lon, lat, z) {
  const n = 2 ** z, s = Math.sin(lat * Math.PI / 180);
  return [Math.floor((lon + 180) / 360 * n),
    Math.floor((0.5 - Math.log((1 + s) / (1 - s)) / (4 * Math.PI)) * n)];
}

const result = {maxZoom: header.maxZoom, points: 0, distinct: 0, inZone: 0, cells: [], tiles: 0,
  layers: meta.vector_layers.map((l) => l.id + ' ' + l.minzoom + '-' + l.maxzoom).join(', ')};
const seen = new Set();
for (let z = header.minZoom; z <= header.maxZoom; z++) {
  const [x0, y0] = tileOf(header.minLon, header.maxLat, z);
  const [x1, y1] = tileOf(header.maxLon, header.minLat, z);
  let cells = 0;
  for (let x = x0; x <= x1; x++) {
    for (let y = y0; y <= y1; y++) {
      const tile = await archive.getZxy(z, x, y);
      if (!tile) continue;
      result.tiles++;
      const layers = new VectorTile(new PbfReader(new Uint8Array(tile.data))).layers;
      if (layers.measurements) {
        const layer = layers.measurements;
        for (let i = 0; i < layer.length; i++) {
          const f = layer.feature(i).toGeoJSON(x, y, z);
          const [lon, lat] = f.geometry.coordinates;
          result.points++;
          seen.add(f.properties.time + ' ' + f.properties.dose_usvh);
          if (metres(lat, lon, zoneLat, zoneLon) <= zoneRadius) result.inZone++;
        }
      }
      if (layers.cells) {
        for (let i = 0; i < layers.cells.length; i++) cells += layers.cells.feature(i).properties.count;
      }
    }
  }
  if (z < header.maxZoom) result.cells.push(cells);
}
result.distinct = seen.size;
result.cellsAllEqual = result.cells.every((c) => c === result.cells[0]) ? result.cells[0] : -1;
await file.close();
console.log(JSON.stringify(result));
