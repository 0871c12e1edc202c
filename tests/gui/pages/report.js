// Hands a result of the page to the test: the operator server records every request, the test
// reads them. Synchronous, so results arrive in the order the page made them.
function report(key, value) {
  var request = new XMLHttpRequest();
  request.open('GET', 'result?' + encodeURIComponent(key) + '=' + encodeURIComponent(String(value)), false);
  try {
    request.send();
  } catch (e) {
    // The answer (404) does not matter; the request has been seen.
  }
}
