"""The window's layout under Wine: every visible static text of the main dialog and of the About
box fits its control, measured with the control's own font, so that no text is cut."""

import json
import os
import re

from e2e_case import scenario
from scenarios_start import ROOT, make_sample_set

# The controls the program gives its bold font, and that font: "tahoma", height 16, weight 700.
BOLD_CONTROLS = (1020, 1002, 1003, 1047, 1015, 1004)
BOLD_FONT = ("tahoma", 16, 700)


def template_font_and_size(dialog_id_name):
    """The FONT statement and the size of a dialog in the resource script."""
    with open(os.path.join(ROOT, "app", "res", "KQVorlink.rc")) as f:
        script = f.read()
    block = re.search(
        r"^%s DIALOGEX 0, 0, (\d+), (\d+)$.*?^FONT (\d+), \"([^\"]+)\"$" % dialog_id_name,
        script, re.M | re.S)
    return block.group(4), int(block.group(3)), (int(block.group(1)), int(block.group(2)))


def check_fit(case, which, dialog_id_name, bold, what):
    face, points, size = template_font_and_size(dialog_id_name)
    answer = case.d("text-fit %s %s %d %s %d %d %s" % (
        which, face, points, BOLD_FONT[0], BOLD_FONT[1], BOLD_FONT[2],
        ",".join(map(str, bold)) or "-"))
    case.require(answer["ok"], "%s: cannot measure the texts: %s" % (what, answer))
    with open(os.path.join(case.work, "text-fit.txt"), "a") as f:
        f.write("%s: %s\n" % (what, json.dumps(answer)))
    # The driver's template font gives the dialog units the dialog was laid out with: the
    # dialog's client area is its template size in those units (rounded as MulDiv rounds).
    cx, cy = answer["base"]
    case.equal(answer["client"], [(size[0] * cx * 2 + 4) // 8, (size[1] * cy * 2 + 8) // 16],
               "%s: client size in pixels of the template size (base units %d, %d)" % (what, cx, cy))
    texts = answer["texts"]
    case.check(texts, "%s: no text measured" % what)
    for t in texts:
        case.check(t["fits"], "%s: %r (control %d) needs %s pixels, has %s (lines %s wide)" % (
            what, t["text"], t["id"], t["need"], t["box"], t["lines"]))
        # The ink on the screen ends where the measured text ends: the program drew it with
        # the font it was measured with (another font's text would end elsewhere). Short
        # texts are left out, their ink is too small to tell fonts apart.
        right = t["ink"][1] + 1
        if t["fits"] and len(t["text"].strip()) >= 4:
            case.check(max(t["lines"]) - 4 <= right <= max(t["lines"]),
                       "%s: the ink of control %d ends at %d, its text measured %s wide" % (
                           what, t["id"], right, t["lines"]))
    return texts


@scenario("texts_fit_their_controls", "start")
def texts_fit_their_controls(case):
    # Every component present shows every step number; then the parameter file's other model
    # and the default-setting label.
    make_sample_set.make_set(case.folder)
    program = case.start_program()
    measured = check_fit(case, "main", "IDD_UPDATER_DIALOG", BOLD_CONTROLS, "main dialog")
    case.check({1020, 1003, 1002, 1024, 1005, 1022} <= {t["id"] for t in measured},
               "main dialog: not every text was measured")
    check_fit(case, "about", "IDD_ABOUTBOX", (), "About box")
    case.click(1019)
    case.expect_end(program, "Exit")
    with open(os.path.join(case.folder, "KQVorlink.prm"), "wb") as f:
        f.write(make_sample_set.prm_text("KQ-B2  Update", b2=True, default=True))
    case.start_program()
    measured = check_fit(case, "main", "IDD_UPDATER_DIALOG", BOLD_CONTROLS, "main dialog, KQ-B2")
    case.check({1016, 1020} <= {t["id"] for t in measured}, "KQ-B2: not every text was measured")
