// The CAS login form is put in place by script shortly after load, as on the university's CAS.
(function () {
    "use strict";
    function renderForm() {
        var template = document.getElementById("fm1-template");
        var box = document.getElementById("login");
        if (!template || !box)
            return;
        box.replaceChildren(template.content.cloneNode(true));
        var username = box.querySelector("#username");
        var field = username && username.value ? box.querySelector("#password") : username;
        if (field)
            field.focus();
    }
    function start() {
        setTimeout(renderForm, 300);
    }
    if (document.readyState === "loading")
        document.addEventListener("DOMContentLoaded", start);
    else
        start();
})();
