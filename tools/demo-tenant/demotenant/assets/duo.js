// Waits for the push to be approved, then returns to CAS with the result.
(function () {
    "use strict";
    var POLL_MS = 200;

    function poll() {
        var status = document.getElementById("duo-status");
        var sid = document.body.getAttribute("data-sid");
        fetch("/frame/v4/status?sid=" + encodeURIComponent(sid), { cache: "no-store" })
            .then(function (response) {
                if (!response.ok)
                    throw new Error("status " + response.status);
                return response.json();
            })
            .then(function (answer) {
                if (answer.result === "allow" && answer.redirect) {
                    status.textContent = "Success! Logging you in\u2026";
                    window.location.assign(answer.redirect);
                    return;
                }
                setTimeout(poll, POLL_MS);
            }, function () {
                status.textContent = "Reconnecting\u2026";
                setTimeout(poll, 1000);
            });
    }

    if (document.readyState === "loading")
        document.addEventListener("DOMContentLoaded", poll);
    else
        poll();
})();
