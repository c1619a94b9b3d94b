// Reads the inbox and notification badges in the header of Workday's home page. Never waits and
// never changes the page; the application evaluates it again until the header is ready. The
// application puts a quoted regular expression for the tenant host in place of the placeholder.
(function () {
    "use strict";
    var notReady = { pageLoading: true, task: null, notification: null };
    var tenantHost = new RegExp(TENANT_HOST_PATTERN);
    if (!tenantHost.test(location.hostname) || location.pathname !== "/ashgrove/d/home.htmld" || !document.body)
        return notReady;

    var inbox = document.querySelector('[data-automation-id="inbox_preview"]');
    var bell = document.querySelector('[data-automation-id="notification_preview"]');
    if (!inbox || !bell)
        return notReady;

    // An empty badge may still be filling in: it is believed only 3 s after the header appeared.
    if (window.__halcyraHeaderSeenAt === undefined)
        window.__halcyraHeaderSeenAt = performance.now();
    var isSettled = performance.now() - window.__halcyraHeaderSeenAt >= 3000;

    function badgeText(element) {
        var text = (element.textContent || "").trim();
        return text === "" ? null : text;
    }
    var task = badgeText(inbox);
    var notification = badgeText(bell);
    if ((task === null || notification === null) && !isSettled)
        return notReady;
    return { pageLoading: false, task: task, notification: notification };
})();
