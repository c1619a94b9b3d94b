// After Duo, CAS completes the sign-in by itself and moves on to the service.
(function () {
    "use strict";
    function finish() {
        var next = document.getElementById("continue");
        if (next)
            setTimeout(function () { window.location.replace(next.href); }, 300);
    }
    if (document.readyState === "loading")
        document.addEventListener("DOMContentLoaded", finish);
    else
        finish();
})();
