// Closes the banner in which Workday suggests its mobile app.
(function () {
    // The single-page application has not rendered yet.
    if (document.body && document.body.innerHTML.length < 1000)
        return;

    var banner = null;
    var elements = document.getElementsByTagName("*");
    for (var index = 0; index < elements.length; index += 1) {
        var text = (elements[index].textContent || "").trim();
        if (text.indexOf("Use the Workday App") !== -1 && text.length < 200) {
            banner = elements[index];
            break;
        }
    }
    if (!banner)
        return;

    var closeSelector = 'button, [role="button"], a';
    var close = banner.querySelector(closeSelector);
    var ancestor = banner.parentElement;
    for (var level = 0; !close && ancestor && level < 5; level += 1) {
        close = ancestor.querySelector(closeSelector);
        ancestor = ancestor.parentElement;
    }
    if (close)
        close.click();
})();
