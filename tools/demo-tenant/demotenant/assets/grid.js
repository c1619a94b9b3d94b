// Like Workday's own grid, the expense report rows appear only while the page is on screen.
document.addEventListener("wd-rendered", function (event) {
    "use strict";
    var rows = document.getElementById("wd-grid-rows");
    var body = event.detail.querySelector("table[data-automation-id='table'] tbody");
    if (!rows || !body)
        return;
    var shown = false;
    function showRows() {
        if (shown || document.visibilityState !== "visible")
            return;
        shown = true;
        body.append(rows.content.cloneNode(true));
    }
    showRows();
    document.addEventListener("visibilitychange", showRows);
});
