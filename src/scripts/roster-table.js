// Shared by the roster scripts: finding the roster table by its header names.

// The rendered header names of a table, each cut at its first line break and trimmed.
function headerNames(table) {
    return Array.from(table.querySelectorAll("thead th, th")).map(function (header) {
        return (header.innerText || "").split(/\r\n|\r|\n/)[0].trim();
    });
}

// The first table whose headers name both a first and a last name.
function findRosterTable() {
    var tables = document.querySelectorAll("table");
    for (var i = 0; i < tables.length; ++i) {
        var names = headerNames(tables[i]);
        if (names.indexOf("First Name") >= 0 && names.indexOf("Last Name") >= 0)
            return tables[i];
    }
    return null;
}

function sleep(milliseconds) {
    return new Promise(function (resolve) {
        setTimeout(resolve, milliseconds);
    });
}
