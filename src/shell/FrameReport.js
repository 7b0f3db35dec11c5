// Runs in every frame, in the application's own script world, so the page can neither see the
// token nor change the function. The main frame reports its load too, under an id of its
// document: the engine's own load signal is lost when a page is asked for while the previous
// one is being committed.
// FrameScriptSource() fills in the report token, the name of the document id variable and the
// name of the change watch function.
(function () {
  // The engine's error pages are reported by the engine, under the URL that failed.
  if (location.protocol === "chrome-error:") return;
  var token = %1;
  var main = window.top === window;
  var documentId = "";
  function send(fields) {
    console.log(token + JSON.stringify(fields));
  }
  if (main) {
    documentId = Date.now().toString(36) + "." + Math.random().toString(36).slice(2);
    window.%2 = documentId;
    // One change notice per call of the watch function. The observer is disconnected between
    // a change and the next call, so a page that never stops changing costs one callback per
    // notice the window asked for.
    var changed = false;
    var armed = false;
    var options = {childList: true, subtree: true, characterData: true, attributes: true};
    var observer = new MutationObserver(function () {
      observer.disconnect();
      if (armed) {
        armed = false;
        send([location.href, "", "", documentId, "change"]);
      } else {
        changed = true;
      }
    });
    observer.observe(document, options);
    window.%3 = function () {
      if (changed) {
        changed = false;
        send([location.href, "", "", documentId, "change"]);
        return;
      }
      if (armed) return;
      armed = true;
      observer.observe(document, options);
    };
  }
  function report() {
    var text = !main && document.body ? document.body.innerText : "";
    send([location.href, main ? "" : window.name, text, documentId]);
  }
  if (document.readyState === "complete") report();
  else window.addEventListener("load", report);
})();
