// The roster grid loads rows in batches as the list is scrolled towards its end and keeps at
// most MAX_ROWS row elements in the table, reusing them for whichever rows are in view.
document.addEventListener("wd-rendered", function (event) {
    "use strict";
    var ROW_HEIGHT = 44, MAX_ROWS = 20, BATCH = 20, ROWS_ABOVE = 6, LOAD_DELAY_MS = 250;

    var wrapper = event.detail.querySelector("[data-automation-id='tableWrapper']");
    var source = document.getElementById("wd-roster-data");
    if (!wrapper || !source)
        return;
    var rows = JSON.parse(source.textContent).rows;
    var sizer = wrapper.querySelector(".wd-grid-sizer");
    var table = sizer.querySelector("table");
    var body = table.tBodies[0];
    var loader = sizer.querySelector(".wd-grid-loader");
    var loaded = Math.min(rows.length, BATCH);
    var loading = false;
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
        var more = loaded < rows.length;
        sizer.style.height = (table.tHead.offsetHeight + loaded * ROW_HEIGHT + (more ? ROW_HEIGHT : 0)) + "px";
        loader.hidden = !more;
    }

    function render() {
        var firstVisible = Math.floor(wrapper.scrollTop / ROW_HEIGHT);
        var start = Math.max(0, Math.min(firstVisible - ROWS_ABOVE, loaded - MAX_ROWS));
        var end = Math.min(loaded, start + MAX_ROWS);
        table.style.top = (start * ROW_HEIGHT) + "px";
        for (var i = 0; i < end - start; ++i) {
            if (!pool[i])
                pool[i] = makeRow();
            fill(pool[i], rows[start + i], start + i);
            if (i >= body.children.length)
                body.appendChild(pool[i]);
        }
        while (body.children.length > end - start)
            body.lastElementChild.remove();
        if (end >= loaded - 2 && loaded < rows.length && !loading) {
            loading = true;
            setTimeout(function () {
                loaded = Math.min(rows.length, loaded + BATCH);
                loading = false;
                layout();
                render();
            }, LOAD_DELAY_MS);
        }
    }

    wrapper.addEventListener("scroll", render);
    layout();
    render();
});
