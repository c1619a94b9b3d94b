// Counts the draft reports in the first batch of Workday's expense-report grid. The
// application puts the quoted tenant host name in place of the placeholder.
(function () {
    "use strict";
    var notReady = { gridPresent: false, erRows: 0, draft: null };
    if (location.hostname !== TENANT_HOST || location.pathname.indexOf("/task/2997$728.htmld") === -1)
        return notReady;

    var table = document.querySelector('table[data-automation-id="table"]');
    var label = document.querySelector('[data-automation-id="rowCountLabel"]');
    if (!label)
        return notReady;

    // "(1,234 items)", "[No items found.]" and the like, without invisible characters.
    var text = (label.textContent || "")
                   .replace(/[\u200B\u200C\u200D\uFEFF]/g, "")
                   .replace(/\s+/g, " ")
                   .trim()
                   .replace(/^[([]\s*|\s*[)\].]$/g, "")
                   .trim();

    var rows = table ? table.querySelectorAll('[data-automation-id="row"]') : [];
    var result = { gridPresent: true, erRows: rows.length, draft: null };

    var emptyGrid = /^(?:0\s*(?:items?|reports?|results?)|no\s+(?:items?|reports?|results?)(?:\s+(?:found|available))?|(?:items?|reports?|results?)\s*:\s*0)$/i;
    if (emptyGrid.test(text)) {
        // Rows beside a zero label mean the grid is still changing.
        if (rows.length === 0)
            result.draft = "0";
        return result;
    }
    if (!table)
        return notReady;

    var totalMatch = /^([\d,]+)\s+items?$/i.exec(text);
    if (!totalMatch)
        return notReady;
    var total = Number(totalMatch[1].replace(/,/g, ""));

    // The grid renders reports in batches of 50; rows further down are never scrolled into view.
    var expectedRows = Math.min(total, 50);
    if (expectedRows === 0 || rows.length < expectedRows)
        return result;

    var headers = table.querySelectorAll("th");
    var statusColumn = -1;
    for (var column = 0; column < headers.length; ++column) {
        if (/^Status(?:\s|$)/.test(headers[column].innerText.trim())) {
            statusColumn = column;
            break;
        }
    }
    if (statusColumn < 0)
        return result;

    var seen = {};
    var draftCount = 0;
    for (var index = 0; index < expectedRows; ++index) {
        var cells = rows[index].querySelectorAll("td");
        var idMatch = /\bER-\d+\b/.exec(cells.length ? cells[0].innerText : "");
        var status = statusColumn < cells.length ? cells[statusColumn].innerText.trim() : "";
        if (!idMatch || Object.prototype.hasOwnProperty.call(seen, idMatch[0]) || status === "")
            return result;
        seen[idMatch[0]] = true;
        if (status === "Draft")
            ++draftCount;
    }
    result.draft = String(draftCount);
    return result;
})();
