// The roster grid loads rows in batches as the list is scrolled to its end and keeps at most
// MAX_ROWS row elements in the table, reusing them for whichever rows are in view. The window
// of rendered rows slides only as far as the view needs, so that each scroll to the end shows
// the rows that follow the ones shown before, however late a batch arrives.
document.addEventListener("wd-rendered", function (event) {
    "use strict";
    var MAX_ROWS = 20, BATCH = 20, LOAD_DELAY_MS = 250;

    var wrapper = event.detail.querySelector("[data-automation-id='tableWrapper']");
    var source = document.getElementById("wd-roster-data");
    if (!wrapper || !source)
        return;
    var rows = JSON.parse(source.textContent).rows;
    var sizer = wrapper.querySelector(".wd-grid-sizer");
    var table = sizer.querySelector("table");
    var body = table.tBodies[0];
    var loader = event.detail.querySelector("[data-automation-id='loadingMore']");
    var rowHeight = 44;
    var loaded = Math.min(rows.length, BATCH);
    var loading = false;
    var start = 0;
    var pool = [];

    function makeRow() {
        var row = document.createElement("tr");
        for (var i = 0; i < 8; ++i)
            row.appendChild(document.createElement("td"));
        return row;
    }

    function photoElement(style, url) {
        if (!url)
            return null;
        if (style === "background") {
            var div = document.createElement("div");
            div.className = "wd-photo-bg";
            div.style.backgroundImage = "url(\"" + url + "\")";
            return div;
        }
        var img = document.createElement("img");
        img.className = "wd-photo-img";
        img.alt = "";
        img.src = url;
        return img;
    }

    // data row: [photo style, photo URL, student ID, first, last, email, class of, programs, section]
    function fill(row, data, index) {
        // A row element that already shows this row keeps its photo element, so that scrolling
        // does not fetch photos again.
        if (row.getAttribute("data-row-index") === String(index))
            return;
        row.setAttribute("data-row-index", String(index));
        var cells = row.children;
        var photo = photoElement(data[0], data[1]);
        if (photo)
            cells[0].replaceChildren(photo);
        else
            cells[0].replaceChildren();
        for (var i = 2; i < 9; ++i)
            cells[i - 1].textContent = data[i];
    }

    function layout() {
        sizer.style.height = (table.tHead.offsetHeight + loaded * rowHeight) + "px";
        if (loader)
            loader.hidden = !loading;
    }

    function render() {
        var top = wrapper.scrollTop - table.tHead.offsetHeight;
        var firstVisible = Math.max(0, Math.floor(top / rowHeight));
        var lastVisible = Math.min(loaded - 1, Math.floor((top + wrapper.clientHeight - 1) / rowHeight));
        if (firstVisible < start)
            start = firstVisible;
        else if (lastVisible >= start + MAX_ROWS)
            start = lastVisible - MAX_ROWS + 1;
        start = Math.max(0, Math.min(start, loaded - MAX_ROWS));
        var end = Math.min(loaded, start + MAX_ROWS);
        table.style.top = (start * rowHeight) + "px";
        for (var i = 0; i < end - start; ++i) {
            if (!pool[i])
                pool[i] = makeRow();
            fill(pool[i], rows[start + i], start + i);
            if (i >= body.children.length)
                body.appendChild(pool[i]);
        }
        while (body.children.length > end - start)
            body.lastElementChild.remove();
        if (lastVisible >= loaded - 2 && loaded < rows.length && !loading) {
            loading = true;
            if (loader)
                loader.hidden = false;
            setTimeout(function () {
                loaded = Math.min(rows.length, loaded + BATCH);
                loading = false;
                layout();
                render();
            }, LOAD_DELAY_MS);
        }
    }

    wrapper.addEventListener("scroll", render);
    render();
    if (body.rows.length)
        rowHeight = body.rows[0].getBoundingClientRect().height || rowHeight;
    layout();
});
