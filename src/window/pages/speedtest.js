// Shows the progress of a test from the files that the program leaves beside this page.
// It looks at them every half second; an empty file is a file being written and carries no new
// value. Nothing here reaches the network.
(function () {
  "use strict";

  var TEXTS = {
    en: {
      title: "Kestova Connection Speed Test",
      address: "Your address: ", unknownAddress: "unknown",
      download: "Download", upload: "Upload",
      waiting: "Waiting", running: "Measuring\u2026", completed: "Completed", failed: "Failed",
      second: "Measuring\u2026 second {s}",
      ready: "Press Start to measure the speed of your connection.",
      done: "Your connection: ",
      e001: "The test service cannot be reached. Check your internet connection and try again.",
      e002: "No test server could be assigned, or the download test did not complete. Please try again later.",
      e003: "The upload test did not complete. Please try again later.",
      chart: "Speed second by second (Mbit/s)",
      seconds: "s",
      partial: "Only {c} of {r} test servers completed; this figure counts only those.",
      latency: "Latency: ",
      latencyIdle: "{ms} ms idle", latencyDownload: "{ms} ms during download",
      latencyUpload: "{ms} ms during upload", separator: ", ",
      lost: "; unanswered connection attempts: {n}",
      history: "Last results", time: "Time", historyLatency: "Latency",
      outcome: "Result", noHistory: "No results yet.",
      progress: "Test progress", secondColumn: "Second", stageSaid: "{stage}: {state}", sentenceEnd: ". ",
      upgrade: "A new version of Kestova Connection Speed Test is available. Press Update to get it; the program closes and the download page opens."
    },
    zh: {
      title: "\u51f1\u65af\u6c83\u5bec\u901f\u5ea6\u6e2c\u8a66",
      address: "\u60a8\u7684 IP \u4f4d\u5740\uff1a", unknownAddress: "\u672a\u77e5",
      download: "\u4e0b\u8f09", upload: "\u4e0a\u50b3",
      waiting: "\u7b49\u5f85\u4e2d", running: "\u6e2c\u8a66\u4e2d\u2026", completed: "\u5b8c\u6210", failed: "\u5931\u6557",
      second: "\u6e2c\u8a66\u4e2d\u2026 \u7b2c {s} \u79d2",
      ready: "\u8acb\u6309\u300c\u958b\u59cb\u6e2c\u8a66\u300d\u91cf\u6e2c\u60a8\u7684\u9023\u7dda\u901f\u5ea6\u3002",
      done: "\u60a8\u7684\u9023\u7dda\uff1a",
      e001: "\u7121\u6cd5\u9023\u7dda\u5230\u6e2c\u8a66\u670d\u52d9\uff0c\u8acb\u6aa2\u67e5\u7db2\u8def\u9023\u7dda\u5f8c\u518d\u8a66\u4e00\u6b21\u3002",
      e002: "\u7121\u6cd5\u5206\u914d\u6e2c\u8a66\u4f3a\u670d\u5668\uff0c\u6216\u4e0b\u8f09\u6e2c\u8a66\u672a\u5b8c\u6210\u3002\u8acb\u7a0d\u5f8c\u518d\u8a66\u3002",
      e003: "\u4e0a\u50b3\u6e2c\u8a66\u672a\u5b8c\u6210\u3002\u8acb\u7a0d\u5f8c\u518d\u8a66\u3002",
      chart: "\u6bcf\u79d2\u901f\u7387\uff08Mbit/s\uff09",
      seconds: "\u79d2",
      partial: "\u53ea\u6709 {c} / {r} \u53f0\u6e2c\u8a66\u4f3a\u670d\u5668\u5b8c\u6210\uff0c\u6b64\u7d50\u679c\u53ea\u8a08\u5165\u9019\u4e9b\u4f3a\u670d\u5668\u3002",
      latency: "\u5ef6\u9072\uff1a",
      latencyIdle: "\u9592\u7f6e\u6642 {ms} ms", latencyDownload: "\u4e0b\u8f09\u6642 {ms} ms",
      latencyUpload: "\u4e0a\u50b3\u6642 {ms} ms", separator: "\uff0c",
      lost: "\uff1b\u7121\u56de\u61c9\u7684\u9023\u7dda\u5617\u8a66\uff1a{n} \u6b21",
      history: "\u6700\u8fd1\u7d50\u679c", time: "\u6642\u9593", historyLatency: "\u5ef6\u9072",
      outcome: "\u7d50\u679c", noHistory: "\u5c1a\u7121\u7d50\u679c\u3002",
      progress: "\u6e2c\u8a66\u9032\u5ea6", secondColumn: "\u79d2", stageSaid: "{stage}\uff1a{state}", sentenceEnd: "\u3002",
      upgrade: "\u6709\u65b0\u7248\u672c\u53ef\u7528\u3002\u8acb\u6309\u300c\u66f4\u65b0\u300d\u4e0b\u8f09\uff0c\u7a0b\u5f0f\u5c07\u95dc\u9589\u4e26\u958b\u555f\u4e0b\u8f09\u9801\u9762\u3002"
    }
  };

  // Each stage's files; a stage runs 10 one-second intervals. The figure file holds the stage's
  // figure, which counts each second once; without it the merged file's figure stands.
  var STAGES = [
    { id: "download", status: "dn_status.txt", merged: "dn_speed.txt", live: "dn_live.txt",
      servers: "dn_servers.txt", figure: "dn_figure.txt", latency: "download" },
    { id: "upload", status: "up_status.txt", merged: "up_speed.txt", live: "up_live.txt",
      servers: "up_servers.txt", figure: "up_figure.txt", latency: "upload" }
  ];
  var INTERVALS_PER_STAGE = 10;
  var HISTORY_SHOWN = 5;

  // The file's text, or null when it cannot be read.
  function readFile(name) {
    try {
      var request = new XMLHttpRequest();
      request.open("GET", name, false);
      request.send();
      return request.status === 0 || request.status === 200 ? request.responseText : null;
    } catch (error) {
      return null;
    }
  }

  // The last value a file carried: an empty or unreadable file keeps it. After forget(), what
  // the file holds at that moment belongs to an earlier test and carries nothing either, until
  // the program has written the file anew.
  function WatchedFile(name) {
    this.name = name;
    this.text = "";
    this.staleText = null;
  }
  WatchedFile.prototype.read = function () {
    var text = readFile(this.name);
    if (text && text !== this.staleText) {
      this.text = text;
      this.staleText = null;
    }
    return this.text;
  };
  WatchedFile.prototype.forget = function () {
    this.staleText = readFile(this.name) || "";
    this.text = "";
  };

  var files = {};
  function watched(name) {
    if (!files[name]) {
      files[name] = new WatchedFile(name);
    }
    return files[name];
  }

  function lines(text) {
    return text ? text.split("\n").map(function (l) { return l.replace(/\r$/, ""); }) : [];
  }

  function firstLine(name) {
    return lines(watched(name).read())[0] || "";
  }

  function format(template, values) {
    return template.replace(/\{(\w+)\}/g, function (all, key) {
      return values[key] !== undefined ? String(values[key]) : all;
    });
  }

  // The stage's figure: the receiver's total, two lines above the "iperf Done." line.
  function stageFigure(mergedText) {
    var all = lines(mergedText);
    for (var k = 0; k < all.length; k++) {
      if (all[k].indexOf("iperf Done.") >= 0) {
        var match = k >= 2 && /Bytes\s+([0-9.]+)\s+Mbits\/sec/.exec(all[k - 2]);
        return match ? match[1] : null;
      }
    }
    return null;
  }

  function completedFigure(stage, mergedText) {
    var own = /^\s*([0-9]+(?:\.[0-9]+)?)\s*$/.exec(lines(readFile(stage.figure) || "")[0] || "");
    return own ? own[1] : stageFigure(mergedText);
  }

  // The live totals: "<end of interval in seconds> <Mbit/s>" a line.
  function livePoints(liveText) {
    var points = [];
    lines(liveText).forEach(function (line) {
      var match = /^\s*([0-9]+(?:\.[0-9]+)?)\s+([0-9]+(?:\.[0-9]+)?)\s*$/.exec(line);
      if (match) {
        points.push({ seconds: parseFloat(match[1]), mbps: parseFloat(match[2]), text: match[2] });
      }
    });
    return points;
  }

  // The per-interval totals of a merged file, for a stage whose live lines are missing.
  function mergedPoints(mergedText) {
    var points = [];
    lines(mergedText).forEach(function (line) {
      var match = /^\[SUM\]\s+([0-9.]+)-([0-9.]+) sec .* ([0-9.]+) Mbits\/sec/.exec(line);
      if (match && line.indexOf("sender") < 0 && line.indexOf("receiver") < 0) {
        points.push({ seconds: parseFloat(match[2]), mbps: parseFloat(match[3]), text: match[3] });
      }
    });
    return points;
  }

  function setText(id, text) {
    var element = document.getElementById(id);
    if (element && element.textContent !== text) {
      element.textContent = text;
    }
  }

  function setClass(id, name) {
    var element = document.getElementById(id);
    if (element && element.className !== name) {
      element.className = name;
    }
  }

  function showFigure(id, figure) {
    var box = document.getElementById(id);
    if (!box) {
      return;
    }
    var shown = box.getAttribute("data-figure") || "";
    if (shown === (figure || "")) {
      return;
    }
    box.setAttribute("data-figure", figure || "");
    box.textContent = "";
    if (figure === null) {
      box.appendChild(document.createTextNode("\u00a0"));
      return;
    }
    var unit = document.createElement("small");
    unit.textContent = "Mbit/s";
    box.appendChild(document.createTextNode(figure));
    box.appendChild(unit);
  }

  // Which stage of a test the page has seen running: a stage that failed counts its live lines
  // only when it ran in this test, not when the test ended before it.
  var previousDownloadStatus;
  var seenRunning = {};

  function noticeNewTest(downloadStatus) {
    if (downloadStatus === "1" && previousDownloadStatus !== undefined &&
        previousDownloadStatus !== "1") {
      seenRunning = {};
      ["dn_live.txt", "up_live.txt", "latency.txt"].forEach(function (name) {
        watched(name).forget();
      });
    }
    previousDownloadStatus = downloadStatus;
  }

  function stageState(status) {
    return { "0": "waiting", "1": "running", "2": "completed", "-1": "failed" }[status] || "waiting";
  }

  // A stage of the test on show: its state, its figure, its per-second points.
  function readStage(stage) {
    var status = firstLine(stage.status);
    var state = stageState(status);
    if (state === "running" || state === "completed") {
      seenRunning[stage.id] = true;
    }
    var ofThisTest = state === "running" || state === "completed" ||
                     (state === "failed" && seenRunning[stage.id] === true);
    var points = ofThisTest ? livePoints(watched(stage.live).read()) : [];
    var mergedText = state === "completed" ? readFile(stage.merged) : null;
    if (state === "completed" && points.length === 0) {
      points = mergedPoints(mergedText);
    }
    return {
      stage: stage, status: status, state: state, ofThisTest: ofThisTest, points: points,
      figure: state === "completed" ? completedFigure(stage, mergedText) : null
    };
  }

  function showStage(seen, t) {
    var id = seen.stage.id;
    setClass(id, "stage " + seen.state);
    var last = seen.points.length > 0 ? seen.points[seen.points.length - 1] : null;
    setText(id + "-state", seen.state === "running" && last
                           ? format(t.second, { s: Math.round(last.seconds) }) : t[seen.state]);
    showFigure(id + "-figure", seen.state === "completed" ? seen.figure
                               : seen.state === "running" && last ? last.text : null);
    var note = "";
    if (seen.state === "completed") {
      var counted = /^\s*(\d+)\s*\/\s*(\d+)/.exec(firstLine(seen.stage.servers));
      if (counted && parseInt(counted[1], 10) < parseInt(counted[2], 10)) {
        note = format(t.partial, { c: counted[1], r: counted[2] });
      }
    }
    setText(id + "-note", note);
  }

  // One bar for the whole test: the download fills the first half, the upload the second.
  function showProgress(download, upload) {
    function done(seen) {
      return seen.state === "completed" ? INTERVALS_PER_STAGE
           : seen.ofThisTest ? Math.min(INTERVALS_PER_STAGE, seen.points.length) : 0;
    }
    var total = 2 * INTERVALS_PER_STAGE;
    var value = done(download) + done(upload);
    var bar = document.getElementById("progress");
    if (bar) {
      bar.max = total;
      bar.value = value;
    }
    setText("progress-text", Math.round(100 * value / total) + " %");
    setClass("progress", download.state === "failed" || upload.state === "failed" ? "failed"
                         : upload.state === "completed" ? "completed" : "");
  }

  // "idle|download|upload <median ms> <jitter ms> <samples> <lost>" a line; the median is "-"
  // while no sample has been answered.
  function latencyParts(text) {
    var parts = {};
    lines(text).forEach(function (line) {
      var fields = line.trim().split(/\s+/);
      if (fields.length >= 5 && /^(idle|download|upload)$/.test(fields[0])) {
        var median = parseFloat(fields[1]);
        var samples = parseInt(fields[3], 10);
        parts[fields[0]] = { median: samples > 0 && !isNaN(median) ? median : null,
                             lost: parseInt(fields[4], 10) || 0 };
      }
    });
    return parts;
  }

  function showLatency(download, upload, t) {
    var parts = download.ofThisTest ? latencyParts(watched("latency.txt").read()) : {};
    var shown = [];
    var lost = 0;
    [["idle", t.latencyIdle, download], ["download", t.latencyDownload, download],
     ["upload", t.latencyUpload, upload]].forEach(function (entry) {
      var part = parts[entry[0]];
      if (part && entry[2].ofThisTest) {
        if (part.median !== null) {
          shown.push(format(entry[1], { ms: part.median.toFixed(1) }));
        }
        lost += part.lost;
      }
    });
    var unanswered = lost > 0 ? format(t.lost, { n: lost }) : "";
    setText("latency", shown.length === 0 && lost === 0 ? ""
                       : t.latency + shown.join(t.separator) +
                         (shown.length === 0 ? unanswered.replace(/^[;\uff1b]\s*/, "") : unanswered));
  }

  // Grid steps of 1, 2, 2.5 or 5 times a power of ten, at most five steps up to the top.
  function gridStep(top) {
    var power = Math.pow(10, Math.floor(Math.log(top / 5) / Math.LN10));
    var factors = [1, 2, 2.5, 5, 10];
    for (var i = 0; i < factors.length; i++) {
      if (top / (factors[i] * power) <= 5) {
        return factors[i] * power;
      }
    }
    return 10 * power;
  }

  function drawChart(series, t) {
    var chart = document.getElementById("chart");
    if (!chart) {
      return;
    }
    var width = Math.max(300, chart.clientWidth || 700);
    var height = Math.max(150, chart.clientHeight || 236);
    var left = 62, right = 18, top = 16, bottom = 30;
    var plotWidth = width - left - right, plotHeight = height - top - bottom;
    var highest = 0, lastSecond = INTERVALS_PER_STAGE;
    series.forEach(function (s) {
      s.points.forEach(function (p) {
        highest = Math.max(highest, p.mbps);
        // An interval that ends a little after the tenth second (10.09) keeps the axis at 10.
        lastSecond = Math.max(lastSecond, Math.ceil(p.seconds - 0.25));
      });
    });
    // Without a figure yet the grid still reads as speeds: 0 to 100 Mbit/s.
    var wanted = highest > 0 ? highest * 1.05 : 100;
    var step = gridStep(wanted);
    var yTop = Math.max(step, Math.ceil(wanted / step) * step);
    function x(seconds) { return (left + plotWidth * seconds / lastSecond).toFixed(1); }
    function y(mbps) { return (top + plotHeight * (1 - mbps / yTop)).toFixed(1); }
    function label(value) { return step < 1 ? value.toFixed(1) : String(Math.round(value)); }

    var svg = [];
    for (var v = 0; v <= yTop + step / 1000; v += step) {
      svg.push('<line x1="' + left + '" x2="' + (width - right) + '" y1="' + y(v) + '" y2="' + y(v) +
               '" class="' + (v === 0 ? "axis" : "grid") + '" stroke="' +
               (v === 0 ? "#5a626e" : "#3a4049") + '" stroke-width="1"/>');
      svg.push('<text x="' + (left - 8) + '" y="' + (parseFloat(y(v)) + 4).toFixed(1) +
               '" fill="#9aa3ad" font-size="12" text-anchor="end">' + label(v) + '</text>');
    }
    var tick = lastSecond <= 12 ? 1 : lastSecond <= 30 ? 5 : 10;
    for (var s = 0; s <= lastSecond; s += tick) {
      svg.push('<line x1="' + x(s) + '" x2="' + x(s) + '" y1="' + (top + plotHeight) + '" y2="' +
               (top + plotHeight + 5) + '" class="axis" stroke="#5a626e"/>');
      svg.push('<text x="' + x(s) + '" y="' + (top + plotHeight + 19) +
               '" fill="#9aa3ad" font-size="12" text-anchor="middle">' + s +
               (s === lastSecond ? " " + t.seconds : "") + '</text>');
    }
    series.forEach(function (s) {
      if (s.points.length === 0) {
        return;
      }
      var path = s.points.map(function (p, i) {
        return (i === 0 ? "M" : "L") + x(p.seconds) + "," + y(p.mbps);
      }).join(" ");
      // The upload's line is dashed, so that the two lines differ in more than colour.
      svg.push('<path d="' + path + '" class="' + s.name + '" fill="none" stroke="' + s.colour +
               '" stroke-width="3" stroke-linejoin="round"' +
               (s.name === "upload" ? ' stroke-dasharray="9 5"' : "") + '/>');
      s.points.forEach(function (p) {
        svg.push('<circle cx="' + x(p.seconds) + '" cy="' + y(p.mbps) + '" r="3.5" class="' +
                 s.name + '" fill="' + s.colour + '"/>');
      });
    });
    chart.setAttribute("viewBox", "0 0 " + width + " " + height);
    var drawn = svg.join("");
    if (chart.getAttribute("data-drawn") !== drawn) {
      chart.setAttribute("data-drawn", drawn);
      chart.innerHTML = drawn;
    }
  }

  // The chart's figures for screen readers: a row a second, the download's and the upload's.
  function showChartTable(series, t) {
    var body = document.getElementById("chart-table-rows");
    if (!body) {
      return;
    }
    var bySecond = {};
    var seconds = [];
    series.forEach(function (s, column) {
      s.points.forEach(function (p) {
        var second = Math.round(p.seconds);
        if (!bySecond[second]) {
          bySecond[second] = ["\u2013", "\u2013"];
          seconds.push(second);
        }
        bySecond[second][column] = p.text;
      });
    });
    seconds.sort(function (a, b) { return a - b; });
    var rows = seconds.map(function (second) {
      return [String(second), bySecond[second][0], bySecond[second][1]];
    });
    var key = JSON.stringify(rows);
    if (body.getAttribute("data-rows") === key) {
      return;
    }
    body.setAttribute("data-rows", key);
    body.textContent = "";
    rows.forEach(function (row) {
      var tr = document.createElement("tr");
      row.forEach(function (cell, k) {
        var td = document.createElement(k === 0 ? "th" : "td");
        if (k === 0) {
          td.setAttribute("scope", "row");
        }
        td.textContent = cell;
        tr.appendChild(td);
      });
      body.appendChild(tr);
    });
  }

  // What the polite live region says: each stage that is under way or over, with its figure, and
  // the test's message. It is written only when it changes, so each change is said once and the
  // half-second looks say nothing new.
  function announce(download, upload, message, t) {
    var said = [];
    [download, upload].forEach(function (seen) {
      if (seen.state === "waiting") {
        return;
      }
      var state = t[seen.state] + (seen.figure !== null ? " " + seen.figure + " Mbit/s" : "");
      said.push(format(t.stageSaid, { stage: t[seen.stage.id], state: state }));
    });
    if (message) {
      said.push(message);
    }
    setText("announcement", said.join(t.sentenceEnd));
  }

  // The last results, newest first, from history.csv:
  // time,download_mbps,upload_mbps,idle_ms,download_ms,upload_ms,servers,outcome
  function showHistory(t) {
    var rows = lines(watched("history.csv").read()).filter(function (line) {
      return line.trim() !== "" && line.indexOf("time,") !== 0;
    }).slice(-HISTORY_SHOWN).reverse();
    var body = document.getElementById("history-rows");
    if (!body) {
      return;
    }
    var key = rows.join("\n") + "|" + t.completed;
    if (body.getAttribute("data-rows") === key) {
      return;
    }
    body.setAttribute("data-rows", key);
    body.textContent = "";
    rows.forEach(function (row) {
      var f = row.split(",");
      var when = /^(\d{4}-\d{2}-\d{2})T(\d{2}:\d{2})/.exec(f[0] || "");
      var latency = parseFloat(f[3]);
      var outcome = (f[7] || "").trim();
      var cells = [
        [when ? when[1] + " " + when[2] : (f[0] || ""), ""],
        [f[1] || "\u2013", "number"],
        [f[2] || "\u2013", "number"],
        [isNaN(latency) ? "\u2013" : latency.toFixed(1) + " ms", "number"],
        [outcome === "completed" ? t.completed : t.failed + (outcome ? " (" + outcome + ")" : ""),
         outcome === "completed" ? "completed" : "failed"]
      ];
      var tr = document.createElement("tr");
      cells.forEach(function (cell) {
        var td = document.createElement("td");
        td.textContent = cell[0];
        td.className = cell[1];
        tr.appendChild(td);
      });
      body.appendChild(tr);
    });
    setText("history-empty", rows.length === 0 ? t.noHistory : "");
  }

  function showTexts(t) {
    // The page's title in its language: the window names the page after it for screen readers.
    document.title = t.title;
    setText("title", t.title);
    setText("download-name", t.download);
    setText("upload-name", t.upload);
    setText("chart-name", t.chart);
    setText("legend-download", t.download);
    setText("legend-upload", t.upload);
    setText("history-name", t.history);
    setText("history-time", t.time);
    setText("history-download", t.download);
    setText("history-upload", t.upload);
    setText("history-latency", t.historyLatency);
    setText("history-outcome", t.outcome);
    setText("upgrade", t.upgrade);
    setText("progress-name", t.progress);
    setText("chart-table-second", t.secondColumn);
    setText("chart-table-download", t.download + " (Mbit/s)");
    setText("chart-table-upload", t.upload + " (Mbit/s)");
  }

  function refresh() {
    // Counted where a test can see it, so that it waits on looks, not on the clock.
    window.looksAtTheFiles = (window.looksAtTheFiles || 0) + 1;
    var language = firstLine("lang.txt") === "zh" ? "zh" : "en";
    var t = TEXTS[language];
    document.documentElement.lang = language === "zh" ? "zh-Hant" : "en";
    showTexts(t);

    var address = firstLine("ip_address.txt").trim();
    setText("address", t.address + (address && address !== "error" ? address : t.unknownAddress));

    if (!document.getElementById("download")) {
      return;  // the upgrade page
    }
    noticeNewTest(firstLine("dn_status.txt"));
    var download = readStage(STAGES[0]);
    var upload = readStage(STAGES[1]);
    showStage(download, t);
    showStage(upload, t);
    showProgress(download, upload);
    showLatency(download, upload, t);

    var failed = download.state === "failed" || upload.state === "failed";
    var code = firstLine("error.txt");
    var message = failed ? (t[code] || t.e002)
                : download.figure !== null && upload.figure !== null
                  ? t.done + t.download + " " + download.figure + " Mbit/s" + t.separator + t.upload + " " +
                    upload.figure + " Mbit/s"
                : download.status === "0" && upload.status === "0" ? t.ready : "";
    setClass("message", failed ? "error" : "");
    setText("message", message);

    announce(download, upload, message, t);
    var series = [{ name: "download", points: download.points, colour: "#3fc1c9" },
                  { name: "upload", points: upload.points, colour: "#f6c177" }];
    drawChart(series, t);
    showChartTable(series, t);
    showHistory(t);
  }

  refresh();
  setInterval(refresh, 500);
})();
