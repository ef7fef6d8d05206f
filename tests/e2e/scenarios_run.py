"""Update runs against the simulated unit: a whole update set at real speed, the close guard
during a run, and the ways a run fails."""

import os
import shutil
import subprocess
import time

from e2e_case import log_entries, scenario
from scenarios_start import STEP_LABELS, make_sample_set

# The unit takes a while to write each component, so that every step lasts longer than one
# blink cycle (500 ms shown, 200 ms hidden) and its label is seen hidden at least once.
SLOW_WRITE = 'command "EXCM u_soft" delay 900 always'
# What the unit reports once it has written the sample set's kq12.cpu and restarted.
VERSION_AFTER_CPU_PROGRAM = "KQ-A2.01.02.12"
SELECTORS = {
    "fpga5m": "EXCM k_FP",
    "resize": "EXCM k_FP2",
    "web0": "EXCM k_Web0",
    "web1": "EXCM k_Web1",
    "cursor": "EXCM k_Cr",
    "icon": "EXCM k_Ic",
    "shading": "EXCM k_Sd",
    "gamma": "EXCM k_Gm",
    "scene": "EXCM k_Mcs",
    "logo": "EXCM k_Lg",
    "fpga2m": "EXCM k_FP3",
}
LOGIN = ["USER anonymous", "PASS", "EXCM r_INF", "EXCM uname", "EXCM k_prism", "EXCM c_Varek",
         "CWD \\UpdateBx"]


class Watch:
    """Collects the driver's observations of the step labels and the status line."""

    def __init__(self, case):
        self.case = case
        self.events = []  # (seconds since the epoch, control id, visible, status text or None)

    def run(self, ms):
        started = time.time()
        answer = self.case.d("watch %d" % ms)
        self.case.require(answer["ok"], "watching the dialog failed: %s" % answer)
        for e in answer["events"]:
            self.events.append((started + e["t"] / 1000.0, e["id"], e["visible"], e.get("text")))
        # Kept beside the case's folder for reading after a failure.
        with open(os.path.join(self.case.work, "watch.txt"), "w") as f:
            first = self.events[0][0] if self.events else 0
            for t, i, visible, text in self.events:
                f.write("%8.3f %d %s %s\n" % (t - first, i, "shown" if visible else "hidden",
                                              "" if text is None else repr(text)))
        return answer["ended"]

    def first_hidden(self, label):
        return next((t for t, i, visible, _ in self.events if i == label and not visible), None)

    def shown_again(self, label):
        hidden = self.first_hidden(label)
        return hidden is not None and any(
            i == label and visible and t > hidden for t, i, visible, _ in self.events
        )

    def status_texts(self):
        return {text for _, i, _, text in self.events if i == 1015 and text}

    def check_blinking(self, labels, absent, what):
        """Each label in `labels` blinked (hidden, then shown again), in this order; labels in
        `absent` never showed."""
        times = []
        for label in labels:
            hidden = self.first_hidden(label)
            self.case.check(hidden is not None, "%s: label %d never blinked" % (what, label))
            self.case.check(self.shown_again(label), "%s: label %d did not come back" % (what, label))
            times.append(hidden)
        seen = [t for t in times if t is not None]
        self.case.check(seen == sorted(seen), "%s: the labels blinked out of order" % what)
        for label in absent:
            self.case.check(
                not any(i == label and visible for _, i, visible, _ in self.events),
                "%s: label %d of an absent component was shown" % (what, label),
            )


def window_geometry(env, name_pattern):
    """(x, y, width, height) on the display of the first window whose name matches, or None."""
    found = subprocess.run(["xdotool", "search", "--name", name_pattern], env=env,
                           capture_output=True, text=True, timeout=20)
    ids = found.stdout.split()
    if not ids:
        return None
    geometry = subprocess.run(
        ["xdotool", "getwindowgeometry", "--shell", ids[0]], env=env, capture_output=True,
        text=True, timeout=20).stdout
    g = dict(line.split("=", 1) for line in geometry.split() if "=" in line)
    return int(g["X"]), int(g["Y"]), int(g["WIDTH"]), int(g["HEIGHT"])


def screenshot(case, name, with_box=False, picture=None):
    """Takes a picture of the screen and cuts the main dialog (and, with_box, the message box in
    front of it) out of it; checks that the picture holds a drawn window of the dialog's size.
    With a pictures folder given to the runner, the cut-out is kept there as `picture`."""
    shot = os.path.join(case.env.work, name + "-screen.png")
    window = os.path.join(case.env.work, name + ".png")
    env = case.env.wine.env
    subprocess.run(["import", "-window", "root", shot], env=env, timeout=60, check=False)
    main = window_geometry(env, "^KQVorlink.exe Rev")
    if not case.check(main and os.path.exists(shot), "screenshot: no window or no picture"):
        return
    rect = case.d("caption")["rect"]
    case.equal(main[2:], (rect[2] - rect[0], rect[3] - rect[1]),
               "screenshot: window size on the display and in the dialog")
    x, y, right, bottom = main[0], main[1], main[0] + main[2], main[1] + main[3]
    if with_box:
        box = window_geometry(env, "^KQVorlink$")
        if case.check(box, "screenshot: no message box on the display"):
            x, y = min(x, box[0]), min(y, box[1])
            right, bottom = max(right, box[0] + box[2]), max(bottom, box[1] + box[3])
    width, height = right - x, bottom - y
    subprocess.run(["convert", shot, "-crop", "%dx%d+%d+%d" % (width, height, x, y), "+repage",
                    window], env=env, timeout=60, check=False)
    deviation = subprocess.run(["convert", window, "-format", "%[fx:standard_deviation]", "info:"],
                               capture_output=True, text=True, timeout=60).stdout.strip()
    size = subprocess.run(["identify", "-format", "%w %h", window], capture_output=True,
                          text=True, timeout=60).stdout.split()
    case.equal(size, [str(width), str(height)], "screenshot: size of the cut-out window")
    case.check(deviation and float(deviation) > 0.05,
               "screenshot: the window looks blank (deviation %r)" % deviation)
    if picture and case.env.pictures and os.path.exists(window):
        os.makedirs(case.env.pictures, exist_ok=True)
        shutil.copy(window, os.path.join(case.env.pictures, picture))


def start_run(case, unit_model=None, faults=(), address=None):
    unit = case.start_unit(model=unit_model, faults=faults)
    case.start_program()
    case.type_address(address or case.address)
    case.click(1001)
    return unit


def check_idle(case, what):
    """After a run: buttons enabled, status line empty, progress bar at 0."""
    controls = case.state()
    case.check(controls[1001]["enabled"] and controls[1019]["enabled"],
               what + ": Update and Exit are not enabled again")
    case.equal(controls[1015]["text"], "", what + ": status line")
    case.equal(case.d("progress")["pos"], 0, what + ": progress bar")
    return controls


@scenario("full_update_set", "run")
def full_update_set(case):
    files = make_sample_set.make_set(case.folder)
    # A unit that greets slowly keeps "connecting..." up long enough to be seen, at the first
    # connection and at the one after the restart.
    unit = case.start_unit(faults=[SLOW_WRITE, "greeting delay 800 always"])
    program = case.start_program()
    case.equal(case.visible_labels(), sorted(STEP_LABELS), "step labels of a full set")
    case.type_address(case.address)
    case.click(1001)
    controls = case.state()
    case.check(not controls[1001]["enabled"] and not controls[1019]["enabled"],
               "Update and Exit stay enabled during the run")
    case.check(controls[1026]["enabled"], "the address fields are disabled during the run")

    watch = Watch(case)
    # Log-in and the CPU program; then the unit restarts and the program waits a minute.
    watch.run(20000)
    progress = case.d("progress")
    case.check(progress["high"] == 12 and 2 <= progress["pos"] <= 12,
               "progress while waiting for the restarted unit: %s" % progress)
    screenshot(case, "full_update_set-mid-run", picture="window-during-run.png")
    ended = watch.run(240000)
    case.require(ended == "box", "the run did not end with a message box (%s)" % ended)
    case.expect_box("Update Complete.", "information", "end of the run", press=False)
    screenshot(case, "full_update_set-complete", with_box=True,
               picture="window-update-complete.png")
    case.check(case.d("press-box")["ok"], "end of the run: the box did not close on OK")

    watch.check_blinking(STEP_LABELS, [1016], "full run")
    case.check({"connecting...", "downloading...", "writing..."} <= watch.status_texts(),
               "status texts seen: %s" % sorted(watch.status_texts()))
    controls = check_idle(case, "after the run")
    case.equal(controls[1047]["text"], VERSION_AFTER_CPU_PROGRAM + " (Done)", "version line")
    case.equal(case.visible_labels(), sorted(STEP_LABELS), "step labels after the run")
    case.check(case.log_data() is None, "the activity log is left after a successful run")
    case.check_stored(unit, files, "full run")

    commands = unit.commands()
    expected = LOGIN + ["STOR  kq12.cpu", "telnet: u_soft", "restart"] + LOGIN
    for component, _ in make_sample_set.RUN_ORDER[1:]:
        expected.append(SELECTORS[component])
        expected += ["STOR  " + name for name, _ in make_sample_set.COMPONENTS[component]]
        expected.append("EXCM u_soft")
    expected.append("QUIT")
    case.check_in_order(commands, expected, "commands the unit received", exact=True)

    case.click(1019)
    case.expect_box("KQVorlink.EXE end.  Please restart all devices.", "information", "Exit after the run")
    case.expect_end(program, "Exit after the run")


@scenario("close_guard_during_a_run", "run")
def close_guard_during_a_run(case):
    files = make_sample_set.make_set(case.folder, only={"logo"})
    unit = start_run(case, faults=['command "EXCM u_soft" delay 15000'])
    case.require(unit.proc.poll() is None, "the unit is not running")
    deadline = time.time() + 20
    while "EXCM u_soft" not in unit.commands() and time.time() < deadline:
        time.sleep(0.1)
    case.require("EXCM u_soft" in unit.commands(), "the run did not reach the write command")
    started = time.time()

    # Exit is greyed; a person cannot press it.
    case.equal(case.d("click 1019").get("error"), "disabled", "pressing Exit during the run")
    guard = "Cannot be ended during download processing."
    case.d("close")
    case.expect_box(guard, "warning", "WM_CLOSE during the run")
    case.d("syscmd-close")
    case.expect_box(guard, "warning", "Alt+F4 during the run")
    point = case.d("close-point")
    if case.check(point["ok"], "no close button on the caption"):
        subprocess.run(["xdotool", "mousemove", str(point["x"]), str(point["y"]), "click", "1"],
                       env=case.env.wine.env, timeout=20)
        case.expect_box(guard, "warning", "close button during the run")
    for key in ("key-enter", "key-escape"):
        case.d(key)
        case.expect_no_box(600, key + " during the run")
        case.check(case.d("alive")["main"], key + " during the run closed the dialog")
    case.check(time.time() - started < 14, "the checks took longer than the unit's write")

    case.expect_box("Update Complete.", "information", "end of the guarded run", timeout_ms=40000)
    check_idle(case, "after the guarded run")
    case.check_stored(unit, files, "guarded run")
    case.d("close")
    case.expect_box("KQVorlink.EXE end.  Please restart all devices.", "information", "close after the run")
    case.expect_end(case.programs[0], "close after the run")


@scenario("unit_of_the_other_model", "run")
def unit_of_the_other_model(case):
    make_sample_set.make_set(case.folder, only={"logo"})
    unit = start_run(case, unit_model="KQ-B2")
    case.expect_box("Error : Device Type Wrong.", "stop", "wrong model")
    check_idle(case, "after the refused model")
    case.check(case.programs[0].running(), "the program ended after the refused model")
    entries = log_entries(case.log_data() or b"")
    case.check_in_order(entries, ["FTP Control Socket get", "PC -> Device USER anonymous",
                                  "PC -> Device EXCM r_INF", "PC <- Device",
                                  "PC -> Device EXCM uname", "Error : Device Type Wrong."],
                        "log of the refused model")
    case.check("EXCM k_prism" not in unit.commands(), "update mode entered with the wrong model")
    case.equal(unit.stored(), {}, "files stored by a unit of the wrong model")


@scenario("refused_component", "run")
def refused_component(case):
    files = make_sample_set.make_set(case.folder, only={"web0", "logo"})
    refusal = "550 Selector refused."
    unit = start_run(case, faults=['command "EXCM k_Lg" reply "%s"' % refusal])
    case.expect_box(refusal, "warning", "refused selector", timeout_ms=40000)
    case.expect_end(case.programs[0], "after the refusal")
    entries = log_entries(case.log_data() or b"")
    case.check_in_order(entries, [
        " Update Web 0 Data", "PC -> Device EXCM k_Web0", " Web0 Data File Name : oemindex.htm",
        " Web0 Data File Name : oemlogo.gif", "PC -> Device EXCM u_soft", " Update Logo Data",
        "PC -> Device EXCM k_Lg"], "log of the refused component")
    case.check(entries and entries[-1].startswith("PC <- Device " + refusal),
               "the refusal is not the last log entry: %r" % entries[-1:])
    web0 = {name: data for name, data in files.items() if name.startswith("oem")}
    case.check_stored(unit, web0, "refused component")
    case.equal(unit.commands()[-1:], ["EXCM k_Lg"], "last command the unit received")


@scenario("bad_address_then_a_good_one", "run")
def bad_address_then_a_good_one(case):
    files = make_sample_set.make_set(case.folder, only={"logo"})
    unit = case.start_unit()
    case.start_program()
    attempts = [
        (("", "0", "0", "200"), "Error : IP(0) Address Error."),
        (("127", "abc", "0", "200"), "Error : IP(1) Address Error."),
        (("127", "0", "0", ""), "Error : IP(3) Address Error."),
    ]
    for fields, message in attempts:
        for field, text in zip((1026, 1027, 1028, 1029), fields):
            case.d("type %d %s" % (field, text))
        case.click(1001)
        case.expect_box(message, "stop", "address %s" % ".".join(fields))
        check_idle(case, "after %s" % message)
    # A number above 255 passes the field check and fails when the address is converted.
    case.type_address("127.0.0.300")
    case.click(1001)
    box = case.expect_box(None, "stop", "address 127.0.0.300")
    case.check(box is not None and box["text"].startswith("Error : "), "text of the conversion failure")
    check_idle(case, "after 127.0.0.300")
    entries = log_entries(case.log_data() or b"")
    case.check(any(e.startswith("inet_addr() Error ") for e in entries),
               "no inet_addr() Error entry in the log")
    case.check(case.programs[0].running(), "the program ended after an address error")
    case.equal(unit.commands(), [], "commands the unit received")
    # The dialog stays usable: with the address corrected the next run goes through.
    case.type_address(case.address)
    case.click(1001)
    case.expect_box("Update Complete.", "information", "run after the corrections")
    case.check_stored(unit, files, "run after the corrections")
    case.check(case.log_data() is None, "the activity log is left after a successful run")


@scenario("component_removed_after_start", "run")
def component_removed_after_start(case):
    files = make_sample_set.make_set(case.folder, only={"web1", "logo"})
    unit = case.start_unit()
    program = case.start_program()
    # The folder was scanned when the window opened; the file goes missing before the run.
    os.remove(os.path.join(case.folder, "LOGO.bmp"))
    case.type_address(case.address)
    case.click(1001)
    case.expect_box('"LOGO.bmp" is not exist.', "warning", "missing logo file", timeout_ms=40000)
    case.expect_end(program, "after the missing file")
    entries = log_entries(case.log_data() or b"")
    case.check_in_order(entries, [" Update Web 1 Data", "PC -> Device EXCM u_soft",
                                  " Update Logo Data", 'Error "LOGO.bmp" is not exist.'],
                        "log of the missing file")
    case.check("EXCM k_Lg" not in unit.commands(), "the missing component was selected")
    web1 = {name: data for name, data in files.items() if name != "LOGO.bmp"}
    case.check_stored(unit, web1, "missing file")


@scenario("default_setting_on_b2", "run")
def default_setting_on_b2(case):
    prm = make_sample_set.prm_text("KQ-B2 Field Update", b2=True, default=True)
    files = make_sample_set.make_set(case.folder, only={"logo"}, prm=prm)
    unit = case.start_unit(model="KQ-B2", faults=[SLOW_WRITE, 'command "EXCM w_stupall" delay 1500'])
    case.start_program()
    controls = case.state()
    case.equal(controls[1002]["text"], "KQ-B2 Field Update", "heading")
    case.equal(controls[1020]["text"], "KQ-B2", "model label")
    case.equal(case.visible_labels(), [1016, 1021], "visible labels")
    case.type_address(case.address)
    case.click(1001)
    watch = Watch(case)
    case.require(watch.run(60000) == "box", "the run did not end with a message box")
    case.expect_box("Update Complete.", "information", "end of the run with default setting")
    watch.check_blinking([1021, 1016], [l for l in STEP_LABELS if l != 1021], "default setting")
    commands = unit.commands()
    case.check_in_order(commands, LOGIN + ["EXCM k_Lg", "STOR  LOGO.bmp", "EXCM u_soft",
                                           "EXCM w_stupall", "QUIT"], "commands", exact=True)
    case.check_stored(unit, files, "default setting run")
    case.check(case.log_data() is None, "the activity log is left after a successful run")
