// Reads every student of the roster table. The grid renders only some rows at a time and reuses
// row elements while it scrolls, so students are keyed rather than counted by row, and a student
// listed once per course section becomes one entry with all the sections.
var table = findRosterTable();
if (!table)
    return null;

var names = headerNames(table);
var column = {
    id: names.indexOf("Student ID"),
    first: names.indexOf("First Name"),
    last: names.indexOf("Last Name"),
    email: names.indexOf("ASH Email"),
    classOf: names.indexOf("Class Of"),
    programs: names.indexOf("Programs of Study"),
    section: names.indexOf("Course Section"),
    photo: names.indexOf("Photo"),
};
if (column.email < 0) {
    for (var i = 0; i < names.length; ++i) {
        if (/email/i.test(names[i])) {
            column.email = i;
            break;
        }
    }
}

function cellText(row, index) {
    var cell = index >= 0 ? row.children[index] : null;
    if (!cell)
        return "";
    return (cell.innerText || "").split(/\r\n|\r|\n/).map(function (line) {
        return line.trim();
    }).filter(function (line) {
        return line.length > 0;
    }).join(", ");
}

var backgroundURL = /url\(["']?([^"')]+)["']?\)/;

// The full-size attachment address of the row's photo, from an image or a CSS background.
function photoURL(row) {
    var cell = column.photo >= 0 ? row.children[column.photo] : null;
    if (!cell)
        return null;
    var elements = [cell].concat(Array.from(cell.querySelectorAll("*")));
    for (var i = 0; i < elements.length; ++i) {
        var element = elements[i];
        var candidates = [];
        var background = backgroundURL.exec(getComputedStyle(element).backgroundImage || "");
        if (background)
            candidates.push(background[1]);
        if (element.tagName === "IMG")
            candidates.push(element.getAttribute("src") || "");
        for (var j = 0; j < candidates.length; ++j) {
            var url;
            try {
                url = new URL(candidates[j], location.href);
            } catch (error) {
                continue;
            }
            if (url.origin === location.origin && url.pathname.indexOf("/attachment/") >= 0)
                return url.origin + url.pathname;
        }
    }
    return null;
}

var total = null;
var ancestor = table.parentElement;
for (var level = 0; ancestor && level < 10; ++level, ancestor = ancestor.parentElement) {
    var count = /\b(\d+)\s+items?\b/.exec(ancestor.innerText || "");
    if (count) {
        total = parseInt(count[1], 10);
        break;
    }
}

var students = new Map();
// Every row seen so far (a student once per section). The table holds only a window of rows, so
// progress is told by rows not seen before, never by the number of row elements.
var seenRows = new Set();

function collect() {
    var rows = table.querySelectorAll("tbody tr");
    for (var i = 0; i < rows.length; ++i) {
        var row = rows[i];
        var first = cellText(row, column.first);
        var last = cellText(row, column.last);
        if (!first && !last)
            continue;
        var email = cellText(row, column.email);
        var key = cellText(row, column.id) || [first, last, email].join("|");
        var section = cellText(row, column.section);
        seenRows.add(key + "\n" + section);
        var photo = photoURL(row);
        var known = students.get(key);
        if (known) {
            if (section && known.sections.indexOf(section) < 0)
                known.sections.push(section);
            if (!known.photo && photo)
                known.photo = photo;
            continue;
        }
        students.set(key, {
            first: first,
            last: last,
            email: email,
            classOf: cellText(row, column.classOf),
            programs: cellText(row, column.programs),
            sections: section ? [section] : [],
            photo: photo,
        });
    }
}

var container = table.closest('[data-automation-id="tableWrapper"]') || table.parentElement;
collect();
// The rows the grid has already loaded show as it scrolls, and are read at once. A batch it loads
// usually shows within a few hundred milliseconds of the scroll to the end; waiting in 25 ms steps
// reads it as soon as it is there (in 100 ms steps, a 250-row roster took 0.55 s longer). Six
// seconds without new rows end the list.
var scrollsWithoutRows = 0;
for (var scroll = 0; scroll < 400 && scrollsWithoutRows < 4; ++scroll) {
    if (total !== null && seenRows.size >= total)
        break;
    var before = seenRows.size;
    container.scrollTop = container.scrollHeight;
    container.dispatchEvent(new Event("scroll", { bubbles: true }));
    collect();
    // Timed by the clock, not by counting steps: a page out of sight gets its timers late.
    for (var deadline = Date.now() + 1500; seenRows.size === before && Date.now() < deadline;) {
        await sleep(25);
        collect();
    }
    if (seenRows.size > before)
        scrollsWithoutRows = 0;
    else
        ++scrollsWithoutRows;
}
// Background images can arrive after their rows. Nothing more can arrive once every row is read
// and every student has a photo.
var isComplete = total !== null && seenRows.size >= total && Array.from(students.values()).every(function (student) {
    return student.photo;
});
if (!isComplete) {
    await sleep(500);
    collect();
}
container.scrollTop = 0;

return JSON.stringify({ total: total, students: Array.from(students.values()) });
