"""The fleet page in a real browser: headless Chromium driven through Selenium (Debian's
chromium, chromium-driver and python3-selenium).

    with PageBrowser(folder) as browser:
        browser.open(path)
        browser.table("units")  # [[heading...], [site, address, ...], ...] as it is shown

Chromium runs as root here, so without its sandbox, and with a profile folder of its own in
`folder`; it is told to make no request of its own (updates, sync, QUIC), and the page it
is given loads nothing either. Its driver listens on loopback.
"""

import os
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.support.ui import Select

ARGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
        "--disable-background-networking", "--disable-component-update", "--disable-sync",
        "--disable-dev-shm-usage", "--window-size=1280,1000"]
# The rows of a table that are shown, each as the texts of its cells.
ROWS = """return [].slice.call(arguments[0].rows).filter(function(r){return !r.hidden})
  .map(function(r){return [].map.call(r.cells,function(c){return c.textContent})})"""
# Scrolls to the end and, once the next frame is laid out and painted, tells whether the
# window still shows the page's end.
END = """var done=arguments[0],e=document.documentElement;window.scrollTo(0,e.scrollHeight);
requestAnimationFrame(function(){setTimeout(function(){
  done(window.scrollY>0&&window.scrollY+window.innerHeight>=e.scrollHeight-2)},0)})"""


class PageBrowser:
    def __init__(self, folder):
        self.folder = folder
        self.driver = None

    def __enter__(self):
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        profile = os.path.join(self.folder, "chromium-profile-%d" % time.monotonic_ns())
        for arg in ARGS + ["--user-data-dir=" + profile]:
            options.add_argument(arg)
        service = Service("/usr/bin/chromedriver", log_path=os.path.join(self.folder,
                                                                          "chromedriver.txt"))
        self.driver = webdriver.Chrome(service=service, options=options)
        self.driver.set_page_load_timeout(60)
        self.driver.set_script_timeout(30)
        return self

    def __exit__(self, *_exc):
        if self.driver:
            self.driver.quit()

    def cpu(self):
        """Processor seconds that the browser's processes (the driver's descendants) used so
        far: unlike the wall clock, not stretched by other work on the machine. A process that
        has ended is no longer counted, so compare only while the same tabs are open."""
        children, ticks = {}, 0
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/stat" % pid) as f:
                    fields = f.read().rsplit(")", 1)[1].split()
            except OSError:
                continue
            children.setdefault(int(fields[1]), []).append((int(pid), fields))
        todo = [self.driver.service.process.pid]
        while todo:
            for pid, fields in children.get(todo.pop(), []):
                ticks += int(fields[11]) + int(fields[12]) + int(fields[13]) + int(fields[14])
                todo.append(pid)
        return ticks / os.sysconf("SC_CLK_TCK")

    def open(self, path):
        """Opens the page from its file: (seconds, processor seconds of the browser) until it
        is shown scrolled to its end, or None when it is not at its end."""
        started, cpu = time.monotonic(), self.cpu()
        self.driver.get("file://" + os.path.abspath(path))
        # Blocks out of sight are laid out once they come into sight, and may then differ from
        # the height they were given: scroll to the end again until it stays there.
        at_end = False
        for _ in range(20):
            at_end = self.driver.execute_async_script(END)
            if at_end:
                break
        seconds, cpu = time.monotonic() - started, self.cpu() - cpu
        return (seconds, cpu) if at_end else None

    def table(self, table):
        """A table's shown rows (heading too) as texts: `table` is an element or an id."""
        if isinstance(table, str):
            table = self.driver.find_element("id", table)
        return self.driver.execute_script(ROWS, table)

    def cards(self):
        """The summary's figures: {label: number text}."""
        return self.driver.execute_script(
            "return [].slice.call(document.querySelectorAll('.card')).reduce(function(m,c){"
            "m[c.childNodes[1].textContent]=c.firstChild.textContent;return m},{})")

    def filter(self, name, value):
        """Chooses a value in the unit table's filter of the column `name` (site, update,
        version)."""
        self.select(name).select_by_value(value)

    def select(self, name):
        return Select(self.driver.find_element("css selector",
                                               '#filters select[data-key="%s"]' % name))

    def screenshot(self, path, top_of="summary"):
        """A picture of the page from the element `top_of` down, as far as the window shows."""
        self.driver.execute_script("document.getElementById(arguments[0]).scrollIntoView()",
                                   top_of)
        return self.driver.save_screenshot(path)
