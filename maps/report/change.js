(function () {
  // A row a cell: south, west, north, east, class, count before, count after, mean before, mean
  // after, mean time before, mean time after, ratio, decay ratio, excess.
  var cells = takeJson('change');
  var colours = JSON.parse(document.getElementById('change-colours').textContent);
  var base = baseMap(), map = base.map, renderer = base.renderer;
  var group = L.featureGroup();
  cells.forEach(function (c, i) {
    if (c[0] < -85 || c[2] > 85) return;
    L.rectangle([[c[0], c[1]], [c[2], c[3]]], {renderer: renderer, color: '#333', weight: 0.3,
      fillColor: colours[c[4]], fillOpacity: 0.8, index: i}).addTo(group);
  });
  group.bindPopup(function (layer) {
    var c = cells[layer.options.index];
    return '<b>' + t('excess') + ' ' + (c[13] === null ? '\u2014' : (c[13] > 0 ? '+' : '') + fig(c[13], 3)) +
      '</b><br>' + t('before') + ': ' + fig(c[7], 3) + ' \u00b5Sv/h (' + c[5] + ') ' + timeHtml(c[9]) +
      '<br>' + t('after') + ': ' + fig(c[8], 3) + ' \u00b5Sv/h (' + c[6] + ') ' + timeHtml(c[10]) +
      '<br>' + t('ratio') + ' ' + fig(c[11], 3) + ', ' + t('decay') + ' ' + fig(c[12], 3);
  });
  showCells(map, renderer, group);
  // The cells by their excess, in steps of 0.1 from -1 to 2 (the last step takes everything above),
  // each bar in the colour of its class.
  var bins = [], counts = [], barColours = [];
  for (var k = 0; k < 30; k++) {
    var low = Math.round((k / 10 - 1) * 10) / 10;
    bins.push(low.toFixed(1));
    counts.push(0);
    barColours.push(colours[low + 0.05 <= -0.5 ? 1 : low + 0.05 <= -0.2 ? 2 : low + 0.05 < 0.2 ? 3 : low + 0.05 < 0.5 ? 4 : 5]);
  }
  cells.forEach(function (c) {
    if (c[13] === null) return;
    counts[Math.max(0, Math.min(29, Math.floor((c[13] + 1) * 10 + 1e-9)))]++;
  });
  document.body.dataset.histogram = counts.reduce(function (a, b) { return a + b; }, 0);
  var chart = new Chart(document.getElementById('chart'), {
    type: 'bar',
    data: {labels: bins, datasets: [{label: t('cells'), data: counts, backgroundColor: barColours,
      borderColor: '#333', borderWidth: 1}]},
    options: {animation: false, maintainAspectRatio: false, plugins: {legend: {display: false}},
      scales: {x: {title: {display: true, text: t('excess')}},
        y: {beginAtZero: true, title: {display: true, text: t('cellsByExcess')}}}}
  });
  onLanguage.push(function () {
    chart.data.datasets[0].label = t('cells');
    chart.options.scales.x.title.text = t('excess');
    chart.options.scales.y.title.text = t('cellsByExcess');
    chart.update('none');
  });
  translate();
  document.body.dataset.ready = 'yes';
})();
