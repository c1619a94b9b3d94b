// Body of an async function: answers Workday's "remember this device" prompt by ticking the
// box and pressing Submit. The prompt renders late, so it is looked for for about 10 seconds.
for (let attempt = 1; attempt <= 40; attempt += 1) {
    const text = document.body ? document.body.innerText : "";
    if (/Remember Device\?|Should we remember this device\?/i.test(text)) {
        const box = document.querySelector('input[type="checkbox"]');
        const submit = Array.from(document.querySelectorAll('button, input[type="submit"]')).find(function (control) {
            let label = (control.innerText || "").trim();
            if (!label)
                label = (control.value || "").trim();
            return /^submit$/i.test(label);
        });
        if (box && submit) {
            if (!box.checked)
                box.click();
            submit.click();
            return "answered";
        }
    }
    if (attempt < 40)
        await new Promise(function (resolve) { setTimeout(resolve, 250); });
}
return "no prompt";
