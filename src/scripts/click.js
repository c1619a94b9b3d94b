// Clicks a Workday control by its automation id; the application replaces AUTOMATION_ID.
(function () {
    var element = document.querySelector('[data-automation-id="AUTOMATION_ID"]');
    if (element && typeof element.click === "function")
        element.click();
})();
