// Fills the university's SSO form with the saved credentials and submits it, and offers what
// the user types by hand to the application for saving. Injected at document start into every
// frame; the application replaces SSO_HOSTS with the list of SSO host names.
(function () {
    if (window.__workdayAuthInjected)
        return;
    window.__workdayAuthInjected = true;

    var hosts = SSO_HOSTS;

    var usernameSelector = 'input[name="username"], input[name="userId"], input[name="user_name"], input[name="wd_user_id"], input[type="text"][autocomplete="username"]';
    var passwordSelector = 'input[type="password"]';
    var submitSelector = 'button[type="submit"], input[type="submit"]';

    function isSSOPage() {
        return location.protocol === "https:"
            && (location.port === "" || location.port === "443")
            && hosts.indexOf(location.hostname) !== -1;
    }

    // After Duo, CAS finishes the sign-in by itself; submitting the password there as well
    // breaks its flow ("Invalid/Unknown Webflow Configuration").
    function isAfterDuo() {
        return /[?&]duo_code=/.test(location.search);
    }

    function fieldsOf(root) {
        return {
            username: root.querySelector(usernameSelector),
            password: root.querySelector(passwordSelector)
        };
    }

    // Goes through the field's own value setter so that a framework tracking the field sees it.
    function fill(field, value) {
        var descriptor = Object.getOwnPropertyDescriptor(Object.getPrototypeOf(field), "value");
        if (descriptor && descriptor.set)
            descriptor.set.call(field, value);
        else
            field.value = value;
        field.dispatchEvent(new Event("input", { bubbles: true }));
        field.dispatchEvent(new Event("change", { bubbles: true }));
    }

    function showsError() {
        return document.querySelector("form .alert-danger, #fm1 .alert-danger") !== null;
    }

    function post(message) {
        try {
            return Promise.resolve(window.webkit.messageHandlers.workdayAuth.postMessage(message));
        } catch (error) {
            return Promise.reject(error);
        }
    }

    function askForCredentials() {
        return post({ action: "getCredentials", showsError: showsError() }).catch(function () {
            return { username: "", password: "" };
        });
    }

    function saveCredentials(username, password) {
        post({ action: "saveCredentials", username: username, password: password }).catch(function () { });
    }

    function submit(fields) {
        var form = (fields.password && fields.password.form)
            || (fields.username && fields.username.form)
            || document.querySelector("form");
        if (!form)
            return;
        try {
            var button = form.querySelector(submitSelector);
            if (button) {
                button.click();
                return;
            }
            if (typeof form.requestSubmit === "function") {
                form.requestSubmit();
                return;
            }
        } catch (error) {
        }
        // CAS names its button "submit", which hides this member; the click above covers it.
        if (typeof form.submit === "function")
            form.submit();
    }

    var autofillStarted = false;

    function attemptAutofill() {
        if (autofillStarted || !isSSOPage() || isAfterDuo())
            return;
        // The form is rendered by script after load, so it may not exist yet.
        var fields = fieldsOf(document);
        if (!fields.username || !fields.password)
            return;
        autofillStarted = true;
        askForCredentials().then(function (reply) {
            if (!reply || typeof reply !== "object")
                return;
            var username = typeof reply.username === "string" ? reply.username : "";
            var password = typeof reply.password === "string" ? reply.password : "";
            if (!username && !password)
                return;
            if (username)
                fill(fields.username, username);
            if (password)
                fill(fields.password, password);
            // A withheld password leaves the form for the user.
            if (!username || !password)
                return;
            setTimeout(function () { submit(fields); }, 300);
        });
    }

    // Only forms the user typed into are saved, so that an automatic submission never saves
    // the password again (for example one under way while the user forgets the credentials).
    var editedForms = new WeakSet();

    function noteTyping(event) {
        if (!event.isTrusted || !isSSOPage())
            return;
        var target = event.target;
        var form = target && target.form;
        if (!form)
            return;
        var fields = fieldsOf(form);
        if (target === fields.username || target === fields.password)
            editedForms.add(form);
    }

    function saveTypedCredentials(event) {
        if (!isSSOPage())
            return;
        var form = event.target;
        if (!form || !editedForms.has(form))
            return;
        var fields = fieldsOf(form);
        var username = fields.username ? fields.username.value : "";
        var password = fields.password ? fields.password.value : "";
        if (username && password)
            saveCredentials(username, password);
    }

    function start() {
        document.addEventListener("input", noteTyping, true);
        document.addEventListener("submit", saveTypedCredentials, true);
        attemptAutofill();
        var attempts = 1;
        // The form is rendered by script: trying again as soon as the page changes fills it the
        // moment it appears, where the 250 ms attempts alone would leave up to a quarter second.
        var observer = typeof MutationObserver === "function" && !autofillStarted && isSSOPage() && !isAfterDuo()
            ? new MutationObserver(function () {
                attemptAutofill();
                if (autofillStarted)
                    observer.disconnect();
            })
            : null;
        if (observer)
            observer.observe(document, { childList: true, subtree: true });
        var timer = setInterval(function () {
            if (autofillStarted || attempts >= 60) {
                clearInterval(timer);
                if (observer)
                    observer.disconnect();
                return;
            }
            attempts += 1;
            attemptAutofill();
        }, 250);
    }

    if (document.readyState === "loading")
        document.addEventListener("DOMContentLoaded", start);
    else
        start();
})();
