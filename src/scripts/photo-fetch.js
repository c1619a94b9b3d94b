// Fetches a photo with the page's signed-in session and gives its bytes in base64, or null
// when the answer is no image or larger than maximumBytes. The size is checked here, before the
// photo is encoded and copied across to the application several times over.
var response = await fetch(url, { credentials: "include" });
if (!response.ok || Number(response.headers.get("Content-Length")) > maximumBytes)
    return null;
var blob = await response.blob();
if (!blob.type.startsWith("image/") || blob.size > maximumBytes)
    return null;
var dataURL = await new Promise(function (resolve, reject) {
    var reader = new FileReader();
    reader.onload = function () {
        resolve(reader.result);
    };
    reader.onerror = function () {
        reject(reader.error);
    };
    reader.readAsDataURL(blob);
});
var payload = dataURL.slice(dataURL.indexOf(",") + 1);
return payload ? payload : null;
