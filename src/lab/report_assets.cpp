// SPDX-License-Identifier: MIT
// The fixed texts of the report pages. The scripts avoid '$' so that nobody
// mistakes them for templates, and the explanations say how to read each
// chart in the words a user of pacelag knows.
#include "report_assets.h"

const char* const kPageSkeleton = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>$title</title>
<style>
$style</style>
<script>
$guard</script>
<script>
$chartjs
</script>
</head>
<body>
$body<script>
var PACELAG_DATA = $data;
</script>
<script>
$script</script>
</body>
</html>
)";

const char* const kPageStyle =
    R"(body { font-family: system-ui, "Segoe UI", Helvetica, Arial, sans-serif; color: #222;
  background: #fff; max-width: 1280px; margin: 0 auto; padding: 12px 24px 32px; }
h1 { font-size: 1.45em; margin: 0.3em 0 0.2em; }
h2 { font-size: 1.1em; margin: 1.3em 0 0.4em; }
p.what { color: #333; line-height: 1.5; margin: 0.2em 0 0.8em; }
.answer { background: #f4f7fb; border-left: 4px solid #1f77b4; padding: 6px 14px; margin: 0 0 1em; }
.answer p { margin: 0.35em 0; line-height: 1.45; }
.tables { display: flex; flex-wrap: wrap; gap: 12px 40px; align-items: flex-start; }
table { border-collapse: collapse; font-size: 0.85em; }
caption { text-align: left; font-weight: 600; padding: 2px 0 4px; }
th, td { border-bottom: 1px solid #e2e2e2; padding: 2px 10px 2px 0; text-align: left;
  vertical-align: top; }
th { font-weight: normal; color: #444; }
td.num { text-align: right; font-variant-numeric: tabular-nums; }
td.na { text-align: right; color: #999; }
.chart { display: grid; grid-template-columns: minmax(0, 3fr) minmax(220px, 1fr); gap: 24px;
  align-items: start; margin: 4px 0 18px; }
.box { position: relative; height: 300px; }
.explain { font-size: 0.88em; line-height: 1.45; color: #333; }
.explain p { margin: 0 0 0.6em; }
table.lines td { font-family: ui-monospace, monospace; white-space: pre-wrap; }
footer { margin-top: 2em; font-size: 0.8em; color: #777; }
)";

const char* const kPageGuardJs = R"(var PACELAG_FAULTS = [], PACELAG_START = performance.now();
function pacelagFault(text) {
  PACELAG_FAULTS.push(String(text));
  document.documentElement.dataset.pageFaults = String(PACELAG_FAULTS.length);
}
window.addEventListener('error', function (e) { pacelagFault(e.message); });
(function () {
  var error = console.error, warn = console.warn;
  console.error = function () {
    pacelagFault(Array.prototype.join.call(arguments, ' '));
    error.apply(console, arguments);
  };
  console.warn = function () {
    pacelagFault(Array.prototype.join.call(arguments, ' '));
    warn.apply(console, arguments);
  };
})();
)";

const char* const kPageCommonJs =
    R"(var PACELAG_COLORS = ['#1f77b4', '#ff7f0e', '#2ca02c', '#d62728', '#9467bd',
  '#8c564b', '#e377c2', '#17becf', '#bcbd22', '#7f7f7f'];
var PACELAG_CHARTS = [];
// Large timelines are thinned when the page is written; drawing them without
// animation keeps the page responsive.
Chart.defaults.animation = false;
Chart.defaults.maintainAspectRatio = false;
Chart.defaults.normalized = true;
Chart.defaults.plugins.legend.labels.boxWidth = 14;
function pacelagDraw(id, config) {
  try {
    PACELAG_CHARTS.push(new Chart(document.getElementById(id), config));
  } catch (e) {
    pacelagFault('chart ' + id + ': ' + e);
  }
}
function pacelagTimeAxis(duration) {
  var axis = { type: 'linear', min: 0, title: { display: true, text: 'seconds since start' } };
  if (duration > 0) axis.max = duration;
  return axis;
}
function pacelagTitle(text) { return { display: true, text: text }; }
function pacelagLine(label, data, color, extra) {
  var set = { label: label, data: data, borderColor: color, backgroundColor: color,
    borderWidth: 1.5, pointRadius: 0, spanGaps: false };
  for (var k in extra) set[k] = extra[k];
  return set;
}
// A round axis top at or above v whose fifths are round too: both delay axes
// get five equal steps, so their ticks line up.
function pacelagNiceTop(v) {
  var p = Math.pow(10, Math.floor(Math.log10(v))), steps = [1, 1.5, 2, 2.5, 3, 4, 5, 6, 7.5, 10];
  for (var i = 0; i < steps.length; i++) if (steps[i] * p >= v) return steps[i] * p;
  return 10 * p;
}
function pacelagMax(values) {
  var m = 0;
  values.forEach(function (v) { if (typeof v === 'number' && v > m) m = v; });
  return m;
}
// Counts coloured pixels inside the plot area: the axes and grid are grey,
// every series is drawn in a saturated colour, so this is the data drawn.
function pacelagDataInk(chart) {
  var a = chart.chartArea, r = chart.currentDevicePixelRatio || 1;
  if (!a) return 0;
  var x = Math.floor(a.left * r), y = Math.floor(a.top * r);
  var w = Math.max(1, Math.floor((a.right - a.left) * r));
  var h = Math.max(1, Math.floor((a.bottom - a.top) * r));
  var d = chart.ctx.getImageData(x, y, w, h).data, n = 0;
  for (var i = 0; i < d.length; i += 4) {
    var hi = Math.max(d[i], d[i + 1], d[i + 2]), lo = Math.min(d[i], d[i + 1], d[i + 2]);
    if (d[i + 3] > 0 && hi - lo > 60) n++;
  }
  return n;
}
function pacelagFinish() {
  PACELAG_CHARTS.forEach(function (c) { c.canvas.dataset.dataInk = String(pacelagDataInk(c)); });
  document.body.dataset.drawMs = String(Math.round(performance.now() - PACELAG_START));
  document.body.dataset.chartsDrawn = String(PACELAG_CHARTS.length);
}
)";

const char* const kRunDrawJs = R"((function (D) {
  var P = PACELAG_COLORS;
  pacelagDraw('chart-queues', { type: 'line',
    data: { datasets: D.queues.map(function (s) {
      // The parts of the send queue are drawn over the whole, dashed.
      return pacelagLine(s.label, s.points, P[s.color], s.dash ? { borderDash: [6, 3], order: -1 } : {});
    }) },
    options: { interaction: { mode: 'nearest', axis: 'x', intersect: false },
      plugins: { legend: { labels: { sort: function (a, b) { return a.datasetIndex - b.datasetIndex; } } } },
      scales: { x: pacelagTimeAxis(D.duration),
        y: { beginAtZero: true, title: pacelagTitle('bytes') } } } });
  // Both axes share one scale (1000 ms level with 1 s), so equal delays overlay.
  var top = pacelagNiceTop(Math.max(D.maxEst, D.maxAge * 1000, 100) * 1.02);
  pacelagDraw('chart-delay', { type: 'line',
    data: { datasets: [
      pacelagLine('estimated delay (ms, left axis)', D.est, P[3], { yAxisID: 'y' }),
      pacelagLine('measured wait, at sending (ms, left axis)' + D.measuredNote, D.measured, P[2],
        { yAxisID: 'y', pointRadius: 2, showLine: false }),
      pacelagLine('printed age (s, right axis)', D.ages, P[0], { yAxisID: 'y1', pointRadius: 2 })]
      .concat(D.agesCorrected ? [pacelagLine('printed age less the clock offset (s, right axis)',
        D.agesCorrected, P[1], { yAxisID: 'y1', pointRadius: 2 })] : []) },
    options: { interaction: { mode: 'nearest', axis: 'x', intersect: false },
      scales: { x: pacelagTimeAxis(D.duration),
        y: { min: 0, max: top, ticks: { count: 6 }, title: pacelagTitle('milliseconds') },
        y1: { position: 'right', min: 0, max: top / 1000, ticks: { count: 6 },
          title: pacelagTitle('seconds'), grid: { drawOnChartArea: false } } } } });
  pacelagDraw('chart-rates', { type: 'bar',
    data: { labels: D.seconds, datasets: [
      { label: 'sent whole (#)', data: D.sent, backgroundColor: P[2] },
      { label: 'dropped, send queue full (.)' + D.droppedNote, data: D.dropped, backgroundColor: P[3] }]
      .concat(D.gaps.map(function (g) {
        // Stretches without marks, in grey, up to the client's rate.
        return { label: g.label, data: g.data, backgroundColor: g.partly ? '#9e9e9e' : '#d0d0d0' };
      })) },
    options: { scales: { x: { stacked: true, title: pacelagTitle(D.barSeconds > 1
        ? 'seconds since start (bars of ' + D.barSeconds + ' s, averaged)' : 'second since start') },
      y: { stacked: true, beginAtZero: true, title: pacelagTitle(D.rateUnit) } } } });
  pacelagFinish();
})(PACELAG_DATA);
)";

const char* const kSweepDrawJs = R"((function (D) {
  var P = PACELAG_COLORS, along = { title: pacelagTitle(D.vary) };
  var top = pacelagNiceTop(Math.max(pacelagMax(D.finalEst), pacelagMax(D.maxAge) * 1000, 100) * 1.02);
  pacelagDraw('chart-sweep-delay', { type: 'line',
    data: { labels: D.values, datasets: [
      pacelagLine('final estimated delay (ms, left axis)', D.finalEst, P[3], { yAxisID: 'y', pointRadius: 4 }),
      pacelagLine('highest printed age (s, right axis)', D.maxAge, P[0], { yAxisID: 'y1', pointRadius: 4 })] },
    options: { scales: { x: along,
      y: { min: 0, max: top, ticks: { count: 6 }, title: pacelagTitle('milliseconds') },
      y1: { position: 'right', min: 0, max: top / 1000, ticks: { count: 6 },
        title: pacelagTitle('seconds'), grid: { drawOnChartArea: false } } } } });
  pacelagDraw('chart-sweep-drops', { type: 'bar',
    data: { labels: D.values, datasets: [
      { label: 'dropped messages (% of marks)', data: D.dropPct, backgroundColor: P[3] }] },
    options: { scales: { x: along, y: { beginAtZero: true, title: pacelagTitle('%') } } } });
  pacelagDraw('chart-sweep-queues', { type: 'bar',
    data: { labels: D.values, datasets: D.queues.map(function (s) {
      return { label: s.label, data: s.data, backgroundColor: P[s.color] }; }) },
    options: { scales: { x: along, y: { beginAtZero: true, title: pacelagTitle('bytes') } } } });
  pacelagDraw('chart-sweep-timelines', { type: 'line',
    data: { datasets: D.timelines.map(function (s, i) {
      return pacelagLine(s.label, s.points, P[i % P.length]); }) },
    options: { interaction: { mode: 'nearest', axis: 'x', intersect: false },
      scales: { x: pacelagTimeAxis(D.duration),
        y: { beginAtZero: true, title: pacelagTitle('estimated delay, milliseconds') } } } });
  pacelagFinish();
})(PACELAG_DATA);
)";

const char* const kRunHeader = R"(<header>
<h1>Where the requests waited</h1>
<p class="what">$what</p>
</header>
)";

const char* const kSweepHeader = R"(<header>
<h1>How $vary turns into staleness</h1>
<p class="what">$count experiments, one per value of $vary; each links to its own report.</p>
</header>
)";

const char* const kSummaryRow =
    "<tr><th>$label</th><td class=\"$cls\" id=\"summary-$key\">$value</td></tr>\n";

const char* const kRunCharts = R"(<h2>Bytes in each queue</h2>
<div class="chart"><div class="box"><canvas id="chart-queues"></canvas></div>
<div class="explain"><p>Where the messages' bytes sit between the client's send call and the
server's read: the client's send queue (of which not yet sent, and in flight: sent but not yet
acknowledged), the shaped link's queue when the lab shaped a link, and the server's receive
queue.</p><p>The queue that keeps growing sits right before the bottleneck: a growing server
receive queue means the server reads too slowly; a growing client send queue with an empty
receive queue means the link is too slow.</p></div></div>
<h2>Estimated delay, measured wait and printed age</h2>
<div class="chart"><div class="box"><canvas id="chart-delay"></canvas></div>
<div class="explain"><p>The estimated delay is how long a message queued now will wait before
the server reads it, in milliseconds: the bytes queued between the client and the server's read
over the rate at which the server really consumed bytes in the last second, taking into account
that the server reads one message at a time. The measured wait is each message's own, drawn at
the moment it was sent: from the client's &quot;#&quot; for it to the server's age line for it
(below 48 messages per second, where every message prints). The printed age is what the server
prints, in whole seconds, when it reads a message.</p><p>The estimate at a message's sending
predicts that message's wait, so the dots sit on the estimate's line. The printed ages are drawn
when the messages are read, so while the queue grows they trail the estimate. Both axes use one
scale (1000&nbsp;ms level with 1&nbsp;s).</p></div></div>
<h2>Messages sent and dropped per second</h2>
<div class="chart"><div class="box"><canvas id="chart-rates"></canvas></div>
<div class="explain"><p>From the client's progress marks: &quot;#&quot; for a message that went
out whole, &quot;.&quot; for one dropped because the send queue was full.</p>$rateexplain<p>Grey
bars fill a stretch of more than two intervals without marks, up to the client's rate: the
client was finishing a message the send queue had room for only part of (it prints the mark when
the last byte is taken), or, lighter, it was held up with room to send.</p></div></div>
)";

const char* const kRateExplainCadence =
    R"(<p>The client prints one mark for every $cadence messages at $clientrate messages per
second (its rate divided by 24), so each mark here counts as $cadence messages.</p>)";

const char* const kRateExplainEvery =
    R"(<p>Below 48 messages per second the client prints a mark for every message, so each mark
here is one message.</p>)";

const char* const kRateExplainMarks =
    R"(<p>The client rate is not known here, so the bars count marks per second; the client
prints one mark for every n-th message, n being its rate divided by 24, at least 1.</p>)";

const char* const kLinesHeader = R"(<h2>Other printed lines</h2>
<p class="what">$shown of $total lines that are neither ages nor marks.</p>
<table class="lines"><thead><tr><th>t (s)</th><th>side</th><th>line</th></tr></thead><tbody>
)";

const char* const kLineRow = "<tr><td>$t</td><td>$side</td><td>$line</td></tr>\n";

const char* const kSweepCharts = R"(<h2>Final estimated delay and highest printed age</h2>
<div class="chart"><div class="box"><canvas id="chart-sweep-delay"></canvas></div>
<div class="explain"><p>For each value: the estimated delay at the end of the experiment (how
long the newest message would wait, in milliseconds) and the highest age the server printed (in
whole seconds). Both axes use one scale, so once the queue is steady the two points meet.</p>
</div></div>
<h2>Dropped messages</h2>
<div class="chart"><div class="box"><canvas id="chart-sweep-drops"></canvas></div>
<div class="explain"><p>The share of the client's marks that were &quot;.&quot;: messages dropped
whole because the send queue was full. Small buffers drop early; large buffers keep the
messages and let them grow stale instead.</p></div></div>
<h2>Peak queues</h2>
<div class="chart"><div class="box"><canvas id="chart-sweep-queues"></canvas></div>
<div class="explain"><p>The most bytes each queue held during the experiment: the client's send
queue, the bytes in flight, the shaped link's queue (when shaped) and the server's receive
queue.</p></div></div>
<h2>Estimated delay over time</h2>
<div class="chart"><div class="box"><canvas id="chart-sweep-timelines"></canvas></div>
<div class="explain"><p>One line per experiment: how the estimated delay built up while it
ran.</p></div></div>
)";

const char* const kSweepTableStart = R"(<h2>Results per value</h2>
<table class="sweep" id="sweep-results"><thead><tr><th>$vary</th><th>final estimated delay
(ms)</th><th>highest estimated delay (ms)</th><th>highest printed age (s)</th><th>drop
share</th><th>achieved client rate (/s)</th><th>achieved server rate (/s)</th><th>peak client
send queue</th><th>peak in flight</th><th>peak link queue</th><th>peak server receive
queue</th><th>report</th></tr></thead><tbody>
)";

const char* const kSweepRowStart = "<tr><th id=\"sweep-$i-value\">$value</th>";

const char* const kSweepCell = "<td class=\"$cls\" id=\"sweep-$i-$key\">$value</td>";

const char* const kPageFooter = R"(<footer>Written by pacelag-lab. Charts drawn with Chart.js,
inlined from Debian's libjs-chart.js: this page needs no network.</footer>
)";
