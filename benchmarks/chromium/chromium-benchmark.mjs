// Chromium beside Halcyra: Debian's Chromium, already running, goes from the entry address to the
// Workday home page of the demo tenant with the CAS form filled by this script (median of N
// runs), then holds the same four pages Halcyra holds (home in the first tab; the pages the
// counts are read from in three more) and prints the memory of all its processes. Asserts nothing.
//
//   node chromium-benchmark.mjs PROXY_HOST:PORT CONTROL_HOST:PORT ENTRY_URL TENANT_URL [N]

import { readFileSync, readdirSync } from "node:fs";
import { chromium } from "playwright-core";

const [proxy, control, entryURL, tenantURL, runsText] = process.argv.slice(2);
const runs = Number(runsText || 5);
const countPages = ["/ashgrove/d/home.htmld", "/ashgrove/d/task/2997$1705.htmld", "/ashgrove/d/task/2997$728.htmld"];

async function tenant(path, body) {
    const response = await fetch(`http://${control}${path}`, { method: "POST", body: JSON.stringify(body ?? {}), headers: { "Content-Type": "application/json" } });
    return response.json();
}

function processTree(pid) {
    let children = [];
    try {
        for (const task of readdirSync(`/proc/${pid}/task`)) {
            try {
                children = children.concat(readFileSync(`/proc/${pid}/task/${task}/children`, "utf8").split(/\s+/).filter(Boolean).map(Number));
            } catch { }
        }
    } catch { }
    return [pid, ...children.flatMap(processTree)];
}

function field(pid, file, name) {
    try {
        const line = readFileSync(`/proc/${pid}/${file}`, "utf8").split("\n").find((text) => text.startsWith(name + ":"));
        return line ? Number(line.split(/\s+/)[1]) : 0;
    } catch {
        return 0;
    }
}

const median = (values) => {
    const sorted = [...values].sort((a, b) => a - b);
    const middle = Math.floor(sorted.length / 2);
    return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
};

// The flags that work on this kind of machine: no sandbox as root, and no background traffic
// to the closed network.
const browser = await chromium.launch({
    executablePath: "/usr/bin/chromium",
    headless: false,
    args: ["--no-sandbox", "--disable-quic", "--no-first-run", "--disable-background-networking", "--disable-component-update", "--disable-sync", `--proxy-server=http://${proxy}`],
});
const context = await browser.newContext({ ignoreHTTPSErrors: true, viewport: { width: 800, height: 900 } });
const page = await context.newPage();

const durations = [];
for (let run = 0; run < runs; ++run) {
    await tenant("/expire-sessions");
    await context.clearCookies();
    const started = performance.now();
    await page.goto(entryURL, { waitUntil: "commit" });
    await page.waitForSelector('#fm1 input[name="username"]');
    await page.fill('input[name="username"]', "demo");
    await page.fill('input[name="password"]', "ashgrove-demo");
    await page.click('button[type="submit"]');
    await page.waitForURL((url) => url.pathname === "/ashgrove/d/home.htmld", { waitUntil: "commit", timeout: 60000 });
    durations.push((performance.now() - started) / 1000);
}
console.log(`chromium entry to home page (s): ${durations.map((d) => d.toFixed(2)).join(", ")}; median ${median(durations).toFixed(2)}`);

for (const path of countPages) {
    const tab = await context.newPage();
    await tab.goto(tenantURL + path, { waitUntil: "load" });
}
// As long as Halcyra's two poll cycles.
await new Promise((resolve) => setTimeout(resolve, 60000));
let rss = 0;
let pss = 0;
// Chromium and everything it started are this script's descendants.
const processes = processTree(process.pid).filter((pid) => pid !== process.pid);
for (const pid of processes) {
    rss += field(pid, "status", "VmRSS");
    pss += field(pid, "smaps_rollup", "Pss");
}
console.log(`chromium, four tabs: ${processes.length} processes, RSS ${(rss / 1024).toFixed(0)} MiB, PSS ${(pss / 1024).toFixed(0)} MiB`);
await browser.close();
