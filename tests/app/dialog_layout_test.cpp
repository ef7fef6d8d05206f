// The two dialog templates as the windows are meant to look, typed here rather than read from
// app/res: every control's identifier, kind, text, rectangle (dialog units), visibility and the
// styles that change what a person sees, and each dialog's caption, size and font. The resource
// script and the headless data are held equal by dialog_templates_test.cpp; these rows hold
// both to the intended layout.

#include "platform/dialog_template.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::ControlKind;

// The styles that change what a person sees.
constexpr unsigned kPlain = 0;
constexpr unsigned kCentred = 1;       // SS_CENTER / ES_CENTER
constexpr unsigned kDefaultButton = 2; // BS_DEFPUSHBUTTON
constexpr unsigned kNoPrefix = 4;      // SS_NOPREFIX
constexpr unsigned kBorder = 8;        // WS_BORDER (progress bar)
constexpr unsigned kBitmap = 16;       // SS_BITMAP
constexpr unsigned kIcon = 32;         // SS_ICON

// A text the description leaves open (the copyright line, replaced when the box opens).
const std::string kAnyText = "*";

struct LayoutRow {
    int dialog;
    int id; // 0: the dialog itself (text: caption; rectangle: 0, 0, width, height)
    ControlKind kind;
    std::string text;
    int x, y, width, height;
    bool visible;
    unsigned style;
    bool widened = false; // at least the described size
};

std::ostream& operator<<(std::ostream& out, const LayoutRow& r) {
    return out << "dialog " << r.dialog << " control " << r.id;
}

unsigned StyleOf(const std::string& words) {
    const auto has = [&](const char* w) { return words.find(w) != std::string::npos; };
    return (has("SS_CENTER") || has("ES_CENTER") ? kCentred : 0) |
           (has("BS_DEFPUSHBUTTON") ? kDefaultButton : 0) | (has("SS_NOPREFIX") ? kNoPrefix : 0) |
           (has("WS_BORDER") ? kBorder : 0) | (has("SS_BITMAP") ? kBitmap : 0) |
           (has("SS_ICON") ? kIcon : 0);
}

class DialogLayout : public ::testing::TestWithParam<LayoutRow> {};

TEST_P(DialogLayout, TemplateHoldsTheDescribedControl) {
    const LayoutRow& r = GetParam();
    const platform::DialogTemplate* dialog = platform::LookUpDialogTemplate(r.dialog);
    ASSERT_NE(dialog, nullptr);
    if (r.id == 0) {
        EXPECT_EQ(dialog->caption, r.text);
        EXPECT_EQ(dialog->width, r.width);
        EXPECT_EQ(dialog->height, r.height);
        EXPECT_EQ(dialog->fontFace, "Tahoma");
        EXPECT_EQ(dialog->fontPoints, 9);
        return;
    }
    // Pictures have no identifier; each dialog has one, told apart by its style.
    const platform::ControlTemplate* found = nullptr;
    for (const auto& c : dialog->controls) {
        if (c.id == r.id && (r.id != -1 || StyleOf(c.styles) == r.style))
            found = &c;
    }
    ASSERT_NE(found, nullptr);
    const platform::ControlTemplate& c = *found;
    EXPECT_EQ(int(c.kind), int(r.kind));
    if (c.kind != ControlKind::Picture && r.text != kAnyText) {
        EXPECT_EQ(c.text, r.text);
    }
    EXPECT_EQ(c.x, r.x);
    EXPECT_EQ(c.y, r.y);
    if (r.widened) {
        EXPECT_GE(c.width, r.width);
        EXPECT_GE(c.height, r.height);
    } else {
        EXPECT_EQ(c.width, r.width);
        EXPECT_EQ(c.height, r.height);
    }
    EXPECT_EQ(c.visible, r.visible);
    EXPECT_EQ(StyleOf(c.styles), r.style) << c.styles;
}

constexpr auto S = ControlKind::Static;
constexpr auto E = ControlKind::Edit;
constexpr auto B = ControlKind::Button;
const std::string kCaution = "Caution :  Don't turn off the power or\n" + std::string(27, ' ') +
                             "pull out the cable while executing !!";

INSTANTIATE_TEST_SUITE_P(
    MainDialog, DialogLayout,
    ::testing::Values(
        LayoutRow{102, 0, S, "KQVorlink", 0, 0, 269, 177, true, kPlain},
        LayoutRow{102, 1026, E, "", 61, 73, 20, 12, true, kCentred},
        LayoutRow{102, 1027, E, "", 93, 73, 20, 12, true, kCentred},
        LayoutRow{102, 1028, E, "", 125, 73, 20, 12, true, kCentred},
        LayoutRow{102, 1029, E, "", 157, 73, 20, 12, true, kCentred},
        LayoutRow{102, 1001, B, "Update", 7, 105, 33, 15, true, kPlain},
        LayoutRow{102, 1030, S, ".", 83, 75, 8, 8, true, kCentred},
        LayoutRow{102, 1002, S, "KQ-A2 Vorlink", 30, 15, 205, 10, true, kPlain},
        // widened to fit its text; see the window test
        LayoutRow{102, 1003, S, kCaution, 22, 39, 201, 25, true, kPlain, true},
        LayoutRow{102, 1004, S, "DATA", 7, 129, 24, 10, true, kPlain},
        LayoutRow{102, 1005, S, "1", 33, 129, 8, 8, true, kCentred},
        LayoutRow{102, 1006, S, "2", 41, 129, 8, 8, true, kCentred},
        LayoutRow{102, 1007, S, "3", 49, 129, 8, 8, true, kCentred},
        LayoutRow{102, 1008, S, "4", 57, 129, 8, 8, true, kCentred},
        LayoutRow{102, 1009, S, "5", 65, 129, 8, 8, true, kCentred},
        LayoutRow{102, 1010, S, "6", 73, 129, 8, 8, true, kCentred},
        LayoutRow{102, 1011, S, "7", 81, 129, 8, 8, true, kCentred},
        LayoutRow{102, 1012, S, "8", 89, 129, 8, 8, true, kCentred},
        LayoutRow{102, 1013, S, "9", 97, 129, 8, 8, true, kCentred},
        LayoutRow{102, 1014, S, "10", 105, 129, 9, 8, true, kCentred},
        LayoutRow{102, 1015, S, "", 147, 129, 115, 10, true, kPlain},
        LayoutRow{102, -1, ControlKind::Picture, "", 5, 10, 18, 18, true, kBitmap},
        LayoutRow{102, 1016, S, "Default data Setting", 7, 143, 225, 10, false, kPlain},
        LayoutRow{102, 1018, ControlKind::Progress, "", 7, 159, 255, 10, true, kBorder},
        LayoutRow{102, 1019, B, "Exit", 241, 104, 21, 15, true, kPlain},
        // widened to fit its text; see the window test
        LayoutRow{102, 1020, S, "KQ-A2", 7, 62, 21, 8, true, kPlain, true},
        LayoutRow{102, 1021, S, "11", 114, 129, 9, 8, true, kCentred},
        LayoutRow{102, 1024, S, "IP Address:", 7, 73, 48, 12, true, kPlain},
        LayoutRow{102, 1032, S, ".", 146, 75, 8, 8, true, kCentred},
        LayoutRow{102, 1031, S, ".", 115, 75, 8, 8, true, kCentred},
        LayoutRow{102, 1047, S, "", 7, 90, 255, 12, true, kPlain},
        LayoutRow{102, 1022, S, "12", 124, 129, 9, 8, true, kCentred}));

INSTANTIATE_TEST_SUITE_P(
    AboutBox, DialogLayout,
    ::testing::Values(LayoutRow{100, 0, S, "About KQVorlink", 0, 0, 235, 55, true, kPlain},
                      LayoutRow{100, -1, ControlKind::Picture, "", 10, 15, 20, 20, true, kIcon},
                      LayoutRow{100, 1000, S, "KQVorlink Version 1.0", 40, 10, 145, 8, true,
                                kNoPrefix},
                      LayoutRow{100, 1001, S, kAnyText, 40, 30, 163, 8, true, kPlain},
                      LayoutRow{100, 1, B, "OK", 190, 7, 38, 14, true, kDefaultButton}));

// The template order is the intended tab order.
TEST(DialogLayoutOrder, ControlsComeInTheDescribedOrder) {
    const std::vector<int> main = {1026, 1027, 1028, 1029, 1001, 1030, 1002, 1003, 1004, 1005, 1006,
                                   1007, 1008, 1009, 1010, 1011, 1012, 1013, 1014, 1015, -1,   1016,
                                   1018, 1019, 1020, 1021, 1024, 1032, 1031, 1047, 1022};
    const std::vector<int> about = {-1, 1000, 1001, 1};
    for (const auto& [id, order] : {std::pair{102, main}, std::pair{100, about}}) {
        std::vector<int> ids;
        for (const auto& c : platform::LookUpDialogTemplate(id)->controls)
            ids.push_back(c.id);
        EXPECT_EQ(ids, order) << "dialog " << id;
    }
}

} // namespace
