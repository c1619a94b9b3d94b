// Waits up to about 15 seconds for the roster table to show at least one row.
for (var attempt = 1; attempt <= 60; ++attempt) {
    var table = findRosterTable();
    if (table && table.querySelector("tbody tr"))
        return true;
    if (attempt < 60)
        await sleep(250);
}
return false;
