/Invalid\/Unknown Webflow Configuration/i.test(document.body ? document.body.innerText : "")
