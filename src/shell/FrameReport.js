// Runs in every frame, in the application's own script world, so the page can neither see the
// token nor change the function. The main frame reports its load too, under an id of its
// document: the engine's own load signal is lost when a page is asked for while the previous
// one is being committed.
// FrameScriptSource() fills in the report token and the name of the document id variable.
(function () {
  // The engine's error pages are reported by the engine, under the URL that failed.
  if (location.protocol === "chrome-error:") return;
  var token = %1;
  var main = window.top === window;
  var documentId = "";
  if (main) {
    documentId = Date.now().toString(36) + "." + Math.random().toString(36).slice(2);
    window.%2 = documentId;
  }
  function report() {
    var text = !main && document.body ? document.body.innerText : "";
    console.log(token + JSON.stringify([location.href, main ? "" : window.name, text, documentId]));
  }
  if (document.readyState === "complete") report();
  else window.addEventListener("load", report);
})();
