(function () {
  var points = takeJson('points');
  var classes = JSON.parse(document.getElementById('classes').textContent);
  var scale = JSON.parse(document.getElementById('scale').textContent);
  var base = baseMap(), map = base.map, renderer = base.renderer;
  // A drive across the antimeridian is drawn the narrower way round: west longitudes past 180.
  var span = [Infinity, -Infinity, Infinity, -Infinity], south = Infinity, north = -Infinity;
  points.forEach(function (p) {
    var east = p[1] < 0 ? p[1] + 360 : p[1];
    span = [Math.min(span[0], p[1]), Math.max(span[1], p[1]), Math.min(span[2], east), Math.max(span[3], east)];
    south = Math.min(south, p[0]), north = Math.max(north, p[0]);
  });
  var across = span[3] - span[2] < span[1] - span[0] - 1e-9;
  function lon(x) { return across && x < 0 ? x + 360 : x; }
  var west = across ? span[2] : span[0], east = across ? span[3] : span[1];
  var pointLayer = L.featureGroup().addTo(map);
  pointLayer.bindPopup(function (layer) {
    var p = points[layer.options.index];
    return '<b>' + plusMinus(p[2], p[6], 4) + ' \u00b5Sv/h</b> (' + t('class') + ' ' + p[4] + ')<br>' +
      timeHtml(p[5]) + (p[3] === null ? '' : '<br>' + p[3] + ' cpm');
  });
  // Outlines only from street level on: at the overview they would darken the colours.
  var outlineFrom = 15;
  function outlined() { return map.getZoom() >= outlineFrom; }
  function drawPoint(i) {
    var p = points[i], c = classes[p[4] - 1];
    L.circleMarker([p[0], lon(p[1])], {renderer: renderer, radius: c.radius, color: '#333', weight: 0.6,
      stroke: outlined(), fillColor: c.colour, fillOpacity: 0.9, index: i}).addTo(pointLayer);
  }
  // The highest doses are drawn last, on top; equal doses in the order of the drive.
  function byDose(a, b) { return points[a][2] - points[b][2] || a - b; }
  var wasOutlined = null;
  map.on('zoomend', function () {
    if (outlined() === wasOutlined) return;
    wasOutlined = outlined();
    pointLayer.setStyle({stroke: wasOutlined});
  });
  function drawn() {
    document.body.dataset.drawn = Object.keys(renderer._layers).length;
    // For checks: whether the points lie bottom to top by dose, and whether they are outlined.
    var doses = [];
    pointLayer.eachLayer(function (l) { doses.push(points[l.options.index][2]); });
    document.body.dataset.drawOrder = doses.every(function (d, i) { return i === 0 || doses[i - 1] <= d; }) ? 'dose' : 'mixed';
    document.body.dataset.outlined = String(outlined());
  }
  // Above 100,000 points the map opens on cells of their mean dose, about 20,000 over the drive;
  // the points show once so few are in view that they can be told apart.
  var big = points.length > 100000;
  document.body.dataset.view = big ? 'cells' : 'points';
  // The map's zoom is known once it is fitted: the points are drawn then.
  function drawAll() { points.map(function (p, i) { return i; }).sort(byDose).forEach(drawPoint); }
  if (!big) {
    // drawn below, once the view is set
  } else {
    var R = 6371008.8, rad = Math.PI / 180;
    var area = Math.max(1, (north - south) * rad * R) *
      Math.max(1, (east - west) * rad * R * Math.cos((south + north) / 2 * rad));
    var ideal = Math.sqrt(area / 20000), size = 10;
    [10, 25, 50].forEach(function (s) {
      for (var m = s; m <= 100000; m *= 10) {
        if (Math.abs(Math.log(m / ideal)) < Math.abs(Math.log(size / ideal))) size = m;
      }
    });
    var rowDeg = size / R * 180 / Math.PI, rows = Math.ceil(180 / rowDeg), cells = new Map();
    points.forEach(function (p) {
      var row = Math.min(rows - 1, Math.max(0, Math.floor((p[0] + 90) / rowDeg)));
      var middle = Math.min(90, Math.max(-90, -90 + (row + 0.5) * rowDeg));
      var columns = Math.max(1, Math.floor(360 * Math.cos(middle * rad) / rowDeg));
      var x = p[1] === 180 ? -180 : p[1], width = 360 / columns;
      var column = Math.min(columns - 1, Math.max(0, Math.floor((x + 180) / width)));
      var key = row * 8388608 + column, cell = cells.get(key);
      if (!cell) cells.set(key, cell = {row: row, column: column, width: width, n: 0, sum: 0, max: -Infinity, min: Infinity});
      cell.n++, cell.sum += p[2], cell.max = Math.max(cell.max, p[2]), cell.min = Math.min(cell.min, p[2]);
    });
    // Each cell in the class colour of its mean, outlined in the same colour, so that a cell
    // smaller than a pixel at the overview still shows its class. A cell that holds a measurement
    // of the top class is marked on top by a ring a few pixels wide, at every zoom.
    var cellLayer = L.featureGroup(), hotLayer = L.featureGroup(), hot = 0;
    function cellPopup(c) {
      var mean = c.sum / c.n;
      return '<b>' + fig(mean, 3) + ' \u00b5Sv/h</b> ' + t('meanOf').replace('{}', c.n) +
        '<br>' + fig(c.min, 3) + ' \u2013 ' + fig(c.max, 3) +
        ' \u00b5Sv/h<br>' + t('cellsOf').replace('{}', size);
    }
    cellLayer.bindPopup(function (layer) { return cellPopup(layer.options.cell); });
    hotLayer.bindPopup(function (layer) { return cellPopup(layer.options.cell); });
    var hotCells = [];
    cells.forEach(function (c) {
      var mean = c.sum / c.n;
      var k = mean < scale[0] ? 1 : mean < scale[1] ? 2 : mean < scale[2] ? 3 : mean < scale[3] ? 4 : 5;
      var s = -90 + c.row * rowDeg, n = Math.min(90, s + rowDeg), w = -180 + c.column * c.width;
      if (s < -85 || n > 85) return;
      var colour = classes[k - 1].colour;
      L.rectangle([[s, lon(w)], [n, lon(w) + c.width]], {renderer: renderer, color: colour, weight: 1,
        opacity: 0.9, fillColor: colour, fillOpacity: 0.8, cell: c}).addTo(cellLayer);
      if (c.max >= scale[3]) hotCells.push({c: c, at: [(s + n) / 2, lon(w) + c.width / 2]});
    });
    // The highest on top.
    hotCells.sort(function (a, b) { return a.c.max - b.c.max; }).forEach(function (h) {
      L.circleMarker(h.at, {renderer: renderer, radius: 6, color: '#000', weight: 2,
        fillColor: classes[4].colour, fillOpacity: 1, cell: h.c}).addTo(hotLayer);
      hot++;
    });
    cellLayer.addTo(map);
    hotLayer.addTo(map);
    document.body.dataset.hotCells = hot;
    // The legend says what the rings are.
    var ring = document.createElement('tr');
    ring.innerHTML = '<td colspan="2"><i style="background:' + classes[4].colour +
      ';border:2px solid #000;border-radius:50%"></i><span data-i18n="hotCell"></span></td>';
    document.querySelector('table.legend').appendChild(ring);
    document.body.dataset.cells = cells.size;
    document.body.dataset.cellSize = size;
    var showing = 'cells', note = L.control({position: 'topright'});
    function showPointsInView() {
      if (showing !== 'points') return;
      var view = map.getBounds(), inView = [];
      for (var i = 0; i < points.length && inView.length <= 50000; i++) {
        if (view.contains([points[i][0], lon(points[i][1])])) inView.push(i);
      }
      pointLayer.clearLayers();
      wasOutlined = outlined();
      if (inView.length <= 50000) inView.sort(byDose).forEach(drawPoint);
      note.text.dataset.i18n = inView.length <= 50000 ? 'cells' : 'zoomIn';
      note.text.textContent = t(note.text.dataset.i18n);
      drawn();
    }
    note.onAdd = function () {
      var button = L.DomUtil.create('button', 'toggle');
      this.text = button;
      button.dataset.i18n = 'points';
      button.textContent = t('points');
      button.title = t('toggle');
      onLanguage.push(function () { button.title = t('toggle'); });
      L.DomEvent.disableClickPropagation(button);
      L.DomEvent.on(button, 'click', function () {
        showing = showing === 'cells' ? 'points' : 'cells';
        document.body.dataset.view = showing;
        if (showing === 'cells') {
          pointLayer.clearLayers();
          cellLayer.addTo(map);
          hotLayer.addTo(map);
          button.dataset.i18n = 'points';
          button.textContent = t('points');
          drawn();
        } else {
          map.removeLayer(cellLayer);
          map.removeLayer(hotLayer);
          showPointsInView();
        }
      });
      return button;
    };
    note.addTo(map);
    map.on('moveend', showPointsInView);
  }
  if (points.length) {
    map.fitBounds([[south, west], [north, east]], {padding: [20, 20], maxZoom: 17});
  } else {
    map.setView([0, 0], 1);
  }
  wasOutlined = outlined();
  if (!big) drawAll();
  showHotspots(map, lon);
  drawn();
  // The dose over time: a drive's points are most often in time order already, and are sorted
  // only when they are not. A long drive's curve keeps the lowest and highest dose of each of
  // 2,000 stretches of time, so that no peak is lost and the chart is drawn at once.
  var times = new Float64Array(points.length), doses = new Float64Array(points.length);
  var timed = 0, inOrder = true;
  for (var i = 0; i < points.length; i++) {
    var when = Date.parse(points[i][5]);
    if (when !== when) continue;
    if (timed && when < times[timed - 1]) inOrder = false;
    times[timed] = when, doses[timed] = points[i][2], timed++;
  }
  var order = null;
  if (!inOrder) {
    order = new Uint32Array(timed);
    for (i = 0; i < timed; i++) order[i] = i;
    order.sort(function (a, b) { return times[a] - times[b] || a - b; });
  }
  function at(k) { return order ? order[k] : k; }
  var start = timed ? times[at(0)] : 0, series = [];
  if (timed <= 20000) {
    for (i = 0; i < timed; i++) series.push({x: (times[at(i)] - start) / 60000, y: doses[at(i)]});
  } else {
    var buckets = 2000, span = times[at(timed - 1)] - start || 1, low = -1, high = -1, bucket = -1;
    var flush = function () {
      if (low < 0) return;
      var a = Math.min(low, high), b = Math.max(low, high);
      series.push({x: (times[at(a)] - start) / 60000, y: doses[at(a)]});
      if (b !== a) series.push({x: (times[at(b)] - start) / 60000, y: doses[at(b)]});
    };
    for (i = 0; i < timed; i++) {
      var k = Math.min(buckets - 1, Math.floor((times[at(i)] - start) / span * buckets));
      if (k !== bucket) flush(), bucket = k, low = high = i;
      if (doses[at(i)] < doses[at(low)]) low = i;
      if (doses[at(i)] > doses[at(high)]) high = i;
    }
    flush();
  }
  times = doses = order = null;
  var chart = new Chart(document.getElementById('chart'), {
    type: 'line',
    data: {datasets: [{label: 'µSv/h', data: series, borderColor: '#c62828', borderWidth: 1,
      pointRadius: 0, fill: false}]},
    options: {animation: false, parsing: false, normalized: true, maintainAspectRatio: false,
      plugins: {decimation: {enabled: true, algorithm: 'lttb', samples: 1000}, legend: {display: false}},
      scales: {x: {type: 'linear', title: {display: true, text: t('minutes')}},
        y: {beginAtZero: true, title: {display: true, text: 'µSv/h'}}}}
  });
  onLanguage.push(function () {
    chart.options.scales.x.title.text = t('minutes');
    chart.update('none');
  });
  translate();
  document.body.dataset.ready = 'yes';
})();
