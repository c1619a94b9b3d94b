// Workday builds its pages in the browser once the document has loaded. The tenant does the
// same, 300 to 800 ms late, so that whatever reads a page has to wait for its content.
(function () {
    "use strict";

    function renderPage() {
        var app = document.getElementById("wd-app");
        var template = document.getElementById("wd-page");
        if (!app || !template)
            return;
        app.replaceChildren(template.content.cloneNode(true));
        app.removeAttribute("aria-busy");
        app.querySelectorAll("[data-href]").forEach(function (element) {
            element.addEventListener("click", function () {
                window.location.assign(element.getAttribute("data-href"));
            });
        });
        var banner = app.querySelector("[data-automation-id='mobileAppBanner']");
        if (banner) {
            banner.querySelector("button").addEventListener("click", function () {
                banner.remove();
            });
        }
        document.dispatchEvent(new CustomEvent("wd-rendered", { detail: app }));
    }

    function start() {
        setTimeout(renderPage, 300 + Math.floor(Math.random() * 501));
    }

    if (document.readyState === "loading")
        document.addEventListener("DOMContentLoaded", start);
    else
        start();
})();
