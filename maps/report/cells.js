(function () {
  var cells = takeJson('cells');
  var classes = JSON.parse(document.getElementById('classes').textContent);
  var base = baseMap(), map = base.map, renderer = base.renderer;
  var group = L.featureGroup();
  var perClass = [0, 0, 0, 0, 0];
  cells.forEach(function (c, i) {
    perClass[c[4] - 1]++;
    if (c[0] < -85 || c[2] > 85) return;
    L.rectangle([[c[0], c[1]], [c[2], c[3]]], {renderer: renderer, color: '#333', weight: 0.3,
      fillColor: classes[c[4] - 1].colour, fillOpacity: 0.7, index: i}).addTo(group);
  });
  group.bindPopup(function (layer) {
    var c = cells[layer.options.index];
    return '<b>' + plusMinus(c[6], c[12], 3) + ' \u00b5Sv/h</b> ' + t('meanOf').replace('{}', c[5]) +
      '<br>' + fig(c[8], 3) + ' \u2013 ' + fig(c[7], 3) + ' \u00b5Sv/h' +
      '<br>' + timeHtml(c[9]) + ' \u2013 ' + timeHtml(c[10]) + '<br>' +
      t(c[11] === 1 ? 'oneLog' : 'logs').replace('{}', c[11]);
  });
  showCells(map, renderer, group);
  function classLabels() { return [1, 2, 3, 4, 5].map(function (c) { return t('class') + ' ' + c; }); }
  var chart = new Chart(document.getElementById('chart'), {
    type: 'bar',
    data: {labels: classLabels(),
      datasets: [{label: t('cells'), data: perClass,
        backgroundColor: classes.map(function (c) { return c.colour; }), borderColor: '#333', borderWidth: 1}]},
    options: {animation: false, maintainAspectRatio: false, plugins: {legend: {display: false}},
      scales: {y: {beginAtZero: true, title: {display: true, text: t('cellsByClass')}}}}
  });
  onLanguage.push(function () {
    chart.data.labels = classLabels();
    chart.data.datasets[0].label = t('cells');
    chart.options.scales.y.title.text = t('cellsByClass');
    chart.update('none');
  });
  translate();
  document.body.dataset.ready = 'yes';
})();
