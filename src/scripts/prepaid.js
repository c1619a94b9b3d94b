// Reads the number of prepaid credit-card transactions from Workday's expenses hub. The
// application puts a quoted regular expression for the tenant host in place of the placeholder.
(function () {
    "use strict";
    var notReady = { loaded: false, prepaid: null };
    var tenantHost = new RegExp(TENANT_HOST_PATTERN);
    if (!document.body || !tenantHost.test(location.hostname))
        return notReady;

    var countPattern = /Credit Card Transactions \((\d+)\)/;
    var elements = document.querySelectorAll("[data-automation-id]");
    for (var index = 0; index < elements.length; ++index) {
        var match = countPattern.exec(elements[index].textContent || "");
        if (match)
            return { loaded: true, prepaid: match[1] };
    }

    var now = performance.now();
    // The section is there without a number: nothing awaits action, once it has had 2 s to fill in.
    if (/Credit Card Transactions/.test(document.body.textContent || "")) {
        if (window.__halcyraCardSectionSeenAt === undefined)
            window.__halcyraCardSectionSeenAt = now;
        if (now - window.__halcyraCardSectionSeenAt >= 2000)
            return { loaded: true, prepaid: null };
        return notReady;
    }

    // No section at all: a hub that has rendered fully (12 s after navigation, a large body)
    // simply has no card transactions.
    if (now >= 12000 && document.body.innerHTML.length > 20000)
        return { loaded: true, prepaid: null };
    return notReady;
})();
