// Evaluated by the web-process extension in each frame's page world as the window object is
// cleared: installs window.webkit.messageHandlers.<name>.postMessage(body) -> Promise for the
// given names, and gives back the function that settles a message's promise by its number.
// `send` is the extension's native function, reachable only through this closure.
(function (send, names) {
    var ErrorConstructor = Error;
    // The handlers keep this alive, and with it the settling function that the native side
    // holds only weakly.
    var channel = { pending: {}, nextNumber: 1 };
    channel.settle = function (number, isError, value) {
        var entry = channel.pending[number];
        delete channel.pending[number];
        if (!entry)
            return;
        if (isError)
            entry.reject(new ErrorConstructor(value));
        else
            entry.resolve(value);
    };
    var handlers = {};
    names.forEach(function (name) {
        handlers[name] = Object.freeze({
            postMessage: function (body) {
                return new Promise(function (resolve, reject) {
                    var text;
                    try {
                        text = JSON.stringify(body === undefined ? null : body);
                    } catch (error) {
                        reject(new ErrorConstructor("The message cannot be sent"));
                        return;
                    }
                    var number = channel.nextNumber++;
                    channel.pending[number] = { resolve: resolve, reject: reject };
                    if (!send(name, text === undefined ? "null" : text, number)) {
                        delete channel.pending[number];
                        reject(new ErrorConstructor("This document cannot use the channel"));
                    }
                });
            }
        });
    });
    var namespace = window.webkit;
    if (typeof namespace !== "object" || namespace === null) {
        Object.defineProperty(window, "webkit", { value: Object.freeze({ messageHandlers: Object.freeze(handlers) }) });
    } else {
        Object.keys(handlers).forEach(function (name) {
            try {
                Object.defineProperty(namespace.messageHandlers, name, { value: handlers[name] });
            } catch (error) {
            }
        });
    }
    return channel.settle;
})
