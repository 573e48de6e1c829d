// Shows the progress of a test from the status files that the program leaves beside this page.
// It looks at them every half second; an empty status file is a file being written and carries
// no new value. Nothing here reaches the network.
(function () {
  "use strict";

  var TEXTS = {
    en: {
      title: "Kestova Connection Speed Test",
      address: "Your address: ", unknownAddress: "unknown",
      download: "Download", upload: "Upload",
      waiting: "Waiting", running: "Measuring\u2026", completed: "Completed", failed: "Failed",
      ready: "Press Start to measure the speed of your connection.",
      done: "Your connection: ",
      e001: "The test service cannot be reached. Check your internet connection and try again.",
      e002: "No test server could be assigned, or the download test did not complete. Please try again later.",
      e003: "The upload test did not complete. Please try again later.",
      chart: "Speed second by second (Mbit/s)",
      upgrade: "A new version of Kestova Connection Speed Test is available. Press Update to get it; the program closes and the download page opens."
    },
    zh: {
      title: "\u51f1\u65af\u6c83\u5bec\u901f\u5ea6\u6e2c\u8a66",
      address: "\u60a8\u7684 IP \u4f4d\u5740\uff1a", unknownAddress: "\u672a\u77e5",
      download: "\u4e0b\u8f09", upload: "\u4e0a\u50b3",
      waiting: "\u7b49\u5f85\u4e2d", running: "\u6e2c\u8a66\u4e2d\u2026", completed: "\u5b8c\u6210", failed: "\u5931\u6557",
      ready: "\u8acb\u6309\u300c\u958b\u59cb\u6e2c\u8a66\u300d\u91cf\u6e2c\u60a8\u7684\u9023\u7dda\u901f\u5ea6\u3002",
      done: "\u60a8\u7684\u9023\u7dda\uff1a",
      e001: "\u7121\u6cd5\u9023\u7dda\u5230\u6e2c\u8a66\u670d\u52d9\uff0c\u8acb\u6aa2\u67e5\u7db2\u8def\u9023\u7dda\u5f8c\u518d\u8a66\u4e00\u6b21\u3002",
      e002: "\u7121\u6cd5\u5206\u914d\u6e2c\u8a66\u4f3a\u670d\u5668\uff0c\u6216\u4e0b\u8f09\u6e2c\u8a66\u672a\u5b8c\u6210\u3002\u8acb\u7a0d\u5f8c\u518d\u8a66\u3002",
      e003: "\u4e0a\u50b3\u6e2c\u8a66\u672a\u5b8c\u6210\u3002\u8acb\u7a0d\u5f8c\u518d\u8a66\u3002",
      chart: "\u6bcf\u79d2\u901f\u7387\uff08Mbit/s\uff09",
      upgrade: "\u6709\u65b0\u7248\u672c\u53ef\u7528\u3002\u8acb\u6309\u300c\u66f4\u65b0\u300d\u4e0b\u8f09\uff0c\u7a0b\u5f0f\u5c07\u95dc\u9589\u4e26\u958b\u555f\u4e0b\u8f09\u9801\u9762\u3002"
    }
  };

  var lastValue = {};

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

  // A status file's value: its first line; an empty or unreadable file keeps the last value.
  function statusValue(name) {
    var text = readFile(name);
    var value = text === null ? "" : text.split("\n")[0].replace(/\r$/, "");
    if (value !== "") {
      lastValue[name] = value;
    }
    return lastValue[name] || "";
  }

  function lines(text) {
    return text === null ? [] : text.split("\n").map(function (l) { return l.replace(/\r$/, ""); });
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

  // The per-interval totals of a merged file: one figure a second, without the final totals.
  function intervalFigures(mergedText) {
    var figures = [];
    lines(mergedText).forEach(function (line) {
      var match = /^\[SUM\] ([0-9.]+)-([0-9.]+) sec .* ([0-9.]+) Mbits\/sec /.exec(line);
      if (match && line.indexOf("sender") < 0 && line.indexOf("receiver") < 0) {
        figures.push(parseFloat(match[3]));
      }
    });
    return figures;
  }

  function setText(id, text) {
    var element = document.getElementById(id);
    if (element && element.textContent !== text) {
      element.textContent = text;
    }
  }

  function showStage(prefix, status, mergedText, t) {
    var states = { "0": "waiting", "1": "running", "2": "completed", "-1": "failed" };
    var state = states[status] || "waiting";
    var box = document.getElementById(prefix);
    if (box) {
      box.className = "stage " + state;
    }
    setText(prefix + "-state", t[state]);
    var figure = state === "completed" ? stageFigure(mergedText) : null;
    var figureBox = document.getElementById(prefix + "-figure");
    if (figureBox) {
      figureBox.innerHTML = figure === null ? "&nbsp;" : figure + "<small>Mbit/s</small>";
    }
    return figure;
  }

  function drawChart(download, upload) {
    var chart = document.getElementById("chart");
    if (!chart) {
      return;
    }
    var width = 1000, height = 250, pad = 30;
    var hasData = download.length > 0 || upload.length > 0;
    var top = Math.max.apply(null, [1].concat(download, upload)) * 1.1;
    function path(figures) {
      if (figures.length === 0) {
        return "";
      }
      var step = (width - 2 * pad) / Math.max(1, figures.length - 1);
      return figures.map(function (f, i) {
        return (i === 0 ? "M" : "L") + (pad + i * step).toFixed(1) + "," +
               (height - pad - (f / top) * (height - 2 * pad)).toFixed(1);
      }).join(" ");
    }
    chart.setAttribute("viewBox", "0 0 " + width + " " + height);
    chart.innerHTML =
      '<line x1="30" y1="220" x2="970" y2="220" stroke="#4a515c"/>' +
      (hasData ? '<text x="34" y="24" fill="#9aa3ad" font-size="13">' + Math.round(top) +
                 '</text>' : '') +
      '<path d="' + path(download) + '" fill="none" stroke="#3fc1c9" stroke-width="3"/>' +
      '<path d="' + path(upload) + '" fill="none" stroke="#f6c177" stroke-width="3"/>';
  }

  function refresh() {
    var language = statusValue("lang.txt") === "zh" ? "zh" : "en";
    var t = TEXTS[language];
    document.documentElement.lang = language === "zh" ? "zh-Hant" : "en";
    setText("title", t.title);
    setText("download-name", t.download);
    setText("upload-name", t.upload);
    setText("chart-name", t.chart);
    setText("legend-download", t.download);
    setText("legend-upload", t.upload);
    setText("upgrade", t.upgrade);

    var address = readFile("ip_address.txt");
    setText("address", t.address + (address && address !== "error" ? address.trim() : t.unknownAddress));

    var downloadStatus = statusValue("dn_status.txt");
    var uploadStatus = statusValue("up_status.txt");
    var downloadText = readFile("dn_speed.txt");
    var uploadText = readFile("up_speed.txt");
    var download = showStage("download", downloadStatus, downloadText, t);
    var upload = showStage("upload", uploadStatus, uploadText, t);

    var message = document.getElementById("message");
    if (message) {
      var failed = downloadStatus === "-1" || uploadStatus === "-1";
      var code = statusValue("error.txt");
      var text = failed ? (t[code] || t.e002)
               : download !== null && upload !== null ? t.done + t.download + " " + download +
                 " Mbit/s, " + t.upload + " " + upload + " Mbit/s"
               : downloadStatus === "0" && uploadStatus === "0" ? t.ready : "";
      message.className = failed ? "error" : "";
      setText("message", text);
    }
    drawChart(downloadStatus === "2" ? intervalFigures(downloadText) : [],
              uploadStatus === "2" ? intervalFigures(uploadText) : []);
  }

  refresh();
  setInterval(refresh, 500);
})();
