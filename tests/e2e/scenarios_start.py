"""Start-up, the window as it opens, the About box, a second copy and the ways to end the
program when no update runs."""

import os
import re
import subprocess
import sys

from e2e_case import scenario

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "sim"))

import make_sample_set  # noqa: E402

STEP_LABELS = [label for _, label in make_sample_set.RUN_ORDER]


def version_values():
    """The program's version values as its version resource is built from them."""
    values = {}
    with open(os.path.join(ROOT, "version", "version.h")) as f:
        for name, value in re.findall(r'#define (KQ_\w+) "([^"]*)"', f.read()):
            values[name] = value
    return values


@scenario("window_as_it_opens", "start")
def window_as_it_opens(case):
    # A log left from an earlier run must not survive the start.
    with open(os.path.join(case.folder, "KQVorlink.log"), "wb") as f:
        f.write(b"2020/01/01 00:00:00  left over\r\n")
    case.start_program()
    values = version_values()
    expected_caption = "%s Rev. %s" % (values["KQ_ORIGINAL_FILENAME"], values["KQ_FILE_VERSION_TEXT"])
    case.equal(case.d("caption")["caption"], expected_caption, "caption")
    controls = case.state()
    case.equal(
        [controls[i]["text"] for i in (1026, 1027, 1028, 1029)],
        ["192", "168", "010", "002"],
        "address fields",
    )
    case.equal(controls[1002]["text"], "KQ-A2  Update", "heading without a parameter file")
    case.equal(controls[1020]["text"], "KQ-A2", "model label")
    case.equal(controls[1003]["text"].split()[0:2], ["Caution", ":"], "caution text")
    for control in (1001, 1019, 1026, 1027, 1028, 1029):
        case.check(
            controls[control]["visible"] and controls[control]["enabled"],
            "control %d is not visible and enabled" % control,
        )
    # An empty folder: no step number, no "DATA", no default-setting label.
    case.equal(case.visible_labels(), [], "visible step labels of an empty folder")
    case.check(not controls[1004]["visible"], '"DATA" is shown for an empty folder')
    case.equal(controls[1015]["text"], "", "status line")
    case.equal(controls[1047]["text"], "", "version line")
    progress = case.d("progress")
    case.equal(progress["pos"], 0, "progress bar position")
    focus = case.d("focus")
    case.equal(
        (focus.get("id"), focus.get("sel_start"), focus.get("sel_end")),
        (1026, 0, 3),
        "focus in the first field with its text selected",
    )
    log = case.log_data()
    case.check(log is not None and b"left over" not in log, "the old activity log survived the start")
    case.check(log is not None and b"WinSock initialize" in log, "the start is not in the log")


@scenario("typing_advances_between_fields", "start")
def typing_advances_between_fields(case):
    case.start_program()
    # Three characters move the focus on, to the next field with its whole text selected.
    expected = [(1027, 0, 3), (1028, 0, 3), (1029, 0, 3)]
    for text, (field, start, end) in zip(("127", "000", "000"), expected):
        focus = case.d("type-focused " + text)
        case.equal(
            (focus.get("id"), focus.get("sel_start"), focus.get("sel_end")),
            (field, start, end),
            "focus after typing %s" % text,
        )
    # Fewer than three characters keep the focus where it is.
    case.equal(case.d("type-focused 2").get("id"), 1029, "focus after one character")
    case.equal(case.d("type-focused 00").get("id"), 1001, "focus after the fourth field is full")
    controls = case.state()
    case.equal(
        [controls[i]["text"] for i in (1026, 1027, 1028, 1029)],
        ["127", "000", "000", "200"],
        "typed address",
    )


@scenario("second_copy_is_refused", "start")
def second_copy_is_refused(case):
    first = case.start_program()
    second = case.start_program(expect_window=False)
    case.expect_box("KQVorlink.EXE is already started.", "warning", "second copy", owned=False)
    case.check(second.wait_end(15), "the second copy did not end after its notice")
    case.check(first.running(), "the first copy ended as well")
    alive = case.d("alive")
    case.equal((alive["copies"], alive["main"]), (1, True), "copies running after the notice")
    # Once the first copy has ended, a new copy starts normally.
    case.click(1019)
    case.expect_end(first, "Exit")
    third = case.start_program()
    case.check(third.running(), "a new copy does not start after the first one ended")
    case.expect_no_box(500, "a new copy after the first ended")


@scenario("about_box", "start")
def about_box(case):
    case.start_program()
    values = version_values()
    # The translation list points at the table without "Comments": the first line begins with
    # a blank.
    version = " Version %s" % values["KQ_FILE_VERSION_TEXT"]
    copyright = "%s %s\n" % (values["KQ_LEGAL_COPYRIGHT"], values["KQ_COMPANY_NAME"])
    # OK, Escape and the caption's close button all end the box; every opening reads anew.
    for how in ("ok", "escape", "close"):
        about = case.d("about " + how)
        if not case.check(about["ok"], "About box (%s) did not open: %s" % (how, about)):
            continue
        case.equal(about["version"], version, "About version line (%s)" % how)
        case.equal(about["copyright"].replace("\r\n", "\n"), copyright, "About copyright line (%s)" % how)
        case.check(about["ended"], "About box did not end with %s" % how)
    case.check(case.d("alive")["main"], "the main dialog went away with the About box")


@scenario("step_labels_follow_the_folder", "start")
def step_labels_follow_the_folder(case):
    make_sample_set.make_set(case.folder, only={"cpu", "resize", "web1", "logo"})
    # Files that look like components but are not: another bitmap, an empty shading file, a
    # 5M FPGA candidate with a four-letter extension.
    for name, data in (("other.bmp", b"x" * 40), ("shade.sdt", b""), ("FPGA.binx", b"y" * 40)):
        with open(os.path.join(case.folder, name), "wb") as f:
            f.write(data)
    case.start_program()
    case.equal(case.visible_labels(), [1005, 1007, 1009, 1021], "visible step labels")
    case.check(case.state()[1004]["visible"], '"DATA" is hidden although components are present')


@scenario("parameter_file", "start")
def parameter_file(case):
    make_sample_set.make_set(
        case.folder, only={"logo"}, prm=make_sample_set.prm_text("KQ-B2 Field Update", b2=True, default=True)
    )
    case.start_program()
    controls = case.state()
    case.equal(controls[1002]["text"], "KQ-B2 Field Update", "heading from the parameter file")
    case.equal(controls[1020]["text"], "KQ-B2", "model label from the parameter file")
    case.equal(case.visible_labels(), [1016, 1021], "visible step labels")
    case.equal(controls[1016]["text"], "Default data Setting", "default-setting label")


@scenario("ending_without_a_run", "start")
def ending_without_a_run(case):
    # Exit, the caption's close button, Alt+F4, Enter and Escape all end an idle program, and
    # without the restart notice, which belongs to a successful run only.
    for how in ("exit", "close-button", "alt-f4", "enter", "escape"):
        program = case.start_program()
        if how == "exit":
            case.click(1019)
        elif how == "close-button":
            point = case.d("close-point")
            if case.check(point["ok"], "no close button on the caption"):
                subprocess.run(
                    ["xdotool", "mousemove", str(point["x"]), str(point["y"]), "click", "1"],
                    env=case.env.wine.env,
                    timeout=20,
                )
        elif how == "alt-f4":
            case.d("syscmd-close")
        else:
            case.d("key-" + how)
        case.expect_no_box(400, "ending by %s" % how)
        case.expect_end(program, "ending by %s" % how)
